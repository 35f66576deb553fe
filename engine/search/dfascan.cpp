// The scanner's loops and the flat copy of a packed table.
//
// Every scan steps "cells": the flat copy gives cells as row pointers
// (accepting rows and the dead row last, so one comparison finds them);
// without it cells are state numbers and each step walks the packed table.
// One scan loop per mode is written once over both walkers.
#include "search/dfascan.h"

#include <string.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <new>
#include <type_traits>
#include <vector>

#include "foundation/errorroad.h"
#include "foundation/strhelpers.h"
#include "search/seekpattern.h"

namespace telsor {

// Bytes that every state treats alike share a class, each state is a row
// of pointers to the rows of its successors (one dependent load per text
// byte), and the rows of accepting states and the dead row come last.
// BuildPairs adds a second copy that steps two bytes per lookup while both
// stay among plain states. Read-only after building.

class CDFAScanTable {
 public:
  typedef const void* const* ROW;
  // One two-byte step: the byte offset in the pair table of the row after
  // both bytes (a multiple of 4), plus 1 when the state between them is the
  // start state. Four bytes a cell keep the table small enough to stay in
  // the first-level cache while the text streams through it.
  typedef DWORD PAIR;
  typedef DWORD PAIR_ROW;  // the byte offset of a row of the pair table
  static bool MidStart(PAIR e) { return (e & 1) != 0; }

