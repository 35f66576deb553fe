// The feature extractor over untrusted messages: the bytes are parsed in
// memory with their bodies and extracted. Every feature is 0.0 or 1.0, the
// character-set feature stays 0.0, and the vector is empty or of unit
// length.
#include <math.h>
#include <stdint.h>

#include <cstdlib>

#include "classify/mailfeatures.h"
#include "foundation/results.h"

using namespace telsor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 200000) return 0;
  static CMailFeatureExtractor* extractor = new CMailFeatureExtractor(nullptr);
  CMailFeatureExtractor& x = *extractor;
  if (x.ExtractFeatures(reinterpret_cast<const char*>(data), static_cast<ULONG>(size), nullptr) != S_OK) abort();
  if (x.features.GetSize() != MAIL_FEATURE_COUNT) abort();
  for (DWORD f = 0; f < MAIL_FEATURE_COUNT; ++f) {
    if (x.features[f] != 0.0 && x.features[f] != 1.0) abort();
  }
  if (x.features[MAIL_FEATURE_BAD_CHARSET] != 0.0) abort();
  if (x.ngrams.GetCount() != 0 && fabs(x.ngrams.DotProduct() - 1.0) > 1e-4) abort();
  return 0;
}
