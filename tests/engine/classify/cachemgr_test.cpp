// The keyed object cache on one thread: sizing, clock replacement against a
// model written here, the provider, flushing, shrinking and item lifetimes.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "cachetestitems.h"
#include "classify/gramcache.h"
#include "foundation/tstring.h"

using namespace telsor;

namespace {

class CacheTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(0, CTestItem::alive.load());
    EXPECT_EQ(0, CTestProvider::alive.load());
  }
};

// The clock, written plainly: slots of {key, referenced, in use}.
struct tag_MODEL {
  struct Slot {
    unsigned long key = 0;
    bool referenced = false;
    bool used = false;
  };
  std::vector<Slot> slots;
  size_t hand = 0;

  explicit tag_MODEL(size_t n) : slots(n) {}
  int Find(unsigned long key) const {
    for (size_t i = 0; i < slots.size(); ++i)
      if (slots[i].used && slots[i].key == key) return static_cast<int>(i);
    return -1;
  }
  bool Get(unsigned long key) {
    int i = Find(key);
    if (i < 0) return false;
    slots[i].referenced = true;
    return true;
  }
  void Insert(unsigned long key) {
    int i = Find(key);
    if (i < 0) {
      while (slots[hand].used && slots[hand].referenced) {
        slots[hand].referenced = false;
        hand = (hand + 1) % slots.size();
      }
      i = static_cast<int>(hand);
      slots[i].used = true;
      slots[i].key = key;
    }
    slots[i].referenced = true;
  }
  void Clear(unsigned long key) {
    int i = Find(key);
    if (i >= 0) slots[i].used = false;
  }
};

}  // namespace

TEST_F(CacheTest, AutomaticSizeGivesTwentySlots) {
  for (DWORD capacity : {0xFFFFFFFFu, 0u}) {
    CPlainCache cache(capacity, 1);
    EXPECT_EQ(0u, cache.GetSlotCount());
    for (unsigned long k = 0; k < 20; ++k) cache.InsertIntoCache(k, new CTestItem(static_cast<long>(k)));
    EXPECT_EQ(20u, cache.GetSlotCount());
    EXPECT_EQ(20u, cache.GetCount());
    // The 21st key: slots 0-18 lost their bits while the later keys came in;
    // slot 19 loses it now, and slot 0 is the victim.
    cache.InsertIntoCache(20, new CTestItem(20));
    EXPECT_EQ(20u, cache.GetCount());
    EXPECT_EQ(nullptr, cache.GetObject(0));
    EXPECT_EQ(0u, cache.FindSlot(20));
    EXPECT_EQ(19u, cache.FindSlot(19));
    EXPECT_EQ(0u, cache.GetClockHand());
    EXPECT_EQ(20, CTestItem::alive.load());
  }
}

TEST_F(CacheTest, ClockAgreesWithModel) {
  std::mt19937 rng(11);
  for (DWORD slots : {1u, 2u, 3u, 7u, 16u}) {
    CPlainCache cache(slots, 0);
    cache.SetSize(slots);
    tag_MODEL model(slots);
    for (int step = 0; step < 3000; ++step) {
      unsigned long key = rng() % (slots * 3);
      switch (rng() % 4) {
        case 0:
        case 1: {
          CSharedObjPtr<CTestItem> got = cache.GetObject(key);
          bool hit = model.Get(key);
          ASSERT_EQ(hit, got != nullptr) << "get " << key << " step " << step;
          if (got) {
            ASSERT_EQ(static_cast<long>(key), got->value);
          }
          break;
        }
        case 2:
          cache.InsertIntoCache(key, new CTestItem(static_cast<long>(key)));
          model.Insert(key);
          break;
        default:
          cache.ClearItem(key);
          model.Clear(key);
          break;
      }
      ASSERT_EQ(model.hand, cache.GetClockHand()) << "step " << step;
      for (size_t i = 0; i < slots; ++i) {
        DWORD f = cache.GetSlotFlags(static_cast<DWORD>(i));
        ASSERT_EQ(!model.slots[i].used, (f & CPlainCache::SLOT_FREE) != 0) << i;
        if (model.slots[i].used) {
          ASSERT_EQ(model.slots[i].referenced, (f & CPlainCache::SLOT_REFERENCED) != 0) << i;
          ASSERT_EQ(i, cache.FindSlot(model.slots[i].key));
        }
      }
    }
  }
}

