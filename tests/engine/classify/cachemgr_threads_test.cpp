// The keyed object cache shared by threads: readers that hit, miss and have
// the provider make objects, against writers that insert, forget, flush and
// resize. Every object handed out must be the one of its key, and the cache
// must end consistent with every item released.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "cachetestitems.h"

using namespace telsor;

TEST(CacheThreadsTest, ReadersAndWritersShareOneCache) {
  const unsigned long kKeys = 64;
  std::atomic<long> wrong{0};
  {
    CTestCache cache(16, 1);
    cache.SetObjProvider(new CTestProvider(static_cast<DWORD>(kKeys)));
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int r = 0; r < 6; ++r)
      threads.emplace_back([&, r] {
        std::mt19937 rng(100 + r);
        for (int i = 0; i < 6000; ++i) {
          unsigned long key = rng() % kKeys;
          CSharedObjPtr<CTestItem> item = cache.GetObject(key);
          if (!item || item->value != static_cast<long>(key) * 10) ++wrong;
        }
      });
    for (int w = 0; w < 2; ++w)
      threads.emplace_back([&, w] {
        std::mt19937 rng(200 + w);
        while (!stop) {
          unsigned long key = rng() % kKeys;
          switch (rng() % 16) {
            case 0: cache.ClearCache(); break;
            case 1: cache.SetSize(rng() % 2 ? 16 : 24); break;
            case 2:
            case 3:
            case 4: cache.ClearItem(key); break;
            default: cache.InsertIntoCache(key, new CTestItem(static_cast<long>(key) * 10)); break;
          }
        }
      });
    for (int r = 0; r < 6; ++r) threads[r].join();
    stop = true;
    for (size_t t = 6; t < threads.size(); ++t) threads[t].join();

    // Consistent at rest: every cached key sits in the slot the index names.
    EXPECT_LE(cache.GetCount(), cache.GetSlotCount());
    DWORD found = 0;
    for (unsigned long key = 0; key < kKeys; ++key) {
      DWORD slot = cache.FindSlot(key);
      if (slot == CTestCache::NO_SLOT) continue;
      ++found;
      EXPECT_LT(slot, cache.GetSlotCount());
      EXPECT_EQ(0u, cache.GetSlotFlags(slot) & CTestCache::SLOT_FREE);
    }
    EXPECT_EQ(cache.GetCount(), found);
    EXPECT_LE(static_cast<long>(found), CTestItem::alive.load());
  }
  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(0, CTestItem::alive.load());
  EXPECT_EQ(0, CTestProvider::alive.load());
}

TEST(CacheThreadsTest, ConcurrentHitsSetReferencedBits) {
  // Readers only: all of them set the referenced bits of the same slots at
  // once under the read side.
  CPlainCache cache(8, 1);
  for (unsigned long k = 0; k < 8; ++k) cache.InsertIntoCache(k, new CTestItem(static_cast<long>(k)));
  cache.Resize(8);
  std::atomic<long> misses{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 4; ++r)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i)
        if (!cache.GetObject(static_cast<unsigned long>(i % 8))) ++misses;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, misses.load());
  for (DWORD s = 0; s < 8; ++s) EXPECT_NE(0u, cache.GetSlotFlags(s) & CPlainCache::SLOT_REFERENCED);
}
