// Expression-tree nodes: containers, constructors, accessors, the type-code
// factory and the string arrays.
#include "filter/exprtree.h"

#include <float.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>

#include "foundation/errorroad.h"

namespace telsor {

int32_t g_bQuorMailWebCompatible = 0;

CExprTreeException::~CExprTreeException() {}

HRESULT CExprTreeException::GetResultCode() const {
  return m_dwCode != 0 ? static_cast<HRESULT>(m_dwCode) : E_FAIL;
}

void CExprTreeException::Throw(DWORD code, const char* message) {
  throw new CExprTreeException(code, TSTRING(message));
}

}  // namespace telsor

using telsor::AfxThrowMemoryException;

namespace {

// A malloc'd copy of text (null for null); out of memory throws.
char* DupText(const char* text) {
  if (text == nullptr) return nullptr;
  char* copy = strdup(text);
  if (copy == nullptr) AfxThrowMemoryException();
  return copy;
}

}  // namespace

const double CTestXSpamTest::NIL = DBL_MAX;

CExprTreeNode::~CExprTreeNode() {}

// ---- containers

CNodeContainer::~CNodeContainer() { RemoveAll(); }

void* CNodeContainer::AddTail(CExprTreeNode* node) {
  void* pos = m_list.AddTail(node);
  node->AddRef();
  node->m_pContainer = this;
  return pos;
}

void* CNodeContainer::AddHead(CExprTreeNode* node) {
  void* pos = m_list.AddHead(node);
  node->AddRef();
  node->m_pContainer = this;
  return pos;
}

void CNodeContainer::SetAt(void* position, CExprTreeNode* node) {
  CExprTreeNode*& slot = m_list.GetAt(position);
  CExprTreeNode* old = slot;
  node->AddRef();
  node->m_pContainer = this;
  slot = node;
  if (old != nullptr) {
    if (old->m_pContainer == this) old->m_pContainer = nullptr;
    old->Release();
  }
}

void CNodeContainer::RemoveAt(void* position) {
  CExprTreeNode* old = m_list.GetAt(position);
  m_list.RemoveAt(position);
  if (old != nullptr) {
    old->m_pContainer = nullptr;
    old->Release();
  }
}

void CNodeContainer::RemoveAll() {
  // A child's destructor never reaches back into its container, so the
  // elements are released in list order before the list is emptied.
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr;) {
    CExprTreeNode* node = m_list.GetNext(pos);
    node->m_pContainer = nullptr;
    node->Release();
  }
  m_list.RemoveAll();
}

CListTags::~CListTags() {}

CExprTreeNode* CListTags::GetNodeByType(TYPE_NODE type) const {
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr;) {
    CExprTreeNode* node = m_list.GetNext(pos);
    if (node->m_nType == type) return node;
  }
  return nullptr;
}

CListTest::~CListTest() {}
CListCommands::~CListCommands() {}

void CListCommands::ExtractTestTwoStr(TYPE_NODE type, const char* name, CListSharedNodes& found) const {
  for (void* pos = m_list.GetHeadPosition(); pos != nullptr;) {
    CExprTreeNode* node = m_list.GetNext(pos);
    if (node->m_nType != NODE_IF) continue;
    const CCtrlIF* ctrl = dynamic_cast<const CCtrlIF*>(node);
    if (ctrl == nullptr || ctrl->m_pTest == nullptr || ctrl->m_pTest->m_nType != type) continue;
    CTestTwoStrList* test = dynamic_cast<CTestTwoStrList*>(static_cast<CTest*>(ctrl->m_pTest));
    if (test == nullptr || test->m_ppFirst == nullptr) continue;
    const char* const* first = test->m_ppFirst;
    if (first[0] == nullptr || first[1] != nullptr) continue;
    if (name == nullptr || strcasecmp(first[0], name) != 0) continue;
    telsor::CSharedObjPtr<CExprTreeNode> held(test);
    found.AddTail(held);
  }
}

// ---- string arrays

