// Base matcher, exact-string and dictionary matchers.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "search/seekdictionary.h"
#include "search/seekexactstr.h"
#include "search/seekpattern.h"
#include "common/teststream.h"

using namespace telsor;

namespace {
std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(static_cast<char>(b));
  return s;
}
}  // namespace

TEST(SeekPatternTest, CompileHoldsCopyWithCaseAndLength) {
  CSeekPattern p;
  EXPECT_EQ(0, p.Compile(nullptr, 0, 0));
  EXPECT_EQ(nullptr, p.GetPattern(0));
  EXPECT_EQ(0u, p.GetCount());
  EXPECT_FALSE(p.IsCaseSensitive());

  EXPECT_EQ(0, p.Compile("AbC", 0, 0));
  EXPECT_STREQ("abc", p.GetPattern(7));
  EXPECT_EQ(1u, p.GetCount());
  EXPECT_EQ(0, p.Compile("AbC", 1, 0));
  EXPECT_STREQ("AbC", p.GetPattern(0));

  EXPECT_EQ(0, p.Compile("ab", 1, 5));
  EXPECT_EQ(5u, p.GetLength());
  EXPECT_EQ(0, memcmp("ab\0\0\0", p.GetPattern(0), 6));

  DWORD len = 99;
  EXPECT_EQ(SEEK_NOT_FOUND, p.Search("ab", 2, &len));
  EXPECT_EQ(0u, len);
}

TEST(SeekPatternTest, DecodeEscTable) {
  struct Case {
    const char* text;
    DWORD value;
    DWORD used;
  } cases[] = {
      {"a", 7, 1},      {"b", 8, 1},       {"f", 12, 1},        {"n", 10, 1},  {"r", 13, 1},
      {"t", 9, 1},      {"v", 11, 1},      {"101", 65, 3},      {"0", 0, 1},   {"178", 15, 2},
      {"x41", 0x41, 3}, {"xfF0z", 0xFF0, 4}, {"xg", 0, 1},       {"x", 0, 1},   {"q", 'q', 1},
      {"\xE9", 0xE9, 1}, {"7777777777777", 0xFFFFFFFFu & 07777777777777ull, 13},
  };
  for (const Case& c : cases) {
    DWORD used = 0;
    EXPECT_EQ(c.value, CSeekPattern::DecodeESC(c.text, &used)) << c.text;
    EXPECT_EQ(c.used, used) << c.text;
  }
  EXPECT_EQ(65u, CSeekPattern::DecodeESC("101", nullptr));
}

TEST(SeekPatternTest, BitHelpersAgreeWithVectorBool) {
  std::mt19937 rng(5);
  BYTE bits[16] = {};
  std::vector<bool> oracle(128);
  for (int i = 0; i < 2000; ++i) {
    DWORD at = rng() % 128;
    int value = rng() % 2;
    EXPECT_EQ(oracle[at] ? 1 : 0, CSeekPattern::SetBitAt(at, value, bits));
    oracle[at] = value;
    DWORD probe = rng() % 128;
    EXPECT_EQ(oracle[probe] ? 1 : 0, CSeekPattern::GetBitAt(probe, bits));
  }
  memset(bits, 0, sizeof bits);
  CSeekPattern::SetBitAt(9, 1, bits);
  EXPECT_EQ(0x02, bits[1]);  // least significant bit first
}

TEST(SeekPatternTest, BaseRecordBytesAndRoundTrip) {
  CSeekPattern p;
  p.Compile("AbC", 0, 0);
  CTestStream s;
  ASSERT_EQ(0, p.Serialize(&s, 1));
  EXPECT_EQ(Bytes({0x01, 0x03, 0x00, 0x61, 0x62, 0x63, 0x00, 0x20}), s.str());

  s.pos = 0;
  CSeekPattern q;
  ASSERT_EQ(0, q.Serialize(&s, 0));
  EXPECT_STREQ("abc", q.GetPattern(0));
  EXPECT_FALSE(q.IsCaseSensitive());
  EXPECT_EQ(0x20, q.GetNulSubstitute());

  CTestStream empty;
  CSeekPattern none;
  ASSERT_EQ(0, none.Serialize(&empty, 1));
  EXPECT_EQ(Bytes({0x01, 0x00, 0x00, 0x01, 0x20}), empty.str());
}

