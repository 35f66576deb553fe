// The SMO trainer on small dense sets, checked against the optimality
// conditions of the dual problem (which hold for the one optimum, whoever
// computes it): bounds on every multiplier, the equality constraint, the two
// thresholds within the tolerance, and every example on the right side of
// the margin for its multiplier.
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "classify/randomgenerator.h"
#include "classify/smo.h"
#include "classify/svmachine.h"
#include "densesmo.h"
#include "foundation/logsystem.h"
#include "foundation/results.h"

using namespace telsor;

namespace {

// The thresholds over all examples as they stand (the trainer's own may lag
// behind: they are updated only where it looked).
void TrueThresholds(CDenseSMO& smo, double& low, double& up) {
  low = -INFINITY;
  up = INFINITY;
  for (ULONG i = 0; i < smo.GetExampleCount(); ++i) {
    const auto& e = smo.GetRecord(i);
    if (e.flags & CSMOptimization::EXCLUDED) continue;
    const double F = smo.LearnedFunc(i) - e.y;
    if (e.flags & CSMOptimization::I_UP) up = std::min(up, F);
    if (e.flags & CSMOptimization::I_LOW) low = std::max(low, F);
  }
}

void ExpectOptimal(CDenseSMO& smo, double C) {
  const double tol = smo.GetTolerance();
  double low, up;
  TrueThresholds(smo, low, up);
  EXPECT_LE(low, up + 2 * tol + 1e-9);
  const double b = (low + up) / 2;
  double balance = 0;
  for (ULONG i = 0; i < smo.GetExampleCount(); ++i) {
    const auto& e = smo.GetRecord(i);
    if (e.flags & CSMOptimization::EXCLUDED) continue;
    EXPECT_GE(e.alpha, 0.0) << i;
    if (smo.IsBounded()) {
      EXPECT_LE(e.alpha, C + 1e-9) << i;
    }
    balance += e.alpha * e.y;
    // Margin conditions: y (f - b) >= 1 at alpha 0, <= 1 at C, = 1 between.
    const double margin = e.y * (smo.LearnedFunc(i) - b);
    const double slack = 2 * tol + 1e-6;
    if (e.alpha <= 0) {
      EXPECT_GE(margin, 1 - slack) << i;
    } else if (smo.IsBounded() && e.alpha >= C) {
      EXPECT_LE(margin, 1 + slack) << i;
    } else {
      EXPECT_NEAR(margin, 1, slack) << i;
    }
  }
  EXPECT_NEAR(balance, 0.0, 1e-9);
}

TEST(SMO, SeparableSetWithoutBound) {
  std::vector<std::vector<double>> x;
  std::vector<short> y;
  Clouds(40, 0.3, 1, x, y);
  CCountingMachine machine;
  CDenseSMO smo(machine, x, y);
  smo.Execute(CSMOptimization::NO_BOUND, 1e-3, 1e-12);
  EXPECT_FALSE(smo.IsBounded());
  ExpectOptimal(smo, CSMOptimization::NO_BOUND);
  EXPECT_EQ(static_cast<DWORD>(machine.steps), smo.GetIterationCount());
  EXPECT_GT(machine.steps, 0);
}

TEST(SMO, OverlappingSetsWithBoundsAndKernels) {
  for (double C : {0.1, 1.0, 10.0}) {
    for (bool gaussian : {false, true}) {
      std::vector<std::vector<double>> x;
      std::vector<short> y;
      Clouds(60, 1.0, 7, x, y);
      CCountingMachine machine;
      CDenseSMO smo(machine, x, y, gaussian);
      smo.Execute(C, -1e-3, 0);  // a negative tolerance and epsilon 0 are taken as meant
      EXPECT_TRUE(smo.IsBounded());
      EXPECT_EQ(smo.GetTolerance(), 1e-3);
      EXPECT_EQ(smo.GetEpsilon(), 2.220446049250313e-13);
      SCOPED_TRACE(testing::Message() << "C " << C << (gaussian ? " Gaussian" : " linear"));
      ExpectOptimal(smo, C);
    }
  }
}

TEST(SMO, InfiniteAndNaNBoundsAreNoBound) {
  for (double C : {INFINITY, NAN}) {
    std::vector<std::vector<double>> x;
    std::vector<short> y;
    Clouds(20, 0.3, 3, x, y);
    CCountingMachine machine;
    CDenseSMO smo(machine, x, y);
    smo.Execute(C, 1e-3, 1e-12);
    EXPECT_FALSE(smo.IsBounded());
    EXPECT_EQ(smo.GetC(), CSMOptimization::NO_BOUND);
  }
}

TEST(SMO, EqualExamplesAreExcluded) {
  std::vector<std::vector<double>> x = {{1, 1}, {1, 1}, {-1, -1}, {-1, -2}};
  std::vector<short> y = {1, 1, -1, -1};
  CCountingMachine machine;
  CDenseSMO smo(machine, x, y, true);
  smo.Execute(10.0, 1e-3, 1e-12);
  ExpectOptimal(smo, 10.0);
  // A step between the two equal examples reports them and leaves the
  // first one out of every later step and threshold.
  smo.m_equal.clear();
  smo.TakeStep(0, 1);
  ASSERT_EQ(smo.m_equal.size(), 1u);
  EXPECT_EQ(smo.m_equal[0], std::make_pair(ULONG(0), ULONG(1)));
  EXPECT_TRUE(smo.GetRecord(0).flags & CSMOptimization::EXCLUDED);
  EXPECT_EQ(smo.ExamineExample(0), 0);
  EXPECT_EQ(smo.TakeStep(0, 0), 0);
}

TEST(SMO, BadLabelsAndEmptySets) {
  CCountingMachine machine;
  CDenseSMO bad(machine, {{1}, {2}}, {1, 0});
  try {
    bad.Execute(1.0, 1e-3, 1e-12);
    FAIL() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_INVALID_DATA));
  }
  CDenseSMO empty(machine, {}, {});
  empty.Execute(1.0, 1e-3, 1e-12);
  EXPECT_EQ(empty.GetIterationCount(), 0u);
  EXPECT_EQ(empty.GetExampleCount(), 0u);
  // One class only: nothing to separate, nothing breaks.
  CDenseSMO oneClass(machine, {{1}, {2}, {3}}, {1, 1, 1});
  oneClass.Execute(1.0, 1e-3, 1e-12);
  for (ULONG i = 0; i < 3; ++i) EXPECT_EQ(oneClass.GetRecord(i).alpha, 0.0);
}

