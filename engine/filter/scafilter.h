// CScaFilter: the message filter of a spam test. It records which actions
// the scripts took and computes the classifier's spam value of its message
// once, for the x_spamtest test and the score alike. SpamTestMessage is the
// road of one spam test over a parsed message: the enabled scripts of the
// catalogue first, then, when none acted, the classifier.
//
//   const char* dataDir = "/data";                 // Qor.bin, the script catalogue
//   const char* tempDir = "/tmp";
//   CScaModule module(dataDir, tempDir, nullptr);
//   CRfc822Message message;                       // parsed whole (scope 3)
//   int32_t score = 0;
//   SQorCategoryScore categories;
//   SpamTestMessage(module, message, 0, 0, &score, &categories);   // or throws
//   // the classifier road alone, as the scripts' x_spamtest test takes it:
//   CScaFilter filter(module.GetMailClassifier());
//   HRESULT hr = filter.SetMessage(&message, nullptr);
//   double spam = filter.XSpamTest();             // extracted and scored once
//   double money = filter.CategoryTest(36);       // same features; DBL_MAX: none
//
// Scores: a script that discarded the message gives 1000 (categories
// -1000, but 1000 at the category of the last script run), any other
// action -1000 (categories QOR_NO_SCORE); the flags are those the last
// script run left. Otherwise the spam value (Misc::ConvertScore) is the
// score, and the categories are scored only when it is greater than the
// threshold (QOR_NO_SCORE for a category without a classifier).
// Scripts run in catalogue order when enabled and not above the engine's
// version; a script that cannot be fetched or fails is passed over; one
// that rejected, discarded or stopped ends the list.
//
// Failures are thrown (scaerror.h): the engine's memory exception (code 5
// "Not enough memory") when the filter cannot be set up for the message, 9
// "Failed to get script list.", 10 "Failed to extract mail features." (the
// extractor's code as detail; the next XSpamTest tries again), 10 "Failed
// to classify spam.". The score and the categories are written only on
// success.
//
// Threads: a filter belongs to one spam test; the classifier locks itself.
#ifndef TELSOR_FILTER_SCAFILTER_H
#define TELSOR_FILTER_SCAFILTER_H

#include "classify/mailclassifier.h"
#include "classify/mailfeatures.h"
#include "filter/msgfilter.h"
#include "filter/scamodule.h"
#include "foundation/wintypes.h"
#include "include/qorengine.h"
#include "mime/message.h"

namespace telsor {

class CScaFilter : public CMsgFilter {
 public:
  explicit CScaFilter(const CMailClassifier& classifier);
  ~CScaFilter() override;

  void ResetActionFlags();
  bool IsAnyActionFired() const;
  bool IsDiscarded() const { return m_bDiscard; }
  // Reject, discard or stop.
  bool IsFinalActionTaken() const { return m_bReject || m_bDiscard || m_bStop; }

  [[nodiscard]] HRESULT ActionRedirect(SIEVE_STRINGS targets) override;
  [[nodiscard]] HRESULT ActionReject(const char* text) override;
  [[nodiscard]] HRESULT ActionFileinto(SIEVE_STRINGS targets) override;
  [[nodiscard]] HRESULT ActionDiscard() override;
  [[nodiscard]] HRESULT ActionKeep() override;
  void ActionStop() override;
  // The spam value of the bound message (see above).
  double XSpamTest() override;
  // One category classifier's value over the same features; DBL_MAX when
  // there is none or the spam value cannot be had.
  double CategoryTest(ULONG category);

 private:
  const CMailClassifier& m_classifier;
  CMailFeatureExtractor m_extractor;
  bool m_bScoreComputed;
  double m_dSpamValue;
  bool m_bFileinto;
  bool m_bReject;
  bool m_bDiscard;
  bool m_bRedirect;
  bool m_bKeep;
  bool m_bStop;
};

// The spam test of a message parsed whole; reserved is not read.
void SpamTestMessage(CScaModule& module, CRfc822Message& message, int32_t threshold, uintptr_t reserved,
                     int32_t* score, SQorCategoryScore* categories);

}  // namespace telsor

#endif  // TELSOR_FILTER_SCAFILTER_H
