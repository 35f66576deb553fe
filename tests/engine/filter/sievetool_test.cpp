// sievetool, the command-line compiler, run as the real program.
#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

#include "common/runprogram.h"
#include "common/tempdir.h"

#ifdef QOR_SIEVETOOL

namespace {

// Runs the tool; returns its exit status and what it wrote to stdout.
int RunTool(const std::string& args, std::string& out) {
  telsor_test::ProgramRun run = telsor_test::RunProgram(std::string(QOR_SIEVETOOL) + " " + args + " 2>/dev/null");
  out = run.output;
  return run.status;
}

TEST(SieveTool, CheckAndPrint) {
  telsor_test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  telsor_test::WriteFileBytes(dir / "good.sieve", "if size :over 2048 { discard; } # big\nkeep;\n");
  telsor_test::WriteFileBytes(dir / "bad.sieve", "keep;\nfrobnicate;\n");
  std::string out;
  EXPECT_EQ(RunTool("check " + (dir / "good.sieve"), out), 0);
  EXPECT_EQ(out, "OK\n");
  EXPECT_EQ(RunTool("print " + (dir / "good.sieve"), out), 0);
  EXPECT_EQ(out, "if size :over 2K\n{\n  discard;\n}\nkeep;\n");
  EXPECT_EQ(RunTool("check " + (dir / "bad.sieve"), out), 1);
  EXPECT_EQ(out,
            "Line: 2, Column: 1 : Unrecognized command or it is not valid in this state.\n"
            "error 0xE00A0016 at line 2, column 1\n");
  EXPECT_EQ(RunTool("check " + (dir / "missing.sieve"), out), 2);
  EXPECT_EQ(RunTool("frob " + (dir / "good.sieve"), out), 2);
}

}  // namespace

#endif  // QOR_SIEVETOOL
