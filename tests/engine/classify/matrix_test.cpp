// Matrices: element access, sharing, resizing, assignment between classes,
// the generic algorithms, Align, the "MATR" record and registration by name.
#include <gtest/gtest.h>
#include <math.h>

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "classify/matrix.h"
#include "common/teststream.h"
#include "recordbytes.h"

using namespace telsor;

namespace {

// A matrix that keeps its elements in a map: the base's generic algorithms
// run over its GetAt and SetAt.
class CMapMatrix : public CMatrix {
 public:
  CMapMatrix(DWORD rows, DWORD columns) : CMatrix(rows, columns) {}
  void SetAt(DWORD r, DWORD c, double v) override { cells[{r, c}] = v; }
  double GetAt(DWORD r, DWORD c) const override {
    auto it = cells.find({r, c});
    return it == cells.end() ? 0.0 : it->second;
  }
  std::map<std::pair<DWORD, DWORD>, double> cells;
};

std::vector<double> Row(const CMatrix& m, DWORD i) {
  std::vector<double> r(m.GetColumnCount());
  m.GetRow(i, r.data());
  return r;
}

template <class M>
void Fill(M& m, const std::vector<std::vector<double>>& rows) {
  for (DWORD i = 0; i < rows.size(); ++i)
    for (DWORD j = 0; j < rows[i].size(); ++j) m.SetAt(i, j, rows[i][j]);
}

}  // namespace

TEST(MatrixTest, AlignGivesUnitDiagonalForEveryClass) {
  const std::vector<std::vector<double>> gram = {{4, 2}, {2, 9}};
  CMemMatrix dense(2, 2);
  CSymMemMatrix sym(2);
  CMapMatrix generic(2, 2);
  Fill(dense, gram);
  Fill(sym, gram);
  Fill(generic, gram);
  CMatrix* all[] = {&dense, &sym, &generic};
  for (CMatrix* m : all) {
    m->Align();
    EXPECT_EQ(1.0, m->GetAt(0, 0));
    EXPECT_EQ(1.0, m->GetAt(1, 1));
    EXPECT_DOUBLE_EQ(1.0 / 3.0, m->GetAt(0, 1));
    EXPECT_DOUBLE_EQ(1.0 / 3.0, m->GetAt(1, 0));
  }
}

TEST(MatrixTest, AlignOfANonSquareMatrixStaysInsideIt) {
  // Only the leading square is normalised; the third column is left alone.
  CMemMatrix m(2, 3);
  Fill(m, {{4, 2, 7}, {2, 9, 8}});
  m.Align();
  EXPECT_EQ((std::vector<double>{1, 1.0 / 3, 7}), Row(m, 0));
  EXPECT_EQ((std::vector<double>{1.0 / 3, 1, 8}), Row(m, 1));
  CMemMatrix tall(3, 2);
  Fill(tall, {{4, 2}, {2, 9}, {5, 5}});
  tall.Align();
  EXPECT_EQ((std::vector<double>{5, 5}), Row(tall, 2));
}

TEST(MatrixTest, GenericAlgorithms) {
  CMapMatrix m(2, 2);
  Fill(m, {{1, -2}, {3, 0}});
  EXPECT_EQ(3.0, m.InfinityNorm());
  EXPECT_EQ(0.0, CMapMatrix(0, 0).InfinityNorm());
  m *= 2.0;
  EXPECT_EQ(-4.0, m.GetAt(0, 1));
  m /= 4.0;
  EXPECT_EQ(1.5, m.GetAt(1, 0));
  std::vector<double> col(2);
  m.GetColumn(0, col.data());
  EXPECT_EQ((std::vector<double>{0.5, 1.5}), col);
  const double in[2] = {7, 8};
  m.SetColumn(1, in);
  m.SetRow(0, in);
  EXPECT_EQ((std::vector<double>{7, 8}), Row(m, 0));
  EXPECT_EQ(8.0, m.GetAt(1, 1));
  m.SetEach(0.25);
  EXPECT_EQ(0.25, m.GetAt(1, 0));
  EXPECT_EQ(&m, &m.Transpose());
  CMatrix plain(4, 5);
  EXPECT_EQ(0.0, plain.GetAt(1, 1));
  CMatrix copy;
  copy.Assign(plain);
  EXPECT_EQ(4u, copy.GetRowCount());
  EXPECT_EQ(5u, copy.GetColumnCount());
  copy.Empty();
  EXPECT_EQ(0u, copy.GetRowCount());
}

