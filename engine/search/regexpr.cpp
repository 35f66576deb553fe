// The regular-expression matcher: compile, record, and the scans (through
// CDFAScanner, dfascan.h).
#include "search/regexpr.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "foundation/errorroad.h"
#include "search/dfa.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const BYTE kRecordVersion = 1;
const DWORD kMaxPattern = 0xFFFE;
const DWORD kStreamBlock = 512;
}  // namespace

CRegExpr::CRegExpr() : m_flags(0), m_version(kRecordVersion) {}

CRegExpr::~CRegExpr() {}

CDFAScanner::MODE CRegExpr::ScanMode() const {
  if (m_flags & FLAG_EOL) return CDFAScanner::AT_END;
  if (m_flags & FLAG_LONGEST) return CDFAScanner::LONGEST;
  return CDFAScanner::FIRST_ACCEPT;
}

void CRegExpr::PrepareScan(CDFATransTable* table, const tag_CLASS_ROWS* rows) {
  BYTE map[256];
  for (DWORD c = 0; c < 256; ++c) {
    BYTE b = static_cast<BYTE>(c);
    if (!m_bCaseSensitive) b = FoldByte(b);
    if (b == 0) b = m_chNulSubst;
    map[c] = b;
  }
  m_scan.Prepare(table, map, ScanMode(), kStreamBlock, {}, true, rows);
}

const char CRegExpr::kTooManyStates[] = "The regular expression needs too many automaton states.";
const char CRegExpr::kPatternTooLong[] = "The regular expression is too long (65535 bytes or more).";
const char CRegExpr::kTooManyNodes[] = "The regular expression has too many parts or repetitions.";
const char CRegExpr::kBudgetSpent[] =
    "The regular expressions together need more automaton states or memory than their budget allows.";

HRESULT CRegExpr::Compile(const char* pattern, int caseSensitive, DWORD len) {
  return Compile(pattern, caseSensitive, len, nullptr);
}

HRESULT CRegExpr::Compile(const char* pattern, int caseSensitive, DWORD len, CRegExprBudget* budget) {
  m_scan.Clear();
  m_flags = 0;
  m_strError = "";
  FreePattern();
  m_bCaseSensitive = caseSensitive != 0;
  if (pattern == nullptr) return E_POINTER;
  if (len == 0) len = static_cast<DWORD>(strnlen(pattern, kMaxPattern + 1));
  if (len > kMaxPattern) {
    m_strError = kPatternTooLong;
    return E_SEEK_PATTERN_TOO_LONG;
  }
  if (budget != nullptr && budget->IsSpent()) {
    m_strError = kBudgetSpent;
    return E_SEEK_TOO_MANY_STATES;
  }
  HRESULT hr = CSeekPattern::Compile(pattern, caseSensitive, len);
  if (hr != S_OK) return hr;

  const char* stored = m_pPattern;
  const DWORD n = m_nLength;
  if (n > 0 && stored[0] == '^') m_flags |= FLAG_BOL | FLAG_LONGEST;
  if (n > 1 && stored[n - 1] == '$') {
    DWORD slashes = 0;
    while (slashes < n - 1 && stored[n - 2 - slashes] == '\\') ++slashes;
    if (slashes % 2 == 0) m_flags |= FLAG_EOL;
  }

  const tag_REGEX_COSTS own = CDFA::OwnLimits();
  const tag_REGEX_COSTS limits = budget != nullptr ? budget->LimitsFor(own) : own;
  CDFA dfa;
  dfa.SetLimits(limits);
  try {
    // The automaton is built from the original text, case folded after
    // lexing (see fa.h), limited to the bytes the pattern text holds.
    WithMemoryException([&] {
      std::string original(n, '\0');
      strncpy(&original[0], pattern, n);
      dfa.SetFoldCase(!m_bCaseSensitive);
      dfa.BuildFromRegExpr(original.c_str());
    });
    PrepareScan(dfa.GetTable(), &dfa.GetClassRows());
    if (budget == nullptr) return S_OK;
    tag_REGEX_COSTS used = dfa.GetUsed();
    used.bytes = GetBytesHeld();
    budget->Spend(used);
    if (used.bytes <= limits.bytes) return S_OK;
    budget->MarkSpent();
    hr = E_SEEK_TOO_MANY_STATES;
    m_strError = kBudgetSpent;
  } catch (CFAException* e) {
    // The compiler's message is kept beside the code; the limits have texts
    // of their own.
    hr = e->GetResultCode();
    m_strError = e->GetMessage();
    e->Delete();
    if (budget != nullptr) {
      budget->Spend(dfa.GetUsed());
      if (hr == E_SEEK_TOO_MANY_STATES || hr == E_SEEK_TOO_MANY_NODES) {
        if (CRegExprBudget::ReachedLowered(own, limits, dfa.GetUsed())) {
          budget->MarkSpent();
          hr = E_SEEK_TOO_MANY_STATES;
          m_strError = kBudgetSpent;
        }
      }
    }
    if (m_strError.IsEmpty()) {
      if (hr == E_SEEK_TOO_MANY_STATES) m_strError = kTooManyStates;
      if (hr == E_SEEK_TOO_MANY_NODES) m_strError = kTooManyNodes;
    }
  } catch (...) {
    hr = ResultOfCurrentException();
    // This boundary's own code for running out of memory.
    if (hr == E_OUTOFMEMORY) hr = ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY);
  }
  m_scan.Clear();
  FreePattern();
  m_flags = 0;
  return hr;
}

