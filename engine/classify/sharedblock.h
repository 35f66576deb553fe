// Element blocks shared between copies: the storage of real vectors, n-gram
// vectors and dense matrices; and owned scratch arrays (NewOwnedArray).
//
// A block is one heap allocation, a header followed by its elements. Copies
// of a vector or matrix share one block and count their references with
// atomic operations; a holder about to write first takes a private copy
// (copy-on-write); the last release frees the block. Every empty holder
// points at one static empty block that is never counted, written or freed.
//
//   typedef CSharedBlock<double> Block;
//   Block::Header* a = Block::Alloc(3);    // refs 1, count 3, capacity 3
//   Block::Header* b = a;  Block::AddRef(b);   // shared: refs 2
//   Block::Release(a);                     // refs 1
//   Block::Release(b);                     // freed
//
// Reference counts change atomically, so holders that share a block may live
// on different threads; one holder must not be changed on two threads at once.
#ifndef TELSOR_CLASSIFY_SHAREDBLOCK_H
#define TELSOR_CLASSIFY_SHAREDBLOCK_H

#include <stdlib.h>
#include <string.h>

#include <limits>
#include <memory>
#include <new>
#include <type_traits>

#include "classify/recordio.h"
#include "foundation/exception.h"
#include "foundation/results.h"
#include "foundation/win32.h"
#include "foundation/wintypes.h"

namespace telsor {

// Memory about to be written from end to end (a large record's elements as
// they are read): from 64 KiB on, its pages are asked of the system in one
// go rather than faulted in one by one. Only advice; nothing changes
// when the system does not take it.
void PrepareToFill(void* memory, size_t bytes);

template <class T>
class CSharedBlock {
 public:
  struct alignas(8) Header {
    LONG nRefs;        // 1 owned, >= 2 shared, -1 the static empty block
    size_t nCount;     // elements in use
    size_t nCapacity;  // elements allocated
  };

  static Header* Nil() { return &s_nil.header; }
  static bool IsNil(const Header* h) { return h == &s_nil.header; }
  static T* Items(Header* h) { return reinterpret_cast<T*>(h + 1); }
  static const T* Items(const Header* h) { return reinterpret_cast<const T*>(h + 1); }
  static LONG Refs(const Header* h) { return __atomic_load_n(&h->nRefs, __ATOMIC_ACQUIRE); }
  static bool IsShared(const Header* h) { return Refs(h) >= 2; }

  // A new block (refs 1, count = capacity = n), or null when n elements
  // cannot be allocated (or their byte size does not fit a size_t).
  static Header* TryAlloc(size_t n) {
    if (n > (std::numeric_limits<size_t>::max() - sizeof(Header)) / sizeof(T)) return nullptr;
    Header* h = static_cast<Header*>(malloc(sizeof(Header) + n * sizeof(T)));
    if (h == nullptr) return nullptr;
    h->nRefs = 1;
    h->nCount = n;
    h->nCapacity = n;
    return h;
  }
  // The same, throwing the engine's memory exception on failure.
  static Header* Alloc(size_t n) {
    Header* h = TryAlloc(n);
    if (h == nullptr) AfxThrowMemoryException();
    return h;
  }
  // Grows an unshared block (not the empty one) to room for n elements,
  // keeping its count and elements; null on failure (the block is intact).
  static Header* TryGrow(Header* h, size_t n) {
    if (n > (std::numeric_limits<size_t>::max() - sizeof(Header)) / sizeof(T)) return nullptr;
    Header* g = static_cast<Header*>(realloc(h, sizeof(Header) + n * sizeof(T)));
    if (g == nullptr) return nullptr;
    g->nCapacity = n;
    return g;
  }

  static void AddRef(Header* h) {
    if (!IsNil(h)) InterlockedIncrement(&h->nRefs);
  }
  // Drops one reference; the last one frees the block. Nothing for the
  // empty block.
  static void Release(Header* h) {
    if (IsNil(h)) return;
    if (InterlockedDecrement(&h->nRefs) < 1) free(h);
  }

  // Reads count elements from a record into a new unshared block (*out, refs
  // 1) that grows as the bytes arrive, so a record claiming a huge count but
  // ending early fails without allocating the claim. Results: S_OK, a failing
  // stream's code, shortCode for too few bytes, E_OUTOFMEMORY. Doubles are
  // turned into host order. Nothing is allocated for count 0 (*out is the
  // empty block).
  [[nodiscard]] static HRESULT ReadNew(IStream* stream, size_t count, Header** out, HRESULT shortCode) {
    return ReadNew(stream, count, out, shortCode, [](const T*, size_t) { return true; });
  }
  // The same, with the elements checked as they arrive: check(items, have)
  // sees the first have elements (as the record holds them) each time more
  // have come, and false ends the read with E_FAIL before the block grows
  // further, so bytes that cannot be a record cost no more than they show.
  template <class Check>
  [[nodiscard]] static HRESULT ReadNew(IStream* stream, size_t count, Header** out, HRESULT shortCode, Check check) {
    *out = Nil();
    if (count == 0) return S_OK;
    if (count > (std::numeric_limits<size_t>::max() - sizeof(Header)) / sizeof(T))
      return E_OUTOFMEMORY;
    // The first piece is small; each later one doubles what arrived.
    const size_t kStep = (size_t(1) << 16) / sizeof(T);
    Header* h = TryAlloc(count < kStep ? count : kStep);
    if (h == nullptr) return E_OUTOFMEMORY;
    size_t have = 0;
    while (have < count) {
      if (have == h->nCapacity) {
        size_t grown = h->nCapacity * 2 < count ? h->nCapacity * 2 : count;
        Header* g = TryGrow(h, grown);
        if (g == nullptr) {
          free(h);
          return E_OUTOFMEMORY;
        }
        h = g;
      }
      size_t want = h->nCapacity - have;
      if (want > 0x40000000u / sizeof(T)) want = 0x40000000u / sizeof(T);
      PrepareToFill(Items(h) + have, want * sizeof(T));
      HRESULT hr = ReadField(stream, Items(h) + have, static_cast<ULONG>(want * sizeof(T)), shortCode);
      if (hr == S_OK && !check(static_cast<const T*>(Items(h)), have + want)) hr = E_FAIL;
      if (hr != S_OK) {
        free(h);
        return hr;
      }
      have += want;
    }
    h->nCount = count;
    if constexpr (std::is_same<T, double>::value) SwapF64Order(Items(h), count);
    *out = h;
    return S_OK;
  }

 private:
  struct Nil_ {
    Header header;
    T room;  // the empty block has room for one element that is never written
  };
  static Nil_ s_nil;
};

// An owned array of n elements (at least one is allocated), or the engine's
// memory exception: the learning core's scratch buffers.
template <class T>
std::unique_ptr<T[]> NewOwnedArray(size_t n) {
  if (n > std::numeric_limits<size_t>::max() / sizeof(T)) AfxThrowMemoryException();
  T* p = new (std::nothrow) T[n ? n : 1];
  if (p == nullptr) AfxThrowMemoryException();
  return std::unique_ptr<T[]>(p);
}

template <class T>
typename CSharedBlock<T>::Nil_ CSharedBlock<T>::s_nil = {{-1, 0, 0}, T()};

// One instance of each kind, in the engine library, so that every user of the
// header compares against the same empty block.
extern template class CSharedBlock<double>;
extern template class CSharedBlock<BYTE>;

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_SHAREDBLOCK_H
