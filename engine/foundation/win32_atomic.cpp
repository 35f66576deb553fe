// Atomic counters: every reference count of the engine goes through these.
#include "foundation/win32.h"

extern "C" {

LONG InterlockedIncrement(LONG volatile* target) {
  return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* target) {
  return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchange(LONG volatile* target, LONG value) {
  LONG old = __atomic_load_n(target, __ATOMIC_SEQ_CST);
  while (!__atomic_compare_exchange_n(target, &old, value, false, __ATOMIC_SEQ_CST,
                                      __ATOMIC_SEQ_CST)) {
  }
  return old;
}

LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;  // holds the previous value whether or not the swap happened
}

}  // extern "C"
