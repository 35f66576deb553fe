// Formatting and C-string helpers.
#include "foundation/strhelpers.h"

#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <memory>
#include <new>

namespace telsor {

namespace {

// Room a locale may need for one decimal point, digit or group separator.
const int64_t kMaxCharBytes = MB_LEN_MAX;
// A 64-bit integer in octal has 22 digits, the widest of all bases.
const int64_t kMaxIntDigits = 22;

bool IsFlag(const char* p) {
  switch (*p) {
    case '-': case '+': case ' ': case '#': case '0': case '\'':
      return true;
    case 'I':  // the C library's alternative-digits flag, unless it opens I64
      return !(p[1] == '6' && p[2] == '4');
    default:
      return false;
  }
}

bool IsSizeLetter(char c) { return strchr("hlLqjztZ", c) != nullptr && c != '\0'; }

// Reads a decimal number, saturating instead of overflowing.
int64_t ReadNumber(const char*& p) {
  int64_t n = 0;
  while (*p >= '0' && *p <= '9') {
    if (n < INT_MAX) n = n * 10 + (*p - '0');
    ++p;
  }
  return n > INT_MAX ? INT_MAX : n;
}

// Exact length through the C library; used for positional arguments, whose
// types cannot be read in order from the va_list.
int64_t ExactLength(const char* format, va_list args) {
  size_t n = strlen(format) + 1;
  std::unique_ptr<char[]> translated(new (std::nothrow) char[n]);
  if (translated == nullptr) return INT_MAX;
  TranslateFormat(format, translated.get());
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int len = vsnprintf(nullptr, 0, translated.get(), args);
#pragma GCC diagnostic pop
  return len < 0 ? 0 : len;
}

enum SizePrefix { kInt, kChar, kShort, kLong, kLongLong, kLongDouble, kIntMax, kSize, kPtrDiff };

int64_t IntegerBound(char conv, SizePrefix size, va_list& ap, int64_t precision, bool grouping,
                     bool altDigits) {
  // Consume the argument with the type the C library reads.
  switch (size) {
    case kLong: (void)va_arg(ap, long); break;
    case kLongLong: case kLongDouble: (void)va_arg(ap, long long); break;
    case kIntMax: (void)va_arg(ap, intmax_t); break;
    case kSize: (void)va_arg(ap, size_t); break;
    case kPtrDiff: (void)va_arg(ap, ptrdiff_t); break;
    default: (void)va_arg(ap, int); break;
  }
  int64_t digits = precision > kMaxIntDigits ? precision : kMaxIntDigits;
  if (altDigits) digits *= kMaxCharBytes;
  if (grouping) digits += (digits / 3 + 1) * kMaxCharBytes;
  // A sign or blank, or the 0x / leading-zero prefix.
  return digits + ((conv == 'x' || conv == 'X') ? 2 : 1);
}

int64_t FloatBound(char conv, bool isLong, va_list& ap, int64_t precision, bool grouping) {
  long double v = isLong ? va_arg(ap, long double) : va_arg(ap, double);
  const int64_t point = kMaxCharBytes;
  if (!isfinite(v)) return 4;  // sign and inf / nan
  int64_t prec = precision >= 0 ? precision : 6;
  switch (conv) {
    case 'f': case 'F': {
      int exp2 = 0;
      frexpl(fabsl(v), &exp2);
      // v < 2^exp2, so it has at most exp2 * log10(2) + 1 integer digits.
      int64_t intDigits = exp2 > 0 ? static_cast<int64_t>(exp2 * 0.30103) + 2 : 1;
      if (grouping) intDigits += (intDigits / 3 + 1) * kMaxCharBytes;
      return 1 + intDigits + point + prec;
    }
    case 'e': case 'E':
      // sign, digit, point, precision, e, sign, up to 4 exponent digits
      return 1 + 1 + point + prec + 2 + 4;
    case 'g': case 'G': {
      int64_t p = prec == 0 ? 1 : prec;
      int64_t digits = grouping ? p + (p / 3 + 1) * kMaxCharBytes : p;
      // sign, the significant digits, point, then either "0.000" in front or
      // an exponent "e+XXXX" behind, whichever is longer.
      return 1 + digits + point + 6;
    }
    default:  // a, A: sign, 0x, up to 16 hex digits, point, p, sign, 5 digits
      return 1 + 2 + (precision >= 0 ? precision + 1 : 16) + point + 2 + 5;
  }
}

}  // namespace

int GetFormatMaxLength(const char* format, va_list args) {
  if (format == nullptr) return 0;
  va_list ap;
  va_copy(ap, args);
  int64_t total = 0;
  for (const char* p = format; *p != '\0' && total < INT_MAX;) {
    if (*p != '%') {
      ++total;
      ++p;
      continue;
    }
    const char* start = p++;
    bool grouping = false, altDigits = false;
    // A positional argument ("%1$d") cannot be walked in order.
    {
      const char* q = p;
      while (*q >= '0' && *q <= '9') ++q;
      if (*q == '$' && q != p) {
        va_list again;
        va_copy(again, args);
        total = ExactLength(format, again);
        va_end(again);
        break;
      }
    }
    for (; IsFlag(p); ++p) {
      if (*p == '\'') grouping = true;
      if (*p == 'I') altDigits = true;
    }
    int64_t width = 0;
    if (*p == '*') {
      int w = va_arg(ap, int);
      width = w < 0 ? -static_cast<int64_t>(w) : w;
      ++p;
    } else {
      width = ReadNumber(p);
    }
    int64_t precision = -1;
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        int pr = va_arg(ap, int);
        precision = pr < 0 ? -1 : pr;
        ++p;
      } else {
        precision = ReadNumber(p);
      }
    }
    SizePrefix size = kInt;
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      size = kLongLong;
      p += 3;
    } else {
      while (IsSizeLetter(*p)) {
        switch (*p) {
          case 'h': size = size == kShort ? kChar : kShort; break;
          case 'l': size = size == kLong ? kLongLong : kLong; break;
          case 'L': case 'q': size = kLongDouble; break;
          case 'j': size = kIntMax; break;
          case 'z': case 'Z': size = kSize; break;
          case 't': size = kPtrDiff; break;
        }
        ++p;
      }
    }
    int64_t len = 0;
    char conv = *p;
    switch (conv) {
      case 'd': case 'i': case 'u': case 'o': case 'x': case 'X':
        len = IntegerBound(conv, size, ap, precision, grouping, altDigits);
        break;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
        len = FloatBound(conv, size == kLongDouble, ap, precision, grouping);
        break;
      case 'c': case 'C': {
        (void)va_arg(ap, int);  // int or wint_t
        len = (conv == 'C' || size == kLong) ? kMaxCharBytes : 1;
        break;
      }
      case 's': case 'S':
        if (conv == 'S' || size == kLong) {
          const wchar_t* w = va_arg(ap, const wchar_t*);
          len = w == nullptr ? 6 : static_cast<int64_t>(wcslen(w)) * kMaxCharBytes;
        } else {
          const char* s = va_arg(ap, const char*);
          if (s == nullptr)
            len = 6;  // "(null)"
          else
            len = precision >= 0 ? static_cast<int64_t>(strnlen(s, static_cast<size_t>(precision)))
                                 : static_cast<int64_t>(strlen(s));
        }
        if (precision >= 0 && len > precision) len = precision;
        break;
      case 'p':
        (void)va_arg(ap, void*);
        len = 1 + 2 + 16;  // sign, 0x and 64 bits in hex; "(nil)" is shorter
        break;
      case 'n':
        (void)va_arg(ap, void*);
        break;
      case '%':
        len = 1;
        break;
      case 'm':
        len = 256;  // strerror text of errno
        break;
      default:
        // The C library prints an unknown conversion as it stands.
        len = (p - start) + (conv != '\0' ? 1 : 0);
        break;
    }
    if (len < width) len = width;
    total += len;
    if (conv != '\0') ++p;
  }
  va_end(ap);
  return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

