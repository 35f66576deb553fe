// sievetool, the command-line compiler, run as the real program.
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include <gtest/gtest.h>

#include "common/tempdir.h"

#ifdef QOR_SIEVETOOL

namespace {

// Runs the tool; returns its exit status and what it wrote to stdout.
int RunTool(const std::string& args, std::string& out) {
  std::string command = std::string(QOR_SIEVETOOL) + " " + args + " 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  char buffer[256];
  size_t n;
  out.clear();
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
