// The engine library driven as a host drives it: loaded with dlopen, its four
// exported functions called in one table of steps over prepared data
// directories (empty, missing, with catalogues of scripts, with trained
// classifier files). Scripts are enabled as a host in the same process does,
// through the records that CScaModule's store shares with the spam tests.
#include <dirent.h>
#include <gtest/gtest.h>
#include <math.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "classify/mailclassifier.h"
#include "classify/mailfeatures.h"
#include "common/tempdir.h"
#include "engine/classify/classifierfiles.h"
#include "engine/filter/enginehost.h"
#include "filter/filterresults.h"
#include "filter/scamodule.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

using namespace telsor;
using namespace enginehost;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

const int32_t kUnwritten = 0x5A5A5A5A;
const int32_t NS = QOR_NO_SCORE;
const std::vector<int32_t> kUnwrittenCategories(5, kUnwritten);

const char kSpamText[] =
    "Buy cheap pills now, the best offer of the year: click here to order today and save money on every order.";

std::string SpamMessage() {
  return std::string("From: Shop <shop@example.com>\r\nTo: bob@example.org\r\nSubject: offer\r\n\r\n") + kSpamText +
         "\r\n";
}

size_t Entries(const std::string& folder) {
  size_t n = 0;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// The score rule, written out: the value clamped to -1..1, times 1000,
// truncated toward zero.
int32_t ScoreOf(double value) { return static_cast<int32_t>(trunc(fmax(-1.0, fmin(1.0, value)) * 1000.0)); }

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Ready()) << lib.path;
    for (const char* d : {"empty", "plain", "discard", "discard35", "fileinto", "reqver", "fileinto-then-none",
                          "model", "xspam", "tmp"})
      ASSERT_EQ(mkdir((dir / d).c_str(), 0755), 0);
    const std::string none = "if header :contains \"Subject\" \"never there\" { discard; }";
    const std::string fileinto = "require \"fileinto\"; fileinto \"Junk\";";
    WriteFileBytes(Data("plain") + "/SieveCatalog.xml", Catalogue({}));
    WriteFileBytes(Data("discard") + "/SieveCatalog.xml", Catalogue({{"d1", "", 36, "discard;"}}));
    WriteFileBytes(Data("discard35") + "/SieveCatalog.xml", Catalogue({{"d2", "", 35, "discard;"}}));
    WriteFileBytes(Data("fileinto") + "/SieveCatalog.xml", Catalogue({{"f1", "", 33, fileinto}}));
    WriteFileBytes(Data("reqver") + "/SieveCatalog.xml",
                   Catalogue({{"r11", "11", 36, "discard;"}, {"r10", "10", 37, fileinto}}));
    WriteFileBytes(Data("fileinto-then-none") + "/SieveCatalog.xml",
                   Catalogue({{"f2", "", 33, fileinto}, {"n1", "", 34, none}}));
    // The trained model: a spam classifier, one category, the script
    // database's update number.
    const std::string model = Data("model");
    WriteFileBytes(model + "/SieveCatalog.xml", Catalogue({}));
    WriteFileBytes(model + "/QorDat.bin", "[Information]\nUpdateNumber= 42\n");
    CNGramsTextClassifier spam = classify_test::ClassifierOf(kSpamText, 0.5, 7);
    classify_test::WriteBytes(model + "/Qor.bin", classify_test::PlainRecord(spam, false));
    CNGramsTextClassifier money = classify_test::ClassifierOf(kSpamText, 0.8, 9);
    classify_test::WriteBytes(model + "/Qor_36.bin", classify_test::PlainRecord(money, false));
    // The model's spam value seen by a script.
    const std::string xspam = Data("xspam");
    WriteFileBytes(xspam + "/SieveCatalog.xml",
                   Catalogue({{"x1", "", 37, "if x_spamtest :value \"gt\" \"0.2\" { discard; }"}}));
    classify_test::WriteBytes(xspam + "/Qor.bin", classify_test::PlainRecord(spam, false));
    WriteFileBytes(dir / "spam.eml", SpamMessage());
    WriteFileBytes(dir / "plain.eml", kPlainMessage);
  }
  void TearDown() override { lib.uninit(0); }

  std::string Data(const char* name) { return dir / name; }

  CEngineLibrary lib;
  TempDir dir;
};