int FormatLenVA(const char* format, va_list args) { return GetFormatMaxLength(format, args); }

void TranslateFormat(const char* format, char* out) {
  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      *out++ = *p++;
      continue;
    }
    *out++ = *p++;
    // Everything up to the size prefix: position, flags, width, precision.
    while (*p != '\0' && (strchr("0123456789$*.", *p) != nullptr || IsFlag(p))) *out++ = *p++;
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      *out++ = 'l';
      *out++ = 'l';
      p += 3;
    }
    while (IsSizeLetter(*p)) *out++ = *p++;
    if (*p != '\0') *out++ = *p++;  // the conversion itself, "%" included
  }
  *out = '\0';
}

char* STRNCPY(char* dest, const char* src, size_t size) {
  if (dest == nullptr || size == 0) return dest;
  size_t n = src == nullptr ? 0 : strnlen(src, size - 1);
  memmove(dest, src == nullptr ? "" : src, n);
  dest[n] = '\0';
  return dest;
}

char* STRNCAT(char* dest, const char* src, size_t size) {
  if (dest == nullptr || size == 0) return dest;
  size_t used = strnlen(dest, size);
  if (used >= size) {  // not terminated within the buffer: cut it there
    dest[size - 1] = '\0';
    return dest;
  }
  STRNCPY(dest + used, src, size - used);
  return dest;
}

namespace {

const uint64_t kOnes = 0x0101010101010101ull;
const uint64_t kHighs = 0x8080808080808080ull;

// Nonzero when some byte of word is zero.
uint64_t HasZeroByte(uint64_t word) { return (word - kOnes) & ~word & kHighs; }

}  // namespace

size_t SpanExcept(const unsigned char* p, size_t n, unsigned char a, unsigned char b, unsigned char c) {
  size_t i = 0;
#ifdef __SSE2__
  // Sixteen bytes per step where the vector unit is there.
  const __m128i va = _mm_set1_epi8(static_cast<char>(a));
  const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
  const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)), _mm_cmpeq_epi8(x, vc));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  const uint64_t wa = kOnes * a, wb = kOnes * b, wc = kOnes * c;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    memcpy(&word, p + i, 8);
    if (HasZeroByte(word ^ wa) | HasZeroByte(word ^ wb) | HasZeroByte(word ^ wc)) break;
  }
  while (i < n && p[i] != a && p[i] != b && p[i] != c) ++i;
  return i;
}

}  // namespace telsor
