// Regular-expression lexer and parser: every syntax error with its code and
// text, class and group members against the C library, quantifier bounds,
// tree shapes and the node limit.
#include <ctype.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/cputime.h"
#include "search/dfa.h"

using namespace telsor;

namespace {
struct tag_FAILURE {
  DWORD code;
  std::string message;
};

// Builds the tree; returns code 0 and an empty text on success.
tag_FAILURE Parse(CFA& fa, const char* pattern) {
  try {
    fa.BuildSyntaxTree(pattern);
  } catch (CFAException* e) {
    tag_FAILURE f{e->GetCode(), e->GetMessage().c_str()};
    e->Delete();
    return f;
  }
  return {0, ""};
}

// The member bytes of the single set token of a pattern such as "[...]".
std::string Members(const char* pattern, bool fold = false) {
  CFA fa;
  fa.SetFoldCase(fold);
  EXPECT_EQ(0u, Parse(fa, pattern).code) << pattern;
  // The tree is CAT(leaf, END): position 0 is the set.
  const tag_TREE_NODE& leaf = fa.GetNode(fa.GetPositionNode(0));
  std::string out;
  for (int c = 0; c < 256; ++c)
    if (CFA::MatchCharNode(leaf, static_cast<BYTE>(c))) out.push_back(static_cast<char>(c));
  return out;
}

// Bytes 0..254 that pass a C library test.
std::string ByTest(int (*test)(int)) {
  std::string out;
  for (int c = 0; c < 255; ++c)
    if (test(c)) out.push_back(static_cast<char>(c));
  return out;
}
}  // namespace

TEST(FATest, SyntaxErrorsCarryCodeAndText) {
  const struct {
    const char* pattern;
    const char* message;
  } cases[] = {
      {"x{2x}", "Unexpected character 'x' at position 3"},
      {"x{2", "Unexpected EOS"},
      {"x{", "Unexpected EOS"},
      {"x{2,", "Unexpected EOS"},
      {"\"abc", "Unexpected EOS"},
      {"\"ab\\", "Unexpected EOS"},
      {"[a-", "Unexpected EOS"},
      {"[a-\\", "Unexpected EOS"},
      {"ab\\", "Unfinished \\ escape"},
      {"[a-]", "Missing ']' when process bracket expression"},
      {"[abc", "Missing ']' when process bracket expression"},
      {"[ab\\", "Missing ']' when process bracket expression"},
      {"[a-c-e]", "Unexpected '-' at position 5"},
      {"[[.a.]]", "Collating element is not supported at position 2"},
      {"[[:foo:]]", "Unknown character class at position 2"},
      {"[[:al]]", "Unknown character class at position 2"},
      {"[[:alpha:x]", "Expected ']' to end character class at position 9"},
      {"[[=a=b]", "Expected '=]' to end equivalence class express at position 4"},
      {"a)", "Unexpected ')' at position 2"},
      {"(a", "Unclosed '(' at position 2"},
      {"((a)", "Unclosed '(' at position 4"},
      {"*a", "Unexpected '*' at position 1"},
      {"+a", "Unexpected quantifier '+' at position 1"},
      {"(?a)", "Unexpected quantifier '?' at position 2"},
      {"{2}", "Unexpected quantifier '{' at position 3"},
      {"|a", "Unexpected character '|' at position 1"},
      {"a|", "Unexpected character '|' at position 2"},
      {"a||b", "Unexpected character '|' at position 3"},
      {"(a|)", "Unexpected character '|' at position 4"},
  };
  for (const auto& c : cases) {
    CFA fa;
    tag_FAILURE f = Parse(fa, c.pattern);
    EXPECT_EQ(static_cast<DWORD>(E_SEEK_SYNTAX), f.code) << c.pattern;
    EXPECT_EQ(c.message, f.message) << c.pattern;
  }
}

