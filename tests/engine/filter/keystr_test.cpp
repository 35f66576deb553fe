// The pattern factory: which matcher classes a key-list test gets for each
// match type, comparator and key list, with which case handling, how keys
// are grouped, and the failures of construction.
#include <string.h>

#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "search/regexpr.h"
#include "search/seekdictionary.h"
#include "search/seekexactstr.h"
#include "search/seekmatches.h"
#include "search/seekmultiwords.h"
#include "search/seeksubstr.h"
#include "treebuild.h"

namespace {

using telsor::CExprTreeException;
using telsor::CSeekPattern;

std::vector<const CSeekPattern*> Matchers(const CKeyStr* test) {
  std::vector<const CSeekPattern*> out;
  if (test->m_ppPatterns != nullptr)
    for (CSeekPattern** p = test->m_ppPatterns; *p != nullptr; ++p) out.push_back(*p);
  return out;
}

std::vector<std::string> ClassesOf(const CKeyStr* test) {
  std::vector<std::string> out;
  for (const CSeekPattern* m : Matchers(test)) {
    if (typeid(*m) == typeid(telsor::CSeekExactStr)) out.push_back("exact");
    else if (typeid(*m) == typeid(telsor::CSeekSubstr)) out.push_back("substr");
    else if (typeid(*m) == typeid(telsor::CSeekMatches)) out.push_back("matches");
    else if (typeid(*m) == typeid(telsor::CRegExpr)) out.push_back("regex");
    else if (typeid(*m) == typeid(telsor::CSeekDictionary)) out.push_back("dictionary");
    else if (typeid(*m) == typeid(telsor::CSeekMultiWords)) out.push_back("multiwords");
    else out.push_back("?");
  }
  return out;
}

struct FactoryRow {
  MATCH_TYPES match;
  TYPE_COMPARATOR comparator;   // COMPARATOR_NONE: no :comparator tag
  std::vector<std::string> keys;
  std::vector<std::string> classes;
  int caseSensitive;
};

TEST(SieveFactory, MatcherClassesAndCase) {
  std::string k40(40000, 'x'), k30(30000, 'y'), k30b(30000, 'z');
  const std::vector<FactoryRow> rows = {
      {MATCH_IS, COMPARATOR_NONE, {"a"}, {"exact"}, 0},
      {MATCH_IS, COMPARATOR_NONE, {"a", "b"}, {"dictionary"}, 0},
      {MATCH_IS, COMPARATOR_OCTET, {"a", "b"}, {"dictionary"}, 1},
      {MATCH_CONTAINS, COMPARATOR_NONE, {"a"}, {"substr"}, 0},
      {MATCH_CONTAINS, COMPARATOR_ASCII_NUMERIC, {"a", "b", "c"}, {"multiwords"}, 1},
      {MATCH_CONTAINS, COMPARATOR_NONE, {k40, k30}, {"multiwords", "multiwords"}, 0},
      {MATCH_IS, COMPARATOR_NONE, {k30, k30b}, {"dictionary"}, 0},
      {MATCH_IS, COMPARATOR_NONE, {k40, k30, "c"}, {"dictionary", "dictionary"}, 0},
      {MATCH_MATCHES, COMPARATOR_NONE, {"a*", "b?"}, {"matches", "matches"}, 0},
      {MATCH_MATCHES, COMPARATOR_OCTET, {"a*"}, {"matches"}, 1},
      {MATCH_REGEX, COMPARATOR_NONE, {"a+", "b|c"}, {"regex", "regex"}, 0},
      {MATCH_COUNT, COMPARATOR_ASCII_NUMERIC, {"1", "2"}, {"exact", "exact"}, 1},
      {MATCH_VALUE, COMPARATOR_NONE, {"abc", "b"}, {"exact", "exact"}, 0},
      {MATCH_VALUE, COMPARATOR_OCTET, {"abc"}, {"exact"}, 1},
  };
  for (const FactoryRow& r : rows) {
    std::vector<const char*> keyPtrs;
    CSharedObjPtr<CListStrings> keys = new CListStrings;
    for (const std::string& k : r.keys) keys->AddTail(new CQuotedString(k.c_str()));
    CSharedObjPtr<CListTags> tags = new CListTags;
    tags->AddTail(new CMatchType(r.match, RELATIONAL_GT));
    if (r.comparator != COMPARATOR_NONE) tags->AddTail(new CTagComparator(r.comparator));
    CSharedObjPtr<CTestHEADER> test = new CTestHEADER(tags, Strings({"Subject"}), keys);
    std::string label = std::string("match ") + std::to_string(r.match) + " keys " + std::to_string(r.keys.size());
    EXPECT_EQ(ClassesOf(test), r.classes) << label;
    EXPECT_EQ(test->m_nMatchType, r.match) << label;
    for (const CSeekPattern* m : Matchers(test)) EXPECT_EQ(m->IsCaseSensitive(), r.caseSensitive) << label;
    // Every key comes back, in order within each matcher.
    size_t total = 0;
    for (const CSeekPattern* m : Matchers(test)) total += m->GetCount();
    EXPECT_EQ(total, r.keys.size()) << label;
  }
}

TEST(SieveFactory, GroupingKeepsTheFirstLargeKeyAlone) {
  std::string k40(40000, 'x'), k30(30000, 'y');
  CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_CONTAINS, RELATIONAL_NONE)});
  CSharedObjPtr<CTestHEADER> test = new CTestHEADER(tags, Strings({"X"}), Strings(k40, k30));
  std::vector<const CSeekPattern*> m = Matchers(test);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0]->GetCount(), 1u);
  EXPECT_EQ(strlen(m[0]->GetPattern(0)), 40000u);
  EXPECT_EQ(strlen(m[1]->GetPattern(0)), 30000u);
}

