// Regular expressions from untrusted bytes: any pattern compiles or fails
// with a code, and a compiled one finds the same match (offset and length)
// in a buffer, in a stream read in blocks of any size from any position,
// after a round trip through its record, and walking its table a byte at
// a time.
//
// Input: byte 0 options (bit 0 case-sensitive, bits 1-3 the stream's read
// size, bits 4-5 where the stream starts), then the pattern up to the
// first NUL byte, then the text.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "common/teststream.h"
#include "search/regexpr.h"

using namespace telsor;

namespace {
void Check(bool ok) {
  if (!ok) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  const char* rest = reinterpret_cast<const char*>(data + 1);
  const size_t restSize = size - 1;
  const void* nul = memchr(rest, 0, restSize);
  const size_t patternSize = nul ? static_cast<const char*>(nul) - rest : restSize;
  // Long patterns explore nothing new and only slow the search down.
  if (patternSize > 512) return 0;
  const std::string pattern(rest, patternSize);
  const std::string text = nul ? std::string(rest + patternSize + 1, restSize - patternSize - 1) : "";

  CRegExpr re;
  const HRESULT hr = re.Compile(pattern.c_str(), options & 1, 0);
  if (hr != S_OK) {
    Check(FAILED(hr) || hr == ERROR_NOT_ENOUGH_MEMORY);
    Check(re.GetTable() == nullptr && re.Search(text.c_str(), 1, nullptr) == SEEK_NOT_FOUND);
    return 0;
  }
  DWORD len = 0;
  const DWORD at = re.Search(text.data(), static_cast<DWORD>(text.size()), &len);
  if (!text.empty()) {
    Check(at == SEEK_NOT_FOUND ? len == 0 : at + len <= text.size() && len > 0);
  }

  static const ULONG kChunks[] = {0xFFFFFFFFu, 1, 2, 3, 7, 16, 511, 513};
  const size_t from = (options >> 4) & 3;
  if (!text.empty() && from < text.size()) {
    CTestStream s(std::string(from, 'p') + text);
    s.pos = from;
    s.maxChunk = kChunks[(options >> 1) & 7];
    DWORD streamLen = 0;
    const DWORD streamAt = re.Search(&s, static_cast<DWORD>(text.size()), &streamLen);
    Check(streamAt == (at == SEEK_NOT_FOUND ? SEEK_NOT_FOUND : at + static_cast<DWORD>(from)));
    Check(streamLen == len);
  }

  CTestStream record;
  Check(re.Serialize(&record, 1) == S_OK);
  record.pos = 0;
  CRegExpr back;
  Check(back.Serialize(&record, 0) == S_OK);
  DWORD backLen = 0;
  Check(back.Search(text.data(), static_cast<DWORD>(text.size()), &backLen) == at && backLen == len);

  // Another table than the matcher's own is walked a byte at a time: the
  // fast scans (skips, near misses passed over, two-byte steps) must agree.
  DWORD packedLen = 0;
  Check(re.SimulateAutomaton(back.GetTable(), text.data(), static_cast<DWORD>(text.size()), &packedLen) == at &&
        packedLen == len);
  return 0;
}
