// Items and providers for the keyed object cache tests: items that count
// how many of them are alive, and a provider that makes the item of a key.
#ifndef TELSOR_TESTS_ENGINE_CLASSIFY_CACHETESTITEMS_H
#define TELSOR_TESTS_ENGINE_CLASSIFY_CACHETESTITEMS_H

#include <atomic>
#include <stdexcept>

#include "foundation/cachemgr.h"
#include "foundation/obj.h"

class CTestItem : public telsor::CSharedObj {
 public:
  explicit CTestItem(long v) : value(v) { ++alive; }
  ~CTestItem() override { --alive; }
  const long value;
  static inline std::atomic<long> alive{0};
};

// Makes the item key x 10; throws for the key 666.
class CTestProvider : public telsor::CSharedObj {
 public:
  explicit CTestProvider(DWORD examples = 0) : examples(examples) { ++alive; }
  ~CTestProvider() override { --alive; }
  telsor::CSharedObjPtr<CTestItem> CreateObject(unsigned long key) {
    ++made;
    if (key == 666) throw std::runtime_error("provider failed");
    return new CTestItem(static_cast<long>(key) * 10);
  }
  DWORD GetExamplesCount() const { return examples; }
  DWORD examples;
  std::atomic<long> made{0};
  static inline std::atomic<long> alive{0};
};

typedef telsor::CCacheMgr<unsigned long, unsigned long, CTestItem, CTestProvider> CTestCache;
typedef telsor::CCacheMgr<unsigned long, unsigned long, CTestItem,
                          telsor::NullObjProvider<unsigned long, CTestItem>>
    CPlainCache;

#endif  // TELSOR_TESTS_ENGINE_CLASSIFY_CACHETESTITEMS_H
