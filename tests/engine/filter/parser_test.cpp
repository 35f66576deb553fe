// The filter-script compiler end to end: scripts in, result codes, error
// lines and printed text out. Columns follow the scanner's counting: the
// counters stand after the one character of look-ahead, so a token followed
// by another character reports the column just past its first character
// (its 1-based column), one at the end of the input its 0-based column.
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/tempdir.h"
#include "filter/sievelex.h"
#include "filter/sievescript.h"
#include "treebuild.h"

namespace {

using telsor::CSieveScript;

std::string PrintedScript(const CSieveScript& s) {
  telsor::TSTRING text;
  EXPECT_EQ(s.PrintToString(text), S_OK);
  return std::string(text.c_str(), static_cast<size_t>(text.GetLength()));
}

struct Row {
  const char* script;
  HRESULT code;
  const char* errors;    // the error text, exactly
  const char* printed;   // for accepted scripts
};

TEST(SieveParser, Table) {
  const std::vector<Row> rows = {
      {"", S_OK, "", ""},
      {"# only a comment\n/* and another */", S_OK, "", ""},
      {"keep;", S_OK, "", "keep;\n"},
      {"require [\"fileinto\"]; if header :contains \"Subject\" \"viagra\" { discard; stop; }", S_OK, "",
       "require \"fileinto\";\nif header :contains \"Subject\" \"viagra\"\n{\n  discard;\n  stop;\n}\n"},
      {"require \"Fileinto\"; require \"comparator-i;octet\";", S_OK, "",
       "require \"Fileinto\";\nrequire \"comparator-i;octet\";\n"},
      {"require [\"x_spamtest\", \"comparator-i;ascii-numeric\", \"envelope\"]; keep;", S_OK, "",
       "require [\"x_spamtest\", \"comparator-i;ascii-numeric\", \"envelope\"];\nkeep;\n"},
      {"if header :foo \"a\" \"b\" { keep; }", E_SIEVE_SYNTAX,
       "Line: 1, Column: 11 : ':foo' : unknown tag.\n"
       "Line: 1, Column: 11 : Expected a quoted string or multi-line string.\n", nullptr},
      {"if body :foo \"a\" { keep; }", E_SIEVE_UNKNOWN_TAG, "Line: 1, Column: 9 : ':foo' : unknown tag.\n", nullptr},
      {"frobnicate;", E_SIEVE_UNKNOWN_IDENTIFIER,
       "Line: 1, Column: 1 : Unrecognized command or it is not valid in this state.\n", nullptr},
      {"require \"relational\";", E_SIEVE_UNSUPPORTED_FEATURE,
       "Line: 1, Column: 20 : Unsupported feature \"relational\".\n", nullptr},
      {"require [\"fileinto\", \"imapflags\"];", E_SIEVE_UNSUPPORTED_FEATURE,
       "Line: 1, Column: 33 : Unsupported feature \"imapflags\".\n", nullptr},
      {"keep", E_SIEVE_SYNTAX, "Line: 1, Column: 0 : Expected ';' at the end of command.\n", nullptr},
      {"keep keep;", E_SIEVE_SYNTAX, "Line: 1, Column: 6 : Expected ';' at the end of command.\n", nullptr},
      {"keep; elsif", E_SIEVE_SYNTAX, "Line: 1, Column: 6 : illegal elsif without matching if.\n", nullptr},
      {"stop; else", E_SIEVE_SYNTAX, "Line: 1, Column: 6 : illegal else without matching if.\n", nullptr},
      {"if true } keep;", E_SIEVE_SYNTAX, "Line: 1, Column: 9 : Expected a '{'.\n", nullptr},
      {"if true { keep;", E_SIEVE_SYNTAX, "Line: 1, Column: 14 : Expected a '}'.\n", nullptr},
      {"if true {} else {} else {}", E_SIEVE_SYNTAX,
       "Line: 1, Column: 20 : Unrecognized command or it is not valid in this state.\n", nullptr},
      {"keep; require \"fileinto\";", E_SIEVE_SYNTAX,
       "Line: 1, Column: 7 : Unrecognized command or it is not valid in this state.\n", nullptr},
      {"if {", E_SIEVE_SYNTAX, "Line: 1, Column: 3 : Expected a test expression.\n", nullptr},
      {"if foo {}", E_SIEVE_SYNTAX, "Line: 1, Column: 4 : Expected a test expression.\n", nullptr},
      {";", E_SIEVE_SYNTAX, "Line: 1, Column: 0 : Expected a command or a test expression.\n", nullptr},
      {"keep;\n,", E_SIEVE_SYNTAX, "Line: 2, Column: 0 : Unexpected ','.\n", nullptr},
      {"if size :over \"x\" { keep; }", E_SIEVE_EXPECTED_NUMBER, "Line: 1, Column: 15 : Expected a numeric value.\n",
       nullptr},
      {"if size keep", E_SIEVE_EXPECTED_NUMBER,
       "Line: 1, Column: 8 : Expected tagged argument of \":over\" or \":under\".\n", nullptr},
      {"if x_spamtest keep;", E_SIEVE_SYNTAX, "Line: 1, Column: 15 : Expected tagged argument \":value\".\n", nullptr},
      {"if x_spamtest :value keep", E_SIEVE_SYNTAX,
       "Line: 1, Column: 21 : Expected a quoted string as comparator specification.\n", nullptr},
      {"if x_spamtest :value \"ge\" keep", E_SIEVE_SYNTAX,
       "Line: 1, Column: 26 : Expected a decimal number as quoted string or \"NIL\".\n", nullptr},
      {"if x_spamtest :value \"ge\" \"1.5x\" {}", E_SIEVE_SYNTAX,
       "Line: 1, Column: 27 : Expected a decimal number as quoted string or \"NIL\".\n", nullptr},
      {"if x_spamtest :value \"gte\" \"1\" {}", E_SIEVE_SYNTAX,
       "Line: 1, Column: 28 : Expected one of the following relational-match specifications: \"gt\", \"ge\", "
       "\"lt\",\"le\",\"eq\",\"ne\".\n", nullptr},
      {"if x_spamtest :value \"ge\" \"nil\" { discard; }", S_OK, "",
       "if x_spamtest :value \"ge\" \"NIL\"\n{\n  discard;\n}\n"},
      {"if x_spamtest :value \"lt\" \" 0.25\" {}", S_OK, "", "if x_spamtest :value \"lt\" \"0.25\"\n{\n}\n"},
      {"if body :raw :text \"x\" { keep; }", E_SIEVE_SYNTAX,
       "Line: 1, Column: 14 : The body transform tags \":raw\", \":text\" are mutually exclusive.\n", nullptr},
      {"if body :text :text \"x\" {}", S_OK, "", "if body :text \"text\" \"x\"\n{\n}\n"},
      {"if body :content :foo", E_SIEVE_EXPECTED_CONTENT_TYPES,
       "Line: 1, Column: 17 : ':foo' : unknown tag.\n"
       "Line: 1, Column: 17 : Expected list of content-types, which are selected for matching.\n", nullptr},
      {"if body :content_type \"a\" :foo", E_SIEVE_EXPECTED_PATTERNS,
       "Line: 1, Column: 26 : ':foo' : unknown tag.\n"
       "Line: 1, Column: 26 : Expected list of patterns you were looking for.\n", nullptr},
      {"if header :count \"ge\" :comparator \"i;octet\" \"a\" \"1\" { keep; }", E_SIEVE_BAD_HEADER_TEST,
       "Line: 1, Column: 49 : [0xE00A0034] COUNT match type must be used with numeric comparators.\n", nullptr},
      {"if address :count \"ge\" \"From\" \"1\" {}", E_SIEVE_BAD_ADDRESS_TEST,
       "Line: 1, Column: 31 : [0xE00A0034] COUNT match type must be used with numeric comparators.\n", nullptr},
      {"if header :regex \"X\" \"a(\" {}", E_SIEVE_BAD_HEADER_TEST, nullptr, nullptr},
      {"if header :count \"xx\" \"a\" \"b\" {}", E_SIEVE_BAD_RELATIONAL,
       "Line: 1, Column: 18 : Expected one of the following relational-match specifications: \"gt\", \"ge\", "
       "\"lt\",\"le\",\"eq\",\"ne\".\n", nullptr},
      {"if header :value keep", E_SIEVE_BAD_RELATIONAL,
       "Line: 1, Column: 17 : Expected one of the following relational-match specifications: \"gt\", \"ge\", "
       "\"lt\",\"le\",\"eq\",\"ne\".\n", nullptr},
      {"if header :comparator 5 \"a\" \"b\" {}", E_SIEVE_BAD_COMPARATOR,
       "Line: 1, Column: 23 : Expected a quoted string as comparator specification.\n", nullptr},
      {"if header :comparator \"i;foo\" \"a\" \"b\" {}", E_SIEVE_BAD_COMPARATOR,
       "Line: 1, Column: 23 : The comparator \"i;foo\" does not supported\n", nullptr},
      {"fileinto [\"a\",];", E_SIEVE_SYNTAX, "Line: 1, Column: 15 : Expected a quoted string or multi-line string.\n",
       nullptr},
      {"if envelope :all :is \"FROM\" \"a@b\" { stop; }", S_OK, "",
       "if envelope :all :is \"Return-path\" \"a@b\"\n{\n  stop;\n}\n"},
      {"if envelope :domain [\"to\", \"Other\"] \"b\" {}", S_OK, "",
       "if envelope :domain :is [\"Recipient\", \"Other\"] \"b\"\n{\n}\n"},
      {"IF Header :IS \"x\" \"y\" { KEEP; }", S_OK, "", "if header :is \"x\" \"y\"\n{\n  keep;\n}\n"},
      {"if anyof (true, false) {} elsif not exists \"X\" { stop; } else { discard; }", S_OK, "",
       "if anyof( true,\n false )\n{\n}\nelsif not exists \"X\"\n{\n  stop;\n}\nelse \n{\n  discard;\n}\n"},
      {"vacation :days 3 :days 9 :mime :subject \"a\" :subject \"b\" :addresses \"x@y\" \"Away\";", S_OK, "",
       "vacation :subject \"b\" :mime :addresses \"x@y\" :days 9 \"Away\";\n"},
      {"redirect \"a@b\"; fileinto [\"A\", \"B\"]; reject \"no\";", S_OK, "",
       "redirect \"a@b\";\nfileinto [\"A\", \"B\"];\nreject \"no\";\n"},
      {"if attachment :is :comparator \"i;octet\" \"*.EXE\" {}", S_OK, "",
       "if attachment :comparator \"i;octet\" :is \"*.EXE\"\n{\n}\n"},
      {"if header :value \"gt\" :comparator \"i;ascii-numeric\" \"X-Score\" \"5\" {}", S_OK, "",
       "if header :value \"gt\" :comparator \"i;ascii-numeric\" \"X-Score\" \"5\"\n{\n}\n"},
      {"if body :count \"ge\" :comparator \"i;ascii-numeric\" \"3\" {}", S_OK, "",
       "if body :count \"ge\" :comparator \"i;ascii-numeric\"  \"3\"\n{\n}\n"},
  };
  for (const Row& r : rows) {
    CSieveScript s;
    HRESULT hr = s.ParseString(r.script, nullptr);
    EXPECT_EQ(hr, r.code) << r.script;
    if (r.errors != nullptr) {
      const char* got = s.GetErrorDescription();
      EXPECT_STREQ(got != nullptr ? got : "", r.errors) << r.script;
    }
    if (r.code == S_OK) {
      EXPECT_EQ(PrintedScript(s), r.printed) << r.script;
    } else {
      EXPECT_EQ(s.GetRoot(), nullptr) << r.script;
    }
  }
}

TEST(SieveParser, RegexErrorNamesTheMatcherError) {
  CSieveScript s;
  EXPECT_EQ(s.ParseString("if header :regex \"X\" \"a(\" {}", nullptr), E_SIEVE_BAD_HEADER_TEST);
  std::string errors = s.GetErrorDescription();
  EXPECT_EQ(errors.rfind("Line: 1, Column: 22 : [0xE00F0001] ", 0), 0u) << errors;
  EXPECT_GT(errors.size(), std::string("Line: 1, Column: 22 : [0xE00F0001] \n").size());
}

std::string Nested(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "if true {";
  for (int i = 0; i < depth; ++i) s += "}";
  return s;
}

TEST(SieveParser, NestingIsBoundedByTheParserStack) {
  CSieveScript s;
  EXPECT_EQ(s.ParseString(Nested(49).c_str(), nullptr), S_OK);
  EXPECT_NE(s.GetRoot(), nullptr);
  EXPECT_EQ(s.ParseString(Nested(50).c_str(), nullptr), E_SIEVE_TOO_DEEP);
  EXPECT_EQ(s.GetRoot(), nullptr);
  EXPECT_STREQ(s.GetErrorDescription(), "Line: 1, Column: 445 : Parser stack full: nesting too deep.\n");
  // Other deep constructs end the same way, with nothing leaked.
  std::string nots = "if ";
  for (int i = 0; i < 500; ++i) nots += "not ";
  nots += "true {}";
  EXPECT_EQ(s.ParseString(nots.c_str(), nullptr), E_SIEVE_TOO_DEEP);
  EXPECT_NE(std::string(s.GetErrorDescription()).find("nesting too deep"), std::string::npos);
}

TEST(SieveParser, Numbers) {
  struct N {
    const char* text;
    uint64_t value;
  };
  const N rows[] = {
      {"10K", 10240},           {"2 M", 2097152},           {"1g", 1073741824},
      {"007", 7},               {"99999999999", 4294967295u}, {"0", 0},
      {"3\tG", 3221225472ULL},  {"4294967295k", 4294967295ULL * 1024},
  };
  for (const N& n : rows) {
    CSieveScript s;
    std::string script = std::string("if size :over ") + n.text + " {}";
    ASSERT_EQ(s.ParseString(script.c_str(), nullptr), S_OK) << n.text;
    CListCommands* root = dynamic_cast<CListCommands*>(s.GetRoot());
    ASSERT_NE(root, nullptr);
    void* pos = root->GetHeadPosition();
    CCtrlIF* ctrl = dynamic_cast<CCtrlIF*>(root->GetNext(pos));
    ASSERT_NE(ctrl, nullptr);
    CTestSIZE* size = dynamic_cast<CTestSIZE*>(static_cast<CTest*>(ctrl->m_pTest));
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->m_nLimit, n.value) << n.text;
    EXPECT_EQ(size->m_nOperator, NUMBER_OVER);
  }
}

