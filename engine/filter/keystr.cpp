// Key-list tests: comparators, the pattern factory with key grouping, and
// the constructors of the header, address, envelope, body and attachment
// tests.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>
#include <new>

#include "filter/exprtree.h"
#include "search/regexpr.h"
#include "search/seekdictionary.h"
#include "search/seekexactstr.h"
#include "search/seekmatches.h"
#include "search/seekmultiwords.h"
#include "search/seeksubstr.h"

using telsor::AfxThrowMemoryException;
using telsor::CExprTreeException;
using telsor::CSeekPattern;

namespace {

struct ComparatorRow {
  const char* name;
  TYPE_COMPARATOR value;
};

const ComparatorRow kComparators[] = {
    {"i;ascii-casemap", COMPARATOR_ASCII_CASEMAP},
    {"i;octet", COMPARATOR_OCTET},
    {"i;ascii-numeric", COMPARATOR_ASCII_NUMERIC},
    {nullptr, COMPARATOR_NONE},
};

// Keys group while their total stays below this many bytes.
const size_t kGroupLimit = 65536;

// A new matcher object; out of memory throws the engine's exception.
template <class T, class... Args>
T* NewMatcher(Args... args) {
  T* matcher = new (std::nothrow) T(args...);
  if (matcher == nullptr) AfxThrowMemoryException();
  return matcher;
}

// The anchored-expression form of a ":matches" key turned into a wildcard:
// "^abc$" -> "abc", "abc" -> "*abc*", "^abc" -> "abc*", "abc\$" -> "*abc\$*".
telsor::TSTRING WebCompatibleKey(const char* key) {
  telsor::TSTRING text(key);
  if (text.IsEmpty()) return text;
  if (text[0] == '^')
    text.Delete(0, 1);
  else
    text.Insert(0, '*');
  int len = text.GetLength();
  if (len >= 2 && text[len - 1] == '$' && text[len - 2] != '\\')
    text.Delete(len - 1, 1);
  else
    text.append(1, '*');
  return text;
}

}  // namespace

TYPE_COMPARATOR String2Comparator(const char* name) {
  if (name == nullptr) return COMPARATOR_NONE;
  for (const ComparatorRow* row = kComparators; row->name != nullptr; ++row)
    if (strcasecmp(row->name, name) == 0) return row->value;
  return COMPARATOR_NONE;
}

const char* Comparator2String(TYPE_COMPARATOR value) {
  for (const ComparatorRow* row = kComparators; row->name != nullptr; ++row)
    if (row->value == value) return row->name;
  return nullptr;
}

// ---- CKeyStr

CKeyStr::CKeyStr(TYPE_NODE type)
    : CTest(type), m_nMatchType(MATCH_IS), m_nComparator(COMPARATOR_ASCII_CASEMAP), m_ppPatterns(nullptr) {}

CKeyStr::CKeyStr(TYPE_NODE type, const CListTags* tags, const CListStrings* keys, MATCH_TYPES matchType,
                 TYPE_COMPARATOR comparator)
    : CTest(type), m_nMatchType(matchType), m_nComparator(comparator), m_ppPatterns(nullptr) {
  if (tags != nullptr) {
    if (const CMatchType* match = dynamic_cast<const CMatchType*>(tags->GetNodeByType(NODE_MATCH_TYPE)))
      m_nMatchType = match->m_nMatchType;
    if (const CTagComparator* cmp = dynamic_cast<const CTagComparator*>(tags->GetNodeByType(NODE_TAG_COMPARATOR)))
      m_nComparator = cmp->m_nComparator;
  }
  // CreatePatterns leaves nothing behind when it throws, so the half-built
  // node needs no clean-up here.
  CreatePatterns(keys);
}

CKeyStr::~CKeyStr() { FreePatterns(); }

void CKeyStr::FreePatterns(CSeekPattern** patterns) {
  if (patterns == nullptr) return;
  for (CSeekPattern** p = patterns; *p != nullptr; ++p) delete *p;
  free(patterns);
}

void CKeyStr::FreePatterns() {
  FreePatterns(m_ppPatterns);
  m_ppPatterns = nullptr;
}

namespace {

thread_local telsor::CRegExprBudget* t_pRegexBudget = nullptr;

}  // namespace

CKeyStr::RegexBudgetScope::RegexBudgetScope(telsor::CRegExprBudget* budget) : m_pSaved(t_pRegexBudget) {
  t_pRegexBudget = budget;
}

CKeyStr::RegexBudgetScope::~RegexBudgetScope() { t_pRegexBudget = m_pSaved; }

