// Uuencoded text from any bytes: the line decoder never fails, never gives
// more bytes than it reads and gives the same bytes whatever the read
// sizes; the file decoder reads a "begin" line or refuses a bad keyword
// (13); the block check gives the same verdict and length over memory and
// over a stream, a length within the text, and a block that decodes.
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "common/teststream.h"
#include "foundation/streamreader.h"
#include "mime/streamdecoder.h"
#include "mime/uuencode.h"

using namespace telsor;

namespace {

std::string Lines(const std::string& in, ULONG maxChunk) {
  CTestStream src(in), dst;
  src.maxChunk = maxChunk;
  if (DecodeStream(&dst, &src, CONTENT_ENCODING_UUENCODE, in.size()) != S_OK) abort();
  return dst.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const std::string out = Lines(in, 0xFFFFFFFFu);
  if (out.size() > size) abort();
  if (Lines(in, 1 + static_cast<ULONG>(size % 11)) != out) abort();

  {
    CTestStream src(in), dst;
    CUUencodedFile file;
    HRESULT hr = file.Decode(&dst, &src, size);
    if (hr != S_OK && hr != ERROR_INVALID_DATA) abort();
    if (dst.str().size() > size) abort();
  }

  CStreamReader memory(data, static_cast<ULONG>(size));
  ULONG memoryLength = 0;
  BOOL memoryVerdict = VerifyUUencode(memory, memoryLength);
  CTestStream stream(in);
  CStreamReader streamReader(&stream, static_cast<ULONG>(size));
  ULONG streamLength = 0;
  BOOL streamVerdict = VerifyUUencode(streamReader, streamLength);
  if (memoryVerdict != streamVerdict || memoryLength != streamLength) abort();
  if (memoryVerdict) {
    if (memoryLength == 0 || memoryLength > size) abort();
    CTestStream src(in), dst;
    CUUencodedFile file;
    // (The name may still come out empty: trailing dots are dropped.)
    if (file.Decode(&dst, &src, memoryLength) != S_OK) abort();
  }
  return 0;
}
