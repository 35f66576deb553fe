// N-gram vectors: creation from text against an oracle written here, the
// frozen stop-word table, arithmetic, dot products and the record.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "classify/ngramsvector.h"
#include "common/runprogram.h"
#include "common/teststream.h"
#include "recordbytes.h"

using namespace telsor;

namespace {

typedef std::vector<std::pair<std::string, float>> Entries;

Entries List(const CNGramsVector& v) {
  Entries out;
  for (DWORD i = 0; i < v.GetCount(); ++i)
    out.emplace_back(std::string(reinterpret_cast<const char*>(v.GetEntry(i)), v.GetLenNGrams()),
                     static_cast<float>(v.GetWeight(i)));
  return out;
}

Entries Make(WORD n, const std::string& text, bool stopWords) {
  CNGramsVector v(n, text.data(), static_cast<DWORD>(text.size()),
                  stopWords ? DefaultNextStopWord : nullptr);
  return List(v);
}

// The frozen stop-word table in its sorted (case-insensitive) order.
const std::vector<std::string> kFrozenStopWords = {
    "\r\n.\r\n", "Alice", "Amanda", "an", "and", "Andrew", "Angela", "Ann", "Anna", "Anne",
    "Anthony", "are", "as", "at", "Barbara", "be", "Betty", "Brian", "can", "cannot",
    "Catherine", "Charles", "Christopher", "Cynthia", "Daniel", "David", "Deborah", "Dennis", "do",
    "does", "Donald", "Donna", "Dorothy", "Edward", "Elizabeth", "Emily", "Eric", "et", "Frances",
    "from", "George", "Gregory", "has", "have", "Helen", "if", "in", "is", "James", "Janet",
    "Jason", "Jeffrey", "Jennifer", "Jessica", "John", "Joseph", "Joshua", "Karen", "Kenneth",
    "Kevin", "Kimberly", "Larry", "Laura", "Linda", "Lisa", "Margaret", "Maria", "Mary",
    "Matthew", "may", "Melissa", "Michael", "Michelle", "Nancy", "Nicholas", "not", "of", "one",
    "or", "Pamela", "Patricia", "Paul", "Rebecca", "Richard", "Robert", "Ronald", "Ruth",
    "Samuel", "Sandra", "Sarah", "Scott", "Sharon", "Shirley", "Stephen", "Steven", "Susan",
    "than", "that", "the", "this", "Thomas", "Timothy", "to", "Walter", "was", "were", "which",
    "William", "with"};

// --- The oracle: the rules of n-gram extraction, written plainly. ---

bool OracleSeparator(unsigned char c) {
  return c <= 0x2C || c == 0x2E || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x5E) ||
         c == 0x60 || (c >= 0x7B && c <= 0x7F);
}

bool OracleStopWord(const std::string& word) {
  std::string w = word;
  for (char& c : w) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (const std::string& s : kFrozenStopWords) {
    std::string t = s;
    for (char& c : t) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (t == w) return true;
  }
  return false;
}

