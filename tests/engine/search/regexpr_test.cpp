// Regular-expression matcher: offsets and lengths of the scan, anchors,
// case rules, limits, stream against buffer searches, records, threads.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "chainrecord.h"
#include "common/cputime.h"
#include "search/dfa.h"
#include "search/regexpr.h"
#include "common/teststream.h"

using namespace telsor;

namespace {
const DWORD kNone = SEEK_NOT_FOUND;

struct tag_HIT {
  DWORD at;
  DWORD len;
};

tag_HIT Find(const CRegExpr& re, const std::string& text) {
  DWORD len = 77;
  DWORD at = re.Search(text.data(), static_cast<DWORD>(text.size()), &len);
  return {at, len};
}

tag_HIT FindInStream(const CRegExpr& re, const std::string& text, size_t from, DWORD maxBytes) {
  CTestStream s(text);
  s.pos = from;
  DWORD len = 77;
  DWORD at = re.Search(&s, maxBytes, &len);
  return {at, len};
}

// A stream whose failing Read leaves the count it was given untouched.
class CGarbageCountStream : public CTestStream {
 public:
  using CTestStream::CTestStream;
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override {
    if (pos >= failReadAt) {
      if (done) *done = count;  // what a careless stream might leave behind
      memset(buffer, 'b', count);
      return E_FAIL;
    }
    return CTestStream::Read(buffer, count, done);
  }
};
}  // namespace

TEST(RegExprTest, OffsetsAndLengths) {
  const struct {
    const char* pattern;
    int caseSensitive;
    const char* text;
    DWORD at;
    DWORD len;
  } cases[] = {
      {"abc", 1, "xxabcx", 2, 3},
      {"^ab", 1, "xab", kNone, 0},
      {"^ab", 1, "abab", 0, 2},
      {"b$", 1, "abb", 1, 2},
      {"b$", 1, "ba", kNone, 0},
      {"ab", 1, "aab", 0, 3},   // the start is fixed when state 0 is left
      {"^a+", 1, "aaab", 0, 3},  // longest from the start
      {"a+", 1, "aaab", 0, 1},   // first accept
      {"ABC", 0, "xaBcx", 1, 3},
      {"abc", 1, "xaBcx", kNone, 0},
      {"x\\.y", 1, "axay x.y", 5, 3},  // back in state 0 before the hit
      {"[[:digit:]]+", 1, "ab12", 2, 1},
      {"a$b", 1, "xa$b", 1, 3},
      {"\\$$", 1, "a$", 1, 1},
      {"a\\\\$", 1, "a\\", 0, 2},
      {"(ab|cd)e", 1, "xxcde", 2, 3},
  };
  for (const auto& c : cases) {
    CRegExpr re;
    ASSERT_EQ(0, re.Compile(c.pattern, c.caseSensitive, 0)) << c.pattern;
    tag_HIT hit = Find(re, c.text);
    EXPECT_EQ(c.at, hit.at) << c.pattern << " on " << c.text;
    EXPECT_EQ(c.len, hit.len) << c.pattern << " on " << c.text;
  }
}

TEST(RegExprTest, AnchorFlags) {
  const struct {
    const char* pattern;
    BYTE flags;
  } cases[] = {{"^a", 5}, {"a$", 2}, {"^a$", 7}, {"a\\$", 0}, {"a\\\\$", 2}, {"$", 0}, {"a", 0}};
  for (const auto& c : cases) {
    CRegExpr re;
    ASSERT_EQ(0, re.Compile(c.pattern, 1, 0));
    EXPECT_EQ(c.flags, re.GetFlags()) << c.pattern;
  }
}

TEST(RegExprTest, NulBytesReadAsTheSubstitute) {
  CRegExpr re;
  ASSERT_EQ(0, re.Compile("a b", 1, 0));
  const std::string text("xa\0b", 4);
  tag_HIT hit = Find(re, text);
  EXPECT_EQ(1u, hit.at);
  EXPECT_EQ(3u, hit.len);
  EXPECT_EQ(0x20, re.GetNulSubstitute());
  // An empty text is scanned as one NUL byte.
  ASSERT_EQ(0, re.Compile(" ", 1, 0));
  EXPECT_EQ(0u, re.Search("", 0, nullptr));
}