// The reason text of the script's first command, a reject.
std::string RejectReason(const char* script) {
  CSieveScript s;
  EXPECT_EQ(s.ParseString(script, nullptr), S_OK) << script;
  CListCommands* root = dynamic_cast<CListCommands*>(s.GetRoot());
  if (root == nullptr) return "<no tree>";
  void* pos = root->GetHeadPosition();
  CCmdREJECT* reject = dynamic_cast<CCmdREJECT*>(root->GetNext(pos));
  return reject != nullptr ? reject->GetReason() : "<no reject>";
}

TEST(SieveScanner, Strings) {
  EXPECT_EQ(RejectReason("reject \"a\\\"b\\\\c\\nd\";"), "a\"b\\cnd");
  EXPECT_EQ(RejectReason("reject \"two\r\nlines\nhere\";"), "twolineshere");
  EXPECT_EQ(RejectReason("reject text: # comment\na\n..b\n.\n;"), "a\n.b\n");
  EXPECT_EQ(RejectReason("reject TEXT:\r\nline one\r\n. not the end\r\n.\r\n;"), "line one\n. not the end\n");
  // A dot and a semicolon end the string and give the command's ";".
  EXPECT_EQ(RejectReason("reject text:\nbody\n.;\n"), "body\n");
  EXPECT_EQ(RejectReason("reject text:\n.\n;"), "");
}

