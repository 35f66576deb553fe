// The logger: line format and levels, batching, open failures (the
// threads are in logsystem_threads_test.cpp). Every test leaves the logger
// closed, with mask 0 and nothing set, as it is at load.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "logtest.h"

namespace {

using namespace telsor;
using namespace telsor_test;

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

}  // namespace
