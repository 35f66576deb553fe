// The filter-script store's records, its two caches and the abstract data
// source: record equality and copies, case-blind list keys, second-chance
// eviction at 128 lists, clearing by key and wholesale, the defaults of every
// unsupported operation and the error description.
#include <gtest/gtest.h>

#include <string>

#include "filter/scriptinfo.h"
#include "filter/sievedatasource.h"

using namespace telsor;

namespace {

std::string Str(const TSTRING& s) { return std::string(s.c_str(), s.GetLength()); }

// A store with nothing but the base class, its caches open to the test.
class CBareStore : public CSieveDataSource {
 public:
  CBareStore() : CSieveDataSource(128, 2048) {}
  CCacheLSI& Lists() { return m_cacheLSI; }
  CCacheCompiledSS& Compiled() { return m_cacheCompiled; }
};

CSharedObjPtr<CCacheItemLSI> ListOf(const char* id) {
  CSharedObjPtr<CCacheItemLSI> item = new CCacheItemLSI;
  CSharedObjPtr<CScriptInfo> info = new CScriptInfo;
  info->m_strID = id;
  item->m_list.AddTail(info);
  return item;
}

TEST(ScriptInfo, DefaultsAndCopies) {
  CSharedObjPtr<CScriptInfo> a = new CScriptInfo;
  EXPECT_EQ(a->m_dwRequiredVersion, 2u);
  EXPECT_EQ(a->m_bEnabled, 0);
  EXPECT_EQ(a->m_dwCategory, 0u);
  a->m_strID = "AB1";
  a->m_strName = "Hoax letters";
  a->m_dwCategory = 33;
  a->m_stLastUpdate.wYear = 2004;

  CSharedObjPtr<CScriptInfo> b = new CScriptInfo(*a);
  EXPECT_TRUE(*a == *b);
  // Its own count: dropping the original leaves the copy alive and apart.
  a->m_strName = "changed";
  EXPECT_EQ(Str(b->m_strName), "Hoax letters");
  a = nullptr;
  EXPECT_EQ(Str(b->m_strID), "AB1");

  CScriptInfo c;
  c = *b;
  EXPECT_TRUE(c == *b);
}

TEST(ScriptInfo, EqualityRules) {
  struct Case {
    const char* what;
    void (*change)(CScriptInfo&);
    bool equal;
  } cases[] = {
      {"identifier case", [](CScriptInfo& r) { r.m_strID = "ab1"; }, true},
      {"sixth string case", [](CScriptInfo& r) { r.m_strSixth = "SIX"; }, true},
      {"enabled 1 against 5", [](CScriptInfo& r) { r.m_bEnabled = 5; }, true},
      {"name case", [](CScriptInfo& r) { r.m_strName = "NAME"; }, false},
      {"description", [](CScriptInfo& r) { r.m_strDescription = "other"; }, false},
      {"contributor", [](CScriptInfo& r) { r.m_strContributor = "X"; }, false},
      {"fifth string case", [](CScriptInfo& r) { r.m_strFifth = "FIFTH"; }, false},
      {"update number", [](CScriptInfo& r) { r.m_dwUpdateNumber = 8; }, false},
      {"vendor", [](CScriptInfo& r) { r.m_dwVendor = 2; }, false},
      {"flags", [](CScriptInfo& r) { r.m_dwFlags = 1; }, false},
      {"category", [](CScriptInfo& r) { r.m_dwCategory = 34; }, false},
      {"required version", [](CScriptInfo& r) { r.m_dwRequiredVersion = 3; }, false},
      {"enabled against disabled", [](CScriptInfo& r) { r.m_bEnabled = 0; }, false},
      {"last update second", [](CScriptInfo& r) { r.m_stLastUpdate.wSecond = 1; }, false},
  };
  for (const Case& c : cases) {
    CScriptInfo base;
    base.m_strID = "AB1";
    base.m_strName = "name";
    base.m_strFifth = "fifth";
    base.m_strSixth = "six";
    base.m_dwUpdateNumber = 7;
    base.m_bEnabled = 1;
    CScriptInfo other(base);
    c.change(other);
    EXPECT_EQ(base == other, c.equal) << c.what;
    EXPECT_EQ(base != other, !c.equal) << c.what;
  }
}

TEST(ScriptCaches, ListKeysIgnoreCase) {
  CBareStore store;
  store.Lists().InsertIntoCache(CKeyLSI("ALICE", "example"), ListOf("AB1"));
  CSharedObjPtr<CCacheItemLSI> hit = store.Lists().GetObject(CKeyLSI("alice", "EXAMPLE"));
  ASSERT_TRUE(hit != nullptr);
  EXPECT_EQ(Str(hit->m_list.GetAt(hit->m_list.GetHeadPosition())->m_strID), "AB1");
  EXPECT_TRUE(store.Lists().GetObject(CKeyLSI("alice", "example.org")) == nullptr);
  EXPECT_TRUE(store.Lists().GetObject(CKeyLSI(nullptr, nullptr)) == nullptr);
  // A null user and domain are the empty pair.
  store.Lists().InsertIntoCache(CKeyLSI(nullptr, nullptr), ListOf("E"));
  EXPECT_TRUE(store.Lists().GetObject(CKeyLSI("", "")) != nullptr);
}

TEST(ScriptCaches, SecondChanceAtTheHundredTwentyNinthList) {
  CBareStore store;
  EXPECT_TRUE(store.Lists().GetObject(CKeyLSI("u", "d")) == nullptr);
  EXPECT_EQ(store.Lists().GetSlotCount(), 0u);  // a miss allocates nothing
  auto key = [](int i) { return CKeyLSI(("user" + std::to_string(i)).c_str(), "example"); };
  for (int i = 0; i < 128; ++i) store.Lists().InsertIntoCache(key(i), ListOf("X"));
  EXPECT_EQ(store.Lists().GetSlotCount(), 128u);
  // The 129th list: every slot had its mark, the hand clears them all and
  // comes back to the first one.
  store.Lists().InsertIntoCache(key(128), ListOf("X"));
  EXPECT_TRUE(store.Lists().GetObject(key(0)) == nullptr);
  // A list fetched since the hand's last pass survives the next one.
  EXPECT_TRUE(store.Lists().GetObject(key(1)) != nullptr);
  store.Lists().InsertIntoCache(key(129), ListOf("X"));
  EXPECT_TRUE(store.Lists().GetObject(key(1)) != nullptr);
  EXPECT_TRUE(store.Lists().GetObject(key(2)) == nullptr);
  for (int i = 3; i < 130; ++i) EXPECT_TRUE(store.Lists().GetObject(key(i)) != nullptr) << i;
}

TEST(ScriptCaches, ClearingByKeyAndWholesale) {
  CBareStore store;
  EXPECT_EQ(store.ClearCacheAllScriptInfo(), S_OK);  // never used
  EXPECT_EQ(store.ClearCacheScriptContent(nullptr), S_OK);

  CSharedObjPtr<CCacheItemCompiledSS> compiled = new CCacheItemCompiledSS;
  ASSERT_EQ(compiled->m_script.ParseString("keep;", nullptr), S_OK);
  store.Compiled().InsertIntoCache(TSTRING("AB1"), compiled);
  store.Lists().InsertIntoCache(CKeyLSI("", ""), ListOf("AB1"));

  // The compiled cache is keyed with regard to case.
  EXPECT_TRUE(store.Compiled().GetObject(TSTRING("ab1")) == nullptr);
  EXPECT_EQ(store.ClearCacheScriptContent("ab1"), S_OK);
  EXPECT_TRUE(store.Compiled().GetObject(TSTRING("AB1")) != nullptr);

  // Clearing the lists leaves the compiled scripts.
  EXPECT_EQ(store.ClearCacheAllScriptInfo(), S_OK);
  EXPECT_TRUE(store.Lists().GetObject(CKeyLSI("", "")) == nullptr);
  EXPECT_EQ(store.Lists().GetSlotCount(), 128u);
  EXPECT_TRUE(store.Compiled().GetObject(TSTRING("AB1")) != nullptr);

  EXPECT_EQ(store.ClearCacheScriptContent("AB1"), S_OK);
  EXPECT_TRUE(store.Compiled().GetObject(TSTRING("AB1")) == nullptr);
  // The caller's reference outlives the cache entry.
  TSTRING printed;
  ASSERT_EQ(compiled->m_script.PrintToString(printed), S_OK);
  EXPECT_EQ(Str(printed).rfind("keep;", 0), 0u);
}

TEST(ScriptCaches, ReplacedItemLivesWhileHeld) {
  CBareStore store;
  store.Lists().InsertIntoCache(CKeyLSI("a", "b"), ListOf("OLD"));
  CSharedObjPtr<CCacheItemLSI> held = store.Lists().GetObject(CKeyLSI("a", "b"));
  store.Lists().InsertIntoCache(CKeyLSI("A", "B"), ListOf("NEW"));
  EXPECT_EQ(Str(held->m_list.GetAt(held->m_list.GetHeadPosition())->m_strID), "OLD");
  CSharedObjPtr<CCacheItemLSI> now = store.Lists().GetObject(CKeyLSI("a", "b"));
  EXPECT_EQ(Str(now->m_list.GetAt(now->m_list.GetHeadPosition())->m_strID), "NEW");
}

TEST(SieveDataSource, EveryUnsupportedOperationReturns50) {
  CBareStore store;
  CListSieveScriptInfo list;
  CSharedObjPtr<CScriptInfo> kept = new CScriptInfo;
  kept->m_strID = "KEEP";
  list.AddTail(kept);
  CListScriptStatsInfo stats;
  CListArchiveScriptInfo archive;
  CListArchiveKirsaDefInfo definitions;
  CSharedObjPtr<CArchiveScaEngineInfo> engine;
  CSharedObjPtr<CSharedTmpFile> file;
  CScriptInfo info;
  info.m_strName = "unchanged";
  CArchiveScriptInfo archived;
  TSTRING text("unchanged");
  CSieveScript script;
  SYSTEMTIME when = {};
  const HRESULT results[] = {
      store.GetScriptInfo("AB1", info),
      store.GetListScriptInfo(list, "u", "d"),
      store.GetListScriptInfoUserDomain(list),
      store.GetAllScriptInfo(list),
      store.GetAllScriptStatsInfo(stats, 0),
      store.AddScriptStatsInfo(stats),
      store.GetArchiveScriptInfo(archive, &when),
      store.GetArchiveInfo(archive, definitions, engine, &when),
      store.GetArchiveInfo2(archive, definitions, engine, "1", &when),
      store.GetArchiveLatestScriptInfo(archive),
      store.GetArchiveLatestInfo(archive, definitions, engine),
      store.RestoreScriptInfo(1),
      store.GetArchiveScriptContent(1, text),
      store.AutoUpdate(archived, text, 0),
      store.GetArchiveKirsaDefContent("x", 1, 2, file),
      store.UpdateKirsaDefFile(1, "/tmp/x"),
      store.GetArchiveScaEngineContent("x", 1, 2, 3, file),
      store.UpdateScaEngineFile(1, "/tmp/x"),
      store.GetCompiledScript("AB1", script),
      store.GetScriptContent("AB1", text),
      store.PutScriptContent("AB1", "keep;", 5),
      store.UpdateScripInfo(info),
      store.EnableScript("KEEP", 1),
      store.NewScript(info, "keep;", "u", "d"),
      store.LinkScriptToDomainUser("AB1", "u", "d"),
      store.UnlinkScriptToDomainUser("AB1", "u", "d"),
      store.DeleteScript("AB1"),
      store.MoveScript("AB1", 0, "u", "d"),
      store.CleanupArchive(1),
      store.DeleteArchiveRecord(1),
      store.CleanupCatalog(0),
  };
  for (size_t i = 0; i < sizeof results / sizeof results[0]; ++i) EXPECT_EQ(results[i], 50) << i;
  EXPECT_EQ(list.GetCount(), 1);
  EXPECT_EQ(kept->m_bEnabled, 0);
  EXPECT_EQ(Str(info.m_strName), "unchanged");
  EXPECT_EQ(Str(text), "unchanged");
  EXPECT_EQ(stats.GetCount(), 0);
  EXPECT_EQ(archive.GetCount(), 0);
  EXPECT_TRUE(engine == nullptr);
  EXPECT_TRUE(file == nullptr);
  EXPECT_EQ(when.wYear, 0);
}

TEST(SieveDataSource, ErrorDescriptionIsACopy) {
  CBareStore store;
  EXPECT_EQ(Str(store.GetErrDescription()), "");
  store.PutErrDescription("first failure");
  TSTRING seen = store.GetErrDescription();
  store.PutErrDescription("second failure");
  EXPECT_EQ(Str(seen), "first failure");
  EXPECT_EQ(Str(store.GetErrDescription()), "second failure");
  store.PutErrDescription(nullptr);
  EXPECT_EQ(Str(store.GetErrDescription()), "");
}

}  // namespace
