// Printer goldens: trees built by hand and the exact Sieve text they print.
#include <float.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "treebuild.h"

namespace {

CSharedObjPtr<CListCommands> Commands(std::initializer_list<CExprTreeNode*> cmds) {
  CSharedObjPtr<CListCommands> list = new CListCommands;
  for (CExprTreeNode* c : cmds) list->AddTail(c);
  return list;
}

CExprTreeNode* If(CTest* test, CListCommands* block, CCtrlELSIF* next = nullptr) {
  return new CCtrlIF(test, block, next);
}

CSharedObjPtr<CListTest> TestList(std::initializer_list<CTest*> tests) {
  CSharedObjPtr<CListTest> list = new CListTest;
  for (CTest* t : tests) list->AddTail(t);
  return list;
}

struct Golden {
  const char* name;
  std::function<CSharedObjPtr<CExprTreeNode>()> build;
  std::string expected;
};

std::string Repeat(char c, int n) { return std::string(static_cast<size_t>(n), c); }

std::vector<Golden> Goldens() {
  // The line breaks once the texts written so far reach 128 characters.
  std::string s60a = Repeat('a', 64), s60b = Repeat('b', 64), s60c = Repeat('c', 60);
  return {
      {"keep", [] { return CSharedObjPtr<CExprTreeNode>(Commands({new CCmdKEEP})); }, "keep;\n"},
      {"nested if blocks",
       [] {
         CSharedObjPtr<CListCommands> inner = Commands({new CCmdDISCARD, new CCmdSTOP});
         CSharedObjPtr<CListCommands> outer = Commands({If(new CTestBoolean(0), inner)});
         return CSharedObjPtr<CExprTreeNode>(Commands({If(new CTestBoolean(1), outer), new CCmdKEEP}));
       },
       "if true\n{\n  if false\n  {\n    discard;\n    stop;\n  }\n}\nkeep;\n"},
      {"if with elsif and else",
       [] {
         CSharedObjPtr<CCtrlELSIF> chain =
             new CCtrlELSIF(new CTestBoolean(0), Commands({new CCmdSTOP}), nullptr);
         chain->AddELSIF(new CCtrlELSIF(nullptr, Commands({new CCmdKEEP}), nullptr));
         return CSharedObjPtr<CExprTreeNode>(Commands({If(new CTestBoolean(1), Commands({new CCmdDISCARD}), chain)}));
       },
       "if true\n{\n  discard;\n}\nelsif false\n{\n  stop;\n}\nelse \n{\n  keep;\n}\n"},
      {"if and else without blocks",
       [] {
         return CSharedObjPtr<CExprTreeNode>(
             Commands({If(new CTestBoolean(1), nullptr, new CCtrlELSIF(nullptr, nullptr, nullptr))}));
       },
       "if true\n{\n}\nelse \n{\n\n}\n"},
      {"string array broken after 128 characters",
       [=] { return CSharedObjPtr<CExprTreeNode>(new CCmdFILEINTO(Strings({s60a.c_str(), s60b.c_str(), s60c.c_str()}))); },
       "fileinto [\"" + s60a + "\", \"" + s60b + "\"\n, \"" + s60c + "\"];"},
      {"string array below 128 characters stays on one line",
       [=] { return CSharedObjPtr<CExprTreeNode>(new CCmdFILEINTO(Strings({s60a.c_str(), s60c.c_str(), s60c.c_str()}))); },
       "fileinto [\"" + s60a + "\", \"" + s60c + "\", \"" + s60c + "\"];"},
      {"one folder has no brackets",
       [] { return CSharedObjPtr<CExprTreeNode>(new CCmdFILEINTO(Strings({"INBOX.spam"}))); },
       "fileinto \"INBOX.spam\";"},
      {"multi-line reason dot-stuffed",
       [] { return CSharedObjPtr<CExprTreeNode>(new CCmdREJECT(new CMultiline("first\n.hidden\nlast\n"))); },
       "reject text:\nfirst\n..hidden\nlast\n.\n;"},
      {"empty multi-line string",
       [] { return CSharedObjPtr<CExprTreeNode>(new CMultiline(nullptr)); }, "text:\n.\n"},
      {"size over 2K", [] { return CSharedObjPtr<CExprTreeNode>(new CTestSIZE(NUMBER_OVER, 2048)); }, "size :over 2K"},
      {"size 3G", [] { return CSharedObjPtr<CExprTreeNode>(new CTestSIZE(NUMBER_UNDER, 3221225472ULL)); },
       "size :under 3G"},
      {"size one byte above 1M",
       [] { return CSharedObjPtr<CExprTreeNode>(new CTestSIZE(NUMBER_OVER, 1048577)); }, "size :over 1048577"},
      {"size 5M", [] { return CSharedObjPtr<CExprTreeNode>(new CTestSIZE(NUMBER_OVER, 5ULL << 20)); },
       "size :over 5M"},
      {"size 0", [] { return CSharedObjPtr<CExprTreeNode>(new CTestSIZE(NUMBER_OVER, 0)); }, "size :over 0K"},
      {"size plain under 1K", [] { return CSharedObjPtr<CExprTreeNode>(new CTestSIZE(NUMBER_OVER, 1000)); },
       "size :over 1000"},
      {"allof over two tests",
       [] {
         CSharedObjPtr<CTest> all = new CMultiTest(LOGIC_ALLOF, TestList({new CTestBoolean(1), new CTestBoolean(0)}));
         return CSharedObjPtr<CExprTreeNode>(Commands({If(all, nullptr)}));
       },
       "if allof( true,\n false )\n{\n}\n"},
      {"anyof inside a block aligns by level",
       [] {
         CSharedObjPtr<CTest> any = new CMultiTest(LOGIC_ANYOF, TestList({new CTestBoolean(1), new CTestBoolean(0)}));
         return CSharedObjPtr<CExprTreeNode>(Commands({If(new CTestBoolean(1), Commands({If(any, nullptr)}))}));
       },
       "if true\n{\n  if anyof( true,\n  false )\n  {\n  }\n}\n"},
      {"x_spamtest NIL",
       [] { return CSharedObjPtr<CExprTreeNode>(new CTestXSpamTest(RELATIONAL_GE, DBL_MAX)); },
       "x_spamtest :value \"ge\" \"NIL\""},
      {"x_spamtest number",
       [] { return CSharedObjPtr<CExprTreeNode>(new CTestXSpamTest(RELATIONAL_LT, 0.5)); },
       "x_spamtest :value \"lt\" \"0.5\""},
      {"not exists",
       [] { return CSharedObjPtr<CExprTreeNode>(new CTestNOT(new CTestEXISTS(Strings({"X-A", "X-B"})))); },
       "not exists [\"X-A\", \"X-B\"]"},
      {"require and header test",
       [] {
         CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_CONTAINS, RELATIONAL_NONE)});
         CSharedObjPtr<CTest> header = new CTestHEADER(tags, Strings({"Subject"}), Strings({"viagra"}));
         return CSharedObjPtr<CExprTreeNode>(Commands({new CCtrlREQUIRE(Strings({"fileinto"})),
                                                       If(header, Commands({new CCmdDISCARD, new CCmdSTOP}))}));
       },
       "require \"fileinto\";\nif header :contains \"Subject\" \"viagra\"\n{\n  discard;\n  stop;\n}\n"},
      {"header with comparator and count",
       [] {
         CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_COUNT, RELATIONAL_GE),
                                               new CTagComparator(COMPARATOR_ASCII_NUMERIC)});
         return CSharedObjPtr<CExprTreeNode>(new CTestHEADER(tags, Strings({"Received"}), Strings({"3"})));
       },
       "header :count \"ge\" :comparator \"i;ascii-numeric\" \"Received\" \"3\""},
      {"header :is octet with two keys",
       [] {
         CSharedObjPtr<CListTags> tags = Tags({new CTagComparator(COMPARATOR_OCTET)});
         return CSharedObjPtr<CExprTreeNode>(new CTestHEADER(tags, Strings({"To", "Cc"}), Strings({"b@x", "a@x"})));
       },
       // The dictionary hands its words back sorted.
       "header :is :comparator \"i;octet\" [\"To\", \"Cc\"] [\"a@x\", \"b@x\"]"},
      {"address domain",
       [] {
         CSharedObjPtr<CListTags> tags = Tags({new CAddressPart(ADDRESS_DOMAIN), new CMatchType(MATCH_MATCHES, RELATIONAL_NONE)});
         return CSharedObjPtr<CExprTreeNode>(new CTestADDRESS(tags, Strings({"From"}), Strings({"*.example"})));
       },
       "address :domain :matches \"From\" \"*.example\""},
      {"envelope default part",
       [] { return CSharedObjPtr<CExprTreeNode>(new CTestENVELOPE(nullptr, Strings({"Return-path"}), Strings({"x"}))); },
       "envelope :all :is \"Return-path\" \"x\""},
      {"body text without content types",
       [] {
         CSharedObjPtr<CExprTreeNode> text = new CExprTreeNode(CExprTreeNode::NODE_TAG_TEXT, 1);
         return CSharedObjPtr<CExprTreeNode>(new CTestBODY(Tags({text}), nullptr, Strings({"*free*"})));
       },
       "body :text \"text\" \"*free*\""},
      {"body contains",
       [] {
         CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_CONTAINS, RELATIONAL_NONE)});
         return CSharedObjPtr<CExprTreeNode>(new CTestBODY(tags, Strings({"text/html"}), Strings({"x"})));
       },
       "body :contains \"text/html\" \"x\""},
      {"attachment",
       [] {
         CSharedObjPtr<CListTags> tags = Tags({new CTagComparator(COMPARATOR_OCTET)});
         return CSharedObjPtr<CExprTreeNode>(new CTestATTACHMENT(tags, Strings({"*.exe", "*.scr"})));
       },
       "attachment :comparator \"i;octet\" [\"*.exe\", \"*.scr\"]"},
      {"vacation with only a reason",
       [] { return CSharedObjPtr<CExprTreeNode>(new CCmdVACATION(new CQuotedString("away"), nullptr)); },
       "vacation \"away\";"},
      {"vacation with every tag",
       [] {
         CSharedObjPtr<CVacationTags> tags = new CVacationTags;
         tags->m_nDays = 7;
         tags->m_nMime = 1;
         tags->SetSubject(new CQuotedString("Re"));
         tags->SetAddresses(Strings({"a@x", "b@x"}));
         return CSharedObjPtr<CExprTreeNode>(new CCmdVACATION(new CQuotedString("away"), tags));
       },
       "vacation :subject \"Re\" :mime :addresses [\"a@x\", \"b@x\"] :days 7 \"away\";"},
      {"vacation subject then reason",
       [] {
         CSharedObjPtr<CVacationTags> tags = new CVacationTags;
         tags->SetSubject(new CQuotedString("Re"));
         return CSharedObjPtr<CExprTreeNode>(new CCmdVACATION(new CQuotedString("away"), tags));
       },
       "vacation :subject \"Re\"\"away\";"},
      {"require without capabilities",
       [] { return CSharedObjPtr<CExprTreeNode>(new CCtrlREQUIRE(nullptr)); }, "require ;"},
      {"redirect", [] { return CSharedObjPtr<CExprTreeNode>(new CCmdREDIRECT(Strings({"a@x"}))); },
       "redirect \"a@x\";"},
      {"plain nodes print a question mark",
       [] { return CSharedObjPtr<CExprTreeNode>(new CMatchType(MATCH_IS, RELATIONAL_NONE)); }, "?"},
      {"script text is never a format",
       [] { return CSharedObjPtr<CExprTreeNode>(new CCmdFILEINTO(Strings({"%s%n%x"}))); },
       "fileinto \"%s%n%x\";"},
  };
}

