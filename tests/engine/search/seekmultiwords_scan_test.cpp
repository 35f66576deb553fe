// The fast scan of CSeekMultiWords (two-byte steps, skipping in the start
// state) against the packed table walked one byte at a time and against
// every word searched on its own: random word lists and texts, hits at
// 16-byte and stream-block edges and at the end of the data, streams that
// hand out 1-5 bytes per read.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "common/teststream.h"
#include "search/seekmultiwords.h"

using namespace telsor;

namespace {
struct CProbe : CSeekMultiWords {
  bool Flat() const { return m_scan.HasFlat(); }
  bool Pairs() const { return m_scan.HasPairs(); }
  bool Skips() const { return m_scan.CanSkip(); }
  void DropFlat() { m_scan.DropFlat(); }  // single steps over the packed table
};

struct tag_HIT {
  DWORD at;
  DWORD len;
};

BYTE Fold(BYTE c, bool caseSensitive) { return !caseSensitive && c >= 'A' && c <= 'Z' ? c + 32 : c; }

// Leftmost occurrence of any word, the longest at that start.
tag_HIT Oracle(const std::vector<std::string>& words, const std::string& text, bool caseSensitive) {
  tag_HIT best{SEEK_NOT_FOUND, 0};
  for (const std::string& w : words) {
    if (w.empty()) continue;
    for (size_t i = 0; i + w.size() <= text.size() && i <= best.at; ++i) {
      size_t k = 0;
      while (k < w.size() && Fold(text[i + k], caseSensitive) == Fold(w[k], caseSensitive)) ++k;
      if (k < w.size()) continue;
      if (i < best.at || w.size() > best.len) best = {static_cast<DWORD>(i), static_cast<DWORD>(w.size())};
      break;
    }
  }
  return best;
}

std::string Random(std::mt19937& rng, const char* alphabet, size_t len) {
  std::string s;
  for (size_t i = 0; i < len; ++i) s.push_back(alphabet[rng() % strlen(alphabet)]);
  return s;
}

// Few words with few first bytes (the start state is skipped) or many.
std::vector<std::string> Words(std::mt19937& rng) {
  std::vector<std::string> words;
  const bool few = rng() % 2 == 0;
  const size_t count = few ? 1 + rng() % 3 : 4 + rng() % 12;
  for (size_t i = 0; i < count; ++i) {
    std::string w = Random(rng, few ? "abcxyzAB-." : "abcdefxyzABC-.\n", 1 + rng() % 6);
    if (few) w[0] = "-.x"[rng() % 3];
    words.push_back(w);
  }
  return words;
}

std::string Text(std::mt19937& rng, const std::vector<std::string>& words) {
  static const size_t sizes[] = {15, 16, 17, 31, 32, 33, 63, 64, 65, 4095, 4096, 4097, 4100};
  const size_t len = rng() % 3 == 0 ? sizes[rng() % 13] : rng() % 4 == 0 ? 200 + rng() % 5000 : 1 + rng() % 120;
  std::string t = Random(rng, rng() % 2 ? "abcxyz -.\nAB" : "qqqqqqqqqqqqqq-.a", len);
  // A word (or the start of one) near a block edge or the end of the data.
  if (rng() % 2) {
    const std::string& w = words[rng() % words.size()];
    const size_t edges[] = {16, 32, 64, 4096, t.size()};
    const size_t edge = edges[rng() % 5];
    const size_t at = edge - std::min(edge, static_cast<size_t>(rng() % (w.size() + 2)));
    t.replace(std::min(at, t.size()), w.size(), w);
    if (rng() % 3 == 0) t.resize(t.size() - std::min(t.size() - 1, static_cast<size_t>(rng() % 3)));
  }
  return t;
}

tag_HIT Find(const CSeekMultiWords& m, const std::string& text) {
  tag_HIT h{0, 77};
  h.at = m.Search(text.data(), static_cast<DWORD>(text.size()), &h.len);
  return h;
}

tag_HIT Find(const CSeekMultiWords& m, const std::string& text, size_t from, DWORD want, ULONG chunk) {
  CTestStream s(text);
  s.pos = from;
  s.maxChunk = chunk;
  tag_HIT h{0, 77};
  h.at = m.Search(&s, want, &h.len);
  return h;
}
}  // namespace