// The spam value and one category value of a message, computed here from
// the classifier files and the feature extractor directly.
void Oracle(const std::string& modelDir, const std::string& message, double* spam, double* money) {
  CMailClassifier classifier;
  classifier.LoadData((modelDir + "/Qor.bin").c_str());
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(nullptr), S_OK);
  parser->PutMaxContentSizeInMemory(4 * 1024 * 1024);
  CRfc822Message parsed;
  ASSERT_EQ(parsed.PutContentAsString(reinterpret_cast<const unsigned char*>(message.data()),
                                      static_cast<ULONG>(message.size())),
            S_OK);
  ASSERT_EQ(parser->ParseMessage(PARSE_SCOPE_FULL, parsed), S_OK);
  CMailFeatureExtractor extractor;
  CRfc822Fields envelope;
  ASSERT_EQ(classifier.ExtractFeatures(extractor, parsed, &envelope), S_OK);
  *spam = classifier.ClassifySpam(extractor, nullptr);
  *money = classifier.ClassifyCategory(extractor, 36, nullptr);
}

}  // namespace

TEST_F(ExportsTest, OneHostOneTable) {
  double spamValue = 0, moneyValue = 0;
  Oracle(Data("model"), SpamMessage(), &spamValue, &moneyValue);
  // The fixture's model scores inside -1..1, so truncation, not clamping,
  // decides the score.
  ASSERT_GT(spamValue, -0.99);
  ASSERT_LT(spamValue, 0.99);
  // What the x_spamtest script compares with.
  ASSERT_GT(spamValue, 0.2);
  double plainValue = 0, unused = 0;
  Oracle(Data("xspam"), kPlainMessage, &plainValue, &unused);
  ASSERT_LE(plainValue, 0.2);
  ASSERT_NE(moneyValue, DBL_MAX);
  const int32_t spamScore = ScoreOf(spamValue);
  const int32_t moneyScore = ScoreOf(moneyValue);
  const std::string tmp = Data("tmp");
  const std::string spamFile = dir / "spam.eml";
  const std::string plain = kPlainMessage;

  enum Kind { VERSION, MEMORY, FILE, UNINIT, ENABLE };
  struct Step {
    const char* what;
    Kind kind;
    std::string data;
    std::string message;  // MEMORY: the bytes; FILE: the path ("(null)": none)
    int32_t threshold;
    uint32_t result;
    uint32_t detail;
    const char* text;  // expected error text, null on success
    int32_t score;
    std::vector<int32_t> categories;  // VERSION: the ten fields
  };
  const uint32_t F = 0xFFFFFFFFu;
  auto u = [](uint32_t v) { return static_cast<int32_t>(v); };
  const std::vector<Step> steps = {
      {"version, nothing there", VERSION, Data("empty"), "", 0, 0, 0, nullptr, 0,
       {1, 1, 3, u(F), u(F), u(F), u(F), u(F), u(F), u(F)}},
      {"version of the model", VERSION, Data("model"), "", 0, 0, 0, nullptr, 0,
       {1, 1, 3, 42, 7, u(F), u(F), 9, u(F), u(F)}},
      {"version, missing directory", VERSION, Data("missing"), "", 0, 0, 0, nullptr, 0,
       {1, 1, 3, u(F), u(F), u(F), u(F), u(F), u(F), u(F)}},
      {"missing data directory", MEMORY, Data("missing"), plain, 0, 11, 3, "Failed to initialize database.",
       kUnwritten, kUnwrittenCategories},
      {"then a good one: the feature metric alone", MEMORY, Data("plain"), plain, -1000, 0, 0, nullptr, -124,
       {NS, NS, NS, NS, NS}},
      {"later arguments are ignored", MEMORY, Data("missing"), plain, 0, 0, 0, nullptr, -124, {NS, NS, NS, NS, NS}},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"no catalogue", MEMORY, Data("empty"), plain, 0, 9, static_cast<uint32_t>(E_SIEVE_OPEN_FAILED),
       "Failed to get script list.", kUnwritten,
       kUnwrittenCategories},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"scripts the store never enables", MEMORY, Data("discard"), plain, 1000, 0, 0, nullptr, -124,
       {NS, NS, NS, NS, NS}},
      {"", ENABLE, Data("discard"), "", 0, 0, 0, nullptr, 0, {}},
      {"enabled discard, category 36", MEMORY, Data("discard"), plain, 0, 0, 0, nullptr, 1000,
       {-1000, -1000, 1000, -1000, -1000}},
      {"the same from a file", FILE, Data("discard"), spamFile, 0, 0, 0, nullptr, 1000,
       {-1000, -1000, 1000, -1000, -1000}},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"", ENABLE, Data("discard35"), "", 0, 0, 0, nullptr, 0, {}},
      {"discard, category 35", MEMORY, Data("discard35"), plain, 0, 0, 0, nullptr, 1000,
       {-1000, -1000, -1000, -1000, -1000}},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"", ENABLE, Data("fileinto"), "", 0, 0, 0, nullptr, 0, {}},
      {"fileinto", MEMORY, Data("fileinto"), plain, -1000, 0, 0, nullptr, -1000, {NS, NS, NS, NS, NS}},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"", ENABLE, Data("reqver"), "", 0, 0, 0, nullptr, 0, {}},
      {"REQVER 11 skipped, 10 runs", MEMORY, Data("reqver"), plain, 0, 0, 0, nullptr, -1000, {NS, NS, NS, NS, NS}},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"", ENABLE, Data("fileinto-then-none"), "", 0, 0, 0, nullptr, 0, {}},
      {"a later script without action clears the flags", MEMORY, Data("fileinto-then-none"), plain, -1000, 0, 0,
       nullptr, -124, {NS, NS, NS, NS, NS}},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"trained model, high threshold", MEMORY, Data("model"), SpamMessage(), 1000, 0, 0, nullptr, spamScore,
       {NS, NS, NS, NS, NS}},
      {"score equal to the threshold", MEMORY, Data("model"), SpamMessage(), spamScore, 0, 0, nullptr, spamScore,
       {NS, NS, NS, NS, NS}},
      {"score above the threshold", MEMORY, Data("model"), SpamMessage(), spamScore - 1, 0, 0, nullptr, spamScore,
       {NS, NS, moneyScore, NS, NS}},
      {"the file form", FILE, Data("model"), spamFile, spamScore - 1, 0, 0, nullptr, spamScore,
       {NS, NS, moneyScore, NS, NS}},
      {"a file that is not there", FILE, Data("model"), dir / "missing.eml", 0, 8, 2, "Unable to parse message.",
       kUnwritten, kUnwrittenCategories},
      {"a file that cannot be read", FILE, Data("model"), dir.path(), 0, 8, 21, "Unable to parse message.",
       kUnwritten, kUnwrittenCategories},
      {"no file named", FILE, Data("model"), "(null)", 0, 8, 2, "Unable to parse message.", kUnwritten,
       kUnwrittenCategories},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"", ENABLE, Data("xspam"), "", 0, 0, 0, nullptr, 0, {}},
      {"x_spamtest above 0.2: the script discards", MEMORY, Data("xspam"), SpamMessage(), 1000, 0, 0, nullptr, 1000,
       {-1000, -1000, -1000, 1000, -1000}},
      {"x_spamtest not above: the classifier decides", MEMORY, Data("xspam"), plain, 1000, 0, 0, nullptr,
       ScoreOf(plainValue),
       {NS, NS, NS, NS, NS}},
      {"", UNINIT, "", "", 0, 0, 0, nullptr, 0, {}},
      {"re-created with the next call's directory", MEMORY, Data("missing"), plain, 0, 11, 3,
       "Failed to initialize database.", kUnwritten, kUnwrittenCategories},
      {"and then a good one", MEMORY, Data("model"), SpamMessage(), 1000, 0, 0, nullptr, spamScore,
       {NS, NS, NS, NS, NS}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    switch (s.kind) {
      case UNINIT:
        lib.uninit(0);
        continue;
      case ENABLE: {
        CScaModule module(s.data.c_str(), tmp.c_str(), nullptr);
        CListSieveScriptInfo scripts;
        ASSERT_EQ(module.GetSieveDataSource()->GetListScriptInfo(scripts, nullptr, nullptr), S_OK);
        ASSERT_GT(scripts.GetCount(), 0);
        for (void* pos = scripts.GetHeadPosition(); pos != nullptr;) scripts.GetNext(pos)->m_bEnabled = 1;
        continue;
      }
      case VERSION: {
        SQorVersionInfo v;
        memset(&v, 0x5A, sizeof v);
        SQorError e = {0xFFFF, 0, {0}};
        EXPECT_EQ(lib.version(0, 0, s.data.c_str(), 0, 0, &v, &e), s.result);
        EXPECT_EQ(e.code, s.result);
        const uint32_t* fields = &v.major;
        for (int i = 0; i < 10; ++i) EXPECT_EQ(fields[i], static_cast<uint32_t>(s.categories[i])) << i;
        continue;
      }
      case MEMORY:
      case FILE:
        break;
    }
    Outcome o = s.kind == MEMORY ? TestMemory(lib, s.data, tmp, s.message, s.threshold)
                                 : TestFile(lib, s.data, tmp, s.message == "(null)" ? nullptr : s.message.c_str(),
                                            s.threshold);
    EXPECT_EQ(o.result, s.result);
    EXPECT_EQ(o.error.code, s.result);
    if (s.text != nullptr) {
      EXPECT_EQ(o.error.detail, s.detail);
      EXPECT_STREQ(o.error.message, s.text);
    }
    EXPECT_EQ(o.score, s.score);
    EXPECT_EQ(o.Categories(), s.categories);
  }
  // The temporary directory is left empty.
  EXPECT_EQ(Entries(tmp), 0u);
}

