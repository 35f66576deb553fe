// End-of-line analysis: the counts of line-end runs checked against a plain
// transcription of the counting rule (every pair of runs compared), the
// flags, the stream form, and time on a message of many distinct runs.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <string_view>

#include "common/cputime.h"
#include "common/teststream.h"
#include "mime/eolanalysis.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::ExactBytes;
using mime_test::Show;

namespace {

// The counting rule written out directly: runs in byte order, every later
// run of another length compared with each run.
std::map<std::string, unsigned long long> OracleCounts(const std::string& text) {
  std::map<std::string, unsigned long long> runs;
  std::string run;
  for (size_t i = 0; i <= text.size(); ++i) {
    char c = i < text.size() ? text[i] : 'x';
    if (c == '\r' || c == '\n') {
      run += c;
    } else if (!run.empty()) {
      runs.emplace(run, 0);
      run.clear();
    }
  }
  for (auto a = runs.begin(); a != runs.end(); ++a) {
    if (a->second == 0) a->second = 1;
    for (auto b = std::next(a); b != runs.end(); ++b) {
      if (b->first.size() == a->first.size()) continue;
      auto& shorter = a->first.size() < b->first.size() ? *a : *b;
      auto& longer = a->first.size() < b->first.size() ? *b : *a;
      const std::string& s = shorter.first;
      const std::string& l = longer.first;
      unsigned long long n = 0;
      while ((n + 1) * s.size() <= l.size() && l.compare(n * s.size(), s.size(), s) == 0) ++n;
      if (n == 0) continue;
      if (n == 1) n = 2;
      if (shorter.second != 0) n *= shorter.second;
      if (longer.second < n) longer.second = l == "\r\n" ? 1 : n;
    }
  }
  return runs;
}

TEST(EolAnalysis, CountsOfTypicalMessages) {
  struct {
    std::string text;
    std::map<std::string, DWORD> counts;
    bool invalid;
  } rows[] = {
      {"a\r\nb\r\n\r\nc", {{"\r\n", 1}, {"\r\n\r\n", 2}}, false},
      {"a\nb\n\nc\n", {{"\n", 1}, {"\n\n", 2}}, true},
      {"a\r\r\nb\r\r\n\r\r\nc", {{"\r\r\n", 1}, {"\r\r\n\r\r\n", 2}}, true},
      {"a\r\nb\r\n\rc", {{"\r\n", 1}, {"\r\n\r", 2}}, true},      // taken as a blank line
      {"a\rb\r\nc\r\n\r\nd", {{"\r", 1}, {"\r\n", 1}, {"\r\n\r\n", 2}}, true},
      {"a\r\nb\r\n\r\n\r\nc", {{"\r\n", 1}, {"\r\n\r\n\r\n", 3}}, false},
      {"no line ends", {}, false},
      {"ends in a run\r\n\r\n", {{"\r\n\r\n", 1}}, false},  // no shorter run begins it
  };
  for (const auto& row : rows) {
    CSetEOLSequence eol;
    ExactBytes bytes(row.text);
    ASSERT_EQ(eol.Analyze(bytes.data(), bytes.size()), S_OK);
    EXPECT_EQ(eol.GetRunCount(), row.counts.size()) << Show(row.text);
    for (const auto& expected : row.counts)
      EXPECT_EQ(eol.CountEquivalentEOL(TSTRING(expected.first.c_str())), expected.second)
          << Show(row.text) << " run " << Show(expected.first);
    EXPECT_EQ(eol.HasInvalidEOL() != 0, row.invalid) << Show(row.text);
    // A run that never occurred counts 1.
    EXPECT_EQ(eol.CountEquivalentEOL(TSTRING("\n\n\n\n\n")), 1u);
  }
}

TEST(EolAnalysis, ControlCharacters) {
  struct {
    std::string text;
    bool control;
  } rows[] = {
      {std::string("a\0b", 3), true}, {"a\fb", true},        {"a\x01", true},
      {"\t\x1B\x0E\x0F\r\n", false},  {"\x7F\x80\xFF", false}, {"", false},
  };
  for (const auto& row : rows) {
    CSetEOLSequence eol;
    ExactBytes bytes(row.text);
    ASSERT_EQ(eol.Analyze(bytes.data(), bytes.size()), S_OK);
    EXPECT_EQ(eol.HasControlChars() != 0, row.control) << Show(row.text);
  }
}

TEST(EolAnalysis, AgreesWithThePlainRuleOnRandomMessages) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 400; ++trial) {
    std::string text;
    size_t pieces = rng() % 40;
    for (size_t i = 0; i < pieces; ++i) {
      text += "xy"[rng() % 2];
      size_t run = rng() % 7;
      for (size_t j = 0; j < run; ++j) text += "\r\n"[rng() % 2];
    }
    CSetEOLSequence eol;
    ExactBytes bytes(text);
    ASSERT_EQ(eol.Analyze(bytes.data(), bytes.size()), S_OK);
    auto oracle = OracleCounts(text);
    ASSERT_EQ(eol.GetRunCount(), oracle.size()) << Show(text);
    for (const auto& entry : oracle) {
      EXPECT_EQ(eol.CountEquivalentEOL(TSTRING(entry.first.c_str())), entry.second)
          << Show(text) << " run " << Show(entry.first);
    }
  }
}

