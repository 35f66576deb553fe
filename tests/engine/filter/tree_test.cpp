// The expression tree: ownership of shared subtrees, the if chain, the
// containers, string arrays, the type-code factory and the selection of
// top-level two-list tests.
#include <string.h>

#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "treebuild.h"

namespace {

// A test node that counts the live instances, so tests can see exactly when
// a shared subtree goes.
class CCountedTest : public CTest {
 public:
  CCountedTest() : CTest(NODE_TRUE) { ++s_alive; }
  ~CCountedTest() override { --s_alive; }
  static int s_alive;
};
int CCountedTest::s_alive = 0;

TEST(SieveTree, SharedSubtreeLivesUntilItsLastHolderGoes) {
  ASSERT_EQ(CCountedTest::s_alive, 0);
  {
    CSharedObjPtr<CListCommands> first = new CListCommands;
    CSharedObjPtr<CListCommands> second = new CListCommands;
    CCountedTest* shared = new CCountedTest;
    CSharedObjPtr<CTestNOT> notShared = new CTestNOT(shared);   // not holds shared
    first->AddTail(new CCtrlIF(notShared, nullptr, nullptr));
    second->AddTail(new CCtrlIF(shared, new CListCommands, nullptr));
    notShared = nullptr;
    first = nullptr;   // the first tree goes; the second still holds the test
    EXPECT_EQ(CCountedTest::s_alive, 1);
    second = nullptr;
    EXPECT_EQ(CCountedTest::s_alive, 0);
  }
}

TEST(SieveTree, ElsifChainGrowsAtItsEnd) {
  CSharedObjPtr<CCtrlELSIF> c = new CCtrlELSIF(new CTestBoolean(1), nullptr, nullptr);
  CSharedObjPtr<CCtrlELSIF> b = new CCtrlELSIF(new CTestBoolean(1), nullptr, c);
  CSharedObjPtr<CCtrlELSIF> a = new CCtrlELSIF(new CTestBoolean(1), nullptr, b);
  CSharedObjPtr<CCtrlELSIF> last = new CCtrlELSIF(nullptr, new CListCommands, nullptr);
  EXPECT_EQ(last->m_nType, CExprTreeNode::NODE_ELSE);
  EXPECT_EQ(a->m_nType, CExprTreeNode::NODE_ELSIF);
  a->AddELSIF(last);
  EXPECT_EQ(static_cast<CCtrlELSIF*>(c->m_pNext), static_cast<CCtrlELSIF*>(last));
  a->AddELSIF(nullptr);
  EXPECT_EQ(static_cast<CCtrlELSIF*>(c->m_pNext), static_cast<CCtrlELSIF*>(last));
  EXPECT_EQ(last->m_pNext, nullptr);
  // A link shared by two chains stays alive until both release it.
  CSharedObjPtr<CCtrlELSIF> other = new CCtrlELSIF(new CTestBoolean(0), nullptr, nullptr);
  CCountedTest* counted = new CCountedTest;
  CSharedObjPtr<CCtrlELSIF> sharedLink = new CCtrlELSIF(counted, nullptr, nullptr);
  other->AddELSIF(sharedLink);
  a->AddELSIF(sharedLink);
  sharedLink = nullptr;
  a = nullptr;
  b = nullptr;
  c = nullptr;
  last = nullptr;
  EXPECT_EQ(CCountedTest::s_alive, 1);
  other = nullptr;
  EXPECT_EQ(CCountedTest::s_alive, 0);
}

TEST(SieveTree, ContainersTrackTheirNodes) {
  CSharedObjPtr<CListStrings> list = new CListStrings;
  list->RemoveAll();   // empty and still usable
  CSharedObjPtr<CQuotedString> a = new CQuotedString("a");
  CSharedObjPtr<CQuotedString> b = new CQuotedString("b");
  void* pa = list->AddTail(a);
  list->AddHead(b);
  EXPECT_EQ(a->m_pContainer, static_cast<CNodeContainer*>(list));
  CSharedObjPtr<CQuotedString> c = new CQuotedString("c");
  list->SetAt(pa, c);
  EXPECT_EQ(a->m_pContainer, nullptr);
  EXPECT_EQ(c->m_pContainer, static_cast<CNodeContainer*>(list));
  const char** arr = CListStrings::AllocateStrArray(list);
  EXPECT_STREQ(arr[0], "b");
  EXPECT_STREQ(arr[1], "c");
  EXPECT_EQ(arr[2], nullptr);
  CListStrings::FreeStrArray(arr);
  list->RemoveAt(list->GetHeadPosition());
  EXPECT_EQ(b->m_pContainer, nullptr);
  EXPECT_EQ(list->GetCount(), 1);
  list->RemoveAll();
  EXPECT_EQ(c->m_pContainer, nullptr);
  EXPECT_EQ(list->GetCount(), 0);
  list->AddTail(a);
  EXPECT_EQ(list->GetCount(), 1);
}

TEST(SieveTree, GetNodeByTypeFindsTheFirst) {
  CSharedObjPtr<CListTags> empty = new CListTags;
  EXPECT_EQ(empty->GetNodeByType(CExprTreeNode::NODE_MATCH_TYPE), nullptr);
  CMatchType* first = new CMatchType(MATCH_IS, RELATIONAL_NONE);
  CSharedObjPtr<CListTags> tags = Tags({new CAddressPart(ADDRESS_ALL), first, new CMatchType(MATCH_REGEX, RELATIONAL_NONE)});
  EXPECT_EQ(tags->GetNodeByType(CExprTreeNode::NODE_MATCH_TYPE), first);
  EXPECT_EQ(tags->GetNodeByType(CExprTreeNode::NODE_TAG_COMPARATOR), nullptr);
}

TEST(SieveTree, StringArrayIsOneBlock) {
  CSharedObjPtr<CListStrings> list = Strings({"a", nullptr, "xyz"});
  const char** arr = CListStrings::AllocateStrArray(list);
  ASSERT_NE(arr, nullptr);
  // n + 1 pointers, then the texts back to back in list order.
  const char* texts = reinterpret_cast<const char*>(arr + 4);
  EXPECT_EQ(arr[0], texts);
  EXPECT_EQ(arr[1], texts + 2);
  EXPECT_EQ(arr[2], texts + 3);
  EXPECT_EQ(arr[3], nullptr);
  EXPECT_EQ(memcmp(texts, "a\0\0xyz\0", 7), 0);
  CListStrings::FreeStrArray(arr);
  EXPECT_EQ(CListStrings::AllocateStrArray(nullptr), nullptr);
  CSharedObjPtr<CListStrings> empty = new CListStrings;
  const char** none = CListStrings::AllocateStrArray(empty);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none[0], nullptr);
  CListStrings::FreeStrArray(none);
  CListStrings::FreeStrArray(nullptr);
}

