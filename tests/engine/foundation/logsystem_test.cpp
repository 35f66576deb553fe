// The logger: line format and levels, batching, open failures and many
// threads at once. Every test leaves the logger closed, with mask 0 and
// nothing set, as it is at load.
#include <gtest/gtest.h>

#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/tempdir.h"
#include "foundation/logsystem.h"

namespace {

using namespace telsor;

// Local time in the tests is UTC+5:30, so a line written from UTC would show.
const char kZone[] = "IST-5:30";
const time_t kZoneOffset = 5 * 3600 + 30 * 60;

std::mutex g_reportsMutex;
std::vector<std::pair<DWORD, std::string>> g_reports;
std::atomic<int> g_reportCount{0};

void Record(DWORD level, const char* text) {
  std::lock_guard<std::mutex> guard(g_reportsMutex);
  g_reports.emplace_back(level, text);
}

void Count(DWORD, const char*) { ++g_reportCount; }

DWORD ThisThread() { return static_cast<DWORD>(static_cast<uintptr_t>(pthread_self())); }

// The line expected for a message logged at t by thread, from the
// UTC-based calendar shifted by the test zone's offset.
std::string Expected(const char* namePart, DWORD thread, time_t t, const std::string& text) {
  time_t shifted = t + kZoneOffset;
  struct tm g;
  gmtime_r(&shifted, &g);
  char id[32];
  snprintf(id, sizeof id, "%05lu", static_cast<unsigned long>(thread));
  std::ostringstream out;
  out << namePart << id << ") " << g.tm_mon + 1 << '/' << g.tm_mday << '/'
      << (1900 + g.tm_year - 2000) << ' ' << g.tm_hour << ':' << (g.tm_min < 10 ? "0" : "")
      << g.tm_min << ':' << (g.tm_sec < 10 ? "0" : "") << g.tm_sec << ' ' << text << " \n";
  return out.str();
}

// One written line (without its newline) taken apart; ok only when the
// whole line has the logger's layout.
struct Parsed {
  bool ok = false;
  std::string name;
  unsigned long id = 0;
  std::string text;
};

Parsed ParseLine(const std::string& line) {
  Parsed p;
  if (line.size() < 11 || line[0] != '(' || line[9] != ':') return p;
  int mon, day, year, hour, min, sec, used = 0;
  if (sscanf(line.c_str() + 10, "%lu) %d/%d/%d %d:%d:%d%n", &p.id, &mon, &day, &year, &hour,
             &min, &sec, &used) != 7)
    return p;
  char head[128];
  snprintf(head, sizeof head, "%05lu) %d/%d/%d %d:%02d:%02d ", p.id, mon, day, year, hour, min,
           sec);
  std::string rest = line.substr(10);
  if (rest.compare(0, strlen(head), head) != 0 || rest.back() != ' ') return p;
  p.name = line.substr(1, 8);
  p.text = rest.substr(strlen(head), rest.size() - strlen(head) - 1);
  p.ok = true;
  return p;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = getenv("TZ");
    hadZone_ = zone != nullptr;
    if (hadZone_) oldZone_ = zone;
    setenv("TZ", kZone, 1);
    tzset();
    ASSERT_FALSE(dir_.empty());
    streamPath_ = dir_ + "/stream.txt";
    filePath_ = dir_ + "/engine.log";
    stream_ = fopen(streamPath_.c_str(), "w");
    ASSERT_NE(stream_, nullptr);
    g_reports.clear();
    g_reportCount = 0;
  }