// The flags written out directly.
bool OracleControl(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != 0x0E && c != 0x0F && c != 0x1B) return true;
  }
  return false;
}

bool OracleInvalid(const std::string& text) {
  for (const auto& entry : OracleCounts(text)) {
    const std::string& run = entry.first;
    if (run.size() % 2 != 0) return true;
    for (size_t i = 0; i < run.size(); i += 2)
      if (run[i] != '\r' || run[i + 1] != '\n') return true;
  }
  return false;
}

// The memory, stream and reader forms (pieces of 65,536 and 256 bytes)
// against the oracles, with the bytes that matter at every offset of the
// words the analysis looks at together and across the reader's pieces.
TEST(EolAnalysis, AllFormsAgreeWithTheOraclesAtEveryOffset) {
  const std::string inserts[] = {"\x01", "\t", "\x1B\x80\xFF", "\n", "\r\n", "\n\r", "\r\n\r\n", "\x1F\r"};
  for (const std::string& insert : inserts) {
    for (size_t at : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 31u, 250u, 254u, 255u, 256u, 257u}) {
      std::string text(300, 'a');
      text.replace(at, insert.size(), insert);
      text.replace(280, 4, "\r\n\r\n");
      const auto oracle = OracleCounts(text);
      ExactBytes bytes(text);
      CSetEOLSequence memory, stream, reader;
      ASSERT_EQ(memory.Analyze(bytes.data(), bytes.size()), S_OK);
      CTestStream source(text);
      ASSERT_EQ(stream.Analyze(&source, static_cast<ULONG>(text.size())), S_OK);
      CStreamReader read(bytes.data(), bytes.size());
      reader.Analyze(read);
      for (const CSetEOLSequence* eol : {&memory, &stream, &reader}) {
        SCOPED_TRACE(Show(insert) + " at " + std::to_string(at));
        EXPECT_EQ(eol->HasControlChars() != 0, OracleControl(text));
        EXPECT_EQ(eol->HasInvalidEOL() != 0, OracleInvalid(text));
        ASSERT_EQ(eol->GetRunCount(), oracle.size());
        for (const auto& entry : oracle)
          EXPECT_EQ(eol->CountEquivalentEOL(std::string_view(entry.first)), entry.second) << Show(entry.first);
      }
    }
  }
}

