// N-gram vector records from untrusted bytes: a load either fails with a
// code and leaves an empty vector of the old n-gram length, or gives a vector
// whose entries are strictly ascending, which writes back exactly the bytes
// it read and which every operation handles.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "classify/ngramsvector.h"
#include "common/teststream.h"

using telsor::CNGramsVector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CTestStream in(bytes);
  CNGramsVector v(5, "a message text", 14, telsor::DefaultNextStopWord);
  HRESULT hr = v.Serialize(&in, 0);
  if (hr != S_OK) {
    if (SUCCEEDED(hr) || v.GetCount() != 0 || v.GetLenNGrams() != 5) abort();
    return 0;
  }
  CTestStream out;
  if (v.Serialize(&out, 1) != S_OK) abort();
  if (out.str() != bytes.substr(0, in.pos)) abort();
  WORD n = v.GetLenNGrams();
  for (DWORD i = 1; i < v.GetCount(); ++i)
    if (telsor::CmpNGramsToken(v.GetEntry(i - 1), v.GetEntry(i), &n) >= 0) abort();

  // Operations on the loaded vector, with itself and with a made one.
  CNGramsVector text(n, reinterpret_cast<const char*>(data), static_cast<DWORD>(size),
                     telsor::DefaultNextStopWord);
  double self = v.DotProduct();
  double merged = v.DotProduct(v);
  if (!(self == merged) && self == self) abort();  // equal unless NaN
  v.DotProduct(text);
  text.DotProduct(v);
  v.DotProductThisMinusVec(text);
  v.GaussianKernel(text, 2.0);
  CNGramsVector sum = v + text;
  CNGramsVector diff = v - text;
  sum -= diff;
  CNGramsVector scaled = v;
  scaled *= 0.5;
  CNGramsVector zero = v - v;
  for (DWORD i = 0; i < zero.GetCount(); ++i)
    if (zero.GetWeight(i) == 0.0) abort();  // only NaN weights can remain
  if (v.GetCount() > 0) {
    v.RemoveEntry(0);
    v.Pack();
  }
  return 0;
}