std::map<std::string, int> OracleGrams(const std::string& text, size_t n, bool stopWords) {
  std::vector<bool> skip(text.size(), false);
  if (stopWords) {
    size_t i = 0;
    while (i < text.size()) {
      if (OracleSeparator(text[i])) {
        ++i;
        continue;
      }
      size_t start = i;
      while (i < text.size() && !OracleSeparator(text[i])) ++i;
      if (OracleStopWord(text.substr(start, i - start))) {
        size_t end = i;
        if (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\v')) ++end;
        for (size_t k = start; k < end; ++k) skip[k] = true;
      }
    }
  }
  std::string kept;
  const std::string ignored = "[](),`'\"\\^~*";
  for (size_t i = 0; i < text.size(); ++i) {
    if (skip[i]) continue;
    unsigned char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n' && i > 0 && text[i - 1] == '\r') continue;
    if (c < 0x20) {
      kept += ' ';
      continue;
    }
    if (ignored.find(static_cast<char>(c)) != std::string::npos) continue;
    kept += static_cast<char>(c);
  }
  std::map<std::string, int> grams;
  for (size_t i = 0; n > 0 && i + n <= kept.size(); ++i) ++grams[kept.substr(i, n)];
  return grams;
}

Entries OracleEntries(const std::string& text, size_t n, bool stopWords) {
  Entries out;
  for (const auto& g : OracleGrams(text, n, stopWords))
    out.emplace_back(g.first, static_cast<float>(log2(g.second + 1.0)));
  return out;
}

// A byte-wise ordered map of n-gram -> weight, for the arithmetic oracle.
std::map<std::string, float> AsMap(const CNGramsVector& v) {
  std::map<std::string, float> m;
  for (const auto& e : List(v)) m[e.first] = e.second;
  return m;
}

std::string RandomGram(std::mt19937& rng, size_t n, int alphabet) {
  std::string g;
  for (size_t i = 0; i < n; ++i) g += static_cast<char>('a' + rng() % alphabet);
  return g;
}

CNGramsVector RandomVector(std::mt19937& rng, WORD n, size_t count, int alphabet) {
  CNGramsVector v(n);
  std::uniform_real_distribution<float> w(-2.0f, 2.0f);
  for (size_t i = 0; i < count; ++i) {
    std::string g = RandomGram(rng, n, alphabet);
    v.InsertEntry(w(rng), reinterpret_cast<const BYTE*>(g.data()));
  }
  return v;
}

// The plain merge: products of common n-grams added in ascending order.
double PlainDot(const CNGramsVector& a, const CNGramsVector& b) {
  std::map<std::string, float> ma = AsMap(a), mb = AsMap(b);
  double sum = 0.0;
  for (const auto& e : ma) {
    auto it = mb.find(e.first);
    if (it != mb.end()) sum += static_cast<double>(e.second) * static_cast<double>(it->second);
  }
  return sum;
}

}  // namespace

TEST(StopWordTableTest, IsFrozen) {
  ASSERT_EQ(109u, GetStopWordCount());
  ASSERT_EQ(kFrozenStopWords.size(), GetStopWordCount());
  for (DWORD i = 0; i < GetStopWordCount(); ++i) {
    EXPECT_EQ(kFrozenStopWords[i], GetStopWord(i).pszWord) << i;
    EXPECT_EQ(kFrozenStopWords[i].size(), GetStopWord(i).dwLength) << i;
  }
}

TEST(StopWordTableTest, TablesHoldTheirBytes) {
  std::string ignored;
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(OracleSeparator(static_cast<unsigned char>(c)), IsWordSeparator(static_cast<BYTE>(c))) << c;
    if (IsIgnoredChar(static_cast<BYTE>(c))) ignored += static_cast<char>(c);
  }
  std::string want = "[](),`'\"\\^~*";
  std::sort(want.begin(), want.end());
  EXPECT_EQ(want, ignored);
}

TEST(StopWordTableTest, FinderReportsOffsetAndSkip) {
  struct Case {
    const char* text;
    DWORD offset;
    DWORD skip;
  } cases[] = {
      {"the cat", 0, 4},          // blank after the word is skipped too
      {"THE\tcat", 0, 4},         // any case; a tab counts like a blank
      {"big\vThe cat", 4, 4},     // vertical tab
      {"cat the", 4, 3},          // at the very end: the word alone
      {"cat the\nx", 4, 3},       // a line feed is not skipped
      {"can't", 0, 3},            // ended by an apostrophe
      {"cannot cans", 0, 7},
      {"cans canned", 0xFFFFFFFFu, 0},   // whole words only
      {"bothe theme", 0xFFFFFFFFu, 0},
      {"re-do it", 0xFFFFFFFFu, 0},       // '-' joins words
      {"x_the", 0xFFFFFFFFu, 0},          // '_' joins words
      {"a.John.b", 2, 4},                 // '.' separates; not a blank, no extra byte
      {"\xe9the the", 5, 3},              // bytes from 0x80 belong to words
      {"", 0xFFFFFFFFu, 0},
  };
  for (const Case& c : cases) {
    DWORD skip = 99;
    DWORD at = DefaultNextStopWord(c.text, static_cast<DWORD>(strlen(c.text)), skip);
    EXPECT_EQ(c.offset, at) << c.text;
    if (at != 0xFFFFFFFFu) {
      EXPECT_EQ(c.skip, skip) << c.text;
    }
  }
  // The separator row never matches: its bytes are all separators.
  DWORD skip = 0;
  EXPECT_EQ(0xFFFFFFFFu, DefaultNextStopWord("\r\n.\r\n", 5, skip));
}

