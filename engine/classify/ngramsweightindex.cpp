// The hash table over a weight vector's n-grams.
#include "classify/ngramsweightindex.h"

#include <stdint.h>
#include <string.h>
#include <sys/mman.h>

#include <algorithm>
#include <memory>

#include "classify/recordio.h"
#include "foundation/errorroad.h"

namespace telsor {

namespace {

const ULONGLONG kEmptyKey = 0;
const size_t kHugePage = size_t(2) << 20;
// Lookups of a message are made in groups: the group's slots are fetched
// ahead while the earlier ones are compared.
const size_t kGroup = 32;

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

// The keys of a vector's packed entries of N-grams and their home slots,
// worked out kGroup entries ahead of their use, the slots fetched
// meanwhile, so that the table's cache misses overlap.
template <unsigned N, class HomeOf, class Fetch>
class CLookAhead {
 public:
  CLookAhead(const BYTE* entries, size_t count, HomeOf homeOf, Fetch fetch)
      : m_entries(entries), m_count(count), m_homeOf(homeOf), m_fetch(fetch) {
    for (size_t i = 0; i < count && i < kGroup; ++i) Compute(i);
  }
  // The key and home slot of entry i (entries taken in order from 0).
  void Take(size_t i, ULONGLONG& key, size_t& home) {
    key = m_keys[i % kGroup];
    home = m_homes[i % kGroup];
    if (i + kGroup < m_count) Compute(i + kGroup);
  }

