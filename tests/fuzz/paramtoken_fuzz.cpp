// The parameter token from any bytes: decryption gives 0, 13 or 87 and
// touches the list only on success; a list read from the bytes as list text
// goes through a token and back unchanged.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "mime/paramtoken.h"

using namespace telsor;

namespace {

bool SameLists(const CRfc2045ParameterList& a, const CRfc2045ParameterList& b) {
  if (a.GetCount() != b.GetCount()) return false;
  void* pa = a.GetHeadPosition();
  void* pb = b.GetHeadPosition();
  while (pa != nullptr) {
    const CRfc2045Parameter& x = a.GetNext(pa);
    const CRfc2045Parameter& y = b.GetNext(pb);
    if (x.GetAttribute().GetLength() != y.GetAttribute().GetLength() ||
        x.GetValue().GetLength() != y.GetValue().GetLength() ||
        memcmp(x.GetAttribute().c_str(), y.GetAttribute().c_str(), static_cast<size_t>(x.GetAttribute().GetLength())) != 0 ||
        memcmp(x.GetValue().c_str(), y.GetValue().c_str(), static_cast<size_t>(x.GetValue().GetLength())) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TSTRING text(reinterpret_cast<const char*>(data), static_cast<int>(size));
  const TSTRING key("fuzzing key");

  CRfc2045ParameterList fromToken(10);
  DWORD r = DecryptParameters(text, key, fromToken);
  if (r != 0 && r != ERROR_INVALID_DATA && r != ERROR_INVALID_PARAMETER) abort();
  if (r != 0 && fromToken.GetCount() != 0) abort();

  CRfc2045ParameterList list(10);
  ParseListParameters(text, list);
  // Attributes are written without escapes: an empty one after the first
  // cannot be read back.
  bool readable = true;
  bool first = true;
  for (void* p = list.GetHeadPosition(); p != nullptr; first = false) {
    if (list.GetNext(p).GetAttribute().IsEmpty() && !first) readable = false;
  }
  if (readable) {
    TSTRING token = EncryptParameters(list, key);
    CRfc2045ParameterList back(10);
    if (DecryptParameters(token, key, back) != 0) abort();
    if (!SameLists(list, back)) abort();
  }
  return 0;
}
