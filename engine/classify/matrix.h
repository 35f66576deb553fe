// Matrices of doubles for the learning core: CMatrix (dimensions and generic
// algorithms over virtual element access; it stores no elements),
// CMemMatrix (dense, row-major, its element block shared between copies
// until one writes) and CSymMemMatrix (symmetric, only the lower triangle
// stored, packed row after row).
//
//   IStream* stream = nullptr;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
//   if (FAILED(hr)) return hr;
//   CSymMemMatrix gram(3);                // 3 x 3, 6 stored elements
//   gram.SetAt(0, 0, 4.0);
//   gram.SetAt(1, 1, 1.0);
//   gram.SetAt(2, 2, 1.0);
//   gram.SetAt(2, 0, 0.5);                // also (0, 2)
//   gram.Align();                         // unit diagonal: k(i,j) / sqrt(k(i,i) k(j,j))
//   hr = gram.Serialize(stream, 1);       // the "MATR" record below
//   LARGE_INTEGER zero = {};
//   stream->Seek(zero, STREAM_SEEK_SET, nullptr);
//   CRTTI* rec = GetRTTI("CSymMemMatrix"); // the three classes are registered by name
//   std::unique_ptr<CMatrix> m(static_cast<CMatrix*>(rec->CreateObject()));   // empty, ready to load
//   if (SUCCEEDED(hr)) hr = m->Serialize(stream, 0);   // 3 x 3, (2, 0) = 0.25
//   stream->Release();
//
// The "MATR" record (little-endian): "MATR", u32 rows, u32 columns; then,
// for CMemMatrix and CSymMemMatrix, u64 element count and that many doubles
// (rows x columns row-major, or n(n+1)/2 packed: (0,0), (1,0), (1,1),
// (2,0) ...). A CMatrix record is the first 12 bytes. Loading: a wrong magic,
// a short record, an element count that is not rows x columns (n(n+1)/2) or
// does not fit 32 bits, or a symmetric record that is not square give
// E_FAIL; a failing stream its own code; too little memory E_OUTOFMEMORY. The element block grows as the bytes arrive.
// After any failure the matrix is empty (0 x 0).
//
// Element counts are 32-bit: a matrix whose rows x columns (n(n+1)/2) would
// not fit throws the engine's memory exception, as does any allocation
// failure. Indexes are not checked: callers keep rows below GetRowCount() and
// columns below GetColumnCount(), and size row buffers by the column count
// and column buffers by the row count.
//
// Blocks are shared with atomic counts, so matrices sharing one may live on
// different threads; one matrix object is not safe for concurrent use.
#ifndef TELSOR_CLASSIFY_MATRIX_H
#define TELSOR_CLASSIFY_MATRIX_H

#include "classify/sharedblock.h"
#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"

namespace telsor {

typedef CSharedBlock<double>::Header MATRIX_DATA;

class CMatrix : public CObj {
 public:
  CMatrix() : m_nRows(0), m_nColumns(0) {}
  CMatrix(DWORD rows, DWORD columns) : m_nRows(rows), m_nColumns(columns) {}
  CMatrix(const CMatrix& other) : CObj(), m_nRows(other.m_nRows), m_nColumns(other.m_nColumns) {}
  CMatrix& operator=(const CMatrix& other) = delete;
  ~CMatrix() override;
  CRTTI* GetRuntimeClass() const override;

  DWORD GetRowCount() const { return m_nRows; }
  DWORD GetColumnCount() const { return m_nColumns; }

  virtual void SetAt(DWORD row, DWORD column, double value);  // nothing here
  virtual double GetAt(DWORD row, DWORD column) const;        // 0.0 here
  virtual void SetEach(double value);
  virtual void Empty();
  virtual void Resize(DWORD rows, DWORD columns);
  virtual void GetRow(DWORD row, double* out) const;
  virtual void SetRow(DWORD row, const double* in);
  virtual void GetColumn(DWORD column, double* out) const;
  virtual void SetColumn(DWORD column, const double* in);
  [[nodiscard]] virtual HRESULT Serialize(IStream* stream, int storing);
  using CObj::Serialize;
  // The largest row sum of absolute values; 0.0 without rows.
  virtual double InfinityNorm() const;
  // Normalises a Gram matrix in place: (i, j) / sqrt((j, j) x (i, i)) off
  // the diagonal, using the diagonal as it was, then 1.0 on the diagonal.
  // Works on the leading square of min(rows, columns).
  virtual void Align();
  // Takes the other matrix's dimensions (and, below, its elements).
  virtual CMatrix& Assign(const CMatrix& source);
  virtual CMatrix& operator*=(double f);
  virtual CMatrix& operator/=(double f);
  // Returns the matrix itself, unchanged.
  virtual CMatrix& Transpose();

  static CObj* CreateObject();
  static CRTTI classCMatrix;

 protected:
  // "MATR", rows, columns.
  [[nodiscard]] HRESULT SerializeHeader(IStream* stream, int storing);

  DWORD m_nRows;
  DWORD m_nColumns;
};

class CMemMatrix : public CMatrix {
 public:
  typedef CSharedBlock<double> Block;

