// How much memory a piece of code holds at its peak: the test program
// replaces the global operator new and delete (allocprobe.cpp, linked into
// the programs that use this header) and counts, while a probe lives, the
// bytes handed out and not yet given back.
//
//   telsor_test::CAllocProbe probe;
//   s.Serialize(&fourBytes, 0);             // claims 2 GiB, holds 4 bytes
//   EXPECT_LT(probe.Peak(), 1u << 20);
//
// Only operator new is seen (the engine's strings, containers and objects);
// malloc called directly is not. One probe at a time, on one thread.
#ifndef TELSOR_TESTS_COMMON_ALLOCPROBE_H
#define TELSOR_TESTS_COMMON_ALLOCPROBE_H

#include <stddef.h>

namespace telsor_test {

class CAllocProbe {
 public:
  CAllocProbe();
  ~CAllocProbe();
  CAllocProbe(const CAllocProbe&) = delete;
  CAllocProbe& operator=(const CAllocProbe&) = delete;

  // The most bytes held at once since the probe was made (blocks made
  // before it and freed meanwhile do not count against it).
  size_t Peak() const;
};

}  // namespace telsor_test

#endif  // TELSOR_TESTS_COMMON_ALLOCPROBE_H
