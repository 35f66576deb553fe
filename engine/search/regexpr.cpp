// The regular-expression matcher: compile, buffer and stream scans, record.
//
// Both scans share one step routine over "cells": a state with two flag
// bits (accepting, dead). The flat copy of the table (dfascan.h) gives
// cells as row offsets; for tables too large to copy, cells are state
// numbers and each step walks the packed table.
#include "search/regexpr.h"

#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>

#include "foundation/exception.h"
#include "search/dfa.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const BYTE kRecordVersion = 1;
const HRESULT kBadVersion = static_cast<HRESULT>(0xE00A00C9u);
const DWORD kMaxPattern = 0xFFFE;
const size_t kMaxFlatCells = 4096 * 256;  // flat copies up to 4 MiB
const DWORD kStreamBlock = 512;

// Where a scan stands between blocks.
struct tag_SCAN_STATE {
  DWORD cell = 0;
  bool matched = false;
  DWORD start = 0;
  DWORD length = 0;
  // With the end anchor: the last accept that was not at the end of the
  // requested length (counts when the stream ends right after it).
  bool pending = false;
  DWORD pendingAt = 0;
  DWORD pendingLength = 0;
};

// Runs bytes p[0..n) that stand at text offsets base.. through the
// automaton. Returns true when the scan is decided (result set).
template <class Step>
bool ScanBytes(const Step& step, const BYTE* p, DWORD n, DWORD base, DWORD total, BYTE flags,
               tag_SCAN_STATE& st, DWORD& result) {
  DWORD cell = st.cell;
  DWORD start = st.start;
  if ((flags & (CRegExpr::FLAG_EOL | CRegExpr::FLAG_LONGEST)) == 0) {
    // First accept wins: the common case, kept tight.
    for (DWORD j = 0; j < n; ++j) {
      if ((cell & ~SCAN_FLAGS) == 0) start = base + j;
      cell = step(cell, p[j]);
      if (cell & SCAN_FLAGS) {
        if (cell & SCAN_DEAD) {
          result = SEEK_NOT_FOUND;
          return true;
        }
        st.length = base + j + 1 - start;
        st.start = start;
        result = start;
        return true;
      }
    }
    st.cell = cell;
    st.start = start;
    return false;
  }
  for (DWORD j = 0; j < n; ++j) {
    const DWORD i = base + j;
    if ((cell & ~SCAN_FLAGS) == 0 && !st.matched) start = i;
    cell = step(cell, p[j]);
    st.pending = false;
    if (cell & SCAN_DEAD) {
      result = st.matched ? start : SEEK_NOT_FOUND;
      st.start = start;
      return true;
    }
    if (cell & SCAN_ACCEPT) {
      st.length = i + 1 - start;
      st.matched = true;
      if (flags & CRegExpr::FLAG_EOL) {
        if (i + 1 >= total) {
          st.start = start;
          result = start;
          return true;
        }
        st.matched = false;
        st.pending = true;
        st.pendingAt = start;
        st.pendingLength = st.length;
      }
    }
  }
  st.cell = cell;
  st.start = start;
  return false;
}

}  // namespace

CRegExpr::CRegExpr() : m_pTable(nullptr), m_flags(0), m_version(kRecordVersion) {
  for (DWORD c = 0; c < 256; ++c) m_map[c] = static_cast<BYTE>(c);
}

CRegExpr::~CRegExpr() { ReleaseTable(); }

void CRegExpr::ReleaseTable() {
  if (m_pTable != nullptr) m_pTable->Release();
  m_pTable = nullptr;
  m_scan.Clear();
}

void CRegExpr::PrepareScan() {
  for (DWORD c = 0; c < 256; ++c) {
    BYTE b = static_cast<BYTE>(c);
    if (!m_bCaseSensitive) b = FoldByte(b);
    if (b == 0) b = m_chNulSubst;
    m_map[c] = b;
  }
  m_scan.Clear();
  try {
    m_scan.Build(m_pTable, m_map, kMaxFlatCells);
  } catch (std::bad_alloc&) {
    m_scan.Clear();  // the packed table still serves
  }
}

HRESULT CRegExpr::Compile(const char* pattern, int caseSensitive, DWORD len) {
  ReleaseTable();
  m_flags = 0;
  m_strError = "";
  FreePattern();
  m_bCaseSensitive = caseSensitive != 0;
  if (pattern == nullptr) return E_POINTER;
  if (len == 0) len = static_cast<DWORD>(strnlen(pattern, kMaxPattern + 1));
  if (len > kMaxPattern) return E_SEEK_PATTERN_TOO_LONG;
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

  try {
    // The automaton is built from the original text, case folded after
    // lexing (see fa.h), limited to the bytes the pattern text holds.
    std::string original(n, '\0');
    strncpy(&original[0], pattern, n);
    CDFA dfa;
    dfa.SetFoldCase(!m_bCaseSensitive);
    dfa.BuildFromRegExpr(original.c_str());
    m_pTable = dfa.GetTable();
    m_pTable->AddRef();
    PrepareScan();
    return S_OK;
  } catch (CFAException* e) {
    hr = static_cast<HRESULT>(e->GetCode());
    m_strError = e->GetMessage();
    e->Delete();
  } catch (CMemoryException* e) {
    e->Delete();
    hr = ERROR_NOT_ENOUGH_MEMORY;
  } catch (std::bad_alloc&) {
    hr = ERROR_NOT_ENOUGH_MEMORY;
  } catch (DWORD code) {
    hr = static_cast<HRESULT>(code);
  }
  ReleaseTable();
  FreePattern();
  m_flags = 0;
  return hr;
}