TEST(SieveScanner, EndOfInputInsideAStringGivesNoString) {
  CSieveScript s;
  EXPECT_EQ(s.ParseString("reject \"open", nullptr), E_SIEVE_SYNTAX);
  EXPECT_STREQ(s.GetErrorDescription(), "Line: 1, Column: 8 : Expected a quoted string or multi-line string.\n");
  EXPECT_EQ(s.ParseString("reject text:\nno end\n", nullptr), E_SIEVE_SYNTAX);
  EXPECT_EQ(s.ParseString("keep; /* open comment", nullptr), E_SIEVE_SYNTAX);
  EXPECT_STREQ(s.GetErrorDescription(), "Line: 1, Column: 7 : Unterminated comment.\n");
}

TEST(SieveScanner, ErrorLinesCarryTheLine) {
  CSieveScript s;
  EXPECT_EQ(s.ParseString("keep;\n\n\tif header :isx \"a\" \"b\" {}", nullptr), E_SIEVE_SYNTAX);
  // The tab moves to column 4; ":isx" starts after "if header ".
  EXPECT_EQ(std::string(s.GetErrorDescription()).rfind("Line: 3, Column: 15 : ':isx' : unknown tag.\n", 0), 0u)
      << s.GetErrorDescription();
  EXPECT_EQ(s.GetErrorLine(), 3u);
  EXPECT_EQ(s.GetErrorColumn(), 15u);
}

