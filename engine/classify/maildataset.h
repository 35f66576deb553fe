// CMailOnFileDataSet: a training set of message files whose training text is
// what the mail feature extractor makes of each message (its clean text:
// Organization, subject, the visible text of the parts), the same text whose
// n-grams the mail classifier scores.
//
//   srand(1);
//   CMailOnFileDataSet set;
//   set.Open("corpus/ham", "corpus/spam", "*");
//   CNGramsTextClassifier spam(5);
//   HRESULT hr = spam.Train(set, 10.0, 0.001, 1e-12);
//   TSTRING text;
//   hr = CMailOnFileDataSet::MessageText("Subject: hi\r\n\r\nbody\r\n", 21, text);  // "hi\r\n\r\n;\r\nbody\r\n"
//
// Each record's bytes are parsed in memory by the set's own parser session
// (contents over 10 MiB go to temporary files in the system's folder). A
// parse failure is thrown as its DWORD code, so training ends with it. Like
// every data set it belongs to one thread.
#ifndef TELSOR_CLASSIFY_MAILDATASET_H
#define TELSOR_CLASSIFY_MAILDATASET_H

#include "classify/mailfeatures.h"
#include "classify/ngramsdataset.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/rfc822parser.h"

namespace telsor {

class CMailOnFileDataSet : public CNGramsOnFileDataSet {
 public:
  explicit CMailOnFileDataSet(WORD n = 5);
  ~CMailOnFileDataSet() override;

  // text: a message file's bytes in, the extractor's text out.
  void PrepareText(TSTRING& text) override;

  // text := the extractor's text of the length bytes of a message. S_OK or
  // the parse's code (text then unchanged).
  [[nodiscard]] static HRESULT MessageText(const char* bytes, ULONG length, TSTRING& text);

 private:
  CMailFeatureExtractor m_extractor;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_MAILDATASET_H
