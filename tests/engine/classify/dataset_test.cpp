// Data sets: the cursor, the Gram builders against kernel values computed
// pair by pair, and the file set over real directories.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "classify/dataset.h"
#include "classify/kernel.h"
#include "classify/matrix.h"
#include "classify/textkernel.h"
#include "common/tempdir.h"
#include "foundation/errorroad.h"
#include "foundation/exception.h"
#include "foundation/logsystem.h"
#include "foundation/results.h"

using namespace telsor;
using telsor_test::TempDir;

namespace {

// A set in memory: vectors, texts and labels by record; counts the reads.
class CMemorySet : public CTextDataSet {
 public:
  CMemorySet(std::vector<CRealVector> vectors, std::vector<std::string> texts, std::vector<short> labels)
      : m_vectors(std::move(vectors)), m_texts(std::move(texts)), m_labels(std::move(labels)) {
    m_nRecords = static_cast<ULONG>(m_labels.size());
    for (short y : m_labels) ++(y > 0 ? m_nPositive : m_nNegative);
  }
  void ReadRecord(ULONG i) override {
    reads.push_back(i);
    m_label.SetAt(0, m_labels[i]);
    if (i < m_vectors.size()) m_current = m_vectors[i];
    ReadText(i);
  }
  short GetClassLabel(ULONG i) const override { return m_labels[i]; }
  void ReadText(ULONG i) override { m_text = i < m_texts.size() ? TSTRING(m_texts[i]) : TSTRING(); }

  std::vector<ULONG> reads;
  std::vector<CRealVector> m_vectors;
  std::vector<std::string> m_texts;
  std::vector<short> m_labels;
};

CMemorySet Sized(ULONG n) { return CMemorySet({}, {}, std::vector<short>(n, 1)); }

// The OS error of the file exception that fn throws, -1 when none.
template <class Fn>
LONG FileErrorOf(Fn fn) {
  try {
    fn();
  } catch (CFileException* e) {
    LONG code = e->m_lOsError;
    e->Delete();
    return code;
  } catch (...) {
    ResultOfCurrentException();
    return -2;
  }
  return -1;
}

std::vector<std::string>* g_lines = nullptr;
void Collect(DWORD level, const char* text) {
  if (g_lines != nullptr && level == 16) g_lines->push_back(text);
}

struct LogCapture {
  std::vector<std::string> lines;
  DWORD oldMask;
  LogCapture() {
    g_lines = &lines;
    OpenLogSystem(1);
    oldMask = SetLogLevel(16);
    SetExternReportEvent(Collect);
  }
  ~LogCapture() {
    SetExternReportEvent(nullptr);
    SetLogLevel(oldMask);
    CloseLogSystem();
    g_lines = nullptr;
  }
};

}  // namespace

TEST(DataSetCursor, EmptySetReadsNothingAndRefusesEveryPosition) {
  CMemorySet set = Sized(0);
  EXPECT_TRUE(set.IsBOF() && set.IsEOF());
  set.MoveFirst();
  set.MoveNext();
  set.MoveLast();
  set.Move(3);
  set.Move(-3);
  EXPECT_TRUE(set.IsBOF() && set.IsEOF());
  EXPECT_TRUE(set.reads.empty());
  EXPECT_EQ(FileErrorOf([&] { set.SetAbsolutePosition(0); }), 1413);
}

TEST(DataSetCursor, MovesStopAtTheEndsAndReadWhereTheyLand) {
  struct Case {
    ULONG from;
    LONG by;
    ULONG to;
  } cases[] = {{1, -3, 0}, {1, 10, 4}, {4, -2, 2}, {0, 0, 0}, {2, 1, 3}, {3, -1, 2}};
  for (const Case& c : cases) {
    CMemorySet set = Sized(5);
    set.SetAbsolutePosition(c.from);
    set.reads.clear();
    set.Move(c.by);
    EXPECT_EQ(set.GetAbsolutePosition(), c.to) << c.from << " by " << c.by;
    EXPECT_EQ(set.reads, std::vector<ULONG>{c.to});
    EXPECT_FALSE(set.IsBOF() || set.IsEOF());
  }
}

