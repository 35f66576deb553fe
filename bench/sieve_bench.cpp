// Compile time of a 1,000-rule filter script, ours against Pigeonhole's
// sievec (Debian's dovecot-sieve, installed by bench/setup.sh), on rules
// both dialects read alike: header, address, size, exists, anyof/allof/not,
// fileinto, discard, keep, stop.
//
//   sieve_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//               --benchmark_format=json > out.json
//   python3 bench/ratios.py out.json
//
// sievec is a program, so both compilers also run as processes (our
// sievetool check): "process" rows compare like with like, and the "empty"
// rows give each program's start-up cost to subtract. "inprocess" is our
// ParseString alone. Set SIEVETOOL to sievetool's path when it is not beside
// this program.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "filter/sievescript.h"

extern char** environ;

namespace {

std::string Rules(int count) {
  std::string s = "require [\"fileinto\"];\n";
  char line[512];
  for (int i = 0; i < count; ++i) {
    switch (i % 5) {
      case 0:
        snprintf(line, sizeof line, "if header :contains \"Subject\" [\"offer%d\", \"deal%d\"] { fileinto \"Promo%d\"; stop; }\n", i, i, i);
        break;
      case 1:
        snprintf(line, sizeof line, "if address :domain :is \"From\" \"host%d.example\" { discard; stop; }\n", i);
        break;
      case 2:
        snprintf(line, sizeof line, "if anyof (size :over %dK, exists \"X-Flag-%d\") { keep; }\n", i, i);
        break;
      case 3:
        snprintf(line, sizeof line,
                 "if allof (header :matches \"To\" \"*@team%d.example\", not header :is \"X-Seen\" \"yes\") "
                 "{ fileinto \"Team%d\"; } elsif header :contains \"Cc\" \"list%d\" { keep; } else { stop; }\n",
                 i, i, i);
        break;
      default:
        snprintf(line, sizeof line, "if address :localpart :contains [\"From\", \"Sender\"] \"user%d\" { discard; }\n", i);
        break;
    }
    s += line;
  }
  return s;
}

std::string WriteTemp(const std::string& name, const std::string& text) {
  static std::string dir;
  if (dir.empty()) {
    char pattern[] = "/tmp/sievebenchXXXXXX";
    if (mkdtemp(pattern) == nullptr) abort();
    dir = pattern;
  }
  std::string path = dir + "/" + name;
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) abort();
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  return path;
}

// Runs argv to completion with its output discarded; the exit status.
int RunProcess(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SievetoolPath() {
  if (const char* env = getenv("SIEVETOOL")) return env;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "sievetool";
  self[n] = '\0';
  std::string path(self);
  return path.substr(0, path.rfind('/') + 1) + "sievetool";
}

// A minimal configuration, so sievec reads no system-wide settings.
std::string SievecConfig() {
  return WriteTemp("dovecot.conf", "protocols =\nssl = no\nplugin {\n}\n");
}

void Register(const char* group, const std::string& script) {
  std::string path = WriteTemp(std::string(group) + ".sieve", script);
  std::string out = path + ".svbin";
  std::string tool = SievetoolPath();
  std::string config = SievecConfig();
  benchmark::RegisterBenchmark((std::string(group) + "/ours/inprocess").c_str(), [script](benchmark::State& st) {
    for (auto _ : st) {
      telsor::CSieveScript s;
      if (s.ParseString(script.c_str(), nullptr) != S_OK) st.SkipWithError("our compile failed");
    }
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark((std::string(group) + "/ours/process").c_str(), [=](benchmark::State& st) {
    for (auto _ : st)
      if (RunProcess({tool, "check", path}) != 0) st.SkipWithError("sievetool check failed");
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark((std::string(group) + "/sievec/process").c_str(), [=](benchmark::State& st) {
    for (auto _ : st)
      if (RunProcess({"/usr/bin/sievec", "-c", config, path, out}) != 0) st.SkipWithError("sievec failed");
  })->Unit(benchmark::kMillisecond);
}

// In process only: a script that the compile must finish, or refuse with
// the code given, within a second (the regex budget of a script; a flat
// chain of 1,000 elsif branches).
void RegisterBound(const char* group, const std::string& script, HRESULT expected) {
  benchmark::RegisterBenchmark((std::string(group) + "/ours/inprocess").c_str(), [=](benchmark::State& st) {
    for (auto _ : st) {
      telsor::CSieveScript s;
      if (s.ParseString(script.c_str(), nullptr) != expected) st.SkipWithError("unexpected result");
    }
  })->Unit(benchmark::kMillisecond);
}

std::string FiftyRegexKeys() {
  std::string keys;
  for (int i = 0; i < 50; ++i) keys += std::string(i == 0 ? "" : ", ") + "\".*a..............\"";
  return "if header :regex \"Subject\" [" + keys + "] { keep; }";
}

std::string ElsifChain(int branches) {
  std::string s = "if header :is \"X\" \"b0\" { fileinto \"b0\"; }\n";
  for (int i = 1; i < branches; ++i) {
    const std::string n = std::to_string(i);
    s += "elsif header :is \"X\" \"b" + n + "\" { fileinto \"b" + n + "\"; }\n";
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  Register("rules1000", Rules(1000));
  RegisterBound("regex50", FiftyRegexKeys(), E_SIEVE_REGEX_BUDGET);
  RegisterBound("elsif1000", ElsifChain(1000), S_OK);
  Register("empty", "keep;\n");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