  // maxCells bounds the copy (states x classes); a larger table leaves the
  // copy empty and the caller walks the packed table. rows are the table's
  // rows over byte classes (tag_CLASS_ROWS); without them the classes are
  // found on the packed table (CDFATransTable::ColumnClasses) and its rows
  // over them made by lookups, only when the copy fits. Throws
  // CMemoryException*.
  void Build(const CDFATransTable* table, const tag_CLASS_ROWS* rows, const BYTE* map, size_t maxCells) {
    Clear();
    if (table == nullptr || table->GetStateCount() == 0) return;
    const size_t n = table->GetStateCount();
    if (n + 1 > maxCells) return;  // too large even with one byte class
    size_t a = 1;  // the table indices that text bytes reach
    for (DWORD c = 0; c < 256; ++c)
      if (map[c] >= a) a = map[c] + 1u;
    tag_CLASS_ROWS made;
    if (rows == nullptr || rows->states != n || rows->alphabet < a) {
      // The classes first, from the packed table; its rows over them only
      // when the copy will be made.
      table->ColumnClasses(static_cast<DWORD>(a), made);
      std::vector<BYTE> reached(made.classes, 0);
      size_t k = 0;
      for (DWORD c = 0; c < 256; ++c) {
        BYTE& r = reached[made.classOf[map[c]]];
        k += r == 0;
        r = 1;
      }
      if ((n + 1) * k > maxCells) return;
      table->FillClassRows(made);
      rows = &made;
    }
    // The text's byte classes: the table's classes that its bytes reach,
    // numbered in the order of their first byte.
    const size_t w = rows->classes;
    std::vector<int> ours(w, -1);
    std::vector<size_t> first;  // per class: the table class it stands for
    for (DWORD c = 0; c < 256; ++c) {
      const size_t k = rows->classOf[map[c]];
      if (ours[k] < 0) {
        ours[k] = static_cast<int>(first.size());
        first.push_back(k);
      }
      m_class[c] = static_cast<BYTE>(ours[k]);
    }
    const size_t k = first.size();
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
    for (size_t cls = 0; cls < k; ++cls) {
      for (size_t s = 0; s < n; ++s) {
        const WORD t = rows->rows[s * w + first[cls]];
        m_cells[rowOf[s] * k + cls] = base + (t == CDFATransTable::NONE ? dead : rowOf[t]) * k;
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
      m_leaves[c] = Next(m_start, static_cast<BYTE>(c)) != m_start;
      if (!m_leaves[c]) continue;
      if (m_nLeave < 3) m_leave[m_nLeave] = static_cast<BYTE>(c);
      ++m_nLeave;
    }
    // With one such byte x: the path a match must take from x on, as far
    // as it is one byte per step (a new plain state each time), and at
    // each depth the bytes that lead straight back to the start state. A
    // near miss (x, some bytes of the path, then such a byte) is passed
    // over without stepping: the scan would be back at the start state
    // right after it.
    m_nPath = 0;
    memset(m_back, 0, sizeof m_back);
    if (m_nLeave == 1 && !IsSpecial(Next(m_start, m_leave[0]))) {
      ROW on[MAX_NEAR_PATH + 1] = {m_start, Next(m_start, m_leave[0])};
      m_path[0] = m_leave[0];
      m_nPath = 1;
      for (;;) {
        const ROW at = on[m_nPath];
        BYTE* back = m_back[m_nPath - 1];
        ROW ahead = nullptr;
        DWORD forward = 0, aheadBytes = 0;
        for (DWORD c = 0; c < 256; ++c) {
          const ROW next = Next(at, static_cast<BYTE>(c));
          if (next == m_start) {
            back[c >> 3] = static_cast<BYTE>(back[c >> 3] | 1u << (c & 7));
            continue;
          }
          if (IsSpecial(next) || std::find(on, on + m_nPath + 1, next) != on + m_nPath + 1) continue;
          if (ahead != nullptr && next != ahead) aheadBytes = 2;  // more than one way on
          ahead = next;
          forward = c;
          ++aheadBytes;
        }
        if (m_nPath == MAX_NEAR_PATH || aheadBytes != 1) break;
        m_path[m_nPath++] = static_cast<BYTE>(forward);
        on[m_nPath] = ahead;
      }
    }
  }
  // Two-byte steps for at most maxEntries (states + 2) x classes^2 cells;
  // none when larger. A step from an accepting or dead row, or through
  // one, leads to the escape row (past PairSpecial): the caller then steps
  // the bytes one at a time.
  void BuildPairs(size_t maxEntries) {
    std::vector<PAIR>().swap(m_pairs);
    if (IsEmpty()) return;
    const size_t k = m_nClasses, k2 = k * k, rows = m_state.size() + 1;
    if (rows * k2 > maxEntries || rows * k2 * sizeof(PAIR) > 0x7FFFFFFF) return;
    m_pairs.assign(rows * k2, 0);
    const DWORD rowBytes = static_cast<DWORD>(k2 * sizeof(PAIR));
    const PAIR escape = static_cast<PAIR>(rows - 1) * rowBytes;
    for (size_t r = 0; r + 1 < rows; ++r) {
      const ROW row = m_cells.data() + r * k;
      for (size_t a = 0; a < k; ++a) {
        const ROW mid = static_cast<ROW>(row[a]);
        for (size_t b = 0; b < k; ++b) {
          PAIR& e = m_pairs[r * k2 + a * k + b];
          if (IsSpecial(row) || IsSpecial(mid)) {
            e = escape;
            continue;
          }
          e = static_cast<PAIR>(RowIndex(static_cast<ROW>(mid[b]))) * rowBytes | (mid == m_start ? 1 : 0);
        }
      }
    }
    for (size_t c = 0; c < k2; ++c) m_pairs[(rows - 1) * k2 + c] = escape;
    for (DWORD c = 0; c < 256; ++c) {
      m_pairFirst[c] = static_cast<DWORD>(m_class[c] * k * sizeof(PAIR));
      m_pairSecond[c] = static_cast<DWORD>(m_class[c] * sizeof(PAIR));
    }
    m_pairStart = static_cast<PAIR_ROW>(RowIndex(m_start)) * rowBytes;
    m_pairSpecial = static_cast<PAIR_ROW>(RowIndex(m_special)) * rowBytes;
  }
  bool HasPairs() const { return !m_pairs.empty(); }
  PAIR_ROW PairStart() const { return m_pairStart; }
  PAIR_ROW PairRow(ROW row) const {
    if (row == m_start) return m_pairStart;
    return static_cast<PAIR_ROW>(RowIndex(row) * m_nClasses * m_nClasses * sizeof(PAIR));
  }
  ROW RowOfPair(PAIR_ROW pr) const {
    if (pr == m_pairStart) return m_start;
    return m_cells.data() + pr / (m_nClasses * m_nClasses * sizeof(PAIR)) * m_nClasses;
  }
  // The cell for bytes a, b from pr; its row is at or past PairSpecial()
  // when the bytes must be stepped one at a time.
  PAIR PairStep(PAIR_ROW pr, BYTE a, BYTE b) const {
    PAIR e;
    memcpy(&e, reinterpret_cast<const char*>(m_pairs.data()) + pr + m_pairFirst[a] + m_pairSecond[b], sizeof e);
    return e;
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
      const PAIR e = PairStep(pr, p[j], p[j + 1]);
      const PAIR_ROW next = e & ~static_cast<PAIR>(1);
      if (next >= special) break;
      onStep(pr, e, j);
      pr = next;
      j += 2;
      if (stopAtStart && pr == start) break;
    }
    row = RowOfPair(pr);
    return j;
  }

