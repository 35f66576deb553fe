// CMailClassifier: a message's spam value from its features and its text,
// and one value per loaded category.
//
//   static const char mail[] = "From: a@example.org\r\nSubject: hi\r\n\r\nSee you.\r\n";
//   CMailFeatureExtractor taken;                 // the message's features and n-grams
//   HRESULT hr = taken.ExtractFeatures(mail, sizeof mail - 1, nullptr);
//   if (FAILED(hr)) return hr;
//   CMailClassifier classifier;
//   classifier.LoadData("/data/Qor.bin");        // and /data/Qor_<N>.bin beside it
//   TSTRING verdict;
//   double spam = classifier.ClassifySpam(taken, &verdict);
//   // verdict: "METRIC=-0.124;WCNT=0;TOTAL=-0.124;;"
//   double c33 = classifier.ClassifyCategory(taken, 33, nullptr);  // DBL_MAX: none loaded
//
// The spam value is a fixed linear metric over the 25 features, (sum of the
// weights of the present features - 0.62) x 0.2, plus, for texts of five or
// more words, the spam classifier's value for the message's n-grams. The
// verdict text is "METRIC=%.4G;", then "WCNT=0;" (fewer than five words) or
// "TXT=%.4G;" (a loaded spam classifier), then "TOTAL=%.4G;" and as many
// letters s as ten times the total (0 to 10) before a last ";".
//
// Data files: the spam file (category 0) and category files named after it
// with "_<N>" before the extension ("Qor_33.bin"); each is loaded again only
// when its modification time changes. A file that is there but refused
// (CExtNGramsTextClassifier::LoadData: no regular file, a damaged record, a
// value that is no finite number) never scores and is logged at level 1
// "Error" as "Classifier file '<path>' refused: <reason>". A spam file that
// fails to load leaves the classifier that was working in place (none at
// the first load: the metric alone scores, as without a file); a category
// file that fails is not installed; a category whose file is gone is
// dropped. GetUpdateNumber gives a number only for a file that loads.
//
// Threads: any number may classify while one reloads. Classification holds
// the read lock around the classifiers' use; loading reads files without a
// lock and installs what it read under the write lock.
#ifndef TELSOR_CLASSIFY_MAILCLASSIFIER_H
#define TELSOR_CLASSIFY_MAILCLASSIFIER_H

#include <map>

#include "classify/mailfeatures.h"
#include "classify/ngramsclassifier.h"
#include "classify/realvector.h"
#include "foundation/rwmonitor.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/headerfields.h"

namespace telsor {

// A category's number and the modification time of its file (or of the
// classifier loaded from it).
struct tag_CATEGORY_MODIFIED_TIME {
  DWORD category;
  FILETIME modified;
};
// Orders by category number, ascending.
bool PrLessCategory(const tag_CATEGORY_MODIFIED_TIME& a, const tag_CATEGORY_MODIFIED_TIME& b);

class CMailClassifier {
 public:
  static constexpr ULONG NO_UPDATE_NUMBER = 0xFFFFFFFFu;
  static constexpr int FEATURE_COUNT = 25;

  CMailClassifier();
  ~CMailClassifier();
  CMailClassifier(const CMailClassifier&) = delete;
  CMailClassifier& operator=(const CMailClassifier&) = delete;

  // Runs the extractor over message (the envelope is not used); its result.
  [[nodiscard]] HRESULT ExtractFeatures(CMailFeatureExtractor& extractor, CRfc822Message& message,
                                        CRfc822Fields* envelope) const;
  // The metric of the features; appends "I<index>;" for each present
  // feature to info.
  double SpamTestMetric(const CRealVector& features, TSTRING& info) const;
  // The spam value; appends the verdict text to *result when not null.
  double ClassifySpam(const CMailFeatureExtractor& extractor, TSTRING* result) const;
  // The category classifier's value for the message's n-grams, or DBL_MAX
  // when none is loaded for the category. result is not used.
  double ClassifyCategory(const CMailFeatureExtractor& extractor, ULONG category, TSTRING* result) const;
  // Appends info to the first "X-KIRSA" field of a header block, or adds
  // the field with info as its contents (for hosts).
  void LogInfo2MsgHeader(CRfc822Fields& fields, const char* info) const;

  // Loads or refreshes the spam classifier, then the category classifiers.
  void LoadData(const char* path);
  // The category pattern of a spam file name: "_*" before the extension
  // ("/d/Qor.bin" -> "/d/Qor_*.bin"). ERROR_INVALID_PARAMETER without a '.'.
  static DWORD DetermineFNamePattern(const char* fileName, TSTRING* pattern);
  // Brings the loaded categories in line with the files matching pattern.
  void LoadCategories(const char* pattern);
  // Loads the file of one category and installs it on success.
  void UpdateActiveCategories(const char* pattern, ULONG category);
  void RemoveActiveCategories(ULONG category);
  // Empties the spam classifier and drops every category.
  void Empty();
  // The update number of the spam file (category 0) or of a category file
  // that loads (the whole file is checked); *number is NO_UPDATE_NUMBER on
  // any failure, a refused file too.
  [[nodiscard]] static HRESULT GetUpdateNumber(const char* fileName, ULONG category, ULONG* number);

  // The number of loaded categories and whether one is loaded (for tests
  // and hosts' reports).
  size_t GetCategoryCount() const;
  bool HasCategory(ULONG category) const;
  // The update number of the loaded spam classifier.
  ULONG GetSpamUpdateNumber() const;

 private:
  // The category file name of a pattern: "*" replaced by the number.
  static TSTRING CategoryFileName(const char* pattern, ULONG category);
  // Loads a category file and installs it on success (outside the lock).
  void InstallCategory(const char* path, ULONG category);

  mutable CRWMonitor m_monitor;
  CExtNGramsTextClassifier m_spam;
  std::map<ULONG, CExtNGramsTextClassifier> m_categories;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_MAILCLASSIFIER_H
