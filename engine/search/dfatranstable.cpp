#include "search/dfatranstable.h"

#include <stddef.h>
#include <string.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>

#include "foundation/errorroad.h"
#include "search/fa.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const BYTE kRecordVersion = 1;
const size_t kStateRecord = 7;
const size_t kEntryRecord = 4;
const DWORD kNoBase = 0xFFFFFFFFu;
// Slot tests one row may spend looking for a gap that fits it.
const size_t kFitBudget = 4096;

#ifdef __SSE2__
// Lane masks for the last few values of a row: loaded from kTailMask + r,
// the last r of eight lanes are set.
alignas(16) const WORD kTailMask[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
#endif

// Over n classes of the given weights (each below 0x8000): the weight of
// the classes where a is smaller minus that where it is larger (values
// unsigned, NONE the largest), and the weight where they are equal.
long WeightedVote(const WORD* a, const WORD* b, const WORD* weight, size_t n) {
  long vote = 0;
  size_t k = 0;
#ifdef __SSE2__
  const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
  __m128i sum = _mm_setzero_si128();
  for (; k + 8 <= n; k += 8) {
    const __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k)), flip);
    const __m128i y = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k)), flip);
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + k));
    // +1 where smaller, -1 where larger, as 16-bit lanes; times the weights.
    const __m128i sign = _mm_sub_epi16(_mm_cmpgt_epi16(x, y), _mm_cmplt_epi16(x, y));
    sum = _mm_add_epi32(sum, _mm_madd_epi16(sign, w));
  }
  if (k < n && n >= 8) {
    // The last eight values again, the lanes already counted masked off.
    const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kTailMask + (n - k)));
    const __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + n - 8)), flip);
    const __m128i y = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n - 8)), flip);
    const __m128i w = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + n - 8)), mask);
    const __m128i sign = _mm_sub_epi16(_mm_cmpgt_epi16(x, y), _mm_cmplt_epi16(x, y));
    sum = _mm_add_epi32(sum, _mm_madd_epi16(sign, w));
    k = n;
  }
  alignas(16) int lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
  vote = static_cast<long>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
#endif
  for (; k < n; ++k) vote += static_cast<long>(weight[k]) * ((a[k] < b[k]) - (a[k] > b[k]));
  return vote;
}

long WeightedEqual(const WORD* a, const WORD* b, const WORD* weight, size_t n) {
  long equal = 0;
  size_t k = 0;
#ifdef __SSE2__
  __m128i sum = _mm_setzero_si128();
  for (; k + 8 <= n; k += 8) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + k));
    sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_and_si128(_mm_cmpeq_epi16(x, y), w), _mm_set1_epi16(1)));
  }
  if (k < n && n >= 8) {
    const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kTailMask + (n - k)));
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + n - 8));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n - 8));
    const __m128i w = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + n - 8)), mask);
    sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_and_si128(_mm_cmpeq_epi16(x, y), w), _mm_set1_epi16(1)));
    k = n;
  }
  alignas(16) int lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
  equal = static_cast<long>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
#endif
  for (; k < n; ++k) equal += a[k] == b[k] ? weight[k] : 0;
  return equal;
}

// Appends to out, in order, the classes k < n of non-zero weight in which
// rows a and b differ.
void AppendDiffering(const WORD* a, const WORD* b, const WORD* weight, size_t n, std::vector<WORD>& out) {
  size_t k = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  auto chunk = [&](size_t at, unsigned keep) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at));
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + at));
    // Two mask bits per lane; the even one stands for it.
    const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(x, y)));
    const unsigned empty = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(w, zero)));
    for (unsigned bits = ~(same | empty) & keep & 0x5555u; bits != 0; bits &= bits - 1)
      out.push_back(static_cast<WORD>(at + static_cast<size_t>(__builtin_ctz(bits)) / 2));
  };
  for (; k + 8 <= n; k += 8) chunk(k, 0xFFFFu);
  if (k < n && n >= 8) {
    // The last eight lanes again, those already seen left out.
    chunk(n - 8, (0xFFFFu << (2 * (8 - (n - k)))) & 0xFFFFu);
    k = n;
  }
#endif
  for (; k < n; ++k)
    if (a[k] != b[k] && weight[k] != 0) out.push_back(static_cast<WORD>(k));
}

