// Eight threads fetch lists and compiled scripts from one XML store (and
// from stores of their own) while the caches are cleared under them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/tempdir.h"
#include "filter/sievexml.h"

using namespace telsor;

namespace {

TEST(SieveXMLThreads, ListsAndCompiledScripts) {
  telsor_test::TempDir dir;
  std::string catalog = "<SieveScripts>";
  for (int i = 0; i < 6; ++i) {
    const std::string text = "if header :contains \"X\" \"k" + std::to_string(i) + "\" { discard; }";
    catalog += "<Script ID=\"s" + std::to_string(i) + "\"><![CDATA[" +
               CSieveXML::EncodeScriptFile(TSTRING(text.c_str())).c_str() + "]]></Script>";
  }
  catalog += "</SieveScripts>";
  telsor_test::WriteFileBytes(dir / "SieveCatalog.xml", catalog);
  CSieveXML shared;
  ASSERT_EQ(shared.Initialize(dir.path().c_str(), nullptr), 0u);

  std::atomic<int> wrong(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      CSieveXML own;
      if (own.Initialize(dir.path().c_str(), nullptr) != 0) ++wrong;
      for (int i = 0; i < 30; ++i) {
        CSieveXML& store = i % 3 == 0 ? own : shared;
        CListSieveScriptInfo list;
        if (store.GetListScriptInfo(list, ("u" + std::to_string(i % 4)).c_str(), nullptr) != S_OK ||
            list.GetCount() != 6)
          ++wrong;
        const std::string id = "S" + std::to_string((i + t) % 6);
        CSieveScript script;
        if (store.GetCompiledScript(id.c_str(), script) != S_OK) ++wrong;
        TSTRING text;
        if (script.PrintToString(text) != S_OK) ++wrong;
        if (std::string(text.c_str()).find("\"k" + id.substr(1) + "\"") == std::string::npos) ++wrong;
        if (i % 10 == 0) store.ClearCacheAllScriptInfo();
        if (i % 7 == 0) store.ClearCacheScriptContent(id.c_str());
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
