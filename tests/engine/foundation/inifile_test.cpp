// Name/value storage and its INI file form: parsing, syntax errors, the
// saved layout, round trips and the checked save.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/tempdir.h"
#include "foundation/inifile.h"

namespace {

using namespace telsor;

// Every pair as "section|name|value", in enumeration order.
std::vector<std::string> Dump(CNameValueStorage& store) {
  struct Walk {
    CNameValueStorage* store;
    std::string section;
    std::vector<std::string> out;
  } walk{&store, "", {}};
  store.EnumSectionNames(
      [](const char* section, void* context) -> DWORD {
        Walk* w = static_cast<Walk*>(context);
        w->section = section;
        return w->store->EnumSection(
            section,
            [](const char* name, const char* value, void* ctx) -> DWORD {
              Walk* w2 = static_cast<Walk*>(ctx);
              w2->out.push_back(w2->section + "|" + name + "|" + value);
              return 0;
            },
            w);
      },
      &walk);
  return walk.out;
}

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }
  std::string Write(const std::string& name, const std::string& content) {
    std::string path = tmp_ / name;
    telsor_test::WriteFileBytes(path, content);
    return path;
  }
  static std::string Read(const std::string& path) { return telsor_test::ReadFileBytes(path); }

  telsor_test::TempDir tmp_;
  const std::string dir_ = tmp_.path();
};

