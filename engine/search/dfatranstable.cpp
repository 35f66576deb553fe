#include "search/dfatranstable.h"

#include <string.h>

#include "foundation/errorroad.h"
#include "search/fa.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const BYTE kRecordVersion = 1;
const size_t kStateRecord = 7;
const size_t kEntryRecord = 4;
const DWORD kNoBase = 0xFFFFFFFFu;
}  // namespace

CDFATransTable::CDFATransTable() : m_nMinIndex(0), m_wDenseState(NONE) {}

CDFATransTable::~CDFATransTable() {}

void CDFATransTable::Clear() {
  std::vector<tag_STATE>().swap(m_states);
  std::vector<tag_ENTRY>().swap(m_entries);
  m_nMinIndex = 0;
  m_wDenseState = NONE;
}

void CDFATransTable::SetStateFlags(WORD state, BYTE flags) {
  if (state < m_states.size()) m_states[state].flags = flags;
}

int CDFATransTable::CompTrans(const WORD* a, const WORD* b, DWORD rowSize) {
  DWORD na = 0;
  DWORD nb = 0;
  for (DWORD k = 0; k < rowSize; ++k) {
    na += a[k] != NONE;
    nb += b[k] != NONE;
  }
  if (na != nb) return na < nb ? -1 : 1;
  int vote = 0;
  for (DWORD k = 0; k < rowSize; ++k) {
    if (a[k] < b[k]) {
      ++vote;
    } else if (a[k] > b[k]) {
      --vote;
    }
  }
  return vote;
}

void CDFATransTable::SwapTrans(WORD* rows, DWORD i, DWORD j, DWORD rowSize, WORD* order) {
  if (i == j) return;
  WORD* a = rows + static_cast<size_t>(i) * rowSize;
  WORD* b = rows + static_cast<size_t>(j) * rowSize;
  for (DWORD k = 0; k < rowSize; ++k) {
    WORD t = a[k];
    a[k] = b[k];
    b[k] = t;
  }
  WORD t = order[i];
  order[i] = order[j];
  order[j] = t;
}

// Non-recursive quicksort of whole rows with a median of three and an
// explicit stack; tolerant of the vote order not being transitive (every
// cursor is bounded by the range, and each pass shrinks it).
void CDFATransTable::SortTransTable(WORD* rows, DWORD rowCount, DWORD rowSize, WORD* order) {
  if (rowCount < 2 || rowSize == 0) return;
  auto row = [&](int64_t i) { return rows + static_cast<size_t>(i) * rowSize; };
  auto cmp = [&](int64_t i, int64_t j) { return CompTrans(row(i), row(j), rowSize); };
  auto swap = [&](int64_t i, int64_t j) {
    SwapTrans(rows, static_cast<DWORD>(i), static_cast<DWORD>(j), rowSize, order);
  };
  int64_t loStack[64];
  int64_t hiStack[64];
  int depth = 0;
  int64_t lo = 0;
  int64_t hi = static_cast<int64_t>(rowCount) - 1;
  for (;;) {
    int64_t count = hi - lo + 1;
    if (count >= 2) {
      int64_t mid = lo + count / 2;
      if (cmp(lo, mid) > 0) swap(lo, mid);
      if (cmp(lo, hi) > 0) swap(lo, hi);
      if (cmp(mid, hi) > 0) swap(mid, hi);
      int64_t i = lo;
      int64_t j = hi;
      for (;;) {
        if (mid > i) {
          do {
            ++i;
          } while (i < mid && cmp(i, mid) <= 0);
        }
        if (mid <= i) {
          do {
            ++i;
          } while (i <= hi && cmp(i, mid) <= 0);
        }
        do {
          --j;
        } while (j > mid && cmp(j, mid) > 0);
        if (j < i) break;
        swap(i, j);
        if (mid == j) mid = i;
      }
      ++j;
      if (mid < j) {
        do {
          --j;
        } while (j > mid && cmp(j, mid) == 0);
      }
      if (mid >= j) {
        do {
          --j;
        } while (j > lo && cmp(j, mid) == 0);
      }
      if (j - lo >= hi - i) {
        if (lo < j) {
          loStack[depth] = lo;
          hiStack[depth++] = j;
        }
        if (i < hi) {
          lo = i;
          continue;
        }
      } else {
        if (i < hi) {
          loStack[depth] = i;
          hiStack[depth++] = hi;
        }
        if (lo < j) {
          hi = j;
          continue;
        }
      }
    }
    if (depth == 0) return;
    --depth;
    lo = loStack[depth];
    hi = hiStack[depth];
  }
}

