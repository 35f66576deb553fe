// The quoted-printable stream decoder on any bytes: it never fails, never
// gives more bytes than it reads, gives the same bytes whatever the read
// sizes, and what it gives encodes and decodes back to itself.
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "common/teststream.h"
#include "mime/streamdecoder.h"
#include "mime/streamencoder.h"

using namespace telsor;

namespace {

std::string Run(bool decode, const std::string& in, ULONG maxChunk) {
  CTestStream src(in), dst;
  src.maxChunk = maxChunk;
  HRESULT hr = decode ? DecodeStream(&dst, &src, CONTENT_ENCODING_QUOTED_PRINTABLE, in.size())
                      : EncodeStream(&dst, &src, CONTENT_ENCODING_QUOTED_PRINTABLE, in.size());
  if (hr != S_OK) abort();
  return dst.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const std::string out = Run(true, in, 0xFFFFFFFFu);
  if (out.size() > size) abort();
  if (Run(true, in, 1 + static_cast<ULONG>(size % 13)) != out) abort();
  const std::string encoded = Run(false, out, 0xFFFFFFFFu);
  if (Run(false, out, 3) != encoded) abort();
  if (Run(true, encoded, 0xFFFFFFFFu) != out) abort();
  return 0;
}