  void Clear() {
    std::vector<PAIR>().swap(m_pairs);
    m_pairStart = m_pairSpecial = 0;
    std::vector<const void*>().swap(m_cells);
    std::vector<WORD>().swap(m_state);
    m_start = m_dead = m_special = nullptr;
    m_nClasses = 0;
    m_nLeave = 0;
    m_nPath = 0;
  }
  bool IsEmpty() const { return m_cells.empty(); }
  size_t GetBytes() const {
    return sizeof *this + m_cells.capacity() * sizeof(void*) + m_state.capacity() * sizeof(WORD) +
           m_pairs.capacity() * sizeof(PAIR);
  }

  ROW Start() const { return m_start; }
  ROW Next(ROW row, BYTE c) const { return static_cast<ROW>(row[m_class[c]]); }
  bool IsSpecial(ROW row) const { return row >= m_special; }
  bool IsDead(ROW row) const { return row == m_dead; }
  WORD State(ROW row) const { return m_state[static_cast<size_t>(row - m_cells.data()) / m_nClasses]; }
  const BYTE* Classes() const { return m_class; }
  // Where a scan in the start state at p must go on stepping: the first
  // byte that leaves the start state, past near misses that come straight
  // back (see Build); n when none. Only when CanSkip(): at most
  // MAX_SKIP_BYTES bytes leave the start state (three are looked for 16 at
  // a time, more through a table), and the start state is plain.
  static const DWORD MAX_SKIP_BYTES = 16;
  bool CanSkip() const { return m_nLeave >= 1 && m_nLeave <= MAX_SKIP_BYTES && m_start < m_special; }
  size_t SkipFromStart(const BYTE* p, size_t n) const {
    if (m_nLeave > 3) {
      size_t i = 0;
      for (; i + 4 <= n; i += 4) {
        if (m_leaves[p[i]]) return i;
        if (m_leaves[p[i + 1]]) return i + 1;
        if (m_leaves[p[i + 2]]) return i + 2;
        if (m_leaves[p[i + 3]]) return i + 3;
      }
      for (; i < n; ++i)
        if (m_leaves[p[i]]) return i;
      return n;
    }
    if (m_nLeave == 1) {
      // Blocks of 64 bytes are read at fixed steps and each x in them looked
      // at in turn (those inside a near miss already passed over left out),
      // so that the reads need not wait for the looks. Longer runs without
      // x are left to memchr.
      const BYTE x = m_leave[0];
      size_t i = 0, from = 0;  // from: the first byte not passed over
      auto mustStep = [&](size_t at) {
        if (at < from) return false;
        from = PastNearMiss(p, at, n);
        return from == at;
      };
#ifdef __SSE2__
      const __m128i v = _mm_set1_epi8(static_cast<char>(x));
      auto hits = [&](size_t at) {
        return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), v);
      };
      for (size_t empty = 0; i + 64 <= n;) {
        const __m128i a = hits(i), b = hits(i + 16), c = hits(i + 32), d = hits(i + 48);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) == 0) {
          i += 64;
          if (++empty < 2) continue;
          const void* hit = memchr(p + i, x, n - i);
          if (hit == nullptr) return n;
          i = static_cast<size_t>(static_cast<const BYTE*>(hit) - p);
          empty = 0;
          continue;
        }
        empty = 0;
        unsigned long long mask = static_cast<unsigned long long>(static_cast<unsigned>(_mm_movemask_epi8(a))) |
                                  static_cast<unsigned long long>(static_cast<unsigned>(_mm_movemask_epi8(b))) << 16 |
                                  static_cast<unsigned long long>(static_cast<unsigned>(_mm_movemask_epi8(c))) << 32 |
                                  static_cast<unsigned long long>(static_cast<unsigned>(_mm_movemask_epi8(d))) << 48;
        for (; mask != 0; mask &= mask - 1) {
          const size_t at = i + static_cast<size_t>(__builtin_ctzll(mask));
          if (mustStep(at)) return at;
        }
        i += 64;
      }