void CDFATransTable::Build(std::vector<tag_TRANS_ENTRY>& transitions, DWORD stateCount,
                           DWORD alphabetSize, CSetBits& accepting) {
  Clear();
  if (stateCount == 0) return;
  if (stateCount > NONE) throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
  const size_t n = stateCount;
  const size_t a = alphabetSize > 256 ? 256 : alphabetSize;
  std::vector<WORD> matrix;
  WithMemoryException([&] { matrix.assign(n * a, NONE); });
  for (const tag_TRANS_ENTRY& t : transitions)
    if (t.from < n && t.to < n && t.character < a) matrix[t.from * a + t.character] = static_cast<WORD>(t.to);
  BuildFromRows(matrix, stateCount, static_cast<DWORD>(a), accepting);
}

void CDFATransTable::BuildFromRows(std::vector<WORD>& matrix, DWORD stateCount, DWORD alphabetSize,
                                   CSetBits& accepting) {
  Clear();
  if (stateCount == 0) return;
  if (stateCount > NONE) throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
  const size_t n = stateCount;
  const size_t a = alphabetSize > 256 ? 256 : alphabetSize;
  if (matrix.size() < n * a) throw new CFAException(static_cast<DWORD>(E_INVALIDARG), nullptr);
  std::vector<tag_STATE> states;
  std::vector<tag_ENTRY> entries;
  size_t minIndex = 0;
  WORD dense = NONE;
  WithMemoryException([&] {
    size_t entryCount = 0;
    std::vector<WORD> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<WORD>(i);
    SortTransTable(matrix.data(), static_cast<DWORD>(n), static_cast<DWORD>(a), order.data());

    std::vector<WORD> next(a, NONE);
    std::vector<WORD> check(a, NONE);
    std::vector<DWORD> base(n, kNoBase);
    std::vector<WORD> def(n, NONE);
    const WORD* rowAt = matrix.data();
    auto rowOf = [&](size_t r) { return rowAt + r * a; };

    WORD s0 = order[0];
    base[s0] = 0;
    for (size_t k = 0; k < a; ++k) {
      next[k] = rowOf(0)[k];
      check[k] = s0;
    }
    size_t firstFree = a;
    std::vector<size_t> columns;
    columns.reserve(a);
    for (size_t r = 1; r < n; ++r) {
      const WORD* row = rowOf(r);
      WORD s = order[r];
      // Default: the most similar of the last four rows or row 0; later
      // candidates win ties, row 0 wins every tie.
      size_t chosen = 0;
      long best = -1;
      size_t from = r > 4 ? r - 4 : 1;
      for (size_t c = from; c <= r; ++c) {
        size_t cand = c == r ? 0 : c;
        const WORD* other = rowOf(cand);
        long score = 0;
        for (size_t k = 0; k < a; ++k) score += row[k] == other[k];
        if (score >= best) {
          best = score;
          chosen = cand;
        }
      }
      def[s] = order[chosen];
      const WORD* other = rowOf(chosen);
      columns.clear();
      for (size_t k = 0; k < a; ++k)
        if (row[k] != other[k]) columns.push_back(k);
      if (columns.empty()) {
        base[s] = 0;
        continue;
      }
      size_t f = columns[0];
      size_t b = firstFree > f ? firstFree - f : 0;
      for (;; ++b) {
        if (next.size() < b + a) {
          next.resize(b + a, NONE);
          check.resize(b + a, NONE);
        }
        bool fits = true;
        for (size_t k : columns) {
          if (check[b + k] != NONE) {
            fits = false;
            break;
          }
        }
        if (fits) break;
      }
      base[s] = static_cast<DWORD>(b);
      for (size_t k : columns) {
        next[b + k] = row[k];
        check[b + k] = s;
      }
      while (firstFree < check.size() && check[firstFree] != NONE) ++firstFree;
    }

    // Trim free slots at the end and the dense row's empty slots at the start.
    size_t end = check.size();
    while (end > 0 && check[end - 1] == NONE) --end;
    if (end > 0) {
      dense = check[0];
      size_t first = 0;
      while (first < end && next[first] == NONE && check[first] == dense) ++first;
      if (first < end) {
        minIndex = first;
        entryCount = end - first;
      } else {
        dense = NONE;
      }
    }

    states.resize(n);
    entries.resize(entryCount);
    for (size_t i = 0; i < n; ++i) states[i] = tag_STATE{0, def[i], base[i]};
    for (size_t i = 0; i < entryCount; ++i)
      entries[i] = tag_ENTRY{next[minIndex + i], check[minIndex + i]};
  });
  m_states.swap(states);
  m_entries.swap(entries);
  m_nMinIndex = static_cast<DWORD>(minIndex);
  m_wDenseState = dense;
  for (DWORD s = accepting.GetBitSetToOne(0); s < n; s = accepting.GetBitSetToOne(s + 1))
    SetStateFlags(static_cast<WORD>(s), 1);
}