CSeekPattern* CKeyStr::PatternFactory(const char* key) const {
  int caseSensitive = m_nComparator != COMPARATOR_ASCII_CASEMAP ? 1 : 0;
  std::unique_ptr<CSeekPattern> matcher;
  telsor::TSTRING rewritten;
  switch (m_nMatchType) {
    case MATCH_IS:
    case MATCH_COUNT:
    case MATCH_VALUE:
      matcher.reset(NewMatcher<telsor::CSeekExactStr>());
      break;
    case MATCH_CONTAINS:
      matcher.reset(NewMatcher<telsor::CSeekSubstr>());
      break;
    case MATCH_MATCHES:
      matcher.reset(NewMatcher<telsor::CSeekMatches>(telsor::SEEK_CAPS_NONE));
      if (telsor::g_bQuorMailWebCompatible && key != nullptr) {
        rewritten = WebCompatibleKey(key);
        key = rewritten.c_str();
      }
      break;
    case MATCH_REGEX:
      matcher.reset(NewMatcher<telsor::CRegExpr>());
      break;
    default:
      AfxThrowMemoryException();
  }
  HRESULT hr = m_nMatchType == MATCH_REGEX
                   ? static_cast<telsor::CRegExpr*>(matcher.get())->Compile(key, caseSensitive, 0, t_pRegexBudget)
                   : matcher->Compile(key, caseSensitive, 0);
  if (hr != S_OK) {
    telsor::TSTRING message;
    if (m_nMatchType == MATCH_REGEX) message = static_cast<telsor::CRegExpr*>(matcher.get())->GetErrorText();
    if (m_nMatchType == MATCH_REGEX && t_pRegexBudget != nullptr && t_pRegexBudget->IsSpent())
      hr = E_SIEVE_REGEX_BUDGET;
    throw new CExprTreeException(static_cast<DWORD>(hr), message);
  }
  return matcher.release();
}

CSeekPattern* CreateMultiWordsPattern(const char** words, MATCH_TYPES matchType, int caseSensitive) {
  HRESULT hr;
  std::unique_ptr<CSeekPattern> matcher;
  if (matchType == MATCH_CONTAINS) {
    telsor::CSeekMultiWords* m = NewMatcher<telsor::CSeekMultiWords>();
    matcher.reset(m);
    hr = m->Compile(words, caseSensitive);
  } else {
    telsor::CSeekDictionary* d = NewMatcher<telsor::CSeekDictionary>();
    matcher.reset(d);
    hr = d->Compile(words, caseSensitive);
  }
  if (hr != S_OK) CExprTreeException::Throw(static_cast<DWORD>(hr), "");
  return matcher.release();
}

namespace {

// An owned, zero-filled, null-terminated array of count + 1 pointers that
// frees itself (and what it holds) unless released.
template <class T, void (*FreeAll)(T**)>
class OwnedArray {
 public:
  explicit OwnedArray(size_t count) {
    if (count > SIZE_MAX / sizeof(T*) - 1) AfxThrowMemoryException();
    m_p = static_cast<T**>(calloc(count + 1, sizeof(T*)));
    if (m_p == nullptr) AfxThrowMemoryException();
  }
  ~OwnedArray() {
    if (m_p != nullptr) FreeAll(m_p);
  }
  T** get() const { return m_p; }
  T** release() {
    T** p = m_p;
    m_p = nullptr;
    return p;
  }
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;

 private:
  T** m_p;
};

void FreeWordArray(const char** words) { free(words); }

}  // namespace

void CKeyStr::CreatePatterns(const CListStrings* keys) {
  FreePatterns();
  if (keys == nullptr || keys->GetCount() == 0) return;
  size_t count = static_cast<size_t>(keys->GetCount());
  // The key texts in list order (an entry without text is "").
  const char** texts = CListStrings::AllocateStrArray(keys);
  struct TextsHolder {
    const char** p;
    ~TextsHolder() { CListStrings::FreeStrArray(p); }
  } textsHolder{texts};

  if ((m_nMatchType != MATCH_IS && m_nMatchType != MATCH_CONTAINS) || count == 1) {
    OwnedArray<CSeekPattern, CKeyStr::FreePatterns> patterns(count);
    for (size_t i = 0; i < count; ++i) patterns.get()[i] = PatternFactory(texts[i]);
    m_ppPatterns = patterns.release();
    return;
  }

  // Grouping: a key joins the current group while the group's total stays
  // below the limit; the key that would reach it starts the next group.
  size_t groups = 0;
  size_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t len = strlen(texts[i]);
    if (i == 0 || sum + len >= kGroupLimit || sum + len < sum) {
      if (i != 0) ++groups;
      sum = len;
    } else {
      sum += len;
    }
  }
  ++groups;
  int caseSensitive = m_nComparator != COMPARATOR_ASCII_CASEMAP ? 1 : 0;
  OwnedArray<CSeekPattern, CKeyStr::FreePatterns> patterns(groups);
  OwnedArray<const char, FreeWordArray> words(count);
  size_t group = 0;
  size_t inGroup = 0;
  sum = 0;
  for (size_t i = 0; i < count; ++i) {
    size_t len = strlen(texts[i]);
    if (inGroup != 0 && (sum + len >= kGroupLimit || sum + len < sum)) {
      words.get()[inGroup] = nullptr;
      patterns.get()[group++] = CreateMultiWordsPattern(words.get(), m_nMatchType, caseSensitive);
      inGroup = 0;
      sum = 0;
    }
    words.get()[inGroup++] = texts[i];
    sum += len;
  }
  words.get()[inGroup] = nullptr;
  patterns.get()[group] = CreateMultiWordsPattern(words.get(), m_nMatchType, caseSensitive);
  m_ppPatterns = patterns.release();
}

