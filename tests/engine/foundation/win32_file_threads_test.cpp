// Temporary file names made by many threads at once in one directory:
// each call gets a file of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/tempdir.h"
#include "foundation/win32.h"

namespace {

TEST(TempDir, TempFileNameFromManyThreadsAtOnce) {
  telsor_test::TempDir tmp;
  const std::string dir = tmp.path();
  ASSERT_FALSE(dir.empty());
  const int kThreads = 8, kEach = 25;
  std::vector<std::vector<std::string>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        char buf[MAX_PATH];
        if (GetTempFileName(dir.c_str(), "mt", 0, buf) != 0) made[t].push_back(buf);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<std::string> all;
  for (auto& v : made) {
    EXPECT_EQ(v.size(), static_cast<size_t>(kEach));
    all.insert(v.begin(), v.end());
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
  size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, all.size());
}

}  // namespace
