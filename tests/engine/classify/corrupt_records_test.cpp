// Damaged records of the learning core: every truncation and every bad
// field of the real-vector, n-gram-vector, matrix and kernel records must
// fail with its code, cost no allocation of the claimed size, and leave an
// object that is safe to use.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classify/kernel.h"
#include "classify/matrix.h"
#include "classify/ngramsvector.h"
#include "classify/realvector.h"
#include "common/teststream.h"
#include "recordbytes.h"

using namespace telsor;

namespace {

enum Kind { REAL, NGRAMS, MATRIX, DENSE, SYMMETRIC, DOT, POLY, GAUSS, SIGMOID };

const char* KindName(Kind k) {
  static const char* names[] = {"real vector", "n-gram vector", "CMatrix", "CMemMatrix", "CSymMemMatrix",
                                "dot-product kernel", "polynomial kernel", "Gaussian kernel", "sigmoid kernel"};
  return names[k];
}

// Loads the bytes into a fresh object of the kind, checks what a failure
// leaves behind, and uses the object.
HRESULT Load(Kind kind, const std::string& bytes, CTestStream* stream = nullptr) {
  CTestStream own(bytes);
  CTestStream& s = stream ? *stream : own;
  HRESULT hr;
  switch (kind) {
    case REAL: {
      double keep[2] = {1, 2};
      CRealVector v(keep, 2);
      hr = v.Serialize(&s, 0);
      if (hr != S_OK && s.pos >= 4) {
        EXPECT_TRUE(v.IsEmpty());
      }
      double sum = 0;
      for (DWORD i = 0; i < v.GetSize(); ++i) sum += v[i];
      (void)sum;
      return hr;
    }
    case NGRAMS: {
      CNGramsVector v(7, "some text to start with", 23, nullptr);
      CNGramsVector other(5, "the quick brown fox", 19, nullptr);
      hr = v.Serialize(&s, 0);
      if (hr != S_OK) {
        EXPECT_EQ(0u, v.GetCount());
        EXPECT_EQ(7, v.GetLenNGrams());
      }
      v.DotProduct();
      v.DotProduct(other);
      v.DotProductThisMinusVec(other);
      v.DotProduct(v);
      CNGramsVector copy = v;
      copy *= 0.5;
      v.InsertEntry(1.0, reinterpret_cast<const BYTE*>("abcdefghij"));
      return hr;
    }
    default:
      break;
  }
  if (kind == MATRIX || kind == DENSE || kind == SYMMETRIC) {
    std::unique_ptr<CMatrix> m(kind == MATRIX ? new CMatrix(2, 2)
                               : kind == DENSE ? static_cast<CMatrix*>(new CMemMatrix(2, 2))
                                               : new CSymMemMatrix(2));
    hr = m->Serialize(&s, 0);
    if (hr != S_OK && kind != MATRIX) {
      EXPECT_EQ(0u, m->GetRowCount());
      EXPECT_EQ(0u, m->GetColumnCount());
    }
    if (kind != MATRIX && m->GetRowCount() < 4096 && m->GetColumnCount() < 4096) {
      std::vector<double> row(m->GetColumnCount() + 1);
      for (DWORD i = 0; i < m->GetRowCount(); ++i) m->GetRow(i, row.data());
      m->InfinityNorm();
      m->Align();
    }
    return hr;
  }
  std::unique_ptr<CKernel> k(kind == DOT    ? static_cast<CKernel*>(new CDotProductKernel)
                             : kind == POLY ? static_cast<CKernel*>(new CPolynomialKernel)
                             : kind == GAUSS ? static_cast<CKernel*>(new CGaussianKernel)
                                             : new CSigmoidKernel);
  hr = k->Serialize(&s, 0);
  double x[2] = {1, 2};
  k->Evaluate(CRealVector(x, 2), CRealVector(x, 2));
  return hr;
}

const Kind kAllKinds[] = {REAL, NGRAMS, MATRIX, DENSE, SYMMETRIC, DOT, POLY, GAUSS, SIGMOID};

// Writes a small sample object of the kind.
HRESULT StoreSample(Kind kind, CTestStream& s) {
  double v[3] = {1, -2, 3};
  switch (kind) {
    case REAL: return CRealVector(v, 3).Serialize(&s, 1);
    case NGRAMS: return CNGramsVector(3, "catcat dog", 10, nullptr).Serialize(&s, 1);
    case MATRIX: return CMatrix(2, 5).Serialize(&s, 1);
    case DENSE: {
      CMemMatrix m(2, 3);
      m.SetAt(1, 2, 4.5);
      return m.Serialize(&s, 1);
    }
    case SYMMETRIC: return CSymMemMatrix(v, 2).Serialize(&s, 1);
    case DOT: return CDotProductKernel(2.0).Serialize(&s, 1);
    case POLY: return CPolynomialKernel(3, 1.5, 0.5).Serialize(&s, 1);
    case GAUSS: return CGaussianKernel(3.0).Serialize(&s, 1);
    default: return CSigmoidKernel(0.5, 0.25).Serialize(&s, 1);
  }
}

std::string NGramsHeader(unsigned n, unsigned entrySize, unsigned count) {
  return U16(n) + U32(entrySize) + U32(count);
}

std::string Entry(float w, const std::string& gram) { return F32(w) + gram; }

std::string Matr(unsigned rows, unsigned columns) { return std::string("MATR") + U32(rows) + U32(columns); }

std::string Doubles(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += F64(static_cast<double>(i) + 1);
  return s;
}

}  // namespace