TEST(SieveFactory, KeysKeepTheirCaseOnlyWithCaseSensitiveComparators) {
  for (TYPE_COMPARATOR cmp : {COMPARATOR_ASCII_CASEMAP, COMPARATOR_OCTET, COMPARATOR_ASCII_NUMERIC}) {
    CSharedObjPtr<CListTags> tags = Tags({new CTagComparator(cmp)});
    CSharedObjPtr<CTestHEADER> test = new CTestHEADER(tags, Strings({"X"}), Strings({"MiXeD"}));
    ASSERT_EQ(Matchers(test).size(), 1u);
    EXPECT_STREQ(Matchers(test)[0]->GetPattern(0), cmp == COMPARATOR_ASCII_CASEMAP ? "mixed" : "MiXeD");
    // The compiled matcher really decides case: "MIXED" matches only without it.
    DWORD len = 0;
    DWORD at = Matchers(test)[0]->Search("MIXED", 0, &len);
    EXPECT_EQ(at == 0, cmp == COMPARATOR_ASCII_CASEMAP);
  }
}

TEST(SieveFactory, NoKeysGiveNoPatterns) {
  CSharedObjPtr<CTestHEADER> none = new CTestHEADER(nullptr, Strings({"X"}), nullptr);
  EXPECT_EQ(none->m_ppPatterns, nullptr);
  CSharedObjPtr<CListStrings> empty = new CListStrings;
  CSharedObjPtr<CTestHEADER> emptyKeys = new CTestHEADER(nullptr, Strings({"X"}), empty);
  EXPECT_EQ(emptyKeys->m_ppPatterns, nullptr);
}

class WebCompatible : public ::testing::Test {
 protected:
  void TearDown() override { telsor::g_bQuorMailWebCompatible = 0; }
};

TEST_F(WebCompatible, RewritesMatchesKeys) {
  struct Row {
    const char* key;
    const char* compiled;
  };
  const Row rows[] = {
      {"^abc$", "abc"},   {"abc", "*abc*"},     {"^abc", "abc*"}, {"abc$", "*abc"},
      {"abc\\$", "*abc\\$*"}, {"", ""},          {"^", "*"},      {"$", "*"},
      {"^$", "$*"},
  };
  telsor::g_bQuorMailWebCompatible = 1;
  for (const Row& r : rows) {
    CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_MATCHES, RELATIONAL_NONE)});
    CSharedObjPtr<CTestHEADER> test = new CTestHEADER(tags, Strings({"X"}), Strings({r.key}));
    ASSERT_EQ(Matchers(test).size(), 1u) << r.key;
    const char* got = Matchers(test)[0]->GetPattern(0);
    EXPECT_STREQ(got != nullptr ? got : "", r.compiled) << r.key;
  }
  // Other match types are left alone.
  CSharedObjPtr<CTestHEADER> is = new CTestHEADER(nullptr, Strings({"X"}), Strings({"^abc$"}));
  EXPECT_STREQ(Matchers(is)[0]->GetPattern(0), "^abc$");
  // Switched off, :matches keys compile as written.
  telsor::g_bQuorMailWebCompatible = 0;
  CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_MATCHES, RELATIONAL_NONE)});
  CSharedObjPtr<CTestHEADER> plain = new CTestHEADER(tags, Strings({"X"}), Strings({"^abc$"}));
  EXPECT_STREQ(Matchers(plain)[0]->GetPattern(0), "^abc$");
}