TEST(DataSetCursor, NextFromTheLastRecordSetsEofOnce) {
  CMemorySet set = Sized(3);
  set.MoveLast();
  set.reads.clear();
  set.MoveNext();
  EXPECT_TRUE(set.IsEOF());
  EXPECT_FALSE(set.IsBOF());
  EXPECT_EQ(set.GetAbsolutePosition(), 3u);
  set.MoveNext();
  EXPECT_EQ(set.GetAbsolutePosition(), 3u);
  EXPECT_TRUE(set.reads.empty());
  EXPECT_EQ(FileErrorOf([&] { set.SetAbsolutePosition(3); }), 1413);
  set.MoveFirst();
  set.MovePrev();
  EXPECT_TRUE(set.IsBOF());
  EXPECT_EQ(set.GetAbsolutePosition(), 0u);
  EXPECT_EQ(set.reads, std::vector<ULONG>{0});
}

TEST(MetricGram, BlockSizeFromMemoryNeverDividesByZero) {
  struct Case {
    ULONG n, count;
    DWORD memory;
    ULONG expected;
  } cases[] = {
      {100, 10, 8 * 10 * 5 * 7, 7},  // a fifth of memory holds 7 vectors
      {100, 10, 8 * 10 * 4, 2},      // fewer than 5 vectors: still 2 rows
      {3, 10, 0xFFFFFFFFu, 3},       // never more than the set
      {50, 0, 1000, 50},             // zero-length vectors: all of them at once
      {0, 0, 0, 0},                  // an empty set
  };
  for (const Case& c : cases)
    EXPECT_EQ(CMetricDataSet::MetricCacheSize(c.n, c.count, c.memory), c.expected) << c.n << " " << c.count;
}

TEST(MetricGram, EveryElementIsTheKernelOfItsPair) {
  std::vector<CRealVector> vectors;
  for (int i = 0; i < 7; ++i) {
    double v[3] = {1.0 * i, 2.0 - i, 0.5 * i * i};
    vectors.emplace_back(v, 3);
  }
  vectors[3] = CRealVector(3);  // the zero vector: 1 on its diagonal
  CMemorySet set(vectors, {}, std::vector<short>(7, -1));
  CPolynomialKernel kernel(2, 1.0, 0.0);
  CMemMatrix gram;
  set.CreateMetricKernelMatrix(gram, kernel);
  ASSERT_EQ(gram.GetRowCount(), 7u);
  ASSERT_EQ(gram.GetColumnCount(), 7u);
  for (ULONG i = 0; i < 7; ++i)
    for (ULONG j = 0; j < 7; ++j) {
      const double expected = i == 3 && j == 3 ? 1.0 : kernel.Evaluate(vectors[i], vectors[j]);
      EXPECT_EQ(gram.GetAt(i, j), expected) << i << "," << j;
    }
  EXPECT_TRUE(set.IsEOF());
}

TEST(MetricGram, EmptySetAndZeroLengthVectors) {
  CMemorySet none = Sized(0);
  CMemMatrix gram(2, 2);
  none.CreateMetricKernelMatrix(gram, CDotProductKernel());
  EXPECT_EQ(gram.GetRowCount(), 0u);

  CMemorySet empty(std::vector<CRealVector>(4), {}, std::vector<short>(4, 1));
  empty.CreateMetricKernelMatrix(gram, CDotProductKernel());
  ASSERT_EQ(gram.GetRowCount(), 4u);
  for (ULONG i = 0; i < 4; ++i)
    for (ULONG j = 0; j < 4; ++j) EXPECT_EQ(gram.GetAt(i, j), i == j ? 1.0 : 0.0);
}