TEST_F(IniTest, SyntaxErrorsNameTheZeroBasedLine) {
  struct Case {
    std::string content;
    UINT bufferSize;
    const char* error;  // null: the buffer is not touched
    std::vector<std::string> kept;  // pairs read before the bad line
  } cases[] = {
      {"a=1\nb=2\nno equals sign\nc=3\n", 256, "[2] syntax error : '=' missing",
       {"|a|1", "|b|2"}},
      {"[Main\n", 256, "[0] syntax error : ']' ", {}},
      {"; note\n[s]\n = value\n", 256, "[2] syntax error : name expected", {}},
      {"x = \"\n", 256, "[0] syntax error : terminated '\"' is missing", {}},
      {"x = \"open\n", 256, "[0] syntax error : terminated '\"' is missing", {}},
      {"[w]\r\nplain = 1\r\nq = \"v\"\r\n", 256, "[2] syntax error : terminated '\"' is missing",
       {"w|plain|1\r"}},
      {"\n\n\n\nbad\n", 256, "[4] syntax error : '=' missing", {}},
      {"a=1\nb=2\nbad\n", 8, "[2] syn", {"|a|1", "|b|2"}},
      {"bad\n", 0, nullptr, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    std::string path = Write("bad.ini", c.content);
    CIniFile ini;
    char error[256];
    memset(error, 'Z', sizeof error);
    EXPECT_EQ(ini.Load(path.c_str(), error, c.bufferSize), static_cast<DWORD>(-1));
    if (c.error != nullptr) {
      EXPECT_STREQ(error, c.error);
    } else {
      EXPECT_EQ(error[0], 'Z');
    }
    EXPECT_EQ(Dump(ini), c.kept);
  }
}

TEST_F(IniTest, LinesGiveSectionsNamesAndValues) {
  struct Case {
    std::string content;
    std::vector<std::string> pairs;
  } cases[] = {
      {"  name  =  two  words  \n", {"|name|two  words"}},
      {"q = \"  in \"quoted\"  \"\n", {"|q|  in \"quoted\"  "}},
      {"e =\nf = \"\"\n", {"|e|", "|f|"}},
      {"[ Main ]\nPort=25\nport = 2525\n", {"Main|Port|2525"}},
      {"k=top\n[ s ] trailing text\nk=in s\n[]\nk2=back\n", {"|k|top", "|k2|back", "s|k|in s"}},
      {"[a]b]\nk=v", {"a]b|k|v"}},
      {"; comment\n\n\t; indented\n   \n", {}},
      {"k=" + std::string(1500, 'x') + "\nnext=1\n", {"|k|" + std::string(1500, 'x'), "|next|1"}},
      {"k=" + std::string(509, 'y') + "\n", {"|k|" + std::string(509, 'y')}},
      {"a=1\r\n", {"|a|1\r"}},
      {"[B]\nz=1\n[a]\ny=2\n[C]\nx=3\n", {"a|y|2", "B|z|1", "C|x|3"}},
      {"  [last]  \n  k = no newline  ", {"last|k|no newline"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.substr(0, 40));
    std::string path = Write("ok.ini", c.content);
    CIniFile ini;
    char error[64] = "untouched";
    EXPECT_EQ(ini.Load(path.c_str(), error, sizeof error), 0u);
    EXPECT_STREQ(error, "");
    EXPECT_EQ(Dump(ini), c.pairs);
    EXPECT_STREQ(ini.GetDataSrc().c_str(), path.c_str());
  }
}

TEST_F(IniTest, LoadReportsFilesThatCannotBeRead) {
  std::string file = Write("plain", "a=1\n");
  struct Case {
    std::string path;
    DWORD code;
  } cases[] = {
      {dir_ + "/missing.ini", ENOENT},
      {"", ENOENT},
      {file + "/below-a-file", ENOTDIR},
      {dir_, EISDIR},  // opens, but cannot be read
  };
  for (const Case& c : cases) {
    CIniFile ini;
    EXPECT_EQ(ini.Load(c.path.c_str(), nullptr, 0), c.code) << c.path;
    EXPECT_EQ(ini.IsEmpty(), 1);
  }
  CIniFile ini;
  EXPECT_EQ(ini.Load(nullptr, nullptr, 0), static_cast<DWORD>(ENOENT));
}

TEST_F(IniTest, SaveLayoutAndRoundTrip) {
  CIniFile ini;
  ini.Insert("b", "2", nullptr);
  ini.Insert("Zed", "with \"quotes\" inside", "Sec");
  ini.Insert("a", "  padded  ", "Sec");
  ini.Insert("empty", "", "alpha");
  std::string path = dir_ + "/out.ini";
  char error[32] = "untouched";
  ASSERT_EQ(ini.Save(path.c_str(), error, sizeof error), 0u);
  EXPECT_STREQ(error, "");
  std::string stars = ";" + std::string(34, '*') + "\n";
  std::string expected = "\n" + stars + "[  ]\n" + stars + "\n" + "b = \"2\"\n" +  //
                         "\n" + stars + "[ alpha ]\n" + stars + "\n" + "empty = \"\"\n" +
                         "\n" + stars + "[ Sec ]\n" + stars + "\n" + "a = \"  padded  \"\n" +
                         "Zed = \"with \"quotes\" inside\"\n";
  EXPECT_EQ(Read(path), expected);
  EXPECT_STREQ(ini.GetDataSrc().c_str(), "");  // Save does not change it

  CIniFile back;
  ASSERT_EQ(back.Load(path.c_str(), error, sizeof error), 0u) << error;
  EXPECT_EQ(Dump(back), Dump(ini));
  TSTRING v;
  EXPECT_EQ(back.GetValue("B", v, nullptr), 1);
  EXPECT_STREQ(v.c_str(), "2");
}

TEST_F(IniTest, SaveReportsFailedWritesAndClose) {
  CIniFile small, large;
  small.Insert("k", "v", "s");
  for (int i = 0; i < 500; ++i)
    large.Insert(("name" + std::to_string(i)).c_str(), std::string(100, 'v').c_str(), "s");
  std::string file = Write("plain", "");
  struct Case {
    CIniFile* ini;
    std::string path;
    DWORD code;
  } cases[] = {
      {&small, "/dev/full", ENOSPC},  // fails when closing
      {&large, "/dev/full", ENOSPC},  // fails while writing
      {&small, dir_ + "/no-such-dir/x.ini", ENOENT},
      {&small, file + "/x.ini", ENOTDIR},
      {&small, "", ENOENT},
  };
  for (const Case& c : cases) {
    char error[16] = "untouched";
    EXPECT_EQ(c.ini->Save(c.path.c_str(), error, sizeof error), c.code) << c.path;
    EXPECT_STREQ(error, "");
  }
}

TEST_F(IniTest, LastUpdateIsTheModificationTime) {
  std::string path = Write("t.ini", "a=1\n");
  struct timeval times[2] = {{1000000000, 0}, {1200000000, 0}};  // access, modification
  ASSERT_EQ(utimes(path.c_str(), times), 0);
  CIniFile ini;
  LONG t = -1;
  EXPECT_EQ(ini.GetTimeLastUpdateDataSrc(t), static_cast<DWORD>(ENOENT));  // no source yet
  ASSERT_EQ(ini.Load(path.c_str(), nullptr, 0), 0u);
  EXPECT_EQ(ini.GetTimeLastUpdateDataSrc(t), 0u);
  EXPECT_EQ(t, 1200000000);
  std::filesystem::remove(path);
  EXPECT_EQ(ini.GetTimeLastUpdateDataSrc(t), static_cast<DWORD>(ENOENT));

  CNameValueStorage base;
  t = -1;
  EXPECT_EQ(base.Load(path.c_str(), nullptr, 0), 0u);
  EXPECT_EQ(base.GetTimeLastUpdateDataSrc(t), 0u);
  EXPECT_EQ(t, 0);
  EXPECT_EQ(base.Save(path.c_str(), nullptr, 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(NameValueStorage, InsertRemoveAndRename) {
  CNameValueStorage s;
  EXPECT_EQ(s.IsEmpty(), 1);
  EXPECT_EQ(s.Insert("Port", "25", "Main"), 1);
  EXPECT_EQ(s.Insert("PORT", "2525", "main"), 1);
  EXPECT_EQ(s.Insert("Host", "mx", "Main"), 1);
  EXPECT_EQ(s.Insert("k", nullptr, nullptr), 1);
  EXPECT_EQ(s.Insert(nullptr, "v", "Main"), 0);
  EXPECT_EQ(Dump(s), (std::vector<std::string>{"|k|", "Main|Host|mx", "Main|Port|2525"}));
  TSTRING v("old");
  EXPECT_EQ(s.GetValue("port", v, "MAIN"), 1);
  EXPECT_STREQ(v.c_str(), "2525");
  v = "old";
  EXPECT_EQ(s.GetValue("nope", v, "Main"), 0);
  EXPECT_EQ(s.GetValue("Port", v, "Other"), 0);
  EXPECT_EQ(s.GetValue(nullptr, v, "Main"), 0);
  EXPECT_STREQ(v.c_str(), "old");

  // Case-only rename keeps the pairs under the new spelling.
  EXPECT_EQ(s.RenameSection("main", "MAIN"), 1);
  EXPECT_EQ(Dump(s), (std::vector<std::string>{"|k|", "MAIN|Host|mx", "MAIN|Port|2525"}));
  // Renaming onto an existing section merges; the moved values win.
  s.Insert("Port", "1", "Other");
  s.Insert("Extra", "e", "Other");
  EXPECT_EQ(s.RenameSection("MAIN", "other"), 1);
  EXPECT_EQ(Dump(s), (std::vector<std::string>{"|k|", "Other|Extra|e", "Other|Host|mx",
                                               "Other|Port|2525"}));
  EXPECT_EQ(s.RenameSection("MAIN", "x"), 0);
  EXPECT_EQ(s.RenameSection(nullptr, "named"), 1);  // the nameless section
  EXPECT_EQ(Dump(s).front(), "named|k|");

  EXPECT_EQ(s.Remove("nope", "Other"), 0);
  EXPECT_EQ(s.Remove("k", "nope"), 0);
  EXPECT_EQ(s.Remove("k", "NAMED"), 1);  // last pair: the section goes too
  EXPECT_EQ(s.Remove(nullptr, "named"), 0);
  EXPECT_EQ(s.Remove("extra", "other"), 1);
  EXPECT_EQ(s.Remove(nullptr, "Other"), 1);
  EXPECT_EQ(s.IsEmpty(), 1);
  s.Insert("a", "1", "x");
  s.Clear();
  EXPECT_EQ(s.IsEmpty(), 1);
  EXPECT_EQ(Dump(s), std::vector<std::string>{});
}

TEST(NameValueStorage, EnumerationStopsAndSurvivesChanges) {
  CNameValueStorage s;
  for (const char* sec : {"a", "b", "c", "d"}) s.Insert("n", "v", sec);
  struct Ctx {
    CNameValueStorage* s;
    std::string seen;
  } ctx{&s, ""};
  // The callback removes the section it is shown and adds one further on.
  DWORD r = s.EnumSectionNames(
      [](const char* section, void* context) -> DWORD {
        Ctx* c = static_cast<Ctx*>(context);
        c->seen += section;
        std::string name = section;
        c->s->Remove(nullptr, name.c_str());
        if (name == "b") c->s->Insert("n", "v", "bb");
        return name == "c" ? 7 : 0;
      },
      &ctx);
  EXPECT_EQ(r, 7u);
  EXPECT_EQ(ctx.seen, "abbbc");
  EXPECT_EQ(Dump(s), std::vector<std::string>{"d|n|v"});
  EXPECT_EQ(s.EnumSection("missing", [](const char*, const char*, void*) -> DWORD { return 1; },
                          nullptr),
            0u);
}

}  // namespace
