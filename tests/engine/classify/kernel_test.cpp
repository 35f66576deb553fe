// Vector kernels (values, clones, records, registration) and text kernels.
#include <gtest/gtest.h>
#include <math.h>

#include <memory>
#include <string>

#include "classify/kernel.h"
#include "classify/textkernel.h"
#include "common/teststream.h"
#include "recordbytes.h"

using namespace telsor;

namespace {

CRealVector V(std::initializer_list<double> values) {
  std::vector<double> v(values);
  return CRealVector(v.data(), static_cast<DWORD>(v.size()));
}

std::unique_ptr<CKernel> Reload(CKernel& k) {
  std::string bytes = Stored([&](CTestStream& s) { return k.Serialize(&s, 1); });
  std::unique_ptr<CKernel> r(static_cast<CKernel*>(GetRTTI(k.GetRuntimeClass()->m_lpszClassName)->CreateObject()));
  CTestStream in(bytes);
  EXPECT_EQ(S_OK, r->Serialize(&in, 0));
  EXPECT_EQ(in.bytes.size(), in.pos);
  return r;
}

}  // namespace

TEST(VectorKernelTest, Values) {
  EXPECT_EQ(32.0, CDotProductKernel(1.0).Evaluate(V({1, 2, 3}), V({4, 5, 6})));
  EXPECT_EQ(64.0, CDotProductKernel(2.0).Evaluate(V({1, 2, 3}), V({4, 5, 6})));
  EXPECT_EQ(9.0, CPolynomialKernel(2, 1.0, 1.0).Evaluate(V({1, 0}), V({2, 0})));
  EXPECT_EQ(27.0, CPolynomialKernel(3, 1.0, 1.0).Evaluate(V({1, 0}), V({2, 0})));
  EXPECT_EQ(1.0, CPolynomialKernel(0, 5.0, 3.0).Evaluate(V({1, 7}), V({2, 9})));
  EXPECT_EQ(1024.0, CPolynomialKernel(10, 1.0, 0.0).Evaluate(V({2}), V({1})));
  CGaussianKernel g(0.0);  // sigma 0 stands for 7
  EXPECT_EQ(-0.5 / 49.0, g.GetGamma());
  EXPECT_DOUBLE_EQ(7.0, g.GetVariance());
  EXPECT_EQ(1.0, g.Evaluate(V({1, 2}), V({1, 2})));
  EXPECT_DOUBLE_EQ(exp(-0.5 / 49.0 * 25.0), g.Evaluate(V({0, 0}), V({3, 4})));
  EXPECT_EQ(2.0, CGaussianKernel(-2.0).GetVariance());
  EXPECT_EQ(0.0, CSigmoidKernel(1.0, 0.0).Evaluate(V({1, 0}), V({0, 1})));
  EXPECT_DOUBLE_EQ(tanh(0.5 * 2 + 0.25), CSigmoidKernel(0.5, 0.25).Evaluate(V({1, 1}), V({1, 1})));
}

TEST(VectorKernelTest, SumsRunOverTheFirstVector) {
  // Extra elements of the second vector are not looked at; elements it
  // lacks count as 0.
  EXPECT_EQ(14.0, CDotProductKernel().Evaluate(V({1, 2}), V({4, 5, 100})));
  EXPECT_EQ(4.0, CDotProductKernel().Evaluate(V({1, 2, 3}), V({4})));
  CGaussianKernel g(1.0);
  EXPECT_DOUBLE_EQ(exp(-0.5 * (1 + 9)), g.Evaluate(V({1, 3}), V({})));
  EXPECT_DOUBLE_EQ(1.0, g.Evaluate(V({}), V({1, 3})));
}

TEST(VectorKernelTest, ClonesKeepParameters) {
  const CRealVector x = V({0.5, -1, 2}), y = V({1.5, 2, -0.25});
  std::unique_ptr<CKernel> kernels[] = {
      std::unique_ptr<CKernel>(new CDotProductKernel(0.75)),
      std::unique_ptr<CKernel>(new CPolynomialKernel(3, 0.5, 1.25)),
      std::unique_ptr<CKernel>(new CGaussianKernel(2.5)),
      std::unique_ptr<CKernel>(new CSigmoidKernel(0.3, -0.1)),
  };
  for (auto& k : kernels) {
    std::unique_ptr<CKernel> c(k->Clone());
    EXPECT_STREQ(k->GetRuntimeClass()->m_lpszClassName, c->GetRuntimeClass()->m_lpszClassName);
    EXPECT_EQ(k->Evaluate(x, y), c->Evaluate(x, y));
    std::unique_ptr<CKernel> r = Reload(*k);
    EXPECT_EQ(k->Evaluate(x, y), r->Evaluate(x, y)) << k->GetRuntimeClass()->m_lpszClassName;
  }
}

TEST(VectorKernelTest, RecordsGoldenBytes) {
  CDotProductKernel d(1.5);
  EXPECT_EQ(F64(1.5), Stored([&](CTestStream& s) { return d.Serialize(&s, 1); }));
  CPolynomialKernel p(3, 2.0, 0.5);
  std::string pb = Stored([&](CTestStream& s) { return p.Serialize(&s, 1); });
  EXPECT_EQ(F64(2.0) + F64(0.5) + U32(3), pb);
  EXPECT_EQ(20u, pb.size());
  CGaussianKernel g(2.0);
  EXPECT_EQ(F64(-0.125), Stored([&](CTestStream& s) { return g.Serialize(&s, 1); }));
  CSigmoidKernel s(0.25, -1.0);
  EXPECT_EQ(F64(0.25) + F64(-1.0), Stored([&](CTestStream& st) { return s.Serialize(&st, 1); }));
  // Reading the Gaussian record sets gamma itself.
  CTestStream in(F64(-2.0));
  CGaussianKernel r;
  ASSERT_EQ(S_OK, r.Serialize(&in, 0));
  EXPECT_EQ(-2.0, r.GetGamma());
  EXPECT_EQ(0.5, r.GetVariance());
}

