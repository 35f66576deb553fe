// The optimiser of n-gram classifier training (CNGramsTextClassifier::Train):
// SMO over the cosine kernel of the examples' n-gram vectors, taken from a
// full Gram matrix computed in advance, or computed on demand through a
// cache of Gram elements whose provider reads vectors through a cache of
// n-gram vectors.
//
//   CNGramsOnFileDataSet set(5);
//   set.Open("ham", "spam", "*");
//   CNGramsTextClassifier c(5);
//   CNGramsSMOptimization smo(c, set, nullptr);        // no matrix: cached road
//   smo.StartCaches();                                 // caches and self products
//   smo.Execute(10.0, 0.001, 1e-12);
//   c.ProcessTrainResults(set, smo);
//
// On the cached road the kernel of two examples is their dot product divided
// by the square root of the product of their self products; an example whose
// vector is empty counts a self product of 1, so it gets 0 with every other
// example and 1 with itself (as on the full-matrix road, whose builder puts
// 1 on such a diagonal before normalising). One thread trains; the vector
// cache keeps its monitor all the same.
#ifndef TELSOR_CLASSIFY_NGRAMSTRAIN_H
#define TELSOR_CLASSIFY_NGRAMSTRAIN_H

#include <memory>

#include "foundation/cachemgr.h"
#include "classify/gramcache.h"
#include "classify/matrix.h"
#include "classify/ngramsclassifier.h"
#include "classify/ngramsdataset.h"
#include "classify/smo.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"

namespace telsor {

// Makes the Gram element of a pair of examples from their n-gram vectors,
// which it keeps in a vector cache by example index.
class CNGramsGMatrixCalculator : public CSharedObj {
 public:
  typedef CCacheMgr<DWORD, DWORD, CNGramCacheItem, NullObjProvider<DWORD, CNGramCacheItem>> CVectorCache;

  explicit CNGramsGMatrixCalculator(CNGramsOnFileDataSet& set);
  ~CNGramsGMatrixCalculator() override;

  // The dot product of the two examples' vectors (1.0 for an empty vector
  // with itself).
  CSharedObjPtr<CGramMatrixElem> CreateObject(const tag_ELEM_INDEXES& key);
  DWORD GetExamplesCount() const { return m_set.GetRecordCount(); }

  ULONGLONG GetElemsComputed() const { return m_nElems; }
  ULONGLONG GetVectorsRead() const { return m_nVectors; }
  CVectorCache& GetVectorCache() { return m_vectors; }

 private:
  CSharedObjPtr<CNGramCacheItem> VectorOf(DWORD i);

  ULONGLONG m_nElems;
  ULONGLONG m_nVectors;
  CNGramsOnFileDataSet& m_set;
  CVectorCache m_vectors;
};

class CNGramsSMOptimization : public CSMOptimization {
 public:
  typedef CCacheMgr<tag_ELEM_INDEXES, const tag_ELEM_INDEXES&, CGramMatrixElem, CNGramsGMatrixCalculator> CGramCache;

  // gram: every kernel value, or null for the cached road (then call
  // StartCaches before Execute).
  CNGramsSMOptimization(CMachine& machine, CNGramsOnFileDataSet& set, const CMatrix* gram);
  ~CNGramsSMOptimization() override;

  // The cached road's provider, its caches (4 n Gram elements, n vectors)
  // and the self products; logs at the Debug level.
  void StartCaches();

  double EvaluateKernel(ULONG i, ULONG j) override;
  ULONG ExamplesCount() override;
  short ClassLabel(ULONG i) override;
  void OnEqualExamples(ULONG i, ULONG j) override;
  void LogStatistics() const;

  ULONGLONG GetKernelEvaluations() const { return m_nKernelEvaluations; }
  const CNGramsGMatrixCalculator* GetProvider() const { return m_provider; }
  const CGramCache& GetGramCache() const { return m_gramCache; }

 private:
  ULONGLONG m_nKernelEvaluations;
  CNGramsOnFileDataSet& m_set;
  const CMatrix* m_pGram;
  std::unique_ptr<double[]> m_selfProducts;
  CSharedObjPtr<CNGramsGMatrixCalculator> m_provider;
  CGramCache m_gramCache;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_NGRAMSTRAIN_H