#endif
      while (i < n) {
        const void* hit = memchr(p + i, x, n - i);
        if (hit == nullptr) return n;
        const size_t at = static_cast<size_t>(static_cast<const BYTE*>(hit) - p);
        if (mustStep(at)) return at;
        i = at + 1;
      }
      return n;
    }
    return SpanExcept(p, n, m_leave[0], m_leave[1], m_leave[m_nLeave - 1]);
  }

 private:
  static const DWORD MAX_NEAR_PATH = 16;
  size_t RowIndex(ROW row) const { return static_cast<size_t>(row - m_cells.data()) / m_nClasses; }
  bool LeadsBack(DWORD depth, BYTE c) const { return (m_back[depth - 1][c >> 3] >> (c & 7)) & 1; }
  // With p[at] the byte that leaves the start state: where the scan is
  // back at the start state when p[at..] is a near miss of the path, else
  // at (the scan steps from there).
  size_t PastNearMiss(const BYTE* p, size_t at, size_t n) const {
    if (m_nPath == 0) return at;
    DWORD depth = 1;  // path bytes matched
#ifdef __SSE2__
    if (at + 16 <= n) {
      const __m128i got = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
      const __m128i want = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_path));
      const unsigned differ = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(got, want))) &
                              ((1u << m_nPath) - 1);
      depth = differ != 0 ? static_cast<DWORD>(__builtin_ctz(differ)) : m_nPath;
    } else
#endif
    {
      while (depth < m_nPath && at + depth < n && p[at + depth] == m_path[depth]) ++depth;
    }
    if (at + depth >= n || !LeadsBack(depth, p[at + depth])) return at;
    return at + depth + 1;
  }

  std::vector<const void*> m_cells;  // rows of successor-row pointers
  std::vector<WORD> m_state;         // row index -> state (NONE: dead)
  BYTE m_class[256] = {};
  size_t m_nClasses = 0;
  ROW m_start = nullptr;
  ROW m_dead = nullptr;
  ROW m_special = nullptr;  // rows from here on accept or are dead
  BYTE m_leave[3] = {};
  DWORD m_nLeave = 0;
  // See Build: the path from the one byte that leaves the start state,
  // and per depth 1..m_nPath a bit per byte that leads back to it.
  BYTE m_path[MAX_NEAR_PATH] = {};
  DWORD m_nPath = 0;
  BYTE m_back[MAX_NEAR_PATH][32] = {};
  BYTE m_leaves[256] = {};  // 1 for the bytes that leave the start state
  // Two-byte steps: rows in the order of m_cells plus the escape row;
  // a cell's byte offset in its row is m_pairFirst[a] + m_pairSecond[b].
  std::vector<PAIR> m_pairs;
  DWORD m_pairFirst[256] = {};
  DWORD m_pairSecond[256] = {};
  PAIR_ROW m_pairStart = 0;
  PAIR_ROW m_pairSpecial = 0;
};