TEST(SieveTree, ExtractTestTwoStrSelectsTopLevelSingleNames) {
  CSharedObjPtr<CListCommands> root = new CListCommands;
  CSharedObjPtr<CTest> one = new CTestENVELOPE(nullptr, Strings({"return-PATH"}), Strings({"a"}));
  CSharedObjPtr<CTest> two = new CTestENVELOPE(nullptr, Strings({"Return-path", "From"}), Strings({"a"}));
  CSharedObjPtr<CTest> other = new CTestENVELOPE(nullptr, Strings({"Recipient"}), Strings({"a"}));
  CSharedObjPtr<CTest> header = new CTestHEADER(nullptr, Strings({"Return-path"}), Strings({"a"}));
  CSharedObjPtr<CTest> negated = new CTestNOT(new CTestENVELOPE(nullptr, Strings({"Return-path"}), Strings({"a"})));
  CSharedObjPtr<CTest> nested = new CTestENVELOPE(nullptr, Strings({"Return-path"}), Strings({"b"}));
  CSharedObjPtr<CTest> last = new CTestENVELOPE(nullptr, Strings({"Return-path"}), Strings({"c"}));
  CSharedObjPtr<CListCommands> block = new CListCommands;
  block->AddTail(new CCtrlIF(nested, nullptr, nullptr));
  root->AddTail(new CCtrlIF(one, nullptr, nullptr));
  root->AddTail(new CCmdKEEP);
  root->AddTail(new CCtrlIF(two, nullptr, nullptr));
  root->AddTail(new CCtrlIF(other, nullptr, nullptr));
  root->AddTail(new CCtrlIF(header, nullptr, nullptr));
  root->AddTail(new CCtrlIF(negated, block, new CCtrlELSIF(nested, nullptr, nullptr)));
  root->AddTail(new CCtrlIF(nullptr, nullptr, nullptr));
  root->AddTail(new CCtrlIF(last, nullptr, nullptr));
  CListSharedNodes found;
  CSharedObjPtr<CExprTreeNode> before = new CCmdSTOP;
  found.AddTail(before);
  root->ExtractTestTwoStr(CExprTreeNode::NODE_ENVELOPE, "Return-path", found);
  std::vector<CExprTreeNode*> got;
  for (void* pos = found.GetHeadPosition(); pos != nullptr;) got.push_back(found.GetNext(pos));
  std::vector<CExprTreeNode*> want = {before, one, last};
  EXPECT_EQ(got, want);
}

