// The feature extractor over real mail that nobody here wrote: the training
// half of the SpamAssassin corpus (never its held-out half), Python's email
// test messages and Go enmime's malformed set. Every message parses and goes
// through extraction: features of 0.0 or 1.0, a vector of unit length (or
// empty), a text that holds the subject and its line end. The whole
// training half takes under a second here and seconds under the
// sanitizers. Skipped when $QOR_CORPORA is not set (tools/test-all.sh sets
// it).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classify/mailfeatures.h"
#include "engine/mime/mimetestutil.h"
#include "foundation/results.h"

using namespace telsor;
using mime_test::Corpora;
using mime_test::FilesUnder;

namespace {

// Extracts every file; the count of files that reached extraction.
size_t ExtractAll(const std::vector<std::string>& files) {
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(S_OK, parser->OpenSession(nullptr));
  parser->PutMaxContentSizeInMemory(4 * 1024 * 1024);
  CMailFeatureExtractor x(nullptr);
  size_t done = 0;
  for (const std::string& path : files) {
    EXPECT_EQ(S_OK, x.ExtractFeatures(TSTRING(path.c_str()), parser)) << path;
    ++done;
    EXPECT_EQ(25u, x.features.GetSize()) << path;
    for (DWORD f = 0; f < x.features.GetSize(); ++f) {
      EXPECT_TRUE(x.features[f] == 0.0 || x.features[f] == 1.0) << path << " feature " << f;
    }
    EXPECT_EQ(0.0, x.features[MAIL_FEATURE_BAD_CHARSET]) << path;
    const double norm = x.ngrams.DotProduct();
    if (x.ngrams.GetCount() != 0) {
      EXPECT_NEAR(1.0, norm, 1e-5) << path;
    }
    const std::string text(x.text.c_str(), static_cast<size_t>(x.text.GetLength()));
    const std::string subject(x.subject.c_str(), static_cast<size_t>(x.subject.GetLength()));
    EXPECT_NE(std::string::npos, text.find(subject + "\r\n")) << path;
  }
  return done;
}

std::vector<std::string> SpamAssassinTrainingHalf() {
  std::vector<std::string> all;
  for (const char* group : {"easy-ham-1", "easy-ham-2", "hard-ham-1", "spam-1", "spam-2"}) {
    std::vector<std::string> files = FilesUnder(std::string(Corpora()) + "/spamassassin/train/" + group, "");
    all.insert(all.end(), files.begin(), files.end());
  }
  return all;
}

TEST(MailFeaturesCorpus, SpamAssassinTrainingHalf) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> files = SpamAssassinTrainingHalf();
  ASSERT_GT(files.size(), 3000u);
  EXPECT_EQ(files.size(), ExtractAll(files));
}

TEST(MailFeaturesCorpus, PythonEmailAndEnmimeMessages) {
  if (Corpora() == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  std::vector<std::string> python = FilesUnder(std::string(Corpora()) + "/python-email", ".txt");
  std::vector<std::string> enmime = FilesUnder(std::string(Corpora()) + "/enmime", ".raw");
  ASSERT_EQ(47u, python.size());
  ASSERT_EQ(79u, enmime.size());
  EXPECT_EQ(python.size(), ExtractAll(python));
  EXPECT_EQ(enmime.size(), ExtractAll(enmime));
}

}  // namespace
