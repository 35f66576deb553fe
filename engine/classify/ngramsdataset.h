// CNGramsOnFileDataSet: the training set of the n-gram classifiers, a file
// set (classify/dataset.h) whose cursor also turns the current record's text
// into its n-gram vector (stop words out, not normalised).
//
//   srand(1);                                       // the shuffle's order
//   CNGramsOnFileDataSet set(5);
//   set.Open("corpus/ham", "corpus/spam", "*");
//   CNGramsTextClassifier spam(5);
//   HRESULT hr = spam.Train(set, 10.0, 0.001, 1e-12);
//   double dot = set.GetNGramsVector().DotProduct();  // the current record's
//
// PrepareText is the hook by which a host turns a file's bytes into the text
// that is trained on (the whole file here). CreateTextKernelMatrix with no
// kernel builds the Gram matrix of the set's own n-gram vectors, each
// weighted by its class as the text builder does, its rows computed through
// an inverted index of the vectors (classify/ngramsindex.h, the same values
// as the pairwise dot products), each record read once while the vectors
// and their index fit in a fifth of physical memory (in blocks re-reading
// the records after them beyond that); with a kernel it is the text
// builder's. Like every data set it belongs to one thread.
#ifndef TELSOR_CLASSIFY_NGRAMSDATASET_H
#define TELSOR_CLASSIFY_NGRAMSDATASET_H

#include "classify/dataset.h"
#include "classify/ngramsvector.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CNGramsOnFileDataSet : public CFileDataSet {
 public:
  explicit CNGramsOnFileDataSet(WORD n = 5);
  ~CNGramsOnFileDataSet() override;

  // The file's text through PrepareText, then its n-gram vector.
  void ReadText(ULONG i) override;
  void CreateTextKernelMatrix(CMatrix& matrix, const CTextKernel* kernel) override;
  using CMetricDataSet::CreateMetricKernelMatrix;

  // Turns the bytes of a record's file (in text) into the text trained on.
  virtual void PrepareText(TSTRING& text);

  const CNGramsVector& GetNGramsVector() const { return m_ngrams; }
  WORD GetLenNGrams() const { return m_wN; }

 protected:
  WORD m_wN;
  CNGramsVector m_ngrams;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_NGRAMSDATASET_H
