// Whole classifications of real mail (the training half of the SpamAssassin
// corpus, $QOR_CORPORA, fetched by tools/fetch-corpora.sh), messages per
// second (items/s) of:
//   Mail/parse           parsing each message held in memory (headers and
//                        decoded bodies, 4 MiB kept in memory, as a spam test)
//   Mail/extract         the same, then the feature extractor
//   Mail/classify        the same, then CMailClassifier::ClassifySpam
// The spam classifier is $QOR_MODEL/Qor.bin when it exists (tools/run-main.sh
// trains it), else one that qortrain (beside this program, or $QORTRAIN)
// trains here on the same training half. The held-out half is never read.
//
//   bash tools/fetch-corpora.sh && bash tools/build.sh normal -DQOR_BENCH=ON
//   QOR_CORPORA=... build/normal/bin/mail_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "classify/mailclassifier.h"
#include "classify/mailfeatures.h"
#include "foundation/results.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

const char* const kGroups[] = {"easy-ham-1", "easy-ham-2", "hard-ham-1", "spam-1", "spam-2"};

std::string TrainingHalf() {
  const char* env = getenv("QOR_CORPORA");
  std::string root = env ? env : std::string(getenv("HOME") ? getenv("HOME") : "") + "/.cache/telsor-corpora";
  return root + "/spamassassin/train";
}

std::vector<std::string> LoadMessages() {
  std::vector<std::string> texts;
  for (const char* group : kGroups) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(TrainingHalf() + "/" + group, ec))
      files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    for (const std::string& path : files) {
      TSTRING bytes;
      if (bytes.ReadFile(path.c_str()) == 0) texts.emplace_back(bytes.c_str(), static_cast<size_t>(bytes.GetLength()));
    }
  }
  return texts;
}

const std::vector<std::string>& Messages() {
  static const std::vector<std::string> texts = LoadMessages();
  return texts;
}

std::string Beside(const char* env, const char* name) {
  if (const char* path = getenv(env)) return path;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return name;
  self[n] = '\0';
  std::string path(self);
  return path.substr(0, path.rfind('/') + 1) + name;
}

// The spam classifier's file: $QOR_MODEL's, or one trained now into a
// temporary folder (trained is set; the caller removes it).
std::string ModelFile(bool& trained) {
  trained = false;
  if (const char* model = getenv("QOR_MODEL")) {
    std::string path = std::string(model) + "/Qor.bin";
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return path;
  }
  char pattern[] = "/tmp/mailbenchXXXXXX";
  if (mkdtemp(pattern) == nullptr) return "";
  std::string out = pattern;
  std::string command = Beside("QORTRAIN", "qortrain") + " --quiet " + out + " --ham";
  for (const char* group : kGroups) {
    if (std::string(group) == "spam-1") command += " --spam";
    command += " " + TrainingHalf() + "/" + group;
  }
  fprintf(stderr, "mail_bench: training the spam classifier (%s)\n", command.c_str());
  trained = true;
  int status = system(command.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return out + "/none";
  return out + "/Qor.bin";
}

const CMailClassifier* Classifier() {
  static std::unique_ptr<CMailClassifier> classifier = [] {
    std::unique_ptr<CMailClassifier> c(new CMailClassifier);
    bool trained = false;
    std::string path = ModelFile(trained);
    if (!path.empty()) c->LoadData(path.c_str());
    if (trained) {
      std::error_code ec;
      std::filesystem::remove_all(path.substr(0, path.rfind('/')), ec);
    }
    // A loaded spam classifier speaks for a text of five words and more.
    CMailFeatureExtractor probe;
    probe.text = "one two three four five six";
    probe.ngrams = CNGramsVector(5, probe.text.c_str(), probe.text.GetLength(), DefaultNextStopWord);
    TSTRING verdict;
    c->ClassifySpam(probe, &verdict);
    if (verdict.Find("TXT=") < 0) c.reset();
    return c;
  }();
  return classifier.get();
}

enum Steps { PARSE, EXTRACT, CLASSIFY };

void Run(benchmark::State& state, Steps steps) {
  const std::vector<std::string>& messages = Messages();
  if (messages.empty()) return state.SkipWithError("no training half: set QOR_CORPORA");
  const CMailClassifier* classifier = steps == CLASSIFY ? Classifier() : nullptr;
  if (steps == CLASSIFY && classifier == nullptr) return state.SkipWithError("no spam classifier");
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  parser->OpenSession(nullptr);
  parser->PutMaxContentSizeInMemory(4 * 1024 * 1024);
  CMailFeatureExtractor extractor(nullptr);
  double sum = 0;
  for (auto _ : state) {
    for (const std::string& text : messages) {
      CRfc822Message message;
      message.PutContentAsString(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ULONG>(text.size()));
      if (parser->ParseMessage(PARSE_SCOPE_FULL, message) != S_OK) return state.SkipWithError("a parse failed");
      if (steps == PARSE) continue;
      extractor.ExtractFeatures(message);
      if (steps == CLASSIFY) sum += classifier->ClassifySpam(extractor, nullptr);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * messages.size()));
}

void Parse(benchmark::State& state) { Run(state, PARSE); }
void Extract(benchmark::State& state) { Run(state, EXTRACT); }
void Classify(benchmark::State& state) { Run(state, CLASSIFY); }

}  // namespace

BENCHMARK(Parse)->Name("Mail/parse/train")->Unit(benchmark::kMillisecond);
BENCHMARK(Extract)->Name("Mail/extract/train")->Unit(benchmark::kMillisecond);
BENCHMARK(Classify)->Name("Mail/classify/train")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
