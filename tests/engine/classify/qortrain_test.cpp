// qortrain, the training program, run as the real program on small folders
// of messages: the files it writes load in the engine and score their own
// classes; folders it cannot use give its documented exit status.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "classify/ngramsclassifier.h"
#include "common/runprogram.h"
#include "common/tempdir.h"
#include "foundation/results.h"

#ifdef QOR_QORTRAIN

namespace {

int RunTrain(const std::string& args, std::string* err = nullptr) {
  telsor_test::ProgramRun run = telsor_test::RunProgram(std::string(QOR_QORTRAIN) + " --quiet " + args + " 2>&1");
  if (err != nullptr) *err = run.output;
  return run.status;
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

// One seed, one model: two trainings with the same options write the same
// bytes. The loose tolerance leaves the optimiser where its random start led
// it, so an optimiser that drew its start from the clock would not. --shift
// raises the threshold of the model that the seed gives unshifted by exactly
// the shift.
TEST(QorTrainTool, OneSeedWritesTheSameFileAndShiftMovesOnlyItsThreshold) {
  telsor_test::TempDir dir;
  for (int i = 0; i < 12; ++i) {
    Message(dir / ("ham/" + std::to_string(i)), kHam[i % 4], std::string(kHam[(i + 1) % 4]) + " thanks " + std::to_string(i));
    Message(dir / ("spam/" + std::to_string(i)), kSpam[i % 4], std::string(kSpam[(i + 3) % 4]) + " click " + std::to_string(i));
  }
  auto train = [&](const std::string& out, const std::string& options) {
    std::filesystem::create_directories(dir / out);
    std::string log;
    EXPECT_EQ(RunTrain(options + " --tolerance 0.5 " + (dir / out) + " --ham " + (dir / "ham") + " --spam " + (dir / "spam"),
                       &log),
              0)
        << log;
    return telsor_test::ReadFileBytes(dir / (out + "/Qor.bin"));
  };
  const std::string first = train("a", "--seed 3");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(train("b", "--seed 3"), first);

  train("shifted", "--seed 3 --shift 0.25");
  telsor::CExtNGramsTextClassifier plain, shifted;
  ASSERT_EQ(plain.LoadData((dir / "a/Qor.bin").c_str()), S_OK);
  ASSERT_EQ(shifted.LoadData((dir / "shifted/Qor.bin").c_str()), S_OK);
  EXPECT_DOUBLE_EQ(shifted.GetB(), plain.GetB() + 0.25);
  EXPECT_DOUBLE_EQ(shifted.EvaluateText("lunch with the team")[0], plain.EvaluateText("lunch with the team")[0] - 0.25);
}

// --balance trains on a subset of the ham: 12 ham and 4 spam with at most
// 1.5 ham per spam leave 6 ham.
TEST(QorTrainTool, BalanceThinsTheHam) {
  telsor_test::TempDir dir;
  for (int i = 0; i < 12; ++i) {
    Message(dir / ("ham/" + std::to_string(i)), kHam[i % 4], std::string(kHam[(i + 1) % 4]) + " thanks " + std::to_string(i));
    if (i < 4) Message(dir / ("spam/" + std::to_string(i)), kSpam[i], std::string(kSpam[(i + 3) % 4]) + " click");
  }
  const std::string args = (dir / "out") + " --ham " + (dir / "ham") + " --spam " + (dir / "spam");
  std::filesystem::create_directories(dir / "out");
  std::string log;
  ASSERT_EQ(RunTrain("--balance 1.5 " + args, &log), 0) << log;
  EXPECT_NE(log.find("10 messages (4 positive)"), std::string::npos) << log;
}

// The training set's composition: --min-words leaves out the messages whose
// text has fewer words, --distinct the repeats of a text in a class, and
// --ham-copies puts each ham message in the set that many times. 12 ham (4
// of them repeats of an earlier text; 2 more, alike, of three words) and 4
// spam.
TEST(QorTrainTool, SelectionAndCopiesShapeTheTrainingSet) {
  telsor_test::TempDir dir;
  for (int i = 0; i < 12; ++i) {
    const std::string body = i < 4 ? std::string(kHam[i]) + " thanks" : i < 8 ? std::string(kHam[i - 4]) + " thanks"
                                                                               : std::string(kHam[i % 4]) + " " + std::to_string(i);
    Message(dir / ("ham/" + std::to_string(i)), i >= 10 ? "hi" : "notes", i >= 10 ? "see you" : body);
    if (i < 4) Message(dir / ("spam/" + std::to_string(i)), kSpam[i], std::string(kSpam[(i + 3) % 4]) + " click");
  }
  const std::string args = (dir / "out") + " --ham " + (dir / "ham") + " --spam " + (dir / "spam");
  std::filesystem::create_directories(dir / "out");
  const struct {
    const char* options;
    const char* counts;
  } cases[] = {
      {"", "16 messages (4 positive)"},
      {"--min-words 5 ", "14 messages (4 positive)"},
      {"--distinct ", "11 messages (4 positive)"},
      {"--distinct --min-words 5 ", "10 messages (4 positive)"},
      {"--ham-copies 2 ", "28 messages (4 positive)"},
      {"--distinct --ham-copies 3 ", "25 messages (4 positive)"},
  };
  for (const auto& c : cases) {
    std::string log;
    ASSERT_EQ(RunTrain(std::string(c.options) + args, &log), 0) << c.options << log;
    EXPECT_NE(log.find(c.counts), std::string::npos) << c.options << log;
  }
  std::string stamp;
  ASSERT_EQ(RunTrain("--stamp --min-words 5 --distinct --ham-copies 2 --ham " + (dir / "ham") + " --spam " + (dir / "spam"),
                     &stamp),
            0);
  EXPECT_NE(stamp.find("--balance all --min-words 5 --distinct --ham-copies 2 --text extracted\n"), std::string::npos)
      << stamp;
  EXPECT_EQ(RunTrain("--ham-copies 0 " + args), 2);
  EXPECT_EQ(RunTrain("--min-words x " + args), 2);
}

// --cv scores each message as the engine scores mail: the mail classifier's
// value of its features and text with the fold's model loaded from its file.
// A text of fewer than five words never reaches the spam classifier, so a
// plain short message scores the metric of no features alone, -0.124, which
// the engine's integer score puts at -124: no spam.
TEST(QorTrainTool, CrossValidationScoresAsTheEngine) {
  telsor_test::TempDir dir;
  for (int i = 0; i < 8; ++i) {
    Message(dir / ("ham/" + std::to_string(i)), i == 0 ? "hi" : kHam[i % 4],
            i == 0 ? "ok" : std::string(kHam[(i + 1) % 4]) + " thanks");
    Message(dir / ("spam/" + std::to_string(i)), kSpam[i % 4], std::string(kSpam[(i + 3) % 4]) + " click here now");
  }
  std::string log;
  ASSERT_EQ(RunTrain("--cv 2 --scores " + (dir / "scores") + " --ham " + (dir / "ham") + " --spam " + (dir / "spam"), &log),
            0)
      << log;
  const std::string scores = telsor_test::ReadFileBytes(dir / "scores");
  size_t lines = 0, positive = 0;
  bool shortSeen = false;
  for (size_t at = 0; at < scores.size(); at = scores.find('\n', at) + 1) {
    char cls[8] = {0};
    double value = 0;
    int fold = -1;
    ASSERT_EQ(sscanf(scores.c_str() + at, "%d\t%7s\t%lf", &fold, cls, &value), 3) << scores;
    const size_t end = scores.find('\n', at);
    const std::string path = scores.substr(scores.rfind('\t', end) + 1, end - scores.rfind('\t', end) - 1);
    ++lines;
    positive += (strcmp(cls, "spam") == 0) == (value > 0);
    if (path == dir / "ham/0") {
      shortSeen = true;
      EXPECT_DOUBLE_EQ(value, -0.124) << scores;
    }
  }
  EXPECT_EQ(lines, 16u);
  EXPECT_TRUE(shortSeen) << scores;
  EXPECT_GE(positive, 14u) << scores;
  EXPECT_NE(log.find(" all    8     8"), std::string::npos) << log;
}

// The stamp of a model: the options as taken (one value however it is
// spelled) and a digest of the training text, which a header that the
// feature extractor leaves out does not change and a word of a body does.
TEST(QorTrainTool, StampFollowsTheOptionsAsTakenAndTheTrainingText) {
  telsor_test::TempDir dir;
  for (int i = 0; i < 3; ++i) {
    Message(dir / ("ham/" + std::to_string(i)), kHam[i], "see you there");
    Message(dir / ("spam/" + std::to_string(i)), kSpam[i], "click here");
  }
  const std::string folders = " --ham " + (dir / "ham") + " --spam " + (dir / "spam");
  std::string before, same, after;
  ASSERT_EQ(RunTrain("--stamp --c 3 --shift 0.2" + folders, &before), 0) << before;
  EXPECT_NE(before.find("qortrain stamp 1\noptions --c 3 --tolerance 0.001 --keep all --update none --seed 1 "
                        "--shift 0.2 --balance all --text extracted\nham 3 spam 3\ntext "),
            std::string::npos)
      << before;
  telsor_test::WriteFileBytes(dir / "spam/1", "Received: from elsewhere\r\nFrom: someone@example.com\r\nSubject: " +
                                                  std::string(kSpam[1]) +
                                                  "\r\nX-Filler: header words that every message shares\r\n\r\nclick here");
  ASSERT_EQ(RunTrain("--stamp --c 3.0 --shift 2e-1" + folders, &same), 0) << same;
  EXPECT_EQ(same, before);
  Message(dir / "spam/1", kSpam[1], "click there");
  ASSERT_EQ(RunTrain("--stamp --c 3 --shift 0.2" + folders, &after), 0) << after;
  EXPECT_NE(after, before);
  EXPECT_EQ(after.substr(0, after.find("text ")), before.substr(0, before.find("text ")));
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

// Accuracy inside the SpamAssassin corpus's training half (never its
// held-out half): a sixth of each group, cross-validated in 3 folds fixed by
// the seed. The floors sit a little under what the trainer reached on the
// feature extractor's text (1 - AUC 0.0047, errors 4.5 %; on whole files,
// --whole, 0.0070 and 3.8 %).
TEST(QorTrainTool, CrossValidatedAccuracyOnTheTrainingHalf) {
  const char* corpora = getenv("QOR_CORPORA");
  if (corpora == nullptr || *corpora == '\0') GTEST_SKIP() << "QOR_CORPORA is not set";
  const std::string train = std::string(corpora) + "/spamassassin/train/";
  telsor_test::TempDir dir;
  std::string args = "--cv 3 --seed 5";
  for (const char* cls : {"ham", "spam"}) {
    args += std::string(" --") + cls;
    for (const char* group : {"easy-ham-1", "easy-ham-2", "hard-ham-1", "spam-1", "spam-2"}) {
      if ((strncmp(group, "spam", 4) == 0) != (strcmp(cls, "spam") == 0)) continue;
      if (!std::filesystem::is_directory(train + group)) GTEST_SKIP() << "no " << train << group;
      std::vector<std::string> names;
      for (const auto& e : std::filesystem::directory_iterator(train + group)) names.push_back(e.path().string());
      std::sort(names.begin(), names.end());
      const std::string at = dir / group;
      std::filesystem::create_directories(at);
      for (size_t i = 0; i < names.size(); i += 6)
        std::filesystem::create_symlink(names[i], at + "/" + std::filesystem::path(names[i]).filename().string());
      args += " " + at;
    }
  }
  std::string out;
  ASSERT_EQ(RunTrain(args, &out), 0) << out;
  const size_t at = out.find(" all ");
  ASSERT_NE(at, std::string::npos) << out;
  long ham = 0, spam = 0, fp = 0, fn = 0;
  double oneMinusAuc = 1;
  ASSERT_EQ(sscanf(out.c_str() + at, " all %ld %ld %ld %ld %lf", &ham, &spam, &fp, &fn, &oneMinusAuc), 5) << out;
  EXPECT_GT(ham, 300);
  EXPECT_GT(spam, 100);
  EXPECT_LT(oneMinusAuc, 0.01) << out;
  EXPECT_LT(static_cast<double>(fp + fn) / (ham + spam), 0.05) << out;
}

#endif  // QOR_QORTRAIN
