// qorclassifier, the writer of classifier data files, run as the real
// program: each storage form it writes loads in the engine as the same
// classifier, and show reports what the engine read.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

#include "classify/ngramsclassifier.h"
#include "common/runprogram.h"
#include "common/tempdir.h"

#ifdef QOR_QORCLASSIFIER

namespace {

int RunTool(const std::string& args, std::string& out) {
  telsor_test::ProgramRun run = telsor_test::RunProgram(std::string(QOR_QORCLASSIFIER) + " " + args + " 2>/dev/null");
  out = run.output;
  return run.status;
}

TEST(QorClassifierTool, WritesEveryFormTheEngineReads) {
  telsor_test::TempDir dir;
  const char kSpam[] = "cheap pills buy now from our online pharmacy at a discount";
  telsor_test::WriteFileBytes(dir / "spam.txt", kSpam);
  telsor::CNGramsTextClassifier expected(5);
  expected.SetWeights(expected.Text2Vector(kSpam));

  struct Case {
    const char* form;
    const char* magic;
    const char* update;
  } cases[] = {{"plain", "SCA", "update=42\n"},
               {"gzip", "TLGZ", "update=42\n"},
               {"cipher", nullptr, "update=42\n"},
               {"original", "SVM", "update=none\n"}};
  for (const Case& c : cases) {
    const std::string file = dir / (std::string(c.form) + ".bin");
    std::string out;
    ASSERT_EQ(RunTool(std::string("write --form ") + c.form + " --update 42 --b 0.25 " + file + " " +
                          (dir / "spam.txt"),
                      out),
              0)
        << c.form;
    std::string head = telsor_test::ReadFileBytes(file).substr(0, 4);
    if (c.magic != nullptr) {
      EXPECT_EQ(head.substr(0, strlen(c.magic)), c.magic) << c.form;
    } else {
      EXPECT_NE(head.substr(0, 3), "SCA");
      EXPECT_NE(head, "TLGZ");
    }
    telsor::CExtNGramsTextClassifier loaded;
    ASSERT_EQ(loaded.LoadData(file.c_str()), S_OK) << c.form;
    EXPECT_EQ(loaded.GetWeights(), expected.GetWeights()) << c.form;
    EXPECT_EQ(loaded.GetB(), 0.25) << c.form;

    ASSERT_EQ(RunTool("show " + file + " " + (dir / "spam.txt"), out), 0) << c.form;
    EXPECT_EQ(out, std::string("form=") + c.form + "\n" + c.update + "n=5\nb=0.25\nweights=" +
                       std::to_string(expected.GetWeights().GetCount()) + "\nvalue=" +
                       [&] {
                         char v[64];
                         snprintf(v, sizeof v, "%.17g", loaded.EvaluateText(kSpam)[0]);
                         return std::string(v);
                       }() + "\n")
        << c.form;
  }
  std::string out;
  EXPECT_EQ(RunTool("show " + (dir / "missing.bin"), out), 1);
  EXPECT_EQ(RunTool("write --form zip " + (dir / "x.bin"), out), 2);
  EXPECT_EQ(RunTool("write " + (dir / "x.bin") + " " + (dir / "missing.txt"), out), 2);
}

}  // namespace

#endif  // QOR_QORCLASSIFIER