TEST(SieveScanner, KeywordLookUp) {
  EXPECT_NE(CSieveLex::KeywordLookUp("IF", 2), nullptr);
  EXPECT_NE(CSieveLex::KeywordLookUp(":Contains", 9), nullptr);
  EXPECT_EQ(CSieveLex::KeywordLookUp(":isx", 4), nullptr);
  EXPECT_EQ(CSieveLex::KeywordLookUp("if", 1), nullptr);
  const tag_SIEVE_KEYWORD* content = CSieveLex::KeywordLookUp(":content", 8);
  const tag_SIEVE_KEYWORD* contentType = CSieveLex::KeywordLookUp(":CONTENT_TYPE", 13);
  ASSERT_NE(content, nullptr);
  ASSERT_NE(contentType, nullptr);
  EXPECT_EQ(content->token, contentType->token);
}

TEST(SieveParser, PrintIsAFixedPoint) {
  const char* scripts[] = {
      "require [\"fileinto\", \"reject\"];\n"
      "if anyof (header :contains [\"Subject\", \"X-Spam\"] [\"viagra\", \"cheap\"], size :over 100K) {\n"
      "  fileinto \"Junk\"; stop;\n"
      "} elsif allof (address :localpart :is \"From\" \"boss\", not exists \"X-List\") { keep; }\n"
      "else { if true { if false { discard; } } }\n",
      "if body :text :contains [\"free\", \"money\"] { reject text:\nNo.\n.line\n.\n; }",
      "if envelope :domain :matches \"from\" \"*.example\" { redirect [\"a@b\", \"c@d\"]; }",
      "vacation :days 5 :addresses [\"me@x\", \"me@y\"] :subject \"Away\" :mime text:\nback soon\n.\n;",
      "if x_spamtest :value \"gt\" \"0.75\" { discard; } if size :under 3G { keep; }",
      "if header :count \"ge\" :comparator \"i;ascii-numeric\" \"Received\" \"10\" { stop; }",
      "if attachment :regex [\"exe$\", \"scr$\"] { discard; }",
      "if header :is :comparator \"i;octet\" [\"To\", \"Cc\"] [\"A@x\", \"B@x\", \"c\"] { keep; }",
      "if body :content \"text/html\" \"*<script*\" {}",
  };
  for (const char* text : scripts) {
    CSieveScript first;
    ASSERT_EQ(first.ParseString(text, nullptr), S_OK) << text;
    std::string once = PrintedScript(first);
    CSieveScript second;
    ASSERT_EQ(second.ParseString(once.c_str(), nullptr), S_OK) << once;
    EXPECT_EQ(PrintedScript(second), once) << text;
  }
}

