// The printf length bound against the C library, the I64 translation and
// the bounded copy helpers, the three-byte span.
#include <gtest/gtest.h>

#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "foundation/strhelpers.h"

using namespace telsor;

namespace {

int Bound(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = GetFormatMaxLength(format, args);
  va_end(args);
  return n;
}

int BoundAlias(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = FormatLenVA(format, args);
  va_end(args);
  return n;
}

// The bound must not consume the caller's va_list: the same list then
// expands normally.
std::string BoundThenFormat(int* bound, const char* format, ...) {
  va_list args;
  va_start(args, format);
  *bound = GetFormatMaxLength(format, args);
  char text[256];
  char translated[128];
  TranslateFormat(format, translated);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vsnprintf(text, sizeof text, translated, args);
#pragma GCC diagnostic pop
  va_end(args);
  return text;
}

// The real expansion length of an engine format, through the C library.
template <class... A>
int RealLength(const char* format, A... args) {
  char translated[256];
  TranslateFormat(format, translated);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  return snprintf(nullptr, 0, translated, args...);
#pragma GCC diagnostic pop
}

template <class... A>
void ExpectCovers(const char* format, A... args) {
  SCOPED_TRACE(format);
  int real = RealLength(format, args...);
  ASSERT_GE(real, 0);
  int bound = Bound(format, args...);
  EXPECT_GE(bound, real);
  // An upper bound, yet not a wild one: sized buffers stay reasonable.
  EXPECT_LE(bound, real + 400);
  EXPECT_EQ(BoundAlias(format, args...), bound);
}

TEST(FormatBound, CoversRealLengths) {
  const char* longText = "a fairly long piece of text that follows the other arguments";
  ExpectCovers("");
  ExpectCovers("plain text without conversions");
  ExpectCovers("%%|%%%%");
  // integers with every size prefix and flag
  ExpectCovers("%d %i %u", INT_MIN, INT_MAX, UINT_MAX);
  ExpectCovers("%+d % d %-8d| %08d %.12d %+.0d", 5, 6, -7, -8, 9, 0);
  ExpectCovers("%hhd %hhu %hd %hu", -128, 255, -32768, 65535);
  ExpectCovers("%ld %lu %lx %lo", LONG_MIN, ULONG_MAX, ULONG_MAX, ULONG_MAX);
  ExpectCovers("%lld %llu %llX %#llo", LLONG_MIN, ULLONG_MAX, ULLONG_MAX, ULLONG_MAX);
  ExpectCovers("%qd %Ld", LLONG_MIN, LLONG_MIN);
  ExpectCovers("%jd %zu %zd %td", INTMAX_MIN, SIZE_MAX, static_cast<ssize_t>(-1), PTRDIFF_MIN);
  ExpectCovers("%I64d %I64u %I64x %I64X", INT64_MIN, UINT64_MAX, UINT64_MAX, UINT64_MAX);
  ExpectCovers("%20I64d|%-30I64u|%.25I64x", INT64_MIN, UINT64_MAX, UINT64_MAX);
  ExpectCovers("%x %X %#x %#X %o %#o", UINT_MAX, UINT_MAX, 1u, UINT_MAX, UINT_MAX, 8u);
  ExpectCovers("%'d %'lld", INT_MIN, LLONG_MIN);
  // width and precision from arguments, negative ones included
  ExpectCovers("%*d|%-*d|%*d|%s", 10, 1, 12, 2, -15, 3, longText);
  ExpectCovers("%.*d|%.*s|%*.*f|%s", 30, 7, 3, "abcdef", 20, 4, 3.5, longText);
  ExpectCovers("%.*s|%s", -1, "negative precision means none", longText);
  // strings and characters
  ExpectCovers("%s|%10s|%-10s|%.3s|%.0s", "abc", "de", "fg", "hijkl", "zzz");
  ExpectCovers("%s", static_cast<const char*>(nullptr));
  ExpectCovers("%c%c%5c%-3c|", 'a', 0, 'b', 'c');
  ExpectCovers("%ls|%lc|%s", L"wide text", static_cast<wint_t>(L'x'), longText);
  // pointers
  ExpectCovers("%p %p %20p", static_cast<void*>(nullptr), reinterpret_cast<void*>(UINTPTR_MAX),
               reinterpret_cast<void*>(0x1234));
  // floating point in every form
  ExpectCovers("%f %F %e %E %g %G", 1.5, -2.25, 1e300, -1e-300, 1e-5, 123456789.0);
  ExpectCovers("%f|%.0f|%.30f", DBL_MAX, -DBL_MAX, DBL_MIN);
  ExpectCovers("%e|%.20e|%g|%.17g|%#g|%#.0f", DBL_MAX, DBL_MIN, DBL_MAX, -DBL_MIN, 0.0001, 3.0);
  ExpectCovers("%Lf|%Le|%Lg", LDBL_MAX, LDBL_MIN, LDBL_MAX);
  ExpectCovers("%a|%A|%.3a|%La", 1.0, -DBL_MAX, 0.1, LDBL_MAX);
  ExpectCovers("%f %e %g", INFINITY, -NAN, -INFINITY);
  ExpectCovers("%'f|%'.2f", 1234567.0, -98765432.5);
  ExpectCovers("%9999d|", 1);
  // %n writes a count and prints nothing
  int written = 0;
  ExpectCovers("abc%n|%s", &written, longText);
  // unknown conversions are printed as they stand (kept away from the C
  // library here: the sanitizer runtime warns about them)
  EXPECT_GE(Bound("%y|%5k|%"), 8);
  EXPECT_GE(Bound("%5%"), 5);
  // positional arguments
  ExpectCovers("%2$s %1$d", 42, "forty-two");
}

TEST(FormatBound, LeavesTheCallersArgumentsUntouched) {
  int bound = 0;
  std::string text = BoundThenFormat(&bound, "%*d:%s:%I64d:%.2f", 4, 7, "mid", INT64_MAX, 2.5);
  EXPECT_EQ(text, "   7:mid:9223372036854775807:2.50");
  EXPECT_GE(bound, static_cast<int>(text.size()));
}

TEST(FormatBound, ExactForTextAndStrings) {
  EXPECT_EQ(Bound("abc"), 3);
  EXPECT_EQ(Bound("%s-%s", "hello", ""), 6);
  EXPECT_EQ(Bound("%.2s", "hello"), 2);
  EXPECT_EQ(Bound("%8s", "hi"), 8);
  EXPECT_EQ(Bound(nullptr), 0);
}

TEST(TranslateFormat, RewritesOnlyTheSizePrefix) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"%I64d", "%lld"},
      {"%I64u|%I64x|%I64X", "%llu|%llx|%llX"},
      {"%-20I64d", "%-20lld"},
      {"%*.*I64d", "%*.*lld"},
      {"I64 text %% I64d", "I64 text %% I64d"},
      {"%%I64d", "%%I64d"},
      {"%d %s %5.2f", "%d %s %5.2f"},
      {"%1$I64d", "%1$lld"},
      {"trailing %", "trailing %"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char out[64];
    memset(out, 'Z', sizeof out);
    TranslateFormat(c.in, out);
    EXPECT_STREQ(out, c.out) << c.in;
  }
}

