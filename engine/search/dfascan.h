// Walkers over a DFA for the scan loops of CRegExpr and CSeekMultiWords.
//
// CDFAScanTable is a flat copy of a packed CDFATransTable made for speed:
// bytes that every state treats alike share a class, each state is a row of
// pointers to the rows of its successors (one dependent load per text
// byte), and the rows of accepting states and the dead row come last, so
// one pointer comparison tells that something must be looked at. The
// packed table stays the stored and shared form.
//
//   CDFAScanTable flat;
//   flat.Build(table, map, 1 << 20);          // map: text byte -> table index
//   CDFAFlatWalker w{&flat};                  // or CDFAPackedWalker{table, map}
//   auto cell = w.Start();
//   cell = w.Next(cell, byte);
//   if (w.IsSpecial(cell)) { if (w.IsDead(cell)) ...; else w.State(cell) ... }
//
// Both walkers offer Start, Next, IsStart, IsSpecial, IsDead and State, so
// a scan loop is written once as a template. BuildPairs adds a second copy
// that steps two bytes per lookup while both stay among plain states (see
// PairStep; StepPairs is the loop both scans use). Read-only after Build:
// shareable between threads.
#ifndef TELSOR_SEARCH_DFASCAN_H
#define TELSOR_SEARCH_DFASCAN_H

#include <string.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <map>
#include <vector>

#include "foundation/istream.h"
#include "search/dfatranstable.h"

namespace telsor {

class CDFAScanTable {
 public:
  typedef const void* const* ROW;
  // One two-byte step: the row after both bytes, and 1 when the state
  // between them is the start state.
  struct tag_PAIR {
    const tag_PAIR* next;
    size_t midStart;
  };
  typedef const tag_PAIR* PAIR_ROW;