TEST(MatrixTest, DenseElementsAndLoops) {
  const double data[6] = {1, -2, 3, 0, 5, -6};
  CMemMatrix m(data, 2, 3);
  EXPECT_EQ(5.0, m.GetAt(1, 1));
  EXPECT_EQ(11.0, m.InfinityNorm());
  m /= 2.0;
  EXPECT_EQ(-1.0, m.GetAt(0, 1));
  m *= 2.0;
  EXPECT_EQ(-2.0, m.GetAt(0, 1));
  std::vector<double> col(2);
  m.GetColumns(2, col.data());
  EXPECT_EQ((std::vector<double>{3, -6}), col);
  const double c[2] = {9, 8};
  m.SetColumns(0, c);
  EXPECT_EQ((std::vector<double>{9, -2, 3}), Row(m, 0));
  EXPECT_EQ((std::vector<double>{8, 5, -6}), Row(m, 1));
  m.SetEach(1.0);
  EXPECT_EQ(3.0, m.InfinityNorm());
  EXPECT_EQ(&m, &m.Transpose());
  // A product of 0 is the empty matrix.
  CMemMatrix none(5, 0);
  EXPECT_EQ(0u, none.GetRowCount());
  EXPECT_EQ(-1, none.GetDataRefs());
}

TEST(MatrixTest, AssignSharesAndWritesUnshare) {
  CMemMatrix a(2, 2);
  Fill(a, {{1, 2}, {3, 4}});
  CMemMatrix b;
  b.Assign(a);
  EXPECT_TRUE(b.SharesDataWith(a));
  EXPECT_EQ(2, a.GetDataRefs());
  b.SetAt(0, 0, 5.0);
  EXPECT_EQ(1.0, a.GetAt(0, 0));
  EXPECT_EQ(5.0, b.GetAt(0, 0));
  EXPECT_EQ(1, a.GetDataRefs());
  EXPECT_EQ(1, b.GetDataRefs());
  // Each writing operation unshares first.
  typedef std::function<void(CMemMatrix&)> Write;
  const Write writes[] = {
      [](CMemMatrix& m) { m.SetEach(0.0); },
      [](CMemMatrix& m) { m *= 3.0; },
      [](CMemMatrix& m) { m /= 3.0; },
      [](CMemMatrix& m) { m.Align(); },
      [](CMemMatrix& m) { const double r[2] = {0, 0}; m.SetRow(1, r); },
      [](CMemMatrix& m) { const double r[2] = {0, 0}; m.SetColumns(1, r); },
      [](CMemMatrix& m) { m.Resize(2, 3); },
  };
  for (const Write& w : writes) {
    CMemMatrix c = a;
    EXPECT_TRUE(c.SharesDataWith(a));
    w(c);
    EXPECT_EQ((std::vector<double>{1, 2}), Row(a, 0));
    EXPECT_EQ((std::vector<double>{3, 4}), Row(a, 1));
  }
  EXPECT_EQ(1, a.GetDataRefs());
}

TEST(MatrixTest, DenseResizeKeepsTheTopLeftBlock) {
  const double data[6] = {1, 2, 3, 4, 5, 6};
  struct Case {
    DWORD rows, columns;
    bool shared;
  } cases[] = {{2, 2, false}, {2, 2, true}, {3, 4, false}, {1, 3, false}, {2, 1, true},
               {4, 2, false}, {2, 3, false}, {1, 1, true}};
  for (const Case& c : cases) {
    CMemMatrix m(data, 2, 3);
    m.Resize(2, 3);  // same shape: nothing moves
    CMemMatrix holder;
    if (c.shared) holder.Assign(m);
    m.Resize(c.rows, c.columns);
    ASSERT_EQ(c.rows, m.GetRowCount());
    ASSERT_EQ(c.columns, m.GetColumnCount());
    EXPECT_EQ(c.rows * c.columns, m.GetElementCount());
    for (DWORD i = 0; i < std::min(c.rows, 2u); ++i)
      for (DWORD j = 0; j < std::min(c.columns, 3u); ++j)
        EXPECT_EQ(data[i * 3 + j], m.GetAt(i, j)) << c.rows << "x" << c.columns << " (" << i << "," << j << ")";
    if (c.shared) {
      EXPECT_EQ(6.0, holder.GetAt(1, 2));
    }
  }
  // Shrink in place, then grow within the same block.
  CMemMatrix m(data, 2, 3);
  m.Resize(2, 1);
  m.Resize(2, 2);
  EXPECT_EQ(1.0, m.GetAt(0, 0));
  EXPECT_EQ(4.0, m.GetAt(1, 0));
  m.Resize(0, 7);
  EXPECT_EQ(0u, m.GetRowCount());
  EXPECT_EQ(0u, m.GetColumnCount());
}