TEST(VectorKernelTest, RegistryHoldsTheFourKernels) {
  struct Want {
    const char* name;
    double value;  // on (1, 2) and (3, 4) with the factory defaults
  } want[] = {
      {"CDotProductKernel", 11.0},
      {"CPolynomialKernel", 121.0},
      {"CGaussianKernel", exp(-0.5 / 49.0 * 8.0)},
      {"CSigmoidKernel", tanh(11.0)},
  };
  for (const Want& w : want) {
    CRTTI* rec = GetRTTI(w.name);
    ASSERT_NE(nullptr, rec) << w.name;
    EXPECT_STREQ("CKernel", rec->m_pBaseClass->m_lpszClassName);
    std::unique_ptr<CKernel> k(static_cast<CKernel*>(rec->CreateObject()));
    EXPECT_DOUBLE_EQ(w.value, k->Evaluate(V({1, 2}), V({3, 4}))) << w.name;
  }
  EXPECT_EQ(nullptr, GetRTTI("CKernel"));
  // Registered in one step, sigmoid first: the dot-product kernel is found
  // first when walking the list.
  CRTTI* first = nullptr;
  for (CRTTI* r = GetRTTI("CDotProductKernel"); r != nullptr; r = r->m_pNextClass)
    if (lstrcmpA(r->m_lpszClassName, "CSigmoidKernel") == 0) first = r;
  EXPECT_NE(nullptr, first);
  EXPECT_EQ(GetRTTI("CPolynomialKernel"), GetRTTI("CDotProductKernel")->m_pNextClass);
}

TEST(TextKernelTest, Values) {
  EXPECT_EQ(2.0, CSubstringKernel(2, 1.0).Evaluate("abab", 4, "ab", 2));
  EXPECT_EQ(3.0, CFullSubstringKernel(2, 1.0).Evaluate("ab", 2, "ab", 2));
  EXPECT_EQ(1.0, CBOWKernel(2, 1.0).Evaluate("to be", 5, "to go", 5));
  EXPECT_EQ(0.0, CBOWKernel(3, 1.0).Evaluate("to be", 5, "to go", 5));
  // The decay: lambda = 0.5 gives L = 0.25.
  EXPECT_DOUBLE_EQ(2 * pow(0.25, 3), CSubstringKernel(2, -0.5).Evaluate("abab", 4, "ab", 2));
  EXPECT_DOUBLE_EQ(0.25 + 0.0625 + 0.25, CFullSubstringKernel(2, 0.5).Evaluate("ab", 2, "ab", 2));
  // k = 0: every pair of positions (word starts) adds L; the full kernel adds nothing.
  EXPECT_EQ(8.0, CSubstringKernel(0, 1.0).Evaluate("abcd", 4, "xy", 2));
  EXPECT_EQ(0.0, CFullSubstringKernel(0, 1.0).Evaluate("ab", 2, "ab", 2));
  EXPECT_EQ(4.0, CBOWKernel(0, 1.0).Evaluate("to be", 5, "a b", 3));
  // A white-space byte starts a new (possibly empty) word.
  EXPECT_EQ(9.0, CBOWKernel(0, 1.0).Evaluate("a  b", 4, "x\ty z", 5));
  EXPECT_EQ(1.0, CBOWKernel(2, 1.0).Evaluate("ab", 2, "xx\nab", 5));
}

TEST(TextKernelTest, NGramKernelMakesVectors) {
  CNGramsKernel k(3);
  const char* s = "the cat sat on the mat";
  const char* t = "a cat on a mat";
  std::unique_ptr<CTextVector> a(k.CreateVector(s, static_cast<DWORD>(strlen(s))));
  std::unique_ptr<CTextVector> b(k.CreateVector(t, static_cast<DWORD>(strlen(t))));
  ASSERT_NE(nullptr, a);
  CNGramsVector va(3, s, static_cast<DWORD>(strlen(s)), DefaultNextStopWord);
  CNGramsVector vb(3, t, static_cast<DWORD>(strlen(t)), DefaultNextStopWord);
  EXPECT_TRUE(va == *static_cast<CNGramsVector*>(a.get()));
  EXPECT_GT(va.DotProduct(vb), 0.0);
  EXPECT_EQ(va.DotProduct(vb), k.Evaluate(*a, *b));
  EXPECT_EQ(va.DotProduct(vb), k.Evaluate(s, static_cast<DWORD>(strlen(s)), t, static_cast<DWORD>(strlen(t))));
  std::unique_ptr<CTextKernel> c(k.Clone());
  EXPECT_EQ(3u, c->GetK());
  EXPECT_EQ(0.0, c->GetLambda());
  EXPECT_EQ(k.Evaluate(*a, *b), c->Evaluate(*a, *b));
  // Kernels that make no vectors.
  CBOWKernel bow(2, -0.5);
  EXPECT_EQ(nullptr, bow.CreateVector(s, 5));
  EXPECT_EQ(0.0, bow.Evaluate(*a, *b));
  std::unique_ptr<CTextKernel> bc(bow.Clone());
  EXPECT_EQ(2u, bc->GetK());
  EXPECT_EQ(0.5, bc->GetLambda());
  EXPECT_EQ(bow.Evaluate("to be", 5, "to go", 5), bc->Evaluate("to be", 5, "to go", 5));
}
