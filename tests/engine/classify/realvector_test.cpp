// Real vectors (sharing, comparison, record) and the machine and trainer bases.
#include <gtest/gtest.h>
#include <math.h>

#include <vector>

#include "classify/machine.h"
#include "classify/realvector.h"
#include "common/teststream.h"
#include "recordbytes.h"

using namespace telsor;

TEST(RealVectorTest, CopiesShareUntilWritten) {
  double v[3] = {1.0, 2.0, 3.0};
  CRealVector a(v, 3);
  CRealVector b = a;
  EXPECT_TRUE(b.SharesDataWith(a));
  b.SetAt(1, 5.0);
  EXPECT_FALSE(b.SharesDataWith(a));
  EXPECT_EQ(2.0, a[1]);
  EXPECT_EQ(5.0, b[1]);
  CRealVector c;
  c = a;
  c.GetBuffer()[0] = -1.0;
  EXPECT_EQ(1.0, a[0]);
  EXPECT_EQ(0.0, a.GetAt(3));
  CRealVector zeros(4);
  for (DWORD i = 0; i < 4; ++i) EXPECT_EQ(0.0, zeros[i]);
  EXPECT_TRUE(CRealVector(0u).IsEmpty());
}

TEST(RealVectorTest, SetSizeKeepsLeadingValues) {
  double v[3] = {1.0, 2.0, 3.0};
  CRealVector a(v, 3);
  CRealVector keep = a;
  a.SetSize(5);
  EXPECT_EQ(5u, a.GetSize());
  EXPECT_EQ(3.0, a[2]);
  EXPECT_EQ(0.0, a[4]);
  a.SetSize(2);
  EXPECT_EQ(2u, a.GetSize());
  EXPECT_EQ(2.0, a[1]);
  a.SetSize(4);
  EXPECT_EQ(0.0, a[2]);  // a value dropped by shrinking does not come back
  EXPECT_EQ(3u, keep.GetSize());
  EXPECT_EQ(3.0, keep[2]);
  a.SetSize(0);
  EXPECT_TRUE(a.IsEmpty());
}

TEST(RealVectorTest, EqualityComparesEveryByte) {
  double x[3] = {1.0, 2.0, 3.0};
  double y[3] = {1.0, 2.0, 3.5};
  EXPECT_TRUE(CRealVector(x, 3) == CRealVector(x, 3));
  EXPECT_TRUE(CRealVector(x, 3) != CRealVector(y, 3));  // only the last differs
  EXPECT_TRUE(CRealVector(x, 3) != CRealVector(x, 2));
  double z[1] = {0.0}, nz[1] = {-0.0}, nan[1] = {NAN};
  EXPECT_TRUE(CRealVector(z, 1) != CRealVector(nz, 1));
  EXPECT_TRUE(CRealVector(nan, 1) == CRealVector(nan, 1));
  EXPECT_TRUE(CRealVector() == CRealVector(0u));
}

TEST(RealVectorTest, RecordGoldenBytesAndRoundTrip) {
  double v[2] = {1.5, -0.125};
  CRealVector a(v, 2);
  std::string bytes = Stored([&](CTestStream& s) { return a.Serialize(&s, 1); });
  EXPECT_EQ(U32(2) + F64(1.5) + F64(-0.125), bytes);
  CTestStream in(bytes);
  CRealVector b;
  ASSERT_EQ(S_OK, b.Serialize(&in, 0));
  EXPECT_TRUE(a == b);
  // Count 0 reads back as the shared empty vector.
  CTestStream empty(U32(0) + "trailing");
  CRealVector c(v, 2);
  ASSERT_EQ(S_OK, c.Serialize(&empty, 0));
  EXPECT_TRUE(c.SharesDataWith(CRealVector()));
  EXPECT_EQ(4u, empty.pos);  // nothing read after the count
  EXPECT_EQ(U32(0), Stored([&](CTestStream& s) { return c.Serialize(&s, 1); }));
}

namespace {

class CCountingMachine : public CMachine {
 public:
  HRESULT Serialize(IStream*, int) override { return S_OK; }
  void OnEachIteration(CTrainer& trainer) override {
    seen.push_back(trainer.GetIterationCount());
    SetReportTime(seen.size());
  }
  std::vector<DWORD> seen;
};

class CStepTrainer : public CTrainer {
 public:
  explicit CStepTrainer(CMachine& m) : CTrainer(m) {}
  // A step that changed the model calls the hook; one that did not, does not.
  void Step(bool changed) {
    if (changed) OnEachIteration();
  }
};

}  // namespace

TEST(TrainerTest, HookRunsOncePerSuccessfulStep) {
  CCountingMachine machine;
  CStepTrainer trainer(machine);
  EXPECT_EQ(&machine, &trainer.GetMachine());
  const bool steps[] = {true, false, true, true, false};
  for (bool s : steps) trainer.Step(s);
  EXPECT_EQ(3u, trainer.GetIterationCount());
  // The hook sees the count before its own step is added.
  EXPECT_EQ((std::vector<DWORD>{0, 1, 2}), machine.seen);
  EXPECT_EQ(3u, machine.GetReportTime());
  machine.Empty();
  EXPECT_EQ(0u, machine.GetReportTime());
  // The base evaluations give empty vectors.
  EXPECT_TRUE(machine.EvaluateRealVector(CRealVector(3)).IsEmpty());
  EXPECT_TRUE(machine.EvaluateText("text").IsEmpty());
  CCountingMachine copy = machine;
  EXPECT_EQ(machine.GetReportTime(), copy.GetReportTime());
}
