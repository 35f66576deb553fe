// RFC 2047 texts and codecs from untrusted bytes: the B decoder over the
// exact bytes, encoded-word and header-text parsing, decoding and composing;
// both encoders round-trip whatever the decoders produced.
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "mime/rfc2047text.h"

using namespace telsor;

namespace {

void RoundTrip(const TSTRING& bytes) {
  TSTRING b, q, back;
  if (BWordEncode(b, bytes) != S_OK || BWordDecode(back, b) != S_OK) abort();
  if (back.GetLength() != bytes.GetLength() || memcmp(back, bytes, bytes.GetLength()) != 0) abort();
  if (QWordEncode(q, bytes) != S_OK || QWordDecode(back, q) != S_OK) abort();
  if (back.GetLength() != bytes.GetLength() || memcmp(back, bytes, bytes.GetLength()) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) return 0;
  TSTRING decoded;
  if (BWordDecode(decoded, reinterpret_cast<const char*>(data), static_cast<ULONG>(size)) != S_OK) abort();
  if (static_cast<size_t>(decoded.GetLength()) > (size + 3) / 4 * 3) abort();
  RoundTrip(decoded);

  TSTRING text(reinterpret_cast<const char*>(data), static_cast<int>(size));
  TSTRING q;
  HRESULT hr = QWordDecode(q, text);
  if (hr != S_OK && hr != ERROR_INVALID_DATA) abort();
  RoundTrip(q);

  CRfc2047EncodedWord word(text);
  word.Parse();
  CRfc2047Text header(text);
  header.Parse();
  TSTRING joined = header.GetDecodedText();
  // Only a text of white space alone has no words.
  bool blank = true;
  for (size_t i = 0; i < size && blank; ++i) blank = strchr(" \t\r\n", data[i]) != nullptr && data[i] != 0;
  if (header.m_Words.IsEmpty() != blank) abort();
  CRfc2047Text copy(header);
  copy.Compose();
  CRfc2047Text again(copy.GetText());
  again.Parse();
  again.GetDecodedText();
  return 0;
}
