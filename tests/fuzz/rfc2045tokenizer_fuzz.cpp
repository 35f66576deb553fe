// Header value tokens from untrusted bytes: the tokens (with the white space
// skipped before each) put back together are the input exactly, every kind
// is a known one, and the stream form cuts the same tokens.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "common/teststream.h"
#include "mime/rfc2045tokenizer.h"

using telsor::CRfc2045Tokenizer;

namespace {

std::string Cut(CRfc2045Tokenizer& t, bool strip, std::string* kinds) {
  std::string joined;
  for (;;) {
    int kind = t.NextToken();
    if (kind < -1 || kind > 5) abort();
    *kinds += static_cast<char>('0' + kind + 1);
    if (kind == CRfc2045Tokenizer::TOKEN_END) {
      joined.append(t.Token().c_str(), static_cast<size_t>(t.Token().GetLength()));
      break;
    }
    joined.append(t.ExtendToken().c_str(), static_cast<size_t>(t.ExtendToken().GetLength()));
    if (t.Token().GetLength() == 0) abort();
    if (strip) t.StripDelimiters();
  }
  return joined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) return 0;
  ULONG flags = size > 0 ? data[0] & 1 : 1;
  CRfc2045Tokenizer memory(data, static_cast<ULONG>(size));
  memory.SetFlags(flags);
  std::string kinds;
  std::string joined = Cut(memory, false, &kinds);
  if (joined.size() != size || (size > 0 && memcmp(joined.data(), data, size) != 0)) abort();

  CTestStream stream(std::string(reinterpret_cast<const char*>(data), size));
  stream.maxChunk = 7;
  CRfc2045Tokenizer streamed(&stream, static_cast<ULONG>(size));
  streamed.SetFlags(flags);
  std::string streamKinds;
  if (Cut(streamed, true, &streamKinds) != joined || streamKinds != kinds) abort();
  return 0;
}