// Runs make() and returns the tree exception it throws (code, message).
template <class Fn>
std::pair<DWORD, std::string> ThrownBy(Fn make) {
  try {
    make();
  } catch (CExprTreeException* e) {
    std::pair<DWORD, std::string> got(e->GetCode(), e->GetMessage().c_str());
    e->Delete();
    return got;
  }
  return {0, "no exception"};
}

TEST(SieveFactory, CountNeedsTheNumericComparator) {
  auto make = [](TYPE_COMPARATOR cmp) {
    CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_COUNT, RELATIONAL_GE), new CTagComparator(cmp)});
    CSharedObjPtr<CTestHEADER> test = new CTestHEADER(tags, Strings({"Received"}), Strings({"3", "4"}));
  };
  auto got = ThrownBy([&] { make(COMPARATOR_OCTET); });
  EXPECT_EQ(got.first, static_cast<DWORD>(E_SIEVE_BAD_RELATIONAL));
  EXPECT_EQ(got.second, "COUNT match type must be used with numeric comparators.");
  EXPECT_EQ(ThrownBy([&] { make(COMPARATOR_ASCII_CASEMAP); }).first, static_cast<DWORD>(E_SIEVE_BAD_RELATIONAL));
  EXPECT_EQ(ThrownBy([&] { make(COMPARATOR_ASCII_NUMERIC); }).first, 0u);
  // The same check holds for the address, envelope and body tests.
  CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_COUNT, RELATIONAL_GE)});
  EXPECT_EQ(ThrownBy([&] { CSharedObjPtr<CTest> t = new CTestADDRESS(tags, Strings({"From"}), Strings({"1"})); }).first,
            static_cast<DWORD>(E_SIEVE_BAD_RELATIONAL));
  EXPECT_EQ(ThrownBy([&] { CSharedObjPtr<CTest> t = new CTestBODY(tags, nullptr, Strings({"1"})); }).first,
            static_cast<DWORD>(E_SIEVE_BAD_RELATIONAL));
}

TEST(SieveFactory, ValueKeepsItsRelationalWithEveryComparator) {
  for (TYPE_COMPARATOR cmp : {COMPARATOR_ASCII_CASEMAP, COMPARATOR_OCTET, COMPARATOR_ASCII_NUMERIC}) {
    CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_VALUE, RELATIONAL_GT), new CTagComparator(cmp)});
    CSharedObjPtr<CTestHEADER> test = new CTestHEADER(tags, Strings({"X"}), Strings({"5"}));
    EXPECT_EQ(test->m_nRelational, RELATIONAL_GT);
  }
  // Without :count or :value the relational operator stays 0.
  CSharedObjPtr<CListTags> tags = Tags({new CMatchType(MATCH_IS, RELATIONAL_GT)});
  CSharedObjPtr<CTestHEADER> test = new CTestHEADER(tags, Strings({"X"}), Strings({"5"}));
  EXPECT_EQ(test->m_nRelational, RELATIONAL_NONE);
}

