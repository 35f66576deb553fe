// Training of n-gram classifiers on small sets of files: the full-matrix and
// cached roads agree, the weight vector is the sum of the support vectors'
// contributions, pruning keeps the strongest entries, bad sets give codes.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "foundation/errorroad.h"
#include "classify/ngramsclassifier.h"
#include "classify/ngramsdataset.h"
#include "classify/ngramstrain.h"
#include "common/tempdir.h"
#include "foundation/results.h"

using namespace telsor;
using telsor_test::TempDir;

namespace {

const char* kHamWords[] = {"meeting", "schedule", "project", "report", "lunch", "review", "budget", "agenda"};
const char* kSpamWords[] = {"viagra", "lottery", "winner", "discount", "casino", "prize", "cheap", "offer"};

// n ham and n spam texts built from two vocabularies with some overlap.
void MakeCorpus(const TempDir& dir, int n, bool withEmpty = false) {
  std::filesystem::create_directories(dir / "ham");
  std::filesystem::create_directories(dir / "spam");
  for (int i = 0; i < n; ++i) {
    std::string ham = "Hello team ", spam = "Dear friend ";
    for (int k = 0; k < 6; ++k) {
      ham += std::string(kHamWords[(i * 3 + k * 5) % 8]) + " ";
      spam += std::string(kSpamWords[(i * 5 + k * 3) % 8]) + " ";
    }
    ham += "regards " + std::to_string(i);
    spam += "click now " + std::to_string(i);
    telsor_test::WriteFileBytes(dir / ("ham/h" + std::to_string(i)), ham);
    telsor_test::WriteFileBytes(dir / ("spam/s" + std::to_string(i)), spam);
  }
  if (withEmpty) telsor_test::WriteFileBytes(dir / "ham/empty", "");
}

void OpenSet(CNGramsOnFileDataSet& set, const TempDir& dir) {
  srand(11);
  set.Open((dir / "ham").c_str(), (dir / "spam").c_str(), "*");
}

double WeightOf(const CNGramsVector& w, const BYTE* ngram) {
  for (DWORD i = 0; i < w.GetCount(); ++i)
    if (memcmp(w.GetEntry(i), ngram, w.GetLenNGrams()) == 0) return w.GetWeight(i);
  return 0.0;
}

}  // namespace

// The same small set on the full Gram matrix and, with the limit lowered to
// nothing, through the caches: the same b and w (up to float weights).
TEST(NGramsTraining, FullMatrixAndCachedRoadsGiveTheSameModel) {
  TempDir dir;
  MakeCorpus(dir, 15, true);
  CNGramsOnFileDataSet set(5);
  OpenSet(set, dir);
  CNGramsTextClassifier full(5), cached(5);
  ASSERT_EQ(full.Train(set, 10.0, 1e-4, 1e-12), S_OK);
  cached.SetFullGramMatrixLimit(0);
  ASSERT_EQ(cached.Train(set, 10.0, 1e-4, 1e-12), S_OK);

  EXPECT_TRUE(isfinite(full.GetB()));
  EXPECT_NEAR(full.GetB(), cached.GetB(), 1e-3);
  const CNGramsVector& a = full.GetWeights();
  const CNGramsVector& b = cached.GetWeights();
  ASSERT_GT(a.GetCount(), 0u);
  double norm = 0, diff = 0;
  for (DWORD i = 0; i < a.GetCount(); ++i) {
    norm += a.GetWeight(i) * a.GetWeight(i);
    const double d = a.GetWeight(i) - WeightOf(b, a.GetEntry(i));
    diff += d * d;
  }
  for (DWORD i = 0; i < b.GetCount(); ++i)
    if (WeightOf(a, b.GetEntry(i)) == 0.0) diff += b.GetWeight(i) * b.GetWeight(i);
  EXPECT_LT(sqrt(diff), 1e-3 * sqrt(norm));
  EXPECT_TRUE(full.GetCoefficients().IsEmpty());
  EXPECT_TRUE(cached.GetCoefficients().IsEmpty());

  // Both classify every training text by its label.
  for (ULONG i = 0; i < set.GetRecordCount(); ++i) {
    set.SetAbsolutePosition(i);
    if (set.GetNGramsVector().GetCount() == 0) continue;
    EXPECT_GT(full.EvaluateText(set.GetText())[0] * set.GetClassLabel(i), 0.0) << i;
    EXPECT_GT(cached.EvaluateText(set.GetText())[0] * set.GetClassLabel(i), 0.0) << i;
  }
}

// A training seed makes the model a function of the set: two trainings with
// one seed give the same b and w bit for bit, on the full matrix and through
// the caches, while other seeds start the optimiser elsewhere (with a loose
// tolerance the optimum it stops at shows where it started).
TEST(NGramsTraining, TrainingSeedRepeatsTheModelOnBothRoads) {
  TempDir dir;
  MakeCorpus(dir, 15);
  CNGramsOnFileDataSet set(5);
  OpenSet(set, dir);
  for (ULONG limit : {CNGramsTextClassifier::FULL_GRAM_MATRIX_LIMIT, 0u}) {
    std::set<double> thresholds;
    for (ULONG seed : {1u, 2u, 3u, 4u}) {
      CNGramsTextClassifier a(5), b(5);
      for (CNGramsTextClassifier* c : {&a, &b}) {
        c->SetFullGramMatrixLimit(limit);
        c->SetTrainingSeed(seed);
        ASSERT_EQ(c->Train(set, 1.0, 0.5, 1e-12), S_OK);
      }
      EXPECT_EQ(a.GetB(), b.GetB()) << "seed " << seed << " limit " << limit;
      const CNGramsVector& wa = a.GetWeights();
      const CNGramsVector& wb = b.GetWeights();
      ASSERT_EQ(wa.GetCount(), wb.GetCount());
      for (DWORD i = 0; i < wa.GetCount(); ++i) {
        EXPECT_EQ(memcmp(wa.GetEntry(i), wb.GetEntry(i), 5), 0) << i;
        EXPECT_EQ(wa.GetWeight(i), wb.GetWeight(i)) << i;
      }
      thresholds.insert(a.GetB());
    }
    EXPECT_GT(thresholds.size(), 1u) << "limit " << limit;
  }
}