TEST(StopWordTableTest, LookupIgnoresAsciiCaseOnly) {
  // Every row in three spellings is found; near misses (one letter more or
  // less, a byte that differs only in bit 0x20 outside the letters) are not.
  for (const std::string& row : kFrozenStopWords) {
    if (row == "\r\n.\r\n") continue;
    std::string lower = row, upper = row;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    // The padded lookup reads past the word: what follows must not count.
    const auto padded = [](const std::string& w) {
      const std::string p = w + "sXYZ-the_ANDxx\xe9\xe9";
      return IsStopWordPadded(reinterpret_cast<const BYTE*>(p.data()), static_cast<DWORD>(w.size()));
    };
    for (const std::string& w : {row, lower, upper}) {
      EXPECT_TRUE(IsStopWord(reinterpret_cast<const BYTE*>(w.data()), static_cast<DWORD>(w.size()))) << w;
      EXPECT_TRUE(padded(w)) << w;
    }
    for (const std::string& w : {lower + "s", lower.substr(1), lower.substr(0, lower.size() - 1) + "_",
                                 lower.substr(0, lower.size() - 1) + "\xe1"}) {
      EXPECT_EQ(OracleStopWord(w), IsStopWord(reinterpret_cast<const BYTE*>(w.data()),
                                              static_cast<DWORD>(w.size())))
          << ::testing::PrintToString(w);
      EXPECT_EQ(OracleStopWord(w), padded(w)) << ::testing::PrintToString(w);
    }
  }
  // The first-byte flags hold every row's first letter at its length, and
  // nothing for a letter no row of that length begins with.
  for (const std::string& row : kFrozenStopWords) {
    if (row == "\r\n.\r\n") continue;
    const BYTE* starts = GetStopWordStarts(static_cast<DWORD>(row.size()));
    ASSERT_TRUE(starts != nullptr) << row;
    EXPECT_EQ(1, starts[static_cast<BYTE>(row[0]) | 0x20]) << row;
  }
  EXPECT_EQ(0, GetStopWordStarts(3)['q']);
  EXPECT_TRUE(GetStopWordStarts(17) == nullptr);
  EXPECT_FALSE(IsStopWord(reinterpret_cast<const BYTE*>("T\xc8" "E"), 3));  // 0xC8 | 0x20 is no 'h'
  EXPECT_FALSE(IsStopWord(reinterpret_cast<const BYTE*>("christopherx"), 12));
}