  // maxCells bounds the copy (states x classes); a larger table leaves the
  // copy empty and the caller walks the packed table.
  void Build(const CDFATransTable* table, const BYTE* map, size_t maxCells) {
    Clear();
    if (table == nullptr || table->GetStateCount() == 0) return;
    const size_t n = table->GetStateCount();
    if (2 * n > maxCells) return;
    // Byte classes: equal columns over all states.
    std::map<std::vector<WORD>, BYTE> columns;
    std::vector<WORD> column(n);
    for (DWORD c = 0; c < 256; ++c) {
      for (size_t s = 0; s < n; ++s) column[s] = table->Lookup(static_cast<WORD>(s), map[c]);
      auto it = columns.find(column);
      if (it == columns.end()) it = columns.emplace(column, static_cast<BYTE>(columns.size())).first;
      m_class[c] = it->second;
    }
    const size_t k = columns.size();
    if ((n + 1) * k > maxCells) {
      Clear();
      return;
    }
    // Row order: plain states, accepting states, the dead row.
    std::vector<size_t> rowOf(n);
    m_state.clear();
    for (int pass = 0; pass < 2; ++pass) {
      for (size_t s = 0; s < n; ++s) {
        if (table->IsAccepting(static_cast<WORD>(s)) != (pass == 1)) continue;
        rowOf[s] = m_state.size();
        m_state.push_back(static_cast<WORD>(s));
      }
    }
    m_state.push_back(CDFATransTable::NONE);
    m_cells.assign((n + 1) * k, nullptr);
    const void* const* base = m_cells.data();
    const size_t dead = n;
    for (auto& entry : columns) {
      for (size_t s = 0; s < n; ++s) {
        const WORD t = entry.first[s];
        m_cells[rowOf[s] * k + entry.second] = base + (t == CDFATransTable::NONE ? dead : rowOf[t]) * k;
      }
    }
    for (size_t c = 0; c < k; ++c) m_cells[dead * k + c] = base + dead * k;
    m_nClasses = k;
    m_start = base + rowOf[0] * k;
    m_dead = base + dead * k;
    size_t plain = 0;
    while (plain < n && !table->IsAccepting(m_state[plain])) ++plain;
    m_special = base + plain * k;
    // Bytes that leave the start state: with at most three of them the
    // scan skips ahead to the next one instead of stepping byte by byte.
    m_nLeave = 0;
    for (DWORD c = 0; c < 256; ++c) {
      if (Next(m_start, static_cast<BYTE>(c)) == m_start) continue;
      if (m_nLeave < 3) m_leave[m_nLeave] = static_cast<BYTE>(c);
      ++m_nLeave;
    }
    // With one such byte x: the bytes y after it for which x y does not
    // lead back to the start state. x y pairs that do can be skipped too,
    // as long as x alone neither accepts nor leads back (x x goes on).
    memset(m_goesOn, 1, sizeof m_goesOn);
    if (m_nLeave == 1) {
      const ROW after = Next(m_start, m_leave[0]);
      if (!IsSpecial(after) && Next(after, m_leave[0]) != m_start) {
        for (DWORD c = 0; c < 256; ++c) m_goesOn[c] = Next(after, static_cast<BYTE>(c)) != m_start;
      }
    }
  }
  // Two-byte steps for at most maxEntries (states + 2) x classes^2 cells;
  // none when larger. A step from an accepting or dead row, or through
  // one, leads to the escape row (past PairSpecial): the caller then steps
  // the bytes one at a time.
  void BuildPairs(size_t maxEntries) {
    std::vector<tag_PAIR>().swap(m_pairs);
    if (IsEmpty()) return;
    const size_t k = m_nClasses, k2 = k * k, rows = m_state.size() + 1;
    if (rows * k2 > maxEntries) return;
    m_pairs.assign(rows * k2, tag_PAIR{nullptr, 0});
    tag_PAIR* pairs = m_pairs.data();
    const tag_PAIR* escape = pairs + (rows - 1) * k2;
    for (size_t r = 0; r + 1 < rows; ++r) {
      const ROW row = m_cells.data() + r * k;
      for (size_t a = 0; a < k; ++a) {
        const ROW mid = static_cast<ROW>(row[a]);
        for (size_t b = 0; b < k; ++b) {
          tag_PAIR& e = pairs[r * k2 + a * k + b];
          if (IsSpecial(row) || IsSpecial(mid)) {
            e.next = escape;
            continue;
          }
          e.next = pairs + RowIndex(static_cast<ROW>(mid[b])) * k2;
          e.midStart = mid == m_start ? 1 : 0;
        }
      }
    }
    for (size_t c = 0; c < k2; ++c) pairs[(rows - 1) * k2 + c].next = escape;
    for (DWORD c = 0; c < 256; ++c) {
      m_pairFirst[c] = static_cast<DWORD>(m_class[c] * k * sizeof(tag_PAIR));
      m_pairSecond[c] = static_cast<DWORD>(m_class[c] * sizeof(tag_PAIR));
    }
    m_pairStart = pairs + RowIndex(m_start) * k2;
    m_pairSpecial = pairs + RowIndex(m_special) * k2;
  }
  bool HasPairs() const { return !m_pairs.empty(); }
  PAIR_ROW PairStart() const { return m_pairStart; }
  PAIR_ROW PairRow(ROW row) const {
    if (row == m_start) return m_pairStart;
    return m_pairs.data() + RowIndex(row) * m_nClasses * m_nClasses;
  }
  ROW RowOfPair(PAIR_ROW pr) const {
    if (pr == m_pairStart) return m_start;
    return m_cells.data() + static_cast<size_t>(pr - m_pairs.data()) / (m_nClasses * m_nClasses) * m_nClasses;
  }
  // The cell for bytes a, b from pr; its next is at or past PairSpecial()
  // when the bytes must be stepped one at a time.
  const tag_PAIR* PairStep(PAIR_ROW pr, BYTE a, BYTE b) const {
    return reinterpret_cast<const tag_PAIR*>(reinterpret_cast<const char*>(pr) + m_pairFirst[a] +
                                             m_pairSecond[b]);
  }
  PAIR_ROW PairSpecial() const { return m_pairSpecial; }
  // Steps p[j..n) two bytes at a time from row while both bytes lead to
  // plain states; onStep(pairRow, cell, j) sees each step before it is
  // taken. Stops before a pair that reaches or passes an accepting or dead
  // row, before a lone last byte, and with stopAtStart back at the start
  // row. Returns the offset reached; row is then the row there.
  template <class F>
  size_t StepPairs(ROW& row, const BYTE* p, size_t j, size_t n, bool stopAtStart, const F& onStep) const {
    PAIR_ROW pr = PairRow(row);
    const PAIR_ROW special = m_pairSpecial, start = m_pairStart;
    while (j + 2 <= n) {
      const tag_PAIR* e = PairStep(pr, p[j], p[j + 1]);
      const PAIR_ROW next = e->next;
      if (next >= special) break;
      onStep(pr, *e, j);
      pr = next;
      j += 2;
      if (stopAtStart && pr == start) break;
    }
    row = RowOfPair(pr);
    return j;
  }

  void Clear() {
    std::vector<tag_PAIR>().swap(m_pairs);
    m_pairStart = m_pairSpecial = nullptr;
    std::vector<const void*>().swap(m_cells);
    std::vector<WORD>().swap(m_state);
    m_start = m_dead = m_special = nullptr;
    m_nClasses = 0;
    m_nLeave = 0;
  }
  bool IsEmpty() const { return m_cells.empty(); }