TEST(CorruptClassifyRecordsTest, EveryTruncationFails) {
  for (Kind kind : kAllKinds) {
    const std::string bytes = Stored([&](CTestStream& s) { return StoreSample(kind, s); });
    ASSERT_EQ(S_OK, Load(kind, bytes)) << KindName(kind);
    for (size_t cut = 0; cut < bytes.size(); ++cut)
      EXPECT_EQ(E_FAIL, Load(kind, bytes.substr(0, cut))) << KindName(kind) << " cut at " << cut;
  }
}

TEST(CorruptClassifyRecordsTest, BadFieldsFail) {
  const std::string goodGrams = NGramsHeader(3, 7, 2) + Entry(1, "abc") + Entry(2, "abd");
  struct Case {
    const char* name;
    Kind kind;
    std::string bytes;
    HRESULT want;
  } cases[] = {
      {"good n-gram record", NGRAMS, goodGrams, S_OK},
      {"real vector: huge count, short record", REAL, U32(0xFFFFFFFFu) + Doubles(3), E_FAIL},
      {"n-grams: entry size below n + 4", NGRAMS, NGramsHeader(3, 6, 1) + Entry(1, "ab"), E_FAIL},
      {"n-grams: entry size above n + 4", NGRAMS, NGramsHeader(3, 8, 1) + Entry(1, "abcd"), E_FAIL},
      {"n-grams: entries out of order", NGRAMS, NGramsHeader(3, 7, 2) + Entry(1, "abd") + Entry(2, "abc"), E_FAIL},
      {"n-grams: the same n-gram twice", NGRAMS, NGramsHeader(3, 7, 2) + Entry(1, "abc") + Entry(2, "abc"), E_FAIL},
      {"n-grams: bytes compare unsigned", NGRAMS, NGramsHeader(1, 5, 2) + Entry(1, "\x80") + Entry(1, "\x7f"), E_FAIL},
      {"n-grams: two entries of length 0", NGRAMS, NGramsHeader(0, 4, 2) + F32(1) + F32(2), E_FAIL},
      {"n-grams: one entry of length 0", NGRAMS, NGramsHeader(0, 4, 1) + F32(1), S_OK},
      {"n-grams: huge count, short record", NGRAMS, NGramsHeader(5, 9, 0xFFFFFFFFu) + Entry(1, "abcde"), E_FAIL},
      // count x (n + 4) = 0x100030000: a 32-bit product would be 0x30000.
      {"n-grams: size beyond 32 bits", NGRAMS, NGramsHeader(0xFFFF, 0x10003, 0x10000) + std::string(0x30000, 'a'), E_FAIL},
      {"n-grams: entry size wraps to n + 4", NGRAMS, NGramsHeader(0xFFFF, 3, 1) + F32(1), E_FAIL},
      {"matrix: wrong magic", DENSE, std::string("MATX") + U32(0) + U32(0) + U64(0), E_FAIL},
      {"CMatrix: wrong magic", MATRIX, std::string("matr") + U32(1) + U32(1), E_FAIL},
      {"matrix: count is not rows x columns", DENSE, Matr(2, 2) + U64(3) + Doubles(3), E_FAIL},
      {"matrix: count high half set", DENSE, Matr(0, 0) + U64(0x100000000ull), E_FAIL},
      {"matrix: rows x columns beyond 32 bits", DENSE, Matr(0x10000, 0x10000) + U64(0x100000000ull) + Doubles(4), E_FAIL},
      // 0x10000 x 0x10001 = 0x100010000: a 32-bit product would be 0x10000.
      {"matrix: product wraps in 32 bits", DENSE, Matr(0x10000, 0x10001) + U64(0x10000) + Doubles(0x10000), E_FAIL},
      {"matrix: huge count, short record", DENSE, Matr(0xFFFF, 0xFFFF) + U64(0xFFFE0001ull) + Doubles(5), E_FAIL},
      {"matrix: no elements", DENSE, Matr(5, 0) + U64(0), S_OK},
      {"symmetric: not square", SYMMETRIC, Matr(2, 3) + U64(3) + Doubles(3), E_FAIL},
      {"symmetric: dense count", SYMMETRIC, Matr(2, 2) + U64(4) + Doubles(4), E_FAIL},
      // n = 0x10000: n(n+1) = 0x100010000; halved in 32 bits it would be 0x8000.
      {"symmetric: packed size wraps in 32 bits", SYMMETRIC, Matr(0x10000, 0x10000) + U64(0x8000) + Doubles(0x8000), E_FAIL},
      {"symmetric: packed size beyond 32 bits", SYMMETRIC, Matr(0x20000, 0x20000) + U64(0x200010000ull) + Doubles(2), E_FAIL},
      {"symmetric: huge count, short record", SYMMETRIC, Matr(0xFFFF, 0xFFFF) + U64(0x7FFF8000ull) + Doubles(2), E_FAIL},
      {"symmetric: good", SYMMETRIC, Matr(2, 2) + U64(3) + Doubles(3), S_OK},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, Load(c.kind, c.bytes)) << c.name;
}

TEST(CorruptClassifyRecordsTest, StreamFailuresArePassedOn) {
  const HRESULT error = static_cast<HRESULT>(0x8000ABCDu);
  for (Kind kind : kAllKinds) {
    const std::string bytes = Stored([&](CTestStream& s) { return StoreSample(kind, s); });
    for (size_t at = 0; at < bytes.size(); ++at) {
      CTestStream s(bytes);
      s.failReadAt = at;
      s.failure = error;
      EXPECT_EQ(error, Load(kind, bytes, &s)) << KindName(kind) << " failing at " << at;
    }
    CTestStream w;
    w.failWrite = error;
    EXPECT_EQ(error, StoreSample(kind, w)) << KindName(kind) << " writing";
  }
  CRealVector real;
  CMemMatrix dense;
  CPolynomialKernel poly;
  EXPECT_EQ(E_POINTER, real.Serialize(nullptr, 0));
  EXPECT_EQ(E_POINTER, dense.Serialize(nullptr, 0));
  EXPECT_EQ(E_POINTER, poly.Serialize(nullptr, 0));
}
