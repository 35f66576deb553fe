// Vector-kernel records from untrusted bytes. The first byte picks the
// class; the rest is the record. A load either fails with a code or gives a
// kernel that writes back exactly the bytes it read; evaluating it on
// vectors of any lengths stays inside them.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "classify/kernel.h"
#include "common/teststream.h"

using namespace telsor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* names[] = {"CDotProductKernel", "CPolynomialKernel", "CGaussianKernel", "CSigmoidKernel"};
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  CTestStream in(bytes);
  std::unique_ptr<CKernel> k(static_cast<CKernel*>(GetRTTI(names[data[0] % 4])->CreateObject()));
  HRESULT hr = k->Serialize(&in, 0);
  if (hr != S_OK) {
    if (SUCCEEDED(hr)) abort();
    return 0;
  }
  CTestStream out;
  if (k->Serialize(&out, 1) != S_OK) abort();
  if (out.str() != bytes.substr(0, in.pos)) abort();
  double a[3] = {1, -2, 0.5}, b[1] = {3};
  CRealVector x(a, 3), y(b, 1);
  k->Evaluate(x, y);
  k->Evaluate(y, x);
  k->Evaluate(CRealVector(), x);
  std::unique_ptr<CKernel> c(k->Clone());
  double v1 = k->Evaluate(x, x), v2 = c->Evaluate(x, x);
  if (v1 == v1 && v1 != v2) abort();
  return 0;
}