// The block walk with a byte budget: record i's item weighs i + 1 bytes and
// eval is deliberately not symmetric, so every element shows which item came
// first. Whatever the blocks, an element is eval(later record, earlier one)
// and each block re-reads only the records after it.
class CBudgetSet : public CMemorySet {
 public:
  explicit CBudgetSet(ULONG n) : CMemorySet({}, {}, std::vector<short>(n, 1)) {}
  std::vector<std::string> Build(CMemMatrix& gram, ULONG cacheSize, ULONGLONG budget) {
    LogCapture log;
    BuildGramMatrix<ULONG>(
        gram, cacheSize, budget, [this]() { return GetAbsolutePosition(); },
        [](ULONG a, ULONG b) { return 1000.0 * a + b; }, [](ULONG i) { return i + 1ULL; });
    std::vector<std::string> processed;
    for (const std::string& line : log.lines)
      if (line.rfind("Processed", 0) == 0) processed.push_back(line);
    return processed;
  }
};

TEST(GramBlocks, ByteBudgetEndsBlocksWithoutChangingTheMatrix) {
  struct Case {
    ULONG cacheSize;
    ULONGLONG budget;
    std::vector<std::string> processed;
    size_t reads;
  } cases[] = {
      {9, ~0ULL, {"Processed 0 rows", "Processed 9 rows"}, 9},
      // Blocks close once they hold 6 bytes: {0,1,2}, {3,4}, {5}, ... {8}.
      {9, 6, {"Processed 0 rows", "Processed 3 rows", "Processed 5 rows", "Processed 6 rows", "Processed 7 rows",
              "Processed 8 rows", "Processed 9 rows"}, 9 + 6 + 4 + 3 + 2 + 1},
      {4, ~0ULL, {"Processed 0 rows", "Processed 4 rows", "Processed 8 rows", "Processed 9 rows"}, 9 + 5 + 1},
      {9, 0, {"Processed 0 rows", "Processed 1 rows", "Processed 2 rows", "Processed 3 rows", "Processed 4 rows",
              "Processed 5 rows", "Processed 6 rows", "Processed 7 rows", "Processed 8 rows", "Processed 9 rows"},
       9 + 8 + 7 + 6 + 5 + 4 + 3 + 2 + 1},
  };
  for (const Case& c : cases) {
    CBudgetSet set(9);
    set.reads.clear();
    CMemMatrix gram;
    EXPECT_EQ(set.Build(gram, c.cacheSize, c.budget), c.processed) << c.budget;
    EXPECT_EQ(set.reads.size(), c.reads) << c.budget;
    ASSERT_EQ(gram.GetRowCount(), 9u);
    for (ULONG i = 0; i < 9; ++i)
      for (ULONG j = 0; j < 9; ++j) {
        const double expected = i == 0 && j == 0 ? 1.0 : 1000.0 * std::max(i, j) + std::min(i, j);
        EXPECT_EQ(gram.GetAt(i, j), expected) << i << "," << j << " budget " << c.budget;
      }
  }
}

// 450 texts run in blocks of 200, 200 and 50; every element is the weighted
// n-gram dot product of its pair, computed here pair by pair.
TEST(TextGram, BlocksOfTwoHundredMatchThePairwiseKernel) {
  std::vector<std::string> texts;
  std::vector<short> labels;
  for (int i = 0; i < 450; ++i) {
    texts.push_back("word" + std::to_string(i % 37) + " shared text " + std::to_string(i % 11) + " tail");
    labels.push_back(i % 3 == 0 ? 1 : -1);
  }
  CMemorySet set({}, texts, labels);
  CNGramsKernel kernel(5);
  CSymMemMatrix gram;
  std::vector<std::string> processed;
  {
    LogCapture log;
    set.CreateTextKernelMatrix(gram, &kernel);
    for (const std::string& line : log.lines)
      if (line.rfind("Processed", 0) == 0) processed.push_back(line);
  }
  EXPECT_EQ(processed, (std::vector<std::string>{"Processed 0 rows", "Processed 200 rows", "Processed 400 rows",
                                                  "Processed 450 rows"}));
  const double wPos = log2(450.0 / 150.0), wNeg = log2(450.0 / 300.0);
  for (ULONG i = 0; i < 450; i += 7)
    for (ULONG j = 0; j < 450; j += 11) {
      CNGramsVector a(5, texts[i].c_str(), static_cast<DWORD>(texts[i].size()), DefaultNextStopWord);
      CNGramsVector b(5, texts[j].c_str(), static_cast<DWORD>(texts[j].size()), DefaultNextStopWord);
      const double expected = (labels[i] > 0 ? wPos : wNeg) * (labels[j] > 0 ? wPos : wNeg) * a.DotProduct(b);
      EXPECT_NEAR(gram.GetAt(i, j), expected, 1e-5 * expected) << i << "," << j;
    }
}