TEST(EolAnalysis, StreamFormGivesTheSameAndRestoresThePosition) {
  std::string text = "junk";
  for (int i = 0; i < 3000; ++i) text += i % 7 ? "line\r\n" : "par\r\n\r\n\n";
  CTestStream stream(text);
  stream.pos = 4;
  stream.maxChunk = 1000;
  CSetEOLSequence fromStream;
  ASSERT_EQ(fromStream.Analyze(&stream, static_cast<ULONG>(text.size() - 4)), S_OK);
  EXPECT_EQ(stream.pos, 4u);
  CSetEOLSequence fromMemory;
  ExactBytes bytes(text.substr(4));
  ASSERT_EQ(fromMemory.Analyze(bytes.data(), bytes.size()), S_OK);
  EXPECT_EQ(fromStream.GetRunCount(), fromMemory.GetRunCount());
  for (const char* run : {"\r\n", "\r\n\r\n\n"})
    EXPECT_EQ(fromStream.CountEquivalentEOL(TSTRING(run)), fromMemory.CountEquivalentEOL(TSTRING(run)));
  EXPECT_EQ(fromStream.HasInvalidEOL(), fromMemory.HasInvalidEOL());
}

TEST(EolAnalysis, StreamLengthLimitsTheAnalysis) {
  CTestStream stream("a\r\nb\n\nc");
  CSetEOLSequence eol;
  ASSERT_EQ(eol.Analyze(&stream, 3), S_OK);
  EXPECT_EQ(eol.GetRunCount(), 1u);
  EXPECT_FALSE(eol.HasInvalidEOL());
}

TEST(EolAnalysis, StreamFailureIsReturnedAndPositionRestored) {
  CTestStream stream(std::string(10000, 'a'));
  stream.pos = 10;
  stream.maxChunk = 100;
  stream.failReadAt = 5000;
  CSetEOLSequence eol;
  EXPECT_EQ(eol.Analyze(&stream, 9000), stream.failure);
  EXPECT_EQ(stream.pos, 10u);
  CTestStream noSeek("abc");
  noSeek.seeksUntilFailure = 0;
  EXPECT_EQ(eol.Analyze(&noSeek, 3), static_cast<HRESULT>(0x80000008u));
}

TEST(EolAnalysis, CopyKeepsTheTable) {
  CSetEOLSequence eol;
  ExactBytes bytes(std::string("a\nb\n\n\x01"));
  ASSERT_EQ(eol.Analyze(bytes.data(), bytes.size()), S_OK);
  CSetEOLSequence copy(eol);
  EXPECT_EQ(copy.CountEquivalentEOL(TSTRING("\n\n")), 2u);
  EXPECT_TRUE(copy.HasInvalidEOL());
  EXPECT_TRUE(copy.HasControlChars());
}

// Thousands of distinct runs, each beginning with all shorter ones: the
// plain rule costs the cube of their number; the analysis stays linear in
// the message, and every run beginning with a shorter one is a blank line.
TEST(EolAnalysis, ManyDistinctRunsStayFast) {
  std::string text;
  const int runs = 3000;  // about 4.5 MB of line ends
  for (int n = 1; n <= runs; ++n) {
    text += 'x';
    text.append(static_cast<size_t>(n), '\n');
  }
  CCpuTimer timer;
  CSetEOLSequence eol;
  ExactBytes bytes(text);
  ASSERT_EQ(eol.Analyze(bytes.data(), bytes.size()), S_OK);
  EXPECT_LT(timer.Seconds(), 5.0 * kSanitizerSlowdown);
  EXPECT_EQ(eol.GetRunCount(), static_cast<ULONG>(runs));
  EXPECT_EQ(eol.CountEquivalentEOL(TSTRING("\n")), 1u);
  EXPECT_EQ(eol.CountEquivalentEOL(TSTRING("\n\n")), 2u);
  EXPECT_GE(eol.CountEquivalentEOL(TSTRING(std::string(runs, '\n').c_str())), 2u);
}

}  // namespace
