// Real-vector records from untrusted bytes: a load either fails with a code
// and leaves an empty vector (or the old one when even the count is
// missing), or gives a vector that writes back exactly the bytes it read.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "classify/realvector.h"
#include "common/teststream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CTestStream in(bytes);
  double old[2] = {1, 2};
  telsor::CRealVector v(old, 2);
  HRESULT hr = v.Serialize(&in, 0);
  if (hr != S_OK) {
    if (hr == S_FALSE || SUCCEEDED(hr)) abort();
    if (size >= 4 && !v.IsEmpty()) abort();
    return 0;
  }
  CTestStream out;
  if (v.Serialize(&out, 1) != S_OK) abort();
  if (out.str() != bytes.substr(0, in.pos)) abort();
  double sum = 0;
  for (DWORD i = 0; i < v.GetSize(); ++i) sum += v[i];
  telsor::CRealVector copy = v;
  if (!(copy == v)) abort();
  return sum == 12345.678 ? 1 : 0;
}
