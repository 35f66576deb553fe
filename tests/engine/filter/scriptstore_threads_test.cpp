// The store's caches and error description shared by eight threads: every
// cached list and compiled script handed out is the one of its key.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "filter/sievedatasource.h"

using namespace telsor;

namespace {

class CBareStore : public CSieveDataSource {
 public:
  CBareStore() : CSieveDataSource(16, 16) {}
  CCacheLSI& Lists() { return m_cacheLSI; }
  CCacheCompiledSS& Compiled() { return m_cacheCompiled; }
};

TEST(ScriptStoreThreads, CachesAndDescriptionShared) {
  CBareStore store;
  std::atomic<int> wrong(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 400; ++i) {
        const std::string id = "S" + std::to_string((i * 7 + t) % 40);
        CSharedObjPtr<CCacheItemLSI> list = store.Lists().GetObject(CKeyLSI(id.c_str(), "d"));
        if (list == nullptr) {
          CSharedObjPtr<CCacheItemLSI> made = new CCacheItemLSI;
          CSharedObjPtr<CScriptInfo> info = new CScriptInfo;
          info->m_strID = id.c_str();
          made->m_list.AddTail(info);
          store.Lists().InsertIntoCache(CKeyLSI(id.c_str(), "D"), made);
        } else if (id != list->m_list.GetAt(list->m_list.GetHeadPosition())->m_strID.c_str()) {
          ++wrong;
        }
        CSharedObjPtr<CCacheItemCompiledSS> compiled = store.Compiled().GetObject(TSTRING(id.c_str()));
        if (compiled == nullptr) {
          CSharedObjPtr<CCacheItemCompiledSS> made = new CCacheItemCompiledSS;
          made->m_dwResult = static_cast<DWORD>(i);
          if (made->m_script.ParseString(("if header :contains \"X\" \"" + id + "\" { discard; }").c_str(), nullptr) != S_OK)
            ++wrong;
          store.Compiled().InsertIntoCache(TSTRING(id.c_str()), made);
        } else {
          TSTRING text;
          if (compiled->m_script.PrintToString(text) != S_OK) ++wrong;
          // The printer writes the key as the comparator sees it: lower case.
          std::string key = id;
          key[0] = 's';
          if (std::string(text.c_str()).find("\"" + key + "\"") == std::string::npos) ++wrong;
        }
        if (i % 50 == 0) store.ClearCacheAllScriptInfo();
        if (i % 70 == 0) store.ClearCacheScriptContent(id.c_str());
        store.PutErrDescription(("failure " + id).c_str());
        TSTRING why = store.GetErrDescription();
        if (std::string(why.c_str()).rfind("failure S", 0) != 0) ++wrong;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
