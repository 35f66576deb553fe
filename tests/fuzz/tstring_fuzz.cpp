// TSTRING records from untrusted bytes: a load either gives the string the
// record holds, or fails with a code and leaves the string as it was (short
// length field) or well-formed and empty (short text).
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "common/teststream.h"
#include "foundation/tstring.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CTestStream in(std::string(reinterpret_cast<const char*>(data), size));
  telsor::TSTRING s("before");
  HRESULT hr = s.Serialize(&in, 0);
  if (hr == S_OK) {
    // The record is a 32-bit length and that many bytes.
    if (size < 4) abort();
    uint32_t n = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    if (n != static_cast<uint32_t>(s.GetLength()) || size < 4 + static_cast<size_t>(n)) abort();
    if (memcmp(s.c_str(), data + 4, n) != 0) abort();
  } else if (!s.IsEmpty() && strcmp(s.c_str(), "before") != 0) {
    abort();
  }
  return 0;
}