TEST(FATest, MissingPatternAndMessagesThroughTheExceptionInterface) {
  CFA fa;
  tag_FAILURE f = Parse(fa, nullptr);
  EXPECT_EQ(static_cast<DWORD>(E_POINTER), f.code);
  EXPECT_EQ("", f.message);
  EXPECT_EQ(0u, fa.GetPos());

  CFAException e(static_cast<DWORD>(E_SEEK_SYNTAX), "Unexpected EOS");
  char text[8];
  EXPECT_NE(0, e.GetErrorMessage(text, sizeof text, nullptr));
  EXPECT_STREQ("Unexpec", text);  // cut to the buffer
  CFAException empty(static_cast<DWORD>(E_SEEK_TOO_MANY_NODES), nullptr);
  EXPECT_EQ(0, empty.GetErrorMessage(text, sizeof text, nullptr));
  EXPECT_STREQ("", text);
}

TEST(FATest, ClassesAndEscapesFollowTheCLibrary) {
  EXPECT_EQ(ByTest(isalpha), Members("[[:alpha:]]"));
  EXPECT_EQ(ByTest(isalpha), Members("[[:ALPHA:]]"));
  EXPECT_EQ(ByTest(isspace), Members("[[:blank:]]"));
  EXPECT_EQ(ByTest(isxdigit), Members("[[:xdigit:]]"));
  EXPECT_EQ(ByTest(ispunct), Members("[[:punct:]]"));
  EXPECT_EQ(ByTest(isdigit), Members("\\d"));
  EXPECT_EQ(ByTest(isspace), Members("\\s"));
  auto word = [](int c) { return isalnum(c) || c == '_'; };
  std::string w;
  for (int c = 0; c < 255; ++c)
    if (word(c)) w.push_back(static_cast<char>(c));
  EXPECT_EQ(w, Members("\\w"));
  // Complements hold every other byte value, 255 included.
  std::string allButDigits;
  for (int c = 0; c < 256; ++c)
    if (!isdigit(c)) allButDigits.push_back(static_cast<char>(c));
  EXPECT_EQ(allButDigits, Members("\\D"));
  EXPECT_EQ(256u - w.size(), Members("\\W").size());
  EXPECT_EQ(1, Members("\\W").back() == '\xFF');
  // Negated bracket: every byte value but the members.
  std::string notAB = Members("[^a-b]");
  EXPECT_EQ(254u, notAB.size());
  EXPECT_EQ(std::string::npos, notAB.find_first_of("ab"));
}

TEST(FATest, BracketMembers) {
  EXPECT_EQ("]a", Members("[]a]"));
  EXPECT_EQ("-a", Members("[-a]"));
  EXPECT_EQ("abce", Members("[a-ce-e]"));
  EXPECT_EQ("[a", Members("[[a]"));
  EXPECT_EQ(std::string("\te\xE8\xE9\xEA\xEB", 6), Members("[\\t[=e=]]"));
  EXPECT_EQ(",", Members("[[=,=]]"));
  EXPECT_EQ("x", Members("[x[==]]"));
  EXPECT_EQ("AB", Members("[\\x41\\102]"));
}

TEST(FATest, CaseFoldingKeepsTheMeaningOfSetsAndEscapes) {
  // Upper-case members gain their lower-case forms.
  std::string upper = Members("[[:upper:]]", true);
  EXPECT_EQ(52u, upper.size());
  EXPECT_NE(std::string::npos, upper.find('q'));
  // \S stays "not a space" and \D "not a digit".
  EXPECT_EQ(std::string::npos, Members("\\S", true).find(' '));
  EXPECT_NE(std::string::npos, Members("\\S", true).find('x'));
  EXPECT_EQ(std::string::npos, Members("\\D", true).find('5'));
  // A negated set excludes both cases of an excluded letter.
  std::string notA = Members("[^A]", true);
  EXPECT_EQ(std::string::npos, notA.find('a'));
  EXPECT_EQ(std::string::npos, notA.find('A'));
  EXPECT_NE(std::string::npos, notA.find('b'));
}

