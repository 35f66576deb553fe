// CRealVector: a dense vector of doubles (the mail features, the
// coefficients of a support-vector machine, the arguments of the vector
// kernels), shared between copies until one of them changes.
//
//   IStream* stream = nullptr;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
//   if (FAILED(hr)) return hr;
//   double f[3] = {1, 0, 1};
//   CRealVector a(f, 3);
//   CRealVector b = a;           // shares a's block
//   b.SetAt(1, 5.0);             // b takes its own copy first; a is unchanged
//   double x = a[2];             // 1.0
//   hr = a.Serialize(stream, 1); // u32 count, then count f64 values
//   stream->Release();
//
// Record (little-endian): u32 count, then count IEEE doubles. Loading
// replaces the content; a short record leaves the vector empty and returns
// E_FAIL, a stream failure its own code, memory exhaustion E_OUTOFMEMORY.
// The values' block grows as the record's bytes arrive, so a huge count in a
// short record costs no huge allocation.
//
// Out of memory elsewhere throws the engine's CMemoryException*. Copies may
// be used and released on different threads; one vector object must not be
// changed on two threads at once.
#ifndef TELSOR_CLASSIFY_REALVECTOR_H
#define TELSOR_CLASSIFY_REALVECTOR_H

#include "classify/sharedblock.h"
#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"

namespace telsor {

class CRealVector : public CObj {
 public:
  typedef CSharedBlock<double> Block;

  CRealVector() : m_pData(Block::Nil()) {}
  // n values, all 0.0 (0 gives the empty vector).
  explicit CRealVector(DWORD n);
  // A copy of n values.
  CRealVector(const double* values, DWORD n);
  CRealVector(const CRealVector& other);
  CRealVector& operator=(const CRealVector& other);
  ~CRealVector() override;

  DWORD GetSize() const { return static_cast<DWORD>(m_pData->nCount); }
  bool IsEmpty() const { return m_pData->nCount == 0; }
  // Element i; i must be below GetSize().
  double operator[](DWORD i) const { return Block::Items(m_pData)[i]; }
  // Element i, or 0.0 when i is not below GetSize().
  double GetAt(DWORD i) const { return i < GetSize() ? (*this)[i] : 0.0; }
  const double* GetData() const { return Block::Items(m_pData); }

  // Writes element i (i below GetSize()), unsharing the block first.
  void SetAt(DWORD i, double value);
  // The values, unshared and writable, for GetSize() elements.
  double* GetBuffer();
  // Changes the count to n, keeping the first values; new values are 0.0.
  void SetSize(DWORD n);
  // Back to the shared empty vector.
  void Empty();

  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing);
  using CObj::Serialize;

  // Shares the block of the other vector (tests watch the sharing).
  bool SharesDataWith(const CRealVector& other) const { return m_pData == other.m_pData; }

 private:
  void CopyBeforeWrite();

  Block::Header* m_pData;
};

// Equal counts and the same bytes in every value (so 0.0 and -0.0 differ
// and a NaN equals itself).
bool operator==(const CRealVector& a, const CRealVector& b);
inline bool operator!=(const CRealVector& a, const CRealVector& b) { return !(a == b); }

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_REALVECTOR_H