TEST(NGramsVectorTest, ExamplesOfCreation) {
  const float l3 = static_cast<float>(log2(3.0));
  struct Case {
    const char* name;
    WORD n;
    std::string text;
    bool stop;
    Entries want;
  } cases[] = {
      {"stop word and its blank", 3, "the cat", true, {{"cat", 1.0f}}},
      {"stop word in capitals", 3, "THE cat", true, {{"cat", 1.0f}}},
      {"repeated n-grams", 3, "catcat", false, {{"atc", 1.0f}, {"cat", l3}, {"tca", 1.0f}}},
      {"CR LF left out", 4, "ab\r\ncd", false, {{"abcd", 1.0f}}},
      {"lone LF is a blank", 4, "ab\ncd", false, {{"ab c", 1.0f}, {"b cd", 1.0f}}},
      {"lone CR is a blank", 3, "a\rb", false, {{"a b", 1.0f}}},
      {"control byte is a blank", 3, std::string("a\0b", 3), false, {{"a b", 1.0f}}},
      {"ignored characters", 2, "(ab)", false, {{"ab", 1.0f}}},
      {"shorter than n", 2, "a", false, {}},
      {"fewer kept than n", 2, "(a)", false, {}},
      {"stop word at the end", 3, "cat the", true, {{"at ", 1.0f}, {"cat", 1.0f}}},
      {"can't", 3, "can't stop", true, {{" st", 1.0f}, {"sto", 1.0f}, {"t s", 1.0f}, {"top", 1.0f}}},
      {"no case folding, blanks kept", 2, "Aa  ", false, {{"  ", 1.0f}, {"Aa", 1.0f}, {"a ", 1.0f}}},
      {"high bytes kept", 2, "\xe9\xe9\xe9", false, {{"\xe9\xe9", l3}}},
      {"three occurrences weigh 2", 1, "xxx", false, {{"x", 2.0f}}},
      {"only stop words", 3, "the and of", true, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, Make(c.n, c.text, c.stop)) << c.name;
  // Length 0xFFFFFFFF reads up to the NUL; a null text gives nothing.
  CNGramsVector z(3, "catcat", 0xFFFFFFFFu, nullptr);
  EXPECT_EQ(3u, z.GetCount());
  z.Create(3, nullptr, 5, nullptr);
  EXPECT_EQ(0u, z.GetCount());
  EXPECT_EQ(3, z.GetLenNGrams());
}

TEST(NGramsVectorTest, CreationAgreesWithOracleOnRandomText) {
  std::mt19937 rng(12345);
  const std::vector<std::string> pieces = {
      "the ", "The\t", "and", "cat", "can't", "Mary", "john", " ", "  ", "\r\n", "\n", "\r",
      "(x)", "[*]", "\"q\"", "-", "_", ".", "\xc3\xa9", "\x01", "a", "b", "1", "cannot\v", "ofof", "TO"};
  for (int round = 0; round < 400; ++round) {
    std::string text;
    size_t parts = rng() % 40;
    for (size_t i = 0; i < parts; ++i) text += pieces[rng() % pieces.size()];
    for (WORD n : {1, 2, 3, 4, 5, 8, 9, 12}) {
      bool stop = rng() % 2 == 0;
      ASSERT_EQ(OracleEntries(text, n, stop), Make(n, text, stop))
          << "n=" << n << " stop=" << stop << " text=" << ::testing::PrintToString(text);
    }
  }
}

TEST(NGramsVectorTest, LongTextsAgreeWithOracle) {
  // Texts of thousands of n-grams (the radix sorts), at every keyed length
  // and beyond, with and without stop words.
  std::mt19937 rng(777);
  const std::vector<std::string> pieces = {
      "the ", "THE ", "and\t", "Cat", "cat ", "can't ", "Mary ", "JOHN\v", "\r\n", "\n", "\r", "x(y)z",
      "\xc3\xa9t\xc3\xa9 ", "\x01", "-", "_", ".", "1234 ", "\xff\xff\xff\xff\xff\xff\xff\xff",
      std::string(3, '\0'), "ofof ", "Christopher ", "within "};
  for (int round = 0; round < 12; ++round) {
    std::string text;
    // The first rounds are long enough for the wide-digit sort.
    size_t parts = round < 3 ? 3000 + rng() % 3000 : 300 + rng() % 900;
    for (size_t i = 0; i < parts; ++i) text += pieces[rng() % pieces.size()];
    for (WORD n : {1, 2, 3, 4, 5, 6, 7, 8, 9}) {
      bool stop = (round + n) % 2 == 0;
      ASSERT_EQ(OracleEntries(text, n, stop), Make(n, text, stop)) << "n=" << n << " stop=" << stop;
    }
  }
}

TEST(NGramsVectorTest, TextsOfSeveralSortChunksAgreeWithOracle) {
  // Over a million windows: sorted a chunk at a time and merged, with runs
  // of equal windows that span the chunks' seams.
  std::mt19937 rng(4242);
  const std::vector<std::string> pieces = {"offer ", "money ", "cheap ", "pills ", "click ", "here\r\n",
                                           "the ", "x", "\xc3\xa9t\xc3\xa9 ", "2024 "};
  std::string text;
  while (text.size() < 1500000) text += pieces[rng() % pieces.size()];
  ASSERT_EQ(OracleEntries(text, 5, false), Make(5, text, false));
}

TEST(NGramsVectorTest, CreationAgreesWithOracleOnRealMail) {
  const char* corpora = getenv("QOR_CORPORA");
  if (corpora == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  const std::string dir = std::string(corpora) + "/spamassassin/train/spam-1/";
  std::vector<std::string> texts;
  const telsor_test::ProgramRun list = telsor_test::RunProgram("ls " + dir + " 2>/dev/null | head -20");
  for (const std::string& name : telsor_test::Lines(list.output)) {
    std::string path = dir + name;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) continue;
    std::string text;
    char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
    fclose(f);
    texts.push_back(text);
  }
  ASSERT_FALSE(texts.empty()) << dir;
  for (const std::string& text : texts) {
    EXPECT_EQ(OracleEntries(text, 5, true), Make(5, text, true));
    EXPECT_EQ(OracleEntries(text, 10, true), Make(10, text, true));
  }
}

TEST(NGramsVectorTest, LongNGramsOfRepeatedText) {
  // Windows that agree over thousands of bytes: every one of them is the
  // same n-gram, or one of two alternating ones.
  const std::string run(100000, 'a');
  CNGramsVector v(4000, run.data(), static_cast<DWORD>(run.size()), nullptr);
  ASSERT_EQ(1u, v.GetCount());
  EXPECT_EQ(static_cast<float>(log2(96002.0)), static_cast<float>(v.GetWeight(0)));
  EXPECT_EQ(std::string(4000, 'a'), std::string(reinterpret_cast<const char*>(v.GetEntry(0)), 4000));
  std::string ab;
  for (int i = 0; i < 30000; ++i) ab += "ab";
  ab += "b";
  CNGramsVector w(3001, ab.data(), static_cast<DWORD>(ab.size()), nullptr);
  ASSERT_EQ(3u, w.GetCount());
  // "abab...a", "abab...ab" ending in the extra b, "baba...b".
  EXPECT_EQ(static_cast<float>(log2(28501.0)), static_cast<float>(w.GetWeight(0)));
  EXPECT_EQ('b', w.GetEntry(1)[3000]);
  EXPECT_EQ(1.0, w.GetWeight(1));
  EXPECT_EQ('b', w.GetEntry(2)[0]);
}

TEST(NGramsVectorTest, FinderThatSkipsNothingStopsBeingAsked) {
  // A finder that reports a stop word of length 0 would be asked the same
  // question for ever; the walk ignores it and keeps the text.
  auto zero = [](const char*, DWORD, DWORD& stop) -> DWORD {
    stop = 0;
    return 0;
  };
  CNGramsVector v(2, "abc", 3, zero);
  EXPECT_EQ((Entries{{"ab", 1.0f}, {"bc", 1.0f}}), List(v));
  // A skip past the end ends the walk there.
  auto longSkip = [](const char*, DWORD, DWORD& stop) -> DWORD {
    stop = 100;
    return 2;
  };
  CNGramsVector w(2, "abcdef", 6, longSkip);
  EXPECT_EQ((Entries{{"ab", 1.0f}}), List(w));
}

TEST(NGramsVectorTest, EntriesAndEdits) {
  CNGramsVector v(3, "catcat", 6, nullptr);
  EXPECT_EQ(0.0, v.GetWeight(3));
  EXPECT_EQ(nullptr, v.GetEntry(3));
  v.RemoveEntry(3);
  EXPECT_EQ(3u, v.GetCount());
  CNGramsVector shared = v;
  v.InsertEntry(0.5, reinterpret_cast<const BYTE*>("bbb"));  // between atc and cat
  v.InsertEntry(4.0, reinterpret_cast<const BYTE*>("cat"));  // replaces the weight
  v.InsertEntry(7.0, reinterpret_cast<const BYTE*>("zzz"));  // appended
  v.InsertEntry(8.0, reinterpret_cast<const BYTE*>("aaa"));  // in front
  EXPECT_EQ((Entries{{"aaa", 8.0f}, {"atc", 1.0f}, {"bbb", 0.5f}, {"cat", 4.0f}, {"tca", 1.0f}, {"zzz", 7.0f}}),
            List(v));
  // The copy made before the edits kept the old entries.
  EXPECT_EQ(3u, shared.GetCount());
  EXPECT_FLOAT_EQ(static_cast<float>(log2(3.0)), static_cast<float>(shared.GetWeight(1)));
  v.RemoveEntry(0);
  v.RemoveEntry(4);
  EXPECT_EQ((Entries{{"atc", 1.0f}, {"bbb", 0.5f}, {"cat", 4.0f}, {"tca", 1.0f}}), List(v));
  v.InsertEntry(0.0, reinterpret_cast<const BYTE*>("bbb"));
  v.Pack();
  EXPECT_EQ((Entries{{"atc", 1.0f}, {"cat", 4.0f}, {"tca", 1.0f}}), List(v));
  v.Reserve(1000);
  EXPECT_EQ(3u, v.GetCount());
  EXPECT_EQ(3, v.ResetLenNGrams(4));
  EXPECT_EQ(0u, v.GetCount());
  EXPECT_EQ(4, v.GetLenNGrams());
  EXPECT_EQ(8u, v.GetElemSize());
}

TEST(NGramsVectorTest, InsertingInAnyOrderKeepsEntriesSorted) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    CNGramsVector v(4);
    std::map<std::string, float> want;
    for (int i = 0; i < 200; ++i) {
      std::string g = RandomGram(rng, 4, 3);
      float w = static_cast<float>(rng() % 100) / 8.0f + 0.125f;
      v.InsertEntry(w, reinterpret_cast<const BYTE*>(g.data()));
      want[g] = w;
    }
    EXPECT_EQ(want, AsMap(v));
    Entries l = List(v);
    EXPECT_TRUE(std::is_sorted(l.begin(), l.end()));
  }
}

