// Sequential minimal optimisation with two thresholds.
#include "classify/smo.h"

#include <math.h>

#include <new>

#include "foundation/exception.h"
#include "foundation/logsystem.h"
#include "foundation/results.h"
#include "foundation/throwcode.h"

namespace telsor {

namespace {

const DWORD kDebug = 16;
const DWORD kInfo = 8;
const double kMinEpsilon = 2.220446049250313e-13;
const DWORD kRecalculateEvery = 10000000;

}  // namespace

CSMOptimization::CSMOptimization(CMachine& machine)
    : CTrainer(machine),
      m_dC(NO_BOUND),
      m_dTolerance(0),
      m_dEpsilon(0),
      m_dBLow(0),
      m_dBUp(0),
      m_iLow(0),
      m_iUp(0),
      m_nI0(0),
      m_bBounded(false),
      m_n(0),
      m_interrupt(0) {}

CSMOptimization::~CSMOptimization() {}

void CSMOptimization::OnEqualExamples(ULONG, ULONG) {}

double CSMOptimization::ErrorOf(ULONG i) {
  tag_EXAMPLE& e = m_records[i];
  if (!(e.flags & F_VALID)) {
    e.F = LearnedFunc(i) - e.y;
    e.flags |= F_VALID;
  }
  return e.F;
}

void CSMOptimization::Execute(double C, double tolerance, double epsilon) {
  ResetIterationCount();
  m_interrupt.store(0);
  m_bBounded = C != NO_BOUND && isfinite(C);
  m_dC = m_bBounded ? C : NO_BOUND;
  m_dTolerance = fabs(tolerance);
  m_dEpsilon = fabs(epsilon) < kMinEpsilon ? kMinEpsilon : fabs(epsilon);
  m_records.reset();
  if (m_bFixedSeed) {
    m_random.Seed(m_dwSeed);
  } else {
    m_random.Seed();
  }
  m_n = ExamplesCount();
  m_records.reset(new (std::nothrow) tag_EXAMPLE[m_n]);
  if (m_n != 0 && !m_records) AfxThrowMemoryException();
  m_dBLow = m_dBUp = 0.0;
  m_iLow = m_iUp = 0;
  m_nI0 = 0;

  ULONG positives = 0, negatives = 0;
  for (ULONG i = 0; i < m_n; ++i) {
    const signed char y = static_cast<signed char>(ClassLabel(i) & 0xFF);
    if (y != 1 && y != -1) ThrowCode(static_cast<DWORD>(ERROR_INVALID_DATA));
    tag_EXAMPLE& e = m_records[i];
    e.y = y;
    e.Kii = EvaluateKernel(i, i);
    e.alpha = 0;
    e.F = 0;
    e.flags = y == 1 ? SET_I1 : SET_I4;
    if (y == 1) {
      ++positives;
    } else {
      ++negatives;
    }
  }
  // A random example of each class holds the first thresholds.
  auto pick = [&](ULONG count, signed char label) -> ULONG {
    ULONG r = static_cast<ULONG>(m_random.BoundedUniform(0, count));
    if (r >= count) r = count - 1;
    for (ULONG i = 0; i < m_n; ++i)
      if (m_records[i].y == label && r-- == 0) return i;
    return 0;
  };
  if (positives > 0) {
    m_iUp = pick(positives, 1);
    m_dBUp = -1.0;
    m_records[m_iUp].F = -1.0;
    m_records[m_iUp].flags |= F_VALID;
  }
  if (negatives > 0) {
    m_iLow = pick(negatives, -1);
    m_dBLow = 1.0;
    m_records[m_iLow].F = 1.0;
    m_records[m_iLow].flags |= F_VALID;
  }
  if (m_n > 0) TakeStep(m_iUp, m_iLow);

  bool examineAll = true;
  int passes = 0, previous = 0;
  while (m_interrupt.load() == 0) {
    int numChanged = 0;
    if (examineAll) {
      passes = previous = 0;
      LogMessage(kDebug, "** Begin to examine all examples");
      LogMessage(kDebug, "Current thresholds low %G upper %G", m_dBLow, m_dBUp);
      FlushLogSystem();
      for (ULONG k = 0; k < m_n; ++k) {
        numChanged += ExamineExample(k);
        if (k > 0 && k % 1000 == 0) {
          LogMessage(kDebug, "** Examined %d examples", static_cast<int>(k));
          FlushLogSystem();
        }
      }
      LogMessage(kDebug, "** End to examine all examples. Changed %d pairs of coefficients", numChanged);
    } else {
      ++passes;
      LogMessage(kDebug, "** Begin altering subset I0");
      LogMessage(kDebug, "Current thresholds low %G upper %G", m_dBLow, m_dBUp);
      int changed = 0;
      while (!(m_dBLow - 2 * m_dTolerance < m_dBUp)) {
        if (changed > 0 && changed % 1000 == 0) {
          LogMessage(kDebug, "Changed %d pairs of coefficients", changed);
          FlushLogSystem();
        }
        const int r = TakeStep(m_iUp, m_iLow);
        changed += r;
        if (r == 0) break;
      }
      LogMessage(kDebug, "** End altering subset I0. Changed %d pairs of coefficients", changed);
      if (changed < static_cast<int>(m_nI0 / 8)) {
        LogMessage(kDebug, "** Examine all examples in subset I0");
        for (ULONG k = 0; k < m_n; ++k) {
          const BYTE f = m_records[k].flags;
          if (!(f & SET_I0) || (f & EXCLUDED)) continue;
          numChanged += ExamineExample(k);
          if (k > 0 && k % 1000 == 0) {
            LogMessage(kDebug, "** Examined %d examples. Changed %d pairs", static_cast<int>(k), numChanged);
            FlushLogSystem();
          }
        }
        LogMessage(kDebug, "** End examine all examples in subset I0. Changed %d pairs of coefficients", numChanged);
        const int before = numChanged;
        if ((numChanged > previous && passes > 39) || numChanged <= static_cast<int>(m_nI0 / 10)) numChanged = 0;
        previous = before;
      }
    }
    FlushLogSystem();
    if (examineAll) {
      examineAll = false;
    } else if (numChanged == 0) {
      examineAll = true;
    }
    if (numChanged == 0 && !examineAll) break;
  }
  if (m_interrupt.load() != 0) LogMessage(kInfo, "SMO has been interrupted by an external signal");
  LogMessage(kDebug, "Total %d iterations", static_cast<int>(GetIterationCount()));
  LogMessage(kDebug, "Thresholds are low %G up %G", m_dBLow, m_dBUp);
}

void CSMOptimization::EvaluateFeasibleValue(double alpha1, double alpha2, bool sameLabels, double& L,
                                            double& H) const {
  if (sameLabels) {
    const double s = alpha1 + alpha2;
    if (m_bBounded && s > m_dC) {
      L = s - m_dC;
      H = m_dC;
    } else {
      L = 0;
      H = NO_BOUND;
    }
    return;
  }
  const double d = alpha1 - alpha2;
  if (m_bBounded) {
    if (d > 0) {
      L = 0;
      H = m_dC - d;
    } else {
      L = -d;
      H = m_dC;
    }
  } else {
    L = d < 0 ? -d : 0;
    H = NO_BOUND;
  }
}

int CSMOptimization::TakeStep(ULONG i1, ULONG i2) {
  if (i1 == i2) return 0;
  tag_EXAMPLE& e1 = m_records[i1];
  tag_EXAMPLE& e2 = m_records[i2];
  const double E1 = ErrorOf(i1), E2 = ErrorOf(i2);
  const double alpha1 = e1.alpha, alpha2 = e2.alpha;
  const double y1 = e1.y, y2 = e2.y;
  double L, H;
  EvaluateFeasibleValue(alpha1, alpha2, e1.y == e2.y, L, H);
  if (L == H) return 0;
  const double k11 = e1.Kii, k22 = e2.Kii, k12 = EvaluateKernel(i1, i2);
  const double eta = 2 * k12 - k11 - k22;
  double a2;
  if (eta < 0) {
    a2 = alpha2 - y2 * (E1 - E2) / eta;
    if (a2 < L) a2 = L;
    if (m_bBounded && a2 > H) a2 = H;
  } else {
    LogMessage(kDebug, "Numerical instability [%d,%d]. Eta = %G\n", static_cast<int>(i1), static_cast<int>(i2), eta);
    if (k12 == k11 || k12 == k22) {
      OnEqualExamples(i1, i2);
      LogMessage(kDebug, "Equal examples [%d,%d] in training set\n", static_cast<int>(i1), static_cast<int>(i2));
      e1.flags |= EXCLUDED;
      a2 = alpha1 + alpha2;
      if (a2 < L) a2 = L;
      if (m_bBounded && a2 > H) a2 = H;
    } else if (!m_bBounded) {
      a2 = alpha2;
    } else {
      const double c = y2 * (E1 - E2) - eta * alpha2;
      const double Lobj = L * (0.5 * eta * L + c), Hobj = H * (0.5 * eta * H + c);
      if (Lobj > Hobj + m_dEpsilon) {
        a2 = 0;
      } else if (Lobj < Hobj - m_dEpsilon) {
        a2 = m_dC;
      } else {
        a2 = alpha2;
      }
    }
    FlushLogSystem();
  }
  if (fabs(a2 - alpha2) < m_dEpsilon * (a2 + alpha2 + m_dEpsilon)) return 0;
  const double s = y1 * y2;
  double a1 = alpha1 - s * (a2 - alpha2);
  if (a1 < 0) {
    a2 += s * a1;
    a1 = 0;
  } else if (m_bBounded && a1 > m_dC) {
    a2 += s * (a1 - m_dC);
    a1 = m_dC;
  }
  // Multipliers a rounding error away from a bound go onto it (the first
  // one's difference moves into the second, keeping the sum of y alpha):
  // left a hair below C, a multiplier would stay in I0, where no step can
  // move it, and the run would end short of the optimum.
  const double snap = m_dEpsilon * (m_bBounded && m_dC > 1 ? m_dC : 1);
  if (a1 > 0 && a1 < snap) {
    a2 += s * a1;
    a1 = 0;
  } else if (m_bBounded && a1 < m_dC && a1 > m_dC - snap) {
    a2 -= s * (m_dC - a1);
    a1 = m_dC;
  }
  if (a2 < snap) {
    a2 = 0;
  } else if (m_bBounded && a2 > m_dC - snap) {
    a2 = m_dC;
  }
  const double t1 = y1 * (a1 - alpha1), t2 = y2 * (a2 - alpha2);
  e1.flags &= static_cast<BYTE>(~F_VALID);
  e2.flags &= static_cast<BYTE>(~F_VALID);
  for (ULONG k = 0; k < m_n; ++k) {
    tag_EXAMPLE& e = m_records[k];
    if (e.flags & EXCLUDED) continue;
    if ((e.flags & SET_I0) && (e.flags & F_VALID)) {
      if (a1 != alpha1) e.F += t1 * EvaluateKernel(i1, k);
      if (a2 != alpha2) e.F += t2 * EvaluateKernel(i2, k);
    } else {
      e.flags &= static_cast<BYTE>(~F_VALID);
    }
  }
  e1.alpha = a1;
  e2.alpha = a2;
  UpdateIndexSet(i1, a1);
  UpdateIndexSet(i2, a2);
  e1.F = E1 + t1 * k11 + t2 * k12;
  e2.F = E2 + t1 * k12 + t2 * k22;
  e1.flags |= F_VALID;
  e2.flags |= F_VALID;
  UpdateThresholds(i1, i2);
  OnEachIteration();
  return a1 != alpha1 || a2 != alpha2 ? 1 : 0;
}

int CSMOptimization::ExamineExample(ULONG i) {
  tag_EXAMPLE& e = m_records[i];
  if (e.flags & EXCLUDED) return 0;
  const double Fi = ErrorOf(i);
  const bool up = (e.flags & I_UP) != 0, low = (e.flags & I_LOW) != 0;
  if (up && Fi < m_dBUp) {
    m_dBUp = Fi;
    m_iUp = i;
  }
  if (low && Fi > m_dBLow) {
    m_dBLow = Fi;
    m_iLow = i;
  }
  bool violation = false;
  ULONG partner = 0;
  if (up && m_dBLow - Fi > m_dTolerance) {
    violation = true;
    partner = m_iLow;
  }
  if (low && Fi - m_dBUp > m_dTolerance) {
    violation = true;
    partner = m_iUp;
  }
  if (!violation) return 0;
  if (e.flags & SET_I0) partner = m_dBLow - Fi > Fi - m_dBUp ? m_iLow : m_iUp;
  if (TakeStep(i, partner)) return 1;
  if (TryHeuristic1(i)) return 1;
  return TryHeuristic2(i);
}

int CSMOptimization::TryHeuristic1(ULONG i) {
  const double Fi = m_records[i].F;
  double best = 0;
  ULONG chosen = 0;
  bool found = false;
  for (ULONG k = 0; k < m_n; ++k) {
    const tag_EXAMPLE& e = m_records[k];
    if (!(e.flags & SET_I0) || (e.flags & EXCLUDED) || !(e.flags & F_VALID)) continue;
    const double gap = fabs(Fi - e.F);
    if (gap > best) {
      best = gap;
      chosen = k;
      found = true;
    }
  }
  return found ? TakeStep(i, chosen) : 0;
}

int CSMOptimization::TryHeuristic2(ULONG i) {
  if (m_n == 0) return 0;
  ULONG start = static_cast<ULONG>(m_random.BoundedUniform(0, m_n));
  if (start >= m_n) start = m_n - 1;
  for (ULONG m = start; m < start + m_n; ++m) {
    const ULONG k = m % m_n;
    const tag_EXAMPLE& e = m_records[k];
    if (!(e.flags & SET_I0) || (e.flags & EXCLUDED) || !(e.flags & F_VALID)) continue;
    if (TakeStep(i, k)) return 1;
  }
  return 0;
}

double CSMOptimization::LearnedFunc(ULONG i) {
  double sum = 0;
  for (ULONG k = 0; k < m_n; ++k) {
    const tag_EXAMPLE& e = m_records[k];
    if (e.alpha != 0) sum += e.y * e.alpha * EvaluateKernel(i, k);
  }
  return sum;
}

void CSMOptimization::UpdateIndexSet(ULONG i, double alpha) {
  tag_EXAMPLE& e = m_records[i];
  e.flags &= static_cast<BYTE>(~(SET_I0 | SET_I1 | SET_I2 | SET_I3 | SET_I4));
  if (alpha > 0 && (!m_bBounded || alpha < m_dC)) {
    e.flags |= SET_I0;
  } else if (e.y == 1) {
    e.flags |= alpha > 0 ? SET_I3 : SET_I1;
  } else {
    e.flags |= alpha > 0 ? SET_I2 : SET_I4;
  }
}

void CSMOptimization::UpdateThreshold(ULONG i, int& haveLow, int& haveUp) {
  const tag_EXAMPLE& e = m_records[i];
  const bool forLow = (e.flags & (SET_I0 | SET_I3 | SET_I4)) != 0;
  const bool forUp = (e.flags & SET_I0) != 0 || !forLow;
  if (forLow && (!haveLow || e.F > m_dBLow)) {
    m_dBLow = e.F;
    m_iLow = i;
    haveLow = 1;
  }
  if (forUp && (!haveUp || e.F < m_dBUp)) {
    m_dBUp = e.F;
    m_iUp = i;
    haveUp = 1;
  }
}

void CSMOptimization::UpdateThresholds(ULONG i1, ULONG i2) {
  const DWORD iterations = GetIterationCount();
  if (iterations != 0 && iterations % kRecalculateEvery == 0) RecalculateCacheValue();
  int haveLow = 0, haveUp = 0;
  const bool out1 = (m_records[i1].flags & EXCLUDED) != 0, out2 = (m_records[i2].flags & EXCLUDED) != 0;
  if (!out1) UpdateThreshold(i1, haveLow, haveUp);
  if (!out2) UpdateThreshold(i2, haveLow, haveUp);
  m_nI0 = 0;
  for (ULONG k = 0; k < m_n; ++k) {
    const BYTE f = m_records[k].flags;
    if (!(f & SET_I0) || (f & EXCLUDED)) continue;
    ++m_nI0;
    UpdateThreshold(k, haveLow, haveUp);
  }
  if (out1 || out2) {
    if (!haveLow) {
      m_dBLow = m_dBUp;
      m_iLow = m_iUp;
    }
    if (!haveUp) {
      m_dBUp = m_dBLow;
      m_iUp = m_iLow;
    }
  }
}

void CSMOptimization::RecalculateCacheValue() {
  for (ULONG k = 0; k < m_n; ++k) {
    tag_EXAMPLE& e = m_records[k];
    if ((e.flags & SET_I0) && !(e.flags & EXCLUDED)) {
      e.F = LearnedFunc(k) - e.y;
      e.flags |= F_VALID;
    } else {
      e.flags &= static_cast<BYTE>(~F_VALID);
    }
  }
}

}  // namespace telsor