DWORD CRegExpr::Search(const char* text, DWORD len, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (text == nullptr || m_pTable == nullptr) return SEEK_NOT_FOUND;
  if (len == 0) len = static_cast<DWORD>(strlen(text));
  return SimulateAutomaton(m_pTable, text, len, matchLen);
}

DWORD CRegExpr::SimulateAutomaton(CDFATransTable* table, const char* text, DWORD len,
                                  DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (table == nullptr || text == nullptr) return SEEK_NOT_FOUND;
  const BYTE* p = reinterpret_cast<const BYTE*>(text);
  const DWORD n = len == 0 ? 1 : len;  // an empty text: its terminating NUL
  tag_SCAN_STATE st;
  DWORD result = SEEK_NOT_FOUND;
  bool done;
  if (table == m_pTable && !m_scan.IsEmpty()) {
    done = ScanBytes(CDFAFlatStep{m_scan.Cells()}, p, n, 0, len, m_flags, st, result);
  } else {
    done = ScanBytes(CDFAPackedStep{table, m_map}, p, n, 0, len, m_flags, st, result);
  }
  if (!done) result = st.matched ? st.start : SEEK_NOT_FOUND;
  if (result != SEEK_NOT_FOUND && matchLen) *matchLen = st.length;
  return result;
}

DWORD CRegExpr::Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (m_pTable == nullptr) return SEEK_NOT_FOUND;
  return SimulateAutomaton(m_pTable, stream, maxBytes, matchLen);
}

DWORD CRegExpr::SimulateAutomaton(CDFATransTable* table, IStream* stream, DWORD maxBytes,
                                  DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (table == nullptr || stream == nullptr || maxBytes == 0) return SEEK_NOT_FOUND;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER position;
  position.QuadPart = 0;
  if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &position))) return SEEK_NOT_FOUND;
  const bool flat = table == m_pTable && !m_scan.IsEmpty();
  BYTE block[kStreamBlock];
  tag_SCAN_STATE st;
  DWORD result = SEEK_NOT_FOUND;
  DWORD done = 0;  // bytes scanned
  bool decided = false;
  while (done < maxBytes) {
    const DWORD want = maxBytes - done < kStreamBlock ? maxBytes - done : kStreamBlock;
    ULONG got = 0;
    if (FAILED(stream->Read(block, want, &got)) || got == 0) break;
    if (got > want) got = want;
    if (flat) {
      decided = ScanBytes(CDFAFlatStep{m_scan.Cells()}, block, got, done, maxBytes, m_flags, st, result);
    } else {
      decided = ScanBytes(CDFAPackedStep{table, m_map}, block, got, done, maxBytes, m_flags, st, result);
    }
    done += got;
    if (decided) break;
  }
  if (!decided) {
    result = st.matched ? st.start : SEEK_NOT_FOUND;
    // The stream ended before maxBytes: its last byte is the end of text.
    if (result == SEEK_NOT_FOUND && st.pending) {
      result = st.pendingAt;
      st.length = st.pendingLength;
    }
  }
  if (result == SEEK_NOT_FOUND) return SEEK_NOT_FOUND;
  if (matchLen) *matchLen = st.length;
  return position.u.LowPart + result;
}

HRESULT CRegExpr::Serialize(IStream* stream, int store) {
  if (stream == nullptr) return E_POINTER;
  BYTE field[2];
  if (store) {
    field[0] = m_version;
    HRESULT hr = WriteField(stream, field, 1);
    if (hr == S_OK) hr = SerializeBase(stream, 1);
    field[0] = m_flags;
    field[1] = m_pTable != nullptr ? 1 : 0;
    if (hr == S_OK) hr = WriteField(stream, field, 2);
    if (hr == S_OK && m_pTable != nullptr) hr = m_pTable->Serialize(stream, 1);
    return hr;
  }

  ReleaseTable();
  m_flags = 0;
  HRESULT hr = ReadField(stream, field, 1, E_FAIL);
  if (hr != S_OK) return hr;
  if (field[0] != kRecordVersion) return kBadVersion;
  hr = SerializeBase(stream, 0);
  if (hr != S_OK) return hr;
  hr = ReadField(stream, field, 2, E_FAIL);
  if (hr != S_OK) return hr;
  m_flags = field[0] & (FLAG_BOL | FLAG_EOL | FLAG_LONGEST);
  if (field[1] != 0) {
    CDFATransTable* table = nullptr;
    try {
      table = new CDFATransTable;
    } catch (CMemoryException* e) {
      e->Delete();
      return E_OUTOFMEMORY;
    }
    table->AddRef();
    hr = table->Serialize(stream, 0);
    if (hr != S_OK) {
      table->Release();
      return hr;
    }
    m_pTable = table;
  }
  try {
    PrepareScan();
  } catch (CMemoryException* e) {
    e->Delete();
    ReleaseTable();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace telsor
