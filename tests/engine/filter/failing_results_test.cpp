// Every loader and reader that meets a system error or a damaged record
// returns a failing result (FAILED() holds), made by the foundation's one
// mapping from system error numbers; none returns a bare positive number.
#include <gtest/gtest.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "common/teststream.h"
#include "common/tempdir.h"
#include "filter/msgfilter.h"
#include "filter/sieverecord.h"
#include "foundation/errorroad.h"
#include "foundation/throwcode.h"
#include "mime/message.h"
#include "mime/partdescriptor.h"
#include "mime/rfc822parser.h"
#include "records.h"
#include "search/seeksubstr.h"

using namespace telsor;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

TEST(FailingResults, SystemErrorsMapIntoTheFailingHalf) {
  const struct {
    DWORD error;
    HRESULT want;
  } rows[] = {
      {EIO, static_cast<HRESULT>(0x80070005u)},
      {ERROR_FILE_NOT_FOUND, static_cast<HRESULT>(0x80070002u)},
      {ERROR_INVALID_DATA_RECORD, static_cast<HRESULT>(0x80070570u)},
      {0xFFFF, static_cast<HRESULT>(0x8007FFFFu)},
      {0, E_FAIL},        // nothing recorded is still a failure
      {0x10000, E_FAIL},  // no system error number
      {static_cast<DWORD>(E_OUTOFMEMORY), E_OUTOFMEMORY},  // already a failing result
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.error);
    EXPECT_EQ(ResultFromSystemError(row.error), row.want);
    EXPECT_TRUE(FAILED(ResultFromSystemError(row.error)));
  }
  // A bare system error number thrown inside the engine reads as its result.
  EXPECT_EQ(ResultOf([] { ThrowCode(EISDIR); }), ResultFromSystemError(EISDIR));
  errno = 0;
  EXPECT_EQ(ResultFromErrno(), ResultFromSystemError(EIO));
}

CSharedObjPtr<CRfc822Parser> Parser(ULONG limit) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(nullptr), S_OK);
  parser->PutMaxContentSizeInMemory(limit);
  return parser;
}

HRESULT ParseFile(const std::string& path, ULONG limit) {
  CRfc822Message message;
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile(path.c_str(), FALSE);
  return Parser(limit)->ParseMessage(file, PARSE_SCOPE_FULL, message);
}

HRESULT ScanFile(const std::string& path, ULONG limit) {
  CRfc822PartDescriptor root(nullptr);
  return Parser(limit)->GetMIMEStructOfMsg(path.c_str(), root);
}

void CutToHalf(const char* path) {
  struct stat st;
  ASSERT_EQ(0, stat(path, &st));
  EXPECT_EQ(0, truncate(path, st.st_size / 2));
}

// call's result with path holding bytes anew and cut to half of them
// between its size check and its read.
HRESULT WithFileCut(const std::string& path, const std::string& bytes, const std::function<HRESULT()>& call) {
  WriteFileBytes(path, bytes);
  CRfc822Parser::s_pfnFileSized = CutToHalf;
  const HRESULT hr = call();
  CRfc822Parser::s_pfnFileSized = nullptr;
  return hr;
}

// A compiled script whose substring matcher record was damaged.
std::string ScriptWithSubstring() {
  CSieveScript script;
  EXPECT_EQ(script.ParseString("if header :contains \"Subject\" \"offer\" { discard; }", nullptr), S_OK);
  return rec::Stored(script);
}

TEST(FailingResults, EveryLoaderFailsWithAFailingResult) {
  TempDir dir;
  const std::string message = "Subject: x\r\n\r\n" + std::string(8192, 'a') + "\r\n";
  const std::string good = dir / "good.eml";
  WriteFileBytes(good, message);
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
  const std::string missing = dir / "missing.eml";

  struct Row {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT want;  // S_OK: any failing result
  };
  const Row rows[] = {
      {"parse of a missing file", [&] { return ParseFile(missing, 1 << 20); },
       ResultFromSystemError(ERROR_FILE_NOT_FOUND)},
      {"parse of a folder", [&] { return ParseFile(dir / "folder", 1 << 20); }, ResultFromSystemError(EISDIR)},
      {"parse of a file cut after its size was taken, in memory",
       [&] { return WithFileCut(good, message, [&] { return ParseFile(good, 1 << 20); }); },
       ResultFromSystemError(EIO)},
      {"parse of a file cut after its size was taken, from disk",
       [&] { return WithFileCut(good, message, [&] { return ParseFile(good, 0); }); }, ResultFromSystemError(EIO)},
      {"structure scan of a missing file", [&] { return ScanFile(missing, 1 << 20); },
       ResultFromSystemError(ERROR_FILE_NOT_FOUND)},
      {"structure scan of a folder", [&] { return ScanFile(dir / "folder", 1 << 20); }, ResultFromSystemError(EISDIR)},
      {"structure scan of a file cut after its size was taken",
       [&] { return WithFileCut(good, message, [&] { return ScanFile(good, 1 << 20); }); },
       ResultFromSystemError(EIO)},
      {"stream shorter than its size",
       [&] {
         CTestStream stream(message);
         CRfc822Message m;
         return Parser(1 << 20)->ParseMessage(&stream, static_cast<ULONG>(message.size() + 1), PARSE_SCOPE_FULL, m);
       },
       ResultFromSystemError(EIO)},
      {"substring record with a zero shift",
       [&] {
         CSeekSubstr s;
         EXPECT_EQ(s.Compile("offer", 1, 0), S_OK);
         CTestStream out;
         EXPECT_EQ(s.Serialize(&out, 1), S_OK);
         std::string bytes = out.str();
         bytes[bytes.size() - 1] = 0;  // the last good-suffix shift
         bytes[bytes.size() - 2] = 0;
         CTestStream in(bytes);
         CSeekSubstr loaded;
         return loaded.Serialize(&in, 0);
       },
       ResultFromSystemError(ERROR_INVALID_DATA_RECORD)},
      {"message filter of a missing envelope",
       [&] {
         WriteFileBytes(good, message);
         return CMsgFilter().SetMessage(good.c_str(), missing.c_str());
       },
       ResultFromSystemError(ERROR_FILE_NOT_FOUND)},
      {"message filter of a folder as envelope",
       [&] {
         WriteFileBytes(good, message);
         return CMsgFilter().SetMessage(good.c_str(), (dir / "folder").c_str());
       },
       ResultFromSystemError(EISDIR)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const HRESULT hr = row.call();
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    if (row.want != S_OK) {
      EXPECT_EQ(hr, row.want) << std::hex << hr;
    }
  }
}

// Every two-byte zeroing of a compiled script's record loads or fails with
// a failing result, never with a bare number; the damaged substring
// matcher's own code is among them.
TEST(FailingResults, ADamagedCompiledScriptNeverLoadsWithAPositiveNumber) {
  const std::string stored = ScriptWithSubstring();
  const std::string root = rec::RootOf(stored);
  bool matcherRefused = false;
  for (size_t at = 0; at + 1 < root.size(); ++at) {
    std::string damaged = root;
    damaged[at] = 0;
    damaged[at + 1] = 0;
    CSieveScript script;
    const HRESULT hr = rec::Load(rec::Container(damaged), script);
    EXPECT_TRUE(hr == S_OK || FAILED(hr)) << at << " " << std::hex << hr;
    matcherRefused = matcherRefused || hr == ResultFromSystemError(ERROR_INVALID_DATA_RECORD);
  }
  EXPECT_TRUE(matcherRefused);
}

}  // namespace
