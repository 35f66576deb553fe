// Classifier records from untrusted bytes: the first byte picks the reader
// (n-gram text classifier, its header alone, or the metric support-vector
// machine); the rest is the record. A load either fails with a code or gives
// a classifier that evaluates texts and vectors, writes a record that reads
// back into the same classifier, and prunes its weights.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "classify/ngramsclassifier.h"
#include "classify/svmachine.h"
#include "common/teststream.h"

using namespace telsor;

namespace {

void TextClassifier(const std::string& bytes, bool headerOnly) {
  CTestStream in(bytes);
  CNGramsTextClassifier c(5);
  HRESULT hr = c.SerializeRead(&in, headerOnly);
  if (hr != S_OK) {
    if (SUCCEEDED(hr)) abort();
    return;
  }
  if (headerOnly) return;
  c.EvaluateText("cheap pills buy now from our online pharmacy");
  c.EvaluateVector(CNGramsVector(5, "abcdefgh", 8, DefaultNextStopWord));
  CTestStream out;
  if (c.SerializeWrite(&out) != S_OK) abort();
  // Read back and written again, the same bytes (weights compared by
  // their bits: a damaged file may hold NaNs).
  CTestStream again(out.str());
  CNGramsTextClassifier back(3);
  if (back.Serialize(&again, 0) != S_OK) abort();
  CTestStream twice;
  if (back.SerializeWrite(&twice) != S_OK || twice.str() != out.str()) abort();
  // Pruning whatever weights were read keeps at most that many of each sign.
  const ULONG keep = static_cast<ULONG>(bytes.size() % 5);
  back.ReduceWeightVector(keep, 0.0);
  if (back.GetWeights().GetCount() > 2 * keep) abort();
  back.EvaluateText("cheap pills buy now from our online pharmacy");
}

void MetricMachine(const std::string& bytes) {
  CTestStream in(bytes);
  CMetricSVMachine m;
  HRESULT hr = m.Serialize(&in, 0);
  double a[4] = {1, -2, 0.5, 3};
  m.EvaluateRealVector(CRealVector(a, 4));
  m.EvaluateRealVector(CRealVector());
  if (hr != S_OK) {
    if (SUCCEEDED(hr)) abort();
    return;
  }
  CTestStream out;
  if (m.Serialize(&out, 1) != S_OK) abort();
  if (out.str() != bytes.substr(0, in.pos)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      TextClassifier(bytes, false);
      break;
    case 1:
      TextClassifier(bytes, true);
      break;
    default:
      MetricMachine(bytes);
      break;
  }
  return 0;
}
