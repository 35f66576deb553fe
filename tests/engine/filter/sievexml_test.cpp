// The XML catalogue store over a private data directory: initialisation,
// catalogue fixtures against the records (or the code and description) they
// give, script files byte for byte, the in-progress marker, the caches as the
// store uses them, and identifiers that would leave the directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/cputime.h"
#include "common/tempdir.h"
#include "filter/filterresults.h"
#include "filter/sievexml.h"

using namespace telsor;
using telsor_test::ReadFileBytes;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

std::string Str(const TSTRING& s) { return std::string(s.c_str(), s.GetLength()); }

// Script texts in their file form (each byte XORed with its position, Base64),
// worked out independently of the engine.
const char kHoaxScript[] = "if header :contains \"Subject\" \"hoax\" { discard; }";
const char kHoaxFile[] = "aWcia2FkYmJ6KTBoY2N6bnl/YTM2RmN1cnx5bz49PHdPQFoBBF4GQ0FaSUpeSRUPTQ==";
const char kBrokenFile[] = "ZnNtYWpsZWZ8bDE=";  // "frobnicate;"

const std::string kCatalog =
    "<?xml version=\"1.0\"?>\n"
    "<SieveScripts USN=\"5\">\n"
    " <Script ID=\"ab1\"><![CDATA[" + std::string(kHoaxFile) + "]]>\n"
    "  <NAME>SABvAGEAeAAg\n AGwAZQB0AHQAZQByAHMA</NAME>\n"
    "  <Description>QwBhAHQAYwBoAGUAcwAgAGgAbwBhAHgAZQBzAA==</Description>\n"
    "  <CONTRIBUTOR>QQBuAG4A</CONTRIBUTOR>\n"
    "  <VENDOR>7</VENDOR><USN> 12</USN><FLAGS>-1</FLAGS><CATEGORY>33</CATEGORY>\n"
    "  <LUT>12:05</LUT><LUD>2004-7-9</LUD><!-- a comment --><EXTRA>1</EXTRA>\n"
    " </Script>\n"
    " <SCRIPT2 ID=\"cd2\" REQVER=\"11\"><![CDATA[" + std::string(kHoaxFile) + "]]></SCRIPT2>\n"
    " <Script ID=\"ef3\" REQVER=\"10\"><![CDATA[" + std::string(kBrokenFile) + "]]><NAME><![CDATA[x]]></NAME></Script>\n"
    " <Script ID=\"../evil\"><![CDATA[" + std::string(kHoaxFile) + "]]></Script>\n"
    " <Script><![CDATA[" + std::string(kHoaxFile) + "]]></Script>\n"
    "</SieveScripts>\n";

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    ASSERT_EQ(mkdir((dir / "data").c_str(), 0755), 0);
    WriteFileBytes(dir / "data/SieveCatalog.xml", kCatalog);
    ASSERT_EQ(store.Initialize((dir / "data").c_str(), nullptr), 0u);
  }
  std::string File(const char* name) { return dir / (std::string("data/") + name); }

  TempDir dir;
  CSieveXML store;
};

TEST(SieveXMLInit, Directories) {
  TempDir dir;
  CSieveXML store;
  EXPECT_EQ(store.Initialize((" \t" + dir.path() + " ").c_str(), nullptr), 0u);
  EXPECT_EQ(Str(store.GetCatalogDir()), dir.path() + "/");
  EXPECT_EQ(Str(store.GetFileDir()), dir.path() + "/");
  EXPECT_EQ(store.Initialize("", nullptr), 0u);
  EXPECT_EQ(Str(store.GetCatalogDir()), "/");
  EXPECT_EQ(Str(store.GetFileDir()), "/");
  EXPECT_EQ(store.Initialize(dir.path().c_str(), (dir.path() + "/").c_str()), 0u);
  EXPECT_EQ(Str(store.GetFileDir()), dir.path() + "/");
  EXPECT_EQ(store.Initialize((dir / "missing").c_str(), nullptr), 3u);
  EXPECT_EQ(store.Initialize(dir.path().c_str(), (dir / "missing").c_str()), 3u);
  EXPECT_EQ(Str(CSieveXML::GetScriptFileName(TSTRING("/d"), "ab1")), "/d/TAB1.dat");
  EXPECT_EQ(Str(CSieveXML::GetScriptFileName(TSTRING("/d/"), "ab1")), "/d/TAB1.dat");
  EXPECT_EQ(Str(CSieveXML::GetScriptFileName(TSTRING(""), "x")), "/TX.dat");
}