 private:
  void Compute(size_t i) {
    const ULONGLONG key = NGramKeyOf<N>(m_entries + i * (N + 4u) + 4);
    m_keys[i % kGroup] = key;
    m_homes[i % kGroup] = m_homeOf(key);
    m_fetch(m_homes[i % kGroup]);
  }
  const BYTE* m_entries;
  size_t m_count;
  HomeOf m_homeOf;
  Fetch m_fetch;
  ULONGLONG m_keys[kGroup];
  size_t m_homes[kGroup];
};

template <unsigned N, class HomeOf, class Fetch>
CLookAhead<N, HomeOf, Fetch> LookAhead(const BYTE* entries, size_t count, HomeOf homeOf, Fetch fetch) {
  return CLookAhead<N, HomeOf, Fetch>(entries, count, homeOf, fetch);
}

}  // namespace

// The bytes of a slot's two key words for key, as one number in memory order.
inline ULONGLONG CNGramsWeightIndex::SlotImage(ULONGLONG key) {
  const DWORD words[2] = {static_cast<DWORD>(key >> 32), static_cast<DWORD>(key)};
  ULONGLONG image;
  memcpy(&image, words, sizeof image);
  return image;
}

CNGramsWeightIndex* CNGramsWeightIndex::Create(const CNGramsVector& w) {
  const WORD n = w.GetLenNGrams();
  if (n < 1 || n > 8 || w.GetCount() == 0) return nullptr;
  std::unique_ptr<CNGramsWeightIndex> index(new CNGramsWeightIndex);
  index->Build(w);
  return index.release();
}

CNGramsWeightIndex::CSlotMemory::~CSlotMemory() { Free(); }

void CNGramsWeightIndex::CSlotMemory::Free() {
  if (m_map != nullptr) munmap(m_map, m_mapBytes);
  m_map = nullptr;
  m_slots = nullptr;
  m_mapBytes = 0;
  m_count = 0;
}

void CNGramsWeightIndex::CSlotMemory::Allocate(size_t count) {
  Free();
  if (count == 0) return;
  if (count > (SIZE_MAX - 2 * kHugePage) / sizeof(tag_SLOT)) AfxThrowMemoryException();
  // Room for the slots from a huge-page boundary on: the map is trimmed to
  // whole huge pages around them.
  const size_t bytes = (count * sizeof(tag_SLOT) + kHugePage - 1) & ~(kHugePage - 1);
  const size_t mapBytes = bytes + kHugePage;
  void* map = mmap(nullptr, mapBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) AfxThrowMemoryException();
  const uintptr_t start = reinterpret_cast<uintptr_t>(map);
  const uintptr_t aligned = (start + kHugePage - 1) & ~static_cast<uintptr_t>(kHugePage - 1);
  if (aligned > start) munmap(map, aligned - start);
  const size_t tail = mapBytes - (aligned - start) - bytes;
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  m_map = reinterpret_cast<void*>(aligned);
  m_mapBytes = bytes;
  // Only advice: without huge pages the table works the same.
  madvise(m_map, m_mapBytes, MADV_HUGEPAGE);
  m_slots = static_cast<tag_SLOT*>(m_map);
  m_count = count;
}

void CNGramsWeightIndex::Build(const CNGramsVector& w) {
  m_wN = w.GetLenNGrams();
  m_dwCount = w.GetCount();
  // Load at most 0.7, and always one empty slot to end a probe.
  m_slots.Allocate(static_cast<size_t>(m_dwCount) * 10 / 7 + 1);
  switch (m_wN) {
    case 1: KeyedBuild<1>(w); break;
    case 2: KeyedBuild<2>(w); break;
    case 3: KeyedBuild<3>(w); break;
    case 4: KeyedBuild<4>(w); break;
    case 5: KeyedBuild<5>(w); break;
    case 6: KeyedBuild<6>(w); break;
    case 7: KeyedBuild<7>(w); break;
    default: KeyedBuild<8>(w); break;
  }
}

template <unsigned N>
void CNGramsWeightIndex::KeyedBuild(const CNGramsVector& w) {
  tag_SLOT* slots = m_slots.GetData();
  const size_t size = m_slots.GetCount();
  const size_t count = w.GetCount();
  const size_t es = N + 4u;
  const BYTE* entries = w.GetEntries();
  // As lookups are made: the home slot of each entry is fetched a group of
  // entries ahead of its placing.
  auto ahead = LookAhead<N>(
      entries, count, [this](ULONGLONG key) { return Home(key); },
      [slots](size_t home) { __builtin_prefetch(slots + home, 1); });
  for (size_t i = 0; i < count; ++i) {
    ULONGLONG key;
    size_t home;
    ahead.Take(i, key, home);
    const float weight = LoadF32(entries + i * es);
    if (key == kEmptyKey) {
      m_bHasZero = true;
      m_fZeroWeight = weight;
      continue;
    }
    // The vector holds each n-gram once: the first empty slot is its place.
    size_t at = home;
    while (slots[at].dwKeyHigh != 0 || slots[at].dwKeyLow != 0)
      if (++at == size) at = 0;
    slots[at] = tag_SLOT{static_cast<DWORD>(key >> 32), static_cast<DWORD>(key), weight};
  }
}

inline size_t CNGramsWeightIndex::Home(ULONGLONG key) const {
  // The high 32 bits scaled to the table: no division. The table has fewer
  // than 2^32 slots (a vector's count is a DWORD), so the product fits.
  return static_cast<size_t>(((Mix(key) >> 32) * static_cast<ULONGLONG>(m_slots.GetCount())) >> 32);
}

inline bool CNGramsWeightIndex::Find(ULONGLONG key, size_t home, float& weight) const {
  if (key == kEmptyKey) {
    weight = m_fZeroWeight;
    return m_bHasZero;
  }
  const size_t size = m_slots.GetCount();
  const tag_SLOT* slots = m_slots.GetData();
  // The two key words of a slot compared as one eight-byte image of them.
  const ULONGLONG image = SlotImage(key);
  for (size_t at = home;;) {
    const tag_SLOT& s = slots[at];
    ULONGLONG k;
    memcpy(&k, &s, sizeof k);
    if (k == image) {
      weight = s.fWeight;
      return true;
    }
    if (k == 0) return false;  // the empty key's image
    if (++at == size) at = 0;
  }
}

template <unsigned N>
double CNGramsWeightIndex::KeyedDotProduct(const CNGramsVector& x) const {
  const size_t count = x.GetCount();
  const size_t es = N + 4u;
  const BYTE* entries = x.GetEntries();
  const tag_SLOT* slots = m_slots.GetData();
  // The home slot of each entry is fetched kGroup entries ahead of its
  // lookup; a probe runs on from the home slot, often into the next cache
  // line, which is fetched too.
  auto ahead = LookAhead<N>(
      entries, count, [this](ULONGLONG key) { return Home(key); },
      [slots](size_t home) {
        __builtin_prefetch(slots + home);
        __builtin_prefetch(reinterpret_cast<const BYTE*>(slots + home) + 64);
      });
  // Products of both weights as doubles are exact, so the order of the two
  // factors does not matter; the order of the sum does, and it is x's.
  double sum = 0.0;
  for (size_t i = 0; i < count; ++i) {
    ULONGLONG key;
    size_t home;
    ahead.Take(i, key, home);
    float weight;
    if (Find(key, home, weight)) sum += static_cast<double>(LoadF32(entries + i * es)) * static_cast<double>(weight);
  }
  return sum;
}

double CNGramsWeightIndex::DotProduct(const CNGramsVector& x) const {
  if (x.GetLenNGrams() != m_wN) return 0.0;
  switch (m_wN) {
    case 1: return KeyedDotProduct<1>(x);
    case 2: return KeyedDotProduct<2>(x);
    case 3: return KeyedDotProduct<3>(x);
    case 4: return KeyedDotProduct<4>(x);
    case 5: return KeyedDotProduct<5>(x);
    case 6: return KeyedDotProduct<6>(x);
    case 7: return KeyedDotProduct<7>(x);
    default: return KeyedDotProduct<8>(x);
  }
}

}  // namespace telsor
