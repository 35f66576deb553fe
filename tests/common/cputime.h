// CPU time of the calling thread, for tests that bound the cost of an
// operation: unlike wall-clock time it does not grow when the machine is
// busy with other work, so a bound holds on a loaded CI machine too.
//
//   CCpuTimer timer;
//   CompileSomethingHostile();
//   EXPECT_LT(timer.Seconds(), 10 * kSanitizerSlowdown);
#ifndef TELSOR_TESTS_COMMON_CPUTIME_H
#define TELSOR_TESTS_COMMON_CPUTIME_H

#include <time.h>

// The sanitizer build runs several times slower; bounds are scaled by this.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSanitizerSlowdown = 6.0;
#else
constexpr double kSanitizerSlowdown = 1.0;
#endif

class CCpuTimer {
 public:
  CCpuTimer() : m_start(Now()) {}
  double Seconds() const { return Now() - m_start; }
  static double Now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }

 private:
  double m_start;
};

#endif  // TELSOR_TESTS_COMMON_CPUTIME_H
