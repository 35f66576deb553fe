// The exported functions of the engine library (include/qorengine.h). Each
// one clears the error record's code, runs its body, and turns whatever the
// body throws into the record through ConvertCurrentException; the objects
// the body built are released before that.
#include <stdlib.h>
#include <string.h>

#include "filter/scaerror.h"
#include "filter/scamisc.h"
#include "filter/scamodule.h"
#include "foundation/inifile.h"
#include "include/qorengine.h"

using namespace telsor;

namespace {

void ClearErrorCode(SQorError* error) {
  if (error != nullptr) error->code = 0;
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
  if (ini.Load(path.c_str(), errorText, sizeof errorText) != 0) return;
  TSTRING value;
  if (ini.GetValue("UpdateNumber", value, "Information"))
    version->scriptUpdate = static_cast<uint32_t>(strtoll(value.c_str(), nullptr, 10));
}

}  // namespace

extern "C" {

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