TEST(SieveTree, FactoryMakesEveryClassWithDefaults) {
  struct Row {
    CExprTreeNode::TYPE_NODE type;
    const std::type_info& cls;
  };
  const Row rows[] = {
      {CExprTreeNode::NODE_PLAIN, typeid(CExprTreeNode)},       {CExprTreeNode::NODE_QUOTED_STRING, typeid(CQuotedString)},
      {CExprTreeNode::NODE_MULTILINE, typeid(CMultiline)},      {CExprTreeNode::NODE_LIST_STRINGS, typeid(CListStrings)},
      {CExprTreeNode::NODE_TAG_COMPARATOR, typeid(CTagComparator)}, {CExprTreeNode::NODE_MATCH_TYPE, typeid(CMatchType)},
      {CExprTreeNode::NODE_ADDRESS_PART, typeid(CAddressPart)}, {CExprTreeNode::NODE_VACATION_TAGS, typeid(CVacationTags)},
      {CExprTreeNode::NODE_LIST_TAGS, typeid(CListTags)},       {CExprTreeNode::NODE_TAG_TEXT, typeid(CExprTreeNode)},
      {CExprTreeNode::NODE_TAG_RAW, typeid(CExprTreeNode)},     {CExprTreeNode::NODE_REJECT, typeid(CCmdREJECT)},
      {CExprTreeNode::NODE_FILEINTO, typeid(CCmdFILEINTO)},     {CExprTreeNode::NODE_REDIRECT, typeid(CCmdREDIRECT)},
      {CExprTreeNode::NODE_KEEP, typeid(CCmdKEEP)},             {CExprTreeNode::NODE_DISCARD, typeid(CCmdDISCARD)},
      {CExprTreeNode::NODE_VACATION, typeid(CCmdVACATION)},     {CExprTreeNode::NODE_LIST_COMMANDS, typeid(CListCommands)},
      {CExprTreeNode::NODE_REQUIRE, typeid(CCtrlREQUIRE)},      {CExprTreeNode::NODE_STOP, typeid(CCmdSTOP)},
      {CExprTreeNode::NODE_IF, typeid(CCtrlIF)},                {CExprTreeNode::NODE_ELSIF, typeid(CCtrlELSIF)},
      {CExprTreeNode::NODE_ELSE, typeid(CCtrlELSIF)},           {CExprTreeNode::NODE_MULTI_TEST, typeid(CMultiTest)},
      {CExprTreeNode::NODE_ENVELOPE, typeid(CTestENVELOPE)},    {CExprTreeNode::NODE_EXISTS, typeid(CTestEXISTS)},
      {CExprTreeNode::NODE_FALSE, typeid(CTestBoolean)},        {CExprTreeNode::NODE_HEADER, typeid(CTestHEADER)},
      {CExprTreeNode::NODE_NOT, typeid(CTestNOT)},              {CExprTreeNode::NODE_SIZE, typeid(CTestSIZE)},
      {CExprTreeNode::NODE_TRUE, typeid(CTestBoolean)},         {CExprTreeNode::NODE_ADDRESS, typeid(CTestADDRESS)},
      {CExprTreeNode::NODE_LIST_TEST, typeid(CListTest)},       {CExprTreeNode::NODE_BODY, typeid(CTestBODY)},
      {CExprTreeNode::NODE_ATTACHMENT, typeid(CTestATTACHMENT)}, {CExprTreeNode::NODE_X_SPAMTEST, typeid(CTestXSpamTest)},
  };
  ASSERT_EQ(sizeof rows / sizeof rows[0], 36u);
  for (const Row& r : rows) {
    CExprTreeNode* made = reinterpret_cast<CExprTreeNode*>(1);
    ASSERT_EQ(CExprTreeNode::CreateInstance(r.type, &made), S_OK) << r.type;
    CSharedObjPtr<CExprTreeNode> node = made;
    EXPECT_EQ(typeid(*node), r.cls) << r.type;
    EXPECT_EQ(node->m_nType, r.type);
    EXPECT_EQ(node->m_nLine, 0u);
  }
  CExprTreeNode* made = nullptr;
  EXPECT_EQ(CExprTreeNode::CreateInstance(CExprTreeNode::NODE_MULTI_TEST, &made), S_OK);
  CSharedObjPtr<CExprTreeNode> multi = made;
  EXPECT_EQ(static_cast<CMultiTest*>(made)->m_nOperator, LOGIC_ANYOF);
  EXPECT_EQ(CExprTreeNode::CreateInstance(CExprTreeNode::NODE_X_SPAMTEST, &made), S_OK);
  CSharedObjPtr<CExprTreeNode> spam = made;
  EXPECT_EQ(static_cast<CTestXSpamTest*>(made)->m_nOperator, RELATIONAL_EQ);
  EXPECT_EQ(CExprTreeNode::CreateInstance(CExprTreeNode::NODE_VACATION_TAGS, &made), S_OK);
  CSharedObjPtr<CExprTreeNode> vac = made;
  EXPECT_EQ(static_cast<CVacationTags*>(made)->m_nMime, -1);

  made = reinterpret_cast<CExprTreeNode*>(1);
  EXPECT_EQ(CExprTreeNode::CreateInstance(static_cast<CExprTreeNode::TYPE_NODE>(36), &made), E_SIEVE_BAD_NODE_TYPE);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(CExprTreeNode::CreateInstance(CExprTreeNode::NODE_KEEP, nullptr), E_INVALIDARG);
}

