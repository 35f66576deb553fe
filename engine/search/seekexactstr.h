// CSeekExactStr: whole-text equality with one pattern (Sieve ":is",
// ":count", ":value").
//
//   CSeekExactStr m;
//   m.Compile("abc", 0, 0);                 // case ignored
//   DWORD len;
//   m.Search("ABC", 3, &len);               // 0, len 3
//   m.Search("abcd", 4, &len);              // 0xFFFFFFFF
//
// Exactly len bytes of the text are compared (the text need not be
// NUL-terminated; embedded NUL bytes are compared like any other byte).
// Streams are not searched. The record is the base record.
#ifndef TELSOR_SEARCH_SEEKEXACTSTR_H
#define TELSOR_SEARCH_SEEKEXACTSTR_H

#include "search/seekpattern.h"

namespace telsor {

class CSeekExactStr : public CSeekPattern {
 public:
  CSeekExactStr() {}
  ~CSeekExactStr() override;

  HRESULT Compile(const char* pattern, int caseSensitive, DWORD len) override;
  // 0 with *matchLen = len when the whole text equals the pattern, else -1.
  DWORD Search(const char* text, DWORD len, DWORD* matchLen) const override;
  // Always -1 (*matchLen 0).
  DWORD Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const override;
};

// Compares n bytes of a and b, folding ASCII letters of both when fold is
// set; the sign is that of the first differing (folded) unsigned byte.
int CompareBytes(const BYTE* a, const BYTE* b, size_t n, bool fold);

}  // namespace telsor

#endif  // TELSOR_SEARCH_SEEKEXACTSTR_H
