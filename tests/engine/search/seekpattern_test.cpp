// Base matcher, exact-string and dictionary matchers.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <set>
#include <string>
#include <vector>

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
  EXPECT_EQ(E_FAIL, p.Serialize(&s, 0));
  EXPECT_EQ(0u, p.GetCount());  // loading starts from empty

  CTestStream failing(Bytes({0x01, 0x03, 0x00, 'a', 'b', 'c', 0x01, 0x20}));
  failing.failReadAt = 4;
  failing.failure = static_cast<HRESULT>(0x8000FFFFu);
  EXPECT_EQ(static_cast<HRESULT>(0x8000FFFFu), p.Serialize(&failing, 0));
}

TEST(SeekPatternTest, StoringRefusesPatternsBeyondSixteenBits) {
  std::string big(70000, 'x');
  CSeekPattern p;
  ASSERT_EQ(0, p.Compile(big.c_str(), 1, 0));
  CTestStream s;
  EXPECT_EQ(E_FAIL, p.Serialize(&s, 1));
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
  s.failWrite = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, p.Serialize(&s, 1));
  CTestStream shortWrite;
  shortWrite.writeLimit = 4;
  EXPECT_EQ(E_FAIL, p.Serialize(&shortWrite, 1));
}
