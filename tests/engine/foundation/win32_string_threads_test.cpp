// The interlocked counters from eight threads at once: no update is lost.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "foundation/win32.h"

namespace {

TEST(Interlocked, ConcurrentIncrementsAreNotLost) {
  LONG v = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&v] {
      for (int i = 0; i < 20000; ++i) {
        InterlockedIncrement(&v);
        InterlockedIncrement(&v);
        InterlockedDecrement(&v);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(v, 8 * 20000);
}

}  // namespace
