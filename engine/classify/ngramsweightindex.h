// CNGramsWeightIndex: a hash table from the n-grams of one n-gram vector
// (a classifier's weights, millions of entries) to their weights, so that a
// message's vector is scored by one lookup per message n-gram instead of a
// search through the sorted weights.
//
//   telsor::CNGramsVector w(5, "cheap pills, cheap watches", 0xFFFFFFFF, nullptr);
//   telsor::CNGramsVector x(5, "cheap pills", 0xFFFFFFFF, nullptr);
//   telsor::CSharedObjPtr<telsor::CNGramsWeightIndex> index = telsor::CNGramsWeightIndex::Create(w);
//   double s = index ? index->DotProduct(x) : w.DotProduct(x);   // the same bits
//
// DotProduct(x) equals w.DotProduct(x) bit for bit: the products of the
// common n-grams are added in x's order, which is the ascending n-gram order
// in which the merge of the two sorted vectors adds them, starting from +0.0.
// A vector of another n-gram length gives 0.
//
// Only n-gram lengths 1 to 8 are indexed (the whole n-gram is the 64-bit
// key); Create returns null for other lengths and for an empty vector, and
// the caller scores through the vector itself. The table is a copy: it does
// not follow later changes of the vector, so whoever changes the weights
// makes a new index. Once made it is only read, so any number of threads may
// score through it at once. Out of memory throws the engine's
// CMemoryException*.
//
// Size: 12 bytes a slot, about 1.43 slots an entry (load at most 0.7): about
// 17 bytes per weight, on top of the vector's own n + 4, in memory mapped
// apart from the heap and rounded up to whole 2 MiB pages.
#ifndef TELSOR_CLASSIFY_NGRAMSWEIGHTINDEX_H
#define TELSOR_CLASSIFY_NGRAMSWEIGHTINDEX_H

#include <stddef.h>

#include "classify/ngramsvector.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"

namespace telsor {

class CNGramsWeightIndex : public CSharedObj {
 public:
  // The index of w's entries, or null (n-gram length outside 1..8, or no
  // entries).
  static CNGramsWeightIndex* Create(const CNGramsVector& w);

  WORD GetLenNGrams() const { return m_wN; }
  DWORD GetCount() const { return m_dwCount; }
  // Bytes held by the table.
  size_t GetByteSize() const { return m_slots.GetCount() * sizeof(tag_SLOT); }

  // The sum over x's entries, in x's order, of x's weight times the indexed
  // weight of the same n-gram.
  double DotProduct(const CNGramsVector& x) const;

 private:
  // Key halves and weight as three 32-bit words: no padding.
  struct tag_SLOT {
    DWORD dwKeyHigh;
    DWORD dwKeyLow;
    float fWeight;
  };
  static_assert(sizeof(tag_SLOT) == 12, "slots of three words");
  static ULONGLONG SlotImage(ULONGLONG key);
  // The table's memory: fresh zero pages of the system, asked for as huge
  // pages where the kernel gives them (a few pages for a table of millions
  // of slots in place of thousands, made and searched with fewer faults and
  // translation misses).
  class CSlotMemory {
   public:
    CSlotMemory() = default;
    ~CSlotMemory();
    CSlotMemory(const CSlotMemory&) = delete;
    CSlotMemory& operator=(const CSlotMemory&) = delete;
    // count zeroed slots in place of the old ones; throws the engine's
    // CMemoryException* when the system has no room.
    void Allocate(size_t count);
    size_t GetCount() const { return m_count; }
    tag_SLOT* GetData() const { return m_slots; }

   private:
    void Free();
    tag_SLOT* m_slots = nullptr;
    size_t m_count = 0;
    void* m_map = nullptr;
    size_t m_mapBytes = 0;
  };

  CNGramsWeightIndex() = default;

  void Build(const CNGramsVector& w);
  size_t Home(ULONGLONG key) const;
  // The weight stored for key, or false.
  bool Find(ULONGLONG key, size_t home, float& weight) const;
  // Build for w's n-gram length N (1 to 8), into the allocated slots.
  template <unsigned N>
  void KeyedBuild(const CNGramsVector& w);
  // DotProduct for x's n-gram length N (1 to 8, the index's own).
  template <unsigned N>
  double KeyedDotProduct(const CNGramsVector& x) const;

  CSlotMemory m_slots;
  WORD m_wN = 0;
  DWORD m_dwCount = 0;
  // Key 0 (fresh memory) marks an empty slot; the n-gram of n NUL bytes,
  // which never comes from a message's text, is kept here instead.
  bool m_bHasZero = false;
  float m_fZeroWeight = 0.0f;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_NGRAMSWEIGHTINDEX_H
