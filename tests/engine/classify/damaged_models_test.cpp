// Classifier data files that are damaged, hostile or no files at all: each
// is refused at load with its reason, logged by the mail classifier with
// the file's name, never scores (the metric alone does, as without a file)
// and has no update number; a file that loads gives its own. A record that
// claims more than it holds costs no more than the bytes it shows.
#include <gtest/gtest.h>
#include <math.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <limits>
#include <string>
#include <vector>

#include "classify/mailclassifier.h"
#include "classify/mailfeatures.h"
#include "classify/ngramsclassifier.h"
#include "common/cputime.h"
#include "common/heldfifo.h"
#include "common/logcapture.h"
#include "common/tempdir.h"
#include "classifierfiles.h"
#include "foundation/istreamimpl.h"
#include "search/seekrecord.h"

using namespace telsor;
using namespace classify_test;
using telsor_test::CHeldFifo;
using telsor_test::CLogCapture;
using telsor_test::TempDir;

namespace {

const char kText[] = "buy cheap pills now the best offer of the year click here to order today";

// The plain record of the test's classifier: update 7, b 0.1, no
// coefficients unless given.
std::string Record(double b = 0.1, const std::vector<double>& coefficients = {}) {
  CNGramsTextClassifier c = ClassifierOf(kText, b, 7);
  if (!coefficients.empty())
    c.SetCoefficients(CRealVector(coefficients.data(), static_cast<DWORD>(coefficients.size())));
  return PlainRecord(c, false);
}

// The record with the weight of its first entry replaced.
std::string WithFirstWeight(float weight) {
  std::string bytes = Record();
  CNGramsTextClassifier c = ClassifierOf(kText, 0.1, 7);
  const size_t entries = bytes.size() - c.GetWeights().GetCount() * c.GetWeights().GetElemSize();
  StoreU32(reinterpret_cast<BYTE*>(&bytes[entries]), [&] {
    DWORD bits;
    memcpy(&bits, &weight, 4);
    return bits;
  }());
  return bytes;
}

// The record as a compressed data file.
std::string Gzipped(const std::string& plain) {
  TempDir dir;
  WriteCompressed(dir / "g", plain);
  return telsor_test::ReadFileBytes(dir / "g");
}

// A byte in the middle of the compressed data flipped.
std::string FlippedInTheMiddle(std::string bytes) {
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
  return bytes;
}

struct Damage {
  const char* what;
  std::string bytes;
  const char* reason;  // the start of the reason given
};

std::vector<Damage> Damages() {
  const std::string good = Record();
  std::string random(good.size(), '\0');
  unsigned seed = 12345;
  for (char& c : random) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
  std::string countFlipped = good;
  countFlipped[39] = static_cast<char>(countFlipped[39] ^ 0x01);  // the weights' count, high byte
  return {
      {"truncated by one byte", good.substr(0, good.size() - 1), "damaged record"},
      {"truncated in half", good.substr(0, good.size() / 2), "damaged record"},
      {"count bit-flipped", countFlipped, "damaged record"},
      {"compressed, a bit flipped", FlippedInTheMiddle(Gzipped(good)), ""},
      {"compressed, cut short", Gzipped(good).substr(0, Gzipped(good).size() - 6), ""},
      {"a byte too many", good + "x", "bytes follow the record"},
      {"random bytes", random, "damaged record"},
      {"NaN bias", Record(NAN), "the bias is not a finite number"},
      {"infinite bias", Record(-INFINITY), "the bias is not a finite number"},
      {"NaN coefficient", Record(0.1, {0.5, NAN}), "coefficient 1 is not a finite number"},
      {"NaN weight", WithFirstWeight(NAN), "weight 0 is not a finite number"},
      {"infinite weight", WithFirstWeight(INFINITY), "weight 0 is not a finite number"},
      {"empty", "", "damaged record"},
  };
}

double SpamValue(const CMailClassifier& classifier) {
  CMailFeatureExtractor taken;
  const std::string mail = std::string("Subject: offer\r\n\r\n") + kText + "\r\n";
  EXPECT_EQ(taken.ExtractFeatures(mail.data(), static_cast<ULONG>(mail.size()), nullptr), S_OK);
  return classifier.ClassifySpam(taken, nullptr);
}

TEST(DamagedModels, RefusedLoggedAndWithoutNumber) {
  TempDir dir;
  const std::string path = dir / "Qor.bin";
  // The reference points: no file at all, and the good file.
  CMailClassifier none;
  none.LoadData(path.c_str());
  const double metricAlone = SpamValue(none);
  WriteBytes(path, Record());
  {
    CLogCapture log(1);
    CMailClassifier good;
    good.LoadData(path.c_str());
    EXPECT_NE(SpamValue(good), metricAlone);
    ULONG number = 0;
    EXPECT_EQ(CMailClassifier::GetUpdateNumber(path.c_str(), 0, &number), S_OK);
    EXPECT_EQ(number, 7u);
    EXPECT_TRUE(log.Messages().empty());
  }
  for (const Damage& d : Damages()) {
    SCOPED_TRACE(d.what);
    WriteBytes(path, d.bytes);
    CExtNGramsTextClassifier c;
    TSTRING why;
    EXPECT_TRUE(FAILED(c.LoadData(path.c_str(), &why)));
    EXPECT_EQ(std::string(why.c_str()).rfind(d.reason, 0), 0u) << why.c_str();
    EXPECT_FALSE(why.IsEmpty());
    EXPECT_TRUE(c.IsEmpty());
    EXPECT_EQ(c.GetUpdateNumber(), CNGramsTextClassifier::NO_UPDATE_NUMBER);

    CLogCapture log(1);
    CMailClassifier classifier;
    classifier.LoadData(path.c_str());
    EXPECT_EQ(SpamValue(classifier), metricAlone);
    ASSERT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(log.Messages()[0], "Classifier file '" + path + "' refused: " + why.c_str());
    ULONG number = 0x5A5A5A5A;
    EXPECT_TRUE(FAILED(CExtNGramsTextClassifier::GetUpdateNumber(path.c_str(), &number)));
    EXPECT_EQ(number, 0x5A5A5A5Au);
    EXPECT_EQ(CMailClassifier::GetUpdateNumber(path.c_str(), 0, &number) == S_OK, false);
    EXPECT_EQ(number, CMailClassifier::NO_UPDATE_NUMBER);
  }
}

TEST(DamagedModels, ACategoryFileIsRefusedAlike) {
  TempDir dir;
  const std::string spam = dir / "Qor.bin";
  WriteBytes(spam, Record());
  WriteBytes(dir / "Qor_36.bin", Record(NAN));
  WriteBytes(dir / "Qor_37.bin", Record(0.3));
  CLogCapture log(1);
  CMailClassifier classifier;
  classifier.LoadData(spam.c_str());
  EXPECT_FALSE(classifier.HasCategory(36));
  EXPECT_TRUE(classifier.HasCategory(37));
  ASSERT_EQ(log.Messages().size(), 1u);
  EXPECT_EQ(log.Messages()[0], "Classifier file '" + dir / "Qor_36.bin" + "' refused: the bias is not a finite number");
  ULONG number = 0;
  EXPECT_NE(CMailClassifier::GetUpdateNumber(spam.c_str(), 36, &number), S_OK);
  EXPECT_EQ(number, CMailClassifier::NO_UPDATE_NUMBER);
  EXPECT_EQ(CMailClassifier::GetUpdateNumber(spam.c_str(), 37, &number), S_OK);
  EXPECT_EQ(number, 7u);
}

TEST(DamagedModels, NoFileWhereOneShouldBe) {
  TempDir dir;
  const std::string spam = dir / "Qor.bin";
  CHeldFifo fifo(spam, Record());
  ASSERT_TRUE(fifo.Ready());
  ASSERT_EQ(mkdir((dir / "Qor_33.bin").c_str(), 0755), 0);
  CLogCapture log(1);
  CMailClassifier classifier;
  classifier.LoadData(spam.c_str());
  EXPECT_EQ(classifier.GetCategoryCount(), 0u);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"Classifier file '" + spam + "' refused: not a regular file",
                                                      "Classifier file '" + dir / "Qor_33.bin" +
                                                          "' refused: not a regular file"}));
  ULONG number = 0;
  EXPECT_NE(CMailClassifier::GetUpdateNumber(spam.c_str(), 0, &number), S_OK);
  EXPECT_NE(CMailClassifier::GetUpdateNumber(spam.c_str(), 33, &number), S_OK);
  EXPECT_TRUE(fifo.Untouched());
  // A file that is not there is no refusal: nothing is logged.
  log.Clear();
  CMailClassifier missing;
  missing.LoadData((dir / "none/Qor.bin").c_str());
  EXPECT_TRUE(log.Messages().empty());
}

