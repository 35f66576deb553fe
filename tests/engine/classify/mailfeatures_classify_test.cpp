// From message to spam value: messages parsed and run through the feature
// extractor, scored by the mail classifier with a spam classifier that the
// training program made from folders of messages (trained on the same
// extractor text).
#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <memory>
#include <string>

#include "classify/maildataset.h"
#include "classify/mailclassifier.h"
#include "classify/mailfeatures.h"
#include "common/runprogram.h"
#include "common/tempdir.h"
#include "foundation/results.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

std::string Str(const TSTRING& s) { return std::string(s.c_str(), static_cast<size_t>(s.GetLength())); }

TEST(MailDataSet, TrainingTextIsTheExtractorsText) {
  const std::string m = "Subject: hi\r\nOrganization: Org\r\n\r\nbody\r\n";
  TSTRING text;
  ASSERT_EQ(S_OK, CMailOnFileDataSet::MessageText(m.data(), static_cast<ULONG>(m.size()), text));
  EXPECT_EQ("Org\r\nhi\r\n\r\n;\r\nbody\r\n", Str(text));
  CMailFeatureExtractor x(nullptr);
  ASSERT_EQ(S_OK, x.ExtractFeatures(m.data(), static_cast<ULONG>(m.size()), nullptr));
  EXPECT_EQ(Str(text), Str(x.text));
}

#ifdef QOR_QORTRAIN

int RunTrain(const std::string& args, std::string& out) {
  telsor_test::ProgramRun run = telsor_test::RunProgram(std::string(QOR_QORTRAIN) + " --quiet " + args + " 2>&1");
  out += run.output;
  return run.status;
}

std::string Html(const std::string& subject, const std::string& words) {
  return "From: shop@example.com\r\nSubject: " + subject +
         "\r\nMIME-Version: 1.0\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n<html><body><p>" + words +
         "</p><a href=\"http://www.example.com/offer\">click</a></body></html>\r\n";
}

std::string Plain(const std::string& subject, const std::string& words) {
  return "From: colleague@example.org\r\nSubject: " + subject +
         "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + words + "\r\n";
}

const char* kHam[] = {"the quarterly budget review meeting", "project schedule for next week",
                      "minutes of the design review", "lunch with the team on friday"};
const char* kSpam[] = {"cheap pills without prescription", "you are the lottery winner claim your prize",
                       "casino bonus offer for new players", "lowest mortgage rates guaranteed now"};

TEST(MailFeaturesClassify, ParsedMessagesScoredWithATrainedModel) {
  telsor_test::TempDir dir;
  std::filesystem::create_directories(dir / "ham");
  std::filesystem::create_directories(dir / "spam");
  std::filesystem::create_directories(dir / "out");
  for (int i = 0; i < 12; ++i) {
    telsor_test::WriteFileBytes(dir / ("ham/" + std::to_string(i)),
                                Plain(kHam[i % 4], std::string(kHam[(i + 1) % 4]) + " thanks, see you"));
    telsor_test::WriteFileBytes(dir / ("spam/" + std::to_string(i)),
                                Html(kSpam[i % 4], std::string(kSpam[(i + 3) % 4]) + " click here"));
  }
  std::string log;
  ASSERT_EQ(0, RunTrain((dir / "out") + " --ham " + (dir / "ham") + " --spam " + (dir / "spam"), log)) << log;
  CMailClassifier classifier;
  classifier.LoadData((dir / "out/Qor.bin").c_str());

  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  ASSERT_EQ(S_OK, parser->OpenSession(dir.path().c_str()));
  CMailFeatureExtractor x(nullptr);
  const auto score = [&](const std::string& text, TSTRING* verdict) {
    CRfc822Message message;
    EXPECT_EQ(S_OK, message.PutContentAsString(reinterpret_cast<const unsigned char*>(text.data()),
                                               static_cast<ULONG>(text.size())));
    EXPECT_EQ(S_OK, parser->ParseMessage(PARSE_SCOPE_FULL, message));
    EXPECT_EQ(S_OK, classifier.ExtractFeatures(x, message, nullptr));
    return classifier.ClassifySpam(x, verdict);
  };
  TSTRING spamVerdict, hamVerdict;
  const double spam = score(Html("claim your casino prize", "lottery winner bonus offer, cheap pills"), &spamVerdict);
  // HTML alone, and its link is long beside its few words.
  EXPECT_EQ(1.0, x.features[MAIL_FEATURE_HTML_ONLY]);
  EXPECT_EQ(1.0, x.features[MAIL_FEATURE_MANY_URLS]);
  const double ham = score(Plain("design review", "the project schedule and the budget meeting minutes"), &hamVerdict);
  EXPECT_GT(spam, 0.0) << Str(spamVerdict);
  EXPECT_LT(ham, 0.0) << Str(hamVerdict);
  // Both texts were long enough for the text classifier to speak.
  EXPECT_NE(std::string::npos, Str(spamVerdict).find(";TXT=")) << Str(spamVerdict);
  EXPECT_NE(std::string::npos, Str(hamVerdict).find(";TXT=")) << Str(hamVerdict);
  // The two features' weights: (1.1068 + 0.1997 - 0.62) x 0.2.
  EXPECT_EQ(0, Str(spamVerdict).find("METRIC=0.1373;")) << Str(spamVerdict);
  EXPECT_EQ(0, Str(hamVerdict).find("METRIC=-0.124;")) << Str(hamVerdict);
}

#endif  // QOR_QORTRAIN

}  // namespace
