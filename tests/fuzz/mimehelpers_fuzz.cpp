// The MIME text helpers from untrusted bytes: unfolding and comment removal
// never lengthen the text, the word counter agrees with itself across
// limits, and the line-end check matches its definition.
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "mime/mimehelpers.h"

using namespace telsor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) return 0;
  TSTRING text(reinterpret_cast<const char*>(data), static_cast<int>(size));
  TSTRING unfolded(text);
  UnfoldLine(unfolded);
  if (unfolded.GetLength() > text.GetLength()) abort();
  TSTRING plain(text);
  int had = RemoveComments(plain, size > 0 ? data[0] & 1 : 0);
  if (plain.GetLength() > text.GetLength()) abort();
  if ((had == 0) != (memchr(data, '(', size) == nullptr)) abort();
  if (had == 0 && plain.GetLength() != text.GetLength()) abort();
  // Fewer than n words implies fewer than n + 1.
  for (ULONG n = 0; n < 6; ++n)
    if (IsWordsCountLess(text, n) && !IsWordsCountLess(text, n + 1)) abort();
  bool eol = size % 2 == 0;
  for (size_t i = 0; eol && i < size; i += 2) eol = data[i] == '\r' && data[i + 1] == '\n';
  if (IsValidEOL(text) != eol) abort();
  return 0;
}
