// Scoring through the weights' hash table gives the sorted merge's value bit
// for bit: on random vectors of every indexed n-gram length, and on real
// mail against trained and model-sized weights after every call that
// changes a classifier's weights.
#include <gtest/gtest.h>
#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "classify/ngramsclassifier.h"
#include "classify/ngramsdataset.h"
#include "classify/ngramsweightindex.h"
#include "common/tempdir.h"
#include "foundation/results.h"
#include "recordbytes.h"

using namespace telsor;
using telsor_test::TempDir;

namespace {

ULONGLONG Bits(double d) {
  ULONGLONG b;
  memcpy(&b, &d, sizeof b);
  return b;
}

// The merge's value, the oracle.
double MergeDot(const CNGramsVector& w, const CNGramsVector& x) {
  if (w.GetLenNGrams() != x.GetLenNGrams() || w.GetCount() == 0 || x.GetCount() == 0) return 0.0;
  const size_t es = w.GetElemSize();
  return QuickDotProduct(w.GetEntries(), w.GetEntries() + w.GetCount() * es, x.GetEntries(),
                         x.GetEntries() + x.GetCount() * es, w.GetLenNGrams());
}

// A vector of count random n-grams over a small alphabet (so that two such
// vectors share n-grams), with random signed weights.
CNGramsVector RandomVector(std::mt19937& rng, WORD n, DWORD count, const char* alphabet) {
  CNGramsVector v(n);
  const size_t letters = strlen(alphabet);
  std::uniform_real_distribution<double> weight(-2.0, 2.0);
  std::vector<BYTE> gram(n);
  for (DWORD i = 0; i < count; ++i) {
    for (BYTE& b : gram) b = static_cast<BYTE>(alphabet[rng() % letters]);
    v.InsertEntry(weight(rng), gram.data());
  }
  return v;
}

TEST(NGramsWeightIndex, RandomVectorsOfEveryLength) {
  std::mt19937 rng(7);
  // Bytes 0xFF and 0x01 in the alphabet, and the n-gram of n NUL bytes
  // (key 0, which cannot live in a slot) in the weights and the messages.
  const char alphabet[] = "ab\xff\x01";
  const BYTE zeros[8] = {0};
  for (WORD n = 1; n <= 8; ++n) {
    for (DWORD count : {1u, 2u, 50u, 3000u}) {
      CNGramsVector w = RandomVector(rng, n, count, alphabet);
      if (count != 2) w.InsertEntry(1.5, zeros);
      if (n == 8) {
        const BYTE ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        w.InsertEntry(1.5, ones);
      }
      CSharedObjPtr<CNGramsWeightIndex> index = CNGramsWeightIndex::Create(w);
      ASSERT_TRUE(index != nullptr) << n;
      EXPECT_EQ(index->GetCount(), w.GetCount());
      EXPECT_GT(index->GetByteSize(), static_cast<size_t>(w.GetCount()) * 12);
      for (DWORD size : {1u, 10u, 400u, 5000u}) {
        CNGramsVector x = RandomVector(rng, n, size, alphabet);
        if (size != 10) x.InsertEntry(0.25, zeros);
        if (n == 8) {
          const BYTE ones[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
          x.InsertEntry(-0.75, ones);
        }
        EXPECT_EQ(Bits(index->DotProduct(x)), Bits(MergeDot(w, x))) << "n=" << n << " " << count << "/" << size;
      }
      EXPECT_EQ(Bits(index->DotProduct(CNGramsVector(n))), Bits(0.0));
      // Another n-gram length shares nothing.
      EXPECT_EQ(index->DotProduct(RandomVector(rng, n == 8 ? 7 : n + 1, 100, alphabet)), 0.0);
    }
  }
  // Nothing to index: no entries, or n-grams longer than the key.
  EXPECT_TRUE(CNGramsWeightIndex::Create(CNGramsVector(5)) == nullptr);
  EXPECT_TRUE(CNGramsWeightIndex::Create(RandomVector(rng, 9, 100, alphabet)) == nullptr);
}

// Messages of the SpamAssassin training half, sorted by name within each
// group.
std::vector<std::string> TrainingFiles(const char* corpora) {
  std::vector<std::string> files;
  const std::string root = std::string(corpora) + "/spamassassin/train/";
  for (const char* group : {"easy-ham-1", "easy-ham-2", "hard-ham-1", "spam-1", "spam-2"}) {
    std::vector<std::string> names;
    if (DIR* d = opendir((root + group).c_str())) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(root + group + "/" + e->d_name);
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    files.insert(files.end(), names.begin(), names.end());
  }
  return files;
}

// The set of the n-grams of length n of the ham and spam folders in dir.
void OpenSet(CNGramsOnFileDataSet& set, const TempDir& dir) {
  srand(11);
  set.Open((dir / "ham").c_str(), (dir / "spam").c_str(), "*");
}

// Every message scores as w.x - b with w.x from the merge, bit for bit;
// non-empty 5-gram weights are scored through the table.
void ExpectMergeScores(const CNGramsTextClassifier& c, const std::vector<CNGramsVector>& messages,
                       const char* after) {
  EXPECT_EQ(c.GetWeightIndexBytes() > 0, c.GetWeights().GetCount() > 0 && c.GetWeights().GetLenNGrams() == 5)
      << after;
  int wrong = 0;
  for (const CNGramsVector& x : messages) {
    const double dot = x.GetLenNGrams() == c.GetLenNGrams() ? MergeDot(c.GetWeights(), x) : 0.0;
    if (Bits(c.EvaluateVector(x)[0]) != Bits(dot - c.GetB())) ++wrong;
  }
  EXPECT_EQ(wrong, 0) << after;
}

TEST(NGramsWeightIndex, RealMailScoresAsTheMergeAfterEveryChange) {
  const char* corpora = getenv("QOR_CORPORA");
  if (corpora == nullptr) GTEST_SKIP() << "QOR_CORPORA is not set";
  const std::vector<std::string> files = TrainingFiles(corpora);
  ASSERT_GT(files.size(), 1000u);

  // A small training set: 30 ham and 30 spam messages of the half.
  TempDir dir;
  std::filesystem::create_directories(dir / "ham");
  std::filesystem::create_directories(dir / "spam");
  int ham = 0, spam = 0;
  for (const std::string& f : files) {
    const bool isSpam = f.find("/spam-") != std::string::npos;
    int& k = isSpam ? spam : ham;
    if (k >= 30) continue;
    std::filesystem::copy_file(f, dir / ((isSpam ? "spam/" : "ham/") + std::to_string(k++)));
  }

  CNGramsTextClassifier c(5);
  std::vector<CNGramsVector> messages;
  std::string all;
  for (size_t i = 0; i < files.size(); i += 3) {
    const std::string text = telsor_test::ReadFileBytes(files[i]);
    messages.push_back(c.Text2Vector(text));
    all += text;
  }
  messages.push_back(CNGramsVector(5));
  messages.push_back(CNGramsVector(4, "cheap pills buy now", 0xFFFFFFFF, DefaultNextStopWord));

  CNGramsOnFileDataSet set(5);
  OpenSet(set, dir);
  ASSERT_EQ(c.Train(set, 10.0, 1e-3, 1e-12), S_OK);
  ASSERT_GT(c.GetWeights().GetCount(), 1000u);
  ExpectMergeScores(c, messages, "Train");

  c.ReduceWeightVector(500, 0.0);
  ASSERT_GT(c.GetWeights().GetCount(), 0u);
  ASSERT_LE(c.GetWeights().GetCount(), 1000u);
  ExpectMergeScores(c, messages, "ReduceWeightVector");

  // A model-sized vector: every 5-gram of a third of the half.
  CNGramsVector model(5, all.data(), static_cast<DWORD>(all.size()), DefaultNextStopWord);
  model *= 1e-3;
  c.SetWeights(model);
  ASSERT_GT(c.GetWeights().GetCount(), 500000u);
  ExpectMergeScores(c, messages, "SetWeights");

  // Copies share the table and score alike.
  CNGramsTextClassifier copy(c);
  ExpectMergeScores(copy, messages, "copy");

  // Reading a record: the reader's own table.
  std::string record = Stored([&](CTestStream& s) { return c.Serialize(&s, 1); });
  CNGramsTextClassifier read(5);
  read.SetWeights(c.Text2Vector("something else entirely"));
  {
    CTestStream in(record);
    ASSERT_EQ(read.Serialize(&in, 0), S_OK);
  }
  ExpectMergeScores(read, messages, "read");
  // A record cut short in w's entries: whatever w is left, it is what scores.
  {
    CTestStream in(record.substr(0, record.size() - 7));
    EXPECT_NE(read.Serialize(&in, 0), S_OK);
  }
  ExpectMergeScores(read, messages, "failed read");

  // A failing training run empties w on the way: no stale table scores.
  CNGramsOnFileDataSet four(4);
  OpenSet(four, dir);
  EXPECT_EQ(copy.Train(four, 1.0, 1e-3, 1e-12), E_INVALIDARG);
  EXPECT_EQ(copy.GetWeights().GetCount(), 0u);
  ExpectMergeScores(copy, messages, "failed Train");

  c.Empty();
  ExpectMergeScores(c, messages, "Empty");
}

}  // namespace