// A record whose bytes never end: the header given, then zeros for ever;
// counts what it hands out.
class CEndlessZeros : public CIStreamImpl {
 public:
  explicit CEndlessZeros(const std::string& head) : m_head(head) {}
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override {
    BYTE* out = static_cast<BYTE*>(buffer);
    for (ULONG i = 0; i < count; ++i, ++m_given)
      out[i] = m_given < m_head.size() ? static_cast<BYTE>(m_head[m_given]) : 0;
    if (done != nullptr) *done = count;
    return S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return E_ACCESSDENIED; }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  ULONGLONG Given() const { return m_given; }

 private:
  std::string m_head;
  ULONGLONG m_given = 0;
};

// The n-gram vector record's header claiming count entries of n = 5.
std::string VectorHead(DWORD count) {
  BYTE head[10];
  StoreU16(head, 5);
  StoreU32(head + 2, 9);
  StoreU32(head + 6, count);
  return std::string(reinterpret_cast<char*>(head), sizeof head);
}

TEST(DamagedModels, AClaimCostsNoMoreThanTheBytesShown) {
  // Zeros are no ascending n-grams: the read ends with the first piece.
  CEndlessZeros zeros(VectorHead(0xFFFFFFFFu / 9));
  zeros.AddRef();
  CNGramsVector v(5);
  EXPECT_EQ(v.Serialize(&zeros, 0), E_FAIL);
  EXPECT_LE(zeros.Given(), ULONGLONG(1) << 17);
  EXPECT_EQ(v.GetCount(), 0u);

  // The same through a compressed data file: 32 MB of zeros behind a claim
  // of 2 GiB of weights.
  TempDir dir;
  const std::string path = dir / "Qor.bin";
  CNGramsTextClassifier c = ClassifierOf(kText, 0.1, 7);
  const std::string good = PlainRecord(c, false);
  const size_t entries = good.size() - c.GetWeights().GetCount() * c.GetWeights().GetElemSize();
  const std::string head = good.substr(0, entries - 10) + VectorHead((2u << 30) / 9);
  WriteCompressed(path, head, size_t(32) << 20);
  rusage before;
  getrusage(RUSAGE_SELF, &before);
  CCpuTimer timer;
  CLogCapture log(1);
  CMailClassifier classifier;
  classifier.LoadData(path.c_str());
  EXPECT_LT(timer.Seconds(), 0.5 * kSanitizerSlowdown);
  rusage after;
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 8 * 1024);  // KiB
  ASSERT_EQ(log.Messages().size(), 1u);
  EXPECT_NE(log.Messages()[0].find("refused: damaged record"), std::string::npos);
  ULONG number = 0;
  EXPECT_NE(CMailClassifier::GetUpdateNumber(path.c_str(), 0, &number), S_OK);
  EXPECT_EQ(number, CMailClassifier::NO_UPDATE_NUMBER);
}

}  // namespace
