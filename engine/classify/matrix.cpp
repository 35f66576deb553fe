// Dense and packed symmetric matrices, their "MATR" record and their
// registration by class name.
#include "classify/matrix.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "classify/recordio.h"
#include "foundation/exception.h"
#include "foundation/win32.h"

namespace telsor {

namespace {

typedef CSharedBlock<double> Block;

const DWORD kMaxElements = 0xFFFFFFFFu;

// rows x columns, or the memory exception when it does not fit 32 bits.
DWORD DenseCount(DWORD rows, DWORD columns) {
  ULONGLONG n = static_cast<ULONGLONG>(rows) * columns;
  if (n > kMaxElements) AfxThrowMemoryException();
  return static_cast<DWORD>(n);
}

ULONGLONG PackedCount64(DWORD n) { return static_cast<ULONGLONG>(n) * (static_cast<ULONGLONG>(n) + 1) / 2; }

DWORD PackedCount(DWORD n) {
  ULONGLONG c = PackedCount64(n);
  if (c > kMaxElements) AfxThrowMemoryException();
  return static_cast<DWORD>(c);
}

// Packed index of (i, j) with i >= j.
inline size_t Packed(DWORD i, DWORD j) { return static_cast<size_t>(i) * (i + 1u) / 2 + j; }

bool IsClass(const CMatrix& m, const char* name) {
  return lstrcmpA(m.GetRuntimeClass()->m_lpszClassName, name) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Run-time class records, registered while the library loads.

CRTTI CMatrix::classCMatrix = {"CMatrix", static_cast<int>(sizeof(CMatrix)), 0xFFFF,
                               &CMatrix::CreateObject, &CObj::classCObj, nullptr};
CRTTI CMemMatrix::classCMemMatrix = {"CMemMatrix", static_cast<int>(sizeof(CMemMatrix)), 0xFFFF,
                                     &CMemMatrix::CreateObject, &CMatrix::classCMatrix, nullptr};
CRTTI CSymMemMatrix::classCSymMemMatrix = {"CSymMemMatrix",
                                           static_cast<int>(sizeof(CSymMemMatrix)), 0xFFFF,
                                           &CSymMemMatrix::CreateObject,
                                           &CMemMatrix::classCMemMatrix, nullptr};
namespace {
CClassInit g_initMatrix(&CMatrix::classCMatrix);
CClassInit g_initMemMatrix(&CMemMatrix::classCMemMatrix);
CClassInit g_initSymMemMatrix(&CSymMemMatrix::classCSymMemMatrix);
}  // namespace

CObj* CMatrix::CreateObject() { return new CMatrix; }
CObj* CMemMatrix::CreateObject() { return new CMemMatrix; }
CObj* CSymMemMatrix::CreateObject() { return new CSymMemMatrix; }

CRTTI* CMatrix::GetRuntimeClass() const { return &classCMatrix; }
CRTTI* CMemMatrix::GetRuntimeClass() const { return &classCMemMatrix; }
CRTTI* CSymMemMatrix::GetRuntimeClass() const { return &classCSymMemMatrix; }

// ---------------------------------------------------------------------------
// CMatrix: generic algorithms over GetAt and SetAt

CMatrix::~CMatrix() {}

void CMatrix::SetAt(DWORD, DWORD, double) {}

double CMatrix::GetAt(DWORD, DWORD) const { return 0.0; }

void CMatrix::SetEach(double value) {
  for (DWORD i = 0; i < m_nRows; ++i)
    for (DWORD j = 0; j < m_nColumns; ++j) SetAt(i, j, value);
}

void CMatrix::Empty() {
  m_nRows = 0;
  m_nColumns = 0;
}

void CMatrix::Resize(DWORD rows, DWORD columns) {
  m_nRows = rows;
  m_nColumns = columns;
}

void CMatrix::GetRow(DWORD row, double* out) const {
  for (DWORD j = 0; j < m_nColumns; ++j) out[j] = GetAt(row, j);
}

void CMatrix::SetRow(DWORD row, const double* in) {
  for (DWORD j = 0; j < m_nColumns; ++j) SetAt(row, j, in[j]);
}

void CMatrix::GetColumn(DWORD column, double* out) const {
  for (DWORD i = 0; i < m_nRows; ++i) out[i] = GetAt(i, column);
}

void CMatrix::SetColumn(DWORD column, const double* in) {
  for (DWORD i = 0; i < m_nRows; ++i) SetAt(i, column, in[i]);
}

double CMatrix::InfinityNorm() const {
  double norm = 0.0;
  for (DWORD i = 0; i < m_nRows; ++i) {
    double sum = 0.0;
    for (DWORD j = 0; j < m_nColumns; ++j) sum += fabs(GetAt(i, j));
    if (sum > norm) norm = sum;
  }
  return norm;
}

void CMatrix::Align() {
  const DWORD n = std::min(m_nRows, m_nColumns);
  for (DWORD i = 0; i < n; ++i) {
    const double dii = GetAt(i, i);
    for (DWORD j = 0; j < n; ++j)
      if (j != i) SetAt(i, j, GetAt(i, j) / sqrt(GetAt(j, j) * dii));
  }
  for (DWORD i = 0; i < n; ++i) SetAt(i, i, 1.0);
}

CMatrix& CMatrix::Assign(const CMatrix& source) {
  m_nRows = source.m_nRows;
  m_nColumns = source.m_nColumns;
  return *this;
}

CMatrix& CMatrix::operator*=(double f) {
  for (DWORD i = 0; i < m_nRows; ++i)
    for (DWORD j = 0; j < m_nColumns; ++j) SetAt(i, j, GetAt(i, j) * f);
  return *this;
}

CMatrix& CMatrix::operator/=(double f) {
  for (DWORD i = 0; i < m_nRows; ++i)
    for (DWORD j = 0; j < m_nColumns; ++j) SetAt(i, j, GetAt(i, j) / f);
  return *this;
}

CMatrix& CMatrix::Transpose() { return *this; }

HRESULT CMatrix::SerializeHeader(IStream* stream, int storing) {
  if (storing) {
    HRESULT hr = stream->Write("MATR", 4, nullptr);
    if (FAILED(hr)) return hr;
    hr = WriteU32(stream, m_nRows);
    if (FAILED(hr)) return hr;
    return WriteU32(stream, m_nColumns);
  }
  BYTE magic[4];
  HRESULT hr = ReadField(stream, magic, 4, E_FAIL);
  if (hr != S_OK) return hr;
  if (memcmp(magic, "MATR", 4) != 0) return E_FAIL;
  hr = ReadU32(stream, &m_nRows);
  if (hr != S_OK) return hr;
  return ReadU32(stream, &m_nColumns);
}

HRESULT CMatrix::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  return SerializeHeader(stream, storing);
}

// ---------------------------------------------------------------------------
// CMemMatrix: block management

CMemMatrix::CMemMatrix(DWORD rows, DWORD columns) : m_pData(Block::Nil()) {
  DWORD count = DenseCount(rows, columns);
  if (count == 0) return;
  m_pData = Block::Alloc(count);
  memset(Items(), 0, sizeof(double) * count);
  m_nRows = rows;
  m_nColumns = columns;
}

CMemMatrix::CMemMatrix(const double* data, DWORD rows, DWORD columns) : CMemMatrix(rows, columns) {
  if (m_pData->nCount) memcpy(Items(), data, sizeof(double) * m_pData->nCount);
}

CMemMatrix::CMemMatrix(const CMatrix& source) : m_pData(Block::Nil()) { CMemMatrix::Assign(source); }

CMemMatrix::CMemMatrix(const CMemMatrix& source) : CMatrix(), m_pData(Block::Nil()) {
  CMemMatrix::Assign(source);
}

CMemMatrix& CMemMatrix::operator=(const CMemMatrix& source) {
  Assign(source);
  return *this;
}

CMemMatrix::~CMemMatrix() { Block::Release(m_pData); }

void CMemMatrix::Init() {
  m_pData = Block::Nil();
  m_nRows = 0;
  m_nColumns = 0;
}

BOOL CMemMatrix::AllocElements(DWORD count) {
  if (count == 0) {
    m_pData = Block::Nil();
    return TRUE;
  }
  MATRIX_DATA* data = Block::TryAlloc(count);
  if (data == nullptr) return FALSE;
  m_pData = data;
  return TRUE;
}

BOOL CMemMatrix::AllocBuffer(DWORD rows, DWORD columns) {
  ULONGLONG count = static_cast<ULONGLONG>(rows) * columns;
  if (count > kMaxElements) return FALSE;
  if (count == 0) {
    Init();
    return TRUE;
  }
  return AllocElements(static_cast<DWORD>(count));
}

void CMemMatrix::Release(MATRIX_DATA* data) { Block::Release(data); }

void CMemMatrix::Release() {
  Block::Release(m_pData);
  Init();
}

void CMemMatrix::UnshareFrom(MATRIX_DATA* old) {
  // The new block is attached only once it exists, so a failure leaves the
  // matrix as it was.
  if (!AllocBuffer(m_nRows, m_nColumns)) {
    m_pData = old;
    AfxThrowMemoryException();
  }
  size_t n = std::min(m_pData->nCapacity, old->nCount);
  if (n) memcpy(Items(), Block::Items(old), sizeof(double) * n);
  Block::Release(old);
}

void CMemMatrix::ShareBlockOf(const CMemMatrix& source, DWORD columns) {
  if (source.m_pData == m_pData) return;
  Release();
  Block::AddRef(source.m_pData);
  m_pData = source.m_pData;
  m_nRows = source.m_nRows;
  m_nColumns = columns;
}

void CMemMatrix::CopyBeforeWrite() {
  if (Block::IsShared(m_pData)) UnshareFrom(m_pData);
}

// ---------------------------------------------------------------------------
// CMemMatrix: elements

void CMemMatrix::SetAt(DWORD row, DWORD column, double value) {
  CopyBeforeWrite();
  Items()[static_cast<size_t>(row) * m_nColumns + column] = value;
}

double CMemMatrix::GetAt(DWORD row, DWORD column) const {
  return Items()[static_cast<size_t>(row) * m_nColumns + column];
}

void CMemMatrix::SetEach(double value) {
  CopyBeforeWrite();
  std::fill(Items(), Items() + m_pData->nCount, value);
}

void CMemMatrix::Empty() { Release(); }

void CMemMatrix::Resize(DWORD rows, DWORD columns) {
  DWORD count = DenseCount(rows, columns);
  if (count == 0) {
    Release();
    return;
  }
  const DWORD oldRows = m_nRows;
  const DWORD oldColumns = m_nColumns;
  const size_t keepRows = std::min(rows, oldRows);
  const size_t keepColumns = std::min(columns, oldColumns);
  MATRIX_DATA* old = m_pData;
  if (Block::IsShared(old) || count > old->nCapacity) {
    if (!AllocBuffer(rows, columns)) {
      m_pData = old;
      AfxThrowMemoryException();
    }
    for (size_t i = 0; i < keepRows; ++i)
      memcpy(Items() + i * columns, Block::Items(old) + i * oldColumns, sizeof(double) * keepColumns);
    Block::Release(old);
  } else if (columns < oldColumns) {
    for (size_t i = 0; i < keepRows; ++i)
      memmove(Items() + i * columns, Items() + i * oldColumns, sizeof(double) * keepColumns);
  } else if (columns > oldColumns) {
    for (size_t i = keepRows; i-- > 1;)
      memmove(Items() + i * columns, Items() + i * oldColumns, sizeof(double) * keepColumns);
  }
  m_nRows = rows;
  m_nColumns = columns;
  m_pData->nCount = count;
}

void CMemMatrix::GetRow(DWORD row, double* out) const {
  if (m_nColumns) memcpy(out, Items() + static_cast<size_t>(row) * m_nColumns, sizeof(double) * m_nColumns);
}

void CMemMatrix::SetRow(DWORD row, const double* in) {
  CopyBeforeWrite();
  if (m_nColumns) memcpy(Items() + static_cast<size_t>(row) * m_nColumns, in, sizeof(double) * m_nColumns);
}

void CMemMatrix::GetColumns(DWORD column, double* out) const {
  for (size_t i = 0; i < m_nRows; ++i) out[i] = Items()[i * m_nColumns + column];
}

void CMemMatrix::SetColumns(DWORD column, const double* in) {
  CopyBeforeWrite();
  for (size_t i = 0; i < m_nRows; ++i) Items()[i * m_nColumns + column] = in[i];
}

void CMemMatrix::Align() {
  CopyBeforeWrite();
  const size_t n = std::min(m_nRows, m_nColumns);
  const size_t stride = m_nColumns;
  double* a = Items();
  for (size_t i = 0; i < n; ++i) {
    const double dii = a[i * stride + i];
    for (size_t j = 0; j < n; ++j)
      if (j != i) a[i * stride + j] /= sqrt(a[j * stride + j] * dii);
  }
  for (size_t i = 0; i < n; ++i) a[i * stride + i] = 1.0;
}

CMatrix& CMemMatrix::Assign(const CMatrix& source) {
  if (&source == this) return *this;
  if (IsClass(source, "CMemMatrix")) {
    const CMemMatrix& s = static_cast<const CMemMatrix&>(source);
    ShareBlockOf(s, s.m_nColumns);
    return *this;
  }
  Release();
  const DWORD rows = source.GetRowCount();
  const DWORD columns = source.GetColumnCount();
  DWORD count = DenseCount(rows, columns);
  if (count == 0) return *this;
  if (!AllocElements(count)) AfxThrowMemoryException();
  m_nRows = rows;
  m_nColumns = columns;
  std::unique_ptr<double[]> row = NewOwnedArray<double>(columns);
  for (DWORD i = 0; i < rows; ++i) {
    source.GetRow(i, row.get());
    SetRow(i, row.get());
  }
  return *this;
}

CMatrix& CMemMatrix::operator*=(double f) {
  CopyBeforeWrite();
  for (size_t i = 0; i < m_pData->nCount; ++i) Items()[i] *= f;
  return *this;
}

CMatrix& CMemMatrix::operator/=(double f) {
  CopyBeforeWrite();
  for (size_t i = 0; i < m_pData->nCount; ++i) Items()[i] /= f;
  return *this;
}

// ---------------------------------------------------------------------------
// CMemMatrix: the record

HRESULT CMemMatrix::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  if (storing) {
    HRESULT hr = SerializeHeader(stream, 1);
    if (FAILED(hr)) return hr;
    hr = WriteU64(stream, m_pData->nCount);
    if (FAILED(hr)) return hr;
    if (m_pData->nCount == 0) return hr;
    return WriteF64Array(stream, Items(), m_pData->nCount);
  }
  Release();
  HRESULT hr = SerializeHeader(stream, 0);
  if (hr != S_OK) {
    Release();
    return hr;
  }
  return LoadElements(stream, static_cast<ULONGLONG>(m_nRows) * m_nColumns);
}

HRESULT CMemMatrix::LoadElements(IStream* stream, ULONGLONG expected) {
  ULONGLONG count = 0;
  HRESULT hr = ReadU64(stream, &count);
  if (hr != S_OK) {
    Release();
    return hr;
  }
  // The count must match the dimensions; its high half is then 0.
  if (count != expected || count > kMaxElements) {
    Release();
    return E_FAIL;
  }
  if (count == 0) {
    Release();
    return S_OK;
  }
  MATRIX_DATA* data;
  hr = Block::ReadNew(stream, static_cast<size_t>(count), &data, E_FAIL);
  if (hr != S_OK) {
    Release();
    return hr;
  }
  m_pData = data;
  return S_OK;
}

// ---------------------------------------------------------------------------
// CSymMemMatrix

CSymMemMatrix::CSymMemMatrix(DWORD n) {
  DWORD count = PackedCount(n);
  if (count == 0) return;
  m_pData = Block::Alloc(count);
  memset(Items(), 0, sizeof(double) * count);
  m_nRows = n;
  m_nColumns = n;
}

CSymMemMatrix::CSymMemMatrix(const double* packed, DWORD n) : CSymMemMatrix(n) {
  if (m_pData->nCount) memcpy(Items(), packed, sizeof(double) * m_pData->nCount);
}

CSymMemMatrix::CSymMemMatrix(const CMatrix& source) { CSymMemMatrix::Assign(source); }

CSymMemMatrix::CSymMemMatrix(const CSymMemMatrix& source) : CMemMatrix() {
  CSymMemMatrix::Assign(source);
}

CSymMemMatrix& CSymMemMatrix::operator=(const CSymMemMatrix& source) {
  Assign(source);
  return *this;
}

CSymMemMatrix::~CSymMemMatrix() {}

BOOL CSymMemMatrix::AllocBuffer(DWORD rows, DWORD) {
  ULONGLONG count = PackedCount64(rows);
  if (count > kMaxElements) return FALSE;
  if (count == 0) {
    Init();
    return TRUE;
  }
  return AllocElements(static_cast<DWORD>(count));
}

void CSymMemMatrix::SetAt(DWORD row, DWORD column, double value) {
  CopyBeforeWrite();
  if (row < column) std::swap(row, column);
  Items()[Packed(row, column)] = value;
}

double CSymMemMatrix::GetAt(DWORD row, DWORD column) const {
  if (row < column) std::swap(row, column);
  return Items()[Packed(row, column)];
}

void CSymMemMatrix::Resize(DWORD rows, DWORD) {
  DWORD count = PackedCount(rows);
  if (count == 0) {
    Release();
    return;
  }
  MATRIX_DATA* old = m_pData;
  if (Block::IsShared(old) || count > old->nCapacity) {
    if (!AllocBuffer(rows, rows)) {
      m_pData = old;
      AfxThrowMemoryException();
    }
    // The leading rows of a packed triangle keep their places.
    size_t keep = std::min<size_t>(old->nCount, count);
    if (keep) memcpy(Items(), Block::Items(old), sizeof(double) * keep);
    Block::Release(old);
  }
  m_nRows = rows;
  m_nColumns = rows;
  m_pData->nCount = count;
}

void CSymMemMatrix::GetRow(DWORD row, double* out) const {
  const double* p = Items();
  const double* own = p + Packed(row, 0);
  for (DWORD j = 0; j < row && j < m_nRows; ++j) out[j] = own[j];
  for (DWORD j = row; j < m_nRows; ++j) out[j] = p[Packed(j, row)];
}

void CSymMemMatrix::SetRow(DWORD row, const double* in) {
  CopyBeforeWrite();
  double* p = Items();
  double* own = p + Packed(row, 0);
  for (DWORD j = 0; j < row && j < m_nRows; ++j) own[j] = in[j];
  for (DWORD j = row; j < m_nRows; ++j) p[Packed(j, row)] = in[j];
}

void CSymMemMatrix::GetColumns(DWORD column, double* out) const { GetRow(column, out); }

void CSymMemMatrix::SetColumns(DWORD column, const double* in) { SetRow(column, in); }

void CSymMemMatrix::Align() {
  CopyBeforeWrite();
  double* p = Items();
  const DWORD n = m_nRows;
  for (DWORD i = 1; i < n; ++i) {
    const double dii = p[Packed(i, i)];
    double* own = p + Packed(i, 0);
    for (DWORD j = 0; j < i; ++j) own[j] /= sqrt(p[Packed(j, j)] * dii);
  }
  for (DWORD i = 0; i < n; ++i) p[Packed(i, i)] = 1.0;
}

CMatrix& CSymMemMatrix::Assign(const CMatrix& source) {
  if (&source == this) return *this;
  if (IsClass(source, "CSymMemMatrix")) {
    const CSymMemMatrix& s = static_cast<const CSymMemMatrix&>(source);
    ShareBlockOf(s, s.m_nRows);
    return *this;
  }
  Release();
  const DWORD n = std::min(source.GetRowCount(), source.GetColumnCount());
  if (PackedCount(n) == 0) return *this;
  if (!AllocBuffer(n, n)) AfxThrowMemoryException();
  m_nRows = n;
  m_nColumns = n;
  // Rows written later win: SetRow(i) also writes column i of the rows below.
  std::unique_ptr<double[]> row = NewOwnedArray<double>(source.GetColumnCount());
  for (DWORD i = 0; i < n; ++i) {
    source.GetRow(i, row.get());
    SetRow(i, row.get());
  }
  return *this;
}

HRESULT CSymMemMatrix::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  if (storing) return CMemMatrix::Serialize(stream, 1);
  Release();
  HRESULT hr = SerializeHeader(stream, 0);
  if (hr != S_OK) {
    Release();
    return hr;
  }
  if (m_nRows != m_nColumns) {
    Release();
    return E_FAIL;
  }
  return LoadElements(stream, PackedCount64(m_nRows));
}

}  // namespace telsor
