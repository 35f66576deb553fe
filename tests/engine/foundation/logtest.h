// The logger tests' fixture: a temporary directory with the output stream
// and the log file, a fixed time zone, the report callbacks, and a parser
// of written lines. Every test leaves the logger closed, with mask 0 and
// nothing set, as it is at load.
#ifndef TELSOR_TESTS_LOGTEST_H
#define TELSOR_TESTS_LOGTEST_H

#include <gtest/gtest.h>

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/tempdir.h"
#include "foundation/logsystem.h"

namespace telsor_test {

using namespace telsor;

// Local time in the tests is UTC+5:30, so a line written from UTC would show.
inline const char kZone[] = "IST-5:30";
inline const time_t kZoneOffset = 5 * 3600 + 30 * 60;

inline std::mutex g_reportsMutex;
inline std::vector<std::pair<DWORD, std::string>> g_reports;
inline std::atomic<int> g_reportCount{0};

inline void Record(DWORD level, const char* text) {
  std::lock_guard<std::mutex> guard(g_reportsMutex);
  g_reports.emplace_back(level, text);
}

inline void Count(DWORD, const char*) { ++g_reportCount; }

inline DWORD ThisThread() { return static_cast<DWORD>(static_cast<uintptr_t>(pthread_self())); }

// The line expected for a message logged at t by thread, from the
// UTC-based calendar shifted by the test zone's offset.
inline std::string Expected(const char* namePart, DWORD thread, time_t t, const std::string& text) {
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

inline Parsed ParseLine(const std::string& line) {
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

inline std::string ReadText(const std::string& path) {
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

}  // namespace telsor_test

#endif  // TELSOR_TESTS_LOGTEST_H