// Non-recursive quicksort of count items with a median of three and an
// explicit stack, through cmp(i, j) and swap(i, j) on positions; tolerant
// of an order that is not transitive (every cursor is bounded by the
// range, and each pass shrinks it).
template <class Cmp, class Swap>
void QuickSort(int64_t count, const Cmp& cmp, const Swap& swap) {
  if (count < 2) return;
  int64_t loStack[64];
  int64_t hiStack[64];
  int depth = 0;
  int64_t lo = 0;
  int64_t hi = count - 1;
  for (;;) {
    const int64_t span = hi - lo + 1;
    if (span >= 2) {
      int64_t mid = lo + span / 2;
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

void CDFATransTable::SortTransTable(WORD* rows, DWORD rowCount, DWORD rowSize, WORD* order) {
  if (rowCount < 2 || rowSize == 0) return;
  auto row = [&](int64_t i) { return rows + static_cast<size_t>(i) * rowSize; };
  QuickSort(
      rowCount, [&](int64_t i, int64_t j) { return CompTrans(row(i), row(j), rowSize); },
      [&](int64_t i, int64_t j) { SwapTrans(rows, static_cast<DWORD>(i), static_cast<DWORD>(j), rowSize, order); });
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
  const size_t a = alphabetSize > 256 ? 256 : alphabetSize;
  if (matrix.size() < stateCount * a) throw new CFAException(static_cast<DWORD>(E_INVALIDARG), nullptr);
  tag_CLASS_ROWS classes;
  ClassesOfColumns(matrix, stateCount, static_cast<DWORD>(a), classes);
  BuildFromClasses(classes, accepting);
}

void CDFATransTable::ClassesOfColumns(const std::vector<WORD>& matrix, DWORD stateCount, DWORD alphabetSize,
                                      tag_CLASS_ROWS& out) {
  const size_t n = stateCount;
  const size_t a = alphabetSize > 256 ? 256 : alphabetSize;
  WithMemoryException([&] {
    out.states = stateCount;
    out.alphabet = static_cast<DWORD>(a);
    std::vector<size_t> first;  // per class: its first column
    std::vector<uint64_t> hashOf;
    for (size_t c = 0; c < a; ++c) {
      uint64_t h = 0xcbf29ce484222325ull;
      for (size_t s = 0; s < n; ++s) h = (h ^ matrix[s * a + c]) * 0x100000001b3ull;
      size_t k = 0;
      for (; k < first.size(); ++k) {
        if (hashOf[k] != h) continue;
        size_t s = 0;
        while (s < n && matrix[s * a + c] == matrix[s * a + first[k]]) ++s;
        if (s == n) break;
      }
      if (k == first.size()) {
        first.push_back(c);
        hashOf.push_back(h);
      }
      out.classOf[c] = static_cast<BYTE>(k);
    }
    out.classes = static_cast<DWORD>(first.size());
    out.rows.resize(n * first.size());
    for (size_t s = 0; s < n; ++s)
      for (size_t k = 0; k < first.size(); ++k) out.rows[s * first.size() + k] = matrix[s * a + first[k]];
  });
}

namespace {
const WORD kNone = CDFATransTable::NONE;
typedef CDFATransTable::tag_ENTRY tag_SLOT;

// ---- packing rows over classes (BuildFromClasses) ----
//
// The stages, in order: the rows weighed by their classes' sizes
// (WeighRows), sorted (SortRows), each given a default (ChooseDefaults) and
// the classes where it differs from it (FindDifferences), laid down where
// those columns fit (PlaceRows, through RowColumns and FitRow), and the
// slots trimmed into the entries (TrimSlots, TakeEntries).

// The rows as the packing compares them. Each class stands for weight[k]
// alphabet indices: counts, votes and scores over classes are those over
// the indices. Rows of fewer than eight classes are compared in a copy
// padded to eight (the padding alike in every row and of no weight), eight
// classes at a time as wider rows are.
struct tag_WEIGHED_ROWS {
  size_t states = 0;
  size_t alphabet = 0;
  size_t stride = 0;         // values per row
  std::vector<WORD> weight;  // per class, stride of them
  std::vector<WORD> padded;
  const WORD* matrix = nullptr;  // padded, or the rows given
  const WORD* Row(WORD s) const { return matrix + static_cast<size_t>(s) * stride; }
};

void WeighRows(const tag_CLASS_ROWS& m, size_t a, tag_WEIGHED_ROWS& out) {
  const size_t n = m.states;
  const size_t w = m.classes;
  out.states = n;
  out.alphabet = a;
  out.stride = w;
  out.weight.assign(w, 0);
  for (size_t c = 0; c < a; ++c) ++out.weight[m.classOf[c]];
  out.matrix = m.rows.data();
  if (w < 8) {
    out.stride = 8;
    out.padded.assign(n * out.stride, 0);
    for (size_t s = 0; s < n; ++s) memcpy(out.padded.data() + s * out.stride, m.rows.data() + s * w, w * sizeof(WORD));
    out.weight.resize(out.stride, 0);
    out.matrix = out.padded.data();
  }
}

// The states in packing order: fewer transitions first (the weights add
// up to the alphabet: a row's count is that less the weight of its empty
// classes), then by the column vote. Position r is state order[r].
std::vector<WORD> SortRows(const tag_WEIGHED_ROWS& rows) {
  const size_t n = rows.states;
  std::vector<WORD> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = static_cast<WORD>(i);
  std::vector<DWORD> counts(n, 0);
  const std::vector<WORD> empty(rows.stride, kNone);
  for (size_t s = 0; s < n; ++s) {
    const long emptyWeight = WeightedEqual(rows.Row(static_cast<WORD>(s)), empty.data(), rows.weight.data(), rows.stride);
    counts[s] = static_cast<DWORD>(static_cast<long>(rows.alphabet) - emptyWeight);
  }
  QuickSort(
      static_cast<int64_t>(n),
      [&](int64_t i, int64_t j) {
        const WORD x = order[i], y = order[j];
        if (counts[x] != counts[y]) return counts[x] < counts[y] ? -1 : 1;
        const long vote = WeightedVote(rows.Row(x), rows.Row(y), rows.weight.data(), rows.stride);
        return vote > 0 ? 1 : vote < 0 ? -1 : 0;
      },
      [&](int64_t i, int64_t j) { std::swap(order[i], order[j]); });
  return order;
}

// The indices of each class, in increasing order: class k's are
// members[start[k] .. start[k + 1]).
struct tag_CLASS_MEMBERS {
  std::vector<size_t> start;
  std::vector<BYTE> members;
};

tag_CLASS_MEMBERS ClassMembers(const tag_CLASS_ROWS& m, const tag_WEIGHED_ROWS& rows) {
  const size_t w = m.classes;
  tag_CLASS_MEMBERS out;
  out.start.assign(w + 1, 0);
  out.members.resize(rows.alphabet);
  // (Each class's start is moved past its members as they are placed,
  // then the starts are moved back.)
  for (size_t k = 0; k < w; ++k) out.start[k + 1] = out.start[k] + rows.weight[k];
  for (size_t c = 0; c < rows.alphabet; ++c) out.members[out.start[m.classOf[c]]++] = static_cast<BYTE>(c);
  for (size_t k = w; k > 0; --k) out.start[k] = out.start[k - 1];
  out.start[0] = 0;
  return out;
}

// Each row's default: per sorted position the sorted position of its
// default (row 0 has none), per state its default state or NONE.
struct tag_DEFAULTS {
  std::vector<size_t> at;
  std::vector<WORD> state;
};

// Candidates: the last four rows, row 0, and the latest row with the same
// target on the heaviest class (the class of most indices): where that
// class is most of the alphabet, as in patterns full of dots, a row that
// differs from its default there costs an entry for nearly every index,
// and rows that agree there are often far apart in the sorted order.
// Later candidates win ties, row 0 wins every tie. A row whose chain of
// defaults is already MAX_CHAIN long is no candidate, so no lookup walks
// more than MAX_CHAIN defaults.
tag_DEFAULTS ChooseDefaults(const tag_WEIGHED_ROWS& rows, const std::vector<WORD>& order) {
  const size_t n = rows.states;
  const size_t none = ~size_t(0);
  tag_DEFAULTS d;
  d.at.assign(n, 0);
  d.state.assign(n, kNone);
  std::vector<BYTE> chain(n, 0);  // per sorted position: defaults a lookup may walk from it
  const std::vector<WORD>& weight = rows.weight;
  const size_t heavy = static_cast<size_t>(std::max_element(weight.begin(), weight.end()) - weight.begin());
  // Per target on the heavy class (NONE last): the latest row with it.
  std::vector<size_t> latestOn(n + 1, none);
  auto key = [n](WORD target) { return target < n ? target : n; };
  for (size_t r = 1; r < n; ++r) {
    const WORD* row = rows.Row(order[r]);
    size_t chosen = 0;
    long best = -1;
    auto consider = [&](size_t cand) {
      if (chain[cand] >= CDFATransTable::MAX_CHAIN) return;
      const long score = WeightedEqual(row, rows.Row(order[cand]), weight.data(), rows.stride);
      if (score >= best) {
        best = score;
        chosen = cand;
      }
    };
    const size_t from = r > 4 ? r - 4 : 1;
    const size_t same = latestOn[key(row[heavy])];
    if (same != none && same < from) consider(same);
    for (size_t c = from; c < r; ++c) consider(c);
    consider(0);
    d.at[r] = chosen;
    d.state[order[r]] = order[chosen];
    chain[r] = static_cast<BYTE>(chain[chosen] + 1);
    if (chain[r] < CDFATransTable::MAX_CHAIN) latestOn[key(row[heavy])] = r;
  }
  return d;
}

// Per sorted row, the classes (with members) in which it differs from its
// default, in order: classes[start[r] .. start[r + 1]). And the slots the
// placement can reach: the dense row, then per row at most the span of its
// entries, and one alphabet of room.
struct tag_DIFFERENCES {
  std::vector<DWORD> start;
  std::vector<WORD> classes;
  size_t reach = 0;
};

tag_DIFFERENCES FindDifferences(const tag_WEIGHED_ROWS& rows, const std::vector<WORD>& order,
                                const tag_DEFAULTS& defaults, const tag_CLASS_MEMBERS& members) {
  const size_t n = rows.states;
  tag_DIFFERENCES d;
  d.start.assign(n + 1, 0);
  d.classes.reserve(n);
  d.reach = 2 * rows.alphabet;
  for (size_t r = 1; r < n; ++r) {
    d.start[r] = static_cast<DWORD>(d.classes.size());
    AppendDiffering(rows.Row(order[r]), rows.Row(order[defaults.at[r]]), rows.weight.data(), rows.stride, d.classes);
    if (d.classes.size() == d.start[r]) continue;
    size_t low = rows.alphabet, high = 0;
    for (size_t i = d.start[r]; i < d.classes.size(); ++i) {
      const size_t k = d.classes[i];
      low = std::min<size_t>(low, members.members[members.start[k]]);
      high = std::max<size_t>(high, members.members[members.start[k + 1] - 1]);
    }
    d.reach += high - low + 1;
  }
  d.start[n] = static_cast<DWORD>(d.classes.size());
  return d;
}

// The slots as the rows land in them (a free slot's check is NONE), and
// where the gap search stands.
struct tag_SLOTS {
  std::vector<tag_SLOT> slots;
  size_t firstFree = 0;  // no free slot below
  size_t usedEnd = 0;    // no used slot from here on
  // Per row size (bit length of its entry count): where its search starts.
  std::array<size_t, 10> searchFrom{};
};

// The indices of the classes in which a row differs from its default, in
// order: a few small classes' members merged, or all indices filtered.
// differs is all zero, per class, before and after.
void RowColumns(const WORD* diff, size_t differing, const tag_CLASS_ROWS& m, const tag_WEIGHED_ROWS& rows,
                const tag_CLASS_MEMBERS& members, std::vector<BYTE>& differs, std::vector<size_t>& columns) {
  columns.clear();
  size_t indices = 0;
  for (size_t i = 0; i < differing; ++i) indices += rows.weight[diff[i]];
  if (differing <= 4 && indices <= 16) {
    for (size_t i = 0; i < differing; ++i)
      columns.insert(columns.end(), members.members.begin() + static_cast<ptrdiff_t>(members.start[diff[i]]),
                     members.members.begin() + static_cast<ptrdiff_t>(members.start[diff[i] + 1]));
    if (differing > 1) std::sort(columns.begin(), columns.end());
    return;
  }
  for (size_t i = 0; i < differing; ++i) differs[diff[i]] = 1;
  columns.resize(rows.alphabet);
  size_t kept = 0;
  for (size_t c = 0; c < rows.alphabet; ++c) {
    columns[kept] = c;
    kept += differs[m.classOf[c]];
  }
  columns.resize(kept);
  for (size_t i = 0; i < differing; ++i) differs[diff[i]] = 0;
}

// The base for a row's columns: first fit from the first free slot, for
// at most a budget of slot tests; a row that has not fitted by then goes
// past the last used slot. Rows of one size (the bit length of their entry
// count) search on from where the last of them fitted, and rows as large
// or larger from where one gave up: slots only ever fill, so the gaps tried
// rarely fit them. Each size's search moves forward only, and building
// stays near-linear in the size of the table.
size_t FitRow(const std::vector<size_t>& columns, tag_SLOTS& s) {
  const std::vector<tag_SLOT>& slots = s.slots;
  const size_t f = columns[0];
  const size_t size = static_cast<size_t>(64 - __builtin_clzll(columns.size()));
  const size_t from = std::max(s.firstFree, s.searchFrom[size]);
  size_t b = from > f ? from - f : 0;
  for (size_t budget = kFitBudget;; ++b) {
    // Places whose first column is taken cost one slot test each: passed
    // over in a tight loop while the budget lasts beyond them.
    while (budget > 1 && b + f < s.usedEnd && slots[b + f].check != kNone) {
      --budget;
      ++b;
    }
    if (b + f >= s.usedEnd) break;  // every slot from here on is free
    bool fits = true;
    for (size_t c : columns) {
      if (budget > 0) --budget;
      if (b + c < slots.size() && slots[b + c].check != kNone) {
        fits = false;
        break;
      }
    }
    if (fits) break;
    if (budget == 0) {
      for (size_t z = size; z < s.searchFrom.size(); ++z) s.searchFrom[z] = std::max(s.searchFrom[z], b + f);
      b = s.usedEnd - f;
      break;
    }
  }
  s.searchFrom[size] = std::max(s.searchFrom[size], b + f);
  return b;
}

// Lays the rows down in sorted order: row 0 in full at base 0, every
// other row's differing columns at the base FitRow finds (a row that
// differs nowhere stores nothing, base 0). base is per state.
tag_SLOTS PlaceRows(const tag_CLASS_ROWS& m, const tag_WEIGHED_ROWS& rows, const std::vector<WORD>& order,
                    const tag_CLASS_MEMBERS& members, const tag_DIFFERENCES& diffs, std::vector<DWORD>& base) {
  const size_t n = rows.states;
  const size_t a = rows.alphabet;
  tag_SLOTS s;
  // The array is reserved once (pages are touched as rows land) and
  // copied out at its final size, or kept when that is most of it.
  s.slots.reserve(diffs.reach);
  s.slots.assign(a, tag_SLOT{kNone, kNone});
  const WORD s0 = order[0];
  base[s0] = 0;
  for (size_t c = 0; c < a; ++c) s.slots[c] = tag_SLOT{rows.Row(s0)[m.classOf[c]], s0};
  s.firstFree = a;
  s.usedEnd = a;
  std::vector<BYTE> differs(m.classes, 0);
  std::vector<size_t> columns;
  columns.reserve(a);
  for (size_t r = 1; r < n; ++r) {
    const WORD state = order[r];
    const size_t differing = diffs.start[r + 1] - diffs.start[r];
    if (differing == 0) {
      base[state] = 0;
      continue;
    }
    RowColumns(diffs.classes.data() + diffs.start[r], differing, m, rows, members, differs, columns);
    const size_t b = FitRow(columns, s);
    if (s.slots.size() < b + a) s.slots.resize(b + a, tag_SLOT{kNone, kNone});
    base[state] = static_cast<DWORD>(b);
    const WORD* row = rows.Row(state);
    for (size_t c : columns) s.slots[b + c] = tag_SLOT{row[m.classOf[c]], state};
    if (b + columns.back() + 1 > s.usedEnd) s.usedEnd = b + columns.back() + 1;
    while (s.firstFree < s.slots.size() && s.slots[s.firstFree].check != kNone) ++s.firstFree;
  }
  return s;
}

// The stored entries: the slots less the free ones at the end and the
// dense row's empty ones at the start.
struct tag_TRIMMED {
  size_t minIndex = 0;
  size_t entryCount = 0;
  WORD dense = kNone;
};

tag_TRIMMED TrimSlots(const std::vector<tag_SLOT>& slots) {
  tag_TRIMMED t;
  size_t end = slots.size();
  while (end > 0 && slots[end - 1].check == kNone) --end;
  if (end == 0) return t;
  t.dense = slots[0].check;
  size_t first = 0;
  while (first < end && slots[first].next == kNone && slots[first].check == t.dense) ++first;
  if (first < end) {
    t.minIndex = first;
    t.entryCount = end - first;
  } else {
    t.dense = kNone;
  }
  return t;
}

// entries := the trimmed slots. With little room to spare the slots become
// the entries in place: a large table is not copied once more.
void TakeEntries(std::vector<tag_SLOT>& slots, const tag_TRIMMED& t, std::vector<tag_SLOT>& entries) {
  if (slots.capacity() - t.entryCount <= t.entryCount / 8) {
    slots.erase(slots.begin(), slots.begin() + static_cast<ptrdiff_t>(t.minIndex));
    slots.resize(t.entryCount);
    entries.swap(slots);
  } else {
    entries.assign(slots.begin() + static_cast<ptrdiff_t>(t.minIndex),
                   slots.begin() + static_cast<ptrdiff_t>(t.minIndex + t.entryCount));
  }
}

}  // namespace

void CDFATransTable::BuildFromClasses(const tag_CLASS_ROWS& m, CSetBits& accepting) {
  Clear();
  const size_t n = m.states;
  if (n == 0) return;
  if (n > NONE) throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
  const size_t a = m.alphabet > 256 ? 256 : m.alphabet;
  const size_t w = m.classes;
  if (w == 0 || m.rows.size() < n * w) throw new CFAException(static_cast<DWORD>(E_INVALIDARG), nullptr);
  for (size_t c = 0; c < a; ++c)
    if (m.classOf[c] >= w) throw new CFAException(static_cast<DWORD>(E_INVALIDARG), nullptr);
  std::vector<tag_STATE> states;
  std::vector<tag_ENTRY> entries;
  tag_TRIMMED trimmed;
  WithMemoryException([&] {
    tag_WEIGHED_ROWS rows;
    WeighRows(m, a, rows);
    const std::vector<WORD> order = SortRows(rows);
    const tag_CLASS_MEMBERS members = ClassMembers(m, rows);
    const tag_DEFAULTS defaults = ChooseDefaults(rows, order);
    const tag_DIFFERENCES diffs = FindDifferences(rows, order, defaults, members);
    std::vector<DWORD> base(n, kNoBase);
    tag_SLOTS slots = PlaceRows(m, rows, order, members, diffs, base);
    trimmed = TrimSlots(slots.slots);
    states.resize(n);
    for (size_t i = 0; i < n; ++i) states[i] = tag_STATE{0, defaults.state[i], base[i]};
    TakeEntries(slots.slots, trimmed, entries);
  });
  m_states.swap(states);
  m_entries.swap(entries);
  m_nMinIndex = static_cast<DWORD>(trimmed.minIndex);
  m_wDenseState = trimmed.dense;
  for (DWORD s = accepting.GetBitSetToOne(0); s < n; s = accepting.GetBitSetToOne(s + 1))
    SetStateFlags(static_cast<WORD>(s), 1);
}

void CDFATransTable::ExpandRows(DWORD alphabetSize, std::vector<WORD>& rows) const {
  const size_t n = m_states.size();
  const size_t a = alphabetSize > 256 ? 256 : alphabetSize;
  WithMemoryException([&] {
    rows.assign(n * a, NONE);
    std::vector<BYTE> done(n, 0);
    std::vector<WORD> chain;
    for (size_t first = 0; first < n; ++first) {
      // A state's row is its default's row with its own entries over it:
      // rows are made default first, each once.
      chain.clear();
      for (WORD s = static_cast<WORD>(first); s != NONE && !done[s]; s = m_states[s].def) chain.push_back(s);
      for (size_t i = chain.size(); i-- > 0;) {
        const WORD s = chain[i];
        const tag_STATE& st = m_states[s];
        WORD* row = rows.data() + static_cast<size_t>(s) * a;
        if (st.def != NONE) memcpy(row, rows.data() + static_cast<size_t>(st.def) * a, a * sizeof(WORD));
        for (size_t c = 0; c < a; ++c) {
          const uint64_t idx = c + static_cast<uint64_t>(st.base);
          if (s == m_wDenseState && idx < m_nMinIndex) {
            row[c] = NONE;
          } else if (idx >= m_nMinIndex && idx - m_nMinIndex < m_entries.size()) {
            const tag_ENTRY& e = m_entries[idx - m_nMinIndex];
            if (e.check == s) row[c] = e.next;
          }
        }
        done[s] = 1;
      }
    }
  });
}

void CDFATransTable::ColumnClasses(DWORD alphabetSize, tag_CLASS_ROWS& out) const {
  const size_t n = m_states.size();
  const size_t a = alphabetSize > 256 ? 256 : alphabetSize;
  WithMemoryException([&] {
    out.states = static_cast<DWORD>(n);
    out.alphabet = static_cast<DWORD>(a);
    out.rows.clear();
    // Partition refinement: after a state, two indices share a class only
    // when they are equal in its row and in every row refined before. A
    // state's row is its default's row with its own entries over it, so
    // with the default refined first, the indices of a class that the
    // state does not store are still equal there (they inherit one value),
    // and only the classes that hold a stored index can split.
    std::vector<BYTE> cls(a, 0);
    size_t classes = a > 0 ? 1 : 0;
    std::vector<WORD> count(256, 0);  // indices per class
    count[0] = static_cast<WORD>(a);
    std::vector<BYTE> done(n, 0);
    std::vector<WORD> chain;
    std::vector<BYTE> stored(a, 0);
    std::vector<WORD> value(a);
    std::vector<size_t> storedList;
    storedList.reserve(a);
    // Per class the state stores indices of: how many, the first one and
    // its value, whether the class takes more than one value in the row
    // (then it splits), and the value its unstored indices take.
    std::vector<BYTE> touched;
    std::vector<WORD> storedIn(256, 0);
    std::vector<size_t> firstStored(256);
    std::vector<WORD> firstValue(256);
    std::vector<BYTE> mixed(256, 0);
    std::vector<WORD> inherited(256);
    // Per class that splits: the values met so far and the class each went to.
    std::vector<std::vector<std::pair<WORD, BYTE>>> split(256);
    const uint64_t minIndex = m_nMinIndex;
    const uint64_t entryEnd = minIndex + m_entries.size();
    for (size_t first = 0; first < n; ++first) {
      chain.clear();
      for (WORD s = static_cast<WORD>(first); s != NONE && !done[s]; s = m_states[s].def) chain.push_back(s);
      for (size_t i = chain.size(); i-- > 0;) {
        const WORD s = chain[i];
        done[s] = 1;
        const tag_STATE& st = m_states[s];
        // The indices the state stores: those of its slots inside the
        // entries that carry its check, and the dense state's below the
        // minimum index (no transition).
        const uint64_t b = st.base;
        storedList.clear();
        if (s == m_wDenseState) {
          for (size_t c = 0; c < a && b + c < minIndex; ++c) {
            value[c] = NONE;
            storedList.push_back(c);
          }
        }
        if (b + a > minIndex && b < entryEnd) {
          const size_t lo = b >= minIndex ? 0 : static_cast<size_t>(minIndex - b);
          const size_t hi = b + a <= entryEnd ? a : static_cast<size_t>(entryEnd - b);
          const tag_ENTRY* e = m_entries.data() + static_cast<size_t>(b + lo - minIndex);
          size_t c = lo;
#ifdef __SSE2__
          // Four entries at a time: the checks are the odd 16-bit lanes,
          // byte 4j + 2 stands for entry j.
          static_assert(sizeof(tag_ENTRY) == 4 && offsetof(tag_ENTRY, check) == 2, "entry layout");
          const __m128i mine = _mm_set1_epi16(static_cast<short>(s));
          for (; c + 4 <= hi; c += 4, e += 4) {
            const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e));
            unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(four, mine))) & 0x4444u;
            for (; hits != 0; hits &= hits - 1) {
              const size_t j = static_cast<size_t>(__builtin_ctz(hits)) / 4;
              value[c + j] = e[j].next;
              storedList.push_back(c + j);
            }
          }
#endif
          for (; c < hi; ++c, ++e) {
            if (e->check != s) continue;
            value[c] = e->next;
            storedList.push_back(c);
          }
        }
        if (storedList.empty()) continue;
        touched.clear();
        for (size_t c : storedList) {
          const BYTE k = cls[c];
          if (storedIn[k]++ == 0) {
            touched.push_back(k);
            firstStored[k] = c;
            firstValue[k] = value[c];
          } else if (value[c] != firstValue[k]) {
            mixed[k] = 1;
          }
        }
        // The unstored indices of a class take its value in the default's
        // row, which is one value for the whole class (the default was
        // refined first): any index of the class looks it up.
        bool splits = false;
        for (BYTE k : touched) {
          if (storedIn[k] < count[k]) {
            inherited[k] = st.def == NONE ? NONE : Lookup(st.def, static_cast<DWORD>(firstStored[k]));
            if (inherited[k] != firstValue[k]) mixed[k] = 1;
          }
          splits = splits || mixed[k];
        }
        // Classes split at most 255 times in all: the pass over every
        // index is made only then.
        if (splits) {
          for (size_t c : storedList) stored[c] = 1;
          for (BYTE k : touched) split[k].clear();
          const size_t before = classes;
          for (size_t c = 0; c < a; ++c) {
            const BYTE k = cls[c];
            if (k >= before || !mixed[k]) continue;
            const WORD v = stored[c] ? value[c] : inherited[k];
            std::vector<std::pair<WORD, BYTE>>& seen = split[k];
            size_t j = 0;
            while (j < seen.size() && seen[j].first != v) ++j;
            if (j == seen.size()) seen.emplace_back(v, seen.empty() ? k : static_cast<BYTE>(classes++));
            const BYTE to = seen[j].second;
            if (to != k) {
              --count[k];
              ++count[to];
              cls[c] = to;
            }
          }
          for (size_t c : storedList) stored[c] = 0;
        }
        for (BYTE k : touched) {
          storedIn[k] = 0;
          mixed[k] = 0;
        }
      }
    }
    // Numbered in the order of their first index.
    std::vector<int> number(256, -1);
    size_t made = 0;
    for (size_t c = 0; c < a; ++c) {
      if (number[cls[c]] < 0) number[cls[c]] = static_cast<int>(made++);
      out.classOf[c] = static_cast<BYTE>(number[cls[c]]);
    }
    out.classes = static_cast<DWORD>(made);
  });
}

