// HTML to clean text: the HTML parts of the SpamAssassin training half
// converted side by side with `w3m -dump` (same inputs), and the time per
// byte of hostile inputs from 64 KiB to 4 MiB (it must stay flat).
//
//   bash tools/fetch-corpora.sh >/dev/null && python3 bench/extract_html_parts.py
//   build/normal/bin/html_bench --benchmark_format=json > html.json
//   python3 bench/ratios.py html.json
//
// The parts come from $QOR_CORPORA/html-parts/train (extract_html_parts.py);
// without them the corpus rows are skipped. "perfile" converts each part on
// its own (w3m: one process per part, as a mail filter would run it);
// "concat" converts all parts joined into one document (w3m: one process,
// its start-up spread over 4.6 MB).
//
// The scale rows measure the converter, not the kernel: glibc would serve
// the large buffers of a conversion (the text, the longest token, the clean
// text) from fresh mappings above its mmap threshold and fault every page in
// again on each run, which on a loaded virtual machine costs more than the
// conversion and depends on where the threshold happens to lie. So this
// program keeps freed memory in the heap (mallopt below) for every size.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mime/html2cleantext.h"

extern char** environ;

using namespace telsor;

namespace {

struct Corpus {
  std::vector<std::string> paths;
  std::vector<std::string> parts;
  std::string joinedPath;
  std::string joined;
  size_t bytes = 0;
};

const Corpus& GetCorpus() {
  static Corpus c = [] {
    Corpus c;
    const char* root = getenv("QOR_CORPORA");
    std::string dir = std::string(root ? root : (std::string(getenv("HOME")) + "/.cache/telsor-corpora").c_str()) +
                      "/html-parts/train";
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') c.paths.push_back(dir + "/" + e->d_name);
      }
      closedir(d);
    }
    std::sort(c.paths.begin(), c.paths.end());
    for (const std::string& p : c.paths) {
      std::ifstream in(p, std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      c.parts.push_back(s.str());
      c.joined += c.parts.back();
      c.bytes += c.parts.back().size();
    }
    char name[] = "/tmp/html_bench_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) {
      if (write(fd, c.joined.data(), c.joined.size()) != static_cast<ssize_t>(c.joined.size())) c.joined.clear();
      close(fd);
      c.joinedPath = name;
    }
    return c;
  }();
  return c;
}

// Freed buffers stay in the heap and are reused, whatever their size.
const bool g_heapKept = [] {
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  return true;
}();

void Convert(const std::string& html) {
  CHtml2CleanText conv(0);
  TSTRING text(html.data(), static_cast<int>(html.size()));
  conv.Execute(text, 0, nullptr);
  benchmark::DoNotOptimize(text.c_str());
}

// Runs `w3m -dump -T text/html path` with its output thrown away.
bool W3m(const std::string& path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {"w3m", "-dump", "-T", "text/html", path.c_str(), nullptr};
  pid_t pid;
  int rc = posix_spawnp(&pid, "w3m", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void OursPerFile(benchmark::State& state) {
  const Corpus& c = GetCorpus();
  if (c.parts.empty()) return state.SkipWithError("no HTML parts: run bench/extract_html_parts.py");
  for (auto _ : state) {
    for (const std::string& part : c.parts) Convert(part);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
  state.counters["parts"] = static_cast<double>(c.parts.size());
}

void W3mPerFile(benchmark::State& state) {
  const Corpus& c = GetCorpus();
  if (c.parts.empty()) return state.SkipWithError("no HTML parts: run bench/extract_html_parts.py");
  for (auto _ : state) {
    for (const std::string& path : c.paths) {
      if (!W3m(path)) return state.SkipWithError("w3m failed (bench/setup.sh installs it)");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
}

void OursConcat(benchmark::State& state) {
  const Corpus& c = GetCorpus();
  if (c.parts.empty()) return state.SkipWithError("no HTML parts: run bench/extract_html_parts.py");
  for (auto _ : state) Convert(c.joined);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
}

void W3mConcat(benchmark::State& state) {
  const Corpus& c = GetCorpus();
  if (c.joinedPath.empty()) return state.SkipWithError("no HTML parts: run bench/extract_html_parts.py");
  for (auto _ : state) {
    if (!W3m(c.joinedPath)) return state.SkipWithError("w3m failed (bench/setup.sh installs it)");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.bytes));
}

BENCHMARK(OursPerFile)->Name("html/ours/perfile")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(W3mPerFile)->Name("html/w3m/perfile")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OursConcat)->Name("html/ours/concat")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(W3mConcat)->Name("html/w3m/concat")->Unit(benchmark::kMillisecond)->UseRealTime();

// Inputs of one kind grown to a size: real HTML and the hostile shapes.
std::string Shape(int kind, size_t bytes) {
  static const char* const pieces[] = {
      nullptr,                // 0: the corpus parts, repeated
      "<!--x>",               // 1: unclosed comments, each ending at its first ">"
      "<font color=red>w ",   // 2: nested colour scopes never closed
      "&",                    // 3: a run of ampersands
      "w",                    // 4: one huge word
      "<a href=http://0x7f.0.0.1/%41>u</a> ",  // 5: URLs that normalisation rewrites
  };
  std::string out;
  out.reserve(bytes + 64);
  if (kind == 0) {
    const Corpus& c = GetCorpus();
    if (c.joined.empty()) return out;
    while (out.size() < bytes) out.append(c.joined, 0, std::min(c.joined.size(), bytes - out.size()));
    return out;
  }
  while (out.size() < bytes) out += pieces[kind];
  return out;
}

void Scale(benchmark::State& state) {
  const std::string html = Shape(static_cast<int>(state.range(0)), static_cast<size_t>(state.range(1)));
  if (html.empty()) return state.SkipWithError("no HTML parts: run bench/extract_html_parts.py");
  for (auto _ : state) Convert(html);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * html.size()));
  state.counters["ns_per_byte"] = benchmark::Counter(
      static_cast<double>(html.size()) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void ScaleArgs(benchmark::internal::Benchmark* b) {
  for (int kind = 0; kind <= 5; ++kind) {
    for (int64_t size : {64 << 10, 256 << 10, 1 << 20, 4 << 20}) b->Args({kind, size});
  }
}
// Kinds: 0 corpus, 1 unclosed comments, 2 nested fonts, 3 ampersands, 4 huge word, 5 URLs.
BENCHMARK(Scale)->Name("scale/ours")->Apply(ScaleArgs)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
