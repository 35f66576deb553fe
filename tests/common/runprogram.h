// Runs a program through the shell and takes what it wrote to its standard
// output, for tests of the command-line tools and for the outside programs
// that serve as oracles.
//
//   telsor_test::ProgramRun run = telsor_test::RunProgram("printf 'a\\nb\\n'; exit 3");
//   EXPECT_EQ(run.status, 3);
//   EXPECT_EQ(run.output, "a\nb\n");
//   EXPECT_EQ(telsor_test::Lines(run.output), (std::vector<std::string>{"a", "b"}));
//
// The command is given to /bin/sh as it is (quote file names yourself; add
// " 2>&1" to take the standard error too). status is the exit status, or -1
// when the shell could not be started or the program ended by a signal.
#ifndef TELSOR_TESTS_COMMON_RUNPROGRAM_H
#define TELSOR_TESTS_COMMON_RUNPROGRAM_H

#include <stdio.h>
#include <sys/wait.h>

#include <string>
#include <vector>

namespace telsor_test {

struct ProgramRun {
  int status = -1;
  std::string output;
};

inline ProgramRun RunProgram(const std::string& command) {
  ProgramRun run;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return run;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) run.output.append(buffer, n);
  const int status = pclose(p);
  run.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The lines of text without their line ends ("\n"); a last line without one
// counts too.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace telsor_test

#endif  // TELSOR_TESTS_COMMON_RUNPROGRAM_H