TEST(SMO, FeasibleSegments) {
  CCountingMachine machine;
  CDenseSMO smo(machine, {{1}, {-1}}, {1, -1});
  smo.Execute(2.0, 1e-3, 1e-12);
  double L, H;
  smo.EvaluateFeasibleValue(1.5, 1.0, true, L, H);
  EXPECT_EQ(L, 0.5);
  EXPECT_EQ(H, 2.0);
  smo.EvaluateFeasibleValue(0.5, 0.25, true, L, H);
  EXPECT_EQ(L, 0.0);
  EXPECT_EQ(H, CSMOptimization::NO_BOUND);
  smo.EvaluateFeasibleValue(1.5, 0.5, false, L, H);
  EXPECT_EQ(L, 0.0);
  EXPECT_EQ(H, 1.0);
  smo.EvaluateFeasibleValue(0.5, 1.5, false, L, H);
  EXPECT_EQ(L, 1.0);
  EXPECT_EQ(H, 2.0);
}

// Records the first pair of different examples whose kernel value is asked
// for: the pair that the optimiser's opening step takes.
class CFirstPairSMO : public CDenseSMO {
 public:
  using CDenseSMO::CDenseSMO;
  double EvaluateKernel(ULONG i, ULONG j) override {
    if (i != j && !m_bSeen) {
      m_first = {i, j};
      m_bSeen = true;
    }
    return CDenseSMO::EvaluateKernel(i, j);
  }
  std::pair<ULONG, ULONG> m_first;
  bool m_bSeen = false;
};

// A fixed seed drives the optimiser's random choices: its opening pair is
// the positive and the negative example that a generator seeded alike
// draws, and a second run gives the same multipliers bit for bit.
TEST(SMO, FixedSeedChoosesTheOpeningPairAndRepeatsTheRun) {
  std::vector<std::vector<double>> x;
  std::vector<short> y;
  Clouds(60, 1.0, 11, x, y);  // labels alternate: positives at even indexes
  std::set<std::pair<ULONG, ULONG>> pairs;
  for (ULONG seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
    CRandomGenerator rng;
    rng.Seed(seed);
    const ULONG up = 2 * static_cast<ULONG>(rng.BoundedUniform(0, 30));
    const ULONG low = 2 * static_cast<ULONG>(rng.BoundedUniform(0, 30)) + 1;
    std::vector<double> alphas[2];
    for (int run = 0; run < 2; ++run) {
      CCountingMachine machine;
      CFirstPairSMO smo(machine, x, y, true);
      smo.SetSeed(seed);
      smo.Execute(1.0, 1e-3, 1e-12);
      ASSERT_TRUE(smo.m_bSeen);
      EXPECT_EQ(smo.m_first, std::make_pair(up, low)) << "seed " << seed;
      for (ULONG i = 0; i < smo.GetExampleCount(); ++i) alphas[run].push_back(smo.GetRecord(i).alpha);
    }
    EXPECT_EQ(alphas[0], alphas[1]) << "seed " << seed;
    pairs.insert({up, low});
  }
  EXPECT_GT(pairs.size(), 4u);  // the seeds do choose differently
}

}  // namespace

namespace {

std::vector<std::string>* g_lines = nullptr;
void Collect(DWORD level, const char* text) {
  if (g_lines != nullptr && level == 16) g_lines->push_back(text);
}

// The progress report of a support-vector machine under training: the
// first step reports at once, with the dual objective of the multipliers
// as they stand.
TEST(SMOProgress, FirstStepReportsTheDualObjective) {
  std::vector<std::string> lines;
  g_lines = &lines;
  OpenLogSystem(1);
  const DWORD oldMask = SetLogLevel(16);
  SetExternReportEvent(Collect);

  std::vector<std::vector<double>> x = {{1, 0}, {-1, 0}};
  CSVMachine machine;
  CDenseSMO smo(machine, x, {1, -1});
  smo.Execute(10.0, 1e-3, 1e-12);

  SetExternReportEvent(nullptr);
  SetLogLevel(oldMask);
  CloseLogSystem();
  g_lines = nullptr;

  // The first step of this pair is the optimum: alpha = 0.5 for both,
  // objective 0.5 + 0.5 - 0.5 x (0.25 + 0.25 + 0.25 + 0.25) x 1 = 0.5.
  auto at = std::find(lines.begin(), lines.end(), std::string("Total iterations 0"));
  ASSERT_NE(at, lines.end());
  ASSERT_GE(lines.end() - at, 6);
  EXPECT_EQ(at[1], "Sum Lagrange coefficients. 1");
  EXPECT_EQ(at[2], "Objective function........ 0.5");
  EXPECT_EQ(at[3], "Non bound................. 2");
  EXPECT_EQ(at[4], "Down bound support........ 0");
  EXPECT_EQ(at[5], "Up bound support.......... 0");
  EXPECT_NE(machine.GetReportTime(), 0u);
  // Within 90 seconds there is no second report.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("Total iterations", 0) == 0; }),
            1);
}

}  // namespace
