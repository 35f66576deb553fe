// CSeekPattern: the root of the engine's compiled text matchers.
//
// A matcher compiles a pattern once, is searched any number of times over
// byte buffers (and, for most matchers, streams) and stores itself as a
// binary record that a matcher of the same class made with its default
// constructor reads back:
//
//   const char* text = "Content-Type: multipart/mixed; BOUNDARY=x";
//   CSeekSubstr m;                                    // any CSeekPattern descendant
//   HRESULT hr = m.Compile("boundary", 0, 0);         // 0 = case ignored, 0 = strlen
//   if (hr != S_OK) return hr;
//   DWORD len = 0;
//   DWORD at = m.Search(text, 0, &len);               // 31, len 8; SEEK_NOT_FOUND: none
//   IStream* stream = nullptr;
//   CTstringAsIStream::CreateStreamOnTSTRING("", &stream);
//   hr = m.Serialize(stream, 1);                      // store; 0 loads
//   stream->Release();
//
// Contract of every matcher: offsets are 32-bit, a miss is 0xFFFFFFFF; a
// text length of 0 means the text is NUL-terminated; matchLen (when given)
// is 0 on a miss and the match length on a hit; without regard to case the
// pattern is lower-cased once at Compile and ASCII letters of the text are
// folded while searching. Stream searches examine at most maxBytes bytes from
// the stream's position and return the absolute stream offset (low 32 bits).
//
// Base record (every matcher's record starts with it, little-endian):
//   u8 version 1, u16 L, L pattern bytes, u8 case-sensitive flag,
//   u8 NUL-substitute byte.
// Patterns longer than 0xFFFF bytes cannot be stored (E_FAIL).
//
// Threads: Search is const and may run on one compiled matcher from many
// threads at once; Compile and loading need exclusive use. Matchers are not
// copyable; a matcher belongs to whoever created it.
#ifndef TELSOR_SEARCH_SEEKPATTERN_H
#define TELSOR_SEARCH_SEEKPATTERN_H

#include "foundation/istream.h"
#include "foundation/wintypes.h"
#include "search/searchresults.h"

namespace telsor {

// Offset returned by a search that finds nothing.
const DWORD SEEK_NOT_FOUND = 0xFFFFFFFFu;

// ASCII-only letter folding used by every matcher when case is ignored.
inline BYTE FoldByte(BYTE c) { return (c >= 'A' && c <= 'Z') ? static_cast<BYTE>(c + 32) : c; }

class CSeekPattern {
 public:
  CSeekPattern();
  virtual ~CSeekPattern();
  CSeekPattern(const CSeekPattern&) = delete;
  CSeekPattern& operator=(const CSeekPattern&) = delete;

  // Holds a copy of pattern: len bytes with strncpy semantics (bytes after
  // a NUL become NUL), or strlen bytes when len is 0; lower-cased when
  // caseSensitive is 0. A null pattern holds nothing. Returns 0, or
  // E_OUTOFMEMORY when the copy cannot be allocated.
  virtual HRESULT Compile(const char* pattern, int caseSensitive, DWORD len);
  // The base matches nothing: *matchLen (which must be valid) becomes 0.
  virtual DWORD Search(const char* text, DWORD len, DWORD* matchLen) const;
  virtual DWORD Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const;
  // store non-zero writes the base record, 0 loads it. Returns 0, a failing
  // stream result unchanged, E_FAIL for a malformed or short record or a
  // pattern too long to store, E_OUTOFMEMORY when memory runs out.
  virtual HRESULT Serialize(IStream* stream, int store);
  // The held pattern (NUL-terminated; null when none); index is ignored.
  virtual const char* GetPattern(LONG index) const;
  // 1 when a pattern is held, else 0.
  virtual DWORD GetCount() const;

  DWORD GetLength() const { return m_nLength; }
  BOOL IsCaseSensitive() const { return m_bCaseSensitive; }
  BYTE GetNulSubstitute() const { return m_chNulSubst; }

  // Decodes one escape sequence; p points after the backslash. Returns the
  // value (32 bits, callers wanting a byte take the low 8) and stores the
  // number of characters used in *consumed when given:
  //   a b f n r t v -> 7 8 12 10 13 9 11; octal digits (all of them);
  //   x + hex digits (all of them; x alone is 0); anything else itself.
  static DWORD DecodeESC(const char* p, DWORD* consumed);
  // Bit index of bits (byte index >> 3, bit index & 7, least significant
  // first). SetBitAt returns the previous state.
  static int SetBitAt(DWORD index, int value, BYTE* bits);
  static int GetBitAt(DWORD index, const BYTE* bits);

 protected:
  void FreePattern();
  // Base record load/store shared by the subclasses' Serialize.
  HRESULT SerializeBase(IStream* stream, int store);

  char* m_pPattern;        // owned (malloc), NUL-terminated; null when none
  DWORD m_nLength;         // pattern bytes, embedded NULs included
  BYTE m_bCaseSensitive;   // 1 exact, 0 letters in either case
  BYTE m_chNulSubst;       // carried in the record; 0x20 at construction
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_SEEKPATTERN_H
