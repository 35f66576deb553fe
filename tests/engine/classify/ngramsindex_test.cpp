// The inverted index of a block of n-gram vectors: every row value is bit
// for bit the pairwise dot product (CNGramsVector::DotProduct, the merge
// walk) of the same two vectors, on real mail at several n-gram lengths and
// on small edge cases; the n-gram set's Gram matrix built through it equals
// the pairwise one.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "classify/matrix.h"
#include "classify/ngramsdataset.h"
#include "classify/ngramsindex.h"
#include "classify/ngramsvector.h"
#include "common/tempdir.h"
#include "foundation/errorroad.h"
#include "foundation/results.h"

using namespace telsor;

namespace {

ULONGLONG Bits(double v) {
  ULONGLONG b;
  memcpy(&b, &v, sizeof b);
  return b;
}

// The first count messages (by name) of a folder of the corpus's training half.
std::vector<std::string> TrainingTexts(const char* group, size_t count) {
  std::vector<std::string> texts;
  const char* corpora = getenv("QOR_CORPORA");
  if (corpora == nullptr) return texts;
  const std::string dir = std::string(corpora) + "/spamassassin/train/" + group;
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& f : std::filesystem::directory_iterator(dir, ec)) names.push_back(f.path().string());
  std::sort(names.begin(), names.end());
  if (names.size() > count) names.resize(count);
  for (const std::string& name : names) texts.push_back(telsor_test::ReadFileBytes(name));
  return texts;
}

// Vectors of the texts, scaled by uneven factors as class weights scale them.
std::vector<CNGramsVector> Vectors(const std::vector<std::string>& texts, WORD n) {
  std::vector<CNGramsVector> out;
  for (size_t i = 0; i < texts.size(); ++i) {
    out.emplace_back(n, texts[i].data(), static_cast<DWORD>(texts[i].size()), DefaultNextStopWord);
    out.back() *= i % 3 == 0 ? 1.0 : i % 3 == 1 ? 1.3219280948873624 : 0.7369655941662062;
  }
  return out;
}

// Loads block[0, inBlock) and checks every Inner value against the pairwise
// dot product (later vector first, as the Gram walk calls it), and every
// Outer value of the vectors after the block; returns how many values were
// not 0.
size_t CheckAgainstPairs(const std::vector<CNGramsVector>& vectors, size_t inBlock) {
  CNGramsIndex index;
  index.Load(vectors.data(), static_cast<ULONG>(inBlock));
  EXPECT_EQ(index.GetCount(), inBlock);
  std::vector<double> row(inBlock + 1);
  size_t nonZero = 0;
  for (ULONG i = 0; i < inBlock; ++i) {
    index.Inner(i, row.data());
    for (ULONG j = 0; j <= i; ++j) {
      EXPECT_EQ(Bits(row[j]), Bits(vectors[i].DotProduct(vectors[j]))) << i << "," << j;
      nonZero += row[j] != 0.0;
    }
    EXPECT_EQ(Bits(row[i]), Bits(vectors[i].DotProduct())) << i;
  }
  for (size_t r = inBlock; r < vectors.size(); ++r) {
    index.Outer(vectors[r], row.data());
    for (ULONG k = 0; k < inBlock; ++k) {
      EXPECT_EQ(Bits(row[k]), Bits(vectors[r].DotProduct(vectors[k]))) << r << "," << k;
      nonZero += row[k] != 0.0;
    }
  }
  return nonZero;
}

}  // namespace

// Real mail of both classes: 5-grams as trained on, the plain merge's
// lengths (3), the eight-byte keys' limit (8) and longer n-grams compared
// byte by byte (12).
TEST(NGramsIndex, RowsAreThePairwiseDotProductsOnRealMail) {
  std::vector<std::string> texts = TrainingTexts("spam-2", 40);
  const std::vector<std::string> ham = TrainingTexts("easy-ham-1", 40);
  if (texts.empty() || ham.empty()) GTEST_SKIP() << "QOR_CORPORA is not set (tools/fetch-corpora.sh)";
  texts.insert(texts.end(), ham.begin(), ham.end());
  for (WORD n : {5, 3, 8, 12}) {
    const std::vector<CNGramsVector> vectors = Vectors(texts, n);
    // Most pairs of real mail share n-grams: the comparison is not of zeros.
    EXPECT_GT(CheckAgainstPairs(vectors, 60), (60u * 61 / 2 + 20 * 60) / 2) << "n=" << n;
  }
}

