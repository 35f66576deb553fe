// The dictionary matcher: whole-text equality with any word of a sorted
// list, against a std::set oracle; records.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/teststream.h"
#include "search/seekdictionary.h"

using namespace telsor;

TEST(SeekDictionaryTest, BetaAndAlphaWithAndWithoutCase) {
  const char* words[] = {"Beta", "alpha", nullptr};
  CSeekDictionary d;
  ASSERT_EQ(0, d.Compile(words, 0));
  DWORD len = 0;
  EXPECT_EQ(0u, d.Search("ALPHA", 0, &len));
  EXPECT_EQ(5u, len);
  EXPECT_EQ(SEEK_NOT_FOUND, d.Search("alph", 0, &len));
  EXPECT_EQ(0u, len);
  EXPECT_EQ(0u, d.Search("bEtA", 0, nullptr));

  ASSERT_EQ(0, d.Compile(words, 1));
  EXPECT_EQ(0u, d.Search("alpha", 0, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, d.Search("Alpha", 0, nullptr));
  EXPECT_EQ(0u, d.Search("Beta", 0, nullptr));
  EXPECT_EQ(2u, d.GetCount());
  EXPECT_STREQ("Beta", d.GetPattern(0));  // 'B' sorts before 'a'
  EXPECT_EQ(nullptr, d.GetPattern(2));
  EXPECT_EQ(nullptr, d.GetPattern(-1));

  const char* ba[] = {"b", "a", nullptr};
  ASSERT_EQ(0, d.Compile(ba, 1));
  EXPECT_STREQ("a", d.GetPattern(0));
}

TEST(SeekDictionaryTest, ExactLengthComparison) {
  const char* words[] = {"ab", "abc", nullptr};
  CSeekDictionary d;
  ASSERT_EQ(0, d.Compile(words, 1));
  EXPECT_EQ(SEEK_NOT_FOUND, d.Search("ab\0x", 4, nullptr));  // embedded NUL
  char raw[2] = {'a', 'b'};
  DWORD len = 0;
  EXPECT_EQ(0u, d.Search(raw, 2, &len));  // not NUL-terminated
  EXPECT_EQ(2u, len);
  EXPECT_EQ(0u, d.Search("abcdef", 3, nullptr));

  std::string big(65536, 'a');
  const char* one[] = {"a", nullptr};
  ASSERT_EQ(0, d.Compile(one, 1));
  EXPECT_EQ(SEEK_NOT_FOUND, d.Search(big.c_str(), 65536, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, d.Search(big.c_str(), 0, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, d.Search(static_cast<const char*>(nullptr), 1, nullptr));
}

TEST(SeekDictionaryTest, CompileFailures) {
  CSeekDictionary d;
  EXPECT_EQ(E_POINTER, d.Compile(static_cast<const char**>(nullptr), 1));
  std::string longWord(0xFFFF, 'w');
  std::string fits(0xFFFE, 'w');
  const char* bad[] = {"a", longWord.c_str(), nullptr};
  EXPECT_EQ(E_SEEK_WORD_TOO_LONG, d.Compile(bad, 1));
  EXPECT_EQ(0u, d.GetCount());
  EXPECT_EQ(SEEK_NOT_FOUND, d.Search("a", 0, nullptr));
  const char* good[] = {fits.c_str(), nullptr};
  EXPECT_EQ(0, d.Compile(good, 1));
  EXPECT_EQ(0u, d.Search(fits.c_str(), 0, nullptr));
  const char* none[] = {nullptr};
  EXPECT_EQ(0, d.Compile(none, 1));
  EXPECT_EQ(0u, d.GetCount());
  EXPECT_EQ(nullptr, d.GetPattern(0));
}

TEST(SeekDictionaryTest, RandomWordListsAgainstSetOracle) {
  std::mt19937 rng(11);
  const char alphabet[] = "aAbB";
  for (int round = 0; round < 300; ++round) {
    int caseSensitive = rng() % 2;
    std::vector<std::string> words(rng() % 8);
    for (auto& w : words)
      for (int k = rng() % 4; k > 0; --k) w.push_back(alphabet[rng() % 4]);
    std::vector<const char*> list;
    for (auto& w : words) list.push_back(w.c_str());
    list.push_back(nullptr);
    CSeekDictionary d;
    ASSERT_EQ(0, d.Compile(list.data(), caseSensitive));

    // Store and reload: the record must give the same answers and sizes.
    CTestStream s;
    ASSERT_EQ(0, d.Serialize(&s, 1));
    size_t expected = 5 + 4;
    if (!words.empty()) {
      expected += 4 + 8 * words.size();
      for (auto& w : words) expected += w.size() + 1;
    }
    EXPECT_EQ(expected, s.bytes.size());  // exact block size, no slack
    s.pos = 0;
    CSeekDictionary r;
    ASSERT_EQ(0, r.Serialize(&s, 0));

    auto fold = [&](std::string t) {
      if (!caseSensitive)
        for (char& c : t) c = static_cast<char>(FoldByte(static_cast<BYTE>(c)));
      return t;
    };
    std::set<std::string> oracle;
    for (auto& w : words) oracle.insert(fold(w));
    for (int probe = 0; probe < 20; ++probe) {
      std::string t;
      for (int k = rng() % 4; k > 0; --k) t.push_back(alphabet[rng() % 4]);
      DWORD want = oracle.count(fold(t)) ? 0 : SEEK_NOT_FOUND;
      if (t.empty()) continue;  // length 0 means strlen
      EXPECT_EQ(want, d.Search(t.data(), static_cast<DWORD>(t.size()), nullptr)) << t;
      EXPECT_EQ(want, r.Search(t.data(), static_cast<DWORD>(t.size()), nullptr)) << t;
    }
    for (DWORD i = 0; i < r.GetCount(); ++i) EXPECT_STREQ(d.GetPattern(i), r.GetPattern(i));
  }
}