TEST(SieveScript, LifecycleAndFiles) {
  telsor_test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::string script = dir.path() + "/s.sieve";
  FILE* f = fopen(script.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("keep;\n", f);
  fclose(f);

  CSieveScript s;
  EXPECT_EQ(s.Print(nullptr), S_OK);   // empty: nothing printed
  EXPECT_EQ(s.ParseString(nullptr, nullptr), S_OK);
  EXPECT_EQ(s.GetRoot(), nullptr);
  ASSERT_EQ(s.Parse(script.c_str(), ""), S_OK);
  ASSERT_NE(s.GetRoot(), nullptr);
  CExprTreeNode* tree = s.GetRoot();
  // A missing script or an impossible log leaves the compiled tree alone.
  EXPECT_EQ(s.Parse((dir.path() + "/missing").c_str(), nullptr), E_SIEVE_OPEN_FAILED);
  EXPECT_EQ(s.ParseString("stop;", (dir.path() + "/no/such/dir/log").c_str()), E_SIEVE_OPEN_FAILED);
  EXPECT_EQ(s.GetRoot(), tree);
  // A log is created when asked for.
  std::string log = dir.path() + "/lex.log";
  EXPECT_EQ(s.ParseString("stop;", log.c_str()), S_OK);
  EXPECT_EQ(access(log.c_str(), F_OK), 0);

  // Assignment shares the tree; a failed parse empties and records the error.
  CSieveScript copy;
  copy = s;
  EXPECT_EQ(copy.GetRoot(), s.GetRoot());
  EXPECT_EQ(s.ParseString("keep", nullptr), E_SIEVE_SYNTAX);
  EXPECT_EQ(s.GetRoot(), nullptr);
  EXPECT_NE(s.GetErrorDescription(), nullptr);
  EXPECT_EQ(s.GetErrorLine(), 1u);
  EXPECT_EQ(PrintedScript(copy), "stop;\n");
  CSieveScript failed(s);
  EXPECT_STREQ(failed.GetErrorDescription(), s.GetErrorDescription());
  EXPECT_EQ(s.ParseString("keep;", nullptr), S_OK);
  EXPECT_EQ(s.GetErrorDescription(), nullptr);
  EXPECT_EQ(s.GetErrorLine(), 0u);
  copy = copy;
  EXPECT_EQ(PrintedScript(copy), "stop;\n");
  EXPECT_EQ(CSieveScript::GetEngineVersion(), 10u);
}

}  // namespace

