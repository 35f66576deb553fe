// N-gram vectors against a plain std::unordered_map baseline on real mail
// (the training half of the SpamAssassin corpus, $QOR_CORPORA, fetched by
// tools/fetch-corpora.sh):
//   NGramCreate  making the 5-gram vector of each message (stop words out):
//                CNGramsVector::Create against counting 5-grams of the same
//                kept text in an unordered_map; MB/s of message text
//   DotMsgMsg    dot products of two message vectors (similar sizes)
//   DotMsgModel  dot products of a message vector with a model-sized vector
//                (every 5-gram of the training half: millions of entries);
//                "index" scores through the model's hash table as the
//                classifier does, "ours" through the sorted merge
// Before any timing a gate checks that both sides find the same n-grams and
// the same dot products.
//
//   bash tools/fetch-corpora.sh && bash tools/build.sh normal -DQOR_BENCH=ON
//   QOR_CORPORA=... build/normal/bin/classify_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true --benchmark_format=json > out.json
//   python3 bench/ratios.py out.json
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "classify/ngramsvector.h"
#include "classify/ngramsweightindex.h"

using namespace telsor;

namespace {

const WORD kN = 5;

std::vector<std::string> LoadTrainingHalf() {
  std::vector<std::string> texts;
  const char* env = getenv("QOR_CORPORA");
  std::string root = env ? env : std::string(getenv("HOME") ? getenv("HOME") : "") + "/.cache/telsor-corpora";
  root += "/spamassassin/train";
  DIR* groups = opendir(root.c_str());
  if (groups == nullptr) return texts;
  std::vector<std::string> files;
  while (dirent* g = readdir(groups)) {
    if (g->d_name[0] == '.') continue;
    std::string dir = root + "/" + g->d_name;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) continue;
    while (dirent* f = readdir(d))
      if (f->d_name[0] != '.') files.push_back(dir + "/" + f->d_name);
    closedir(d);
  }
  closedir(groups);
  std::sort(files.begin(), files.end());
  for (const std::string& path : files) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) continue;
    std::string text;
    char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
    fclose(f);
    texts.push_back(std::move(text));
  }
  return texts;
}

const std::vector<std::string>& Texts() {
  static const std::vector<std::string> texts = LoadTrainingHalf();
  return texts;
}

size_t TotalBytes() {
  size_t n = 0;
  for (const std::string& t : Texts()) n += t.size();
  return n;
}

// --- The baseline: the same kept text, 5-grams counted in a hash map. ---

std::string KeptText(const std::string& text) {
  std::string kept;
  kept.reserve(text.size());
  const char* p = text.data();
  DWORD len = static_cast<DWORD>(text.size());
  DWORD pos = 0;
  while (pos < len) {
    DWORD skip = 0;
    DWORD at = DefaultNextStopWord(p + pos, len - pos, skip);
    DWORD stop = at == 0xFFFFFFFFu ? len : pos + at;
    for (DWORD i = pos; i < stop; ++i) {
      unsigned char c = static_cast<unsigned char>(p[i]);
      if (c == '\r' && i + 1 < len && p[i + 1] == '\n') continue;
      if (c == '\n' && i > 0 && p[i - 1] == '\r') continue;
      if (c < 0x20) {
        kept += ' ';
        continue;
      }
      if (IsIgnoredChar(c)) continue;
      kept += static_cast<char>(c);
    }
    if (at == 0xFFFFFFFFu) break;
    pos = std::min<DWORD>(stop + skip, len);
  }
  return kept;
}

typedef std::unordered_map<uint64_t, float> HashVector;

HashVector HashNGrams(const std::string& text) {
  std::string kept = KeptText(text);
  std::unordered_map<uint64_t, uint32_t> counts;
  uint64_t key = 0;
  for (size_t i = 0; i < kept.size(); ++i) {
    key = ((key << 8) | static_cast<unsigned char>(kept[i])) & 0xFFFFFFFFFFull;
    if (i + 1 >= kN) ++counts[key];
  }
  HashVector v;
  v.reserve(counts.size());
  for (const auto& c : counts) v.emplace(c.first, static_cast<float>(log2(c.second + 1.0)));
  return v;
}

double HashDot(const HashVector& a, const HashVector& b) {
  const HashVector& small = a.size() <= b.size() ? a : b;
  const HashVector& large = a.size() <= b.size() ? b : a;
  double sum = 0.0;
  for (const auto& e : small) {
    auto it = large.find(e.first);
    if (it != large.end()) sum += static_cast<double>(e.second) * static_cast<double>(it->second);
  }
  return sum;
}

HashVector AsHash(const CNGramsVector& v) {
  HashVector h;
  h.reserve(v.GetCount());
  for (DWORD i = 0; i < v.GetCount(); ++i) {
    const BYTE* g = v.GetEntry(i);
    uint64_t key = 0;
    for (int b = 0; b < kN; ++b) key = (key << 8) | g[b];
    h.emplace(key, static_cast<float>(v.GetWeight(i)));
  }
  return h;
}

struct tag_DATA {
  std::vector<CNGramsVector> vectors;
  std::vector<HashVector> hashes;
  CNGramsVector model{kN};
  HashVector modelHash;
  CSharedObjPtr<CNGramsWeightIndex> modelIndex;
  bool ok = false;
};