TEST(TextGram, ClassWeightsFavourTheRarerClass) {
  EXPECT_DOUBLE_EQ(CTextDataSet::ClassWeight(100, 25), 2.0);
  EXPECT_NEAR(CTextDataSet::ClassWeight(100, 75), 0.415037, 1e-6);
  EXPECT_DOUBLE_EQ(CTextDataSet::ClassWeight(100, 50), 1.0);
  EXPECT_DOUBLE_EQ(CTextDataSet::ClassWeight(100, 0), 1.0);
}

// An empty text has the zero vector: 1 on its diagonal, 0 elsewhere, before
// and after normalisation (no 0/0).
TEST(TextGram, EmptyTextGetsOneOnItsDiagonalAndZeroElsewhere) {
  CMemorySet set({}, {"some words of text", "", "more words of text"}, {1, -1, -1});
  CNGramsKernel kernel(5);
  CSymMemMatrix gram;
  set.CreateTextKernelMatrix(gram, &kernel);
  gram.Align();
  for (ULONG j = 0; j < 3; ++j) {
    EXPECT_EQ(gram.GetAt(1, j), j == 1 ? 1.0 : 0.0);
    EXPECT_EQ(gram.GetAt(j, j), 1.0);
  }
  EXPECT_GT(gram.GetAt(0, 2), 0.0);
  EXPECT_LT(gram.GetAt(0, 2), 1.0);
}

TEST(TextGram, KernelsWithoutVectorsAreRefused) {
  CMemorySet set({}, {"a b", "c d"}, {1, -1});
  CMemMatrix gram(1, 1);
  EXPECT_EQ(ResultOf([&] { set.CreateTextKernelMatrix(gram, nullptr); }), E_POINTER);
  EXPECT_EQ(gram.GetRowCount(), 1u);  // untouched
  CBOWKernel bow(2, 1.0);
  EXPECT_EQ(ResultOf([&] { set.CreateTextKernelMatrix(gram, &bow); }), E_NOTIMPL);
  CSubstringKernel sub(2, 1.0);
  EXPECT_EQ(ResultOf([&] { set.CreateTextKernelMatrix(gram, &sub); }), E_NOTIMPL);
}

namespace {

void Put(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  telsor_test::WriteFileBytes(path, text);
}

// name -> label of every record of an open set.
std::map<std::string, short> Records(const CFileDataSet& set) {
  std::map<std::string, short> out;
  for (ULONG i = 0; i < set.GetRecordCount(); ++i) out[set.GetFNameByIndex(i).c_str()] = set.GetClassLabel(i);
  return out;
}

}  // namespace

