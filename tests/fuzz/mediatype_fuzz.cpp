// Content-Type values from untrusted bytes: parsing never reads past the
// value, gives the same answer twice, and the first boundary and name
// parameters are what GetBoundary and GetName report.
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "mime/mediatype.h"

using namespace telsor;

namespace {

bool Same(const TSTRING& a, const TSTRING& b) {
  return a.GetLength() == b.GetLength() && memcmp(a.c_str(), b.c_str(), static_cast<size_t>(a.GetLength())) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) return 0;
  CRfc2045ContentMediaType ct;
  if (ct.Parse(data, static_cast<ULONG>(size)) != S_OK) abort();
  TSTRING type = ct.GetMediaType();
  int count = ct.GetParameters().GetCount();
  TSTRING boundary = ct.GetBoundary(), name = ct.GetName();
  void* b = FindAttribute("boundary", ct.GetParameters());
  if (b == nullptr ? !boundary.IsEmpty() : !Same(ct.GetParameters().GetAt(b).GetValue(), boundary)) abort();
  // At most one "name" parameter.
  int names = 0;
  for (void* p = ct.GetParameters().GetHeadPosition(); p != nullptr;) {
    if (lstrcmpiA(ct.GetParameters().GetNext(p).GetAttribute(), "name") == 0) ++names;
  }
  if (names > 1) abort();
  if (ct.Parse(data, static_cast<ULONG>(size)) != S_OK) abort();
  if (!Same(type, ct.GetMediaType()) || count != ct.GetParameters().GetCount()) abort();
  if (!Same(name, ct.GetName())) abort();
  return 0;
}