CListStrings::~CListStrings() {}

const char** CListStrings::AllocateStrArray(const CListStrings* list) {
  if (list == nullptr) return nullptr;
  size_t count = static_cast<size_t>(list->GetCount());
  size_t textBytes = 0;
  for (void* pos = list->GetHeadPosition(); pos != nullptr;) {
    const CQuotedString* str = dynamic_cast<const CQuotedString*>(list->GetNext(pos));
    size_t len = (str != nullptr && str->m_pText != nullptr) ? strlen(str->m_pText) : 0;
    if (textBytes > SIZE_MAX - len - 1) AfxThrowMemoryException();
    textBytes += len + 1;
  }
  if (count > (SIZE_MAX - textBytes) / sizeof(char*) - 1) AfxThrowMemoryException();
  size_t tableBytes = (count + 1) * sizeof(char*);
  char* block = static_cast<char*>(malloc(tableBytes + textBytes));
  if (block == nullptr) AfxThrowMemoryException();
  const char** table = reinterpret_cast<const char**>(block);
  char* text = block + tableBytes;
  size_t i = 0;
  for (void* pos = list->GetHeadPosition(); pos != nullptr; ++i) {
    const CQuotedString* str = dynamic_cast<const CQuotedString*>(list->GetNext(pos));
    const char* src = (str != nullptr && str->m_pText != nullptr) ? str->m_pText : "";
    size_t len = strlen(src);
    memcpy(text, src, len + 1);
    table[i] = text;
    text += len + 1;
  }
  table[count] = nullptr;
  return table;
}

void CListStrings::FreeStrArray(const char** array) { free(const_cast<char**>(array)); }

// ---- strings

CQuotedString::CQuotedString(const char* text) : CExprTreeNode(NODE_QUOTED_STRING, 0), m_pText(DupText(text)) {}

CQuotedString::~CQuotedString() { free(m_pText); }

void CQuotedString::SetValue(const char* text) {
  char* copy = DupText(text);
  free(m_pText);
  m_pText = copy;
}

CMultiline::CMultiline(const char* text) : CQuotedString(text) { m_nType = NODE_MULTILINE; }
CMultiline::~CMultiline() {}

// ---- tags

CTagComparator::~CTagComparator() {}
CMatchType::~CMatchType() {}
CAddressPart::~CAddressPart() {}

CVacationTags::CVacationTags()
    : CExprTreeNode(NODE_VACATION_TAGS, 0), m_nDays(0), m_nMime(-1), m_ppAddresses(nullptr) {}

CVacationTags::~CVacationTags() { CListStrings::FreeStrArray(m_ppAddresses); }

void CVacationTags::SetSubject(CQuotedString* subject) { m_pSubject = subject; }

const char** CVacationTags::SetAddresses(const CListStrings* addresses) {
  const char** array = CListStrings::AllocateStrArray(addresses);
  CListStrings::FreeStrArray(m_ppAddresses);
  m_ppAddresses = array;
  return array;
}

const char* CVacationTags::GetSubject() const {
  return (m_pSubject != nullptr && m_pSubject->m_pText != nullptr) ? m_pSubject->m_pText : "";
}

// ---- commands

CCmdREJECT::CCmdREJECT(CQuotedString* reason) : CExprTreeNode(NODE_REJECT, 0), m_pReason(reason) {}
CCmdREJECT::~CCmdREJECT() {}

void CCmdREJECT::SetReason(const char* text) { m_pReason = new CQuotedString(text); }

const char* CCmdREJECT::GetReason() const {
  return (m_pReason != nullptr && m_pReason->m_pText != nullptr) ? m_pReason->m_pText : "";
}

CCmdFILEINTO::CCmdFILEINTO(const CListStrings* folders)
    : CExprTreeNode(NODE_FILEINTO, 0), m_ppFolders(CListStrings::AllocateStrArray(folders)) {}
CCmdFILEINTO::~CCmdFILEINTO() { CListStrings::FreeStrArray(m_ppFolders); }

