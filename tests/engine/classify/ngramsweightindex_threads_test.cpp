// Many threads score through one classifier's weight table at once, and
// through copies of the classifier that share it, while the copies come and
// go: every value is the merge's.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "classify/ngramsclassifier.h"

using namespace telsor;

namespace {

TEST(NGramsWeightIndexThreads, ConcurrentScoringOfOneClassifier) {
  CNGramsTextClassifier c(5);
  std::string model;
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) {
    std::string t = "message " + std::to_string(i * 7919) + " cheap pills meeting agenda " + std::to_string(i);
    texts.push_back(t);
    model += t + " ";
  }
  c.SetWeights(c.Text2Vector(model));
  c.SetB(0.125);
  ASSERT_GT(c.GetWeightIndexBytes(), 0u);
  std::vector<CNGramsVector> messages;
  std::vector<double> expected;
  for (const std::string& t : texts) {
    messages.push_back(c.Text2Vector(t));
    expected.push_back(c.GetWeights().DotProduct(messages.back()) - c.GetB());
  }

  std::atomic<int> bad(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        // Odd threads score through a copy of their own, which shares the table.
        CNGramsTextClassifier copy(c);
        const CNGramsTextClassifier& through = t % 2 ? copy : c;
        for (size_t i = 0; i < messages.size(); ++i)
          if (through.EvaluateVector(messages[i])[0] != expected[i]) ++bad;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