TEST(FATest, QuantifierBoundsAndTreeShape) {
  // a{2,4}: four byte leaves and END; two alternations with empty nodes.
  CFA fa;
  ASSERT_EQ(0u, Parse(fa, "a{2,4}").code);
  EXPECT_EQ(5u, fa.GetPositionCount());
  DWORD alternations = 0, empties = 0;
  for (DWORD i = 0; i < fa.GetNodeCount(); ++i) {
    alternations += fa.GetNode(i).kind == NODE_OR;
    empties += fa.GetNode(i).kind == NODE_EMPTY;
  }
  EXPECT_EQ(2u, alternations);
  EXPECT_EQ(2u, empties);
  EXPECT_EQ(1, fa.IsUnanchored());
  ASSERT_EQ(0u, Parse(fa, "^ab").code);
  EXPECT_EQ(0, fa.IsUnanchored());
  // A quoted string is one leaf per byte.
  ASSERT_EQ(0u, Parse(fa, "\"a\\\"c\"").code);
  EXPECT_EQ(4u, fa.GetPositionCount());
  EXPECT_EQ('"', fa.GetNode(fa.GetPositionNode(1)).ch);
  // a^b and a$b hold literal anchors.
  ASSERT_EQ(0u, Parse(fa, "a^b$c").code);
  EXPECT_EQ(6u, fa.GetPositionCount());
  EXPECT_EQ('^', fa.GetNode(fa.GetPositionNode(1)).ch);
  // x{3,1} is x{3}; x{ 2 , } three leaves (two copies and a star's).
  ASSERT_EQ(0u, Parse(fa, "x{3,1}").code);
  EXPECT_EQ(4u, fa.GetPositionCount());
  ASSERT_EQ(0u, Parse(fa, "x{ 2 , }").code);
  EXPECT_EQ(4u, fa.GetPositionCount());
  ASSERT_EQ(0u, Parse(fa, "x{,2}").code);
  EXPECT_EQ(3u, fa.GetPositionCount());
  // Empty pattern and empty group: just END.
  ASSERT_EQ(0u, Parse(fa, "").code);
  EXPECT_EQ(1u, fa.GetPositionCount());
  ASSERT_EQ(0u, Parse(fa, "()*").code);
  EXPECT_EQ(1u, fa.GetPositionCount());
}

TEST(FATest, NodeLimitFailsFast) {
  const auto begin = telsor_test::ThreadCpuTime();
  const char* patterns[] = {"x{131072}", "x{4294967296}", "x{99999999999999999999}",
                            "(ab){0,2000000000}", "(a?){40000}", "x{0,20000}"};
  for (const char* p : patterns) {
    CFA fa;
    tag_FAILURE f = Parse(fa, p);
    EXPECT_EQ(static_cast<DWORD>(E_SEEK_TOO_MANY_NODES), f.code) << p;
    EXPECT_EQ("", f.message);
  }
  // Just below the limit: x{65534} needs 2 x 65534 - 1 + 2 nodes.
  CFA fa;
  EXPECT_EQ(0u, Parse(fa, "x{65534}").code);
  EXPECT_EQ(131069u, fa.GetNodeCount());
  EXPECT_EQ(static_cast<DWORD>(E_SEEK_TOO_MANY_NODES), Parse(fa, "x{65536}").code);
  // Seconds, not minutes: about 1 s of CPU in a plain build.
  const auto bound = telsor_test::CpuBound(std::chrono::seconds(10));
  EXPECT_LT(telsor_test::ThreadCpuTime() - begin, bound);
}

TEST(FATest, DeepNestingDoesNotRecurse) {
  std::string p(30000, '(');
  p += "a";
  p += std::string(30000, ')');
  CFA fa;
  EXPECT_EQ(0u, Parse(fa, p.c_str()).code);
  EXPECT_EQ(2u, fa.GetPositionCount());
}