TEST(SieveFactory, BadKeysFailConstruction) {
  CSharedObjPtr<CListTags> regex = Tags({new CMatchType(MATCH_REGEX, RELATIONAL_NONE)});
  auto got = ThrownBy([&] { CSharedObjPtr<CTest> t = new CTestHEADER(regex, Strings({"X"}), Strings({"ok", "a(b"})); });
  EXPECT_EQ(got.first, static_cast<DWORD>(E_SEEK_SYNTAX));
  EXPECT_FALSE(got.second.empty());   // the regular expression's error text
  // A key too long for a matcher: alone and inside a group.
  std::string huge(70000, 'k');
  CSharedObjPtr<CListTags> contains = Tags({new CMatchType(MATCH_CONTAINS, RELATIONAL_NONE)});
  got = ThrownBy([&] { CSharedObjPtr<CTest> t = new CTestHEADER(contains, Strings({"X"}), Strings({huge.c_str()})); });
  EXPECT_EQ(got.first, static_cast<DWORD>(E_SEEK_PATTERN_TOO_LONG));
  EXPECT_EQ(got.second, "");
  got = ThrownBy([&] { CSharedObjPtr<CTest> t = new CTestHEADER(contains, Strings({"X"}), Strings("a", huge)); });
  EXPECT_EQ(got.first, static_cast<DWORD>(E_SEEK_WORD_TOO_LONG));
}

TEST(SieveFactory, ComparatorNames) {
  EXPECT_EQ(String2Comparator("I;OCTET"), COMPARATOR_OCTET);
  EXPECT_EQ(String2Comparator("i;ascii-casemap"), COMPARATOR_ASCII_CASEMAP);
  EXPECT_EQ(String2Comparator("i;ascii-numeric"), COMPARATOR_ASCII_NUMERIC);
  EXPECT_EQ(String2Comparator("i;unicode-casemap"), COMPARATOR_NONE);
  EXPECT_EQ(String2Comparator(nullptr), COMPARATOR_NONE);
  EXPECT_STREQ(Comparator2String(COMPARATOR_OCTET), "i;octet");
  EXPECT_EQ(Comparator2String(static_cast<TYPE_COMPARATOR>(4)), nullptr);
}

TEST(SieveFactory, TestDefaults) {
  CSharedObjPtr<CTestHEADER> header = new CTestHEADER(nullptr, Strings({"X"}), Strings({"a"}));
  EXPECT_EQ(header->m_nMatchType, MATCH_IS);
  EXPECT_EQ(header->m_nComparator, COMPARATOR_ASCII_CASEMAP);
  CSharedObjPtr<CTestATTACHMENT> attach = new CTestATTACHMENT(nullptr, Strings({"*.exe"}));
  EXPECT_EQ(attach->m_nMatchType, MATCH_MATCHES);
  ASSERT_NE(attach->m_ppKeys, nullptr);
  EXPECT_STREQ(attach->m_ppKeys[0], "*.exe");
  EXPECT_EQ(attach->m_ppKeys[1], nullptr);
  CSharedObjPtr<CTestENVELOPE> env = new CTestENVELOPE(nullptr, Strings({"Return-path"}), Strings({"a"}));
  EXPECT_EQ(env->m_nAddressPart, ADDRESS_ALL);
  CSharedObjPtr<CTestENVELOPE> dom =
      new CTestENVELOPE(Tags({new CAddressPart(ADDRESS_DOMAIN)}), Strings({"Return-path"}), Strings({"a"}));
  EXPECT_EQ(dom->m_nAddressPart, ADDRESS_DOMAIN);
}

TEST(SieveFactory, BodyTransform) {
  CSharedObjPtr<CExprTreeNode> text = new CExprTreeNode(CExprTreeNode::NODE_TAG_TEXT, 1);
  CSharedObjPtr<CExprTreeNode> raw = new CExprTreeNode(CExprTreeNode::NODE_TAG_RAW, 1);
  CSharedObjPtr<CTestBODY> b1 = new CTestBODY(Tags({text}), nullptr, Strings({"x"}));
  EXPECT_EQ(b1->m_bTransform, 1);
  ASSERT_NE(b1->m_ppFirst, nullptr);
  EXPECT_STREQ(b1->m_ppFirst[0], "text");
  EXPECT_EQ(b1->m_ppFirst[1], nullptr);
  EXPECT_EQ(b1->m_nMatchType, MATCH_MATCHES);
  CSharedObjPtr<CTestBODY> b2 = new CTestBODY(Tags({text}), Strings({"text/html"}), Strings({"x"}));
  EXPECT_STREQ(b2->m_ppFirst[0], "text/html");
  CSharedObjPtr<CTestBODY> b3 = new CTestBODY(Tags({raw}), nullptr, Strings({"x"}));
  EXPECT_EQ(b3->m_bTransform, 0);
  EXPECT_EQ(b3->m_ppFirst, nullptr);
}

}  // namespace
