// Date texts from untrusted bytes: parsing never reads past the text (nor
// past its first 1,023 bytes) and answers the same twice; a date that parsed
// and composes (in a zone half an hour off the hour) parses back to the same
// instant; composing fits the buffer it is given.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <cstdlib>

#include "mime/rfc822date.h"

using namespace telsor;

namespace {

bool SameInstant(const CRfc822Date& a, const CRfc822Date& b) {
  return a.GetInstant().dwLowDateTime == b.GetInstant().dwLowDateTime &&
         a.GetInstant().dwHighDateTime == b.GetInstant().dwHighDateTime;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "<+0530>-5:30", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFF) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  CRfc822Date date, twice;
  bool ok = date.SetDate(text, static_cast<ULONG>(size));
  if (twice.SetDate(text, static_cast<ULONG>(size)) != ok || !SameInstant(date, twice)) abort();
  char composed[80];
  date.Compose(composed, sizeof composed);
  if (ok && composed[0] != '\0') {
    CRfc822Date back;
    if (!back.SetDate(composed) || !SameInstant(back, date)) abort();
  }
  char buffer[40];
  memset(buffer, 'x', sizeof buffer);
  date.Compose(buffer, 32);
  if (memchr(buffer, '\0', 32) == nullptr || buffer[32] != 'x') abort();
  return 0;
}