  ROW Start() const { return m_start; }
  ROW Next(ROW row, BYTE c) const { return static_cast<ROW>(row[m_class[c]]); }
  bool IsSpecial(ROW row) const { return row >= m_special; }
  bool IsDead(ROW row) const { return row == m_dead; }
  WORD State(ROW row) const { return m_state[static_cast<size_t>(row - m_cells.data()) / m_nClasses]; }
  const BYTE* Classes() const { return m_class; }
  // Where a scan in the start state at p must go on stepping: the first
  // byte that leaves the start state, past pairs that come straight back
  // (see m_goesOn); n when none. Only when CanSkip().
  bool CanSkip() const { return m_nLeave >= 1 && m_nLeave <= 3 && m_start < m_special; }
  size_t SkipFromStart(const BYTE* p, size_t n) const {
    if (m_nLeave == 1) {
      const BYTE x = m_leave[0];
      auto goesOn = [&](size_t at) { return at + 1 == n || m_goesOn[p[at + 1]]; };
      size_t i = 0;
      for (;;) {
#ifdef __SSE2__
        // Near hits are looked for here; memchr pays off for longer runs.
        const __m128i v = _mm_set1_epi8(static_cast<char>(x));
        for (const size_t limit = i + 64; i < limit && i + 16 <= n; i += 16) {
          unsigned mask = static_cast<unsigned>(
              _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), v)));
          for (; mask != 0; mask &= mask - 1) {
            const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
            if (goesOn(at)) return at;
          }
        }
#endif
        if (i >= n) return n;
        const void* hit = memchr(p + i, x, n - i);
        if (hit == nullptr) return n;
        const size_t at = static_cast<size_t>(static_cast<const BYTE*>(hit) - p);
        if (goesOn(at)) return at;
        i = at + 2;  // p[at + 1] is not x: x x goes on
      }
    }
    const BYTE a = m_leave[0], b = m_leave[1], c = m_leave[m_nLeave - 1];
    size_t i = 0;
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                       _mm_cmpeq_epi8(v, vc));
      const int mask = _mm_movemask_epi8(hit);
      if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i < n; ++i)
      if (p[i] == a || p[i] == b || p[i] == c) return i;
    return n;
  }

 private:
  size_t RowIndex(ROW row) const { return static_cast<size_t>(row - m_cells.data()) / m_nClasses; }

  std::vector<const void*> m_cells;  // rows of successor-row pointers
  std::vector<WORD> m_state;         // row index -> state (NONE: dead)
  BYTE m_class[256] = {};
  size_t m_nClasses = 0;
  ROW m_start = nullptr;
  ROW m_dead = nullptr;
  ROW m_special = nullptr;  // rows from here on accept or are dead
  BYTE m_leave[3] = {};
  DWORD m_nLeave = 0;
  BYTE m_goesOn[256] = {};  // see Build: 0 for y when x y comes back
  // Two-byte steps: rows in the order of m_cells plus the escape row;
  // a cell's byte offset in its row is m_pairFirst[a] + m_pairSecond[b].
  std::vector<tag_PAIR> m_pairs;
  DWORD m_pairFirst[256] = {};
  DWORD m_pairSecond[256] = {};
  PAIR_ROW m_pairStart = nullptr;
  PAIR_ROW m_pairSpecial = nullptr;
};

struct CDFAFlatWalker {
  typedef CDFAScanTable::ROW CELL;
  const CDFAScanTable* flat;
  CELL Start() const { return flat->Start(); }
  CELL Next(CELL cell, BYTE c) const { return flat->Next(cell, c); }
  bool IsStart(CELL cell) const { return cell == flat->Start(); }
  bool IsSpecial(CELL cell) const { return flat->IsSpecial(cell); }
  bool IsDead(CELL cell) const { return flat->IsDead(cell); }
  WORD State(CELL cell) const { return flat->State(cell); }
};

struct CDFAPackedWalker {
  typedef DWORD CELL;  // state number; NONE when dead
  const CDFATransTable* table;
  const BYTE* map;  // text byte -> alphabet index
  CELL Start() const { return 0; }
  CELL Next(CELL cell, BYTE c) const { return table->Lookup(static_cast<WORD>(cell), map[c]); }
  bool IsStart(CELL cell) const { return cell == 0; }
  bool IsSpecial(CELL cell) const {
    return cell == CDFATransTable::NONE || table->IsAccepting(static_cast<WORD>(cell));
  }
  bool IsDead(CELL cell) const { return cell == CDFATransTable::NONE; }
  WORD State(CELL cell) const { return static_cast<WORD>(cell); }
};

// Stream scans: the stream's current position (low 32 bits); false when
// Seek fails.
inline bool GetScanStart(IStream* stream, DWORD* position) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER at;
  at.QuadPart = 0;
  if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &at))) return false;
  *position = at.u.LowPart;
  return true;
}

// The next block of a stream scan: at most min(size, left) bytes. A failing
// Read ends the data (0), whatever count it left behind.
inline DWORD ReadScanBlock(IStream* stream, BYTE* block, DWORD size, DWORD left) {
  const DWORD want = left < size ? left : size;
  ULONG got = 0;
  if (FAILED(stream->Read(block, want, &got))) return 0;
  return got > want ? want : got;
}

}  // namespace telsor

#endif  // TELSOR_SEARCH_DFASCAN_H