TEST(RegExprTest, CaseInsensitiveKeepsEscapesAndClasses) {
  const struct {
    const char* pattern;
    const char* text;
    DWORD at;
  } cases[] = {
      {"\\S+", "  X", 2},         // \S is not turned into \s
      {"\\W", "abC_9-", 5},       // \W is not \w
      {"\\D", "12A", 2},          // \D is not \d
      {"[[:upper:]]", "12q", 2},  // upper-case class matches either case
      {"[^A]", "aAb", 2},         // a negated letter excludes both cases
      {"HELLO", "say hello", 4},
      {"\\x41", "bA", 1},
  };
  for (const auto& c : cases) {
    CRegExpr re;
    ASSERT_EQ(0, re.Compile(c.pattern, 0, 0)) << c.pattern;
    EXPECT_EQ(c.at, re.Search(c.text, 0, nullptr)) << c.pattern << " on " << c.text;
  }
  // The stored pattern is the lower-cased text.
  CRegExpr re;
  ASSERT_EQ(0, re.Compile("A\\S[[:UPPER:]]", 0, 0));
  EXPECT_STREQ("a\\s[[:upper:]]", re.GetPattern(0));
  EXPECT_EQ(kNone, re.Search("a b", 0, nullptr));  // still "not a space"
}

TEST(RegExprTest, ScriptMethodExpression) {
  CRegExpr re;
  ASSERT_EQ(0, re.Compile("\\w\\s*\\.\\s*((write)|(writeln))\\s*\\(", 1, 0));
  const std::string html = "<script>\n  document.write(\"<b>x</b>\");\n</script>";
  tag_HIT hit = Find(re, html);
  ASSERT_NE(kNone, hit.at);
  EXPECT_EQ("document.write(", html.substr(hit.at, hit.len));
  EXPECT_EQ(0u, re.Search("document . writeln (", 0, nullptr));
  EXPECT_EQ(kNone, re.Search("document.writer(", 0, nullptr));
  EXPECT_EQ(kNone, re.Search("no script here", 0, nullptr));
}

TEST(RegExprTest, CompileResults) {
  CRegExpr re;
  EXPECT_EQ(E_POINTER, re.Compile(nullptr, 1, 0));
  std::string tooLong(0xFFFF, 'a');
  EXPECT_EQ(E_SEEK_PATTERN_TOO_LONG, re.Compile(tooLong.c_str(), 1, 0));
  EXPECT_EQ(E_SEEK_PATTERN_TOO_LONG, re.Compile(tooLong.c_str(), 1, 0xFFFF));
  // 0xFFFE bytes are allowed.
  std::string longest = "a" + std::string(0xFFFD, '?');
  EXPECT_EQ(0, re.Compile(longest.c_str(), 1, 0));
  EXPECT_EQ(0u, re.Search("a", 0, nullptr));

  ASSERT_EQ(0, re.Compile("abc", 1, 0));
  EXPECT_EQ(E_SEEK_SYNTAX, re.Compile("x{2x}", 1, 0));
  EXPECT_STREQ("Unexpected character 'x' at position 3", re.GetErrorText());
  // A failed compile leaves nothing behind: no text, no table, no match.
  EXPECT_EQ(0u, re.GetCount());
  EXPECT_EQ(nullptr, re.GetTable());
  EXPECT_EQ(kNone, re.Search("abc", 0, nullptr));
  EXPECT_EQ(kNone, FindInStream(re, "abc", 0, 3).at);
  EXPECT_EQ(E_SEEK_SYNTAX, re.Compile("[a-]", 1, 0));
  EXPECT_STREQ("Missing ']' when process bracket expression", re.GetErrorText());

  // Only the given length of the pattern is compiled.
  ASSERT_EQ(0, re.Compile("abXYZ", 1, 2));
  EXPECT_EQ(0u, re.Search("ab", 0, nullptr));
}

