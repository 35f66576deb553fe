// Training sets: a cursor over numbered records, each with a class label (+1
// or -1) and a real vector (CMetricDataSet) or a text (CTextDataSet), and the
// builders of a set's Gram matrix, the kernel values of every pair of
// records. CFileDataSet is the text set over two directories of example
// files, one per class.
//
//   CFileDataSet set;
//   set.Open("data/ham", "data/spam", "*");     // lists, shuffles, reads record 0
//   for (set.MoveFirst(); !set.IsEOF(); set.MoveNext()) {
//     short y = set.GetClassLabel(set.GetAbsolutePosition());
//     const TSTRING& text = set.GetText();      // the whole file
//     (void)y;
//     (void)text;
//   }
//   CSymMemMatrix gram;
//   CNGramsKernel kernel(5);
//   set.CreateTextKernelMatrix(gram, &kernel);  // w(i) w(j) k(i, j), see below
//
// Cursor: a new or empty set has both BOF and EOF set. MoveFirst, MoveNext,
// MovePrev, MoveLast, Move and SetAbsolutePosition read the record they land
// on through the subclass's ReadRecord; MoveNext from the last record sets
// EOF and reads nothing. SetAbsolutePosition beyond the set throws the
// file exception for error 1413 (invalid index).
//
// Gram builders: the matrix is resized to n x n and filled through its
// virtual Resize and SetAt. The records are read in blocks (the cache) and
// the rest of the set is read once per block, so each kernel value is
// computed once and the set need not fit in memory. A record whose kernel
// value with itself is 0.0 (an empty text or vector) gets 1.0 on the
// diagonal, so a later normalisation (CMatrix::Align) gives it 0 with every
// other record and 1 with itself. The metric builder sizes its block from a
// fifth of physical memory; the text builder uses blocks of 200 records and
// weights each vector by its class, log2(N / class count) (1.0 for an empty
// class), so an element is w(i) w(j) k(i, j). The text builder needs a
// kernel that makes vectors: a null kernel throws the bare code E_POINTER,
// a kernel whose CreateVector gives null (bag of words, substrings) throws
// the engine's CNotSupportedException* (E_NOTIMPL). Exceptions of the kernel,
// the records or the matrix pass on and leave the matrix partly filled.
// Builders leave the cursor at the end of the set.
//
// File set: Open(negative directory, positive directory, mask) lists every
// file under each directory whose name matches the mask (a shell wildcard
// without regard to case; subdirectories are entered when their names match
// too, and listed as "sub/name"), labels them -1 and +1, and shuffles them
// with the C library's rand() (seed it with srand for a repeatable order).
// An empty directory name gives no records of that class. A directory that
// cannot be read throws the file exception for error 3 (path not found);
// a file that cannot be read when its record is reached throws the file
// exception with the system's error number.
//
// A data set is used by one thread at a time; nothing here locks.
#ifndef TELSOR_CLASSIFY_DATASET_H
#define TELSOR_CLASSIFY_DATASET_H

#include <memory>
#include <vector>

