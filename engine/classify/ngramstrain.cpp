// Training of the n-gram text classifiers: the SMO optimiser over n-gram
// vectors with its caches, the results folded into w, and pruning of w.
#include "classify/ngramstrain.h"

#include <math.h>

#include <algorithm>
#include <functional>
#include <new>
#include <vector>

#include "foundation/errorroad.h"
#include "foundation/exception.h"
#include "foundation/logsystem.h"
#include "foundation/results.h"
#include "foundation/throwcode.h"

namespace telsor {

namespace {

const DWORD kDebug = 16;
const DWORD kInfo = 8;
const double kSimilar = 0.5;
const double kLargeCoefficient = 2.5;
const ULONG kGramSlotsPerExample = 4;

// 1 / |v|, or 1.0 for an empty vector.
double InverseLength(double selfProduct) { return selfProduct == 0.0 ? 1.0 : 1.0 / sqrt(selfProduct); }

}  // namespace

// ---- CNGramsGMatrixCalculator ----

CNGramsGMatrixCalculator::CNGramsGMatrixCalculator(CNGramsOnFileDataSet& set)
    : m_nElems(0), m_nVectors(0), m_set(set), m_vectors(CVectorCache::AUTOMATIC_SIZE, 1) {}

CNGramsGMatrixCalculator::~CNGramsGMatrixCalculator() {}

CSharedObjPtr<CNGramCacheItem> CNGramsGMatrixCalculator::VectorOf(DWORD i) {
  CSharedObjPtr<CNGramCacheItem> item = m_vectors.GetObject(i);
  if (item) return item;
  ++m_nVectors;
  m_set.SetAbsolutePosition(i);
  item = new CNGramCacheItem(m_set.GetNGramsVector());
  m_vectors.InsertIntoCache(i, item);
  return item;
}

CSharedObjPtr<CGramMatrixElem> CNGramsGMatrixCalculator::CreateObject(const tag_ELEM_INDEXES& key) {
  CSharedObjPtr<CNGramCacheItem> a = VectorOf(key.dwFirst);
  CSharedObjPtr<CNGramCacheItem> b = VectorOf(key.dwSecond);
  ++m_nElems;
  double v = a->GetVector().DotProduct(b->GetVector());
  if (key.dwFirst == key.dwSecond && v == 0.0) v = 1.0;
  return CSharedObjPtr<CGramMatrixElem>(new CGramMatrixElem(v));
}

// ---- CNGramsSMOptimization ----

CNGramsSMOptimization::CNGramsSMOptimization(CMachine& machine, CNGramsOnFileDataSet& set, const CMatrix* gram)
    : CSMOptimization(machine),
      m_nKernelEvaluations(0),
      m_set(set),
      m_pGram(gram),
      m_gramCache(CGramCache::AUTOMATIC_SIZE, 0) {}

CNGramsSMOptimization::~CNGramsSMOptimization() {
  m_selfProducts.reset();
  m_gramCache.SetObjProvider(nullptr);
  m_provider = nullptr;
}

void CNGramsSMOptimization::StartCaches() {
  const ULONG n = m_set.GetRecordCount();
  const ULONGLONG slots = static_cast<ULONGLONG>(kGramSlotsPerExample) * n;
  const DWORD gramSlots = slots >= CGramCache::AUTOMATIC_SIZE ? CGramCache::AUTOMATIC_SIZE - 1 : static_cast<DWORD>(slots);
  LogMessage(kDebug, "Cache size %d items", static_cast<int>(gramSlots));
  m_provider = new CNGramsGMatrixCalculator(m_set);
  m_provider->GetVectorCache().SetSize(n);
  m_gramCache.SetSize(gramSlots);
  m_gramCache.SetObjProvider(m_provider);

  LogMessage(kDebug, "Start to calculate Self dot products");
  m_selfProducts.reset(new (std::nothrow) double[n == 0 ? 1 : n]);
  if (!m_selfProducts) AfxThrowMemoryException();
  std::fill(m_selfProducts.get(), m_selfProducts.get() + n, 1.0);
  ULONG i = 0;
  for (m_set.MoveFirst(); !m_set.IsEOF() && i < n; m_set.MoveNext(), ++i) {
    if (i % 1000 == 0) {
      LogMessage(kDebug, "Self dot products calculated for %d messages", static_cast<int>(i));
      FlushLogSystem();
    }
    // An empty vector keeps 1.0: its cosine with others is 0, not 0/0.
    const double d = m_set.GetNGramsVector().DotProduct();
    if (d != 0.0) m_selfProducts[i] = d;
  }
  LogMessage(kDebug, "Self dot products calculated for %d messages", static_cast<int>(i));
  LogMessage(kDebug, "End to calculate Self dot products");
  FlushLogSystem();
}

double CNGramsSMOptimization::EvaluateKernel(ULONG i, ULONG j) {
  ++m_nKernelEvaluations;
  if (m_pGram != nullptr) return m_pGram->GetAt(i, j);
  if (i == j) return 1.0;
  const ULONG low = i < j ? i : j;
  const ULONG high = i < j ? j : i;
  const tag_ELEM_INDEXES key = {high, low};
  CSharedObjPtr<CGramMatrixElem> elem = m_gramCache.GetObject(key);
  if (!elem) AfxThrowMemoryException();
  return elem->GetValue() / sqrt(m_selfProducts[low] * m_selfProducts[high]);
}

ULONG CNGramsSMOptimization::ExamplesCount() { return m_set.GetRecordCount(); }

short CNGramsSMOptimization::ClassLabel(ULONG i) { return m_set.GetClassLabel(i); }

void CNGramsSMOptimization::OnEqualExamples(ULONG i, ULONG j) {
  LogMessage(kInfo, "Equal files detected [%d]'%s' and [%d]'%s'", static_cast<int>(i), m_set.GetFNameByIndex(i).c_str(),
             static_cast<int>(j), m_set.GetFNameByIndex(j).c_str());
}

void CNGramsSMOptimization::LogStatistics() const {
  LogMessage(kDebug, "Total kernel evaluations.. %I64d", static_cast<LONGLONG>(m_nKernelEvaluations));
  if (m_provider) {
    LogMessage(kDebug, "Total read NGram vectors.. %I64d", static_cast<LONGLONG>(m_provider->GetVectorsRead()));
    LogMessage(kDebug, "Total kernel evaluations with NGram vectors.. %I64d",
               static_cast<LONGLONG>(m_provider->GetElemsComputed()));
  }
}

// ---- CNGramsTextClassifier training ----

HRESULT CNGramsTextClassifier::TrainResult() {
  try {
    throw;
  } catch (CFileException* e) {
    // The system error number is the file failure's code here.
    const HRESULT code = static_cast<HRESULT>(e->m_lOsError);
    e->Delete();
    return code;
  } catch (...) {
    return ResultOfCurrentException();
  }
}

HRESULT CNGramsTextClassifier::Train(CNGramsOnFileDataSet& set, double C, double tolerance, double epsilon) {
  try {
    TrainOnSet(set, C, tolerance, epsilon);
    return S_OK;
  } catch (...) {
    return TrainResult();
  }
}

HRESULT CNGramsTextClassifier::Train(const CMatrix& gram, CNGramsOnFileDataSet& set, double C, double tolerance,
                                     double epsilon) {
  try {
    TrainOnMatrix(gram, set, C, tolerance, epsilon);
    return S_OK;
  } catch (...) {
    return TrainResult();
  }
}

namespace {

// Refuses a set that cannot give a classifier of n-gram length n.
void CheckTrainingSet(const CNGramsOnFileDataSet& set, WORD n) {
  if (set.GetLenNGrams() != n) ThrowCode(static_cast<DWORD>(E_INVALIDARG));
  if (set.GetClassCount(1) == 0 || set.GetClassCount(-1) == 0) ThrowCode(static_cast<DWORD>(ERROR_INVALID_DATA));
}

}  // namespace

void CNGramsTextClassifier::TrainOnSet(CNGramsOnFileDataSet& set, double C, double tolerance, double epsilon) {
  m_coefficients.Empty();
  m_w.Empty();
  IndexWeights();
  CheckTrainingSet(set, m_wN);
  const ULONG n = set.GetRecordCount();
  if (n <= m_dwFullGramLimit) {
    CSymMemMatrix gram;
    set.CreateTextKernelMatrix(gram, nullptr);
    gram.Align();
    LogMessage(kInfo, "*** Look for similar messages in opposite classes ***");
    for (DWORD i = 1; i < gram.GetRowCount(); ++i) {
      for (DWORD j = 0; j < i; ++j) {
        const double s = gram.GetAt(i, j);
        if (s > kSimilar && set.GetClassLabel(i) != set.GetClassLabel(j))
          LogMessage(kInfo, "Similarity %8.4G See '%s' and '%s'", s, set.GetFNameByIndex(i).c_str(),
                     set.GetFNameByIndex(j).c_str());
      }
    }
    TrainOnMatrix(gram, set, C, tolerance, epsilon);
    return;
  }
  CNGramsSMOptimization smo(*this, set, nullptr);
  if (m_bTrainingSeed) smo.SetSeed(m_dwTrainingSeed);
  smo.StartCaches();
  smo.Execute(C, tolerance, epsilon);
  LogMessage(kDebug, "End SMO optimization");
  smo.LogStatistics();
  ProcessTrainResults(set, smo);
}

void CNGramsTextClassifier::TrainOnMatrix(const CMatrix& gram, CNGramsOnFileDataSet& set, double C, double tolerance,
                                          double epsilon) {
  m_coefficients.Empty();
  m_w.Empty();
  IndexWeights();
  CheckTrainingSet(set, m_wN);
  if (gram.GetRowCount() != set.GetRecordCount() || gram.GetColumnCount() != set.GetRecordCount())
    ThrowCode(static_cast<DWORD>(E_INVALIDARG));
  CNGramsSMOptimization smo(*this, set, &gram);
  if (m_bTrainingSeed) smo.SetSeed(m_dwTrainingSeed);
  LogMessage(kDebug, "Start SMO optimization....");
  smo.Execute(C, tolerance, epsilon);
  smo.LogStatistics();
  ProcessTrainResults(set, smo);
}

void CNGramsTextClassifier::ProcessTrainResults(CNGramsOnFileDataSet& set, const CSMOptimization& smo) {
  m_dB = (smo.GetLowThreshold() + smo.GetUpThreshold()) * 0.5;
  const ULONG n = smo.GetExampleCount();
  ULONG nSV = 0;
  for (ULONG k = 0; k < n; ++k)
    if (smo.GetRecord(k).alpha > 0) ++nSV;
  LogMessage(kInfo, "Print Lagrange multipliers");
  m_coefficients.SetSize(nSV);
  CNGramsVector w(m_wN);
  ULONG m = 0;
  for (ULONG k = 0; k < n; ++k) {
    const CSMOptimization::tag_EXAMPLE& e = smo.GetRecord(k);
    if (!(e.alpha > 0)) continue;
    set.SetAbsolutePosition(k);
    CNGramsVector v(set.GetNGramsVector());
    const double scale = InverseLength(v.DotProduct());
    const double coefficient = set.GetClassLabel(k) == -1 ? -e.alpha : e.alpha;
    m_coefficients.SetAt(m, coefficient);
    LogMessage(kInfo, "[%4d]  %16.10G '%s'", static_cast<int>(m), coefficient, set.GetFNameByIndex(k).c_str());
    v *= coefficient * scale;
    w += v;
    ++m;
  }
  m_w = w;
  IndexWeights();
  LogMessage(kInfo, "End SMO optimization");
  LogMessage(kInfo, "Threshold:  %16.10G", m_dB);
  LogMessage(kInfo, "Total support vectors %d", static_cast<int>(nSV));
  LogMessage(kInfo, "Total entries in weight vector %d", static_cast<int>(m_w.GetCount()));
  LogMessage(kInfo, "Print large coefficients");
  for (ULONG k = 0; k < n; ++k) {
    const CSMOptimization::tag_EXAMPLE& e = smo.GetRecord(k);
    if (!(e.alpha >= kLargeCoefficient)) continue;
    const double coefficient = set.GetClassLabel(k) == -1 ? -e.alpha : e.alpha;
    LogMessage(kInfo, "%16.10G '%s'", coefficient, set.GetFNameByIndex(k).c_str());
  }
  m_coefficients.Empty();
}

namespace {

// Keeps the entries of one sign (sign +1 or -1) of w whose magnitude is at
// least that of the maxCount-th strongest and above minWeight, at most
// maxCount of them in entry order; entries of the other sign all stay.
CNGramsVector KeepStrongest(const CNGramsVector& w, int sign, ULONG maxCount, double minWeight) {
  std::vector<double> magnitudes;
  WithMemoryException([&] {
    for (DWORD i = 0; i < w.GetCount(); ++i) {
      const double x = w.GetWeight(i) * sign;
      if (x > 0) magnitudes.push_back(x);
    }
  });
  std::sort(magnitudes.begin(), magnitudes.end(), std::greater<double>());
  const ULONG m = static_cast<ULONG>(magnitudes.size());
  // maxCount 0 keeps none of this sign; the threshold is then only logged.
  double threshold = 0.0;
  if (m > maxCount && maxCount > 0) {
    threshold = magnitudes[maxCount - 1];
  } else if (m > 0) {
    threshold = magnitudes[m - 1];
  }
  LogMessage(kDebug, sign > 0 ? "Total number of positive n-grams %d. Threshold %G"
                              : "Total number of negative n-grams %d. Threshold %G",
             static_cast<int>(m), threshold * sign);
  CNGramsVector kept(w.GetLenNGrams());
  kept.Reserve(w.GetCount());
  ULONG taken = 0;
  for (DWORD i = 0; i < w.GetCount(); ++i) {
    const double weight = w.GetWeight(i);
    const double x = weight * sign;
    if (x < 0) {
      kept.InsertEntry(weight, w.GetEntry(i));
    } else if (x >= threshold && x > minWeight && taken < maxCount) {
      kept.InsertEntry(weight, w.GetEntry(i));
      ++taken;
    } else if (sign < 0 && x == 0) {
      kept.InsertEntry(weight, w.GetEntry(i));
    }
  }
  return kept;
}

}  // namespace

void CNGramsTextClassifier::ReduceWeightVector(ULONG maxCount, double minWeight) {
  CNGramsVector positive = KeepStrongest(m_w, 1, maxCount, minWeight);
  m_w = KeepStrongest(positive, -1, maxCount, minWeight);
  IndexWeights();
}

}  // namespace telsor