namespace {

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

const size_t kMaxFlatCells = 4096 * 256;    // flat copies up to 4 MiB
const size_t kMaxPairCells = 1 << 14;       // two-byte steps up to 64 KiB
const DWORD kMaxStreamBlock = 4096;

// The stream's current position (low 32 bits); false when Seek fails.
bool GetScanStart(IStream* stream, DWORD* position) {
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
DWORD ReadScanBlock(IStream* stream, BYTE* block, DWORD size, DWORD left) {
  const DWORD want = left < size ? left : size;
  ULONG got = 0;
  if (FAILED(stream->Read(block, want, &got))) return 0;
  return got > want ? want : got;
}

// One scan over a buffer or the blocks of a stream: where it stands
// between blocks, and the loop of each mode.
template <class W>
class CScan {
 public:
  CScan(const W& w, const CDFAScanTable* skip, CDFAScanner::MODE mode, const WORD* wordLength,
        DWORD longest)
      : m_w(w), m_skip(skip), m_mode(mode), m_wordLength(wordLength), m_nLongest(longest), m_cell(w.Start()) {}

  // Runs p[0..n), standing at offsets base.. of a text of total bytes;
  // true when no later byte can change the result.
  bool Feed(const BYTE* p, DWORD n, DWORD base, DWORD total) {
    switch (m_mode) {
      case CDFAScanner::FIRST_ACCEPT:
        if constexpr (std::is_same<W, CDFAFlatWalker>::value) {
          if (m_w.flat->HasPairs()) return FeedFirstPairs(p, n, base);
        }
        return FeedFirst(p, n, base);
      case CDFAScanner::WORDS: return FeedWords(p, n, base);
      default: return FeedAnchored(p, n, base, total);
    }
  }

  // The result once the data has ended (or the scan was decided).
  DWORD Finish(bool decided, DWORD* matchLen) {
    if (!decided) {
      m_result = m_matched ? m_start : SEEK_NOT_FOUND;
      // A stream that ended before the length asked for: its last byte is
      // the end of the text.
      if (m_result == SEEK_NOT_FOUND && m_pending) {
        m_result = m_pendingAt;
        m_length = m_pendingLength;
      }
    }
    if (matchLen) *matchLen = m_result != SEEK_NOT_FOUND ? m_length : 0;
    return m_result;
  }

 private:
  typedef typename W::CELL CELL;

  // The end of a first-accept scan on a special cell reached by the byte at
  // base + j: no match when dead, else the match from start.
  bool EndFirst(CELL cell, DWORD base, DWORD j, DWORD start) {
    if (m_w.IsDead(cell)) {
      m_result = SEEK_NOT_FOUND;
      return true;
    }
    m_length = base + j + 1 - start;
    m_start = start;
    m_result = start;
    return true;
  }

  // First accept wins: the common case, kept tight. m_skip (may be null)
  // jumps over bytes that keep the start state.
  bool FeedFirst(const BYTE* p, DWORD n, DWORD base) {
    CELL cell = m_cell;
    DWORD start = m_start;
    DWORD j = 0;
    for (;;) {
      if (m_skip != nullptr) {
        if (m_w.IsStart(cell)) {
          j += static_cast<DWORD>(m_skip->SkipFromStart(p + j, n - j));
          if (j == n) break;
        }
        for (; j < n; ++j) {
          if (m_w.IsStart(cell)) start = base + j;
          cell = m_w.Next(cell, p[j]);
          if (m_w.IsSpecial(cell) || m_w.IsStart(cell)) break;
        }
      } else {
        for (; j < n; ++j) {
          if (m_w.IsStart(cell)) start = base + j;
          cell = m_w.Next(cell, p[j]);
          if (m_w.IsSpecial(cell)) break;
        }
      }
      if (j == n) break;
      if (m_w.IsSpecial(cell)) return EndFirst(cell, base, j, start);
      ++j;  // back at the start state
    }
    m_cell = cell;
    m_start = start;
    return false;
  }

  // FeedFirst over two-byte steps of the flat copy: the same cells, start
  // and result, one dependent lookup per two bytes while both bytes lead to
  // plain states; single steps around accepts and at the end of the data.
  bool FeedFirstPairs(const BYTE* p, DWORD n, DWORD base) {
    const CDFAScanTable& t = *m_w.flat;
    const bool skip = m_skip != nullptr;
    CELL cell = m_cell;
    DWORD start = m_start;
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
                                           [&](CDFAScanTable::PAIR_ROW pr, CDFAScanTable::PAIR e, size_t at) {
                                             start = pr == pairStart ? base + static_cast<DWORD>(at) : start;
                                             start = CDFAScanTable::MidStart(e) ? base + static_cast<DWORD>(at) + 1 : start;
                                           }));
        if (j != from) continue;  // at the end, back at the start or escaping
      }
      // One byte alone: the last one, or the first of a pair that reaches an
      // accepting or dead state.
      if (cell == startRow) start = base + j;
      cell = t.Next(cell, p[j]);
      if (t.IsSpecial(cell)) return EndFirst(cell, base, j, start);
      ++j;
    }
    m_cell = cell;
    m_start = start;
    return false;
  }

  // With the anchors: the longest run from the start, or accepts at the end.
  bool FeedAnchored(const BYTE* p, DWORD n, DWORD base, DWORD total) {
    CELL cell = m_cell;
    DWORD start = m_start;
    const bool atEnd = m_mode == CDFAScanner::AT_END;
    for (DWORD j = 0; j < n; ++j) {
      const DWORD i = base + j;
      if (m_w.IsStart(cell) && !m_matched) start = i;
      cell = m_w.Next(cell, p[j]);
      m_pending = false;
      if (!m_w.IsSpecial(cell)) continue;
      if (m_w.IsDead(cell)) {
        m_result = m_matched ? start : SEEK_NOT_FOUND;
        m_start = start;
        return true;
      }
      m_length = i + 1 - start;
      m_matched = true;
      if (atEnd) {
        if (i + 1 >= total) {
          m_start = start;
          m_result = start;
          return true;
        }
        m_matched = false;
        m_pending = true;
        m_pendingAt = start;
        m_pendingLength = m_length;
      }
    }
    m_cell = cell;
    m_start = start;
    return false;
  }

  // Leftmost-longest words. Until a word is found the flat copy is run in
  // a tight loop that looks at nothing but accepting rows (skipping over
  // bytes that keep the start state when few bytes leave it); once a word
  // is found the scan goes on, a byte at a time, only as far as a longer or
  // earlier-starting word could still end.
  bool FeedWords(const BYTE* p, DWORD n, DWORD base) {
    CELL cell = m_cell;
    DWORD j = 0;
    if constexpr (std::is_same<W, CDFAFlatWalker>::value) {
      if (!m_matched) {
        const CDFAScanTable& t = *m_w.flat;
        const CDFAScanTable::ROW start = t.Start();
        while (j < n) {
          if (m_skip != nullptr) {
            if (cell == start) {
              j += static_cast<DWORD>(t.SkipFromStart(p + j, n - j));
              if (j == n) break;
            }
            for (; j < n; ++j) {
              cell = t.Next(cell, p[j]);
              if (t.IsSpecial(cell) || cell == start) break;
            }
          } else {
            for (; j < n; ++j) {
              cell = t.Next(cell, p[j]);
              if (t.IsSpecial(cell)) break;
            }
          }
          if (j == n) break;
          if (t.IsSpecial(cell)) NoteWord(cell, base + j);
          ++j;
          if (m_matched) break;
        }
        if (!m_matched) {
          m_cell = cell;
          return false;
        }
      }
    }
    for (; j < n; ++j) {
      if (m_matched && base + j - m_start >= m_nLongest) {
        m_cell = cell;
        m_result = m_start;
        return true;
      }
      cell = m_w.Next(cell, p[j]);
      if (m_w.IsSpecial(cell)) NoteWord(cell, base + j);
    }
    m_cell = cell;
    return false;
  }

  // An accepting (or dead) cell reached by the byte at offset i: the word
  // ending there, when it starts earlier or is longer than the one held.
  void NoteWord(CELL& cell, DWORD i) {
    if (m_w.IsDead(cell)) {  // a complete automaton: never, but stay safe
      cell = m_w.Start();
      return;
    }
    const DWORD length = m_wordLength[m_w.State(cell)];
    if (length == 0 || length > i + 1) return;
    const DWORD start = i + 1 - length;
    if (!m_matched || start < m_start || (start == m_start && length > m_length)) {
      m_matched = true;
      m_start = start;
      m_length = length;
    }
  }

  const W m_w;
  const CDFAScanTable* const m_skip;
  const CDFAScanner::MODE m_mode;
  const WORD* const m_wordLength;
  const DWORD m_nLongest;
  CELL m_cell;
  bool m_matched = false;
  DWORD m_start = 0;
  DWORD m_length = 0;
  DWORD m_result = SEEK_NOT_FOUND;
  // AT_END: the last accept that was not at the end of the requested
  // length (counts when the stream ends right after it).
  bool m_pending = false;
  DWORD m_pendingAt = 0;
  DWORD m_pendingLength = 0;
};

}  // namespace