// Every byte a class of its own, then sets that cut those classes again:
// the classes stay the 256 bytes' (each set once took new class numbers for
// every class it touched, and they outgrew the bytes).
TEST(RegExprTest, EveryByteInAClassOfItsOwn) {
  std::string pattern;
  std::string text;
  for (int c = 1; c < 256; ++c) {
    char escape[8];
    snprintf(escape, sizeof escape, "\\x%02x", c);
    pattern += escape;
    text += static_cast<char>(c);
  }
  pattern += "[ab][bc][cd][de]";
  text += "bccd";
  CRegExpr re;
  ASSERT_EQ(0, re.Compile(pattern.c_str(), 1, 0));
  tag_HIT hit = Find(re, "xy" + text);
  EXPECT_EQ(2u, hit.at);
  EXPECT_EQ(text.size(), hit.len);
  text.back() = 'a';
  EXPECT_EQ(kNone, Find(re, text).at);
}

TEST(RegExprTest, LimitsAreReachedQuickly) {
  const CCpuTimer timer;
  CRegExpr re;
  EXPECT_EQ(E_SEEK_TOO_MANY_STATES, re.Compile("[ab]*a[ab]{16}", 1, 0));
  EXPECT_EQ(nullptr, re.GetTable());
  EXPECT_EQ(E_SEEK_TOO_MANY_NODES, re.Compile("x{4294967296}", 1, 0));
  EXPECT_EQ(E_SEEK_TOO_MANY_NODES, re.Compile("(x|y){200000}", 1, 0));
  // Below the state limit: 2^12 + ... states compile and search.
  ASSERT_EQ(0, re.Compile("[ab]*a[ab]{11}", 1, 0));
  EXPECT_EQ(4096u, re.GetTable()->GetStateCount());
  EXPECT_EQ(1u, re.Search("cabbbbbbbbbbbc", 0, nullptr));
  EXPECT_EQ(kNone, re.Search("cabbbbbbbbbbc", 0, nullptr));
  // Too many states for the flat copy: the packed table is walked.
  ASSERT_EQ(0, re.Compile("[ab]*a[ab]{12}", 1, 0));
  EXPECT_EQ(8192u, re.GetTable()->GetStateCount());
  EXPECT_EQ(1u, re.Search("cabbbbbbbbbbbbc", 0, nullptr));
  EXPECT_EQ(kNone, re.Search("cabbbbbbbbbbbc", 0, nullptr));
  EXPECT_EQ(1u, FindInStream(re, "cabbbbbbbbbbbbc", 0, 15).at);
  EXPECT_LT(timer.Seconds(), 20 * kSanitizerSlowdown);
}

TEST(RegExprTest, StreamEqualsBufferAcrossBlockSeams) {
  const char* patterns[] = {"abc", "a[^x]*z", "^q+", "z+$", "(ab|ba)+c", "\\d{3}-\\d{4}", "[[:upper:]]{3}"};
  std::mt19937 rng(7);
  for (const char* p : patterns) {
    for (int cs = 0; cs <= 1; ++cs) {
      CRegExpr re;
      ASSERT_EQ(0, re.Compile(p, cs, 0));
      for (int round = 0; round < 40; ++round) {
        std::string text(600 + rng() % 1200, 'x');
        for (char& c : text) c = "xyzabcq-0123ABC"[rng() % 15];
        // Put a likely match across a 512-byte seam.
        size_t seam = 512 * (1 + rng() % 2) - 2 + rng() % 4;
        const char* piece[] = {"abc", "aqqqz", "abbac", "555-1234", "XYZ"};
        std::string ins = piece[rng() % 5];
        if (seam + ins.size() < text.size()) text.replace(seam, ins.size(), ins);
        const size_t from = rng() % 3 == 0 ? 0 : rng() % 100;
        const std::string rest = text.substr(from);
        tag_HIT b = Find(re, rest);
        tag_HIT s = FindInStream(re, text, from, static_cast<DWORD>(rest.size()));
        EXPECT_EQ(b.at == kNone ? kNone : b.at + from, s.at) << p;
        EXPECT_EQ(b.len, s.len) << p;
        // Asking for more than the stream holds: its end is the text end.
        tag_HIT more = FindInStream(re, text, from, 0x7FFFFFFF);
        EXPECT_EQ(s.at, more.at) << p;
        EXPECT_EQ(s.len, more.len) << p;
      }
    }
  }
}