HRESULT CDFATransTable::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  BYTE head[4];
  if (storing) {
    head[0] = kRecordVersion;
    HRESULT hr = WriteField(stream, head, 1);
    const DWORD fields[3] = {GetEntryCount(), GetStateCount(), m_nMinIndex};
    for (DWORD v : fields) {
      StoreU32(head, v);
      if (hr == S_OK) hr = WriteField(stream, head, 4);
    }
    StoreU16(head, m_wDenseState);
    if (hr == S_OK) hr = WriteField(stream, head, 2);
    // Arrays go out in chunks of whole records.
    BYTE chunk[4096 * kStateRecord];
    size_t used = 0;
    for (size_t i = 0; hr == S_OK && i < m_states.size(); ++i) {
      BYTE* p = chunk + used;
      p[0] = m_states[i].flags;
      StoreU16(p + 1, m_states[i].def);
      StoreU32(p + 3, m_states[i].base);
      used += kStateRecord;
      if (used == sizeof chunk || i + 1 == m_states.size()) {
        hr = WriteField(stream, chunk, static_cast<ULONG>(used));
        used = 0;
      }
    }
    for (size_t i = 0; hr == S_OK && i < m_entries.size(); ++i) {
      BYTE* p = chunk + used;
      StoreU16(p, m_entries[i].next);
      StoreU16(p + 2, m_entries[i].check);
      used += kEntryRecord;
      if (used + kEntryRecord > sizeof chunk || i + 1 == m_entries.size()) {
        hr = WriteField(stream, chunk, static_cast<ULONG>(used));
        used = 0;
      }
    }
    return hr;
  }

  Clear();
  HRESULT hr = ReadField(stream, head, 1, E_FAIL);
  if (hr != S_OK) return hr;
  if (head[0] != kRecordVersion) return E_FAIL;
  DWORD fields[3];
  for (DWORD& v : fields) {
    hr = ReadField(stream, head, 4, E_FAIL);
    if (hr != S_OK) return hr;
    v = LoadU32(head);
  }
  hr = ReadField(stream, head, 2, E_FAIL);
  if (hr != S_OK) return hr;
  const DWORD entryCount = fields[0];
  const DWORD stateCount = fields[1];
  const DWORD minIndex = fields[2];
  const WORD dense = LoadU16(head);
  // States are 16-bit numbers with 0xFFFF meaning none.
  auto bad = [stateCount](WORD s) { return s != NONE && s >= stateCount; };
  if (stateCount > NONE || bad(dense)) return E_FAIL;

  std::vector<BYTE> raw;
  hr = ReadBlock(stream, stateCount * kStateRecord, raw, E_FAIL, E_OUTOFMEMORY);
  if (hr != S_OK) return hr;
  std::vector<tag_STATE> states;
  std::vector<tag_ENTRY> entries;
  bool valid = true;
  hr = ResultOf([&] {
    states.resize(stateCount);
    for (DWORD i = 0; i < stateCount; ++i) {
      const BYTE* p = raw.data() + i * kStateRecord;
      states[i] = tag_STATE{p[0], LoadU16(p + 1), LoadU32(p + 3)};
      if (states[i].base == kNoBase || bad(states[i].def)) valid = false;
    }
    if (!valid) return;
    // Every default chain must end: a loop would make lookups spin.
    std::vector<BYTE> mark(stateCount, 0);  // 0 new, 1 on this walk, 2 ends
    for (DWORD i = 0; i < stateCount && valid; ++i) {
      WORD s = static_cast<WORD>(i);
      while (s != NONE && mark[s] == 0) {
        mark[s] = 1;
        s = states[s].def;
      }
      if (s != NONE && mark[s] == 1) valid = false;
      for (s = static_cast<WORD>(i); s != NONE && mark[s] == 1; s = states[s].def) mark[s] = 2;
    }
  });
  if (FAILED(hr)) return hr;
  if (!valid) return E_FAIL;

  hr = ReadBlock(stream, static_cast<size_t>(entryCount) * kEntryRecord, raw, E_FAIL, E_OUTOFMEMORY);
  if (hr != S_OK) return hr;
  hr = ResultOf([&] {
    entries.resize(entryCount);
    for (DWORD i = 0; i < entryCount && valid; ++i) {
      const BYTE* p = raw.data() + static_cast<size_t>(i) * kEntryRecord;
      entries[i] = tag_ENTRY{LoadU16(p), LoadU16(p + 2)};
      if (bad(entries[i].next) || bad(entries[i].check)) valid = false;
    }
  });
  if (FAILED(hr)) return hr;
  if (!valid) return E_FAIL;
  m_states.swap(states);
  m_entries.swap(entries);
  m_nMinIndex = minIndex;
  m_wDenseState = dense;
  return S_OK;
}

}  // namespace telsor