DWORD CRegExpr::Search(const char* text, DWORD len, DWORD* matchLen) const {
  if (text == nullptr || GetTable() == nullptr) {
    if (matchLen) *matchLen = 0;
    return SEEK_NOT_FOUND;
  }
  if (len == 0) len = static_cast<DWORD>(strlen(text));
  // An empty text is scanned as its terminating NUL.
  return m_scan.Search(reinterpret_cast<const BYTE*>(text), len == 0 ? 1 : len, matchLen);
}

DWORD CRegExpr::SimulateAutomaton(CDFATransTable* table, const char* text, DWORD len,
                                  DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (table == nullptr || text == nullptr) return SEEK_NOT_FOUND;
  const BYTE* p = reinterpret_cast<const BYTE*>(text);
  const DWORD n = len == 0 ? 1 : len;  // an empty text: its terminating NUL
  if (table == GetTable()) return m_scan.Search(p, n, matchLen);
  CDFAScanner other;  // another table: walked packed, with this matcher's rules
  other.Prepare(table, m_scan.GetMap(), ScanMode(), kStreamBlock, {}, false);
  return other.Search(p, n, matchLen);
}

DWORD CRegExpr::Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (GetTable() == nullptr) return SEEK_NOT_FOUND;
  return SimulateAutomaton(GetTable(), stream, maxBytes, matchLen);
}

DWORD CRegExpr::SimulateAutomaton(CDFATransTable* table, IStream* stream, DWORD maxBytes,
                                  DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (table == nullptr) return SEEK_NOT_FOUND;
  if (table == GetTable()) return m_scan.Search(stream, maxBytes, matchLen);
  CDFAScanner other;
  other.Prepare(table, m_scan.GetMap(), ScanMode(), kStreamBlock, {}, false);
  return other.Search(stream, maxBytes, matchLen);
}

HRESULT CRegExpr::Serialize(IStream* stream, int store) {
  if (stream == nullptr) return E_POINTER;
  BYTE field[2];
  CDFATransTable* const table = GetTable();
  if (store) {
    field[0] = m_version;
    HRESULT hr = WriteField(stream, field, 1);
    if (hr == S_OK) hr = SerializeBase(stream, 1);
    field[0] = m_flags;
    field[1] = table != nullptr ? 1 : 0;
    if (hr == S_OK) hr = WriteField(stream, field, 2);
    if (hr == S_OK && table != nullptr) hr = table->Serialize(stream, 1);
    return hr;
  }

  m_scan.Clear();
  m_flags = 0;
  HRESULT hr = ReadField(stream, field, 1, E_FAIL);
  if (hr != S_OK) return hr;
  if (field[0] != kRecordVersion) return E_RECORD_VERSION;
  hr = SerializeBase(stream, 0);
  if (hr != S_OK) return hr;
  hr = ReadField(stream, field, 2, E_FAIL);
  if (hr != S_OK) return hr;
  m_flags = field[0] & (FLAG_BOL | FLAG_EOL | FLAG_LONGEST);
  CSharedObjPtr<CDFATransTable> loaded;
  if (field[1] != 0) {
    hr = ResultOfCall([&] {
      loaded = new CDFATransTable;
      return loaded->Serialize(stream, 0);
    });
    if (hr != S_OK) return hr;
  }
  PrepareScan(loaded);
  return S_OK;
}

}  // namespace telsor