TEST(NGramsVectorTest, ArithmeticAgreesWithMaps) {
  std::mt19937 rng(99);
  for (int round = 0; round < 100; ++round) {
    CNGramsVector a = RandomVector(rng, 3, rng() % 60, 4);
    CNGramsVector b = RandomVector(rng, 3, rng() % 60, 4);
    std::map<std::string, float> ma = AsMap(a), mb = AsMap(b), sum = ma, diff = ma;
    for (const auto& e : mb) {
      auto add = [&](std::map<std::string, float>& m, double sign) {
        auto it = m.find(e.first);
        if (it == m.end()) {
          m[e.first] = static_cast<float>(sign * e.second);
          return;
        }
        float w = static_cast<float>(static_cast<double>(it->second) + sign * e.second);
        if (w == 0.0f)
          m.erase(it);
        else
          it->second = w;
      };
      add(sum, 1.0);
      add(diff, -1.0);
    }
    EXPECT_EQ(sum, AsMap(a + b));
    EXPECT_EQ(diff, AsMap(a - b));
    CNGramsVector c = a;
    c += b;
    EXPECT_TRUE(c == a + b);
    c -= b;
    c -= a;
    // a + b - b - a holds only rounding residue, if anything.
    for (const auto& e : List(c)) EXPECT_LT(fabs(e.second), 1e-5) << e.first;
    // Squared distance: the difference's squared length.
    double d = 0.0;
    for (const auto& e : diff) d += static_cast<double>(e.second) * e.second;
    // (the oracle's differences are rounded to f32, the vector's are not)
    EXPECT_NEAR(d, a.DotProductThisMinusVec(b), 1e-6 * (1 + d));
    const double D = a.DotProductThisMinusVec(b);
    EXPECT_DOUBLE_EQ(exp(-0.5 * (D / 2.0) * (D / 2.0)), a.GaussianKernel(b, 2.0));
    EXPECT_EQ(a == b, ma == mb);
  }
}

