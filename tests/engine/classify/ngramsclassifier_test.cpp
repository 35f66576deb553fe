// The n-gram text classifier: its value, the current record byte for byte,
// header lengths other than the written one, the older record, and every
// damaged record failing with its code.
#include <gtest/gtest.h>

#include <math.h>

#include <string>

#include "classify/ngramsclassifier.h"
#include "common/teststream.h"
#include "recordbytes.h"

using namespace telsor;

namespace {

const char kSpam[] = "cheap pills buy now from our online pharmacy at a discount";
// "SVM" NUL, b, the count and two coefficients.
const size_t kSvmRecord = 4 + 8 + 4 + 2 * 8;
const char kHam[] = "the meeting is moved to thursday afternoon, see the agenda";

// A trained-looking classifier: w the unit vector of the spam text.
CNGramsTextClassifier Trained() {
  CNGramsTextClassifier c(5);
  c.SetWeights(c.Text2Vector(kSpam));
  c.SetB(0.25);
  const double coefficients[2] = {1, -1};
  c.SetCoefficients(CRealVector(coefficients, 2));
  c.SetUpdateNumber(1234);
  return c;
}

std::string RecordOf(CNGramsTextClassifier& c) {
  return Stored([&](CTestStream& s) { return c.Serialize(&s, 1); });
}

// The parts of a record after the header: the SVM record and w's record.
std::string Body(CNGramsTextClassifier& c) {
  std::string record = RecordOf(c);
  return record.substr(4 + 4 + 4 + 2);
}

void ExpectSame(const CNGramsTextClassifier& a, const CNGramsTextClassifier& b) {
  EXPECT_EQ(a.GetWeights(), b.GetWeights());
  EXPECT_EQ(a.GetB(), b.GetB());
  EXPECT_EQ(a.GetLenNGrams(), b.GetLenNGrams());
  EXPECT_EQ(a.GetCoefficients(), b.GetCoefficients());
}

TEST(NGramsClassifier, ValueIsWeightsDotUnitVectorMinusB) {
  CNGramsTextClassifier c = Trained();
  // The spam text's own unit vector scores 1 - b.
  EXPECT_NEAR(c.EvaluateText(kSpam)[0], 0.75, 1e-6);
  const double ham = c.EvaluateText(kHam)[0];
  EXPECT_LT(ham, 0.25);
  EXPECT_GE(ham, -0.25);
  CNGramsVector unit = c.Text2Vector(kHam);
  EXPECT_NEAR(unit.DotProduct(), 1.0, 1e-6);
  EXPECT_EQ(c.EvaluateVector(unit)[0], ham);
  // A text without an n-gram gives an empty vector and scores -b.
  EXPECT_EQ(c.Text2Vector("abc").GetCount(), 0u);
  EXPECT_EQ(c.EvaluateText("abc")[0], -0.25);
  // A vector of another n-gram length shares nothing with w.
  CNGramsVector four(4, kSpam, sizeof kSpam - 1, DefaultNextStopWord);
  EXPECT_EQ(c.EvaluateVector(four)[0], -0.25);

  c.Empty();
  EXPECT_TRUE(c.IsEmpty());
  EXPECT_EQ(c.GetLenNGrams(), 0);
  EXPECT_EQ(c.GetUpdateNumber(), 1234u);
  EXPECT_EQ(c.EvaluateVector(unit)[0], 0.0);
}

TEST(NGramsClassifier, WrittenRecordStartsWithItsHeader) {
  CNGramsTextClassifier c = Trained();
  std::string record = RecordOf(c);
  EXPECT_EQ(record.substr(0, 14), std::string("SCA\0", 4) + U32(4) + U32(1234) + U16(5));
  EXPECT_EQ(record.substr(14, 4), std::string("SVM\0", 4));
  CNGramsTextClassifier back(3);
  CTestStream in(record);
  ASSERT_EQ(back.Serialize(&in, 0), S_OK);
  EXPECT_EQ(in.pos, record.size());
  ExpectSame(back, c);
  EXPECT_EQ(back.GetUpdateNumber(), 1234u);
  EXPECT_EQ(back.EvaluateText(kSpam)[0], c.EvaluateText(kSpam)[0]);
}

TEST(NGramsClassifier, HeaderLengthsAndTheOlderForm) {
  CNGramsTextClassifier c = Trained();
  const std::string body = Body(c);
  struct Case {
    const char* what;
    std::string record;
    ULONG update;
  } cases[] = {
      {"L = 0: no update number", std::string("SCA\0", 4) + U32(0) + U16(5) + body, 0xFFFFFFFFu},
      {"L = 2: two bytes skipped", std::string("SCA\0", 4) + U32(2) + "xx" + U16(5) + body, 0xFFFFFFFFu},
      {"L = 12: eight bytes skipped", std::string("SCA\0", 4) + U32(12) + U32(77) + "12345678" + U16(5) + body,
       77},
      {"older form", body.substr(0, kSvmRecord) + "NGTC" + U16(5) + body.substr(kSvmRecord), 0xFFFFFFFFu},
  };
  for (const Case& k : cases) {
    for (bool headerOnly : {false, true}) {
      CNGramsTextClassifier back(5);
      back.SetUpdateNumber(9);
      CTestStream in(k.record);
      ASSERT_EQ(back.SerializeRead(&in, headerOnly), S_OK) << k.what;
      EXPECT_EQ(back.GetUpdateNumber(), k.update) << k.what;
      EXPECT_EQ(back.GetLenNGrams(), 5) << k.what;
      if (!headerOnly) {
        ExpectSame(back, c);
        EXPECT_EQ(in.pos, k.record.size()) << k.what;
      }
      CTestStream again(k.record);
      ULONG number = 5;
      ASSERT_EQ(CNGramsTextClassifier::GetUpdateNumber(&again, &number), S_OK) << k.what;
      EXPECT_EQ(number, k.update) << k.what;
    }
  }
}

TEST(NGramsClassifier, DamagedRecords) {
  CNGramsTextClassifier c = Trained();
  const std::string record = RecordOf(c);
  const std::string body = Body(c);
  const size_t weights = 14 + kSvmRecord;  // w's record in the current form
  struct Case {
    const char* what;
    std::string record;
  } cases[] = {
      {"unknown signature", std::string("SCB\0", 4) + record.substr(4)},
      {"older form without NGTC", body.substr(0, kSvmRecord) + "NGTX" + U16(5) + body.substr(kSvmRecord)},
      {"inner SVM signature", record.substr(0, 14) + "SVX" + record.substr(17)},
      {"weights of another n-gram length", record.substr(0, 12) + U16(4) + record.substr(14)},
      {"weights' entry size", record.substr(0, weights + 2) + U32(10) + record.substr(weights + 6)},
  };
  for (const Case& k : cases) {
    CNGramsTextClassifier back(5);
    CTestStream in(k.record);
    EXPECT_EQ(back.Serialize(&in, 0), E_FAIL) << k.what;
    back.EvaluateText(kSpam);
  }
  for (size_t n = 0; n < record.size(); ++n) {
    CNGramsTextClassifier back(5);
    CTestStream in(record.substr(0, n));
    ASSERT_EQ(back.Serialize(&in, 0), E_FAIL) << n;
    ULONG number = 42;
    CTestStream header(record.substr(0, n));
    HRESULT hr = CNGramsTextClassifier::GetUpdateNumber(&header, &number);
    if (n < 14) {
      EXPECT_EQ(hr, E_FAIL) << n;
      EXPECT_EQ(number, 42u) << n;  // untouched on failure
    } else {
      EXPECT_EQ(hr, S_OK) << n;
      EXPECT_EQ(number, 1234u) << n;
    }
  }
  for (size_t at : {size_t(0), size_t(6), size_t(20), weights + 3}) {
    CNGramsTextClassifier back(5);
    CTestStream in(record);
    in.failReadAt = at;
    in.failure = static_cast<HRESULT>(0x80000009u);
    EXPECT_EQ(back.Serialize(&in, 0), static_cast<HRESULT>(0x80000009u)) << at;
  }
}

}  // namespace
