// The quoted-printable stream decoder on any bytes: it never fails, never
// gives more bytes than it reads, gives the same bytes whatever the read
// sizes, and what it gives encodes (the same whatever the read sizes) and
// decodes back to itself.
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "engine/mime/codectestutil.h"

using codec_test::Code;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const telsor::tag_CONTENT_ENCODING e = telsor::CONTENT_ENCODING_QUOTED_PRINTABLE;
  const std::string in(reinterpret_cast<const char*>(data), size);
  const codec_test::Run out = Code(true, in, e);
  if (out.hr != S_OK || out.out.size() > size) abort();
  if (Code(true, in, e, codec_test::kAll, 1 + static_cast<ULONG>(size % 13)).out != out.out) abort();
  const codec_test::Run encoded = Code(false, out.out, e);
  if (encoded.hr != S_OK || Code(false, out.out, e, codec_test::kAll, 3).out != encoded.out) abort();
  if (Code(true, encoded.out, e).out != out.out) abort();
  return 0;
}
