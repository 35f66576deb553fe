// CCacheMgr: a bounded cache of reference-counted objects: a fixed number of
// slots, an ordered index from key to slot, second-chance (clock)
// replacement, an optional reader/writer monitor so that several threads can
// share one cache, and an optional provider that makes the object for a key
// that is not cached. N-gram training keeps its examples' vectors and
// Gram-matrix elements in two (classify/gramcache.h), the script store its
// script lists and compiled scripts in two (filter/sievedatasource.h).
//
//   class CValue : public CSharedObj {
//    public:
//     explicit CValue(double v) : value(v) {}
//     const double value;
//   };
//   typedef CCacheMgr<DWORD, DWORD, CValue, NullObjProvider<DWORD, CValue>> CValueCache;
//   CValueCache cache(2048, 1);                // 2048 slots, monitor on
//   CSharedObjPtr<CValue> v = cache.GetObject(37);   // null on a miss
//   if (!v) {
//     v = new CValue(0.25);                    // made by the caller
//     cache.InsertIntoCache(37, v);            // the cache takes its own reference
//   }
//   double k37 = v->value;
//
// Template parameters: the key (ordered by its operator<, or std::less), the
// type in which a key is passed, the item (a CSharedObj descendant) and the
// provider, a CSharedObj descendant with
//   CSharedObjPtr<Item> CreateObject(KeyArg key);   // the object, or null
//   DWORD GetExamplesCount() const;                  // for SetObjProvider's sizing
// NullObjProvider is the provider of caches whose misses are just misses.
//
// Sizing: the capacity given to the constructor or SetSize is the number of
// slots; AUTOMATIC_SIZE (0xFFFFFFFF) and 0 mean automatic sizing: 20 slots
// at the first insertion, or n(n+1)/2 for a provider over n examples when it
// is set (20 when that does not fit below 0xFFFFFFFF). A new key takes a free
// slot, else the first slot without its referenced bit, clearing the bits it
// passes (a stored or looked-up object has its bit set). Inserting a null
// item forgets the key.
//
// Threads: with locking on, GetObject holds only the read side of the
// monitor (lookups run in parallel; the referenced bit is set atomically)
// and asks the provider under it; the made object is inserted under the
// write side after the read side was left. InsertIntoCache, SetSize,
// SetObjProvider, ClearCache and ClearItem hold the write side; Resize and
// FlushCache take nothing and are for those operations. A cache with locking
// off belongs to one thread. An exception (out of memory, a provider's
// failure) leaves the monitor released and passes on; evicted or replaced
// items are released, not destroyed, so a caller's reference stays valid.
#ifndef TELSOR_FOUNDATION_CACHEMGR_H
#define TELSOR_FOUNDATION_CACHEMGR_H

#include <atomic>
#include <map>
#include <memory>
#include <new>

#include "foundation/exception.h"
#include "foundation/obj.h"
#include "foundation/rwmonitor.h"
#include "foundation/wintypes.h"

namespace telsor {

// The provider that makes nothing.
template <class KeyArg, class Item>
class NullObjProvider : public CSharedObj {
 public:
  CSharedObjPtr<Item> CreateObject(KeyArg) { return CSharedObjPtr<Item>(); }
  DWORD GetExamplesCount() const { return 0; }
};

template <class Key, class KeyArg, class Item, class Provider>
class CCacheMgr : public CObj {
 public:
  static constexpr DWORD AUTOMATIC_SIZE = 0xFFFFFFFFu;
  static constexpr DWORD DEFAULT_SLOTS = 20;
  // Slot flags.
  static constexpr DWORD SLOT_REFERENCED = 1;
  static constexpr DWORD SLOT_FREE = 2;
  static constexpr DWORD NO_SLOT = 0xFFFFFFFFu;

  CCacheMgr(DWORD capacity, int locking)
      : m_nSlots(0), m_nCapacity(Automatic(capacity)), m_nHand(0), m_bLocking(locking), m_pProvider(nullptr) {}
  ~CCacheMgr() override {
    if (m_pProvider) m_pProvider->Release();
    FlushCache();
  }
  CCacheMgr(const CCacheMgr&) = delete;
  CCacheMgr& operator=(const CCacheMgr&) = delete;

