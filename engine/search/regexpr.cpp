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
#include <type_traits>

#include "foundation/exception.h"
#include "search/dfa.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const BYTE kRecordVersion = 1;
const HRESULT kBadVersion = static_cast<HRESULT>(0xE00A00C9u);
const DWORD kMaxPattern = 0xFFFE;
const size_t kMaxFlatCells = 4096 * 256;  // flat copies up to 4 MiB
const size_t kMaxPairCells = 1 << 16;     // two-byte steps up to 1 MiB
const DWORD kStreamBlock = 512;

// Where a scan stands between blocks.
template <class W>
struct tag_SCAN_STATE {
  typename W::CELL cell;
  bool matched = false;
  DWORD start = 0;
  DWORD length = 0;
  // With the end anchor: the last accept that was not at the end of the
  // requested length (counts when the stream ends right after it).
  bool pending = false;
  DWORD pendingAt = 0;
  DWORD pendingLength = 0;
  explicit tag_SCAN_STATE(const W& w) : cell(w.Start()) {}
};

// The end of a first-accept scan on a special cell reached by the byte at
// base + j: no match when dead, else the match from start.
template <class W>
bool EndFirst(const W& w, typename W::CELL cell, DWORD base, DWORD j, DWORD start, tag_SCAN_STATE<W>& st,
              DWORD& result) {
  if (w.IsDead(cell)) {
    result = SEEK_NOT_FOUND;
    return true;
  }
  st.length = base + j + 1 - start;
  st.start = start;
  result = start;
  return true;
}

// First accept wins: the common case, kept tight. skip (may be null) jumps
// over bytes that keep the start state.
template <class W>
bool ScanFirst(const W& w, const CDFAScanTable* skip, const BYTE* p, DWORD n, DWORD base,
               tag_SCAN_STATE<W>& st, DWORD& result) {
  typename W::CELL cell = st.cell;
  DWORD start = st.start;
  DWORD j = 0;
  for (;;) {
    if (skip != nullptr) {
      if (w.IsStart(cell)) {
        j += static_cast<DWORD>(skip->SkipFromStart(p + j, n - j));
        if (j == n) break;
      }
      for (; j < n; ++j) {
        if (w.IsStart(cell)) start = base + j;
        cell = w.Next(cell, p[j]);
        if (w.IsSpecial(cell) || w.IsStart(cell)) break;
      }
    } else {
      for (; j < n; ++j) {
        if (w.IsStart(cell)) start = base + j;
        cell = w.Next(cell, p[j]);
        if (w.IsSpecial(cell)) break;
      }
    }
    if (j == n) break;
    if (w.IsSpecial(cell)) return EndFirst(w, cell, base, j, start, st, result);
    ++j;  // back at the start state
  }
  st.cell = cell;
  st.start = start;
  return false;
}

// ScanFirst over two-byte steps of the flat copy: the same cells, start
// and result, one dependent lookup per two bytes while both bytes lead to
// plain states; single steps around accepts and at the end of the data.
bool ScanFirstPairs(const CDFAScanTable& t, bool skip, const BYTE* p, DWORD n, DWORD base,
                    tag_SCAN_STATE<CDFAFlatWalker>& st, DWORD& result) {
  CDFAScanTable::ROW cell = st.cell;
  DWORD start = st.start;
  DWORD j = 0;
  const CDFAScanTable::ROW startRow = t.Start();
  const CDFAScanTable::PAIR_ROW pairStart = t.PairStart();
  while (j < n) {
    if (skip && cell == startRow) {
      j += static_cast<DWORD>(t.SkipFromStart(p + j, n - j));
      if (j == n) break;
    }
    if (j + 2 <= n) {
      const DWORD from = j;
      j = static_cast<DWORD>(t.StepPairs(cell, p, j, n, skip,
                                         [&](CDFAScanTable::PAIR_ROW pr, const CDFAScanTable::tag_PAIR& e, size_t at) {
                                           start = pr == pairStart ? base + static_cast<DWORD>(at) : start;
                                           start = e.midStart ? base + static_cast<DWORD>(at) + 1 : start;
                                         }));
      if (j != from) continue;  // at the end, back at the start or escaping
    }
    // One byte alone: the last one, or the first of a pair that reaches an
    // accepting or dead state.
    if (cell == startRow) start = base + j;
    cell = t.Next(cell, p[j]);
    if (t.IsSpecial(cell)) return EndFirst(CDFAFlatWalker{&t}, cell, base, j, start, st, result);
    ++j;
  }
  st.cell = cell;
  st.start = start;
  return false;
}

