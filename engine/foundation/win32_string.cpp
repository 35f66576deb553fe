// Single-byte string helpers of the system layer.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "foundation/win32.h"

extern "C" {

BOOL IsBadStringPtrA(LPCSTR, size_t) { return 0; }
BOOL IsBadStringPtrW(const WCHAR*, size_t) { return 0; }

LPSTR CharNextA(LPCSTR p) { return const_cast<char*>(p) + 1; }
WCHAR* CharNextW(const WCHAR* p) { return const_cast<WCHAR*>(p) + 1; }

int lstrlenA(LPCSTR s) { return static_cast<int>(strlen(s)); }
int lstrlenW(const WCHAR*) { return 0; }

size_t _wcslen(const WCHAR* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

int lstrcmpA(LPCSTR a, LPCSTR b) { return strcmp(a, b); }
int lstrcmpiA(LPCSTR a, LPCSTR b) { return strcasecmp(a, b); }

void strlwr(char* s) {
  for (; *s; ++s) *s = static_cast<char>(tolower(static_cast<unsigned char>(*s)));
}

void strupr(char* s) {
  for (; *s; ++s) *s = static_cast<char>(toupper(static_cast<unsigned char>(*s)));
}

LPSTR CharLowerA(LPSTR s) {
  strlwr(s);
  return s;
}

LPSTR CharUpperA(LPSTR s) {
  strupr(s);
  return s;
}

int _mbclen(const char* s) {
  if (s == nullptr || *s == '\0') return 0;
  return mblen(s, 2);
}

char* _mbsinc(const char* s) {
  if (s == nullptr || *s == '\0') return const_cast<char*>(s);
  int n = mblen(s, 2);
  return const_cast<char*>(s) + (n < 1 ? 1 : n);
}

char* _strrev(char* s) {
  if (s == nullptr || s[0] == '\0' || s[1] == '\0') return s;
  char* lo = s;
  char* hi = s + strlen(s) - 1;
  while (lo < hi) {
    char t = *lo;
    *lo++ = *hi;
    *hi-- = t;
  }
  return s;
}

char* _ultoa(ULONG value, char* buffer, int radix) {
  char digits[33];
  int n = 0;
  do {
    ULONG d = value % static_cast<ULONG>(radix);
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + (d - 10));
    value /= static_cast<ULONG>(radix);
  } while (value != 0);
  for (int i = 0; i < n; ++i) buffer[i] = digits[n - 1 - i];
  buffer[n] = '\0';
  return buffer;
}

char* _ltoa(LONG value, char* buffer, int radix) {
  if (value < 0) {
    buffer[0] = '-';
    // Magnitude computed unsigned so that the most negative value is safe.
    _ultoa(0u - static_cast<ULONG>(value), buffer + 1, radix);
    return buffer;
  }
  return _ultoa(static_cast<ULONG>(value), buffer, radix);
}

char* _itoa(int value, char* buffer, int radix) { return _ltoa(value, buffer, radix); }

}  // extern "C"
