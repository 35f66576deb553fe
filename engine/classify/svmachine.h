// Support-vector machines: CSVMachine (a coefficient vector and a threshold
// b, with the "SVM" record) and CMetricSVMachine (a kernel machine over real
// vectors: support vectors in a matrix, a kernel object, the "MSVM" record).
//
//   IStream* stream = nullptr;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
//   if (FAILED(hr)) return hr;
//   CMetricSVMachine m(CGaussianKernel(2.0));    // keeps its own copy of the kernel
//   CRealVector x(25);
//   double value = m.EvaluateRealVector(x)[0];   // sum of K(x, row i) x coef i, minus b
//   hr = m.Serialize(stream, 1);                 // "SVM" record, then "MSVM" record
//   stream->Release();
//
// Records (little-endian):
//   SVM:  "SVM" NUL, f64 b, the coefficients' CRealVector record.
//   MSVM: the SVM record, "MSVM", u8 has-matrix; when 1 the matrix's class
//         name (TSTRING record) and the matrix's record; then the kernel's
//         class name and the kernel's record.
// Reading replaces members as it goes and re-creates the matrix and the
// kernel by their registered class names. A wrong signature, a short read or
// an unknown class name gives E_FAIL, a failing stream its own code, too
// little memory E_OUTOFMEMORY. After a failed "MSVM" read the machine has no
// matrix and possibly no kernel; storing a machine without a kernel is
// refused with E_FAIL and writes nothing.
//
// Nothing here locks: a machine evaluated on several threads must not be
// changed meanwhile.
#ifndef TELSOR_CLASSIFY_SVMACHINE_H
#define TELSOR_CLASSIFY_SVMACHINE_H

#include <memory>

#include "classify/kernel.h"
#include "classify/machine.h"
#include "classify/matrix.h"
#include "classify/realvector.h"
#include "foundation/istream.h"
#include "foundation/wintypes.h"

namespace telsor {

class CSVMachine : public CMachine {
 public:
  CSVMachine() : m_dB(0.0) {}
  CSVMachine(const CSVMachine& other) = default;
  CSVMachine& operator=(const CSVMachine& other) = default;

  // Report time 0, no coefficients, b = 0.
  void Empty() override;
  // The training progress report: at the first call and then at most every
  // 90 seconds, the iteration count and, for an SMO trainer, the sum of the
  // multipliers, the dual objective and the counts of bound and free
  // multipliers, at the Debug level.
  void OnEachIteration(CTrainer& trainer) override;
  // The SVM record.
  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;

  const CRealVector& GetCoefficients() const { return m_coefficients; }
  void SetCoefficients(const CRealVector& coefficients) { m_coefficients = coefficients; }
  double GetB() const { return m_dB; }
  void SetB(double b) { m_dB = b; }

 protected:
  CRealVector m_coefficients;
  double m_dB;
};

class CMetricSVMachine : public CSVMachine {
 public:
  // A dot-product kernel with scale 1.0, no support vectors.
  CMetricSVMachine();
  // A copy of kernel, no support vectors.
  explicit CMetricSVMachine(const CKernel& kernel);
  ~CMetricSVMachine() override;
  CMetricSVMachine(const CMetricSVMachine&) = delete;
  CMetricSVMachine& operator=(const CMetricSVMachine&) = delete;

  // Drops the kernel and the support vectors, then holds a copy of kernel;
  // coefficients and b stay.
  virtual void SetNewKernel(const CKernel& kernel);
  // CSVMachine::Empty, then no kernel and no support vectors.
  void Empty() override;
  // One element: the sum over the coefficients of K(x, support vector i) x
  // coefficient i (when there are support vectors and a kernel), minus b.
  CRealVector EvaluateRealVector(const CRealVector& x) const override;
  // The "MSVM" record (after the SVM record).
  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;

  const CKernel* GetKernel() const { return m_pKernel.get(); }
  const CMatrix* GetSupportVectors() const { return m_pMatrix.get(); }
  // Takes over a matrix of support vectors, one row per coefficient.
  void SetSupportVectors(std::unique_ptr<CMatrix> matrix) { m_pMatrix = std::move(matrix); }

 private:
  [[nodiscard]] HRESULT Store(IStream* stream);
  [[nodiscard]] HRESULT Load(IStream* stream);
  [[nodiscard]] HRESULT LoadParts(IStream* stream);

  std::unique_ptr<CKernel> m_pKernel;
  std::unique_ptr<CMatrix> m_pMatrix;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_SVMACHINE_H