// With the anchors: the longest run from the start, or accepts at the end.
template <class W>
bool ScanAnchored(const W& w, const BYTE* p, DWORD n, DWORD base, DWORD total, BYTE flags,
                  tag_SCAN_STATE<W>& st, DWORD& result) {
  typename W::CELL cell = st.cell;
  DWORD start = st.start;
  for (DWORD j = 0; j < n; ++j) {
    const DWORD i = base + j;
    if (w.IsStart(cell) && !st.matched) start = i;
    cell = w.Next(cell, p[j]);
    st.pending = false;
    if (!w.IsSpecial(cell)) continue;
    if (w.IsDead(cell)) {
      result = st.matched ? start : SEEK_NOT_FOUND;
      st.start = start;
      return true;
    }
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
  st.cell = cell;
  st.start = start;
  return false;
}

template <class W>
bool ScanBytes(const W& w, const CDFAScanTable* skip, const BYTE* p, DWORD n, DWORD base, DWORD total,
               BYTE flags, tag_SCAN_STATE<W>& st, DWORD& result) {
  if ((flags & (CRegExpr::FLAG_EOL | CRegExpr::FLAG_LONGEST)) == 0) {
    if constexpr (std::is_same<W, CDFAFlatWalker>::value) {
      if (w.flat->HasPairs()) return ScanFirstPairs(*w.flat, skip != nullptr, p, n, base, st, result);
    }
    return ScanFirst(w, skip, p, n, base, st, result);
  }
  return ScanAnchored(w, p, n, base, total, flags, st, result);
}

// One scan over a buffer or the blocks of a stream.
template <class W>
struct tag_SCANNER {
  W walker;
  const CDFAScanTable* skip;
  tag_SCAN_STATE<W> st;
  DWORD result = SEEK_NOT_FOUND;
  tag_SCANNER(const W& w, const CDFAScanTable* s) : walker(w), skip(s), st(w) {}
  bool Feed(const BYTE* p, DWORD n, DWORD base, DWORD total, BYTE flags) {
    return ScanBytes(walker, skip, p, n, base, total, flags, st, result);
  }
};

// Runs the scan over the flat copy when there is one, else the packed table.
template <class F>
DWORD WithWalker(const CDFAScanTable& flat, bool useFlat, const CDFATransTable* table, const BYTE* map,
                 const F& run) {
  if (useFlat) {
    tag_SCANNER<CDFAFlatWalker> s(CDFAFlatWalker{&flat}, flat.CanSkip() ? &flat : nullptr);
    return run(s);
  }
  tag_SCANNER<CDFAPackedWalker> s(CDFAPackedWalker{table, map}, nullptr);
  return run(s);
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
    m_scan.BuildPairs(kMaxPairCells);
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
  const BYTE flags = m_flags;
  return WithWalker(m_scan, table == m_pTable && !m_scan.IsEmpty(), table, m_map, [&](auto& s) {
    if (!s.Feed(p, n, 0, len, flags)) s.result = s.st.matched ? s.st.start : SEEK_NOT_FOUND;
    if (s.result != SEEK_NOT_FOUND && matchLen) *matchLen = s.st.length;
    return s.result;
  });
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
  DWORD position = 0;
  if (!GetScanStart(stream, &position)) return SEEK_NOT_FOUND;
  const BYTE flags = m_flags;
  const DWORD result = WithWalker(m_scan, table == m_pTable && !m_scan.IsEmpty(), table, m_map, [&](auto& s) {
    BYTE block[kStreamBlock];
    DWORD done = 0;  // bytes scanned
    bool decided = false;
    while (done < maxBytes) {
      const DWORD got = ReadScanBlock(stream, block, kStreamBlock, maxBytes - done);
      if (got == 0) break;
      decided = s.Feed(block, got, done, maxBytes, flags);
      done += got;
      if (decided) break;
    }
    if (!decided) {
      s.result = s.st.matched ? s.st.start : SEEK_NOT_FOUND;
      // The stream ended before maxBytes: its last byte is the end of text.
      if (s.result == SEEK_NOT_FOUND && s.st.pending) {
        s.result = s.st.pendingAt;
        s.st.length = s.st.pendingLength;
      }
    }
    if (s.result != SEEK_NOT_FOUND && matchLen) *matchLen = s.st.length;
    return s.result;
  });
  if (result == SEEK_NOT_FOUND) return SEEK_NOT_FOUND;
  return position + result;
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
