// The vector kernels, their records and their registration by class name.
#include "classify/kernel.h"

#include <math.h>

#include "classify/recordio.h"

namespace telsor {

namespace {

// x.y over x's elements; y's missing elements count as 0.
double Dot(const CRealVector& x, const CRealVector& y) {
  const DWORD n = x.GetSize();
  const DWORD common = n < y.GetSize() ? n : y.GetSize();
  const double* a = x.GetData();
  const double* b = y.GetData();
  double sum = 0.0;
  for (DWORD i = 0; i < common; ++i) sum += a[i] * b[i];
  return sum;
}

// Sum of (x_i - y_i)^2 over x's elements; y's missing elements count as 0.
double SquaredDistance(const CRealVector& x, const CRealVector& y) {
  const DWORD n = x.GetSize();
  double sum = 0.0;
  for (DWORD i = 0; i < n; ++i) {
    double d = x[i] - y.GetAt(i);
    sum += d * d;
  }
  return sum;
}

// base^degree by square-and-multiply over the bits of degree, lowest first.
double Power(double base, DWORD degree) {
  double result = 1.0;
  while (degree != 0) {
    if (degree & 1) result *= base;
    degree >>= 1;
    if (degree != 0) base *= base;
  }
  return result;
}

HRESULT WriteFields(IStream* stream, const double* a, const double* b) {
  HRESULT hr = WriteF64(stream, *a);
  if (FAILED(hr) || b == nullptr) return hr;
  return WriteF64(stream, *b);
}

HRESULT ReadFields(IStream* stream, double* a, double* b) {
  HRESULT hr = ReadF64(stream, a);
  if (hr != S_OK || b == nullptr) return hr;
  return ReadF64(stream, b);
}

}  // namespace

// ---------------------------------------------------------------------------
// Run-time class records. One registration step at load registers the four
// kernels, each at the front of the list: sigmoid, Gaussian, polynomial, dot
// product.

CRTTI CKernel::classCKernel = {"CKernel", static_cast<int>(sizeof(CKernel)), 0xFFFF, nullptr,
                               &CObj::classCObj, nullptr};
CRTTI CDotProductKernel::classCDotProductKernel = {
    "CDotProductKernel", static_cast<int>(sizeof(CDotProductKernel)), 0xFFFF,
    &CDotProductKernel::CreateObject, &CKernel::classCKernel, nullptr};
CRTTI CPolynomialKernel::classCPolynomialKernel = {
    "CPolynomialKernel", static_cast<int>(sizeof(CPolynomialKernel)), 0xFFFF,
    &CPolynomialKernel::CreateObject, &CKernel::classCKernel, nullptr};
CRTTI CGaussianKernel::classCGaussianKernel = {
    "CGaussianKernel", static_cast<int>(sizeof(CGaussianKernel)), 0xFFFF,
    &CGaussianKernel::CreateObject, &CKernel::classCKernel, nullptr};
CRTTI CSigmoidKernel::classCSigmoidKernel = {
    "CSigmoidKernel", static_cast<int>(sizeof(CSigmoidKernel)), 0xFFFF,
    &CSigmoidKernel::CreateObject, &CKernel::classCKernel, nullptr};

namespace {
struct CRegisterKernels {
  CRegisterKernels() {
    static CClassInit sigmoid(&CSigmoidKernel::classCSigmoidKernel);
    static CClassInit gaussian(&CGaussianKernel::classCGaussianKernel);
    static CClassInit polynomial(&CPolynomialKernel::classCPolynomialKernel);
    static CClassInit dotProduct(&CDotProductKernel::classCDotProductKernel);
  }
} g_registerKernels;
}  // namespace

CRTTI* CKernel::GetRuntimeClass() const { return &classCKernel; }
CRTTI* CDotProductKernel::GetRuntimeClass() const { return &classCDotProductKernel; }
CRTTI* CPolynomialKernel::GetRuntimeClass() const { return &classCPolynomialKernel; }
CRTTI* CGaussianKernel::GetRuntimeClass() const { return &classCGaussianKernel; }
CRTTI* CSigmoidKernel::GetRuntimeClass() const { return &classCSigmoidKernel; }

CObj* CDotProductKernel::CreateObject() { return new CDotProductKernel; }
CObj* CPolynomialKernel::CreateObject() { return new CPolynomialKernel; }
CObj* CGaussianKernel::CreateObject() { return new CGaussianKernel; }
CObj* CSigmoidKernel::CreateObject() { return new CSigmoidKernel; }

CKernel::~CKernel() {}

// ---------------------------------------------------------------------------
// Values, clones and records

CKernel* CDotProductKernel::Clone() const { return new CDotProductKernel(m_dScale); }

double CDotProductKernel::Evaluate(const CRealVector& x, const CRealVector& y) const {
  return m_dScale * Dot(x, y);
}

HRESULT CDotProductKernel::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  return storing ? WriteFields(stream, &m_dScale, nullptr) : ReadFields(stream, &m_dScale, nullptr);
}

CKernel* CPolynomialKernel::Clone() const { return new CPolynomialKernel(m_dwDegree, m_dScale, m_dOffset); }

double CPolynomialKernel::Evaluate(const CRealVector& x, const CRealVector& y) const {
  return Power(m_dScale * Dot(x, y) + m_dOffset, m_dwDegree);
}

HRESULT CPolynomialKernel::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  if (storing) {
    HRESULT hr = WriteFields(stream, &m_dScale, &m_dOffset);
    if (FAILED(hr)) return hr;
    return WriteU32(stream, m_dwDegree);
  }
  HRESULT hr = ReadFields(stream, &m_dScale, &m_dOffset);
  if (hr != S_OK) return hr;
  return ReadU32(stream, &m_dwDegree);
}

CGaussianKernel::CGaussianKernel(double sigma) : m_dGamma(0.0) { SetVariance(sigma); }

void CGaussianKernel::SetVariance(double sigma) {
  if (sigma == 0.0) sigma = 7.0;
  m_dGamma = -0.5 / (sigma * sigma);
}

double CGaussianKernel::GetVariance() const { return sqrt(-0.5 / m_dGamma); }

CKernel* CGaussianKernel::Clone() const {
  CGaussianKernel* k = new CGaussianKernel(7.0);
  k->m_dGamma = m_dGamma;
  return k;
}

double CGaussianKernel::Evaluate(const CRealVector& x, const CRealVector& y) const {
  return exp(m_dGamma * SquaredDistance(x, y));
}

HRESULT CGaussianKernel::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  return storing ? WriteFields(stream, &m_dGamma, nullptr) : ReadFields(stream, &m_dGamma, nullptr);
}

CKernel* CSigmoidKernel::Clone() const { return new CSigmoidKernel(m_dScale, m_dOffset); }

double CSigmoidKernel::Evaluate(const CRealVector& x, const CRealVector& y) const {
  return tanh(m_dScale * Dot(x, y) + m_dOffset);
}

HRESULT CSigmoidKernel::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  return storing ? WriteFields(stream, &m_dScale, &m_dOffset) : ReadFields(stream, &m_dScale, &m_dOffset);
}

}  // namespace telsor