TEST(SieveTree, RejectAndVacationAccessors) {
  CSharedObjPtr<CCmdREJECT> reject = new CCmdREJECT(nullptr);
  EXPECT_STREQ(reject->GetReason(), "");
  CSharedObjPtr<CQuotedString> old = new CQuotedString("old");
  reject->m_pReason = old;
  reject->SetReason("new reason");
  EXPECT_STREQ(reject->GetReason(), "new reason");
  EXPECT_NE(static_cast<CQuotedString*>(reject->m_pReason), static_cast<CQuotedString*>(old));
  EXPECT_EQ(old->AddRef(), 2);   // only this test's reference and the probe remain
  old->Release();

  CSharedObjPtr<CVacationTags> tags = new CVacationTags;
  EXPECT_EQ(tags->m_nMime, -1);
  EXPECT_EQ(tags->m_nDays, 0u);
  EXPECT_STREQ(tags->GetSubject(), "");
  EXPECT_EQ(tags->m_ppAddresses, nullptr);
  const char** set = tags->SetAddresses(Strings({"a@x"}));
  EXPECT_EQ(set, tags->m_ppAddresses);
  EXPECT_STREQ(set[0], "a@x");
  EXPECT_EQ(tags->SetAddresses(nullptr), nullptr);
  EXPECT_EQ(tags->m_ppAddresses, nullptr);
  tags->SetSubject(new CQuotedString("Re"));
  EXPECT_STREQ(tags->GetSubject(), "Re");
  tags->SetSubject(nullptr);
  EXPECT_STREQ(tags->GetSubject(), "");

  CSharedObjPtr<CQuotedString> s = new CQuotedString(nullptr);
  EXPECT_EQ(s->GetValue(), nullptr);
  s->SetValue("v");
  EXPECT_STREQ(s->GetValue(), "v");
  s->SetValue(nullptr);
  EXPECT_EQ(s->GetValue(), nullptr);
}

}  // namespace