CDFAScanner::CDFAScanner() : m_mode(FIRST_ACCEPT), m_nStreamBlock(512), m_nLongest(0) {
  for (DWORD c = 0; c < 256; ++c) m_map[c] = static_cast<BYTE>(c);
}

CDFAScanner::~CDFAScanner() {}

void CDFAScanner::Clear() {
  m_pFlat.reset();
  m_pTable = nullptr;
  std::vector<WORD>().swap(m_wordLength);
  m_nLongest = 0;
}

void CDFAScanner::Prepare(CDFATransTable* table, const BYTE* map, MODE mode, DWORD streamBlock,
                          std::vector<WORD> wordLength, bool flat, const tag_CLASS_ROWS* rows) {
  Clear();
  m_pTable = table;
  memcpy(m_map, map, sizeof m_map);
  m_mode = mode;
  m_nStreamBlock = streamBlock == 0 || streamBlock > kMaxStreamBlock ? kMaxStreamBlock : streamBlock;
  m_wordLength.swap(wordLength);
  for (WORD length : m_wordLength)
    if (length > m_nLongest) m_nLongest = length;
  if (!flat || table == nullptr) return;
  // The packed table serves whenever the copy cannot be had.
  HRESULT hr = ResultOf([&] {
    std::unique_ptr<CDFAScanTable> copy(new CDFAScanTable);
    copy->Build(table, rows, m_map, kMaxFlatCells);
    if (copy->IsEmpty()) return;
    // Two-byte steps pay where the scan cannot skip over the start state;
    // the word scan walks its automaton no faster with them.
    if (mode == FIRST_ACCEPT && !copy->CanSkip()) copy->BuildPairs(kMaxPairCells);
    m_pFlat = std::move(copy);
  });
  if (FAILED(hr)) m_pFlat.reset();
}