TEST(NGramsVectorTest, ScalingAndEquality) {
  CNGramsVector a(3, "abcabcxyz", 9, nullptr);
  CNGramsVector minus = a;
  minus *= -1.0;
  EXPECT_EQ(0u, (a + minus).GetCount());
  CNGramsVector zero = a;
  zero *= 0.0;
  EXPECT_EQ(0u, zero.GetCount());
  CNGramsVector half = a;
  half *= 0.5;
  for (DWORD i = 0; i < a.GetCount(); ++i) EXPECT_EQ(a.GetWeight(i) * 0.5, half.GetWeight(i));
  EXPECT_TRUE(a != half);
  CNGramsVector b(3, "abcabcxyz", 9, nullptr);
  EXPECT_TRUE(a == b);
  b.InsertEntry(b.GetWeight(b.GetCount() - 1) + 1, b.GetEntry(b.GetCount() - 1));
  EXPECT_TRUE(a != b);  // the last weight differs
  // Empty vectors are equal whatever their n.
  EXPECT_TRUE(CNGramsVector(3) == CNGramsVector(5));
}

TEST(NGramsVectorTest, QuickDotProductEqualsPlainMerge) {
  std::mt19937 rng(2024);
  const size_t sizes[][2] = {{1, 1}, {10, 10}, {30, 90}, {20, 80}, {20, 81}, {10, 400},
                             {5, 5000}, {1, 3000}, {200, 50}, {0, 10}, {3000, 2}, {700, 700}};
  for (WORD n : {4, 5, 7}) {
    for (const auto& s : sizes) {
      for (int alphabet : {3, 6}) {
        CNGramsVector a = RandomVector(rng, n, s[0], alphabet);
        CNGramsVector b = RandomVector(rng, n, s[1], alphabet);
        double want = PlainDot(a, b);
        const size_t es = a.GetElemSize();
        EXPECT_EQ(want, QuickDotProduct(a.GetEntries(), a.GetEntries() + a.GetCount() * es,
                                        b.GetEntries(), b.GetEntries() + b.GetCount() * es, n))
            << "n=" << n << " sizes " << s[0] << "/" << s[1];
        EXPECT_EQ(want, a.DotProduct(b));
        EXPECT_EQ(want, b.DotProduct(a));
      }
    }
  }
  // Short n-grams take the merge walk.
  for (WORD n : {1, 2, 3}) {
    CNGramsVector a = RandomVector(rng, n, 40, 5);
    CNGramsVector b = RandomVector(rng, n, 300, 5);
    EXPECT_EQ(PlainDot(a, b), a.DotProduct(b));
  }
}

