// The hash table over a weight vector's n-grams.
#include "classify/ngramsweightindex.h"

#include <algorithm>

#include "classify/recordio.h"
#include "foundation/errorroad.h"

namespace telsor {

namespace {

const ULONGLONG kEmptyKey = ~0ULL;
// Lookups of a message are made in groups: the group's slots are fetched
// ahead while the earlier ones are compared.
const size_t kGroup = 16;

// Spreads every key bit over the high half (the 64-bit finaliser of
// MurmurHash3).
inline ULONGLONG Mix(ULONGLONG k) {
  k ^= k >> 33;
  k *= 0xFF51AFD7ED558CCDULL;
  k ^= k >> 33;
  k *= 0xC4CEB9FE1A85EC53ULL;
  k ^= k >> 33;
  return k;
}

}  // namespace

CNGramsWeightIndex* CNGramsWeightIndex::Create(const CNGramsVector& w) {
  const WORD n = w.GetLenNGrams();
  if (n < 1 || n > 8 || w.GetCount() == 0) return nullptr;
  CNGramsWeightIndex* index = new CNGramsWeightIndex;
  try {
    index->Build(w);
  } catch (...) {
    delete index;
    throw;
  }
  return index;
}

void CNGramsWeightIndex::Build(const CNGramsVector& w) {
  m_wN = w.GetLenNGrams();
  m_dwCount = w.GetCount();
  // Load at most 0.7, and always one empty slot to end a probe.
  const size_t size = static_cast<size_t>(m_dwCount) * 10 / 7 + 1;
  WithMemoryException([&] { m_slots.assign(size, tag_SLOT{0xFFFFFFFFu, 0xFFFFFFFFu, 0.0f}); });
  const size_t es = w.GetElemSize();
  const BYTE* e = w.GetEntries();
  for (DWORD i = 0; i < m_dwCount; ++i, e += es) {
    const ULONGLONG key = NGramKey(e + 4, m_wN);
    const float weight = LoadF32(e);
    if (key == kEmptyKey) {
      m_bHasAllOnes = true;
      m_fAllOnesWeight = weight;
      continue;
    }
    // The vector holds each n-gram once: the first empty slot is its place.
    size_t at = Home(key);
    while (m_slots[at].dwKeyHigh != 0xFFFFFFFFu || m_slots[at].dwKeyLow != 0xFFFFFFFFu)
      if (++at == size) at = 0;
    m_slots[at] = tag_SLOT{static_cast<DWORD>(key >> 32), static_cast<DWORD>(key), weight};
  }
}

size_t CNGramsWeightIndex::Home(ULONGLONG key) const {
  // The high 32 bits scaled to the table: no division. The table has fewer
  // than 2^32 slots (a vector's count is a DWORD), so the product fits.
  return static_cast<size_t>(((Mix(key) >> 32) * static_cast<ULONGLONG>(m_slots.size())) >> 32);
}

bool CNGramsWeightIndex::Find(ULONGLONG key, size_t home, float& weight) const {
  if (key == kEmptyKey) {
    weight = m_fAllOnesWeight;
    return m_bHasAllOnes;
  }
  const size_t size = m_slots.size();
  for (size_t at = home;;) {
    const tag_SLOT& s = m_slots[at];
    const ULONGLONG k = (static_cast<ULONGLONG>(s.dwKeyHigh) << 32) | s.dwKeyLow;
    if (k == key) {
      weight = s.fWeight;
      return true;
    }
    if (k == kEmptyKey) return false;
    if (++at == size) at = 0;
  }
}

double CNGramsWeightIndex::DotProduct(const CNGramsVector& x) const {
  if (x.GetLenNGrams() != m_wN) return 0.0;
  const size_t count = x.GetCount();
  const size_t es = x.GetElemSize();
  const BYTE* entries = x.GetEntries();
  ULONGLONG keys[kGroup];
  size_t homes[kGroup];
  // Products of both weights as doubles are exact, so the order of the two
  // factors does not matter; the order of the sum does, and it is x's.
  double sum = 0.0;
  for (size_t first = 0; first < count; first += kGroup) {
    const size_t m = std::min(kGroup, count - first);
    const BYTE* e = entries + first * es;
    for (size_t k = 0; k < m; ++k, e += es) {
      keys[k] = NGramKey(e + 4, m_wN);
      homes[k] = Home(keys[k]);
      __builtin_prefetch(&m_slots[homes[k]]);
    }
    e = entries + first * es;
    for (size_t k = 0; k < m; ++k, e += es) {
      float weight;
      if (Find(keys[k], homes[k], weight))
        sum += static_cast<double>(LoadF32(e)) * static_cast<double>(weight);
    }
  }
  return sum;
}

}  // namespace telsor
