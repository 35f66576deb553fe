// Formatting and C-string helpers of the engine.
//
// GetFormatMaxLength (alias FormatLenVA) gives an upper bound of the length of
// a printf-style expansion, so that a buffer can be sized before vsnprintf:
//
//   auto bound = [](const char* format, ...) {
//     va_list args;
//     va_start(args, format);
//     int n = GetFormatMaxLength(format, args);   // at least vsnprintf's length
//     va_end(args);
//     return n;
//   };
//   std::unique_ptr<char[]> text(new char[bound("%s=%I64d", "size", 5LL) + 1]);
//
// The engine's formats also take "%I64d", "%I64u" and "%I64x" for 64-bit
// integers; TranslateFormat rewrites them for the C library.
#ifndef TELSOR_FOUNDATION_STRHELPERS_H
#define TELSOR_FOUNDATION_STRHELPERS_H

#include <stdarg.h>
#include <stddef.h>

namespace telsor {

// Upper bound of the number of characters (NUL not counted) that vsnprintf
// produces for format and args: flags, width and precision (also given by
// '*'), size prefixes hh h l ll L q j z t I64, and every conversion.
// Reads its own copy of args. Saturates at INT_MAX.
int GetFormatMaxLength(const char* format, va_list args);
int FormatLenVA(const char* format, va_list args);

// Copies format to out with the engine's I64 size prefix turned into the C
// library's ll. out needs strlen(format) + 1 bytes (the result never grows).
void TranslateFormat(const char* format, char* out);

// Copy / append within a buffer of size bytes; the result is always
// terminated (nothing is written when size is 0). Return dest.
char* STRNCPY(char* dest, const char* src, size_t size);
char* STRNCAT(char* dest, const char* src, size_t size);

// The number of leading bytes of p[0..n) that are none of a, b and c (n
// when there is none of them); it looks at sixteen or eight bytes per step.
// With SpanExcept(p, n, '\r', '\n', '\n') a scanner passes the rest of a line.
size_t SpanExcept(const unsigned char* p, size_t n, unsigned char a, unsigned char b, unsigned char c);

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_STRHELPERS_H
