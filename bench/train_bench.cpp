// Spam classifier training against libsvm's svm-train on the training half of
// the SpamAssassin corpus ($QOR_CORPORA, fetched by tools/fetch-corpora.sh;
// the held-out half is never read): the same 5-gram vectors (stop words out),
// the same C (10) and tolerance (0.001).
//   Train/ours    CNGramsTextClassifier::Train on the file set, as qortrain
//                 does it: reading the messages, their n-gram vectors, the
//                 cosine Gram matrix and SMO
//   Train/libsvm  svm-train -t 0 (whole process) on the same vectors written
//                 in its sparse format, each divided by its length, so that
//                 its linear kernel is our cosine kernel; a feature's index
//                 is the n-gram's number in order of first appearance
// svm-train comes from Debian's libsvm-tools, unpacked into the build folder
// by tests/engine/classify/fetch-libsvm.sh. Before any timing a gate trains
// both once and checks that the dual objectives agree within 1e-3 relative;
// it prints both, and how our time splits between the Gram matrix and SMO.
//
//   bash tools/fetch-corpora.sh && bash tools/build.sh normal -DQOR_BENCH=ON
//   QOR_CORPORA=... build/normal/bin/train_bench --benchmark_repetitions=3
//       --benchmark_report_aggregates_only=true --benchmark_format=json > out.json
//   python3 bench/ratios.py out.json
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "classify/matrix.h"
#include "classify/ngramsclassifier.h"
#include "classify/ngramsdataset.h"
#include "classify/ngramstrain.h"

using namespace telsor;