TEST(RegExprTest, StreamStopsAtAFailingRead) {
  CRegExpr re;
  ASSERT_EQ(0, re.Compile("b", 1, 0));
  CGarbageCountStream s(std::string(2000, 'a') + "b");
  s.failReadAt = 1024;
  DWORD len = 0;
  EXPECT_EQ(kNone, re.Search(&s, 2001, &len));  // the failed block is not scanned
  EXPECT_EQ(0u, len);
  CTestStream ok(std::string(1000, 'a') + "b");
  ok.maxChunk = 7;  // short reads are fine
  EXPECT_EQ(1000u, re.Search(&ok, 2000, &len));
  EXPECT_EQ(1u, len);
  EXPECT_EQ(kNone, re.Search(&ok, 0, &len));
  CTestStream broken("b");
  broken.seeksUntilFailure = 0;
  EXPECT_EQ(kNone, re.Search(&broken, 1, &len));
}

TEST(RegExprTest, RecordRoundTrip) {
  const char* patterns[] = {"^From: .*@example\\.com$", "a[bc]+d", "x{2,3}", ""};
  const char* texts[] = {"From: joe@example.com", "abcbd", "xxxxx", "zz", "From: x@y"};
  for (const char* p : patterns) {
    CRegExpr re;
    ASSERT_EQ(0, re.Compile(p, 0, 0));
    CTestStream s;
    ASSERT_EQ(0, re.Serialize(&s, 1));
    EXPECT_EQ(1, s.bytes[0]);
    CRegExpr back;
    s.pos = 0;
    ASSERT_EQ(0, back.Serialize(&s, 0));
    EXPECT_EQ(s.bytes.size(), s.pos);
    EXPECT_EQ(std::string(re.GetPattern(0) ? re.GetPattern(0) : ""),
              std::string(back.GetPattern(0) ? back.GetPattern(0) : ""));
    EXPECT_EQ(re.GetFlags(), back.GetFlags());
    EXPECT_EQ(re.IsCaseSensitive(), back.IsCaseSensitive());
    for (const char* t : texts) {
      tag_HIT a = Find(re, t);
      tag_HIT b = Find(back, t);
      EXPECT_EQ(a.at, b.at) << p << " " << t;
      EXPECT_EQ(a.len, b.len);
    }
    // Version 2 is refused; every truncation fails cleanly.
    std::string bytes = s.str();
    bytes[0] = 2;
    CTestStream v2(bytes);
    EXPECT_EQ(E_RECORD_VERSION, back.Serialize(&v2, 0));
    for (size_t cut = 0; cut < s.bytes.size(); cut += 1 + cut / 8) {
      CTestStream shortRecord(s.str().substr(0, cut));
      CRegExpr broken;
      EXPECT_NE(0, broken.Serialize(&shortRecord, 0)) << cut;
      EXPECT_EQ(kNone, broken.Search("abcbd", 0, nullptr));
    }
  }
  // A matcher that never compiled stores a record without a table.
  CRegExpr empty;
  CTestStream s;
  ASSERT_EQ(0, empty.Serialize(&s, 1));
  s.pos = 0;
  CRegExpr back;
  ASSERT_EQ(0, back.Serialize(&s, 0));
  EXPECT_EQ(nullptr, back.GetTable());
  EXPECT_EQ(kNone, back.Search("x", 0, nullptr));
  // A failing stream result is returned as it is.
  CTestStream failing("\x01");
  failing.failReadAt = 0;
  failing.failure = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, back.Serialize(&failing, 0));
}

