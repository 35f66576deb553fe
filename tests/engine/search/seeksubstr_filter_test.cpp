// The two-byte filter of CSeekSubstr against plain Boyer-Moore and
// std::string::find: random texts around the 16-byte block size, matches
// at both buffer ends, both cases, self-similar texts that hand over to
// Boyer-Moore, and records whose tables differ from compiled ones.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>

#include "search/seeksubstr.h"
#include "common/teststream.h"

using namespace telsor;

namespace {
struct CProbe : CSeekSubstr {
  DWORD Filtered(const std::string& t) const {
    return FindFiltered(reinterpret_cast<const BYTE*>(t.data()), t.size());
  }
  DWORD Plain(const std::string& t) const {
    return FindBoyerMoore(reinterpret_cast<const BYTE*>(t.data()), t.size(), 0);
  }
  bool Filters() const { return CanFilter(); }
};

DWORD Find(const std::string& text, const std::string& pat) {
  size_t at = text.find(pat);
  return at == std::string::npos ? SEEK_NOT_FOUND : static_cast<DWORD>(at);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(FoldByte(static_cast<BYTE>(c)));
  return s;
}

std::string Random(std::mt19937& rng, const std::string& alphabet, size_t len) {
  std::string s;
  for (size_t i = 0; i < len; ++i) s.push_back(alphabet[rng() % alphabet.size()]);
  return s;
}
}  // namespace

TEST(SeekSubstrFilterTest, AgreesWithBoyerMooreAndFindOnRandomTexts) {
  std::mt19937 rng(61);
  const std::string alphabets[] = {"ab", "abc", "aAbB", std::string("a\0b\xff", 4), "abcdefgh-=_0123"};
  for (int round = 0; round < 40000; ++round) {
    const std::string& alphabet = alphabets[round % 5];
    const bool caseSensitive = (round / 5) % 2 == 0;
    std::string pat = Random(rng, alphabet, 2 + rng() % (round % 7 == 0 ? 40 : 6));
    if (pat[0] == '\0') pat[0] = 'a';  // a leading NUL builds no tables
    // Compiling keeps the bytes before an embedded NUL and NULs after it.
    const std::string stored = pat.substr(0, strlen(pat.c_str())) + std::string(pat.size() - strlen(pat.c_str()), '\0');
    // Lengths around one and two 16-byte blocks of windows.
    const size_t len = rng() % 3 == 0 ? rng() % 80 : pat.size() + 16 * (1 + rng() % 4) + rng() % 3 - 1;
    std::string text = Random(rng, alphabet, len);
    if (text.size() >= pat.size() && rng() % 2) {
      // Plant the pattern at the start, at the very end or anywhere.
      const size_t last = text.size() - pat.size();
      const size_t where = rng() % 3 == 0 ? 0 : rng() % 2 ? last : rng() % (last + 1);
      text.replace(where, pat.size(), pat);
    }
    CProbe m;
    ASSERT_EQ(0, m.Compile(pat.data(), caseSensitive, static_cast<DWORD>(pat.size())));
    ASSERT_TRUE(m.Filters());
    const DWORD want = caseSensitive ? Find(text, stored) : Find(Lower(text), Lower(stored));
    ASSERT_EQ(want, m.Plain(text)) << round;
    ASSERT_EQ(want, m.Filtered(text)) << round;
    if (!text.empty()) {
      DWORD matchLen = 0;
      ASSERT_EQ(want, m.Search(text.data(), static_cast<DWORD>(text.size()), &matchLen));
      EXPECT_EQ(want == SEEK_NOT_FOUND ? 0u : pat.size(), matchLen);
    }
  }
}

TEST(SeekSubstrFilterTest, SelfSimilarTextsHandOverToBoyerMoore) {
  // The filter looks for '=' and '_' k bytes apart; the text repeats
  // k x '=' and '_', so every (k+1)-th window passes the filter and fails
  // on the final 'e'. The comparisons run out of budget and Boyer-Moore
  // finishes from where the filter stopped.
  for (size_t k : {1u, 8u, 150u, 2500u}) {
    const std::string pat = std::string(k, '=') + "_" + std::string(k, '=') + "e";
    const size_t n = pat.size();
    std::string unit = std::string(k, '=') + "_";
    for (bool caseSensitive : {true, false}) {
      for (size_t len : {n - 1, n, n + 15, n + 16, size_t{70000}, size_t{70017}}) {
        for (size_t at : {size_t{0}, len / 2, len - n, len}) {  // len: no match
          if (at > len) continue;
          std::string text;
          while (text.size() < len) text += unit;
          text.resize(len);
          if (at + n <= len) text.replace(at, n, caseSensitive ? pat : Lower(pat).substr(0, n - 1) + "E");
          CProbe m;
          ASSERT_EQ(0, m.Compile(pat.data(), caseSensitive, static_cast<DWORD>(n)));
          const DWORD want = at + n <= len ? Find(Lower(text), pat) : SEEK_NOT_FOUND;
          EXPECT_EQ(want, m.Filtered(text)) << k << " " << len << " " << at;
          EXPECT_EQ(want, m.Plain(text)) << k << " " << len << " " << at;
        }
      }
    }
  }
}

TEST(SeekSubstrFilterTest, RecordsWithOtherTablesKeepBoyerMoore) {
  const std::string pat = "boundary-42";
  CProbe m;
  ASSERT_EQ(0, m.Compile(pat.c_str(), 1, 0));
  CTestStream s;
  ASSERT_EQ(0, m.Serialize(&s, 1));

  // Unchanged tables: the loaded matcher filters like the compiled one.
  s.pos = 0;
  CProbe same;
  ASSERT_EQ(0, same.Serialize(&s, 0));
  EXPECT_TRUE(same.Filters());

  // A bad-character shift of 'x' raised from 11 to 200 makes Boyer-Moore
  // jump over the match after an 'x'; the loaded matcher keeps doing so.
  std::string bytes = s.str();
  const size_t tables = 5 + pat.size() + 4;
  ASSERT_EQ(11, bytes[tables + 'x']);
  bytes[tables + 'x'] = static_cast<char>(200);
  CTestStream changed(bytes);
  CProbe other;
  ASSERT_EQ(0, other.Serialize(&changed, 0));
  EXPECT_FALSE(other.Filters());
  const std::string text = std::string(10, '.') + "x" + pat + std::string(300, '.');
  EXPECT_EQ(11u, m.Search(text.c_str(), 0, nullptr));
  EXPECT_EQ(other.Plain(text), other.Search(text.c_str(), 0, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, other.Search(text.c_str(), 0, nullptr));
}