TEST(MatrixTest, SymmetricRowsAndResize) {
  CSymMemMatrix s(3);
  Fill(s, {{1}, {2, 3}, {4, 5, 6}});
  EXPECT_EQ(6u, s.GetElementCount());
  EXPECT_EQ((std::vector<double>{1, 2, 4}), Row(s, 0));
  EXPECT_EQ((std::vector<double>{2, 3, 5}), Row(s, 1));
  EXPECT_EQ((std::vector<double>{4, 5, 6}), Row(s, 2));
  EXPECT_EQ(s.GetAt(0, 2), s.GetAt(2, 0));
  const double r[3] = {7, 8, 9};
  s.SetRow(1, r);  // (1,0) = 7, (1,1) = 8, (2,1) = 9
  EXPECT_EQ((std::vector<double>{1, 7, 4}), Row(s, 0));
  EXPECT_EQ((std::vector<double>{7, 8, 9}), Row(s, 1));
  std::vector<double> col(3);
  s.GetColumns(2, col.data());
  EXPECT_EQ((std::vector<double>{4, 9, 6}), col);
  CSymMemMatrix shared;
  shared.Assign(s);
  EXPECT_TRUE(shared.SharesDataWith(s));
  s.Resize(4, 4);
  EXPECT_EQ(10u, s.GetElementCount());
  std::vector<double> row2 = Row(s, 2);
  EXPECT_EQ((std::vector<double>{4, 9, 6}), std::vector<double>(row2.begin(), row2.begin() + 3));
  s.Resize(2, 5);  // always square
  EXPECT_EQ(2u, s.GetColumnCount());
  EXPECT_EQ((std::vector<double>{7, 8}), Row(s, 1));
  EXPECT_EQ(6.0, shared.GetAt(2, 2));
  const double packed[3] = {1, 2, 3};
  CSymMemMatrix p(packed, 2);
  EXPECT_EQ((std::vector<double>{2, 3}), Row(p, 1));
  EXPECT_EQ(0u, CSymMemMatrix(0u).GetRowCount());
}