#include "classify/kernel.h"
#include "classify/matrix.h"
#include "classify/realvector.h"
#include "classify/textkernel.h"
#include "foundation/errorroad.h"
#include "foundation/logsystem.h"
#include "foundation/obj.h"
#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CDataSet : public CObj {
 public:
  CDataSet();
  ~CDataSet() override;
  CDataSet(const CDataSet&) = delete;
  CDataSet& operator=(const CDataSet&) = delete;

  virtual ULONG GetRecordCount() const { return m_nRecords; }
  virtual int IsBOF() const { return m_bBOF; }
  virtual int IsEOF() const { return m_bEOF; }
  // Forward (offset >= 0) or back by |offset|, stopping at the first or
  // last record; nothing on an empty set.
  virtual void Move(LONG offset);
  virtual void MoveFirst();
  virtual void MoveNext();
  virtual void MovePrev();
  virtual void MoveLast();
  virtual ULONG GetAbsolutePosition() const { return m_nPosition; }
  virtual void SetAbsolutePosition(ULONG position);
  // Reads record i into the current-record fields.
  virtual void ReadRecord(ULONG i) = 0;

  // Element 0: the current record's class label.
  const CRealVector& GetLabel() const { return m_label; }

 protected:
  // The block walk shared by every Gram builder. make() turns the record
  // under the cursor into an Item; eval(a, b) is the kernel value of two
  // items. Logs the progress at the Debug level.
  template <class Item, class Make, class Eval>
  void BuildGramMatrix(CMatrix& matrix, ULONG cacheSize, Make make, Eval eval);
  // The same walk with blocks of at most cacheSize items that also end once
  // their items take budget bytes or more, as told by bytes(item). The
  // matrix is the same whatever the blocks: an entry below the diagonal is
  // always eval(later record, earlier record).
  template <class Item, class Make, class Eval, class Bytes>
  void BuildGramMatrix(CMatrix& matrix, ULONG cacheSize, ULONGLONG budget, Make make, Eval eval,
                       Bytes bytes);
  // The same walk over a kernel that takes a block at a time:
  // kernel.Load(items, count) once per block, then kernel.Inner(i, out) for
  // out[j] = the value of item i with item j, j <= i (i = 0, 1, ... in
  // order), and kernel.Outer(item, out) for the values of a later record's
  // item with every item of the block.
  template <class Item, class Make, class Kernel, class Bytes>
  void BuildGramMatrixByBlocks(CMatrix& matrix, ULONG cacheSize, ULONGLONG budget, Make make,
                               Kernel& kernel, Bytes bytes);

  CRealVector m_label;
  int m_bBOF;
  int m_bEOF;
  ULONG m_nRecords;
  ULONG m_nPosition;
};

class CMetricDataSet : public CDataSet {
 public:
  CMetricDataSet();
  ~CMetricDataSet() override;

  // Blocks sized so that the cached vectors take at most a fifth of
  // physical memory (at least 2 records); kernel.Evaluate of the vectors.
  virtual void CreateMetricKernelMatrix(CMatrix& matrix, const CKernel& kernel);

  const CRealVector& GetCurrentVector() const { return m_current; }

  // The block size for n records of count elements each with total bytes
  // of physical memory (count 0, such as an empty set, gives n).
  static ULONG MetricCacheSize(ULONG n, ULONG count, DWORD totalPhys);

 protected:
  CRealVector m_current;
};

class CTextDataSet : public CMetricDataSet {
 public:
  CTextDataSet();
  ~CTextDataSet() override;

  // The class label of record i, +1 or -1; i below the record count.
  virtual short GetClassLabel(ULONG i) const = 0;
  // The positive count for a label above 0, else the negative count.
  virtual ULONG GetClassCount(short label) const;
  // Vectors made by the kernel, weighted by class; blocks of 200 records.
  virtual void CreateTextKernelMatrix(CMatrix& matrix, const CTextKernel* kernel);
  // Loads the text of record i into the text field.
  virtual void ReadText(ULONG i) = 0;

  const TSTRING& GetText() const { return m_text; }

  // The class weight log2(total / count); 1.0 for count 0.
  static double ClassWeight(ULONG total, ULONG count);

  static constexpr ULONG TEXT_CACHE_ROWS = 200;

 protected:
  // The weight of the current record's class.
  double CurrentClassWeight() const;

  TSTRING m_text;
  ULONG m_nNegative;
  ULONG m_nPositive;
};

// One record of a file set: the file's name relative to its class directory
// and the class label.
struct LABEL_FNAME {
  TSTRING strFName;
  short nLabel;
};

class CFileDataSet : public CTextDataSet {
 public:
  CFileDataSet();
  ~CFileDataSet() override;

  void ReadRecord(ULONG i) override;
  short GetClassLabel(ULONG i) const override;
  void ReadText(ULONG i) override;
  // Lists and shuffles the records and reads record 0; failures are thrown.
  virtual void Open(const char* negativeDir, const char* positiveDir, const char* mask);
  // No records, empty directories, both cursor flags set.
  virtual void Close();

  // The class directory of record i followed by its name.
  TSTRING GetFNameByIndex(ULONG i) const;
  const TSTRING& GetDirectory(short label) const { return label < 1 ? m_strNegDir : m_strPosDir; }

 protected:
  std::vector<LABEL_FNAME> m_records;
  TSTRING m_strNegDir;
  TSTRING m_strPosDir;
};

