// The engine library as a host sees it: loaded with dlopen (the very file
// this test program is linked with, so in-process helpers such as
// CScaModule reach the same instance) and its four exported functions
// looked up by name; plus the data directories of the front-end tests.
#ifndef TESTS_ENGINE_FILTER_ENGINEHOST_H
#define TESTS_ENGINE_FILTER_ENGINEHOST_H

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/tempdir.h"
#include "filter/scaerror.h"
#include "filter/sievexml.h"
#include "include/qorengine.h"

namespace enginehost {

class CEngineLibrary {
 public:
  CEngineLibrary() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&telsor::CreateError), &info) != 0 && info.dli_fname != nullptr) {
      path = info.dli_fname;
      handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_LOCAL);
    }
    if (handle == nullptr) return;
    testMemory = reinterpret_cast<PFN_QorEngineSpamTestMemory>(dlsym(handle, "QorEngineSpamTestMemory"));
    testFile = reinterpret_cast<PFN_QorEngineSpamTestFile>(dlsym(handle, "QorEngineSpamTestFile"));
    version = reinterpret_cast<PFN_QorEngineGetVersion>(dlsym(handle, "QorEngineGetVersion"));
    uninit = reinterpret_cast<PFN_QorEngineUninit>(dlsym(handle, "QorEngineUninit"));
  }
  ~CEngineLibrary() {
    if (handle != nullptr) dlclose(handle);
  }
  CEngineLibrary(const CEngineLibrary&) = delete;
  CEngineLibrary& operator=(const CEngineLibrary&) = delete;
  bool Ready() const { return testMemory && testFile && version && uninit; }

  std::string path;
  void* handle = nullptr;
  PFN_QorEngineSpamTestMemory testMemory = nullptr;
  PFN_QorEngineSpamTestFile testFile = nullptr;
  PFN_QorEngineGetVersion version = nullptr;
  PFN_QorEngineUninit uninit = nullptr;
};

// What one spam test gave.
struct Outcome {
  uint32_t result = 0;
  int32_t score = 0x5A5A5A5A;
  SQorCategoryScore categories = {0x5A5A5A5A, 0x5A5A5A5A, 0x5A5A5A5A, 0x5A5A5A5A, 0x5A5A5A5A};
  SQorError error = {0xFFFF, 0xFFFF, {0}};
  std::vector<int32_t> Categories() const {
    return {categories.hoax, categories.adult, categories.money, categories.goods, categories.health};
  }
};

inline Outcome TestMemory(const CEngineLibrary& lib, const std::string& data, const std::string& temp,
                          const std::string& message, int32_t threshold) {
  Outcome o;
  o.result = lib.testMemory(0, 0, data.c_str(), temp.c_str(), nullptr, message.data(),
                            static_cast<uint32_t>(message.size()), threshold, 0, &o.score, &o.categories, &o.error);
  return o;
}

inline Outcome TestFile(const CEngineLibrary& lib, const std::string& data, const std::string& temp, const char* path,
                        int32_t threshold) {
  Outcome o;
  o.result = lib.testFile(0, 0, data.c_str(), temp.c_str(), nullptr, path, threshold, 0, &o.score, &o.categories,
                          &o.error);
  return o;
}

// One catalogue record: identifier, REQVER (empty: none), CATEGORY, text.
struct Script {
  std::string id;
  std::string reqver;
  unsigned category;
  std::string text;
};

// "SieveCatalog.xml" holding the scripts (in order), their texts in CDATA.
inline std::string Catalogue(const std::vector<Script>& scripts) {
  std::string xml = "<?xml version=\"1.0\"?>\n<SieveScripts USN=\"1\">\n";
  for (const Script& s : scripts) {
    telsor::TSTRING file = telsor::CSieveXML::EncodeScriptFile(telsor::TSTRING(s.text.c_str()));
    xml += " <Script ID=\"" + s.id + "\"" + (s.reqver.empty() ? "" : " REQVER=\"" + s.reqver + "\"") +
           "><![CDATA[" + std::string(file.c_str(), file.GetLength()) + "]]><CATEGORY>" +
           std::to_string(s.category) + "</CATEGORY></Script>\n";
  }
  return xml + "</SieveScripts>\n";
}

// A message without anything the feature extractor flags.
const char kPlainMessage[] =
    "From: Ann <ann@example.org>\r\n"
    "To: bob@example.org\r\n"
    "Subject: lunch\r\n"
    "\r\n"
    "See you at noon.\r\n";

}  // namespace enginehost

#endif  // TESTS_ENGINE_FILTER_ENGINEHOST_H
