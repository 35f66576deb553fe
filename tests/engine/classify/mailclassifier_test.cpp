// Classifier data files and the mail classifier: every storage form, the
// reload rule, category files appearing, changing and going, a damaged
// replacement, update numbers, the fixed metric and the verdict texts.
#include <float.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "classifierfiles.h"
#include "classify/mailclassifier.h"
#include "common/tempdir.h"
#include "mime/headerfields.h"

using namespace telsor;
using namespace classify_test;
using telsor_test::TempDir;

namespace {

const char kSpam[] = "cheap pills buy now from our online pharmacy at a discount";
const char kHam[] = "the meeting is moved to thursday afternoon, see the agenda";
const char kNews[] = "election results and weather forecast for the weekend ahead";

std::string Str(const TSTRING& s) { return std::string(s.c_str(), s.GetLength()); }

CMailFeatureExtractor Message(const char* text, std::initializer_list<int> present = {}) {
  CMailFeatureExtractor m;
  m.features = CRealVector(CMailClassifier::FEATURE_COUNT);
  for (int f : present) m.features.SetAt(static_cast<DWORD>(f), 1.0);
  m.text = text;
  CNGramsTextClassifier unit(5);
  m.ngrams = unit.Text2Vector(m.text);
  return m;
}

TEST(ClassifierFiles, EveryStorageFormLoadsTheSameClassifier) {
  TempDir dir;
  CNGramsTextClassifier c = ClassifierOf(kSpam, 0.25, 812);
  for (Form form : {PLAIN, GZIP, CIPHER, ORIGINAL}) {
    const std::string path = dir / ("Qor" + std::to_string(form) + ".bin");
    WriteForm(path, c, form);
    CExtNGramsTextClassifier loaded;
    ASSERT_EQ(loaded.LoadData(path.c_str()), S_OK) << form;
    EXPECT_EQ(loaded.GetWeights(), c.GetWeights()) << form;
    EXPECT_EQ(loaded.GetB(), 0.25) << form;
    EXPECT_EQ(loaded.GetLenNGrams(), 5) << form;
    const ULONG update = form == ORIGINAL ? 0xFFFFFFFFu : 812u;
    EXPECT_EQ(loaded.GetUpdateNumber(), update) << form;
    ULONG number = 0;
    ASSERT_EQ(CExtNGramsTextClassifier::GetUpdateNumber(path.c_str(), &number), S_OK) << form;
    EXPECT_EQ(number, update) << form;
  }
}

TEST(ClassifierFiles, OpenFailuresKeepTheClassifier) {
  TempDir dir;
  CNGramsTextClassifier c = ClassifierOf(kSpam, 0.25, 1);
  const std::string good = dir / "good.bin";
  WriteForm(good, c, PLAIN);
  const std::string shortFile = dir / "short.bin";
  WriteBytes(shortFile, "SCA");
  // The reload rule compares times only: give each file its own.
  SetTime(good, 100);
  SetTime(shortFile, 200);
  CExtNGramsTextClassifier loaded;
  ASSERT_EQ(loaded.LoadData(good.c_str()), S_OK);
  EXPECT_EQ(loaded.LoadData(shortFile.c_str()), E_FAIL);
  EXPECT_TRUE(FAILED(loaded.LoadData((dir / "missing.bin").c_str())));
  // A plain record damaged in its first bytes is read through the cipher
  // and makes no sense there.
  std::string damaged = PlainRecord(c, false);
  damaged[2] = 'B';
  WriteBytes(dir / "damaged.bin", damaged);
  SetTime(dir / "damaged.bin", 300);
  EXPECT_EQ(loaded.LoadData((dir / "damaged.bin").c_str()), E_FAIL);
  ULONG number = 7;
  EXPECT_EQ(CExtNGramsTextClassifier::GetUpdateNumber((dir / "damaged.bin").c_str(), &number), E_FAIL);
  EXPECT_EQ(number, 7u);
  // Nothing of the failed loads reached the classifier.
  EXPECT_EQ(loaded.GetWeights(), c.GetWeights());
  EXPECT_EQ(loaded.GetUpdateNumber(), 1u);
}

TEST(ClassifierFiles, ReloadOnlyWhenTheTimeChanges) {
  TempDir dir;
  const std::string path = dir / "Qor.bin";
  CNGramsTextClassifier a = ClassifierOf(kSpam, 0.1, 1), b = ClassifierOf(kHam, 0.2, 2);
  WriteForm(path, a, PLAIN);
  SetTime(path, 1000000);
  CExtNGramsTextClassifier loaded;
  ASSERT_EQ(loaded.LoadData(path.c_str()), S_OK);
  EXPECT_EQ(loaded.GetUpdateNumber(), 1u);
  // New bytes under the old time are not read.
  WriteForm(path, b, CIPHER);
  SetTime(path, 1000000);
  ASSERT_EQ(loaded.LoadData(path.c_str()), S_OK);
  EXPECT_EQ(loaded.GetUpdateNumber(), 1u);
  SetTime(path, 1000001);
  ASSERT_EQ(loaded.LoadData(path.c_str()), S_OK);
  EXPECT_EQ(loaded.GetUpdateNumber(), 2u);
  EXPECT_EQ(loaded.GetB(), 0.2);
  loaded.Empty();
  EXPECT_EQ(loaded.GetLastWriteTime().dwLowDateTime, 0u);
  ASSERT_EQ(loaded.LoadData(path.c_str()), S_OK);
  EXPECT_EQ(loaded.GetUpdateNumber(), 2u);
}

TEST(MailClassifier, Metric) {
  CMailClassifier classifier;
  struct Case {
    std::initializer_list<int> present;
    double metric;
    const char* info;
  } cases[] = {
      {{}, -0.124, ""},
      {{19}, 1.876, "I19;"},
      {{3, 4}, -0.9072, "I3;I4;"},
      {{0, 24}, (0.3105 + 0.6535 - 0.62) * 0.2, "I0;I24;"},
  };
  for (const Case& c : cases) {
    TSTRING info("x");
    EXPECT_NEAR(classifier.SpamTestMetric(Message("", c.present).features, info), c.metric, 1e-12);
    EXPECT_EQ(Str(info), std::string("x") + c.info);
  }
  // Features beyond a short vector are skipped; values other than 0 count once.
  CRealVector few(4);
  few.SetAt(3, 0.5);
  TSTRING info;
  EXPECT_NEAR(classifier.SpamTestMetric(few, info), (-2.3858 - 0.62) * 0.2, 1e-12);
}

TEST(MailClassifier, VerdictTexts) {
  TempDir dir;
  const std::string path = dir / "Qor.bin";
  CNGramsTextClassifier spam = ClassifierOf(kSpam, 0.5, 3);
  WriteForm(path, spam, PLAIN);

  CMailClassifier empty, loaded;
  loaded.LoadData(path.c_str());
  struct Case {
    const char* what;
    const CMailClassifier& classifier;
    const char* text;
    std::initializer_list<int> present;
    const char* verdict;
  } cases[] = {
      {"no features, short text", empty, "a b", {}, "METRIC=-0.124;WCNT=0;TOTAL=-0.124;;"},
      {"five words, nothing loaded", empty, "one two three four five", {}, "METRIC=-0.124;TOTAL=-0.124;;"},
      {"a total of 0.3554", empty, "", {18}, "METRIC=0.3554;WCNT=0;TOTAL=0.3554;sss;"},
      {"a total above 1", empty, "", {19}, "METRIC=1.876;WCNT=0;TOTAL=1.876;ssssssssss;"},
      {"short text, data loaded", loaded, "pills", {}, "METRIC=-0.124;WCNT=0;TOTAL=-0.124;;"},
      {"the spam text itself", loaded, kSpam, {}, "METRIC=-0.124;TXT=0.5;TOTAL=0.376;sss;"},
  };
  for (const Case& c : cases) {
    CMailFeatureExtractor m = Message(c.text, c.present);
    TSTRING verdict("<");
    const double value = c.classifier.ClassifySpam(m, &verdict);
    EXPECT_EQ(Str(verdict), std::string("<") + c.verdict) << c.what;
    EXPECT_EQ(c.classifier.ClassifySpam(m, nullptr), value) << c.what;
  }
  CMailFeatureExtractor ham = Message(kHam);
  TSTRING verdict;
  const double value = loaded.ClassifySpam(ham, &verdict);
  EXPECT_NEAR(value, -0.124 + spam.EvaluateVector(ham.ngrams)[0], 1e-12);
  EXPECT_NE(Str(verdict).find(";TXT="), std::string::npos);
}

TEST(MailClassifier, CategoryFilesComeChangeAndGo) {
  TempDir dir;
  // Underscores in the folder and the spam file's name do not move the
  // category number.
  const std::string folder = dir / "data_dir";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string spamPath = folder + "/Qor_main.bin";
  const auto file = [&](const char* number) { return folder + "/Qor_main_" + number + ".bin"; };
  CNGramsTextClassifier spam = ClassifierOf(kSpam, 0.0, 10), news = ClassifierOf(kNews, 0.0, 33),
                        ham = ClassifierOf(kHam, 0.0, 34), other = ClassifierOf(kHam, 0.5, 35);
  WriteForm(spamPath, spam, PLAIN);
  WriteForm(file("33"), news, GZIP);
  WriteForm(file("034"), ham, CIPHER);
  WriteBytes(file("35"), "SCA\0 broken");
  SetTime(file("33"), 2000000);

  CMailClassifier classifier;
  CMailFeatureExtractor m = Message(kNews);
  EXPECT_EQ(classifier.ClassifyCategory(m, 33, nullptr), DBL_MAX);
  classifier.LoadData(spamPath.c_str());
  EXPECT_EQ(classifier.GetCategoryCount(), 2u);
  EXPECT_NEAR(classifier.ClassifyCategory(m, 33, nullptr), 1.0, 1e-6);
  EXPECT_TRUE(classifier.HasCategory(34));
  EXPECT_FALSE(classifier.HasCategory(35));
  EXPECT_EQ(classifier.ClassifyCategory(m, 35, nullptr), DBL_MAX);

  // Category 33 replaced (new time), 34 gone, 35 still broken.
  WriteForm(file("33"), other, PLAIN);
  SetTime(file("33"), 2000001);
  ASSERT_EQ(unlink(file("034").c_str()), 0);
  classifier.LoadData(spamPath.c_str());
  EXPECT_EQ(classifier.GetCategoryCount(), 1u);
  EXPECT_FALSE(classifier.HasCategory(34));
  EXPECT_NEAR(classifier.ClassifyCategory(m, 33, nullptr), other.EvaluateVector(m.ngrams)[0], 1e-12);

  // Update numbers of the spam file and of a category.
  ULONG number = 0;
  EXPECT_EQ(CMailClassifier::GetUpdateNumber(spamPath.c_str(), 0, &number), S_OK);
  EXPECT_EQ(number, 10u);
  EXPECT_EQ(CMailClassifier::GetUpdateNumber(spamPath.c_str(), 33, &number), S_OK);
  EXPECT_EQ(number, 35u);
  EXPECT_TRUE(FAILED(CMailClassifier::GetUpdateNumber(spamPath.c_str(), 34, &number)));
  EXPECT_EQ(number, CMailClassifier::NO_UPDATE_NUMBER);
  EXPECT_EQ(CMailClassifier::GetUpdateNumber((dir / "noextension").c_str(), 33, &number),
            static_cast<HRESULT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(number, CMailClassifier::NO_UPDATE_NUMBER);

  classifier.Empty();
  EXPECT_EQ(classifier.GetCategoryCount(), 0u);
  EXPECT_EQ(classifier.ClassifyCategory(m, 33, nullptr), DBL_MAX);
}

TEST(MailClassifier, DamagedReplacementKeepsTheWorkingClassifier) {
  TempDir dir;
  const std::string path = dir / "Qor.bin";
  CNGramsTextClassifier spam = ClassifierOf(kSpam, 0.25, 5);
  WriteForm(path, spam, GZIP);
  SetTime(path, 3000000);
  CMailClassifier classifier;
  classifier.LoadData(path.c_str());
  CMailFeatureExtractor m = Message(kSpam);
  const double before = classifier.ClassifySpam(m, nullptr);
  EXPECT_NEAR(before, -0.124 + 0.75, 1e-6);

  // A replacement cut short in its weights.
  std::string record = PlainRecord(spam, false);
  WriteBytes(path, record.substr(0, record.size() - 7));
  SetTime(path, 3000001);
  classifier.LoadData(path.c_str());
  EXPECT_EQ(classifier.ClassifySpam(m, nullptr), before);
  EXPECT_EQ(classifier.GetSpamUpdateNumber(), 5u);
  // Repaired, it is read on the next call.
  CNGramsTextClassifier next = ClassifierOf(kHam, 0.25, 6);
  WriteForm(path, next, PLAIN);
  SetTime(path, 3000002);
  classifier.LoadData(path.c_str());
  EXPECT_EQ(classifier.GetSpamUpdateNumber(), 6u);
}

TEST(MailClassifier, WeightsThatAreNoNumberAreRefused) {
  TempDir dir;
  const std::string path = dir / "Qor.bin";
  // A damaged file may carry NaN weights: it never scores, the metric alone
  // gives a well-formed verdict as without a file.
  CNGramsTextClassifier spam = ClassifierOf(kSpam, 0.0, 1);
  std::string record = PlainRecord(spam, false);
  const std::string weights = record.substr(record.size() - spam.GetWeights().GetCount() * 9);
  for (size_t at = record.size() - weights.size(); at < record.size(); at += 9) record.replace(at, 4, "\xff\xff\xff\xff");
  WriteBytes(path, record);
  CMailClassifier classifier;
  classifier.LoadData(path.c_str());
  TSTRING verdict;
  const double value = classifier.ClassifySpam(Message(kSpam), &verdict);
  EXPECT_EQ(value, value);
  CMailClassifier none;
  TSTRING alone;
  EXPECT_EQ(value, none.ClassifySpam(Message(kSpam), &alone));
  const std::string text = Str(verdict);
  EXPECT_EQ(text, Str(alone));
  EXPECT_EQ(text.find("TXT="), std::string::npos) << text;
  EXPECT_EQ(text.back(), ';') << text;
}

TEST(MailClassifier, FileNamePatterns) {
  TSTRING pattern("old");
  EXPECT_EQ(CMailClassifier::DetermineFNamePattern("/data/Qor.bin", &pattern), 0u);
  EXPECT_EQ(Str(pattern), "/data/Qor_*.bin");
  EXPECT_EQ(CMailClassifier::DetermineFNamePattern("a.b.c", &pattern), 0u);
  EXPECT_EQ(Str(pattern), "a.b_*.c");
  EXPECT_EQ(CMailClassifier::DetermineFNamePattern("/data/Qor", &pattern), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Str(pattern), "");
}

TEST(MailClassifier, VerdictIntoTheHeaderField) {
  CMailClassifier classifier;
  CRfc822Fields fields;
  fields.Add("Subject", "hello");
  classifier.LogInfo2MsgHeader(fields, "METRIC=1;");
  ASSERT_EQ(fields.GetCount(), 2u);
  LONG at = fields.FindFirst("X-KIRSA");
  ASSERT_GE(at, 0);
  EXPECT_EQ(Str(fields[at].GetContents()), "METRIC=1;");
  classifier.LogInfo2MsgHeader(fields, "TOTAL=2;");
  classifier.LogInfo2MsgHeader(fields, nullptr);
  EXPECT_EQ(fields.GetCount(), 2u);
  EXPECT_EQ(Str(fields[fields.FindFirst("x-kirsa")].GetContents()), "METRIC=1;TOTAL=2;");
}

}  // namespace
