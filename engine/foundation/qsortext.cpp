// Sorting with a context pointer, on the C library's qsort_r.
#include "foundation/qsortext.h"

#include <stdlib.h>

namespace telsor {

void qsortext(void* base, unsigned count, unsigned size, void* context,
              int (*compare)(const void*, const void*, void*)) {
  if (base == nullptr || count < 2 || size == 0 || compare == nullptr) return;
  qsort_r(base, count, size, compare, context);
}

}  // namespace telsor
