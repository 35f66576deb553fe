// One compiled tree run, stored and loaded by eight threads at once, each
// with its own script copy and its own interpreter context.
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fakehost.h"
#include "records.h"

namespace {

TEST(SieveInterpreterThreads, OneTreeManyRuns) {
  const char* text =
      "require [\"fileinto\", \"vacation\"];\n"
      "if header :contains [\"Subject\", \"X\"] [\"yes\", \"b\"] { fileinto \"J\"; }\n"
      "if anyof(address :domain :matches \"From\" \"no\", exists \"yes\") { vacation :days 2 \"v\"; keep; }\n"
      "if body :text :regex \"no+\" { discard; } elsif size :over 3 { redirect \"r@x\"; stop; }\n";
  telsor::CSieveScript shared;
  ASSERT_EQ(shared.ParseString(text, nullptr), S_OK);
  CFakeHost reference;
  ASSERT_EQ(reference.Run(shared), S_OK);
  const std::string expected = reference.Calls();
  const std::string form = rec::Stored(shared);
  std::vector<int> failures(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        telsor::CSieveScript copy;
        copy = shared;
        CFakeHost host;
        if (host.Run(copy) != S_OK || host.Calls() != expected) ++failures[t];
        if (rec::Stored(copy) != form) ++failures[t];
        telsor::CSieveScript loaded;
        CFakeHost again;
        if (rec::Load(form, loaded) != S_OK || again.Run(loaded) != S_OK || again.Calls() != expected) ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
