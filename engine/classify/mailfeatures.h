// What the mail classifier reads of one message: the 25 features (each 1.0
// or 0.0), the unit-length 5-gram vector of the message's clean text and
// that text itself. The feature extractor fills these members from a parsed
// message; a host or a test may also fill them directly.
//
//   CMailFeatureExtractor taken;
//   taken.features = CRealVector(25);
//   taken.features.SetAt(19, 1.0);
//   taken.text = "one two three four five six";
//   taken.ngrams = CNGramsVector(5, taken.text.c_str(), taken.text.GetLength(), DefaultNextStopWord);
//   double spam = classifier.ClassifySpam(taken, nullptr);
#ifndef TELSOR_CLASSIFY_MAILFEATURES_H
#define TELSOR_CLASSIFY_MAILFEATURES_H

#include "classify/ngramsvector.h"
#include "classify/realvector.h"
#include "foundation/tstring.h"

namespace telsor {

class CMailFeatureExtractor {
 public:
  CMailFeatureExtractor() : ngrams(5) {}

  CRealVector features;  // 25 values, 1.0 for a present feature
  CNGramsVector ngrams;  // of text, n = 5, at unit length
  TSTRING text;          // the clean text the n-grams were made from
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_MAILFEATURES_H
