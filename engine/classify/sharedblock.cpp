// The shared element blocks of the learning core, instantiated once.
#include "classify/sharedblock.h"

#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

namespace telsor {

void PrepareToFill(void* memory, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  if (bytes < (size_t(64) << 10)) return;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(memory) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)memory;
  (void)bytes;
#endif
}

template class CSharedBlock<double>;
template class CSharedBlock<BYTE>;

}  // namespace telsor