// The message vectors, the model-sized vector and their hash twins, checked
// against each other.
const tag_DATA& Data() {
  static tag_DATA d = [] {
    tag_DATA d;
    const std::vector<std::string>& texts = Texts();
    if (texts.empty()) return d;
    std::string all;
    for (const std::string& t : texts) {
      d.vectors.emplace_back(kN, t.data(), static_cast<DWORD>(t.size()), DefaultNextStopWord);
      d.hashes.push_back(AsHash(d.vectors.back()));
      all += t;
    }
    d.model.Create(kN, all.data(), static_cast<DWORD>(all.size()), DefaultNextStopWord);
    d.modelHash = AsHash(d.model);
    d.modelIndex = CNGramsWeightIndex::Create(d.model);
    // Gate: the hash baseline finds the same n-grams and weights.
    d.ok = true;
    for (size_t i = 0; i < texts.size() && d.ok; i += 97) {
      HashVector h = HashNGrams(texts[i]);
      if (h != d.hashes[i]) {
        fprintf(stderr, "gate: n-grams differ for message %zu\n", i);
        d.ok = false;
      }
    }
    for (size_t i = 0; i + 1 < d.vectors.size() && d.ok; i += 13) {
      double a = d.vectors[i].DotProduct(d.vectors[i + 1]), b = HashDot(d.hashes[i], d.hashes[i + 1]);
      double c = d.vectors[i].DotProduct(d.model), e = HashDot(d.hashes[i], d.modelHash);
      if (fabs(a - b) > 1e-9 * (1 + fabs(a)) || fabs(c - e) > 1e-9 * (1 + fabs(c))) {
        fprintf(stderr, "gate: dot products differ for message %zu\n", i);
        d.ok = false;
      }
    }
    // The index gives the merge's bits.
    for (size_t i = 0; i < d.vectors.size() && d.ok; ++i)
      if (d.modelIndex->DotProduct(d.vectors[i]) != d.model.DotProduct(d.vectors[i])) {
        fprintf(stderr, "gate: the index's dot product differs for message %zu\n", i);
        d.ok = false;
      }
    fprintf(stderr, "model index %zu bytes\n", d.modelIndex->GetByteSize());
    fprintf(stderr, "%zu messages, %zu bytes; model vector %u entries\n", texts.size(), all.size(),
            d.model.GetCount());
    return d;
  }();
  return d;
}

bool Ready(benchmark::State& state) {
  if (!Data().ok) {
    state.SkipWithError("no corpus (run tools/fetch-corpora.sh) or the gate failed");
    return false;
  }
  return true;
}

void NGramCreateOurs(benchmark::State& state) {
  if (!Ready(state)) return;
  CNGramsVector v(kN);
  for (auto _ : state)
    for (const std::string& t : Texts()) {
      v.Create(kN, t.data(), static_cast<DWORD>(t.size()), DefaultNextStopWord);
      benchmark::DoNotOptimize(v.GetCount());
    }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes()));
}

void NGramCreateHash(benchmark::State& state) {
  if (!Ready(state)) return;
  for (auto _ : state)
    for (const std::string& t : Texts()) {
      HashVector h = HashNGrams(t);
      benchmark::DoNotOptimize(h.size());
    }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes()));
}

void DotMsgMsgOurs(benchmark::State& state) {
  if (!Ready(state)) return;
  const tag_DATA& d = Data();
  for (auto _ : state) {
    double s = 0;
    for (size_t i = 0; i + 1 < d.vectors.size(); ++i) s += d.vectors[i].DotProduct(d.vectors[i + 1]);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (d.vectors.size() - 1)));
}

void DotMsgMsgHash(benchmark::State& state) {
  if (!Ready(state)) return;
  const tag_DATA& d = Data();
  for (auto _ : state) {
    double s = 0;
    for (size_t i = 0; i + 1 < d.hashes.size(); ++i) s += HashDot(d.hashes[i], d.hashes[i + 1]);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (d.hashes.size() - 1)));
}

void DotMsgModelOurs(benchmark::State& state) {
  if (!Ready(state)) return;
  const tag_DATA& d = Data();
  for (auto _ : state) {
    double s = 0;
    for (const CNGramsVector& v : d.vectors) s += d.model.DotProduct(v);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.vectors.size()));
}

void DotMsgModelIndex(benchmark::State& state) {
  if (!Ready(state)) return;
  const tag_DATA& d = Data();
  for (auto _ : state) {
    double s = 0;
    for (const CNGramsVector& v : d.vectors) s += d.modelIndex->DotProduct(v);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.vectors.size()));
}

void DotMsgModelHash(benchmark::State& state) {
  if (!Ready(state)) return;
  const tag_DATA& d = Data();
  for (auto _ : state) {
    double s = 0;
    for (const HashVector& h : d.hashes) s += HashDot(d.modelHash, h);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * d.hashes.size()));
}

}  // namespace

BENCHMARK(NGramCreateOurs)->Name("NGramCreate/ours/train")->Unit(benchmark::kMillisecond);
BENCHMARK(NGramCreateHash)->Name("NGramCreate/unordered_map/train")->Unit(benchmark::kMillisecond);
BENCHMARK(DotMsgMsgOurs)->Name("DotMsgMsg/ours/train")->Unit(benchmark::kMillisecond);
BENCHMARK(DotMsgMsgHash)->Name("DotMsgMsg/unordered_map/train")->Unit(benchmark::kMillisecond);
BENCHMARK(DotMsgModelOurs)->Name("DotMsgModel/ours/train")->Unit(benchmark::kMillisecond);
BENCHMARK(DotMsgModelIndex)->Name("DotMsgModel/index/train")->Unit(benchmark::kMillisecond);
BENCHMARK(DotMsgModelHash)->Name("DotMsgModel/unordered_map/train")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
