// Text kernels: similarity functions over two texts, or over two text
// vectors made from texts, for training programs (the Gram-matrix builder of
// a text data set uses a kernel that makes vectors).
//
//   const char* s = "cheap pills now";
//   const char* t = "cheap watches";
//   DWORD sLen = 15, tLen = 13;
//   CNGramsKernel k(5);                            // 5-gram vectors, stop words out
//   std::unique_ptr<CTextVector> a(k.CreateVector(s, sLen));   // the caller owns the vectors
//   std::unique_ptr<CTextVector> b(k.CreateVector(t, tLen));
//   double v = k.Evaluate(*a, *b);                 // a.DotProduct(b)
//   double w = k.Evaluate(s, sLen, t, tLen);       // the same from the texts
//   CSubstringKernel sub(2, 1.0);                  // k = 2, decay 1
//   double two = sub.Evaluate("abab", 4, "ab", 2); // 2
//
// With L = lambda^2 and texts s (m bytes) and t (n bytes):
//   CSubstringKernel      sum over positions i < m, j < n whose common prefix
//                         is at least k bytes of L^(k+1)
//   CFullSubstringKernel  sum over pairs with s[i] = t[j] of L^1 + ... + L^q,
//                         q = min(k, common prefix)
//   CBOWKernel            sum over pairs of word starts (position 0 and each
//                         position after a white-space byte, inside the text)
//                         of L^(k+1) when the k bytes there are equal and none
//                         is white space
//   CNGramsKernel         the dot product of the n-gram vectors (n = low 16
//                         bits of k), made with the default stop words
// A kernel stores |lambda|; clones copy k and |lambda| (the n-gram kernel: n
// and lambda 0). Kernels hold only parameters and may be evaluated on several
// threads at once. Out of memory throws the engine's CMemoryException*.
#ifndef TELSOR_CLASSIFY_TEXTKERNEL_H
#define TELSOR_CLASSIFY_TEXTKERNEL_H

#include "classify/ngramsvector.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"

namespace telsor {

class CTextKernel : public CObj {
 public:
  CTextKernel(DWORD k, double lambda);
  ~CTextKernel() override;

  // A new vector of the text, owned by the caller; null here (this kernel
  // makes no vectors).
  virtual CTextVector* CreateVector(const char* text, DWORD length) const;
  virtual CTextKernel* Clone() const = 0;
  virtual double Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const = 0;
  // 0.0 here.
  virtual double Evaluate(const CTextVector& a, const CTextVector& b) const;

  DWORD GetK() const { return m_dwK; }
  double GetLambda() const { return m_dLambda; }

 protected:
  DWORD m_dwK;
  double m_dLambda;  // |lambda|
};

class CBOWKernel : public CTextKernel {
 public:
  CBOWKernel(DWORD k, double lambda) : CTextKernel(k, lambda) {}
  CTextKernel* Clone() const override;
  double Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const override;
  using CTextKernel::Evaluate;
};

class CSubstringKernel : public CTextKernel {
 public:
  CSubstringKernel(DWORD k, double lambda) : CTextKernel(k, lambda) {}
  CTextKernel* Clone() const override;
  double Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const override;
  using CTextKernel::Evaluate;
};

class CFullSubstringKernel : public CTextKernel {
 public:
  CFullSubstringKernel(DWORD k, double lambda) : CTextKernel(k, lambda) {}
  CTextKernel* Clone() const override;
  double Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const override;
  using CTextKernel::Evaluate;
};

class CNGramsKernel : public CTextKernel {
 public:
  explicit CNGramsKernel(WORD n) : CTextKernel(n, 0.0) {}
  // A CNGramsVector of the text with DefaultNextStopWord.
  CTextVector* CreateVector(const char* text, DWORD length) const override;
  CTextKernel* Clone() const override;
  double Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const override;
  // a.DotProduct(b).
  double Evaluate(const CTextVector& a, const CTextVector& b) const override;
  WORD GetN() const { return static_cast<WORD>(m_dwK); }
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_TEXTKERNEL_H