TEST(MatrixTest, AssignAcrossClasses) {
  CMemMatrix dense(3, 3);
  Fill(dense, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  CSymMemMatrix sym(dense);
  // The dense matrix's lower triangle and diagonal.
  EXPECT_EQ(dense.GetAt(2, 0), sym.GetAt(0, 2));
  EXPECT_EQ((std::vector<double>{1, 4, 7}), Row(sym, 0));
  EXPECT_EQ((std::vector<double>{7, 8, 9}), Row(sym, 2));
  CMemMatrix back(sym);
  EXPECT_FALSE(back.SharesDataWith(sym));
  EXPECT_EQ((std::vector<double>{4, 5, 8}), Row(back, 1));
  // A non-square source gives the square of its smaller dimension.
  CMemMatrix wide(2, 3);
  Fill(wide, {{1, 2, 3}, {4, 5, 6}});
  CSymMemMatrix fromWide(wide);
  EXPECT_EQ(2u, fromWide.GetRowCount());
  EXPECT_EQ(2u, fromWide.GetColumnCount());
  EXPECT_EQ((std::vector<double>{1, 4}), Row(fromWide, 0));
  EXPECT_EQ((std::vector<double>{4, 5}), Row(fromWide, 1));
  // A plain CMatrix has no elements: zeros.
  CMemMatrix fromPlain(CMatrix(2, 2));
  EXPECT_EQ((std::vector<double>{0, 0}), Row(fromPlain, 1));
  // Copies and assignment of the same class share.
  CSymMemMatrix copy = sym;
  EXPECT_TRUE(copy.SharesDataWith(sym));
  copy = copy;
  EXPECT_EQ(2, copy.GetDataRefs());
}

TEST(MatrixRecordTest, GoldenBytes) {
  CMemMatrix empty;
  std::string e = Stored([&](CTestStream& s) { return empty.Serialize(&s, 1); });
  EXPECT_EQ(std::string("MATR") + U32(0) + U32(0) + U64(0), e);
  EXPECT_EQ(20u, e.size());
  CTestStream in(e);
  CMemMatrix back(2, 2);
  EXPECT_EQ(S_OK, back.Serialize(&in, 0));
  EXPECT_EQ(0u, back.GetRowCount());
  EXPECT_EQ(-1, back.GetDataRefs());

  CSymMemMatrix s(3);
  Fill(s, {{1}, {2, 3}, {4, 5, 6}});
  EXPECT_EQ(std::string("MATR") + U32(3) + U32(3) + U64(6) + F64(1) + F64(2) + F64(3) + F64(4) + F64(5) + F64(6),
            Stored([&](CTestStream& st) { return s.Serialize(&st, 1); }));
  CMemMatrix d(2, 3);
  Fill(d, {{1, 2, 3}, {4, 5, 6}});
  EXPECT_EQ(std::string("MATR") + U32(2) + U32(3) + U64(6) + F64(1) + F64(2) + F64(3) + F64(4) + F64(5) + F64(6),
            Stored([&](CTestStream& st) { return d.Serialize(&st, 1); }));
  CMatrix plain(7, 9);
  EXPECT_EQ(std::string("MATR") + U32(7) + U32(9), Stored([&](CTestStream& st) { return plain.Serialize(&st, 1); }));
}

TEST(MatrixRecordTest, RoundTrips) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-5, 5);
  CMemMatrix d(17, 5);
  CSymMemMatrix s(23);
  for (DWORD i = 0; i < 17; ++i)
    for (DWORD j = 0; j < 5; ++j) d.SetAt(i, j, u(rng));
  for (DWORD i = 0; i < 23; ++i)
    for (DWORD j = 0; j <= i; ++j) s.SetAt(i, j, u(rng));
  CTestStream a(Stored([&](CTestStream& st) { return d.Serialize(&st, 1); }));
  CTestStream b(Stored([&](CTestStream& st) { return s.Serialize(&st, 1); }));
  CMemMatrix d2;
  CSymMemMatrix s2;
  ASSERT_EQ(S_OK, d2.Serialize(&a, 0));
  ASSERT_EQ(S_OK, s2.Serialize(&b, 0));
  for (DWORD i = 0; i < 17; ++i) EXPECT_EQ(Row(d, i), Row(d2, i));
  for (DWORD i = 0; i < 23; ++i) EXPECT_EQ(Row(s, i), Row(s2, i));
  CTestStream h(std::string("MATR") + U32(3) + U32(4));
  CMatrix m;
  ASSERT_EQ(S_OK, m.Serialize(&h, 0));
  EXPECT_EQ(3u, m.GetRowCount());
  EXPECT_EQ(4u, m.GetColumnCount());
}

TEST(MatrixRegistryTest, ClassesAreFoundByName) {
  const char* names[] = {"CMatrix", "CMemMatrix", "CSymMemMatrix"};
  const char* bases[] = {"CObj", "CMatrix", "CMemMatrix"};
  for (int i = 0; i < 3; ++i) {
    CRTTI* rec = GetRTTI(names[i]);
    ASSERT_NE(nullptr, rec) << names[i];
    EXPECT_EQ(0xFFFFu, rec->m_wSchema);
    EXPECT_STREQ(bases[i], rec->m_pBaseClass->m_lpszClassName);
    std::unique_ptr<CMatrix> m(static_cast<CMatrix*>(rec->CreateObject()));
    ASSERT_NE(nullptr, m);
    EXPECT_STREQ(names[i], m->GetRuntimeClass()->m_lpszClassName);
    EXPECT_EQ(0u, m->GetRowCount());
  }
  // A matrix made by name reads its record through the virtual Serialize.
  CSymMemMatrix s(2);
  Fill(s, {{1}, {2, 3}});
  CTestStream in(Stored([&](CTestStream& st) { return s.Serialize(&st, 1); }));
  std::unique_ptr<CMatrix> m(static_cast<CMatrix*>(GetRTTI("CSymMemMatrix")->CreateObject()));
  ASSERT_EQ(S_OK, m->Serialize(&in, 0));
  EXPECT_EQ(2.0, m->GetAt(0, 1));
}
