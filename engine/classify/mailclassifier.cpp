// The mail classifier: metric, text classifiers and their data files.
#include "classify/mailclassifier.h"

#include <float.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "foundation/bufferedwriter.h"
#include "foundation/logsystem.h"
#include "foundation/win32.h"
#include "mime/mimehelpers.h"

namespace telsor {

namespace {

struct MetricRow {
  DWORD feature;
  double weight;
};

const MetricRow kMetric[CMailClassifier::FEATURE_COUNT] = {
    {0, 0.3105},   {1, 0.8734},   {2, 0.0249},  {3, -2.3858}, {4, -1.5302},  {5, 1.4663},  {6, 0.6491},
    {7, 0.8195},   {8, 1.1068},   {9, -0.5468}, {10, 3.3034}, {11, 1.2919},  {12, 0.7432}, {13, 1.1774},
    {14, -0.1479}, {15, 0.1997},  {16, 0.7012}, {17, -0.451}, {18, 2.3972},  {19, 10.0},   {20, 0.8147},
    {21, -0.7837}, {22, -0.1386}, {23, 0.0},    {24, 0.6535},
};
const double kBias = -0.62;
const double kScale = 0.2;
const ULONG kMinWords = 5;

class ReadLock {
 public:
  explicit ReadLock(CRWMonitor& m) : m_m(m) { m_m.BeginRead(); }
  ~ReadLock() { m_m.EndRead(); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  CRWMonitor& m_m;
};

class WriteLock {
 public:
  explicit WriteLock(CRWMonitor& m) : m_m(m) { m_m.BeginWrite(); }
  ~WriteLock() { m_m.EndWrite(); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  CRWMonitor& m_m;
};

const DWORD kLogError = 1;

// Loads a data file into classifier; a file that is there but refused is
// logged with its reason. True when it loaded.
bool LoadFile(CExtNGramsTextClassifier& classifier, const char* path) {
  TSTRING why;
  if (classifier.LoadData(path, &why) == S_OK) return true;
  if (!why.IsEmpty()) LogMessage(kLogError, "Classifier file '%s' refused: %s", path, why.c_str());
  return false;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace

bool PrLessCategory(const tag_CATEGORY_MODIFIED_TIME& a, const tag_CATEGORY_MODIFIED_TIME& b) {
  return a.category < b.category;
}

CMailClassifier::CMailClassifier() {}

CMailClassifier::~CMailClassifier() { Empty(); }

HRESULT CMailClassifier::ExtractFeatures(CMailFeatureExtractor& extractor, CRfc822Message& message,
                                         CRfc822Fields*) const {
  return extractor.ExtractFeatures(message);
}

double CMailClassifier::SpamTestMetric(const CRealVector& features, TSTRING& info) const {
  CBufferedWriter writer(4096);
  double sum = 0.0;
  for (const MetricRow& row : kMetric) {
    if (row.feature >= features.GetSize() || features[row.feature] == 0.0) continue;
    TSTRING item;
    item.Format("I%d;", static_cast<int>(row.feature));
    writer += item;
    sum += row.weight;
  }
  TSTRING list = writer.ToString();
  info.append(list.c_str(), list.GetLength());
  return (sum + kBias) * kScale;
}

double CMailClassifier::ClassifySpam(const CMailFeatureExtractor& extractor, TSTRING* result) const {
  TSTRING scratch;
  const double metric = SpamTestMetric(extractor.features, scratch);
  double total = metric;
  if (result != nullptr) {
    scratch.Format("METRIC=%.4G;", metric);
    result->append(scratch.c_str(), scratch.GetLength());
  }
  if (IsWordsCountLess(extractor.text, kMinWords)) {
    if (result != nullptr) result->append("WCNT=0;", -1);
  } else {
    ReadLock lock(m_monitor);
    if (!m_spam.IsEmpty()) {
      CRealVector value = m_spam.EvaluateVector(extractor.ngrams);
      if (value.GetSize() > 0) {
        const double t = value[0];
        total += t;
        if (result != nullptr) {
          scratch.Format("TXT=%.4G;", t);
          result->append(scratch.c_str(), scratch.GetLength());
        }
      }
    }
  }
  if (total == DBL_MAX) return total;
  // A total that is no number (weights from a damaged file) shows no s.
  double x = total * 10;
  if (x >= 10) x = 10;
  if (!(x > 0)) x = 0;
  const int k = static_cast<int>(x);
  if (result != nullptr) {
    scratch.Format("TOTAL=%.4G;%.*s;", total, k, "ssssssssss");
    result->append(scratch.c_str(), scratch.GetLength());
  }
  return total;
}

double CMailClassifier::ClassifyCategory(const CMailFeatureExtractor& extractor, ULONG category,
                                         TSTRING*) const {
  double value = DBL_MAX;
  ReadLock lock(m_monitor);
  auto found = m_categories.find(category);
  if (found != m_categories.end()) {
    CRealVector v = found->second.EvaluateVector(extractor.ngrams);
    if (v.GetSize() > 0) value = v[0];
  }
  return value;
}

void CMailClassifier::LogInfo2MsgHeader(CRfc822Fields& fields, const char* info) const {
  fields.Sort(CRfc822Fields::ORDER_BY_NAME);
  const LONG at = fields.FindFirst("X-KIRSA");
  if (at < 0) {
    fields.Add("X-KIRSA", info == nullptr ? "" : info);
    return;
  }
  CRfc822Field& field = fields[at];
  TSTRING contents = field.GetContents();
  if (info != nullptr) contents.append(info, -1);
  field.PutContents(contents.c_str());
}

void CMailClassifier::LoadData(const char* path) {
  // The spam file is read into a copy outside the lock; the copy replaces
  // the working classifier only when the read succeeded, so a damaged file
  // never leaves a half-read classifier behind.
  try {
    CExtNGramsTextClassifier fresh;
    {
      ReadLock lock(m_monitor);
      fresh = m_spam;
    }
    const FILETIME before = fresh.GetLastWriteTime();
    if (LoadFile(fresh, path) && !SameTime(before, fresh.GetLastWriteTime())) {
      WriteLock lock(m_monitor);
      m_spam = fresh;
    }
  } catch (...) {
    // Whatever went wrong, the working classifier stays.
  }
  TSTRING pattern;
  if (DetermineFNamePattern(path, &pattern) != 0) return;
  LoadCategories(pattern.c_str());
}

DWORD CMailClassifier::DetermineFNamePattern(const char* fileName, TSTRING* pattern) {
  pattern->Release();
  const char* dot = fileName == nullptr ? nullptr : strrchr(fileName, '.');
  if (dot == nullptr) return ERROR_INVALID_PARAMETER;
  *pattern = TSTRING(fileName, static_cast<int>(dot - fileName)) + "_*" + dot;
  return 0;
}

void CMailClassifier::LoadCategories(const char* pattern) {
  // The number stands where the pattern's "*" stands in the file name, so
  // underscores elsewhere in the name do not matter.
  const char* slash = strrchr(pattern, '/');
  const char* base = slash == nullptr ? pattern : slash + 1;
  const char* star = strchr(base, '*');
  if (star == nullptr) return;
  const size_t numberAt = static_cast<size_t>(star - base);

  const TSTRING folder(pattern, static_cast<int>(base - pattern));

  // Found files are loaded by the names they were found under (a file
  // "Qor_033.bin" is category 33 and is read as that file).
  struct Found {
    tag_CATEGORY_MODIFIED_TIME entry;
    TSTRING path;
  };
  std::vector<Found> onDisk;
  WIN32_FIND_DATA found;
  HANDLE find = FindFirstFile(pattern, &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const char* name = found.cFileName;
      DWORD number = 0;
      if (strlen(name) > numberAt) number = static_cast<DWORD>(strtol(name + numberAt, nullptr, 10));
      onDisk.push_back({{number, found.ftLastWriteTime}, folder + name});
    } while (FindNextFile(find, &found));
    FindClose(find);
  }
  std::vector<tag_CATEGORY_MODIFIED_TIME> loaded;
  {
    ReadLock lock(m_monitor);
    for (const auto& entry : m_categories) loaded.push_back({entry.first, entry.second.GetLastWriteTime()});
  }
  std::sort(onDisk.begin(), onDisk.end(),
            [](const Found& a, const Found& b) { return PrLessCategory(a.entry, b.entry); });
  std::sort(loaded.begin(), loaded.end(), PrLessCategory);

  size_t d = 0, l = 0;
  while (d < onDisk.size() || l < loaded.size()) {
    if (l == loaded.size() || (d < onDisk.size() && onDisk[d].entry.category < loaded[l].category)) {
      InstallCategory(onDisk[d].path.c_str(), onDisk[d].entry.category);
      ++d;
    } else if (d == onDisk.size() || loaded[l].category < onDisk[d].entry.category) {
      RemoveActiveCategories(loaded[l++].category);
    } else {
      if (!SameTime(onDisk[d].entry.modified, loaded[l].modified))
        InstallCategory(onDisk[d].path.c_str(), onDisk[d].entry.category);
      ++d;
      ++l;
    }
  }
}

TSTRING CMailClassifier::CategoryFileName(const char* pattern, ULONG category) {
  TSTRING name(pattern);
  const int star = name.Find('*');
  if (star < 0) return name;
  TSTRING number;
  number.Format("%u", static_cast<unsigned>(category));
  return name.Left(star) + number + name.Mid(star + 1);
}

void CMailClassifier::UpdateActiveCategories(const char* pattern, ULONG category) {
  InstallCategory(CategoryFileName(pattern, category).c_str(), category);
}

void CMailClassifier::InstallCategory(const char* path, ULONG category) {
  CExtNGramsTextClassifier fresh;
  if (!LoadFile(fresh, path)) return;
  try {
    WriteLock lock(m_monitor);
    m_categories[category] = fresh;
  } catch (...) {
    // Out of memory: the category stays as it was.
  }
}

void CMailClassifier::RemoveActiveCategories(ULONG category) {
  WriteLock lock(m_monitor);
  m_categories.erase(category);
}

void CMailClassifier::Empty() {
  WriteLock lock(m_monitor);
  m_spam.Empty();
  m_categories.clear();
}

HRESULT CMailClassifier::GetUpdateNumber(const char* fileName, ULONG category, ULONG* number) {
  *number = NO_UPDATE_NUMBER;
  if (category == 0) return CExtNGramsTextClassifier::GetUpdateNumber(fileName, number);
  TSTRING pattern;
  if (DetermineFNamePattern(fileName, &pattern) != 0) return ERROR_INVALID_PARAMETER;
  TSTRING name = CategoryFileName(pattern.c_str(), category);
  return CExtNGramsTextClassifier::GetUpdateNumber(name.c_str(), number);
}

size_t CMailClassifier::GetCategoryCount() const {
  ReadLock lock(m_monitor);
  return m_categories.size();
}

bool CMailClassifier::HasCategory(ULONG category) const {
  ReadLock lock(m_monitor);
  return m_categories.count(category) != 0;
}

ULONG CMailClassifier::GetSpamUpdateNumber() const {
  ReadLock lock(m_monitor);
  return m_spam.GetUpdateNumber();
}

}  // namespace telsor
