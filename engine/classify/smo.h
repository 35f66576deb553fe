// CSMOptimization: trains a support-vector machine by sequential minimal
// optimisation with two thresholds (Platt's SMO with the five index sets of
// Keerthi's second modification), fallback partner searches, equal-example
// handling and progress logging. A subclass gives the kernel, the number of
// examples and their labels:
//
//   class CDenseSMO : public CSMOptimization {
//    public:
//     CDenseSMO(CMachine& m, const std::vector<std::vector<double>>& x, const std::vector<short>& y)
//         : CSMOptimization(m), m_x(x), m_y(y) {}
//     double EvaluateKernel(ULONG i, ULONG j) override {   // K(x_i, x_j): here x_i . x_j
//       double sum = 0;
//       for (size_t d = 0; d < m_x[i].size(); ++d) sum += m_x[i][d] * m_x[j][d];
//       return sum;
//     }
//     ULONG ExamplesCount() override { return static_cast<ULONG>(m_y.size()); }
//     short ClassLabel(ULONG i) override { return m_y[i]; }
//    private:
//     const std::vector<std::vector<double>>& m_x;
//     const std::vector<short>& m_y;
//   };
//   std::vector<std::vector<double>> x = {{0, 0}, {0, 1}, {2, 2}, {2, 3}};
//   std::vector<short> y = {-1, -1, 1, 1};    // +1 or -1 only
//   CSVMachine machine;
//   CDenseSMO smo(machine, x, y);
//   smo.Execute(10.0, 0.001, 1e-12);      // C, tolerance, epsilon
//   double alpha0 = smo.GetRecord(0).alpha;
//   double b = (smo.GetLowThreshold() + smo.GetUpThreshold()) / 2;
//
// Execute seeds its random choices (the first pair of examples and the start
// of the random partner search) from the millisecond counter, unless SetSeed
// fixed a seed: then the same set gives the same multipliers on every run.
// After Execute the records hold each example's multiplier and label and
// the thresholds b_low and b_up are set. A label other than +1 and -1 throws
// the bare code ERROR_INVALID_DATA (13); exceptions of the subclass pass
// through. The machine's iteration hook runs after every successful step.
// One thread runs an optimisation; RequestInterrupt may be called from
// another and ends the run after the current pass.
#ifndef TELSOR_CLASSIFY_SMO_H
#define TELSOR_CLASSIFY_SMO_H

#include <atomic>
#include <memory>

#include "classify/machine.h"
#include "classify/randomgenerator.h"
#include "foundation/wintypes.h"

namespace telsor {

class CSMOptimization : public CTrainer {
 public:
  // Example flags.
  static constexpr BYTE SET_I0 = 0x01;  // 0 < alpha < C
  static constexpr BYTE SET_I1 = 0x02;  // y = +1, alpha = 0
  static constexpr BYTE SET_I2 = 0x04;  // y = -1, alpha = C
  static constexpr BYTE SET_I3 = 0x08;  // y = +1, alpha = C
  static constexpr BYTE SET_I4 = 0x10;  // y = -1, alpha = 0
  static constexpr BYTE EXCLUDED = 0x20;
  static constexpr BYTE F_VALID = 0x80;
  static constexpr BYTE I_UP = SET_I0 | SET_I1 | SET_I2;
  static constexpr BYTE I_LOW = SET_I0 | SET_I3 | SET_I4;
  static constexpr double NO_BOUND = 1.7976931348623157e308;

  struct tag_EXAMPLE {
    double alpha;
    double Kii;
    double F;  // f(i) - y, valid when F_VALID is set
    signed char y;
    BYTE flags;
  };

  explicit CSMOptimization(CMachine& machine);
  ~CSMOptimization() override;

  virtual double EvaluateKernel(ULONG i, ULONG j) = 0;
  virtual ULONG ExamplesCount() = 0;
  virtual short ClassLabel(ULONG i) = 0;
  // Two examples turned out equal; nothing here.
  virtual void OnEqualExamples(ULONG i, ULONG j);

  void Execute(double C, double tolerance, double epsilon);
  int TakeStep(ULONG i1, ULONG i2);
  int ExamineExample(ULONG i);
  int TryHeuristic1(ULONG i);
  int TryHeuristic2(ULONG i);
  double LearnedFunc(ULONG i);
  void EvaluateFeasibleValue(double alpha1, double alpha2, bool sameLabels, double& L, double& H) const;
  void UpdateIndexSet(ULONG i, double alpha);
  void UpdateThreshold(ULONG i, int& haveLow, int& haveUp);
  void UpdateThresholds(ULONG i1, ULONG i2);
  void RecalculateCacheValue();

  // Ends a running optimisation after its current pass.
  void RequestInterrupt() { m_interrupt.store(1); }
  // Every later Execute seeds its random choices with seed.
  void SetSeed(ULONG seed) {
    m_dwSeed = seed;
    m_bFixedSeed = true;
  }

  ULONG GetExampleCount() const { return m_n; }
  const tag_EXAMPLE& GetRecord(ULONG i) const { return m_records[i]; }
  double GetC() const { return m_dC; }
  bool IsBounded() const { return m_bBounded; }
  double GetLowThreshold() const { return m_dBLow; }
  double GetUpThreshold() const { return m_dBUp; }
  double GetTolerance() const { return m_dTolerance; }
  double GetEpsilon() const { return m_dEpsilon; }
  ULONG GetI0Size() const { return m_nI0; }

 private:
  double ErrorOf(ULONG i);

  double m_dC;
  CRandomGenerator m_random;
  double m_dTolerance;
  double m_dEpsilon;
  double m_dBLow;
  double m_dBUp;
  ULONG m_iLow;
  ULONG m_iUp;
  ULONG m_nI0;
  std::unique_ptr<tag_EXAMPLE[]> m_records;
  bool m_bBounded;
  ULONG m_n;
  std::atomic<int> m_interrupt;
  ULONG m_dwSeed = 0;
  bool m_bFixedSeed = false;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_SMO_H