TEST_F(CacheTest, FullTurnClearsEveryBitAndTakesTheFirstSlot) {
  CPlainCache cache(3, 0);
  // A, B, C fill slots 0-2 (A and B lose their bits on the way); D takes
  // slot 0 and E slot 1, leaving the hand on slot 1.
  for (unsigned long k : {1, 2, 3, 4, 5}) cache.InsertIntoCache(k, new CTestItem(static_cast<long>(k)));
  ASSERT_EQ(1u, cache.GetClockHand());
  ASSERT_EQ(0u, cache.FindSlot(4));
  ASSERT_EQ(1u, cache.FindSlot(5));
  ASSERT_EQ(2u, cache.FindSlot(3));
  // Every slot in use and referenced, the hand on slot 1: the next key
  // clears slots 1, 2 and 0 and takes slot 1.
  cache.GetObject(4);
  cache.GetObject(3);
  for (DWORD i = 0; i < 3; ++i) ASSERT_NE(0u, cache.GetSlotFlags(i) & CPlainCache::SLOT_REFERENCED);
  cache.InsertIntoCache(6, new CTestItem(6));
  EXPECT_EQ(1u, cache.FindSlot(6));
  EXPECT_EQ(CPlainCache::NO_SLOT, cache.FindSlot(5));
  EXPECT_EQ(1u, cache.GetClockHand());
  EXPECT_EQ(0u, cache.GetSlotFlags(0) & CPlainCache::SLOT_REFERENCED);
  EXPECT_EQ(0u, cache.GetSlotFlags(2) & CPlainCache::SLOT_REFERENCED);
  EXPECT_NE(0u, cache.GetSlotFlags(1) & CPlainCache::SLOT_REFERENCED);
  EXPECT_EQ(3, CTestItem::alive.load());
}

TEST_F(CacheTest, ProviderSizesTheCache) {
  CTestCache cache(0xFFFFFFFFu, 0);
  CSharedObjPtr<CTestProvider> p = new CTestProvider(1000);
  cache.SetObjProvider(p);
  EXPECT_EQ(500500u, cache.GetSlotCount());
  // A capacity set beforehand wins.
  CTestCache sized(0xFFFFFFFFu, 0);
  sized.SetSize(4000);
  sized.SetObjProvider(p);
  EXPECT_EQ(4000u, sized.GetSlotCount());
  // Too many pairs for 32 bits, or no provider: 20.
  CTestCache huge(0xFFFFFFFFu, 0);
  CSharedObjPtr<CTestProvider> big = new CTestProvider(100000);
  huge.SetObjProvider(big);
  EXPECT_EQ(20u, huge.GetSlotCount());
  huge.SetObjProvider(nullptr);
  EXPECT_EQ(20u, huge.GetSlotCount());
  // SetSize(automatic) keeps the present slots; another size resizes at once.
  sized.SetSize(0xFFFFFFFFu);
  EXPECT_EQ(4000u, sized.GetSlotCount());
  EXPECT_EQ(0xFFFFFFFFu, sized.GetCapacity());
  sized.SetSize(0);
  EXPECT_EQ(0xFFFFFFFFu, sized.GetCapacity());
  sized.SetSize(7);
  EXPECT_EQ(7u, sized.GetSlotCount());
}

TEST_F(CacheTest, ProviderMakesMissesAndTheyStay) {
  CTestCache cache(8, 1);
  CSharedObjPtr<CTestProvider> p = new CTestProvider(3);
  cache.SetObjProvider(p);
  EXPECT_EQ(8u, cache.GetSlotCount());  // the capacity, not the 6 pairs of 3 examples
  CSharedObjPtr<CTestItem> a = cache.GetObject(4);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(40, a->value);
  EXPECT_EQ(1, p->made.load());
  CSharedObjPtr<CTestItem> b = cache.GetObject(4);
  EXPECT_EQ(a, b);
  EXPECT_EQ(1, p->made.load());
  // A provider's failure passes on and leaves the monitor free.
  EXPECT_THROW(cache.GetObject(666), std::runtime_error);
  cache.InsertIntoCache(5, new CTestItem(1));
  EXPECT_EQ(1, cache.GetObject(5)->value);
  // Replacing the provider empties the cache.
  cache.SetObjProvider(nullptr);
  EXPECT_EQ(0u, cache.GetCount());
  EXPECT_EQ(nullptr, cache.GetObject(4));
  EXPECT_EQ(1, CTestProvider::alive.load());
}

TEST_F(CacheTest, NullProviderMissChangesNothing) {
  CPlainCache cache(4, 1);
  cache.InsertIntoCache(1, new CTestItem(1));
  DWORD flags = cache.GetSlotFlags(0);
  EXPECT_EQ(nullptr, cache.GetObject(2));
  EXPECT_EQ(1u, cache.GetCount());
  EXPECT_EQ(flags, cache.GetSlotFlags(0));
  EXPECT_EQ(0u, cache.GetClockHand());
}