  // The cached object for the key (the caller holds its own reference), or
  // the provider's object for it (then cached), or null.
  CSharedObjPtr<Item> GetObject(KeyArg key) {
    CSharedObjPtr<Item> made;
    {
      CSide read(*this, false);
      typename Index::const_iterator it = m_index.find(key);
      if (it != m_index.end()) {
        tag_SLOT& s = m_slots[it->second];
        s.flags.fetch_or(SLOT_REFERENCED, std::memory_order_relaxed);
        return CSharedObjPtr<Item>(s.item);
      }
      if (m_pProvider == nullptr) return made;
      made = m_pProvider->CreateObject(key);
    }
    if (made) InsertIntoCache(key, made);
    return made;
  }

  // Stores the item under the key; the cache takes its own reference. A key
  // already cached keeps its slot and releases its old item.
  void InsertIntoCache(KeyArg key, Item* item) {
    CSide write(*this, true);
    if (m_nSlots == 0) Resize(m_nCapacity == AUTOMATIC_SIZE ? DEFAULT_SLOTS : m_nCapacity);
    if (item == nullptr) {
      Forget(key);
      return;
    }
    DWORD slot;
    typename Index::iterator it = m_index.find(key);
    if (it != m_index.end()) {
      slot = it->second;
    } else {
      // Second chance: referenced slots in use lose their bit and are passed.
      for (;;) {
        tag_SLOT& s = m_slots[m_nHand];
        DWORD f = s.flags.load(std::memory_order_relaxed);
        if ((f & SLOT_FREE) || !(f & SLOT_REFERENCED)) break;
        s.flags.store(f & ~SLOT_REFERENCED, std::memory_order_relaxed);
        m_nHand = m_nHand + 1 == m_nSlots ? 0 : m_nHand + 1;
      }
      slot = m_nHand;
      tag_SLOT& victim = m_slots[slot];
      // The new key enters the index before anything is evicted, so a failed
      // allocation leaves the cache as it was.
      try {
        m_index.emplace(key, slot);
      } catch (std::bad_alloc&) {
        AfxThrowMemoryException();
      }
      if (!(victim.flags.load(std::memory_order_relaxed) & SLOT_FREE)) {
        m_index.erase(victim.key);
        ReleaseItem(victim);
      }
      victim.key = key;
      victim.flags.store(0, std::memory_order_relaxed);
    }
    tag_SLOT& s = m_slots[slot];
    s.flags.fetch_or(SLOT_REFERENCED, std::memory_order_relaxed);
    item->AddRef();
    Item* old = s.item;
    s.item = item;
    if (old) old->Release();
  }

  // Records a new capacity (0 and AUTOMATIC_SIZE: automatic sizing) and,
  // unless automatic, resizes to it at once.
  void SetSize(DWORD capacity) {
    CSide write(*this, true);
    m_nCapacity = Automatic(capacity);
    if (m_nCapacity != AUTOMATIC_SIZE) Resize(m_nCapacity);
  }

  // Empties the cache, holds the new provider (null allowed) and sizes the
  // slots: the capacity, else n(n+1)/2 for a provider over n examples, else 20.
  void SetObjProvider(Provider* provider) {
    CSide write(*this, true);
    FlushCache();
    if (provider) provider->AddRef();
    if (m_pProvider) m_pProvider->Release();
    m_pProvider = provider;
    DWORD count = DEFAULT_SLOTS;
    if (m_nCapacity != AUTOMATIC_SIZE) {
      count = m_nCapacity;
    } else if (provider != nullptr) {
      ULONGLONG n = provider->GetExamplesCount();
      ULONGLONG pairs = n * (n + 1) / 2;
      count = pairs >= AUTOMATIC_SIZE ? DEFAULT_SLOTS : static_cast<DWORD>(pairs);
    }
    Resize(count);
  }

  void ClearCache() {
    CSide write(*this, true);
    FlushCache();
  }

  void ClearItem(KeyArg key) {
    CSide write(*this, true);
    Forget(key);
  }

