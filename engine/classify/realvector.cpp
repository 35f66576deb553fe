// Dense real vectors with shared value blocks, and their record.
#include "classify/realvector.h"

#include <string.h>

#include "classify/recordio.h"

namespace telsor {

CRealVector::CRealVector(DWORD n) : m_pData(Block::Nil()) {
  if (n == 0) return;
  m_pData = Block::Alloc(n);
  memset(Block::Items(m_pData), 0, sizeof(double) * n);
}

CRealVector::CRealVector(const double* values, DWORD n) : m_pData(Block::Nil()) {
  if (n == 0) return;
  m_pData = Block::Alloc(n);
  memcpy(Block::Items(m_pData), values, sizeof(double) * n);
}

CRealVector::CRealVector(const CRealVector& other) : CObj(), m_pData(other.m_pData) {
  Block::AddRef(m_pData);
}

CRealVector& CRealVector::operator=(const CRealVector& other) {
  if (m_pData == other.m_pData) return *this;
  Block::AddRef(other.m_pData);
  Block::Release(m_pData);
  m_pData = other.m_pData;
  return *this;
}

CRealVector::~CRealVector() { Block::Release(m_pData); }

void CRealVector::CopyBeforeWrite() {
  if (!Block::IsShared(m_pData)) return;
  Block::Header* fresh = Block::Alloc(m_pData->nCount);
  memcpy(Block::Items(fresh), Block::Items(m_pData), sizeof(double) * m_pData->nCount);
  Block::Release(m_pData);
  m_pData = fresh;
}

void CRealVector::SetAt(DWORD i, double value) {
  CopyBeforeWrite();
  Block::Items(m_pData)[i] = value;
}

double* CRealVector::GetBuffer() {
  CopyBeforeWrite();
  return Block::Items(m_pData);
}

void CRealVector::SetSize(DWORD n) {
  DWORD old = GetSize();
  if (n == old) return;
  if (n == 0) {
    Empty();
    return;
  }
  if (Block::IsShared(m_pData) || Block::IsNil(m_pData) || n > m_pData->nCapacity) {
    Block::Header* fresh = Block::Alloc(n);
    DWORD keep = old < n ? old : n;
    memcpy(Block::Items(fresh), Block::Items(m_pData), sizeof(double) * keep);
    Block::Release(m_pData);
    m_pData = fresh;
  }
  if (n > old) memset(Block::Items(m_pData) + old, 0, sizeof(double) * (n - old));
  m_pData->nCount = n;
}

void CRealVector::Empty() {
  Block::Release(m_pData);
  m_pData = Block::Nil();
}

HRESULT CRealVector::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  if (storing) {
    HRESULT hr = WriteU32(stream, GetSize());
    if (FAILED(hr)) return hr;
    if (IsEmpty()) return hr;
    return WriteF64Array(stream, GetData(), GetSize());
  }
  DWORD count = 0;
  HRESULT hr = ReadU32(stream, &count);
  if (hr != S_OK) return hr;
  Empty();
  Block::Header* data;
  hr = Block::ReadNew(stream, count, &data, E_FAIL);
  if (hr != S_OK) return hr;
  m_pData = data;
  return S_OK;
}

bool operator==(const CRealVector& a, const CRealVector& b) {
  if (a.GetSize() != b.GetSize()) return false;
  return a.GetSize() == 0 || memcmp(a.GetData(), b.GetData(), sizeof(double) * a.GetSize()) == 0;
}

}  // namespace telsor
