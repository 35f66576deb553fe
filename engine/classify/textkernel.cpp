// Kernels over texts: bag of words, substrings and n-gram vectors.
#include "classify/textkernel.h"

#include <math.h>

#include <memory>

namespace telsor {

namespace {

bool IsWhiteSpace(BYTE c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The length of the common prefix of s from i and t from j.
size_t CommonPrefix(const BYTE* s, size_t m, size_t i, const BYTE* t, size_t n, size_t j) {
  size_t p = 0;
  while (i + p < m && j + p < n && s[i + p] == t[j + p]) ++p;
  return p;
}

double PowerOf(double base, DWORD e) {
  double r = 1.0;
  for (DWORD i = 0; i < e; ++i) r *= base;
  return r;
}

// Word starts: position 0 and each position after a white-space byte,
// inside the text.
std::unique_ptr<DWORD[]> WordStarts(const BYTE* s, DWORD length, DWORD* count) {
  std::unique_ptr<DWORD[]> starts = NewOwnedArray<DWORD>(length);
  DWORD k = 0;
  for (DWORD i = 0; i < length; ++i)
    if (i == 0 || IsWhiteSpace(s[i - 1])) starts[k++] = i;
  *count = k;
  return starts;
}

}  // namespace

CTextKernel::CTextKernel(DWORD k, double lambda) : m_dwK(k), m_dLambda(fabs(lambda)) {}

CTextKernel::~CTextKernel() {}

CTextVector* CTextKernel::CreateVector(const char*, DWORD) const { return nullptr; }

double CTextKernel::Evaluate(const CTextVector&, const CTextVector&) const { return 0.0; }

CTextKernel* CBOWKernel::Clone() const { return new CBOWKernel(m_dwK, m_dLambda); }

double CBOWKernel::Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const {
  const BYTE* a = reinterpret_cast<const BYTE*>(s);
  const BYTE* b = reinterpret_cast<const BYTE*>(t);
  const double add = PowerOf(m_dLambda * m_dLambda, m_dwK + 1);
  DWORD na = 0;
  DWORD nb = 0;
  std::unique_ptr<DWORD[]> sa = WordStarts(a, sLength, &na);
  std::unique_ptr<DWORD[]> sb = WordStarts(b, tLength, &nb);
  double sum = 0.0;
  for (DWORD x = 0; x < na; ++x)
    for (DWORD y = 0; y < nb; ++y) {
      const DWORD i = sa[x];
      const DWORD j = sb[y];
      DWORD p = 0;
      while (p < m_dwK && i + p < sLength && j + p < tLength && a[i + p] == b[j + p] &&
             !IsWhiteSpace(a[i + p]))
        ++p;
      if (p == m_dwK) sum += add;
    }
  return sum;
}

CTextKernel* CSubstringKernel::Clone() const { return new CSubstringKernel(m_dwK, m_dLambda); }

double CSubstringKernel::Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const {
  const BYTE* a = reinterpret_cast<const BYTE*>(s);
  const BYTE* b = reinterpret_cast<const BYTE*>(t);
  const double add = PowerOf(m_dLambda * m_dLambda, m_dwK + 1);
  double sum = 0.0;
  for (DWORD i = 0; i < sLength; ++i)
    for (DWORD j = 0; j < tLength; ++j) {
      size_t p = 0;
      while (p < m_dwK && i + p < sLength && j + p < tLength && a[i + p] == b[j + p]) ++p;
      if (p >= m_dwK) sum += add;
    }
  return sum;
}

CTextKernel* CFullSubstringKernel::Clone() const { return new CFullSubstringKernel(m_dwK, m_dLambda); }

double CFullSubstringKernel::Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const {
  const BYTE* a = reinterpret_cast<const BYTE*>(s);
  const BYTE* b = reinterpret_cast<const BYTE*>(t);
  const double L = m_dLambda * m_dLambda;
  double sum = 0.0;
  for (DWORD i = 0; i < sLength; ++i)
    for (DWORD j = 0; j < tLength; ++j) {
      if (a[i] != b[j]) continue;
      size_t q = CommonPrefix(a, sLength, i, b, tLength, j);
      if (q > m_dwK) q = m_dwK;
      double power = 1.0;
      for (size_t p = 1; p <= q; ++p) {
        power *= L;
        sum += power;
      }
    }
  return sum;
}

CTextVector* CNGramsKernel::CreateVector(const char* text, DWORD length) const {
  return new CNGramsVector(GetN(), text, length, DefaultNextStopWord);
}

CTextKernel* CNGramsKernel::Clone() const { return new CNGramsKernel(GetN()); }

double CNGramsKernel::Evaluate(const char* s, DWORD sLength, const char* t, DWORD tLength) const {
  CNGramsVector a(GetN(), s, sLength, DefaultNextStopWord);
  CNGramsVector b(GetN(), t, tLength, DefaultNextStopWord);
  return a.DotProduct(b);
}

double CNGramsKernel::Evaluate(const CTextVector& a, const CTextVector& b) const { return a.DotProduct(b); }

}  // namespace telsor
