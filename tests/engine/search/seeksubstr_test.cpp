// Boyer-Moore substring matcher: examples, buffer and stream searches
// against std::string::find and strcasestr, records.
#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>

#include "search/seeksubstr.h"
#include "common/teststream.h"

using namespace telsor;

namespace {
// Offset of the first occurrence by the C library / std::string.
DWORD Oracle(const std::string& text, const std::string& pat, bool caseSensitive) {
  if (caseSensitive) {
    size_t at = text.find(pat);
    return at == std::string::npos ? SEEK_NOT_FOUND : static_cast<DWORD>(at);
  }
  const char* hit = strcasestr(text.c_str(), pat.c_str());
  return hit ? static_cast<DWORD>(hit - text.c_str()) : SEEK_NOT_FOUND;
}

std::string RandomText(std::mt19937& rng, const char* alphabet, size_t len) {
  size_t k = strlen(alphabet);
  std::string s;
  for (size_t i = 0; i < len; ++i) s.push_back(alphabet[rng() % k]);
  return s;
}
}  // namespace

TEST(SeekSubstrTest, Examples) {
  CSeekSubstr m;
  ASSERT_EQ(0, m.Compile("abcab", 1, 0));
  DWORD len = 0;
  EXPECT_EQ(2u, m.Search("xxabcabyy", 0, &len));
  EXPECT_EQ(5u, len);
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search("xxABCAByy", 0, &len));
  EXPECT_EQ(0u, len);
  ASSERT_EQ(0, m.Compile("abcab", 0, 0));
  EXPECT_EQ(2u, m.Search("xxABCAByy", 0, &len));

  ASSERT_EQ(0, m.Compile("q", 0, 0));
  EXPECT_EQ(3u, m.Search("abcQ", 0, &len));
  EXPECT_EQ(1u, len);
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search("", 0, &len));

  // Only the first len bytes are searched.
  ASSERT_EQ(0, m.Compile("cd", 1, 0));
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search("abcd", 3, nullptr));
  EXPECT_EQ(2u, m.Search("abcd", 4, nullptr));
  // Embedded NUL bytes of the text are searched through.
  EXPECT_EQ(3u, m.Search("a\0bcd", 5, nullptr));

  // An empty pattern matches at 0 of a non-empty text.
  ASSERT_EQ(0, m.Compile("", 1, 0));
  EXPECT_EQ(0u, m.Search("xyz", 0, &len));
  EXPECT_EQ(1u, len);
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search("", 0, &len));
}

TEST(SeekSubstrTest, PatternLengthLimits) {
  CSeekSubstr m;
  std::string limit(65534, 'a');
  std::string over(65535, 'a');
  EXPECT_EQ(0, m.Compile(limit.c_str(), 1, 0));
  std::string text = "b" + limit;
  EXPECT_EQ(1u, m.Search(text.c_str(), 0, nullptr));
  EXPECT_EQ(E_SEEK_PATTERN_TOO_LONG, m.Compile(over.c_str(), 1, 0));
  EXPECT_EQ(0u, m.GetCount());  // left empty, no stale tables
  EXPECT_EQ(0u, m.GetLength());
}

TEST(SeekSubstrTest, PatternStartingWithNulHasNoTablesAndMatchesNothing) {
  CSeekSubstr m;
  ASSERT_EQ(0, m.Compile("\0ab", 1, 3));
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search("x\0\0\0y", 5, nullptr));
  CTestStream s(std::string("x\0\0\0y", 5));
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search(&s, 5, nullptr));
}

TEST(SeekSubstrTest, RandomBuffersAgainstFindAndStrcasestr) {
  std::mt19937 rng(1);
  const char* alphabets[] = {"ab", "abc", "aAbB", "abcd"};
  for (int round = 0; round < 20000; ++round) {
    const char* alphabet = alphabets[round % 4];
    bool caseSensitive = (round / 4) % 2 == 0;
    std::string pat = RandomText(rng, alphabet, 1 + rng() % 8);
    std::string text = RandomText(rng, alphabet, rng() % 60);
    CSeekSubstr m;
    ASSERT_EQ(0, m.Compile(pat.c_str(), caseSensitive, 0));
    DWORD len = 0;
    DWORD want = Oracle(text, pat, caseSensitive);
    DWORD got = text.empty() ? SEEK_NOT_FOUND
                             : m.Search(text.data(), static_cast<DWORD>(text.size()), &len);
    ASSERT_EQ(want, got) << "pattern " << pat << " text " << text << " case " << caseSensitive;
    EXPECT_EQ(want == SEEK_NOT_FOUND ? 0u : pat.size(), len);
  }
}

TEST(SeekSubstrTest, LongTextsExerciseTheUnrolledSkip) {
  std::mt19937 rng(2);
  for (int round = 0; round < 200; ++round) {
    std::string pat = RandomText(rng, "abcdefgh", 2 + rng() % 40);
    std::string text = RandomText(rng, "abcdefghijklmnopqrstuvwxyz", 2000 + rng() % 4000);
    size_t at = rng() % (text.size() - pat.size());
    if (round % 3) text.replace(at, pat.size(), pat);
    CSeekSubstr m;
    ASSERT_EQ(0, m.Compile(pat.c_str(), 1, 0));
    ASSERT_EQ(Oracle(text, pat, true), m.Search(text.c_str(), 0, nullptr)) << pat;
  }
}

