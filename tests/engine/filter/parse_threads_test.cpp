// Compiling and printing on several threads at once: each parse has its own
// scanner and parser, and a compiled tree is shared read-only.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "filter/sievescript.h"

namespace {

std::string Print(const telsor::CSieveScript& s) {
  telsor::TSTRING text;
  if (s.PrintToString(text) != S_OK) return "(not printed)";
  return text.c_str();
}

TEST(SieveThreads, ParseAndPrintConcurrently) {
  const std::string script =
      "require \"fileinto\";\n"
      "if header :contains [\"Subject\", \"X\"] [\"a\", \"b\"] { fileinto \"J\"; stop; }\n"
      "elsif address :domain :matches \"From\" \"*.example\" { discard; }\n"
      "if body :text :regex \"fr(e|3)e\" { keep; }\n";
  telsor::CSieveScript shared;
  ASSERT_EQ(shared.ParseString(script.c_str(), nullptr), S_OK);
  const std::string expected = Print(shared);
  std::vector<int> failures(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        telsor::CSieveScript own;
        if (own.ParseString(script.c_str(), nullptr) != S_OK || Print(own) != expected) ++failures[t];
        telsor::CSieveScript copy;
        copy = shared;   // shares the tree
        if (Print(copy) != expected) ++failures[t];
        telsor::CSieveScript bad;
        if (bad.ParseString("if header :count \"ge\" \"a\" \"1\" {}", nullptr) != E_SIEVE_BAD_HEADER_TEST) ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