// The lengths on either side of the whole-gram integer keys (up to 8 bytes)
// and past them meet the same entries as the plain merge.
TEST(NGramsVectorTest, QuickDotProductAtEveryKeyLength) {
  std::mt19937 rng(77);
  // Two letters make common n-grams likely even at 12 bytes.
  const size_t sizes[][2] = {{15, 15}, {10, 300}, {300, 12}, {400, 400}, {20, 2000}};
  for (WORD n : {6, 8, 9, 12}) {
    for (const auto& s : sizes) {
      for (int alphabet : {2, 3}) {
        CNGramsVector a = RandomVector(rng, n, s[0], alphabet);
        CNGramsVector b = RandomVector(rng, n, s[1], alphabet);
        const double want = PlainDot(a, b);
        EXPECT_EQ(want, a.DotProduct(b)) << "n=" << n << " sizes " << s[0] << "/" << s[1];
        EXPECT_EQ(want, b.DotProduct(a)) << "n=" << n << " sizes " << s[0] << "/" << s[1];
      }
    }
  }
}

TEST(NGramsVectorTest, SelfProductAndDifferentLengths) {
  CNGramsVector a(3, "catcat", 6, nullptr);
  const double l3 = static_cast<float>(log2(3.0));
  EXPECT_DOUBLE_EQ(2.0 + l3 * l3, a.DotProduct());
  EXPECT_DOUBLE_EQ(a.DotProduct(), a.DotProduct(a));
  // Vectors of different n share no n-gram.
  CNGramsVector b(4, "catcat", 6, nullptr);
  EXPECT_EQ(0.0, a.DotProduct(b));
  EXPECT_DOUBLE_EQ(a.DotProduct() + b.DotProduct(), a.DotProductThisMinusVec(b));
  EXPECT_TRUE(a != b);
  // They cannot be added; the left operand is unchanged.
  CNGramsVector c = a;
  try {
    c += b;
    ADD_FAILURE() << "no exception";
  } catch (DWORD code) {
    EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), code);
  }
  EXPECT_TRUE(c == a);
  // An empty operand of another length changes nothing.
  c -= CNGramsVector(9);
  EXPECT_TRUE(c == a);
}

TEST(NGramsVectorTest, ElementIndexPairsAreUnordered) {
  tag_ELEM_INDEXES a = {3, 7}, b = {7, 3}, c = {1, 6}, d = {2, 5}, e = {2, 6};
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_TRUE(d < c);   // larger index 5 before 6
  EXPECT_TRUE(c < e);   // same larger index: smaller index decides
  EXPECT_FALSE(e < c);
  std::set<tag_ELEM_INDEXES> keys = {a, b, c, d, e};
  EXPECT_EQ(4u, keys.size());
}

