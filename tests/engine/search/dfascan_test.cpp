// The flat scan of CRegExpr (two-byte steps, skipping in the start state)
// against the packed table walked one byte at a time: random patterns and
// texts, offsets and lengths, buffers and streams.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>

#include "search/regexpr.h"
#include "common/teststream.h"

using namespace telsor;

namespace {
struct CProbe : CRegExpr {
  bool Pairs() const { return m_scan.HasPairs(); }
  bool Skips() const { return m_scan.CanSkip(); }
};

struct tag_HIT {
  DWORD at;
  DWORD len;
  bool operator==(const tag_HIT& o) const { return at == o.at && len == o.len; }
};

std::string Atom(std::mt19937& rng) {
  static const char* atoms[] = {"a", "b", "-", "x", "[ab]", "[^a]", ".", "(ab|b)", "(-a|x-)", "\\w", "\\s"};
  static const char* quantifiers[] = {"", "", "", "*", "+", "?", "{1,2}", "{2}"};
  return std::string(atoms[rng() % 11]) + quantifiers[rng() % 8];
}

// Mostly a fixed first byte, so that the scan skips in the start state.
std::string Pattern(std::mt19937& rng) {
  std::string p;
  switch (rng() % 6) {
    case 0: p = "-"; break;
    case 1: p = "--"; break;
    case 2: p = "-[ab]"; break;
    case 3: p = "(a|b|-)"; break;
    default: break;
  }
  for (size_t n = 1 + rng() % 4; n > 0; --n) p += Atom(rng);
  if (rng() % 10 == 0) p = "^" + p;
  if (rng() % 10 == 0) p += "$";
  return p;
}

std::string Text(std::mt19937& rng) {
  static const size_t sizes[] = {15, 16, 17, 31, 32, 33, 63, 64, 65, 79, 80, 81};
  const size_t len = rng() % 3 == 0 ? sizes[rng() % 12] : rng() % 3 == 0 ? 500 + rng() % 1100 : 1 + rng() % 120;
  const char* alphabet = rng() % 2 ? "ab-x Y" : "xxxxxxxxxxxxxx-a ";
  const size_t k = strlen(alphabet);
  std::string t;
  for (size_t i = 0; i < len; ++i) t.push_back(alphabet[rng() % k]);
  return t;
}
}  // namespace

TEST(DFAScanTest, FlatScanAgreesWithPackedTable) {
  std::mt19937 rng(66);
  int paired = 0, skipping = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string pattern = Pattern(rng);
    const int caseSensitive = static_cast<int>(rng() % 2);
    CProbe re, twin;
    ASSERT_EQ(0, re.Compile(pattern.c_str(), caseSensitive, 0)) << pattern;
    ASSERT_EQ(0, twin.Compile(pattern.c_str(), caseSensitive, 0)) << pattern;
    paired += re.Pairs();
    skipping += re.Skips();
    ASSERT_FALSE(re.Pairs() && re.Skips()) << pattern;
    for (int probe = 0; probe < 8; ++probe) {
      const std::string text = Text(rng);
      const DWORD size = static_cast<DWORD>(text.size());
      tag_HIT flat{0, 77}, packed{0, 77};
      flat.at = re.Search(text.data(), size, &flat.len);
      // Another table than the matcher's own is walked packed.
      packed.at = re.SimulateAutomaton(twin.GetTable(), text.data(), size, &packed.len);
      ASSERT_EQ(packed.at, flat.at) << pattern << " / " << text;
      ASSERT_EQ(packed.len, flat.len) << pattern << " / " << text;

      const size_t from = rng() % 4 == 0 ? rng() % text.size() : 0;
      const DWORD want = rng() % 2 ? size - static_cast<DWORD>(from) : 0x7FFFFFFF;
      CTestStream a(text), b(text);
      a.pos = b.pos = from;
      flat.at = re.Search(&a, want, &flat.len);
      packed.at = re.SimulateAutomaton(twin.GetTable(), &b, want, &packed.len);
      ASSERT_EQ(packed.at, flat.at) << pattern << " / " << text << " from " << from;
      ASSERT_EQ(packed.len, flat.len) << pattern << " / " << text << " from " << from;
    }
  }
  // Both fast paths were taken often: two-byte steps for the patterns
  // whose start state cannot be skipped, skipping for the others.
  EXPECT_GT(paired, 200);
  EXPECT_GT(skipping, 1000);
  EXPECT_GT(paired + skipping, 2400);  // the rest: anchored patterns
}

