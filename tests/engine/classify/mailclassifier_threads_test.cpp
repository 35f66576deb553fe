// Many threads classify while one reloads changing data files: every value
// seen belongs to one of the classifiers on disk, never to a half-replaced
// one.
#include <gtest/gtest.h>

#include <float.h>
#include <math.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "classifierfiles.h"
#include "classify/mailclassifier.h"
#include "common/tempdir.h"

using namespace telsor;
using namespace classify_test;

namespace {

const char kSpam[] = "cheap pills buy now from our online pharmacy at a discount";
const char kHam[] = "the meeting is moved to thursday afternoon, see the agenda";

TEST(MailClassifierThreads, ClassifyWhileReloading) {
  telsor_test::TempDir dir;
  const std::string spamPath = dir / "Qor.bin", categoryPath = dir / "Qor_33.bin";
  CNGramsTextClassifier versions[2] = {ClassifierOf(kSpam, 0.0, 1), ClassifierOf(kHam, 0.5, 2)};

  CMailFeatureExtractor message;
  message.features = CRealVector(CMailClassifier::FEATURE_COUNT);
  message.text = kSpam;
  message.ngrams = versions[0].Text2Vector(message.text);
  double expected[2];
  for (int v = 0; v < 2; ++v) expected[v] = -0.124 + versions[v].EvaluateVector(message.ngrams)[0];

  CMailClassifier classifier;
  WriteForm(spamPath, versions[0], PLAIN);
  classifier.LoadData(spamPath.c_str());

  std::atomic<bool> done(false);
  std::atomic<int> bad(0), seen(0);
  std::vector<std::thread> readers;
  for (int t = 0; t < 6; ++t) {
    readers.emplace_back([&] {
      while (!done.load()) {
        TSTRING verdict;
        const double spam = classifier.ClassifySpam(message, &verdict);
        if (fabs(spam - expected[0]) > 1e-9 && fabs(spam - expected[1]) > 1e-9) ++bad;
        const double category = classifier.ClassifyCategory(message, 33, nullptr);
        if (category != DBL_MAX && fabs(category - (expected[0] + 0.124)) > 1e-9 &&
            fabs(category - (expected[1] + 0.124)) > 1e-9)
          ++bad;
        ++seen;
      }
    });
  }
  for (int round = 1; round <= 60; ++round) {
    WriteForm(spamPath, versions[round % 2], round % 3 == 0 ? GZIP : PLAIN);
    SetTime(spamPath, 5000000 + round);
    if (round % 4 == 0) {
      unlink(categoryPath.c_str());
    } else {
      WriteForm(categoryPath, versions[round % 2], CIPHER);
      SetTime(categoryPath, 6000000 + round);
    }
    classifier.LoadData(spamPath.c_str());
  }
  done = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(seen.load(), 0);
  EXPECT_EQ(classifier.GetSpamUpdateNumber(), 1u);  // round 60 wrote version 0
}

}  // namespace