TEST(SeekSubstrTest, StreamFindsMatchAcrossBlockSeam) {
  std::string text(0x3000, '.');
  text.replace(0x2000 - 3, 8, "boundary");
  CTestStream s(text);
  CSeekSubstr m;
  ASSERT_EQ(0, m.Compile("BOUNDARY", 0, 0));
  DWORD len = 0;
  EXPECT_EQ(0x2000u - 3, m.Search(&s, 0x3000, &len));
  EXPECT_EQ(8u, len);

  // From a later start the offset stays absolute; a limit before the match
  // end finds nothing.
  s.pos = 100;
  EXPECT_EQ(0x2000u - 3, m.Search(&s, 0x3000, &len));
  s.pos = 100;
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search(&s, 0x2000 - 3 + 7 - 100, &len));
  EXPECT_EQ(0u, len);
}

TEST(SeekSubstrTest, RandomStreamsWithRandomSeamsAgreeWithFind) {
  std::mt19937 rng(3);
  for (int round = 0; round < 400; ++round) {
    bool caseSensitive = round % 2 == 0;
    std::string pat = RandomText(rng, "abAB", 1 + rng() % (round % 5 == 0 ? 700 : 6));
    std::string text = RandomText(rng, "abAB", rng() % 30000);
    if (text.size() > pat.size() && round % 3 == 0) {
      // Plant the pattern right across a block seam.
      size_t block = std::max<size_t>(16 * pat.size(), 0x2000);
      size_t at = block - rng() % pat.size();
      if (at + pat.size() <= text.size()) text.replace(at, pat.size(), pat);
    }
    size_t start = text.empty() ? 0 : rng() % (text.size() / 2 + 1);
    DWORD limit = static_cast<DWORD>(rng() % (text.size() - start + 2));
    CTestStream s(text);
    s.pos = start;
    s.maxChunk = 1 + rng() % 5000;  // short reads at random places
    CSeekSubstr m;
    ASSERT_EQ(0, m.Compile(pat.c_str(), caseSensitive, 0));
    std::string window = text.substr(start, limit);
    DWORD want = Oracle(window, pat, caseSensitive);
    if (want != SEEK_NOT_FOUND) want += static_cast<DWORD>(start);
    DWORD len = 0;
    ASSERT_EQ(want, m.Search(&s, limit, &len)) << "round " << round;
    EXPECT_EQ(want == SEEK_NOT_FOUND ? 0u : pat.size(), len);
  }
}

TEST(SeekSubstrTest, StreamReadFailureEndsTheData) {
  std::string text(0x5000, 'x');
  text.replace(0x4000, 3, "abc");
  CSeekSubstr m;
  ASSERT_EQ(0, m.Compile("abc", 1, 0));
  CTestStream s(text);
  s.maxChunk = 0x1000;
  s.failReadAt = 0x3000;
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search(&s, 0x5000, nullptr));
  CTestStream unseekable(text);
  unseekable.seeksUntilFailure = 0;
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search(&unseekable, 0x5000, nullptr));
  CTestStream ok(text);
  EXPECT_EQ(0x4000u, m.Search(&ok, 0x5000, nullptr));
}

TEST(SeekSubstrTest, RecordRoundTripKeepsMatchesAndExactSize) {
  std::mt19937 rng(4);
  for (int round = 0; round < 200; ++round) {
    bool caseSensitive = round % 2 == 0;
    std::string pat = RandomText(rng, "aAbc", 1 + rng() % 10);
    CSeekSubstr m;
    ASSERT_EQ(0, m.Compile(pat.c_str(), caseSensitive, 0));
    CTestStream s;
    ASSERT_EQ(0, m.Serialize(&s, 1));
    ASSERT_EQ(5 + pat.size() + 4 + 256 + 2 * pat.size(), s.bytes.size());
    s.pos = 0;
    CSeekSubstr r;
    ASSERT_EQ(0, r.Serialize(&s, 0));
    for (int probe = 0; probe < 10; ++probe) {
      std::string text = RandomText(rng, "aAbBc", 1 + rng() % 40);
      EXPECT_EQ(m.Search(text.c_str(), 0, nullptr), r.Search(text.c_str(), 0, nullptr));
    }
  }

  // A larger table block than needed still loads; the excess is ignored.
  CSeekSubstr m;
  ASSERT_EQ(0, m.Compile("abc", 1, 0));
  CTestStream s;
  ASSERT_EQ(0, m.Serialize(&s, 1));
  std::string bytes = s.str();
  DWORD size = 256 + 6 + 10;
  for (int i = 0; i < 4; ++i) bytes[8 + i] = static_cast<char>(size >> (8 * i));
  bytes.append(10, '\x07');
  CTestStream bigger(bytes);
  CSeekSubstr r;
  ASSERT_EQ(0, r.Serialize(&bigger, 0));
  EXPECT_EQ(3u, r.Search("xxxabc", 0, nullptr));
}