TEST(SievePrinter, Goldens) {
  for (const Golden& g : Goldens()) {
    CSharedObjPtr<CExprTreeNode> node = g.build();
    EXPECT_EQ(Printed(node), g.expected) << g.name;
  }
}

TEST(SievePrinter, KeyListBreaksBeforeTheKeyPastTheLimit) {
  // Keys with a match type that gives one matcher each; 70 + 70 passes 128
  // at the second key: the line feed comes after its ", ".
  std::string a(70, 'a'), b(70, 'b'), c(5, 'c');
  CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_MATCHES, RELATIONAL_NONE)});
  CSharedObjPtr<CTestHEADER> h = new CTestHEADER(tags, Strings({"X"}), Strings({a.c_str(), b.c_str(), c.c_str()}));
  EXPECT_EQ(Printed(h), "header :matches \"X\" [\"" + a + "\", \n\"" + b + "\", \"" + c + "\"]");
}

TEST(SievePrinter, WritesToAStdioStream) {
  CSharedObjPtr<CListCommands> root = new CListCommands;
  root->AddTail(new CCmdKEEP);
  char buffer[64] = {};
  FILE* f = fmemopen(buffer, sizeof buffer, "w");
  ASSERT_NE(f, nullptr);
  tag_PRINT_CTXT ctx = {f, 0, 0, nullptr};
  root->Print(&ctx);
  fclose(f);
  EXPECT_STREQ(buffer, "keep;\n");
}

}  // namespace