size_t CDFAScanner::GetBytesHeld() const {
  size_t bytes = m_wordLength.capacity() * sizeof(WORD);
  if (m_pTable != nullptr) bytes += m_pTable->GetBytes();
  if (m_pFlat != nullptr) bytes += m_pFlat->GetBytes();
  return bytes;
}

bool CDFAScanner::HasFlat() const { return m_pFlat != nullptr; }
bool CDFAScanner::HasPairs() const { return m_pFlat != nullptr && m_pFlat->HasPairs(); }
bool CDFAScanner::CanSkip() const { return m_pFlat != nullptr && m_pFlat->CanSkip(); }
void CDFAScanner::DropFlat() { m_pFlat.reset(); }

// Runs f with the scan over the flat copy when there is one, else over the
// packed table.
template <class F>
static DWORD WithScan(const CDFAScanner& s, const CDFAScanTable* flat, const std::vector<WORD>& wordLength,
                      DWORD longest, const F& f) {
  if (flat != nullptr) {
    CScan<CDFAFlatWalker> scan(CDFAFlatWalker{flat}, flat->CanSkip() ? flat : nullptr, s.GetMode(),
                               wordLength.data(), longest);
    return f(scan);
  }
  CScan<CDFAPackedWalker> scan(CDFAPackedWalker{s.GetTable(), s.GetMap()}, nullptr, s.GetMode(),
                               wordLength.data(), longest);
  return f(scan);
}

DWORD CDFAScanner::Search(const BYTE* p, DWORD n, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (m_pTable == nullptr || p == nullptr) return SEEK_NOT_FOUND;
  return WithScan(*this, m_pFlat.get(), m_wordLength, m_nLongest, [&](auto& scan) {
    return scan.Finish(scan.Feed(p, n, 0, n), matchLen);
  });
}

DWORD CDFAScanner::Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (m_pTable == nullptr || stream == nullptr || maxBytes == 0) return SEEK_NOT_FOUND;
  DWORD position = 0;
  if (!GetScanStart(stream, &position)) return SEEK_NOT_FOUND;
  BYTE block[kMaxStreamBlock];
  const DWORD at = WithScan(*this, m_pFlat.get(), m_wordLength, m_nLongest, [&](auto& scan) {
    DWORD done = 0;  // bytes scanned
    bool decided = false;
    while (done < maxBytes && !decided) {
      const DWORD got = ReadScanBlock(stream, block, m_nStreamBlock, maxBytes - done);
      if (got == 0) break;
      decided = scan.Feed(block, got, done, maxBytes);
      done += got;
    }
    return scan.Finish(decided, matchLen);
  });
  return at == SEEK_NOT_FOUND ? SEEK_NOT_FOUND : position + at;
}

}  // namespace telsor