CCmdREDIRECT::CCmdREDIRECT(const CListStrings* addresses)
    : CExprTreeNode(NODE_REDIRECT, 0), m_ppAddresses(CListStrings::AllocateStrArray(addresses)) {}
CCmdREDIRECT::~CCmdREDIRECT() { CListStrings::FreeStrArray(m_ppAddresses); }

CCmdKEEP::~CCmdKEEP() {}
CCmdDISCARD::~CCmdDISCARD() {}
CCmdSTOP::~CCmdSTOP() {}

CCmdVACATION::CCmdVACATION(CQuotedString* reason, CVacationTags* tags)
    : CExprTreeNode(NODE_VACATION, 0), m_pTags(tags), m_pReason(reason) {}
CCmdVACATION::~CCmdVACATION() {}

CCtrlREQUIRE::CCtrlREQUIRE(const CListStrings* capabilities)
    : CExprTreeNode(NODE_REQUIRE, 0), m_ppCapabilities(CListStrings::AllocateStrArray(capabilities)) {}
CCtrlREQUIRE::~CCtrlREQUIRE() { CListStrings::FreeStrArray(m_ppCapabilities); }

// ---- controls

CCtrlIF::CCtrlIF(CTest* test, CListCommands* block, CCtrlELSIF* next)
    : CExprTreeNode(NODE_IF, 0), m_pTest(test), m_pBlock(block), m_pNext(next) {}

CCtrlIF::CCtrlIF(TYPE_NODE type, CTest* test, CListCommands* block, CCtrlELSIF* next)
    : CExprTreeNode(type, 0), m_pTest(test), m_pBlock(block), m_pNext(next) {}

CCtrlIF::~CCtrlIF() {
  // The links behind this one are released one after another: a link that
  // only its predecessor holds is unhooked from its own successor first.
  telsor::CSharedObjPtr<CCtrlELSIF> next = m_pNext;
  m_pNext = nullptr;
  while (next != nullptr) {
    LONG held = next->AddRef();   // ours, this call's and any other holder's
    next->Release();
    if (held != 2) break;         // someone else holds it: its chain stays
    telsor::CSharedObjPtr<CCtrlELSIF> after = next->m_pNext;
    next->m_pNext = nullptr;
    next = after;
  }
}

CCtrlELSIF::CCtrlELSIF(CTest* test, CListCommands* block, CCtrlELSIF* next)
    : CCtrlIF(test != nullptr ? NODE_ELSIF : NODE_ELSE, test, block, next) {}

CCtrlELSIF::~CCtrlELSIF() {}

void CCtrlELSIF::AddELSIF(CCtrlELSIF* link) {
  if (link == nullptr) return;
  CCtrlELSIF* last = this;
  while (last->m_pNext != nullptr) last = last->m_pNext;
  last->m_pNext = link;
}

// ---- tests

CTest::~CTest() {}
CTestBoolean::~CTestBoolean() {}
CTestNOT::~CTestNOT() {}
CMultiTest::~CMultiTest() {}
CTestSIZE::~CTestSIZE() {}
CTestXSpamTest::~CTestXSpamTest() {}

CTestEXISTS::CTestEXISTS(const CListStrings* names)
    : CTest(NODE_EXISTS), m_ppNames(CListStrings::AllocateStrArray(names)) {}
CTestEXISTS::~CTestEXISTS() { CListStrings::FreeStrArray(m_ppNames); }

// ---- the type-code factory

