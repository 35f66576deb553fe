// The base64 stream decoder on any bytes: it never fails, gives at most 3
// bytes for every 4 input bytes, gives the same bytes whatever the read
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
  HRESULT hr = decode ? DecodeStream(&dst, &src, CONTENT_ENCODING_BASE64, in.size())
                      : EncodeStream(&dst, &src, CONTENT_ENCODING_BASE64, in.size());
  if (hr != S_OK) abort();
  return dst.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const std::string out = Run(true, in, 0xFFFFFFFFu);
  if (out.size() * 4 > size * 3) abort();
  if (Run(true, in, 1 + static_cast<ULONG>(size % 13)) != out) abort();
  if (Run(true, Run(false, out, 0xFFFFFFFFu), 0xFFFFFFFFu) != out) abort();
  return 0;
}
