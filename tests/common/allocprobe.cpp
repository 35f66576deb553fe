// The global operator new and delete of the test programs that measure
// peaks (see allocprobe.h): plain malloc and free, counted while a probe
// lives.
#include "common/allocprobe.h"

#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <new>

namespace {

std::atomic<bool> g_probing{false};
std::atomic<long long> g_held{0};
std::atomic<long long> g_peak{0};

void* Allocate(size_t size) {
  void* p = malloc(size == 0 ? 1 : size);
  if (p != nullptr && g_probing.load(std::memory_order_relaxed)) {
    const long long held = g_held += static_cast<long long>(malloc_usable_size(p));
    long long peak = g_peak.load();
    while (held > peak && !g_peak.compare_exchange_weak(peak, held)) {
    }
  }
  return p;
}

void Free(void* p) {
  if (p == nullptr) return;
  if (g_probing.load(std::memory_order_relaxed)) g_held -= static_cast<long long>(malloc_usable_size(p));
  free(p);
}

}  // namespace

void* operator new(size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, size_t) noexcept { Free(p); }
void operator delete[](void* p, size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }

namespace telsor_test {

CAllocProbe::CAllocProbe() {
  g_held = 0;
  g_peak = 0;
  g_probing = true;
}

CAllocProbe::~CAllocProbe() { g_probing = false; }

size_t CAllocProbe::Peak() const { return static_cast<size_t>(g_peak.load()); }

}  // namespace telsor_test