TEST(NGramsVectorTest, HelpersCompareBytesUnsigned) {
  WORD n = 2;
  EXPECT_LT(CmpNGramsToken("a\x7f", "a\x80", &n), 0);
  EXPECT_EQ(0, CmpNGramsToken("abX", "abY", &n));
  CNGramsVector v(2, "abcdxy", 6, nullptr);  // ab bc cd dx xy
  const BYTE* begin = v.GetEntries();
  const BYTE* end = begin + v.GetCount() * v.GetElemSize();
  EXPECT_EQ(v.GetEntry(2) - 4, EqualOrUpperBound(reinterpret_cast<const BYTE*>("cd"), begin, end, 6));
  EXPECT_EQ(v.GetEntry(2) - 4, EqualOrUpperBound(reinterpret_cast<const BYTE*>("ca"), begin, end, 6));
  EXPECT_EQ(end, EqualOrUpperBound(reinterpret_cast<const BYTE*>("zz"), begin, end, 6));
  EXPECT_EQ(begin, EqualOrUpperBound(reinterpret_cast<const BYTE*>("\x01"), begin, end, 6));
}

TEST(NGramsVectorRecordTest, OrderCheckAgreesWithByteComparison) {
  // Pairs and runs of entries at every length, with bytes that differ only
  // in their high bit or in their last place: the check says what a plain
  // unsigned byte comparison of neighbours says.
  std::mt19937 rng(99);
  const BYTE alphabet[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
  for (WORD n = 0; n <= 10; ++n) {
    for (int round = 0; round < 300; ++round) {
      const size_t count = rng() % 4;
      std::string entries;
      for (size_t i = 0; i < count; ++i) {
        entries += std::string(4, '\x11');
        for (WORD b = 0; b < n; ++b) entries += static_cast<char>(alphabet[rng() % sizeof alphabet]);
      }
      const BYTE* p = reinterpret_cast<const BYTE*>(entries.data());
      bool want = true;
      for (size_t i = 1; i < count; ++i)
        if (memcmp(p + (i - 1) * (n + 4) + 4, p + i * (n + 4) + 4, n) >= 0) want = false;
      ASSERT_EQ(want, StrictlyAscending(p, count, n)) << "n=" << n << " " << ::testing::PrintToString(entries);
    }
  }
}

TEST(NGramsVectorRecordTest, GoldenBytesAndRoundTrip) {
  CNGramsVector v(3, "catcat", 6, nullptr);
  std::string bytes = Stored([&](CTestStream& s) { return v.Serialize(&s, 1); });
  const std::string want = U16(3) + U32(7) + U32(3) + std::string("\x00\x00\x80\x3f" "atc", 7) +
                           std::string("\x0d\xe0\xca\x3f" "cat", 7) + std::string("\x00\x00\x80\x3f" "tca", 7);
  EXPECT_EQ(want, bytes);
  CTestStream in(bytes);
  CNGramsVector r(5);
  ASSERT_EQ(S_OK, r.Serialize(&in, 0));
  EXPECT_TRUE(r == v);
  EXPECT_EQ(3, r.GetLenNGrams());
  // An empty vector: the ten header bytes.
  CNGramsVector e(5);
  EXPECT_EQ(U16(5) + U32(9) + U32(0), Stored([&](CTestStream& s) { return e.Serialize(&s, 1); }));
  // A large random vector survives the trip whole.
  std::mt19937 rng(5);
  CNGramsVector big = RandomVector(rng, 5, 20000, 8);
  CTestStream trip(Stored([&](CTestStream& s) { return big.Serialize(&s, 1); }));
  CNGramsVector back(5);
  ASSERT_EQ(S_OK, back.Serialize(&trip, 0));
  EXPECT_TRUE(back == big);
}

TEST(NGramsVectorRecordTest, WriteFailureIsReturned) {
  CNGramsVector v(3, "catcat", 6, nullptr);
  CTestStream s;
  s.failWrite = static_cast<HRESULT>(0x8000ABCDu);
  EXPECT_EQ(static_cast<HRESULT>(0x8000ABCDu), v.Serialize(&s, 1));
  EXPECT_EQ(E_POINTER, v.Serialize(nullptr, 1));
}