  // Unlocked: count slots, keeping the first ones (and the index of their
  // keys); items of dropped slots are released. The clock hand goes to 0.
  void Resize(DWORD count) {
    m_nHand = 0;
    if (count == m_nSlots) return;
    tag_SLOT* fresh = count ? new (std::nothrow) tag_SLOT[count] : nullptr;
    if (count && fresh == nullptr) AfxThrowMemoryException();
    for (DWORD i = count; i < m_nSlots; ++i) {
      tag_SLOT& s = m_slots[i];
      if (s.flags.load(std::memory_order_relaxed) & SLOT_FREE) continue;
      m_index.erase(s.key);
      ReleaseItem(s);
    }
    const DWORD keep = count < m_nSlots ? count : m_nSlots;
    for (DWORD i = 0; i < keep; ++i) {
      fresh[i].key = m_slots[i].key;
      fresh[i].flags.store(m_slots[i].flags.load(std::memory_order_relaxed), std::memory_order_relaxed);
      fresh[i].item = m_slots[i].item;
    }
    m_slots.reset(fresh);
    m_nSlots = count;
  }

  // Unlocked: every slot in use releases its item and becomes free (its
  // referenced bit untouched); the index empties; the hand goes to 0.
  void FlushCache() {
    for (DWORD i = 0; i < m_nSlots; ++i) {
      tag_SLOT& s = m_slots[i];
      if (s.flags.load(std::memory_order_relaxed) & SLOT_FREE) continue;
      ReleaseItem(s);
      s.flags.fetch_or(SLOT_FREE, std::memory_order_relaxed);
    }
    m_index.clear();
    m_nHand = 0;
  }

  // Observers, under the read side.
  DWORD GetSlotCount() const {
    CSide read(*this, false);
    return m_nSlots;
  }
  DWORD GetCapacity() const {
    CSide read(*this, false);
    return m_nCapacity;
  }
  DWORD GetClockHand() const {
    CSide read(*this, false);
    return m_nHand;
  }
  DWORD GetCount() const {
    CSide read(*this, false);
    return static_cast<DWORD>(m_index.size());
  }
  // The slot of a cached key, or NO_SLOT; nothing changes.
  DWORD FindSlot(KeyArg key) const {
    CSide read(*this, false);
    typename Index::const_iterator it = m_index.find(key);
    return it == m_index.end() ? NO_SLOT : it->second;
  }
  // SLOT_REFERENCED and SLOT_FREE bits of a slot; SLOT_FREE for a slot
  // number not below GetSlotCount().
  DWORD GetSlotFlags(DWORD slot) const {
    CSide read(*this, false);
    if (slot >= m_nSlots) return SLOT_FREE;
    return m_slots[slot].flags.load(std::memory_order_relaxed);
  }

 private:
  typedef std::map<Key, DWORD> Index;

  struct tag_SLOT {
    Key key;
    std::atomic<DWORD> flags{SLOT_FREE};
    Item* item = nullptr;  // one reference held by the cache when set
  };

  // The read or write side of the monitor for one scope, when locking.
  class CSide {
   public:
    CSide(const CCacheMgr& cache, bool write) : m_cache(cache), m_bWrite(write) {
      if (!m_cache.m_bLocking) return;
      if (m_bWrite)
        m_cache.m_monitor.BeginWrite();
      else
        m_cache.m_monitor.BeginRead();
    }
    ~CSide() {
      if (!m_cache.m_bLocking) return;
      if (m_bWrite)
        m_cache.m_monitor.EndWrite();
      else
        m_cache.m_monitor.EndRead();
    }
    CSide(const CSide&) = delete;
    CSide& operator=(const CSide&) = delete;

   private:
    const CCacheMgr& m_cache;
    bool m_bWrite;
  };

  static DWORD Automatic(DWORD capacity) { return capacity == 0 ? AUTOMATIC_SIZE : capacity; }

  static void ReleaseItem(tag_SLOT& s) {
    Item* item = s.item;
    s.item = nullptr;
    if (item) item->Release();
  }

  void Forget(KeyArg key) {
    typename Index::iterator it = m_index.find(key);
    if (it == m_index.end()) return;
    tag_SLOT& s = m_slots[it->second];
    m_index.erase(it);
    s.flags.fetch_or(SLOT_FREE, std::memory_order_relaxed);
    ReleaseItem(s);
  }

  Index m_index;
  std::unique_ptr<tag_SLOT[]> m_slots;
  DWORD m_nSlots;
  DWORD m_nCapacity;
  DWORD m_nHand;
  int m_bLocking;
  mutable CRWMonitor m_monitor;
  Provider* m_pProvider;  // one reference held while set
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_CACHEMGR_H