// ---- CTestTwoStrList and the concrete tests

CTestTwoStrList::CTestTwoStrList(TYPE_NODE type)
    : CKeyStr(type), m_ppFirst(nullptr), m_nRelational(RELATIONAL_NONE) {}

CTestTwoStrList::CTestTwoStrList(TYPE_NODE type, const CListTags* tags, const CListStrings* first,
                                 const CListStrings* keys, MATCH_TYPES matchType, TYPE_COMPARATOR comparator)
    : CKeyStr(type, tags, keys, matchType, comparator), m_ppFirst(nullptr), m_nRelational(RELATIONAL_NONE) {
  if (tags != nullptr && (m_nMatchType == MATCH_COUNT || m_nMatchType == MATCH_VALUE)) {
    if (const CMatchType* match = dynamic_cast<const CMatchType*>(tags->GetNodeByType(NODE_MATCH_TYPE)))
      m_nRelational = match->m_nRelational;
    if (m_nMatchType == MATCH_COUNT && m_nComparator != COMPARATOR_ASCII_NUMERIC)
      CExprTreeException::Throw(static_cast<DWORD>(E_SIEVE_BAD_RELATIONAL),
                                "COUNT match type must be used with numeric comparators.");
  }
  m_ppFirst = CListStrings::AllocateStrArray(first);
}

CTestTwoStrList::~CTestTwoStrList() { CListStrings::FreeStrArray(m_ppFirst); }

ADDRESS_PART CTestTwoStrList::AddressPartOf(const CListTags* tags) {
  if (tags != nullptr)
    if (const CAddressPart* part = dynamic_cast<const CAddressPart*>(tags->GetNodeByType(NODE_ADDRESS_PART)))
      return part->m_nPart;
  return ADDRESS_ALL;
}

CTestHEADER::CTestHEADER(const CListTags* tags, const CListStrings* names, const CListStrings* keys)
    : CTestTwoStrList(NODE_HEADER, tags, names, keys, MATCH_IS, COMPARATOR_ASCII_CASEMAP) {}
CTestHEADER::CTestHEADER() : CTestTwoStrList(NODE_HEADER) {}
CTestHEADER::~CTestHEADER() {}

CTestADDRESS::CTestADDRESS(const CListTags* tags, const CListStrings* names, const CListStrings* keys)
    : CTestTwoStrList(NODE_ADDRESS, tags, names, keys, MATCH_IS, COMPARATOR_ASCII_CASEMAP),
      m_nAddressPart(AddressPartOf(tags)) {}
CTestADDRESS::CTestADDRESS() : CTestTwoStrList(NODE_ADDRESS), m_nAddressPart(ADDRESS_ALL) {}
CTestADDRESS::~CTestADDRESS() {}

CTestENVELOPE::CTestENVELOPE(const CListTags* tags, const CListStrings* parts, const CListStrings* keys)
    : CTestTwoStrList(NODE_ENVELOPE, tags, parts, keys, MATCH_IS, COMPARATOR_ASCII_CASEMAP),
      m_nAddressPart(AddressPartOf(tags)) {}
CTestENVELOPE::CTestENVELOPE() : CTestTwoStrList(NODE_ENVELOPE), m_nAddressPart(ADDRESS_ALL) {}
CTestENVELOPE::~CTestENVELOPE() {}

CTestBODY::CTestBODY(const CListTags* tags, const CListStrings* contentTypes, const CListStrings* keys)
    : CTestTwoStrList(NODE_BODY, tags, contentTypes, keys, MATCH_MATCHES, COMPARATOR_ASCII_CASEMAP),
      m_bTransform(0) {
  // ":raw" is the default and is not consulted.
  if (tags != nullptr && tags->GetNodeByType(NODE_TAG_TEXT) != nullptr) {
    m_bTransform = 1;
    if (contentTypes == nullptr) {
      telsor::CSharedObjPtr<CListStrings> text = new CListStrings;
      text->AddTail(new CQuotedString("text"));
      const char** types = CListStrings::AllocateStrArray(text);
      CListStrings::FreeStrArray(m_ppFirst);
      m_ppFirst = types;
    }
  }
}
CTestBODY::CTestBODY() : CTestTwoStrList(NODE_BODY), m_bTransform(0) {}
CTestBODY::~CTestBODY() {}

CTestATTACHMENT::CTestATTACHMENT(const CListTags* tags, const CListStrings* keys)
    : CKeyStr(NODE_ATTACHMENT, tags, keys, MATCH_MATCHES, COMPARATOR_ASCII_CASEMAP),
      m_ppKeys(CListStrings::AllocateStrArray(keys)) {}
CTestATTACHMENT::CTestATTACHMENT() : CKeyStr(NODE_ATTACHMENT), m_ppKeys(nullptr) {}
CTestATTACHMENT::~CTestATTACHMENT() { CListStrings::FreeStrArray(m_ppKeys); }