  CMemMatrix() : m_pData(Block::Nil()) {}
  // rows x columns elements, all 0.0; a product of 0 gives the empty matrix.
  CMemMatrix(DWORD rows, DWORD columns);
  // The same, then rows x columns doubles copied from data, row-major.
  CMemMatrix(const double* data, DWORD rows, DWORD columns);
  // Empty, then Assign(source).
  explicit CMemMatrix(const CMatrix& source);
  CMemMatrix(const CMemMatrix& source);
  CMemMatrix& operator=(const CMemMatrix& source);
  ~CMemMatrix() override;
  CRTTI* GetRuntimeClass() const override;

  void SetAt(DWORD row, DWORD column, double value) override;
  double GetAt(DWORD row, DWORD column) const override;
  void SetEach(double value) override;
  void Empty() override;
  void Resize(DWORD rows, DWORD columns) override;
  void GetRow(DWORD row, double* out) const override;
  void SetRow(DWORD row, const double* in) override;
  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;
  using CObj::Serialize;
  void Align() override;
  // From another CMemMatrix: shares its block. From any other class:
  // copies its elements row by row.
  CMatrix& Assign(const CMatrix& source) override;
  CMatrix& operator*=(double f) override;
  CMatrix& operator/=(double f) override;
  // Copies one column (one element per row) out of or into the matrix.
  virtual void GetColumns(DWORD column, double* out) const;
  virtual void SetColumns(DWORD column, const double* in);
  // Attaches a new block for a rows x columns matrix (the previous one is
  // not released: callers release first); non-zero on success. A size of 0
  // attaches the empty block and sets both dimensions to 0.
  virtual BOOL AllocBuffer(DWORD rows, DWORD columns);

  // Points at the empty block with dimensions 0 (nothing released).
  void Init();
  // Attaches a new block of count elements without releasing the previous
  // one; non-zero on success.
  BOOL AllocElements(DWORD count);
  // Drops this matrix's reference to its block and becomes empty (0 x 0).
  void Release();
  static void Release(MATRIX_DATA* data);
  // Takes a private copy of a shared block before a write.
  void CopyBeforeWrite();

  // The elements in use (rows x columns, or n(n+1)/2 when symmetric).
  DWORD GetElementCount() const { return static_cast<DWORD>(m_pData->nCount); }
  const double* GetElements() const { return Block::Items(m_pData); }
  // References held on the element block (-1 for the empty block).
  LONG GetDataRefs() const { return Block::Refs(m_pData); }
  bool SharesDataWith(const CMemMatrix& other) const { return m_pData == other.m_pData; }

  static CObj* CreateObject();
  static CRTTI classCMemMatrix;

 protected:
  // Loads the elements after the header: the count must be expected.
  [[nodiscard]] HRESULT LoadElements(IStream* stream, ULONGLONG expected);
  // Attaches a fresh block and copies as many elements of the old one as fit.
  void UnshareFrom(MATRIX_DATA* old);
  // Shares the source's block with its row count and the given column count
  // (nothing when the block is already this one).
  void ShareBlockOf(const CMemMatrix& source, DWORD columns);
  double* Items() { return Block::Items(m_pData); }
  const double* Items() const { return Block::Items(m_pData); }

  MATRIX_DATA* m_pData;
};

class CSymMemMatrix : public CMemMatrix {
 public:
  CSymMemMatrix() {}
  // n x n, n(n+1)/2 elements, all 0.0; n = 0 gives the empty matrix.
  explicit CSymMemMatrix(DWORD n);
  // n x n from n(n+1)/2 packed doubles (lower triangle by rows).
  CSymMemMatrix(const double* packed, DWORD n);
  // Empty, then Assign(source).
  explicit CSymMemMatrix(const CMatrix& source);
  CSymMemMatrix(const CSymMemMatrix& source);
  CSymMemMatrix& operator=(const CSymMemMatrix& source);
  ~CSymMemMatrix() override;
  CRTTI* GetRuntimeClass() const override;

  void SetAt(DWORD row, DWORD column, double value) override;
  double GetAt(DWORD row, DWORD column) const override;
  // Always square: the column count becomes rows.
  void Resize(DWORD rows, DWORD columns) override;
  // The full symmetric row.
  void GetRow(DWORD row, double* out) const override;
  // Writes (row, j) for j < row and (j, row) for j >= row.
  void SetRow(DWORD row, const double* in) override;
  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;
  using CObj::Serialize;
  void Align() override;
  // From another CSymMemMatrix: shares its block. From any other class:
  // the source's lower triangle and diagonal over its leading square of
  // min(rows, columns); the result is that square.
  CMatrix& Assign(const CMatrix& source) override;
  void GetColumns(DWORD column, double* out) const override;
  void SetColumns(DWORD column, const double* in) override;
  // A block of rows(rows+1)/2 elements; columns are ignored.
  BOOL AllocBuffer(DWORD rows, DWORD columns) override;

  static CObj* CreateObject();
  static CRTTI classCSymMemMatrix;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_MATRIX_H
