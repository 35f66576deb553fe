// The logger from many threads at once: whole lines, each thread's
// messages in order, every report delivered.
#include <gtest/gtest.h>

#include <stdio.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "logtest.h"

namespace {

using namespace telsor;
using namespace telsor_test;

TEST_F(LogTest, ConcurrentLoggersWriteWholeLinesInOrder) {
  const int kThreads = 8, kMessages = 300;
  Open(16, 31);
  SetExternReportEvent(Count);
  std::vector<DWORD> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &ids] {
      ids[t] = ThisThread();
      for (int i = 0; i < kMessages; ++i)
        LogMessage(1u << (i % 5), "thread %02d message %04d %s", t, i, std::string(i % 300, '.').c_str());
    });
  for (std::thread& th : threads) th.join();
  FlushLogSystem();
  EXPECT_EQ(g_reportCount, kThreads * kMessages);
  std::string out = Stream();
  EXPECT_EQ(ReadText(filePath_), out);
  const std::string names[] = {"Error   ", "CRITICAL", "Warning ", "Info    ", "Debug   "};
  std::vector<int> next(kThreads, 0);
  std::istringstream lines(out);
  std::string line;
  int total = 0;
  while (std::getline(lines, line)) {
    Parsed p = ParseLine(line);
    ASSERT_TRUE(p.ok) << line;
    int t = -1, i = -1, used = 0;
    ASSERT_EQ(sscanf(p.text.c_str(), "thread %d message %d %n", &t, &i, &used), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(p.text.substr(static_cast<size_t>(used)), std::string(i % 300, '.')) << line;
    EXPECT_EQ(p.name, names[i % 5]);
    EXPECT_EQ(p.id, ids[t]);
    EXPECT_EQ(i, next[t]) << "thread " << t;
    next[t] = i + 1;
    ++total;
  }
  EXPECT_EQ(total, kThreads * kMessages);
}

}  // namespace