TEST(SeekPatternTest, LoadRefusesBadVersionAndPassesStreamErrors) {
  CTestStream s(Bytes({0x02, 0x00, 0x00, 0x01, 0x20}));
  CSeekPattern p;
  p.Compile("keep", 1, 0);
  EXPECT_EQ(static_cast<HRESULT>(0x80000008u), p.Serialize(&s, 0));
  EXPECT_EQ(0u, p.GetCount());  // loading starts from empty

  CTestStream failing(Bytes({0x01, 0x03, 0x00, 'a', 'b', 'c', 0x01, 0x20}));
  failing.failReadAt = 4;
  failing.readError = static_cast<HRESULT>(0x8000FFFFu);
  EXPECT_EQ(static_cast<HRESULT>(0x8000FFFFu), p.Serialize(&failing, 0));
}

TEST(SeekPatternTest, StoringRefusesPatternsBeyondSixteenBits) {
  std::string big(70000, 'x');
  CSeekPattern p;
  ASSERT_EQ(0, p.Compile(big.c_str(), 1, 0));
  CTestStream s;
  EXPECT_EQ(static_cast<HRESULT>(0x80000008u), p.Serialize(&s, 1));
  EXPECT_TRUE(s.bytes.empty());

  std::string edge(0xFFFF, 'y');
  ASSERT_EQ(0, p.Compile(edge.c_str(), 1, 0));
  ASSERT_EQ(0, p.Serialize(&s, 1));
  s.pos = 0;
  CSeekPattern q;
  ASSERT_EQ(0, q.Serialize(&s, 0));
  EXPECT_EQ(0xFFFFu, q.GetLength());
}

TEST(SeekPatternTest, StoringPassesWriteFailures) {
  CSeekPattern p;
  p.Compile("abc", 1, 0);
  CTestStream s;
  s.failWrite = static_cast<HRESULT>(0x80000009u);
  EXPECT_EQ(static_cast<HRESULT>(0x80000009u), p.Serialize(&s, 1));
  CTestStream shortWrite;
  shortWrite.writeLimit = 4;
  EXPECT_EQ(static_cast<HRESULT>(0x80000008u), p.Serialize(&shortWrite, 1));
}

TEST(SeekExactStrTest, WholeTextEqualityOverExactLength) {
  CSeekExactStr m;
  ASSERT_EQ(0, m.Compile("abc", 0, 0));
  struct Case {
    const char* text;
    DWORD len;
    DWORD result;
  } cases[] = {
      {"ABC", 0, 0},         {"abc", 3, 0},           {"abcd", 0, SEEK_NOT_FOUND},
      {"ab", 0, SEEK_NOT_FOUND}, {"abcX", 3, 0},      // only len bytes count
      {"ab\0", 3, SEEK_NOT_FOUND},                    // NUL is a byte like any other
  };
  for (const Case& c : cases) {
    DWORD len = 77;
    EXPECT_EQ(c.result, m.Search(c.text, c.len, &len)) << c.text;
    EXPECT_EQ(c.result == 0 ? 3u : 0u, len) << c.text;
  }

  // A pattern held with trailing NULs matches only those NULs, not any byte.
  CSeekExactStr nul;
  nul.Compile("ab", 1, 4);
  EXPECT_EQ(0u, nul.Search("ab\0\0", 4, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, nul.Search("ab\0c", 4, nullptr));

  // The text need not be NUL-terminated.
  char raw[3] = {'a', 'B', 'c'};
  EXPECT_EQ(0u, m.Search(raw, 3, nullptr));

  CSeekExactStr empty;
  empty.Compile("", 1, 0);
  EXPECT_EQ(0u, empty.Search("", 0, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, empty.Search("a", 0, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search(static_cast<const char*>(nullptr), 3, nullptr));
  CTestStream s("abc");
  DWORD len = 5;
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search(&s, 3, &len));
  EXPECT_EQ(0u, len);
}

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
  EXPECT_EQ(static_cast<HRESULT>(0x80000005u), d.Compile(static_cast<const char**>(nullptr), 1));
  std::string longWord(0xFFFF, 'w');
  std::string fits(0xFFFE, 'w');
  const char* bad[] = {"a", longWord.c_str(), nullptr};
  EXPECT_EQ(static_cast<HRESULT>(0xE00F0003u), d.Compile(bad, 1));
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