TEST(BoundedCopy, Table) {
  struct Case {
    const char* start;
    const char* src;
    size_t size;
    bool append;
    const char* want;
  } cases[] = {
      {"", "hello", 10, false, "hello"},
      {"", "hello", 5, false, "hell"},
      {"", "hello", 1, false, ""},
      {"", nullptr, 4, false, ""},
      {"ab", "cdef", 10, true, "abcdef"},
      {"ab", "cdef", 5, true, "abcd"},
      {"abcd", "ef", 5, true, "abcd"},
      {"ab", nullptr, 5, true, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    char buffer[16];
    memset(buffer, 'Z', sizeof buffer);
    strcpy(buffer, c.start);
    char* r = c.append ? STRNCAT(buffer, c.src, c.size) : STRNCPY(buffer, c.src, c.size);
    EXPECT_EQ(r, buffer);
    EXPECT_STREQ(buffer, c.want);
    for (size_t i = c.size; i < sizeof buffer; ++i) {
      if (i > strlen(c.start)) {
        EXPECT_EQ(buffer[i], 'Z') << i;  // nothing past the size
      }
    }
  }
  // An unterminated destination is cut at the last byte of the buffer.
  char raw[4] = {'w', 'x', 'y', 'z'};
  STRNCAT(raw, "more", sizeof raw);
  EXPECT_STREQ(raw, "wxy");
  char keep[2] = {'q', 'r'};
  STRNCPY(keep, "abc", 0);
  EXPECT_EQ(keep[0], 'q');
}

// The first of three bytes is found at every offset of the words that are
// looked at together, and bytes one bit away from them are passed.
TEST(SpanExcept, FindsTheFirstOfThreeBytes) {
  const unsigned char targets[] = {'\r', '\n', '\\'};
  const unsigned char others[] = {'a', 0x0C, 0x0E, 0x8A, 0x8D, 0xDC, 0x5D, 0x00, 0xFF};
  for (size_t n = 0; n <= 40; ++n) {
    for (unsigned char other : others) {
      std::vector<unsigned char> text(n, other);
      EXPECT_EQ(SpanExcept(text.data(), n, '\r', '\n', '\\'), n) << n << " " << int(other);
      for (size_t at = 0; at < n; ++at) {
        for (unsigned char target : targets) {
          text.assign(n, other);
          text[at] = target;
          if (at + 1 < n) text[n - 1] = targets[(target + 1) % 3];  // a later one does not count
          EXPECT_EQ(SpanExcept(text.data(), n, '\r', '\n', '\\'), at) << n << " at " << at << " " << int(other);
        }
      }
    }
  }
  const unsigned char crlf[] = "abc\rdef";
  EXPECT_EQ(SpanExcept(crlf, 7, '\n', '\n', '\n'), 7u);  // one byte looked for three times
  EXPECT_EQ(SpanExcept(crlf, 3, '\r', '\n', '\n'), 3u);  // only the n bytes are read
}

}  // namespace