TEST(NGramsIndex, EdgeCases) {
  const auto make = [](WORD n, const char* text) {
    return CNGramsVector(n, text, static_cast<DWORD>(strlen(text)), nullptr);
  };
  // Empty vectors (no text, too short) among others, repeated n-grams, an
  // n-gram shared by every vector.
  std::vector<CNGramsVector> vectors = {make(4, "abcdabcdxyz"), make(4, ""),       make(4, "abcdefgh"),
                                        make(4, "ab"),          make(4, "zzzzzzzz"), make(4, "xyzabcd"),
                                        make(4, "abcd")};
  CheckAgainstPairs(vectors, vectors.size());
  CheckAgainstPairs(vectors, 3);

  CNGramsIndex index;
  index.Load(vectors.data(), static_cast<ULONG>(vectors.size()));
  // abcd bcda cdab dabc bcdx cdxy dxyz, bcde cdef defg efgh, zzzz, xyza yzab zabc.
  EXPECT_EQ(index.GetNGramCount(), 15u);
  std::vector<double> row(vectors.size(), -1.0);
  // A vector of another length shares nothing with the block.
  index.Outer(make(5, "abcdabcdxyz"), row.data());
  for (double v : row) EXPECT_EQ(v, 0.0);
  // An empty block: no values, and Outer writes nothing.
  index.Load(nullptr, 0);
  EXPECT_EQ(index.GetCount(), 0u);
  EXPECT_EQ(index.GetNGramCount(), 0u);
  index.Outer(vectors[0], row.data());
  // A block of vectors of two lengths is refused (empty vectors have none).
  std::vector<CNGramsVector> mixed = {make(4, "abcdef"), make(5, ""), make(5, "abcdef")};
  EXPECT_EQ(ResultOf([&] { index.Load(mixed.data(), 3); }), E_INVALIDARG);
  EXPECT_EQ(index.GetCount(), 0u);
  EXPECT_EQ(ResultOf([&] { index.Load(mixed.data(), 2); }), S_OK);
}

// The n-gram set's Gram matrix (no kernel) is the pairwise one: every element
// the dot product of the two class-weighted vectors, the later record first,
// and 1 on the diagonal of an empty text.
TEST(NGramsIndex, SetGramMatrixIsThePairwiseOne) {
  telsor_test::TempDir dir;
  std::filesystem::create_directories(dir / "ham");
  std::filesystem::create_directories(dir / "spam");
  std::vector<std::string> texts = TrainingTexts("hard-ham-1", 12);
  const std::vector<std::string> spam = TrainingTexts("spam-1", 8);
  if (texts.empty() || spam.empty()) GTEST_SKIP() << "QOR_CORPORA is not set (tools/fetch-corpora.sh)";
  for (size_t i = 0; i < texts.size(); ++i) telsor_test::WriteFileBytes(dir / ("ham/" + std::to_string(i)), texts[i]);
  for (size_t i = 0; i < spam.size(); ++i) telsor_test::WriteFileBytes(dir / ("spam/" + std::to_string(i)), spam[i]);
  telsor_test::WriteFileBytes(dir / "spam/empty", "");
  CNGramsOnFileDataSet set(5);
  srand(3);
  set.Open((dir / "ham").c_str(), (dir / "spam").c_str(), "*");
  const ULONG n = set.GetRecordCount();
  ASSERT_EQ(n, texts.size() + spam.size() + 1);
  std::vector<CNGramsVector> weighted;
  for (ULONG i = 0; i < n; ++i) {
    set.SetAbsolutePosition(i);
    weighted.push_back(set.GetNGramsVector());
    weighted.back() *= CTextDataSet::ClassWeight(n, set.GetClassCount(set.GetClassLabel(i)));
  }
  CSymMemMatrix gram;
  set.CreateTextKernelMatrix(gram, nullptr);
  ASSERT_EQ(gram.GetRowCount(), n);
  for (ULONG i = 0; i < n; ++i)
    for (ULONG j = 0; j <= i; ++j) {
      double expected = weighted[i].DotProduct(weighted[j]);
      if (i == j && expected == 0.0) expected = 1.0;
      EXPECT_EQ(Bits(gram.GetAt(i, j)), Bits(expected)) << i << "," << j;
    }
}