TEST(DFAScanTest, SkippedPairsAroundBlockEnds) {
  // "--" starts a match and "-y" comes straight back to the start state:
  // such pairs are skipped without stepping, also where they straddle a
  // 16-byte block or the end of the data.
  CProbe re, twin;
  ASSERT_EQ(0, re.Compile("--[ab]+z", 1, 0));
  ASSERT_EQ(0, twin.Compile("--[ab]+z", 1, 0));
  ASSERT_TRUE(re.Skips());
  for (size_t len = 4; len < 140; ++len) {
    for (size_t at = 0; at + 4 <= len; ++at) {
      std::string text;
      for (size_t i = 0; i < len; ++i) text.push_back(i % 3 == 0 ? '-' : 'y');
      text.replace(at, 4, "--az");
      DWORD got = 77;
      const DWORD found = re.Search(text.data(), static_cast<DWORD>(len), &got);
      DWORD want = 77;
      ASSERT_EQ(re.SimulateAutomaton(twin.GetTable(), text.data(), static_cast<DWORD>(len), &want), found);
      ASSERT_EQ(want, got) << text;
      // The first accept is the end of the first "--az".
      ASSERT_EQ(text.find("--az") + 4, found + got) << text;
    }
    std::string none(len, '-');
    none[len - 1] = 'a';
    EXPECT_EQ(SEEK_NOT_FOUND, re.Search(none.data(), static_cast<DWORD>(len), nullptr));
  }
}

TEST(DFAScanTest, NearMissesOfALongPrefix) {
  // A scan that skips passes over a run that follows the pattern's first
  // bytes for a while and then takes a byte that comes straight back to
  // the start state. Texts made of such runs, cut at every depth and
  // followed by bytes that come back, restart the pattern or go on, must
  // give what the packed table walked a byte at a time gives: buffers and
  // streams read in short pieces, so that runs straddle the blocks.
  static const struct {
    const char* pattern;
    const char* prefix;  // the literal bytes a match starts with
    int caseSensitive;
  } kCases[] = {
      {"--=_NextPart_[0-9A-F]{4}\\.[0-9A-F]{8}", "--=_NextPart_", 1},
      {"abcabd", "abcabd", 1},                                  // overlaps itself
      {"aaaaaaaaaaaaaaaaaaab", "aaaaaaaaaaaaaaaaaaab", 1},      // longer than a block
      {"0123456789abcdefghij[xy]", "0123456789abcdefghij", 1},  // longer than the path
      {"-(ab|ac)d", "-ab", 1},                                  // two ways on
      {"xy?z+", "xyz", 1},                                      // an accept one byte in
      {"=[^=]{3}=", "=abc=", 1},
      {"%boundary%", "%boundary%", 0},  // case-blind after the first byte
      {"ab+c+d", "abcd", 1},                                    // loops on the path
      {"--end--$", "--end--", 1},
  };
  std::mt19937 rng(1511);
  for (const auto& c : kCases) {
    CProbe re, twin;
    ASSERT_EQ(0, re.Compile(c.pattern, c.caseSensitive, 0)) << c.pattern;
    ASSERT_EQ(0, twin.Compile(c.pattern, c.caseSensitive, 0)) << c.pattern;
    EXPECT_TRUE(re.Skips()) << c.pattern;
    const std::string prefix = c.prefix;
    const std::string others = prefix + " Z9.\n";
    for (int round = 0; round < 400; ++round) {
      std::string text;
      const size_t size = round % 4 == 0 ? 300 + rng() % 400 : 1 + rng() % 90;
      while (text.size() < size) {
        switch (rng() % 4) {
          case 0: text.append(1 + rng() % 20, 'q'); break;
          case 1: text += others[rng() % others.size()]; break;
          default:  // the prefix cut at some depth, then any byte
            text += prefix.substr(0, 1 + rng() % prefix.size());
            text += others[rng() % others.size()];
        }
      }
      if (rng() % 3 == 0) text += rng() % 2 ? "--=_NextPart_09AF.0123ABCD" : prefix + "xd";
      const DWORD n = static_cast<DWORD>(text.size());
      tag_HIT flat{0, 77}, packed{0, 77};
      flat.at = re.Search(text.data(), n, &flat.len);
      packed.at = re.SimulateAutomaton(twin.GetTable(), text.data(), n, &packed.len);
      ASSERT_EQ(packed.at, flat.at) << c.pattern << " / " << text;
      ASSERT_EQ(packed.len, flat.len) << c.pattern << " / " << text;

      CTestStream a(text), b(text);
      a.maxChunk = 1 + rng() % 40;
      flat.at = re.Search(&a, 0x7FFFFFFF, &flat.len);
      packed.at = re.SimulateAutomaton(twin.GetTable(), &b, 0x7FFFFFFF, &packed.len);
      ASSERT_EQ(packed.at, flat.at) << c.pattern << " / " << text << " in pieces of " << a.maxChunk;
      ASSERT_EQ(packed.len, flat.len) << c.pattern << " / " << text << " in pieces of " << a.maxChunk;
    }
  }
}
