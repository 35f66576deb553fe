// The engine logger's messages, caught for the life of the object: the
// logger is opened with the given level mask and a report callback, and
// left closed, with mask 0 and no callback, as it is at load.
//
//   telsor_test::CLogCapture log(1);              // level 1 "Error"
//   classifier.LoadData("/data/Qor.bin");
//   EXPECT_EQ(log.Messages().size(), 1u);        // "Classifier file ... refused: ..."
#ifndef TELSOR_TESTS_COMMON_LOGCAPTURE_H
#define TELSOR_TESTS_COMMON_LOGCAPTURE_H

#include <mutex>
#include <string>
#include <vector>

#include "foundation/logsystem.h"

namespace telsor_test {

class CLogCapture {
 public:
  explicit CLogCapture(DWORD mask) {
    Clear();
    telsor::OpenLogSystem(1000);
    telsor::SetLogLevel(mask);
    telsor::SetExternReportEvent(&Record);
  }
  ~CLogCapture() {
    telsor::SetExternReportEvent(nullptr);
    telsor::SetLogLevel(0);
    telsor::CloseLogSystem();
  }
  CLogCapture(const CLogCapture&) = delete;
  CLogCapture& operator=(const CLogCapture&) = delete;

  // The texts logged so far, in order.
  std::vector<std::string> Messages() const {
    std::lock_guard<std::mutex> guard(Lock());
    return Texts();
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(Lock());
    Texts().clear();
  }

 private:
  static std::mutex& Lock() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& Texts() {
    static std::vector<std::string> texts;
    return texts;
  }
  static void Record(DWORD, const char* text) {
    std::lock_guard<std::mutex> guard(Lock());
    Texts().push_back(text != nullptr ? text : "");
  }
};

}  // namespace telsor_test

#endif  // TELSOR_TESTS_COMMON_LOGCAPTURE_H