// w folded from the multipliers scores each example as the optimiser's own
// function does: sum of y alpha K over the support vectors, minus b.
TEST(NGramsTraining, WeightVectorReproducesTheLearnedFunction) {
  TempDir dir;
  MakeCorpus(dir, 10);
  CNGramsOnFileDataSet set(5);
  OpenSet(set, dir);
  CNGramsTextClassifier c(5);
  CNGramsSMOptimization smo(c, set, nullptr);
  smo.StartCaches();
  smo.Execute(1.0, 1e-4, 1e-12);
  std::vector<double> expected;
  for (ULONG i = 0; i < set.GetRecordCount(); ++i) expected.push_back(smo.LearnedFunc(i));
  c.ProcessTrainResults(set, smo);
  EXPECT_DOUBLE_EQ(c.GetB(), (smo.GetLowThreshold() + smo.GetUpThreshold()) / 2);
  ULONG support = 0;
  for (ULONG i = 0; i < set.GetRecordCount(); ++i) {
    support += smo.GetRecord(i).alpha > 0;
    set.SetAbsolutePosition(i);
    EXPECT_NEAR(c.EvaluateText(set.GetText())[0], expected[i] - c.GetB(), 1e-4) << i;
  }
  EXPECT_GT(support, 1u);
  EXPECT_GT(smo.GetProvider()->GetVectorsRead(), 0u);
  EXPECT_LE(smo.GetProvider()->GetVectorsRead(), 2u * set.GetRecordCount());
}

TEST(NGramsTraining, ReduceWeightVectorKeepsTheStrongestOfEachSign) {
  // Weights +3 +2 +1 0 -1 -2 -3 on the 5-grams "aaaa0" ... "aaaa6".
  const double weights[] = {3, 2, 1, 0, -1, -2, -3};
  struct Case {
    ULONG maxCount;
    double minWeight;
    std::vector<double> kept;
  } cases[] = {
      {7, 0.0, {3, 2, 1, -1, -2, -3}},  // only the zero weight goes
      {2, 0.0, {3, 2, -2, -3}},
      {1, 0.0, {3, -3}},
      {7, 1.5, {3, 2, -2, -3}},
      {0, 0.0, {}},  // none of either sign
  };
  for (const Case& c : cases) {
    CNGramsVector w(5);
    for (int i = 0; i < 7; ++i) {
      std::string g = "aaaa" + std::to_string(i);
      w.InsertEntry(weights[i], reinterpret_cast<const BYTE*>(g.data()));
    }
    CNGramsTextClassifier classifier(5);
    classifier.SetWeights(w);
    classifier.ReduceWeightVector(c.maxCount, c.minWeight);
    std::vector<double> kept;
    for (DWORD i = 0; i < classifier.GetWeights().GetCount(); ++i) kept.push_back(classifier.GetWeights().GetWeight(i));
    EXPECT_EQ(kept, c.kept) << c.maxCount << " " << c.minWeight;
  }
}

TEST(NGramsTraining, BadSetsGiveClearCodes) {
  TempDir dir;
  MakeCorpus(dir, 4);
  std::filesystem::create_directories(dir / "none");
  CNGramsTextClassifier c(5);
  CNGramsOnFileDataSet set(5);
  // No spam: nothing to separate.
  set.Open((dir / "ham").c_str(), (dir / "none").c_str(), "*");
  EXPECT_EQ(c.Train(set, 1.0, 1e-3, 1e-12), ResultFromSystemError(ERROR_INVALID_DATA));
  set.Open((dir / "none").c_str(), (dir / "none").c_str(), "*");
  EXPECT_EQ(c.Train(set, 1.0, 1e-3, 1e-12), ResultFromSystemError(ERROR_INVALID_DATA));
  // Another n-gram length than the classifier's.
  CNGramsOnFileDataSet four(4);
  OpenSet(four, dir);
  EXPECT_EQ(c.Train(four, 1.0, 1e-3, 1e-12), E_INVALIDARG);
  // A Gram matrix of the wrong size.
  OpenSet(set, dir);
  CSymMemMatrix small(3);
  EXPECT_EQ(c.Train(small, set, 1.0, 1e-3, 1e-12), E_INVALIDARG);
  // A message that vanished after listing: the system's error number, on
  // both roads.
  OpenSet(set, dir);
  ASSERT_EQ(unlink(set.GetFNameByIndex(3).c_str()), 0);
  EXPECT_EQ(c.Train(set, 1.0, 1e-3, 1e-12), ERROR_FILE_NOT_FOUND);
  c.SetFullGramMatrixLimit(0);
  EXPECT_EQ(c.Train(set, 1.0, 1e-3, 1e-12), ERROR_FILE_NOT_FOUND);
}
