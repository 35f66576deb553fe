// A support-vector trainer over small dense sets for the SMO tests: the
// kernel is the dot product or the Gaussian exp(-gamma |x - y|^2).
//
//   std::vector<std::vector<double>> x;
//   std::vector<short> y;
//   Clouds(40, 0.3, 1, x, y);          // two clouds, labels alternate +1, -1
//   CCountingMachine machine;
//   CDenseSMO smo(machine, x, y, true);
//   smo.Execute(1.0, 1e-3, 1e-12);
#ifndef TELSOR_TESTS_ENGINE_CLASSIFY_DENSESMO_H
#define TELSOR_TESTS_ENGINE_CLASSIFY_DENSESMO_H

#include <math.h>

#include <random>
#include <utility>
#include <vector>

#include "classify/machine.h"
#include "classify/smo.h"

class CDenseSMO : public telsor::CSMOptimization {
 public:
  // gaussian: exp(-gamma |x - y|^2), gamma 0.5 unless changed.
  CDenseSMO(telsor::CMachine& machine, std::vector<std::vector<double>> x, std::vector<short> y, bool gaussian = false)
      : telsor::CSMOptimization(machine), m_x(std::move(x)), m_y(std::move(y)), m_bGaussian(gaussian) {}
  double EvaluateKernel(ULONG i, ULONG j) override {
    double dot = 0, d2 = 0;
    for (size_t k = 0; k < m_x[i].size(); ++k) {
      dot += m_x[i][k] * m_x[j][k];
      d2 += (m_x[i][k] - m_x[j][k]) * (m_x[i][k] - m_x[j][k]);
    }
    return m_bGaussian ? exp(-m_dGamma * d2) : dot;
  }
  ULONG ExamplesCount() override { return static_cast<ULONG>(m_y.size()); }
  short ClassLabel(ULONG i) override { return m_y[i]; }
  void OnEqualExamples(ULONG i, ULONG j) override { m_equal.push_back({i, j}); }

  std::vector<std::vector<double>> m_x;
  std::vector<short> m_y;
  bool m_bGaussian;
  double m_dGamma = 0.5;
  std::vector<std::pair<ULONG, ULONG>> m_equal;
};

class CCountingMachine : public telsor::CMachine {
 public:
  HRESULT Serialize(IStream*, int) override { return 0; }
  void OnEachIteration(telsor::CTrainer&) override { ++steps; }
  int steps = 0;
};

// Two clouds around (1, 1) and (-1, -1), overlapping when spread is large.
inline void Clouds(int n, double spread, unsigned seed, std::vector<std::vector<double>>& x, std::vector<short>& y) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, spread);
  for (int i = 0; i < n; ++i) {
    const short label = i % 2 == 0 ? 1 : -1;
    x.push_back({label + noise(rng), label + noise(rng), noise(rng)});
    y.push_back(label);
  }
}

// The dual objective sum alpha - 1/2 sum alpha_i alpha_j y_i y_j K(i, j).
inline double DualObjective(CDenseSMO& smo) {
  double sum = 0, quad = 0;
  for (ULONG i = 0; i < smo.GetExampleCount(); ++i) {
    const telsor::CSMOptimization::tag_EXAMPLE& a = smo.GetRecord(i);
    sum += a.alpha;
    for (ULONG j = 0; j < smo.GetExampleCount(); ++j) {
      const telsor::CSMOptimization::tag_EXAMPLE& b = smo.GetRecord(j);
      if (a.alpha != 0 && b.alpha != 0) quad += a.alpha * b.alpha * a.y * b.y * smo.EvaluateKernel(i, j);
    }
  }
  return sum - 0.5 * quad;
}

#endif  // TELSOR_TESTS_ENGINE_CLASSIFY_DENSESMO_H