TEST_F(CacheTest, ReinsertKeepsSlotAndReleasesOldItem) {
  CPlainCache cache(4, 1);
  cache.InsertIntoCache(1, new CTestItem(1));
  cache.InsertIntoCache(2, new CTestItem(2));
  DWORD slot = cache.FindSlot(2);
  {
    CSharedObjPtr<CTestItem> old = cache.GetObject(2);
    cache.InsertIntoCache(2, new CTestItem(22));
    EXPECT_EQ(slot, cache.FindSlot(2));
    EXPECT_EQ(2, old->value);  // the caller's reference keeps the old item
    EXPECT_EQ(3, CTestItem::alive.load());
  }
  EXPECT_EQ(2, CTestItem::alive.load());  // released by the cache, freed by the caller
  EXPECT_EQ(22, cache.GetObject(2)->value);
  // The same item again: still alive.
  CSharedObjPtr<CTestItem> same = cache.GetObject(2);
  cache.InsertIntoCache(2, same);
  EXPECT_EQ(22, cache.GetObject(2)->value);
  // A null item forgets the key.
  cache.InsertIntoCache(1, nullptr);
  EXPECT_EQ(CPlainCache::NO_SLOT, cache.FindSlot(1));
  EXPECT_EQ(1u, cache.GetCount());
}

TEST_F(CacheTest, ResizeFlushAndClear) {
  CPlainCache cache(6, 0);
  for (unsigned long k = 0; k < 6; ++k) cache.InsertIntoCache(k, new CTestItem(static_cast<long>(k)));
  EXPECT_EQ(5u, cache.GetClockHand());
  cache.Resize(6);  // same count: only the hand moves
  EXPECT_EQ(0u, cache.GetClockHand());
  EXPECT_EQ(6u, cache.GetCount());
  cache.Resize(4);  // releases exactly slots 4 and 5
  EXPECT_EQ(4, CTestItem::alive.load());
  EXPECT_EQ(nullptr, cache.GetObject(4));
  EXPECT_EQ(nullptr, cache.GetObject(5));
  for (unsigned long k = 0; k < 4; ++k) EXPECT_EQ(k, cache.FindSlot(k));
  cache.Resize(9);  // growing keeps every slot
  for (unsigned long k = 0; k < 4; ++k) EXPECT_EQ(k, cache.FindSlot(k));
  EXPECT_EQ(9u, cache.GetSlotCount());
  cache.ClearItem(2);
  EXPECT_EQ(CPlainCache::NO_SLOT, cache.FindSlot(2));
  EXPECT_NE(0u, cache.GetSlotFlags(2) & CPlainCache::SLOT_FREE);
  EXPECT_EQ(3, CTestItem::alive.load());
  cache.ClearCache();
  EXPECT_EQ(0, CTestItem::alive.load());
  for (unsigned long k = 0; k < 6; ++k) EXPECT_EQ(nullptr, cache.GetObject(k));
  EXPECT_EQ(9u, cache.GetSlotCount());
  // The cache is usable after flushing.
  cache.InsertIntoCache(3, new CTestItem(3));
  EXPECT_EQ(3, cache.GetObject(3)->value);
}

TEST_F(CacheTest, DestructionReleasesItemsAndProvider) {
  CSharedObjPtr<CTestItem> kept;
  {
    CTestCache cache(4, 1);
    cache.SetObjProvider(new CTestProvider(2));
    kept = cache.GetObject(1);
    cache.GetObject(2);
    EXPECT_EQ(2, CTestItem::alive.load());
  }
  EXPECT_EQ(1, CTestItem::alive.load());
  EXPECT_EQ(10, kept->value);
  kept = nullptr;
}

TEST_F(CacheTest, GramAndStringKeys) {
  CCacheMgr<tag_ELEM_INDEXES, tag_ELEM_INDEXES&, CGramMatrixElem,
            NullObjProvider<tag_ELEM_INDEXES&, CGramMatrixElem>>
      gram(16, 0);
  tag_ELEM_INDEXES k = {3, 7}, r = {7, 3};
  gram.InsertIntoCache(k, new CGramMatrixElem(0.5));
  CSharedObjPtr<CGramMatrixElem> e = gram.GetObject(r);  // the same unordered pair
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(0.5, e->GetValue());

  CCacheMgr<TSTRING, const TSTRING&, CNGramCacheItem, NullObjProvider<const TSTRING&, CNGramCacheItem>> names(4, 1);
  names.InsertIntoCache("abc", new CNGramCacheItem(CNGramsVector(3, "abcabc", 6, nullptr)));
  CSharedObjPtr<CNGramCacheItem> v = names.GetObject("abc");
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(3u, v->GetVector().GetCount());
  EXPECT_EQ(nullptr, names.GetObject("abd"));
}
