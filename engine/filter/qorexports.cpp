// The exported functions of the engine library (include/qorengine.h). Each
// one clears the error record's code, runs its body, and turns whatever the
// body throws into the record through ConvertCurrentException; the objects
// the body built are released before that.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "filter/scaerror.h"
#include "filter/scafilter.h"
#include "filter/scamisc.h"
#include "filter/scamodule.h"
#include "foundation/inifile.h"
#include "foundation/regularfile.h"
#include "foundation/throwcode.h"
#include "include/qorengine.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"
#include "mime/sharedtmpfile.h"

using namespace telsor;

namespace {

// Contents larger than this go to temporary files.
const ULONG kMaxContentInMemory = 4 * 1024 * 1024;

// The record of a call that succeeds: code and detail 0, an empty text.
void ClearErrorCode(SQorError* error) {
  if (error == nullptr) return;
  error->code = 0;
  error->detail = 0;
  memset(error->message, 0, sizeof error->message);
}

// The update number of one classifier file; unknown when anything fails.
uint32_t ClassifierUpdateNumber(const char* dataDir, ULONG category) noexcept {
  try {
    return CScaModuleImpl::GetClassifierFileUpdateNumber(dataDir, category);
  } catch (...) {
    ConvertCurrentException(nullptr);
    return 0xFFFFFFFFu;
  }
}

void FillVersion(const char* dataDir, SQorVersionInfo* version) {
  memset(version, 0, sizeof *version);
  version->major = 1;
  version->minor = 1;
  version->build = 3;
  version->spamUpdate = ClassifierUpdateNumber(dataDir, 0);
  uint32_t* categories[5] = {&version->hoaxUpdate, &version->adultUpdate, &version->moneyUpdate,
                             &version->goodsUpdate, &version->healthUpdate};
  for (int i = 0; i < 5; ++i) *categories[i] = ClassifierUpdateNumber(dataDir, Misc::kCategoryIds[i]);
  version->scriptUpdate = 0xFFFFFFFFu;
  CIniFile ini;
  char errorText[1024];
  TSTRING path = CScaModuleImpl::BuildConnectionString(dataDir);
  // Only a regular file is read: a FIFO there would hold the call for ever.
  const int fd = OpenRegularFile(path.c_str());
  if (fd < 0) return;
  close(fd);
  if (ini.Load(path.c_str(), errorText, sizeof errorText) != 0) return;
  TSTRING value;
  if (ini.GetValue("UpdateNumber", value, "Information"))
    version->scriptUpdate = static_cast<uint32_t>(strtoll(value.c_str(), nullptr, 10));
}

// A parser session on the instance's temporary directory that keeps up to
// 4 MiB of a content in memory.
CSharedObjPtr<CRfc822Parser> OpenParser(CScaModule& module) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  ThrowIfFailed(parser->OpenSession(module.GetTempDirectory()));
  parser->PutMaxContentSizeInMemory(kMaxContentInMemory);
  return parser;
}

}  // namespace

extern "C" {

QORENGINE_EXPORT uint32_t QORENGINE_CALL QorEngineSpamTestMemory(uintptr_t, uintptr_t, const char* dataDir,
                                                                  const char* tempDir, void* host,
                                                                  const void* message, uint32_t length,
                                                                  int32_t threshold, uintptr_t reserved,
                                                                  int32_t* score, SQorCategoryScore* categories,
                                                                  SQorError* error) {
  ClearErrorCode(error);
  try {
    // Bytes promised but not given are no empty message (whatever the
    // instance would say).
    if (message == nullptr && length != 0)
      return CreateError(QOR_ERROR_MESSAGE, static_cast<DWORD>(E_POINTER), "Unable assign message content.", error);
    CScaModule module(dataDir, tempDir, host);
    CSharedObjPtr<CRfc822Parser> parser = OpenParser(module);
    CRfc822Message parsed;
    HRESULT hr = parsed.PutContentAsString(static_cast<const unsigned char*>(message), length);
    if (hr != S_OK)
      return CreateError(QOR_ERROR_MESSAGE, static_cast<DWORD>(hr), "Unable assign message content.", error);
    hr = parser->ParseMessage(PARSE_SCOPE_FULL, parsed);
    if (hr != S_OK) return CreateError(QOR_ERROR_MESSAGE, static_cast<DWORD>(hr), "Unable to parse message.", error);
    SpamTestMessage(module, parsed, threshold, reserved, score, categories);
    return 0;
  } catch (...) {
    return ConvertCurrentException(error);
  }
}

QORENGINE_EXPORT uint32_t QORENGINE_CALL QorEngineSpamTestFile(uintptr_t, uintptr_t, const char* dataDir,
                                                                const char* tempDir, void* host, const char* path,
                                                                int32_t threshold, uintptr_t reserved, int32_t* score,
                                                                SQorCategoryScore* categories, SQorError* error) {
  ClearErrorCode(error);
  try {
    // No path names no message: never an empty one scored. Nor is anything
    // but a regular file read (a FIFO would hold the call for ever): the
    // system's error is the detail (21 a directory, 22 anything else).
    if (path == nullptr) return CreateError(QOR_ERROR_MESSAGE, ERROR_FILE_NOT_FOUND, "Unable to parse message.", error);
    const int fd = OpenRegularFile(path);
    if (fd < 0) return CreateError(QOR_ERROR_MESSAGE, static_cast<DWORD>(errno), "Unable to parse message.", error);
    close(fd);
    CScaModule module(dataDir, tempDir, host);
    CSharedObjPtr<CRfc822Parser> parser = OpenParser(module);
    CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path, FALSE);
    CRfc822Message parsed;
    HRESULT hr = parser->ParseMessage(file, PARSE_SCOPE_FULL, parsed);
    if (hr != S_OK) return CreateError(QOR_ERROR_MESSAGE, static_cast<DWORD>(hr), "Unable to parse message.", error);
    SpamTestMessage(module, parsed, threshold, reserved, score, categories);
    return 0;
  } catch (...) {
    return ConvertCurrentException(error);
  }
}

QORENGINE_EXPORT uint32_t QORENGINE_CALL QorEngineGetVersion(uintptr_t, uintptr_t, const char* dataDir, uintptr_t,
                                                              uintptr_t, SQorVersionInfo* version, SQorError* error) {
  ClearErrorCode(error);
  try {
    if (version != nullptr) FillVersion(dataDir, version);
    return 0;
  } catch (...) {
    return ConvertCurrentException(error);
  }
}

QORENGINE_EXPORT void QORENGINE_CALL QorEngineUninit(uintptr_t) {
  try {
    CScaModuleImpl::DestroyInstance();
  } catch (...) {
    ConvertCurrentException(nullptr);
  }
}

}  // extern "C"