void CDFATransTable::FillClassRows(tag_CLASS_ROWS& out) const {
  const size_t n = out.states;
  const size_t w = out.classes;
  WithMemoryException([&] {
    std::vector<DWORD> member(w, 0);
    for (size_t c = out.alphabet; c-- > 0;) member[out.classOf[c]] = static_cast<DWORD>(c);
    out.rows.assign(n * w, NONE);
    for (size_t s = 0; s < n && s < m_states.size(); ++s)
      for (size_t k = 0; k < w; ++k) out.rows[s * w + k] = Lookup(static_cast<WORD>(s), member[k]);
  });
}

size_t CDFATransTable::GetBytes() const {
  return sizeof *this + m_states.capacity() * sizeof(tag_STATE) + m_entries.capacity() * sizeof(tag_ENTRY);
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
    for (size_t i = 0; hr == S_OK && i < m_entries.size();) {
      const size_t take = std::min(m_entries.size() - i, sizeof chunk / kEntryRecord);
      const tag_ENTRY* e = m_entries.data() + i;
      for (size_t j = 0; j < take; ++j) {
        StoreU16(chunk + j * kEntryRecord, e[j].next);
        StoreU16(chunk + j * kEntryRecord + 2, e[j].check);
      }
      hr = WriteField(stream, chunk, static_cast<ULONG>(take * kEntryRecord));
      i += take;
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
  WORD longestChain = 0;
  hr = ResultOf([&] {
    states.resize(stateCount);
    for (DWORD i = 0; i < stateCount; ++i) {
      const BYTE* p = raw.data() + i * kStateRecord;
      states[i] = tag_STATE{p[0], LoadU16(p + 1), LoadU32(p + 3)};
      if (states[i].base == kNoBase || bad(states[i].def)) valid = false;
    }
    if (!valid) return;
    // Every default chain must end (a loop would make lookups spin); its
    // length, the defaults a lookup may walk, is measured on the way.
    std::vector<WORD> depth(stateCount, 0);
    std::vector<BYTE> mark(stateCount, 0);  // 0 new, 1 on this walk, 2 measured
    std::vector<WORD> walk;
    for (DWORD i = 0; i < stateCount && valid; ++i) {
      walk.clear();
      WORD s = static_cast<WORD>(i);
      while (s != NONE && mark[s] == 0) {
        mark[s] = 1;
        walk.push_back(s);
        s = states[s].def;
      }
      if (s != NONE && mark[s] == 1) {
        valid = false;
        break;
      }
      WORD below = s == NONE ? 0 : static_cast<WORD>(depth[s] + 1);
      for (size_t k = walk.size(); k-- > 0;) {
        depth[walk[k]] = below;
        mark[walk[k]] = 2;
        if (below > longestChain) longestChain = below;
        below = static_cast<WORD>(below + 1);
      }
    }
  });
  if (FAILED(hr)) return hr;
  if (!valid) return E_FAIL;

  // The entries are read a chunk of records at a time straight into the
  // array, which grows as they arrive. A state number n is in range when
  // n + 1 (NONE wraps to 0) is at most the state count.
  std::vector<BYTE>().swap(raw);
  BYTE chunk[4096 * kEntryRecord];
  for (size_t done = 0; done < entryCount;) {
    const size_t take = std::min<size_t>(entryCount - done, sizeof chunk / kEntryRecord);
    hr = ReadField(stream, chunk, static_cast<ULONG>(take * kEntryRecord), E_FAIL);
    if (hr != S_OK) return hr;
    hr = ResultOf([&] { entries.resize(done + take); });
    if (FAILED(hr)) return hr;
    tag_ENTRY* e = entries.data() + done;
    WORD worst = 0;
    for (size_t i = 0; i < take; ++i) {
      const BYTE* p = chunk + i * kEntryRecord;
      e[i] = tag_ENTRY{LoadU16(p), LoadU16(p + 2)};
      worst = std::max(worst, std::max(static_cast<WORD>(e[i].next + 1), static_cast<WORD>(e[i].check + 1)));
    }
    if (worst > stateCount) return E_FAIL;
    done += take;
  }
  m_states.swap(states);
  m_entries.swap(entries);
  m_nMinIndex = minIndex;
  m_wDenseState = dense;
  if (longestChain <= MAX_CHAIN) return S_OK;
  // Longer chains (a table packed before chains were bounded, or a hostile
  // record) would make every lookup walk them: the same automaton is
  // packed again, from its rows, when they fit in memory.
  if (stateCount > MAX_REPACK_STATES) {
    Clear();
    return E_FAIL;
  }
  return ResultOf([&] {
    std::vector<WORD> rows;
    ExpandRows(256, rows);
    CSetBits accepting;
    for (DWORD s = 0; s < stateCount; ++s)
      if (IsAccepting(static_cast<WORD>(s))) accepting.SetBitAt(s, 1);
    BuildFromRows(rows, stateCount, 256, accepting);  // empty when it fails
  });
}

}  // namespace telsor