TEST(SieveXMLFiles, ScriptFileForm) {
  EXPECT_EQ(Str(CSieveXML::EncodeScriptFile(TSTRING("abc"))), "YWNh");
  TSTRING text;
  ASSERT_EQ(CSieveXML::DecodeScriptFile(TSTRING("YWNh"), text), S_OK);
  EXPECT_EQ(Str(text), "abc");
  // Line breaks in the Base64 text and bytes past 255 positions.
  std::string longText(600, 'q');
  TSTRING file = CSieveXML::EncodeScriptFile(TSTRING(longText));
  std::string broken = Str(file);
  broken.insert(10, "\r\n");
  ASSERT_EQ(CSieveXML::DecodeScriptFile(TSTRING(broken), text), S_OK);
  EXPECT_EQ(Str(text), longText);
  EXPECT_EQ(Str(CSieveXML::DecodeCatalogText("SABvAGEAeAAg\n AGwAZQB0AHQAZQByAHMA")), "Hoax letters");
  EXPECT_EQ(Str(CSieveXML::DecodeCatalogText("QQBuAG4A==")), "Ann");
}

TEST_F(StoreTest, CatalogRecords) {
  CListSieveScriptInfo list;
  ASSERT_EQ(store.GetListScriptInfo(list, nullptr, nullptr), S_OK);
  ASSERT_EQ(list.GetCount(), 2);
  void* pos = list.GetHeadPosition();
  const CScriptInfo& a = *list.GetNext(pos);
  EXPECT_EQ(Str(a.m_strID), "AB1");
  EXPECT_EQ(Str(a.m_strName), "Hoax letters");
  EXPECT_EQ(Str(a.m_strDescription), "Catches hoaxes");
  EXPECT_EQ(Str(a.m_strContributor), "Ann");
  EXPECT_EQ(a.m_dwVendor, 7u);
  EXPECT_EQ(a.m_dwUpdateNumber, 12u);
  EXPECT_EQ(a.m_dwFlags, 0xFFFFFFFFu);
  EXPECT_EQ(a.m_dwCategory, 33u);
  EXPECT_EQ(a.m_dwRequiredVersion, 2u);
  EXPECT_EQ(a.m_bEnabled, 0);
  EXPECT_EQ(a.m_stLastUpdate.wHour, 12);
  EXPECT_EQ(a.m_stLastUpdate.wMinute, 5);
  EXPECT_EQ(a.m_stLastUpdate.wSecond, 0);
  EXPECT_EQ(a.m_stLastUpdate.wYear, 2004);
  EXPECT_EQ(a.m_stLastUpdate.wMonth, 7);
  EXPECT_EQ(a.m_stLastUpdate.wDay, 9);
  const CScriptInfo& e = *list.GetNext(pos);
  EXPECT_EQ(Str(e.m_strID), "EF3");
  EXPECT_EQ(e.m_dwRequiredVersion, 10u);
  EXPECT_EQ(Str(e.m_strName), "");  // a CDATA first child is no text

  // Script files: written for every record with a usable identifier, also
  // the one above the engine's version; with mode 0664.
  EXPECT_EQ(ReadFileBytes(File("TAB1.dat")), kHoaxFile);
  EXPECT_EQ(ReadFileBytes(File("TCD2.dat")), kHoaxFile);
  EXPECT_EQ(ReadFileBytes(File("T.dat")), kHoaxFile);
  struct stat st;
  ASSERT_EQ(stat(File("TAB1.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  // An identifier with "/" writes nothing anywhere.
  EXPECT_NE(access((dir / "evil.dat").c_str(), F_OK), 0);
  EXPECT_NE(access((dir / "data/T..").c_str(), F_OK), 0);

  CScriptInfo found;
  EXPECT_EQ(store.GetScriptInfo("ab1", found), S_OK);
  EXPECT_TRUE(found == a);
  EXPECT_EQ(store.GetScriptInfo("cd2", found), E_SIEVE_SCRIPT_NOT_FOUND);
  EXPECT_EQ(store.GetScriptInfo("../evil", found), E_SIEVE_SCRIPT_NOT_FOUND);
  TSTRING text;
  EXPECT_EQ(store.GetScriptContent("../evil", text), E_SIEVE_SCRIPT_NOT_FOUND);
  EXPECT_EQ(store.GetScriptContent("ab1", text), S_OK);
  EXPECT_EQ(Str(text), kHoaxScript);
}

TEST_F(StoreTest, ListsAreCachedPerUserAndDomain) {
  CListSieveScriptInfo first, again, other;
  ASSERT_EQ(store.GetListScriptInfo(first, "Alice", "example"), S_OK);
  // The catalogue changes on disk: a cached key does not see it.
  WriteFileBytes(File("SieveCatalog.xml"), "<SieveScripts><Script ID=\"zz\"/></SieveScripts>");
  ASSERT_EQ(store.GetListScriptInfo(again, "ALICE", "EXAMPLE"), S_OK);
  EXPECT_EQ(again.GetCount(), 2);
  // Shared records, not copies.
  EXPECT_EQ(static_cast<CScriptInfo*>(first.GetAt(first.GetHeadPosition())),
            static_cast<CScriptInfo*>(again.GetAt(again.GetHeadPosition())));
  ASSERT_EQ(store.GetListScriptInfo(other, "alice", "example.org"), S_OK);
  EXPECT_EQ(other.GetCount(), 1);
  // Cleared, the next fetch reads the catalogue again.
  EXPECT_EQ(store.ClearCacheAllScriptInfo(), S_OK);
  ASSERT_EQ(store.GetAllScriptInfo(again), S_OK);
  EXPECT_EQ(Str(again.GetAt(again.GetHeadPosition())->m_strID), "ZZ");
}

TEST_F(StoreTest, CatalogFailures) {
  struct Case {
    const char* what;
    std::string catalog;  // empty: no file
    HRESULT result;
    std::string description;
  } cases[] = {
      {"no catalogue", "", E_SIEVE_OPEN_FAILED, ""},
      {"malformed XML", "<SieveScripts><Script ID=\"a\"></SieveScripts>", E_SIEVE_EXCEPTION,
       "Error during parsing: '" + File("SieveCatalog.xml") + "', line 1, column 32: expected end of tag 'Script'"},
      {"script file cannot be written", kCatalog, E_SIEVE_EXCEPTION,
       "Unexpected exception during parsing: '" + File("SieveCatalog.xml") + "'"},
  };
  for (const Case& c : cases) {
    CSieveXML fresh;
    ASSERT_EQ(fresh.Initialize((dir / "data").c_str(), nullptr), 0u);
    unlink(File("SieveCatalog.xml").c_str());
    if (!c.catalog.empty()) WriteFileBytes(File("SieveCatalog.xml"), c.catalog);
    if (c.catalog == kCatalog) {
      unlink(File("TAB1.dat").c_str());
      ASSERT_EQ(mkdir(File("TAB1.dat").c_str(), 0755), 0);  // a directory where the file goes
    }
    CListSieveScriptInfo list;
    EXPECT_EQ(fresh.GetListScriptInfo(list, nullptr, nullptr), c.result) << c.what;
    EXPECT_EQ(list.GetCount(), 0) << c.what;
    EXPECT_EQ(Str(fresh.GetErrDescription()), c.description) << c.what;
  }
}

TEST_F(StoreTest, CompiledScriptsAreCachedWithTheirResult) {
  CListSieveScriptInfo list;
  ASSERT_EQ(store.GetListScriptInfo(list, nullptr, nullptr), S_OK);
  CSieveScript script;
  ASSERT_EQ(store.GetCompiledScript("ab1", script), S_OK);
  TSTRING printed;
  ASSERT_EQ(script.PrintToString(printed), S_OK);
  EXPECT_NE(Str(printed).find("discard;"), std::string::npos);
  const HRESULT broken = store.GetCompiledScript("EF3", script);
  EXPECT_TRUE(FAILED(broken));

  // Gone from disk, both still come from the cache, the failure too.
  unlink(File("TAB1.dat").c_str());
  unlink(File("TEF3.dat").c_str());
  EXPECT_EQ(store.GetCompiledScript("AB1", script), S_OK);
  EXPECT_EQ(store.GetCompiledScript("ef3", script), broken);
  // Clearing needs the identifier as the cache keys it: upper case.
  EXPECT_EQ(store.ClearCacheScriptContent("ab1"), S_OK);
  EXPECT_EQ(store.GetCompiledScript("ab1", script), S_OK);
  EXPECT_EQ(store.ClearCacheScriptContent("AB1"), S_OK);
  EXPECT_EQ(store.GetCompiledScript("ab1", script), E_SIEVE_SCRIPT_NOT_FOUND);
  // A failed read is not cached.
  WriteFileBytes(File("TAB1.dat"), kHoaxFile);
  EXPECT_EQ(store.GetCompiledScript("ab1", script), S_OK);
}

TEST_F(StoreTest, ReadersWaitForTheInProgressMarker) {
  WriteFileBytes(File("TAB1.dat"), "YWNh");
  ASSERT_EQ(chmod(File("TAB1.dat").c_str(), 0665), 0);
  std::thread writer([&] {
    usleep(300 * 1000);
    chmod(File("TAB1.dat").c_str(), 0664);
  });
  TSTRING text;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(store.GetScriptContent("ab1", text), S_OK);
  writer.join();
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
  EXPECT_EQ(Str(text), "abc");
  EXPECT_EQ(store.GetScriptContent("nosuch", text), E_SIEVE_SCRIPT_NOT_FOUND);
}

}  // namespace
