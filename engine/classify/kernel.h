// Kernels: the similarity functions of support-vector machines.
//
// Vector kernels compare two real vectors; a metric support-vector machine
// holds one, writes its class name and then its record, and re-creates it
// by that name when reading:
//
//   IStream* stream = nullptr;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
//   if (FAILED(hr)) return hr;
//   const double a[2] = {1.0, 2.0}, c[2] = {3.0, 0.5};
//   CRealVector x(a, 2), y(c, 2);
//   CPolynomialKernel k(2, 1.0, 1.0);           // (x.y + 1)^2
//   double v = k.Evaluate(x, y);                 // 25
//   TSTRING(k.GetRuntimeClass()->m_lpszClassName).Serialize(stream, 1);
//   hr = k.Serialize(stream, 1);                 // scale, offset, degree
//   LARGE_INTEGER zero = {};
//   stream->Seek(zero, STREAM_SEEK_SET, nullptr);
//   TSTRING name;
//   if (SUCCEEDED(hr)) hr = name.Serialize(stream, 0);   // "CPolynomialKernel"
//   CRTTI* rec = SUCCEEDED(hr) ? GetRTTI(name.c_str()) : nullptr;   // null: not registered
//   std::unique_ptr<CKernel> r(rec ? static_cast<CKernel*>(rec->CreateObject()) : nullptr);
//   if (r) hr = r->Serialize(stream, 0);         // factory defaults, then the record's values
//   stream->Release();
//
// | class             | value of Evaluate(x, y)            | record (little-endian)      | defaults
// | CDotProductKernel | scale x (x.y)                      | f64 scale                   | 1.0
// | CPolynomialKernel | (scale x (x.y) + offset)^degree    | f64 scale, f64 offset, u32  | 2, 1.0, 0.0
// | CGaussianKernel   | exp(gamma x sum (x_i - y_i)^2)     | f64 gamma = -0.5 / sigma^2  | sigma 7.0
// | CSigmoidKernel    | tanh(scale x (x.y) + offset)       | f64 scale, f64 offset       | 1.0, 0.0
//
// Sums run over the first vector's elements in index order; an element the
// second vector lacks counts as 0.0. The power is taken by square-and-
// multiply, so degree 0 gives 1.0. Reading a record: a field that yields
// fewer bytes than its size gives E_FAIL (fields read before it keep their
// new values), a failing stream its own code.
//
// Kernels hold only parameters: Evaluate may run on several threads at once.
// The four classes are registered at library load under their names;
// "CKernel" itself is not registered.
#ifndef TELSOR_CLASSIFY_KERNEL_H
#define TELSOR_CLASSIFY_KERNEL_H

#include "classify/realvector.h"
#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"

namespace telsor {

class CKernel : public CObj {
 public:
  ~CKernel() override;
  CRTTI* GetRuntimeClass() const override;
  // A new kernel of the same class and parameters, owned by the caller.
  virtual CKernel* Clone() const = 0;
  virtual double Evaluate(const CRealVector& x, const CRealVector& y) const = 0;
  [[nodiscard]] virtual HRESULT Serialize(IStream* stream, int storing) = 0;
  using CObj::Serialize;

  static CRTTI classCKernel;
};

class CDotProductKernel : public CKernel {
 public:
  explicit CDotProductKernel(double scale = 1.0) : m_dScale(scale) {}
  CRTTI* GetRuntimeClass() const override;
  CKernel* Clone() const override;
  double Evaluate(const CRealVector& x, const CRealVector& y) const override;
  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;
  using CObj::Serialize;
  double GetScale() const { return m_dScale; }

  static CObj* CreateObject();
  static CRTTI classCDotProductKernel;

 private:
  double m_dScale;
};

class CPolynomialKernel : public CKernel {
 public:
  explicit CPolynomialKernel(DWORD degree = 2, double scale = 1.0, double offset = 0.0)
      : m_dwDegree(degree), m_dScale(scale), m_dOffset(offset) {}
  CRTTI* GetRuntimeClass() const override;
  CKernel* Clone() const override;
  double Evaluate(const CRealVector& x, const CRealVector& y) const override;
  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;
  using CObj::Serialize;
  DWORD GetDegree() const { return m_dwDegree; }
  double GetScale() const { return m_dScale; }
  double GetOffset() const { return m_dOffset; }

  static CObj* CreateObject();
  static CRTTI classCPolynomialKernel;

 private:
  DWORD m_dwDegree;
  double m_dScale;
  double m_dOffset;
};

class CGaussianKernel : public CKernel {
 public:
  // Through SetVariance.
  explicit CGaussianKernel(double sigma = 7.0);
  CRTTI* GetRuntimeClass() const override;
  CKernel* Clone() const override;
  double Evaluate(const CRealVector& x, const CRealVector& y) const override;
  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;
  using CObj::Serialize;
  // gamma = -0.5 / sigma^2; a sigma of exactly 0.0 becomes 7.0.
  void SetVariance(double sigma);
  // sqrt(-0.5 / gamma), that is |sigma|.
  double GetVariance() const;
  double GetGamma() const { return m_dGamma; }

  static CObj* CreateObject();
  static CRTTI classCGaussianKernel;

 private:
  double m_dGamma;
};

class CSigmoidKernel : public CKernel {
 public:
  explicit CSigmoidKernel(double scale = 1.0, double offset = 0.0) : m_dScale(scale), m_dOffset(offset) {}
  CRTTI* GetRuntimeClass() const override;
  CKernel* Clone() const override;
  double Evaluate(const CRealVector& x, const CRealVector& y) const override;
  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;
  using CObj::Serialize;
  double GetScale() const { return m_dScale; }
  double GetOffset() const { return m_dOffset; }

  static CObj* CreateObject();
  static CRTTI classCSigmoidKernel;

 private:
  double m_dScale;
  double m_dOffset;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_KERNEL_H