namespace {

CExprTreeNode* NewNodeOfType(CExprTreeNode::TYPE_NODE type) {
  switch (type) {
    case CExprTreeNode::NODE_PLAIN:
    case CExprTreeNode::NODE_TAG_TEXT:
    case CExprTreeNode::NODE_TAG_RAW:
      return new CExprTreeNode(type, 0);
    case CExprTreeNode::NODE_QUOTED_STRING: return new CQuotedString(nullptr);
    case CExprTreeNode::NODE_MULTILINE: return new CMultiline(nullptr);
    case CExprTreeNode::NODE_LIST_STRINGS: return new CListStrings;
    case CExprTreeNode::NODE_TAG_COMPARATOR: return new CTagComparator(COMPARATOR_ASCII_CASEMAP);
    case CExprTreeNode::NODE_MATCH_TYPE: return new CMatchType(MATCH_IS, RELATIONAL_NONE);
    case CExprTreeNode::NODE_ADDRESS_PART: return new CAddressPart(ADDRESS_ALL);
    case CExprTreeNode::NODE_VACATION_TAGS: return new CVacationTags;
    case CExprTreeNode::NODE_LIST_TAGS: return new CListTags;
    case CExprTreeNode::NODE_REJECT: return new CCmdREJECT(nullptr);
    case CExprTreeNode::NODE_FILEINTO: return new CCmdFILEINTO(nullptr);
    case CExprTreeNode::NODE_REDIRECT: return new CCmdREDIRECT(nullptr);
    case CExprTreeNode::NODE_KEEP: return new CCmdKEEP;
    case CExprTreeNode::NODE_DISCARD: return new CCmdDISCARD;
    case CExprTreeNode::NODE_VACATION: return new CCmdVACATION(nullptr, nullptr);
    case CExprTreeNode::NODE_LIST_COMMANDS: return new CListCommands;
    case CExprTreeNode::NODE_REQUIRE: return new CCtrlREQUIRE(nullptr);
    case CExprTreeNode::NODE_STOP: return new CCmdSTOP;
    case CExprTreeNode::NODE_IF: return new CCtrlIF(nullptr, nullptr, nullptr);
    case CExprTreeNode::NODE_ELSIF: {
      // An elsif link is one with a test; the record gives it one later.
      CCtrlELSIF* link = new CCtrlELSIF(nullptr, nullptr, nullptr);
      link->m_nType = CExprTreeNode::NODE_ELSIF;
      return link;
    }
    case CExprTreeNode::NODE_ELSE: return new CCtrlELSIF(nullptr, nullptr, nullptr);
    case CExprTreeNode::NODE_MULTI_TEST: return new CMultiTest(LOGIC_ANYOF, nullptr);
    case CExprTreeNode::NODE_ENVELOPE: return new CTestENVELOPE;
    case CExprTreeNode::NODE_EXISTS: return new CTestEXISTS(nullptr);
    case CExprTreeNode::NODE_FALSE: return new CTestBoolean(0);
    case CExprTreeNode::NODE_HEADER: return new CTestHEADER;
    case CExprTreeNode::NODE_NOT: return new CTestNOT(nullptr);
    case CExprTreeNode::NODE_SIZE: return new CTestSIZE(NUMBER_UNDER, 0);
    case CExprTreeNode::NODE_TRUE: return new CTestBoolean(1);
    case CExprTreeNode::NODE_ADDRESS: return new CTestADDRESS;
    case CExprTreeNode::NODE_LIST_TEST: return new CListTest;
    case CExprTreeNode::NODE_BODY: return new CTestBODY;
    case CExprTreeNode::NODE_ATTACHMENT: return new CTestATTACHMENT;
    case CExprTreeNode::NODE_X_SPAMTEST: return new CTestXSpamTest(RELATIONAL_EQ, 0.0);
  }
  return nullptr;
}

}  // namespace

HRESULT CExprTreeNode::CreateInstance(TYPE_NODE type, CExprTreeNode** node) {
  if (node == nullptr) return E_INVALIDARG;
  *node = nullptr;
  if (type > NODE_LAST) return E_SIEVE_BAD_NODE_TYPE;
  CExprTreeNode* made = nullptr;
  HRESULT hr = telsor::ResultOf([&] { made = NewNodeOfType(type); });
  if (FAILED(hr)) return hr;
  if (made == nullptr) return E_OUTOFMEMORY;
  *node = made;
  return S_OK;
}
