// Support-vector machines: the metric machine's value against a direct sum,
// kernel and matrix lifetimes, the "SVM" and "MSVM" records both ways, and
// every damaged record failing with its code.
#include <gtest/gtest.h>

#include <math.h>

#include <memory>
#include <string>

#include "classify/kernel.h"
#include "classify/matrix.h"
#include "classify/svmachine.h"
#include "common/teststream.h"
#include "recordbytes.h"

using namespace telsor;

namespace {

const double kRows[3][4] = {{1, 0, 2, 0.5}, {-1, 3, 0, 0}, {0.25, 0.25, 0.25, 0.25}};
const double kCoefficients[3] = {0.5, -2.0, 4.0};

std::unique_ptr<CMatrix> SupportVectors() {
  std::unique_ptr<CMatrix> m(new CMemMatrix(3, 4));
  for (DWORD r = 0; r < 3; ++r) m->SetRow(r, kRows[r]);
  return m;
}

// A machine with a Gaussian kernel, three support vectors and b = 0.75.
void Fill(CMetricSVMachine& m) {
  m.SetNewKernel(CGaussianKernel(2.0));
  m.SetSupportVectors(SupportVectors());
  m.SetCoefficients(CRealVector(kCoefficients, 3));
  m.SetB(0.75);
}

TEST(SVMachine, MetricValueIsTheKernelSumMinusB) {
  CMetricSVMachine m;
  m.SetB(0.5);
  // No support vectors: -b.
  ASSERT_EQ(m.EvaluateRealVector(CRealVector(4)).GetSize(), 1u);
  EXPECT_EQ(m.EvaluateRealVector(CRealVector(4))[0], -0.5);

  Fill(m);
  const double x[4] = {0.5, 1, -1, 2};
  double expected = 0;
  for (int r = 0; r < 3; ++r) {
    double d2 = 0;
    for (int c = 0; c < 4; ++c) d2 += (x[c] - kRows[r][c]) * (x[c] - kRows[r][c]);
    expected += exp(-0.5 / 4.0 * d2) * kCoefficients[r];
  }
  EXPECT_NEAR(m.EvaluateRealVector(CRealVector(x, 4))[0], expected - 0.75, 1e-12);
}

TEST(SVMachine, KernelAndMatrixLifetimes) {
  CMetricSVMachine m;
  ASSERT_NE(m.GetKernel(), nullptr);
  EXPECT_STREQ(m.GetKernel()->GetRuntimeClass()->m_lpszClassName, "CDotProductKernel");
  Fill(m);
  m.Empty();
  EXPECT_EQ(m.GetKernel(), nullptr);
  EXPECT_EQ(m.GetSupportVectors(), nullptr);
  EXPECT_EQ(m.GetB(), 0.0);
  EXPECT_TRUE(m.GetCoefficients().IsEmpty());
  EXPECT_EQ(m.EvaluateRealVector(CRealVector(4))[0], 0.0);

  // A new kernel drops the support vectors but keeps coefficients and b.
  Fill(m);
  m.SetNewKernel(CSigmoidKernel(1.0, 0.5));
  EXPECT_STREQ(m.GetKernel()->GetRuntimeClass()->m_lpszClassName, "CSigmoidKernel");
  EXPECT_EQ(m.GetSupportVectors(), nullptr);
  EXPECT_EQ(m.GetB(), 0.75);
  EXPECT_EQ(m.GetCoefficients().GetSize(), 3u);
}

TEST(SVMachine, SvmRecordBytes) {
  CSVMachine m;
  m.SetB(1.5);
  const double c[2] = {0.25, -1};
  m.SetCoefficients(CRealVector(c, 2));
  std::string bytes = Stored([&](CTestStream& s) { return m.Serialize(&s, 1); });
  EXPECT_EQ(bytes, std::string("SVM\0", 4) + F64(1.5) + U32(2) + F64(0.25) + F64(-1));
  CSVMachine back;
  CTestStream in(bytes);
  ASSERT_EQ(back.Serialize(&in, 0), S_OK);
  EXPECT_EQ(back.GetB(), 1.5);
  EXPECT_EQ(back.GetCoefficients(), m.GetCoefficients());
}

TEST(SVMachine, MsvmRoundTrips) {
  const double x[4] = {0.5, 1, -1, 2};
  for (bool withMatrix : {true, false}) {
    CMetricSVMachine m;
    Fill(m);
    if (!withMatrix) m.SetSupportVectors(nullptr);
    std::string bytes = Stored([&](CTestStream& s) { return m.Serialize(&s, 1); });
    const size_t svm = 4 + 8 + 4 + 3 * 8;
    EXPECT_EQ(bytes.substr(svm, 5), std::string("MSVM") + (withMatrix ? '\1' : '\0'));
    if (withMatrix) {
      EXPECT_EQ(bytes.substr(svm + 5, 14), U32(10) + "CMemMatrix");
    }

    CMetricSVMachine back{CPolynomialKernel()};
    back.SetSupportVectors(SupportVectors());
    CTestStream in(bytes);
    ASSERT_EQ(back.Serialize(&in, 0), S_OK) << withMatrix;
    EXPECT_EQ(in.pos, bytes.size());
    EXPECT_STREQ(back.GetKernel()->GetRuntimeClass()->m_lpszClassName, "CGaussianKernel");
    EXPECT_EQ(back.GetSupportVectors() != nullptr, withMatrix);
    EXPECT_EQ(back.EvaluateRealVector(CRealVector(x, 4))[0], m.EvaluateRealVector(CRealVector(x, 4))[0]);
    // Stored again, the same bytes.
    EXPECT_EQ(Stored([&](CTestStream& s) { return back.Serialize(&s, 1); }), bytes);
  }
}

TEST(SVMachine, StoringWithoutAKernelWritesNothing) {
  CMetricSVMachine m;
  m.Empty();
  CTestStream out;
  EXPECT_EQ(m.Serialize(&out, 1), E_FAIL);
  EXPECT_TRUE(out.bytes.empty());
}

TEST(SVMachine, DamagedMsvmRecords) {
  CMetricSVMachine good;
  Fill(good);
  const std::string bytes = Stored([&](CTestStream& s) { return good.Serialize(&s, 1); });
  const size_t svm = 4 + 8 + 4 + 3 * 8;
  const size_t matrixName = svm + 5;
  const size_t kernelName = bytes.find("CGaussianKernel") - 4;
  ASSERT_NE(kernelName + 4, std::string::npos);

  auto with = [&](size_t at, const std::string& replacement, size_t length) {
    std::string b = bytes;
    return b.replace(at, length, replacement);
  };
  struct Case {
    const char* what;
    std::string record;
  } cases[] = {
      {"SVM signature", with(0, "SVX", 3)},
      {"MSVM signature", with(svm, "MSVN", 4)},
      {"unknown matrix class", with(matrixName, U32(10) + "CNoMatrix!", 14)},
      {"kernel class as matrix", with(matrixName, U32(15) + "CGaussianKernel", 14)},
      {"unknown kernel class", with(kernelName, U32(15) + "CGaussianKernex", 19)},
      {"abstract kernel class", with(kernelName, U32(7) + "CKernel", 19)},
      {"matrix class as kernel", with(kernelName, U32(10) + "CMemMatrix", 19)},
      {"kernel name with a NUL", with(kernelName, U32(16) + std::string("CGaussianKernel\0", 16), 19)},
      {"has-matrix byte 2", with(svm + 4, std::string(1, '\2'), 1)},
  };
  for (const Case& c : cases) {
    CMetricSVMachine m;
    CTestStream in(c.record);
    EXPECT_EQ(m.Serialize(&in, 0), E_FAIL) << c.what;
    // Whatever was left is safe to use.
    m.EvaluateRealVector(CRealVector(4));
  }
  // Every truncation is a short record; a failure leaves no matrix.
  for (size_t n = 0; n < bytes.size(); ++n) {
    CMetricSVMachine m;
    m.SetSupportVectors(SupportVectors());
    CTestStream in(bytes.substr(0, n));
    ASSERT_EQ(m.Serialize(&in, 0), E_FAIL) << n;
    if (n >= svm + 4) {
      EXPECT_EQ(m.GetSupportVectors(), nullptr) << n;
    }
    m.EvaluateRealVector(CRealVector(4));
  }
  // A failing stream gives its own code.
  for (size_t at : {size_t(0), size_t(20), svm + 2, kernelName + 10}) {
    CMetricSVMachine m;
    CTestStream in(bytes);
    in.failReadAt = at;
    in.failure = static_cast<HRESULT>(0x80000009u);
    EXPECT_EQ(m.Serialize(&in, 0), static_cast<HRESULT>(0x80000009u)) << at;
  }
  // A failing write ends the record with its code.
  CTestStream full;
  full.failWrite = static_cast<HRESULT>(0x80000009u);
  EXPECT_EQ(good.Serialize(&full, 1), static_cast<HRESULT>(0x80000009u));
}

}  // namespace
