// qortrain, the training program, run as the real program on small folders
// of messages: the files it writes load in the engine and score their own
// classes; folders it cannot use give its documented exit status.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "classify/ngramsclassifier.h"
#include "common/tempdir.h"
#include "foundation/results.h"

#ifdef QOR_QORTRAIN

namespace {

int RunTrain(const std::string& args, std::string* err = nullptr) {
  std::string command = std::string(QOR_QORTRAIN) + " --quiet " + args + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char buffer[256];
  size_t n;
  std::string out;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  if (err != nullptr) *err = out;
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Message(const std::string& path, const std::string& subject, const std::string& body) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  telsor_test::WriteFileBytes(path, "From: someone@example.com\r\nSubject: " + subject +
                                        "\r\nX-Filler: header words that every message shares\r\n\r\n" + body);
}

const char* kHam[] = {"the quarterly budget review meeting", "project schedule for next week",
                      "minutes of the design review", "lunch with the team on friday"};
const char* kSpam[] = {"cheap pills without prescription", "you are the lottery winner claim your prize",
                       "casino bonus offer for new players", "lowest mortgage rates guaranteed now"};
const char* kNews[] = {"weekly newsletter from the garden club", "our monthly newsletter for subscribers"};

}  // namespace

TEST(QorTrainTool, WritesSpamAndCategoryFilesThatScoreTheirClasses) {
  telsor_test::TempDir dir;
  for (int i = 0; i < 12; ++i) {
    Message(dir / ("ham/a/" + std::to_string(i)), kHam[i % 4], std::string(kHam[(i + 1) % 4]) + " thanks");
    Message(dir / ("ham2/" + std::to_string(i)), kHam[(i + 2) % 4], "regards and see you");
    Message(dir / ("spam/" + std::to_string(i)), kSpam[i % 4], std::string(kSpam[(i + 3) % 4]) + " click here");
    Message(dir / ("news/" + std::to_string(i)), kNews[i % 2], "unsubscribe at any time from this newsletter");
  }
  std::filesystem::create_directories(dir / "out");
  std::string log;
  ASSERT_EQ(RunTrain("--update 7 " + (dir / "out") + " --ham " + (dir / "ham") + " " + (dir / "ham2") + " --spam " +
                         (dir / "spam") + " --category 33 " + (dir / "news"),
                     &log),
            0)
      << log;
  telsor::CExtNGramsTextClassifier spam, news;
  ASSERT_EQ(spam.LoadData((dir / "out/Qor.bin").c_str()), S_OK);
  ASSERT_EQ(news.LoadData((dir / "out/Qor_33.bin").c_str()), S_OK);
  EXPECT_EQ(spam.GetUpdateNumber(), 7u);
  EXPECT_GT(spam.EvaluateText("lottery winner claim your prize click here")[0], 0.0);
  EXPECT_LT(spam.EvaluateText("project schedule for the design review meeting")[0], 0.0);
  EXPECT_GT(news.EvaluateText("garden club newsletter unsubscribe")[0], 0.0);
  EXPECT_LT(news.EvaluateText("cheap casino bonus offer")[0], 0.0);
}

TEST(QorTrainTool, UnusableFoldersGiveTheirExitStatus) {
  telsor_test::TempDir dir;
  Message(dir / "ham/1", "hello", "a message of some words");
  std::filesystem::create_directories(dir / "empty");
  std::filesystem::create_directories(dir / "out");
  std::string err;
  // A class without messages: the engine refuses (1) and says why.
  EXPECT_EQ(RunTrain((dir / "out") + " --ham " + (dir / "ham") + " --spam " + (dir / "empty"), &err), 1);
  EXPECT_NE(err.find("a class has no messages"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir / "out/Qor.bin"));
  // A folder that does not exist, an output folder that does not exist,
  // and usage faults: 2.
  EXPECT_EQ(RunTrain((dir / "out") + " --ham " + (dir / "ham") + " --spam " + (dir / "missing")), 2);
  EXPECT_EQ(RunTrain((dir / "nowhere") + " --ham " + (dir / "ham") + " --spam " + (dir / "ham")), 2);
  EXPECT_EQ(RunTrain((dir / "out") + " --ham " + (dir / "ham")), 2);
  EXPECT_EQ(RunTrain("--c x " + (dir / "out") + " --ham " + (dir / "ham") + " --spam " + (dir / "ham")), 2);
}

#endif  // QOR_QORTRAIN