TEST(FileDataSet, ListsLabelsAndReadsBothDirectories) {
  TempDir dir;
  for (const char* n : {"a", "b", "c"}) Put(dir / (std::string("ham/") + n), std::string("ham ") + n);
  Put(dir / "spam/x", "spam x");
  Put(dir / "spam/sub/y", "spam y");
  CFileDataSet set;
  set.Open((dir / "ham").c_str(), (dir / "spam").c_str(), "*");
  ASSERT_EQ(set.GetRecordCount(), 5u);
  EXPECT_EQ(set.GetClassCount(-1), 3u);
  EXPECT_EQ(set.GetClassCount(1), 2u);
  const std::string ham = dir / "ham/", spam = dir / "spam/";
  EXPECT_EQ(Records(set), (std::map<std::string, short>{
                              {ham + "a", -1}, {ham + "b", -1}, {ham + "c", -1}, {spam + "x", 1}, {spam + "sub/y", 1}}));
  EXPECT_EQ(set.GetAbsolutePosition(), 0u);
  EXPECT_FALSE(set.IsBOF() || set.IsEOF());
  // Record 0's text is loaded; every record's text is its file.
  for (set.MoveFirst(); !set.IsEOF(); set.MoveNext()) {
    const ULONG i = set.GetAbsolutePosition();
    EXPECT_EQ(std::string(set.GetText().c_str()), telsor_test::ReadFileBytes(set.GetFNameByIndex(i).c_str()));
    EXPECT_EQ(set.GetLabel()[0], set.GetClassLabel(i));
  }
  set.Close();
  EXPECT_EQ(set.GetRecordCount(), 0u);
  EXPECT_TRUE(set.IsBOF() && set.IsEOF());
  EXPECT_EQ(set.GetClassCount(1), 0u);
}

TEST(FileDataSet, MaskSelectsFilesAndSubdirectories) {
  TempDir dir;
  Put(dir / "neg/one.txt", "1");
  Put(dir / "neg/two.eml", "2");
  Put(dir / "neg/in.txt/three.txt", "3");  // a matching subdirectory
  Put(dir / "neg/out/four.txt", "4");      // a subdirectory the mask skips
  CFileDataSet set;
  set.Open((dir / "neg").c_str(), "", "*.TXT");
  const std::string neg = dir / "neg/";
  EXPECT_EQ(Records(set), (std::map<std::string, short>{{neg + "one.txt", -1}, {neg + "in.txt/three.txt", -1}}));
  EXPECT_EQ(set.GetClassCount(1), 0u);
}

TEST(FileDataSet, SameSeedSameOrder) {
  TempDir dir;
  for (int i = 0; i < 20; ++i) Put(dir / ("p/" + std::to_string(i)), "x");
  std::vector<std::string> first, second;
  CFileDataSet set;
  srand(7);
  set.Open("", (dir / "p").c_str(), "*");
  for (ULONG i = 0; i < set.GetRecordCount(); ++i) first.push_back(set.GetFNameByIndex(i).c_str());
  srand(7);
  set.Open("", (dir / "p").c_str(), "*");
  for (ULONG i = 0; i < set.GetRecordCount(); ++i) second.push_back(set.GetFNameByIndex(i).c_str());
  EXPECT_EQ(first.size(), 20u);
  EXPECT_EQ(first, second);
  std::vector<std::string> sorted = first;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NE(first, sorted);  // shuffled
}

TEST(FileDataSet, BadDirectoriesAndFilesGiveTheirErrors) {
  TempDir dir;
  Put(dir / "ok/a", "a");
  std::filesystem::create_directories(dir / "empty");
  CFileDataSet set;
  EXPECT_EQ(FileErrorOf([&] { set.Open((dir / "missing").c_str(), (dir / "ok").c_str(), "*"); }), 3);
  EXPECT_EQ(FileErrorOf([&] { set.Open((dir / "ok").c_str(), (dir / "missing").c_str(), "*"); }), 3);
  // Empty directories give an empty set.
  set.Open((dir / "empty").c_str(), (dir / "empty").c_str(), "*");
  EXPECT_EQ(set.GetRecordCount(), 0u);
  EXPECT_TRUE(set.IsBOF() && set.IsEOF());
  // A file gone after listing: its error when its record is reached.
  Put(dir / "ok/b", "b");
  set.Open((dir / "ok").c_str(), "", "*");
  ASSERT_EQ(set.GetRecordCount(), 2u);
  const ULONG other = 1;
  ASSERT_EQ(unlink(set.GetFNameByIndex(other).c_str()), 0);
  EXPECT_EQ(FileErrorOf([&] { set.SetAbsolutePosition(other); }), 2);
  EXPECT_EQ(set.GetAbsolutePosition(), other);
}