TEST_F(ExportsTest, NullRecordsAreNotWrittenThrough) {
  const std::string data = Data("plain");
  const std::string tmp = Data("tmp");
  SQorCategoryScore c = {0, 0, 0, 0, 0};
  EXPECT_EQ(lib.testMemory(0, 0, data.c_str(), tmp.c_str(), nullptr, kPlainMessage, sizeof kPlainMessage - 1, -1000,
                           0, nullptr, &c, nullptr),
            0u);
  EXPECT_EQ(c.hoax, NS);
  int32_t score = 0;
  EXPECT_EQ(lib.testFile(0, 0, data.c_str(), tmp.c_str(), nullptr, (dir / "plain.eml").c_str(), 0, 0, &score,
                         nullptr, nullptr),
            0u);
  EXPECT_EQ(score, -124);
  SQorError e;
  memset(&e, 0x5A, sizeof e);
  EXPECT_EQ(lib.version(0, 0, data.c_str(), 0, 0, nullptr, &e), 0u);
  EXPECT_EQ(e.code, 0u);
  // Bytes promised but not given.
  SQorError missing;
  EXPECT_EQ(lib.testMemory(0, 0, data.c_str(), tmp.c_str(), nullptr, nullptr, 10, 0, 0, &score, nullptr, &missing),
            8u);
  EXPECT_EQ(missing.detail, static_cast<uint32_t>(E_POINTER));
  EXPECT_STREQ(missing.message, "Unable assign message content.");
  // A failure with no error record still returns its code.
  EXPECT_EQ(lib.testFile(0, 0, data.c_str(), tmp.c_str(), nullptr, (dir / "gone.eml").c_str(), 0, 0, &score, nullptr,
                         nullptr),
            8u);
}