TEST(SeekMultiWordsScanTest, FastScanAgreesWithSingleStepsAndEveryWord) {
  std::mt19937 rng(31);
  int flat = 0, paired = 0, skipping = 0, found = 0;
  for (int round = 0; round < 1500; ++round) {
    const std::vector<std::string> words = Words(rng);
    std::vector<const char*> list;
    for (const std::string& w : words) list.push_back(w.c_str());
    list.push_back(nullptr);
    const int caseSensitive = static_cast<int>(rng() % 2);
    CProbe fast, slow;
    ASSERT_EQ(0, fast.Compile(list.data(), caseSensitive));
    ASSERT_EQ(0, slow.Compile(list.data(), caseSensitive));
    slow.DropFlat();
    flat += fast.Flat();
    paired += fast.Pairs();
    skipping += fast.Skips();
    for (int probe = 0; probe < 6; ++probe) {
      const std::string text = Text(rng, words);
      const tag_HIT want = Oracle(words, text, caseSensitive != 0);
      found += want.at != SEEK_NOT_FOUND;
      const std::string what = "words " + std::to_string(words.size()) + " [" + words[0] + "] in [" + text + "]";
      tag_HIT got = Find(fast, text), single = Find(slow, text);
      ASSERT_EQ(want.at, single.at) << what;
      ASSERT_EQ(want.len, single.len) << what;
      ASSERT_EQ(want.at, got.at) << what;
      ASSERT_EQ(want.len, got.len) << what;

      // Streams: from a random position, short reads, a limit or none.
      const size_t from = rng() % 4 == 0 ? rng() % text.size() : 0;
      const DWORD limit = rng() % 2 ? static_cast<DWORD>(rng() % (text.size() - from + 1)) : 0x7FFFFFFF;
      const ULONG chunk = rng() % 3 == 0 ? 0xFFFFFFFFu : 1 + rng() % 5;
      const std::string seen = text.substr(from, limit);
      tag_HIT part = Oracle(words, seen, caseSensitive != 0);
      if (part.at != SEEK_NOT_FOUND) part.at += static_cast<DWORD>(from);
      if (limit == 0) part = {SEEK_NOT_FOUND, 0};
      got = Find(fast, text, from, limit, chunk);
      single = Find(slow, text, from, limit, chunk);
      ASSERT_EQ(part.at, single.at) << what << " from " << from << " limit " << limit;
      ASSERT_EQ(part.len, single.len) << what << " from " << from << " limit " << limit;
      ASSERT_EQ(part.at, got.at) << what << " from " << from << " limit " << limit << " chunk " << chunk;
      ASSERT_EQ(part.len, got.len) << what << " from " << from << " limit " << limit << " chunk " << chunk;
    }
  }
  // The flat copy and skipping were taken often (the word scan has no
  // two-byte steps: they did not make it faster), and most texts held a word.
  EXPECT_EQ(1500, flat);
  EXPECT_EQ(0, paired);
  EXPECT_GT(skipping, 500);
  EXPECT_GT(found, 4000);
}

TEST(SeekMultiWordsScanTest, HitsAtEveryOffsetOfLongRuns) {
  // The message-end finders: a hit at each offset of runs that straddle
  // 16-byte blocks, with near misses ("\n." "\r.x") before it.
  const char* words[] = {"\n.\n", "\r\n.\r\n", "\n.\r", nullptr};
  CProbe fast, slow;
  ASSERT_EQ(0, fast.Compile(words, 1));
  ASSERT_EQ(0, slow.Compile(words, 1));
  slow.DropFlat();
  ASSERT_TRUE(fast.Flat());
  ASSERT_TRUE(fast.Skips());
  const std::vector<std::string> list = {"\n.\n", "\r\n.\r\n", "\n.\r"};
  for (size_t len = 3; len < 100; ++len) {
    for (size_t at = 0; at + 3 <= len; ++at) {
      std::string text;
      for (size_t i = 0; i < len; ++i) text.push_back("\n.x\r"[i % 4]);
      text.replace(at, 3, at % 2 ? "\n.\n" : "\n.\r");
      const tag_HIT want = Oracle(list, text, true);
      const tag_HIT got = Find(fast, text), single = Find(slow, text);
      ASSERT_EQ(want.at, got.at) << len << " " << at;
      ASSERT_EQ(want.len, got.len) << len << " " << at;
      ASSERT_EQ(want.at, single.at);
      ASSERT_EQ(want.len, single.len);
    }
  }
}