  void TearDown() override {
    OpenLogSystem(0);  // opened or already open: the settings can be reset
    SetOutLogStream(nullptr);
    SetOutLogFile("");
    SetExternReportEvent(nullptr);
    CloseLogSystem();
    SetLogLevel(0);
    if (stream_ != nullptr) fclose(stream_);
    if (hadZone_)
      setenv("TZ", oldZone_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

  void Open(DWORD threshold, DWORD mask) {
    ASSERT_EQ(OpenLogSystem(threshold), 1);
    SetLogLevel(mask);
    SetOutLogStream(stream_);
    SetOutLogFile(filePath_.c_str());
  }

  std::string Stream() {
    fflush(stream_);
    return ReadText(streamPath_);
  }

  telsor_test::TempDir tmp_;
  const std::string dir_ = tmp_.path();
  std::string streamPath_, filePath_;
  FILE* stream_ = nullptr;
  bool hadZone_ = false;
  std::string oldZone_;
};

TEST_F(LogTest, LineFormatAndLevels) {
  struct Case {
    DWORD mask;
    DWORD level;
    std::string format;
    int64_t number;
    const char* namePart;  // null: the message is dropped
    std::string text;
  } cases[] = {
      {31, 1, "disk %I64d", -5000000000LL, "(Error   :", "disk -5000000000"},
      {31, 2, "x=%I64x", 0xABCDEF012LL, "(CRITICAL:", "x=abcdef012"},
      {31, 4, "%I64u left", -1, "(Warning :", "18446744073709551615 left"},
      {31, 8, "[%8I64d]", 77, "(Info    :", "[      77]"},
      {31, 16, "100%% %%I64d", 0, "(Debug   :", "100% %I64d"},
      {1, 3, "two bits", 0, "(        :", "two bits"},
      {32, 32, "no name", 0, "(        :", "no name"},
      {8, 8, "", 0, "(Info    :", ""},
      {8, 8, std::string(255, 'a'), 0, "(Info    :", std::string(255, 'a')},
      {8, 8, std::string(256, 'b') + "%I64d", 9, "(Info    :", std::string(256, 'b') + "9"},
      {0, 1, "mask 0", 0, nullptr, ""},
      {0, 31, "mask 0", 0, nullptr, ""},
      {2, 1, "other bit", 0, nullptr, ""},
      {31, 0, "level 0", 0, nullptr, ""},
  };
  Open(0, 0);
  SetExternReportEvent(Record);
  std::string all;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format.substr(0, 20));
    SetLogLevel(c.mask);
    g_reports.clear();
    size_t before = Stream().size();
    time_t t0 = time(nullptr);
    LogMessage(c.level, c.format.c_str(), c.number);
    time_t t1 = time(nullptr);
    std::string line = Stream().substr(before);
    if (c.namePart == nullptr) {
      EXPECT_EQ(line, "");
      EXPECT_TRUE(g_reports.empty());
      continue;
    }
    EXPECT_TRUE(line == Expected(c.namePart, ThisThread(), t0, c.text) ||
                line == Expected(c.namePart, ThisThread(), t1, c.text))
        << line;
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports[0].first, c.level);
    EXPECT_EQ(g_reports[0].second, c.text);
    all += line;
  }
  EXPECT_EQ(ReadText(filePath_), all);
  EXPECT_STREQ(LogLvl2Str(3), "");
  EXPECT_STREQ(LogLvl2Str(16), "Debug");
}

TEST_F(LogTest, ThresholdBatchesMessagesInOrder) {
  Open(10, 8);
  for (int i = 1; i <= 9; ++i) LogMessage(8, "message %d", i);
  FILE* probe = fopen(filePath_.c_str(), "r");
  EXPECT_EQ(probe, nullptr);  // no flush has touched the file yet
  if (probe != nullptr) fclose(probe);
  EXPECT_EQ(Stream(), "");
  LogMessage(8, "message %d", 10);
  std::string out = Stream();
  std::istringstream lines(out);
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    ++n;
    Parsed p = ParseLine(line);
    EXPECT_TRUE(p.ok && p.name == "Info    " && p.text == "message " + std::to_string(n)) << line;
  }
  EXPECT_EQ(n, 10);
  EXPECT_EQ(ReadText(filePath_), out);
  // An empty queue writes nothing; the eleventh waits for the close.
  FlushLogSystem();
  LogMessage(8, "message 11");
  EXPECT_EQ(Stream(), out);
  CloseLogSystem();
  out = Stream();
  EXPECT_EQ(ReadText(filePath_), out);
  EXPECT_EQ(out.substr(out.size() - 12), "message 11 \n");
}

TEST_F(LogTest, ClosedLoggerTakesNothing) {
  SetLogLevel(31);
  SetOutLogStream(stream_);
  SetOutLogFile(filePath_.c_str());
  EXPECT_EQ(SetExternReportEvent(Record), nullptr);
  LogMessage(1, "while closed");
  ASSERT_EQ(OpenLogSystem(3), 1);
  EXPECT_EQ(SetExternReportEvent(Record), nullptr);  // the earlier call did nothing
  SetOutLogStream(stream_);
  FlushLogSystem();
  EXPECT_TRUE(g_reports.size() == 0 && Stream().empty());  // nothing was queued
  EXPECT_EQ(OpenLogSystem(1), 0);  // keeps threshold 3
  LogMessage(1, "one");
  LogMessage(1, "two");
  EXPECT_EQ(Stream(), "");
  LogMessage(1, "three");
  EXPECT_NE(Stream().find("three \n"), std::string::npos);
  EXPECT_EQ(SetExternReportEvent(nullptr), &Record);
  EXPECT_EQ(SetLogLevel(0), 31u);
  ASSERT_EQ(g_reports.size(), 3u);
}

TEST_F(LogTest, UnopenableLogFileIsReportedOnce) {
  std::string missing = dir_ + "/no-such-dir/engine.log";
  Open(0, 31);
  SetOutLogFile(missing.c_str());
  SetExternReportEvent(Record);
  LogMessage(4, "first");
  LogMessage(4, "second");
  std::string cannot = "Cannot open log file \"" + missing + "\" [" + strerror(ENOENT) + "].";
  std::vector<std::pair<DWORD, std::string>> expected = {
      {4, "first"}, {1, cannot}, {4, "second"}};
  EXPECT_EQ(g_reports, expected);
  std::string out = Stream();  // the stream still gets both
  EXPECT_NE(out.find("first \n"), std::string::npos);
  EXPECT_NE(out.find("second \n"), std::string::npos);
}

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