// Appends to list the names (relative to root) of the files under root + sub
// that match mask, entering matching subdirectories; sub is a working prefix
// and is as on entry when the call returns.
void EnumFName(const char* root, TSTRING& sub, CPList<TSTRING, TSTRING&>& list, const char* mask);

template <class Item, class Make, class Eval>
void CDataSet::BuildGramMatrix(CMatrix& matrix, ULONG cacheSize, Make make, Eval eval) {
  BuildGramMatrix<Item>(matrix, cacheSize, ~0ULL, make, eval, [](const Item&) { return 0ULL; });
}

// A block kernel (CDataSet::BuildGramMatrixByBlocks) of one value per pair:
// eval(later item, earlier item).
template <class Item, class Eval>
class CPairKernel {
 public:
  explicit CPairKernel(Eval eval) : m_eval(eval), m_items(nullptr), m_count(0) {}
  void Load(const Item* items, ULONG count) {
    m_items = items;
    m_count = count;
  }
  void Inner(ULONG i, double* out) const {
    for (ULONG j = 0; j <= i; ++j) out[j] = m_eval(m_items[i], m_items[j]);
  }
  void Outer(const Item& item, double* out) const {
    for (ULONG k = 0; k < m_count; ++k) out[k] = m_eval(item, m_items[k]);
  }

 private:
  Eval m_eval;
  const Item* m_items;
  ULONG m_count;
};

template <class Item, class Make, class Eval, class Bytes>
void CDataSet::BuildGramMatrix(CMatrix& matrix, ULONG cacheSize, ULONGLONG budget, Make make,
                               Eval eval, Bytes bytes) {
  CPairKernel<Item, Eval> kernel(eval);
  BuildGramMatrixByBlocks<Item>(matrix, cacheSize, budget, make, kernel, bytes);
}

template <class Item, class Make, class Kernel, class Bytes>
void CDataSet::BuildGramMatrixByBlocks(CMatrix& matrix, ULONG cacheSize, ULONGLONG budget,
                                       Make make, Kernel& kernel, Bytes bytes) {
  const DWORD kDebug = 16;
  const ULONG n = GetRecordCount();
  if (cacheSize > n) cacheSize = n;
  if (cacheSize == 0 && n != 0) cacheSize = 1;
  LogMessage(kDebug, "*** Create Gram matrix [%d , %d]. Cache size %d rows", static_cast<int>(n),
             static_cast<int>(n), static_cast<int>(cacheSize));
  matrix.Resize(n, n);
  std::vector<Item> cache;
  std::vector<double> row;
  WithMemoryException([&] {
    cache.reserve(cacheSize);
    row.resize(cacheSize);
  });
  for (ULONG start = 0; start < n;) {
    LogMessage(kDebug, "Processed %d rows", static_cast<int>(start));
    FlushLogSystem();
    SetAbsolutePosition(start);
    cache.clear();
    ULONGLONG used = 0;
    while (cache.size() < cacheSize && (cache.empty() || used < budget) && !IsEOF()) {
      cache.push_back(make());  // within the reserved room
      used += bytes(cache.back());
      MoveNext();
    }
    if (cache.empty()) break;  // fewer records than counted
    const ULONG count = static_cast<ULONG>(cache.size());
    const ULONG end = start + count;
    kernel.Load(cache.data(), count);
    for (ULONG i = start; i < end; ++i) {
      kernel.Inner(i - start, row.data());
      for (ULONG j = start; j <= i; ++j) {
        double v = row[j - start];
        if (i == j && v == 0.0) v = 1.0;
        matrix.SetAt(i, j, v);
        matrix.SetAt(j, i, v);
      }
    }
    while (!IsEOF()) {
      const ULONG r = GetAbsolutePosition();
      Item tail = make();
      kernel.Outer(tail, row.data());
      for (ULONG k = start; k < end; ++k) {
        const double v = row[k - start];
        matrix.SetAt(r, k, v);
        matrix.SetAt(k, r, v);
      }
      MoveNext();
    }
    start = end;
  }
  LogMessage(kDebug, "Processed %d rows", static_cast<int>(n));
  LogMessage(kDebug, "Gram matrix has been built");
  FlushLogSystem();
}

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_DATASET_H
