// The training set of n-gram vectors over example files.
#include "classify/ngramsdataset.h"

#include "classify/ngramsindex.h"
#include "foundation/globalmem.h"

namespace telsor {

CNGramsOnFileDataSet::CNGramsOnFileDataSet(WORD n) : m_wN(n), m_ngrams(n) {}

CNGramsOnFileDataSet::~CNGramsOnFileDataSet() {}

void CNGramsOnFileDataSet::PrepareText(TSTRING&) {}

void CNGramsOnFileDataSet::ReadText(ULONG i) {
  // A record that fails to read leaves no vector of an earlier record behind.
  m_ngrams.Empty();
  CFileDataSet::ReadText(i);
  PrepareText(m_text);
  m_ngrams.Create(m_wN, m_text.c_str(), static_cast<DWORD>(m_text.GetLength()), DefaultNextStopWord);
}

void CNGramsOnFileDataSet::CreateTextKernelMatrix(CMatrix& matrix, const CTextKernel* kernel) {
  if (kernel != nullptr) {
    CFileDataSet::CreateTextKernelMatrix(matrix, kernel);
    return;
  }
  // Every vector, with its share of the inverted index, is kept for the
  // whole build while they take at most a fifth of physical memory; blocks
  // of records beyond that are read again per block.
  MEMORYSTATUS status;
  GlobalMemoryStatus(&status);
  CNGramsIndex index;
  BuildGramMatrixByBlocks<CNGramsVector>(
      matrix, GetRecordCount(), status.dwTotalPhys / 5,
      [this]() {
        CNGramsVector v(m_ngrams);
        v *= CurrentClassWeight();
        return v;
      },
      index,
      [](const CNGramsVector& v) {
        return sizeof v + static_cast<ULONGLONG>(v.GetCount()) * (v.GetElemSize() + CNGramsIndex::BytesPerEntry());
      });
}

}  // namespace telsor
