// Real mail through the message filter: every message of the SpamAssassin
// training half answers a row of tests the same way whether the filter is
// bound to the file (header parsed first, the rest when a body test needs
// it) or to the message parsed whole in memory beforehand, with no test
// failing; and every test answers both true and false somewhere in the
// corpus. Skipped when $QOR_CORPORA is not set (tools/test-all.sh sets it).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/tempdir.h"
#include "engine/mime/mimetestutil.h"
#include "filter/msgfilter.h"
#include "filter/sievescript.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

using telsor::CMsgFilter;
using telsor::CSieveScript;

namespace {

// Header tests first, so that a file binding goes from the header to the
// whole message on the way.
const char* const kTests[] = {
    "header :contains \"Subject\" [\"free\", \"money\", \"re:\"]",
    "header :count \"ge\" :comparator \"i;ascii-numeric\" \"Received\" \"4\"",
    "address :domain :contains [\"From\", \"To\", \"Cc\"] \".com\"",
    "address :count \"gt\" :comparator \"i;ascii-numeric\" \"To\" \"1\"",
    "exists [\"Message-ID\", \"In-Reply-To\"]",
    "size :over 5K",
    "body :text :contains [\"click here\", \"unsubscribe\"]",
    "body :raw :contains \"http://\"",
    "body :contains :content \"text/html\" \"<table\"",
    "attachment :matches [\"*.zip\", \"*.exe\", \"*.gif\", \"*.jpg\", \"*.txt\"]",
};
const size_t kTestCount = sizeof kTests / sizeof kTests[0];

class CKeepFilter : public CMsgFilter {
 public:
  bool kept = false;
  HRESULT ActionKeep() override {
    kept = true;
    return S_OK;
  }
};

// One character per test: T, F, or '!' when the run failed.
std::string Answers(CKeepFilter& filter, const std::vector<CSieveScript>& scripts) {
  std::string out;
  for (const CSieveScript& script : scripts) {
    filter.kept = false;
    HRESULT hr = filter.Execute(script);
    out += hr != S_OK ? '!' : (filter.kept ? 'T' : 'F');
  }
  return out;
}

TEST(MsgFilterCorpus, FileAndMemoryBindingsAgreeOnTheTrainingHalf) {
  const char* corpora = mime_test::Corpora();
  if (corpora == nullptr) GTEST_SKIP() << "QOR_CORPORA not set";
  std::vector<std::string> files = mime_test::FilesUnder(std::string(corpora) + "/spamassassin/train", "");
  ASSERT_GT(files.size(), 1000u);

  std::vector<CSieveScript> scripts(kTestCount);
  for (size_t i = 0; i < kTestCount; ++i)
    ASSERT_EQ(scripts[i].ParseString((std::string("if ") + kTests[i] + " { keep; }").c_str(), nullptr), S_OK)
        << kTests[i];

  telsor_test::TempDir temp;
  std::vector<size_t> trues(kTestCount, 0);
  size_t disagreements = 0;
  for (const std::string& path : files) {
    CKeepFilter byFile;
    ASSERT_EQ(byFile.Initialize(temp.path().c_str()), S_OK);
    ASSERT_EQ(byFile.SetMessage(path.c_str(), nullptr), S_OK);
    const std::string fileAnswers = Answers(byFile, scripts);

    const std::string bytes = telsor_test::ReadFileBytes(path);
    telsor::CSharedObjPtr<telsor::CRfc822Parser> parser = new telsor::CRfc822Parser;
    EXPECT_EQ(parser->OpenSession(temp.path().c_str()), S_OK);
    parser->PutMaxContentSizeInMemory(4 * 1024 * 1024);
    telsor::CRfc822Message message;
    ASSERT_EQ(message.PutContentAsString(reinterpret_cast<const unsigned char*>(bytes.data()),
                                         static_cast<ULONG>(bytes.size())),
              S_OK);
    ASSERT_EQ(parser->ParseMessage(telsor::PARSE_SCOPE_FULL, message), S_OK) << path;
    CKeepFilter inMemory;
    ASSERT_EQ(inMemory.SetMessage(&message, nullptr), S_OK);
    const std::string memoryAnswers = Answers(inMemory, scripts);

    EXPECT_EQ(fileAnswers.find('!'), std::string::npos) << path << " " << fileAnswers;
    if (fileAnswers != memoryAnswers && ++disagreements <= 10)
      ADD_FAILURE() << path << ": by file " << fileAnswers << ", in memory " << memoryAnswers;
    for (size_t i = 0; i < kTestCount; ++i) trues[i] += fileAnswers[i] == 'T';
  }
  EXPECT_EQ(disagreements, 0u);
  for (size_t i = 0; i < kTestCount; ++i) {
    EXPECT_GT(trues[i], 0u) << kTests[i];
    EXPECT_LT(trues[i], files.size()) << kTests[i];
  }
}

}  // namespace
