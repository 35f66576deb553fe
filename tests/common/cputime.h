// The CPU time of the calling thread, for tests that bound how much work a
// call does: unlike the wall clock it does not count the wait for a core
// on a loaded machine (a call that hangs is left to the test timeout).
//
//   const auto begin = telsor_test::ThreadCpuTime();
//   re.Compile(pattern, 1, 0);
//   EXPECT_LT(telsor_test::ThreadCpuTime() - begin, telsor_test::CpuBound(std::chrono::seconds(2)));
#ifndef TELSOR_TESTS_COMMON_CPUTIME_H
#define TELSOR_TESTS_COMMON_CPUTIME_H

#include <time.h>

#include <chrono>

namespace telsor_test {

inline std::chrono::nanoseconds ThreadCpuTime() {
  struct timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// A CPU time bound for work given plain seconds in a plain build: the
// sanitizer build runs it many times slower and gets six times as long.
inline std::chrono::nanoseconds CpuBound(std::chrono::seconds plain) {
#if defined(__SANITIZE_ADDRESS__)
  return plain * 6;
#else
  return plain;
#endif
}

}  // namespace telsor_test

#endif  // TELSOR_TESTS_COMMON_CPUTIME_H
