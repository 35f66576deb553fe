// Hostile and extreme filter scripts: bytes that cannot stand in a script,
// deep nesting against long flat chains, CR line ends, the shared budget of
// regular-expression keys; and the round trips of printing and storing.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/cputime.h"
#include "common/tempdir.h"
#include "fakehost.h"
#include "filter/sievescript.h"
#include "records.h"

namespace {

using telsor::CSieveScript;

std::string Printed(const CSieveScript& s) {
  telsor::TSTRING text;
  EXPECT_EQ(s.PrintToString(text), S_OK);
  return std::string(text.c_str(), static_cast<size_t>(text.GetLength()));
}

// Compiles through a file, as the script store and sievetool do, so that
// every byte (NULs too) reaches the scanner.
HRESULT CompileBytes(const std::string& bytes, CSieveScript& script) {
  telsor_test::TempDir dir;
  const std::string path = dir / "script.sieve";
  telsor_test::WriteFileBytes(path, bytes);
  return script.Parse(path.c_str(), nullptr);
}

struct HostileRow {
  const char* name;
  std::string text;
  HRESULT code;
  std::string errors;   // the whole error text
};

std::string Bytes(const char* text, size_t size) { return std::string(text, size); }

const std::vector<HostileRow>& HostileRows() {
  static const std::vector<HostileRow> rows = {
      {"NUL after a command", Bytes("keep;\0 this is { not sieve", 27), E_SIEVE_SYNTAX,
       "Line: 1, Column: 6 : Unexpected NUL byte.\n"},
      {"a thousand NULs", std::string(1000, '\0'), E_SIEVE_SYNTAX, "Line: 1, Column: 1 : Unexpected NUL byte.\n"},
      {"NUL inside a quoted string", Bytes("fileinto \"a\0b\";", 15), E_SIEVE_SYNTAX,
       "Line: 1, Column: 12 : NUL byte in a string.\n"},
      {"escaped NUL inside a quoted string", Bytes("fileinto \"a\\\0b\";", 16), E_SIEVE_SYNTAX,
       "Line: 1, Column: 12 : NUL byte in a string.\n"},
      {"NUL inside a multi-line string", Bytes("reject text:\nab\0c\n.\n;", 21), E_SIEVE_SYNTAX,
       "Line: 2, Column: 3 : NUL byte in a string.\n"},
      {"NUL inside a bracket comment", Bytes("keep; /* a\0 */ discard;", 23), E_SIEVE_SYNTAX,
       "Line: 1, Column: 11 : Unexpected NUL byte.\n"},
      {"NUL inside a hash comment", Bytes("# a\0\nkeep;", 10), E_SIEVE_SYNTAX,
       "Line: 1, Column: 4 : Unexpected NUL byte.\n"},
      {"NUL inside an open block", Bytes("if true {\n  keep;\0", 18), E_SIEVE_SYNTAX,
       "Line: 2, Column: 7 : Unexpected NUL byte.\n"},
      {"unterminated comment", "keep; /* discard;", E_SIEVE_SYNTAX, "Line: 1, Column: 7 : Unterminated comment.\n"},
      {"unterminated comment on a later line", "keep;\r\n\r\n  /* discard;\r\n keep;", E_SIEVE_SYNTAX,
       "Line: 3, Column: 3 : Unterminated comment.\n"},
      {"CR-only lines: the error's line", "keep;\rkeep;\rkeep @;", E_SIEVE_SYNTAX,
       "Line: 3, Column: 6 : Expected ';' at the end of command.\n"},
      {"CR-only text: block ends; the next error is found", "reject text:\rhi\r.\r;\rkeep @;", E_SIEVE_SYNTAX,
       "Line: 5, Column: 6 : Expected ';' at the end of command.\n"},
      {"CR-only text: never closed", "reject text:\rone\rtwo\r", E_SIEVE_SYNTAX,
       "Line: 4, Column: 0 : Expected a quoted string or multi-line string.\n"},
      {"a word before a line end: no negative column", "keep;\nabcdefghij\nkeep;", E_SIEVE_UNKNOWN_IDENTIFIER,
       "Line: 3, Column: 0 : Unrecognized command or it is not valid in this state.\n"},
      {"a regex key with too many parts", "if header :regex \"S\" \"(x|y){200000}\" {}", E_SIEVE_BAD_HEADER_TEST,
       "Line: 1, Column: 22 : [0xE00F0005] The regular expression has too many parts or repetitions.\n"},
      {"a regex key of 65535 bytes", "if header :regex \"S\" \"" + std::string(65535, 'a') + "\" {}",
       E_SIEVE_BAD_HEADER_TEST,
       "Line: 1, Column: 22 : [0xE00F0004] The regular expression is too long (65535 bytes or more).\n"},
      {"50 nested blocks", std::string(50 * 9, ' '), E_SIEVE_TOO_DEEP, ""},   // text and line set below
      {"98 nested allof", "", E_SIEVE_TOO_DEEP, ""},
  };
  return rows;
}

std::string NestedIfs(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "if true {";
  for (int i = 0; i < depth; ++i) s += "}";
  return s;
}

std::string NestedAllof(int depth) {
  std::string s = "if ";
  for (int i = 0; i < depth; ++i) s += "allof(";
  s += "true";
  for (int i = 0; i < depth; ++i) s += ")";
  return s + " { keep; }";
}

TEST(HostileScripts, RefusedWithTheirErrorLinesAndCodes) {
  for (HostileRow row : HostileRows()) {
    SCOPED_TRACE(row.name);
    if (std::string(row.name) == "50 nested blocks") {
      row.text = NestedIfs(50);
      row.errors = "Line: 1, Column: 445 : Parser stack full: nesting too deep.\n";
    } else if (std::string(row.name) == "98 nested allof") {
      row.text = NestedAllof(98);
      row.errors = "Line: 1, Column: 592 : Parser stack full: nesting too deep.\n";
    }
    CSieveScript script;
    EXPECT_EQ(CompileBytes(row.text, script), row.code);
    EXPECT_EQ(script.GetRoot(), nullptr);
    ASSERT_NE(script.GetErrorDescription(), nullptr);
    EXPECT_EQ(std::string(script.GetErrorDescription()), row.errors);
    // Columns are never negative (the field is unsigned: a negative one
    // would read as a number above four billion).
    EXPECT_LT(script.GetErrorColumn(), 100000u);
  }
}

TEST(HostileScripts, CarriageReturnsAloneEndLines) {
  CSieveScript script;
  ASSERT_EQ(CompileBytes("if true {\r  reject text:\r  a\r..b\r.\r;\r}\r", script), S_OK);
  EXPECT_EQ(Printed(script), "if true\n{\n  reject text:\n  a\n..b\n.\n;\n}\n");
  CFakeHost host;
  EXPECT_EQ(host.Run(script), S_OK);
  EXPECT_EQ(host.Calls(), "reject(  a\n.b\n)");
}

// A chain of elsif branches is not nesting: its length takes no stack.
std::string ElsifChain(int branches) {
  std::string s = "if header :is \"X\" \"no\" { fileinto \"b0\"; }\n";
  for (int i = 1; i < branches; ++i)
    s += "elsif header :is \"X\" \"" + std::string(i == branches - 1 ? "yes" : "no") + "\" { fileinto \"b" +
         std::to_string(i) + "\"; }\n";
  return s + "else { discard; }\n";
}

TEST(HostileScripts, AThousandElsifBranches) {
  CSieveScript script;
  ASSERT_EQ(script.ParseString(ElsifChain(1000).c_str(), nullptr), S_OK) << script.GetErrorDescription();
  CFakeHost host;
  EXPECT_EQ(host.Run(script), S_OK);
  EXPECT_NE(host.Calls().find("fileinto([b999])"), std::string::npos) << host.Calls().substr(0, 200);

  // Printed and compiled again, stored and loaded: the same chain.
  CSieveScript again;
  ASSERT_EQ(again.ParseString(Printed(script).c_str(), nullptr), S_OK);
  EXPECT_EQ(Printed(again), Printed(script));
  CSieveScript loaded;
  ASSERT_EQ(rec::Load(rec::Stored(script), loaded), S_OK);
  EXPECT_EQ(Printed(loaded), Printed(script));
  CFakeHost second;
  EXPECT_EQ(second.Run(loaded), S_OK);
  EXPECT_EQ(second.Calls(), host.Calls());

  // 64 elsif branches, which once ran out of parser stack, and nesting
  // inside the branches keeps its own limit.
  EXPECT_EQ(script.ParseString(ElsifChain(64).c_str(), nullptr), S_OK);
  EXPECT_EQ(script.ParseString(NestedIfs(49).c_str(), nullptr), S_OK);
  EXPECT_EQ(script.ParseString(("if false {} elsif true {" + NestedIfs(40) + "}").c_str(), nullptr), S_OK);
  EXPECT_EQ(script.ParseString(("if false {} elsif true {" + NestedIfs(49) + "}").c_str(), nullptr),
            E_SIEVE_TOO_DEEP);
}

// The keys of one script share a budget: fifty keys that each need 32,768
// automaton states are refused after the first, within a fraction of a
// second of CPU, where each alone compiles.
TEST(HostileScripts, RegexKeysShareOneBudget) {
  const std::string key = "\".*a..............\"";
  std::string keys;
  for (int i = 0; i < 50; ++i) keys += (i == 0 ? "" : ", ") + key;
  const std::string fifty = "if header :regex \"Subject\" [" + keys + "] { keep; }";
  ASSERT_LT(fifty.size(), 1100u);

  CSieveScript script;
  CCpuTimer timer;
  EXPECT_EQ(script.ParseString(fifty.c_str(), nullptr), E_SIEVE_REGEX_BUDGET);
  EXPECT_LT(timer.Seconds(), 1.0 * kSanitizerSlowdown);
  EXPECT_EQ(script.GetRoot(), nullptr);
  EXPECT_EQ(std::string(script.GetErrorDescription()),
            "Line: 1, Column: 1077 : [0xE00A0037] The regular expressions together need more automaton states or "
            "memory than their budget allows.\n");

  // The same keys, one test each: the budget is the script's, not a test's.
  std::string tests;
  for (int i = 0; i < 50; ++i) tests += "if header :regex \"Subject\" " + key + " { keep; }\n";
  CCpuTimer second;
  EXPECT_EQ(script.ParseString(tests.c_str(), nullptr), E_SIEVE_REGEX_BUDGET);
  EXPECT_LT(second.Seconds(), 1.0 * kSanitizerSlowdown);

  // One such key compiles, a second is refused; every script starts with a
  // full budget.
  EXPECT_EQ(script.ParseString(("if header :regex \"Subject\" [" + key + ", " + key + "] { keep; }").c_str(), nullptr),
            E_SIEVE_REGEX_BUDGET);
  EXPECT_EQ(script.ParseString(("if header :regex \"Subject\" " + key + " { keep; }").c_str(), nullptr), S_OK);
  EXPECT_EQ(script.ParseString(("if header :regex \"Subject\" " + key + " { keep; }").c_str(), nullptr), S_OK);
}

// Scripts of up to 64 KiB whose keys are costly in other ways compile or
// are refused within a second of CPU.
TEST(HostileScripts, CostlyRegexKeysUpTo64KiB) {
  const std::vector<std::string> kinds = {".*a.{12}", "x.{1,300}y", "(xyz|b){1616}", ".{0,5000}", "(.*a){40}"};
  for (const std::string& kind : kinds) {
    SCOPED_TRACE(kind);
    std::string keys;
    while (keys.size() + kind.size() + 4 < 65000) keys += (keys.empty() ? "\"" : ", \"") + kind + "\"";
    const std::string text = "if header :regex \"Subject\" [" + keys + "] { keep; }";
    ASSERT_LE(text.size(), 65536u);
    CSieveScript script;
    CCpuTimer timer;
    HRESULT hr = script.ParseString(text.c_str(), nullptr);
    EXPECT_LT(timer.Seconds(), 1.0 * kSanitizerSlowdown);
    EXPECT_TRUE(hr == S_OK || hr == E_SIEVE_REGEX_BUDGET || hr == E_SIEVE_BAD_HEADER_TEST) << std::hex << hr;
  }
}

// Texts with quotes and backslashes print escaped, and a multi-line text's
// lines that begin with a dot (a lone dot too) print stuffed: the printed
// text compiles to the same texts.
TEST(HostileScripts, PrintedTextsCompileBack) {
  struct Row {
    const char* script;
    const char* printed;
    const char* calls;
  };
  const Row rows[] = {
      {"reject \"\\\"\";", "reject \"\\\"\";\n", "reject(\")"},
      {"fileinto \"a\\\\\\\"b\";", "fileinto \"a\\\\\\\"b\";\n", "fileinto([a\\\"b])"},
      {"fileinto [\"\\\\\", \"q\\\"\"];", "fileinto [\"\\\\\", \"q\\\"\"];\n", "fileinto([\\,q\"])"},
      {"reject \"\\a\\\r\";", "reject \"a\\\r\";\n", "reject(a\r)"},
      {"reject text:\nx\n..\n...x\n.\n;", "reject text:\nx\n..\n...x\n.\n;\n", "reject(x\n.\n..x\n)"},
      {"if header :is \"S\\\"\" \"\\\\\" { keep; }", "if header :is \"S\\\"\" \"\\\\\"\n{\n  keep;\n}\n", ""},
      // Tags that hold only the default still print.
      {"vacation :days 0 \"Away\";", "vacation :days 0 \"Away\";\n", "vacation(null,0,0,,Away)"},
      // A key that was a multi-line string prints as one.
      {"if header :is \"a\" text:\nx\n..\n.\n { keep; }", "if header :is \"a\" text:\nx\n..\n.\n\n{\n  keep;\n}\n", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script);
    CSieveScript script;
    ASSERT_EQ(script.ParseString(row.script, nullptr), S_OK) << script.GetErrorDescription();
    EXPECT_EQ(Printed(script), row.printed);
    CSieveScript again;
    ASSERT_EQ(again.ParseString(Printed(script).c_str(), nullptr), S_OK) << again.GetErrorDescription();
    EXPECT_EQ(Printed(again), row.printed);
    CFakeHost first, second;
    EXPECT_EQ(first.Run(script), S_OK);
    EXPECT_EQ(second.Run(again), S_OK);
    if (row.calls[0] != '\0') {
      EXPECT_EQ(first.Calls(), row.calls);
    }
    EXPECT_EQ(second.Calls(), first.Calls());
  }
}

}  // namespace