namespace {

// Long words, tags and numbers read on past the scanner's rules; they give
// the same tokens and counters as short ones and take linear time.
TEST(SieveScanner, LongRuns) {
  CSieveScript s;
  std::string word(40, 'w');
  // A word followed by a line feed: the look-ahead has moved to line 3, and
  // the column (look-ahead minus length) would go below 0, short or long
  // alike: it stops at 0.
  EXPECT_EQ(s.ParseString(("keep;\nabcdefghij\nkeep;"), nullptr), E_SIEVE_UNKNOWN_IDENTIFIER);
  EXPECT_STREQ(s.GetErrorDescription(), "Line: 3, Column: 0 : Unrecognized command or it is not valid in this state.\n");
  EXPECT_EQ(s.ParseString(("keep;\n" + word + "\nkeep;").c_str(), nullptr), E_SIEVE_UNKNOWN_IDENTIFIER);
  EXPECT_STREQ(s.GetErrorDescription(), "Line: 3, Column: 0 : Unrecognized command or it is not valid in this state.\n");
  EXPECT_EQ(s.ParseString(("keep; " + word + " keep;").c_str(), nullptr), E_SIEVE_UNKNOWN_IDENTIFIER);
  EXPECT_STREQ(s.GetErrorDescription(), "Line: 1, Column: 7 : Unrecognized command or it is not valid in this state.\n");
  EXPECT_EQ(s.ParseString(("if body :" + word + " \"x\" {}").c_str(), nullptr), E_SIEVE_UNKNOWN_TAG);
  EXPECT_EQ(std::string(s.GetErrorDescription()), "Line: 1, Column: 9 : ':" + word + "' : unknown tag.\n");
  // A long word right before a NUL byte or the end of the input.
  EXPECT_EQ(s.ParseString(word.c_str(), nullptr), E_SIEVE_UNKNOWN_IDENTIFIER);

  struct N {
    std::string text;
    uint64_t value;
  };
  const N numbers[] = {
      {std::string(39, '0') + "1K", 1024},
      {std::string(39, '0') + "3" + std::string(40, ' ') + "M", 3ULL << 20},
      {"2" + std::string(40, '\t') + "g", 2ULL << 30},
      {"7" + std::string(40, ' '), 7},
      {std::string(50, '9'), 4294967295u},
  };
  for (const N& n : numbers) {
    std::string script = "if size :over " + n.text + "{ keep; }";
    ASSERT_EQ(s.ParseString(script.c_str(), nullptr), S_OK) << script;
    CListCommands* root = dynamic_cast<CListCommands*>(s.GetRoot());
    void* pos = root->GetHeadPosition();
    CCtrlIF* ctrl = dynamic_cast<CCtrlIF*>(root->GetNext(pos));
    CTestSIZE* size = dynamic_cast<CTestSIZE*>(static_cast<CTest*>(ctrl->m_pTest));
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->m_nLimit, n.value) << n.text;
  }
  // 64 KiB runs finish in well under a second each (they took seconds to
  // minutes when a rule matched the whole run).
  struct Run {
    std::string text;
    HRESULT want;
  };
  const Run runs[] = {
      {std::string(65536, 'a'), E_SIEVE_UNKNOWN_IDENTIFIER},
      {"if size :over " + std::string(65500, '9') + " {}", S_OK},
      {":" + std::string(65535, 't'), E_SIEVE_UNKNOWN_TAG},
      {"keep; /*" + std::string(65500, '*'), E_SIEVE_SYNTAX},  // the comment never ends,
      {"# " + std::string(65500, '#'), S_OK},
      {"if size :over 1" + std::string(65500, ' ') + "K {}", S_OK},
  };
  for (const Run& run : runs) {
    time_t start = time(nullptr);
    EXPECT_EQ(s.ParseString(run.text.c_str(), nullptr), run.want) << run.text.substr(0, 20);
    EXPECT_LE(time(nullptr) - start, 5) << run.text.substr(0, 20);
  }
}

}  // namespace

namespace {

// The yacc-style error entry writes the same error lines as PrintError.
TEST(SieveScanner, YyerrorFormatsLikePrintError) {
  CSieveLex a, b;
  a.yyerror("%s at %d", "bad", 7);
  b.PrintError("%s at %d", "bad", 7);
  EXPECT_STREQ(a.GetErrorText(), "Line: 1, Column: 0 : bad at 7\n");
  EXPECT_STREQ(a.GetErrorText(), b.GetErrorText());
}

}  // namespace