namespace {

const WORD kN = 5;
const double kC = 10.0;
const double kTolerance = 0.001;
const char* const kHam[] = {"easy-ham-1", "easy-ham-2", "hard-ham-1"};
const char* const kSpam[] = {"spam-1", "spam-2"};

std::string Run(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return std::string();
  char buffer[512];
  size_t n;
  std::string out;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

// Links to every file of the class folders in one folder, as qortrain stages
// them: a file set takes one folder per class.
bool Stage(const std::string& root, const char* const* folders, size_t count, const std::string& at) {
  if (mkdir(at.c_str(), 0700) != 0) return false;
  int k = 0;
  for (size_t i = 0; i < count; ++i) {
    const std::string dir = root + "/" + folders[i];
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return false;
    std::vector<std::string> names;
    while (dirent* f = readdir(d))
      if (f->d_name[0] != '.') names.push_back(f->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
      if (symlink((dir + "/" + name).c_str(), (at + "/" + std::to_string(k++) + "_" + name).c_str()) != 0) return false;
  }
  return true;
}

struct tag_DATA {
  bool ok = false;
  std::string work;      // the staged folders and svm-train's files
  std::string svmTrain;  // the command line, up to the data file
  CNGramsOnFileDataSet set{kN};
};

// Our dual objective sum alpha - 1/2 sum alpha_i alpha_j y_i y_j K(i, j).
double DualObjective(const CSMOptimization& smo, const CMatrix& gram) {
  std::vector<std::pair<ULONG, double>> support;
  double sum = 0;
  for (ULONG i = 0; i < smo.GetExampleCount(); ++i) {
    const CSMOptimization::tag_EXAMPLE& e = smo.GetRecord(i);
    sum += e.alpha;
    if (e.alpha != 0) support.push_back({i, e.alpha * e.y});
  }
  double quad = 0;
  for (const auto& a : support)
    for (const auto& b : support) quad += a.second * b.second * gram.GetAt(a.first, b.first);
  return sum - 0.5 * quad;
}

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// The set opened, its vectors written for svm-train, both trained once and
// their objectives compared.
bool Prepare(tag_DATA& d) {
  const char* env = getenv("QOR_CORPORA");
  const std::string root = std::string(env ? env : "") + "/spamassassin/train";
  char work[] = "/tmp/train_bench.XXXXXX";
  if (env == nullptr || mkdtemp(work) == nullptr) return false;
  d.work = work;
  if (!Stage(root, kHam, 3, d.work + "/ham") || !Stage(root, kSpam, 2, d.work + "/spam")) return false;

  std::string bin = Run(std::string("bash ") + QOR_FETCH_LIBSVM + " " + QOR_LIBSVM_DIR + " 2>/dev/null");
  while (!bin.empty() && bin.back() == '\n') bin.pop_back();
  if (bin.empty()) {
    fprintf(stderr, "gate: libsvm-tools could not be fetched\n");
    return false;
  }
  char options[96];
  snprintf(options, sizeof options, " -s 0 -t 0 -c %.17g -e %.17g ", kC, kTolerance);
  d.svmTrain = "LD_LIBRARY_PATH=" + std::string(QOR_LIBSVM_DIR) + "/lib " + bin + "/svm-train" + options;

  srand(1);
  try {
    d.set.Open((d.work + "/ham").c_str(), (d.work + "/spam").c_str(), "*");
  } catch (...) {
    return false;
  }
  const ULONG n = d.set.GetRecordCount();
  std::unordered_map<std::string, unsigned> ids;
  std::string data;
  char field[64];
  size_t empty = 0;
  for (ULONG i = 0; i < n; ++i) {
    d.set.SetAbsolutePosition(i);
    const CNGramsVector& v = d.set.GetNGramsVector();
    const double length = sqrt(v.DotProduct());
    empty += v.GetCount() == 0;
    std::vector<std::pair<unsigned, double>> features;
    for (DWORD k = 0; k < v.GetCount(); ++k) {
      const std::string gram(reinterpret_cast<const char*>(v.GetEntry(k)), kN);
      const unsigned id = ids.emplace(gram, static_cast<unsigned>(ids.size() + 1)).first->second;
      features.push_back({id, v.GetWeight(k) / length});
    }
    std::sort(features.begin(), features.end());
    data += d.set.GetClassLabel(i) > 0 ? "+1" : "-1";
    for (const auto& f : features) {
      snprintf(field, sizeof field, " %u:%.17g", f.first, f.second);
      data += field;
    }
    data += "\n";
  }
  // An empty vector is 1 with itself in our kernel and 0 in libsvm's.
  if (empty != 0) fprintf(stderr, "gate: %zu messages have no n-grams; the kernels differ on them\n", empty);
  FILE* f = fopen((d.work + "/train.svm").c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = fwrite(data.data(), 1, data.size(), f) == data.size();
  if (fclose(f) != 0 || !written) return false;

  // Ours, along TrainOnSet's full-matrix road, timed in its two steps.
  auto start = std::chrono::steady_clock::now();
  CSymMemMatrix gram;
  d.set.CreateTextKernelMatrix(gram, nullptr);
  gram.Align();
  const double gramSeconds = Seconds(start);
  CNGramsTextClassifier c(kN);
  CNGramsSMOptimization smo(c, d.set, &gram);
  start = std::chrono::steady_clock::now();
  smo.Execute(kC, kTolerance, 1e-12);
  const double smoSeconds = Seconds(start);
  const double ours = DualObjective(smo, gram);

  start = std::chrono::steady_clock::now();
  const std::string out = Run(d.svmTrain + d.work + "/train.svm " + d.work +
                              "/model 2>&1");
  const double libsvmSeconds = Seconds(start);
  double obj = NAN, rho = NAN;
  const size_t at = out.find("obj = ");
  if (at != std::string::npos) sscanf(out.c_str() + at, "obj = %lf, rho = %lf", &obj, &rho);
  // libsvm minimises the negated dual.
  const double gap = fabs(ours + obj) / std::max(1.0, fabs(obj));
  fprintf(stderr,
          "%u messages (%u spam), %zu n-grams; dual objective ours %.9g libsvm %.9g (relative gap %.2g)\n"
          "ours: Gram matrix %.2f s, SMO %.2f s; libsvm %.2f s\n",
          static_cast<unsigned>(n), static_cast<unsigned>(d.set.GetClassCount(1)), ids.size(), ours, -obj, gap,
          gramSeconds, smoSeconds, libsvmSeconds);
  if (!(gap <= 1e-3)) {
    fprintf(stderr, "gate: the dual objectives differ\n%s", out.c_str());
    return false;
  }
  return true;
}

tag_DATA& Data() {
  static tag_DATA* d = [] {
    tag_DATA* d = new tag_DATA;
    d->ok = Prepare(*d);
    atexit([] {
      if (!Data().work.empty()) Run("rm -rf '" + Data().work + "'");
    });
    return d;
  }();
  return *d;
}

bool Ready(benchmark::State& state) {
  if (!Data().ok) {
    state.SkipWithError("no corpus (run tools/fetch-corpora.sh), no libsvm, or the gate failed");
    return false;
  }
  return true;
}

void TrainOurs(benchmark::State& state) {
  if (!Ready(state)) return;
  tag_DATA& d = Data();
  for (auto _ : state) {
    CNGramsTextClassifier c(kN);
    if (c.Train(d.set, kC, kTolerance, 1e-12) != S_OK) {
      state.SkipWithError("training failed");
      return;
    }
  }
}

void TrainLibsvm(benchmark::State& state) {
  if (!Ready(state)) return;
  const tag_DATA& d = Data();
  const std::string command = d.svmTrain + "-q " + d.work + "/train.svm " + d.work + "/model >/dev/null 2>&1";
  for (auto _ : state)
    if (system(command.c_str()) != 0) {
      state.SkipWithError("svm-train failed");
      return;
    }
}

}  // namespace

BENCHMARK(TrainOurs)->Name("Train/ours/trainhalf")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(TrainLibsvm)->Name("Train/libsvm/trainhalf")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();
