// The structure scan from several threads at once: the shared matchers of
// the body parser (header names, message ends, "begin", the BinHex
// preamble) are only read, so every thread gets the tree a lone scan gives.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/mime/structscanutil.h"

using namespace structscan_test;

namespace {

const char* const kMessages[] = {
    "Content-Type: multipart/mixed; boundary=b\r\n\r\npre\r\n--b\r\n\r\none\r\n--b\r\n"
    "Content-Type: message/rfc822\r\n\r\nFrom: a\r\nSubject: s\r\n\r\nhi\r\n--b--\r\n",
    "Subject: x\r\n\r\nfirst\r\nbegin 644 a.txt\r\n\":&D`\r\n`\r\nend\r\nlast\r\n"
    "From: a@b\r\nSubject: pasted\r\n\r\nbody\r\n.\r\nafter\r\n",
    "Content-Type: text/plain\r\n\r\nsee\r\nTo: x\r\nContent-Type: a; boundary=q\r\n\r\n--q--\r\ntail\r\n",
};

TEST(StructScanThreads, SharedMatchersGiveTheSameTrees) {
  std::vector<std::string> expected;
  for (const char* m : kMessages) expected.push_back(DumpTree(*ScanBoth(m).memory));
  const int kThreads = 6;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 40; ++round) {
        for (size_t i = 0; i < expected.size(); ++i) {
          Scans s = ScanBoth(kMessages[i], 1 + static_cast<ULONG>(t));
          if (DumpTree(*s.memory) != expected[i] || DumpTree(*s.stream, false) != DumpTree(*s.memory, false)) {
            ++mismatches[t];
          }
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, mismatches[t]) << "thread " << t;
}

}  // namespace