// Patterns whose automata are as large as the state limit allows, with
// dense rows or long runs of similar rows, and one a fuzzer found: each
// compiles (or fails cleanly) in a fraction of a second of CPU, and
// searches as its automaton says.
TEST(RegExprTest, LargeAutomataCompileInBoundedTime) {
  const double bound = 3 * kSanitizerSlowdown;
  const struct {
    std::string pattern;
    HRESULT result;
    DWORD states;
  } cases[] = {
      {".*a.{10}", S_OK, 2048},
      {".*a.{13}", S_OK, 16384},
      {"[ab]*a[ab]{13}", S_OK, 16384},
      {"(a|b)*a(a|b){14}", S_OK, 32768},
      {"(a|b)*a(a|b){15}", E_SEEK_TOO_MANY_STATES, 0},
      {"\\w\\s*........." + std::string(20, '-'), S_OK, 11264},
      {std::string(" :[[alph:blank:\x97" "a:I]{20 }2, }QQQ"), S_OK, 0},
      // Few states but long follow lists: too much work, refused.
      {std::string("nsssssssss\x89sszsss1sssssssj:]].{1,244}z$s\x01s"), E_SEEK_TOO_MANY_STATES, 0},
      {"a.{1,244}z", S_OK, 735},
      // Counted repetitions of alternations: every state holds positions
      // of all copies read so far, so the sets grow with the square of the
      // count; they compile while the sets stay small, else fail cleanly.
      {"(x|b){2000}", S_OK, 2001},
      {"(xy|b){1600}", S_OK, 3201},
      {"(xyz|b){1616}", E_SEEK_TOO_MANY_STATES, 0},
      {"(xyzw|b){2500}", E_SEEK_TOO_MANY_STATES, 0},
      {"(xyzwvutsrq|b){1500}", E_SEEK_TOO_MANY_STATES, 0},
      {"(ab|b){1,2000}", S_OK, 0},
      {"(ab|b){1,3000}", E_SEEK_TOO_MANY_NODES, 0},
      {"x{0,2000}", S_OK, 0},
      {"a.{1,600}z", E_SEEK_TOO_MANY_STATES, 0},
      // Found by fuzzing: 29,938 states over many byte classes, whose
      // record once loaded slowly (the classes of the scan copy were
      // found on a fully expanded table).
      {std::string("\x84\x84\x84................\x84\x84\x84\x84\x84\x84\xff\xff\xff\xff\xff\\sTw"), S_OK, 0},
      // Rows that differ from every other row in the class of nearly all
      // bytes cost an entry per byte: tables of tens of megabytes, whose
      // packing once searched the same crowded gaps for every row. The
      // second came from a filter script's ":regex" key.
      {".*a.{14}", S_OK, 32768},
      {std::string("&.............\x0e.GGcr4"), S_OK, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    const CCpuTimer timer;
    CRegExpr re;
    ASSERT_EQ(c.result, re.Compile(c.pattern.c_str(), 1, 0));
    EXPECT_LT(timer.Seconds(), bound);
    if (c.result != S_OK) continue;
    if (c.states != 0) {
      EXPECT_EQ(c.states, re.GetTable()->GetStateCount());
    }
    // The record stores and loads in a fraction of a second as well.
    const CCpuTimer recordTimer;
    CTestStream record;
    ASSERT_EQ(0, re.Serialize(&record, 1));
    record.pos = 0;
    CRegExpr back;
    ASSERT_EQ(0, back.Serialize(&record, 0));
    EXPECT_LT(recordTimer.Seconds(), bound);
    EXPECT_EQ(re.GetTable()->GetStateCount(), back.GetTable()->GetStateCount());
  }
  CRegExpr re;
  ASSERT_EQ(0, re.Compile(".*a.{13}", 1, 0));
  tag_HIT hit = Find(re, "xxaxxxxxxxxxxxxxyy");  // .* keeps the start state: it starts at a
  EXPECT_EQ(2u, hit.at);
  EXPECT_EQ(14u, hit.len);
  EXPECT_EQ(kNone, re.Search("xxaxxxxxxxxxxx", 0, nullptr));
  // (x|b){n} matches a run of n bytes from {x, b}.
  ASSERT_EQ(0, re.Compile("(x|b){2000}", 1, 0));
  std::string run(1999, 'x');
  EXPECT_EQ(kNone, re.Search(("a" + run + "a").c_str(), 0, nullptr));
  run += 'b';
  hit = Find(re, "a" + run + "a");
  EXPECT_EQ(1u, hit.at);
  EXPECT_EQ(2000u, hit.len);
}

// A stored matcher whose table has default chains as long as its states
// (records are untrusted, and older tables were packed so) loads and
// searches in time near linear in the record.
TEST(RegExprTest, LongChainRecordLoadsAndSearchesQuickly) {
  const double bound = 10 * kSanitizerSlowdown;
  const CCpuTimer timer;
  std::string table = telsor_test::ChainRecord(16000);
  table[15 + 7 * 99] = 1;  // state 99 accepts
  const std::string record = std::string("\x01\x01\x00\x00\x01\x20\x00\x01", 8) + table;
  CTestStream s(record);
  CRegExpr re;
  ASSERT_EQ(0, re.Serialize(&s, 0));
  const std::string text(200, '\x07');  // 99 moves reach state 99
  DWORD len = 0;
  EXPECT_EQ(0u, re.Search(text.data(), static_cast<DWORD>(text.size()), &len));
  EXPECT_EQ(99u, len);
  CTestStream in(text);
  EXPECT_EQ(0u, re.Search(&in, static_cast<DWORD>(text.size()), &len));
  EXPECT_EQ(kNone, re.Search("\x07\x07x", 0, nullptr));  // no move on x: the scan dies
  EXPECT_LT(timer.Seconds(), bound);
}

namespace {

// The limits come with texts of their own.
TEST(RegExprTest, LimitErrorsHaveTexts) {
  CRegExpr re;
  EXPECT_EQ(E_SEEK_PATTERN_TOO_LONG, re.Compile(std::string(0xFFFF, 'a').c_str(), 1, 0));
  EXPECT_STREQ(CRegExpr::kPatternTooLong, re.GetErrorText());
  EXPECT_EQ(E_SEEK_TOO_MANY_STATES, re.Compile("[ab]*a[ab]{16}", 1, 0));
  EXPECT_STREQ(CRegExpr::kTooManyStates, re.GetErrorText());
  EXPECT_EQ(E_SEEK_TOO_MANY_NODES, re.Compile("(x|y){200000}", 1, 0));
  EXPECT_STREQ(CRegExpr::kTooManyNodes, re.GetErrorText());
  for (const char* text : {CRegExpr::kPatternTooLong, CRegExpr::kTooManyStates, CRegExpr::kTooManyNodes})
    EXPECT_GT(strlen(text), 20u);
  // A success clears the text.
  EXPECT_EQ(S_OK, re.Compile("a+b", 1, 0));
  EXPECT_STREQ("", re.GetErrorText());
}

// Patterns compiled under one budget share it: what one used is gone for
// the next, and a compile that reaches a limit the budget lowered marks it
// spent (its own limits alone do not).
TEST(RegExprTest, PatternsShareABudget) {
  telsor::tag_REGEX_COSTS total = telsor::CDFA::OwnLimits();
  total.states = 3000;
  telsor::CRegExprBudget budget(total);
  CRegExpr a, b, c;
  EXPECT_EQ(S_OK, a.Compile("(a|b)*a(a|b){10}", 1, 0, &budget));   // 2048 states
  EXPECT_FALSE(budget.IsSpent());
  EXPECT_LE(budget.Left().states, 3000u - 2048u);
  DWORD len = 0;
  EXPECT_EQ(0u, a.Search("abbbbbbbbbb", 0, &len));
  EXPECT_EQ(E_SEEK_TOO_MANY_STATES, b.Compile("(a|b)*a(a|b){10}", 1, 0, &budget));
  EXPECT_TRUE(budget.IsSpent());
  EXPECT_STREQ(CRegExpr::kBudgetSpent, b.GetErrorText());
  EXPECT_EQ(SEEK_NOT_FOUND, b.Search("abbbbbbbbbb", 0, &len));
  // Spent: even a small pattern is refused at once.
  EXPECT_EQ(E_SEEK_TOO_MANY_STATES, c.Compile("x", 1, 0, &budget));
  EXPECT_STREQ(CRegExpr::kBudgetSpent, c.GetErrorText());

  // A pattern beyond its own limits does not mark a large budget spent,
  // though what it used before failing is gone.
  telsor::CRegExprBudget large(telsor::CDFA::OwnLimits());
  EXPECT_EQ(E_SEEK_TOO_MANY_STATES, c.Compile("[ab]*a[ab]{16}", 1, 0, &large));
  EXPECT_STREQ(CRegExpr::kTooManyStates, c.GetErrorText());
  EXPECT_FALSE(large.IsSpent());
  EXPECT_EQ(0u, large.Left().states);
}

}  // namespace
