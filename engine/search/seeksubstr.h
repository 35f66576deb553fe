// CSeekSubstr: Boyer-Moore search for the first occurrence of one pattern
// in a byte buffer or a stream (Sieve ":contains" with one key; the MIME
// parser and the feature extractor derive their boundary finders from it).
//
//   CSeekSubstr m;
//   m.Compile("abcab", 1, 0);
//   DWORD len;
//   DWORD at = m.Search("xxabcabyy", 0, &len);     // 2, len 5
//   IStream* stream = nullptr;
//   CTstringAsIStream::CreateStreamOnTSTRING("0123456789xxabcab", &stream);
//   LARGE_INTEGER start;
//   start.QuadPart = 10;
//   stream->Seek(start, STREAM_SEEK_SET, nullptr);
//   at = m.Search(stream, 100000, &len);           // 12: the absolute stream offset
//   stream->Release();
//
// Patterns of 1 to 65534 bytes get tables; 65535 bytes or more give
// E_SEEK_PATTERN_TOO_LONG. An empty pattern matches at offset 0 of any non-empty text
// (*matchLen 1). A pattern whose first byte is NUL (given with an explicit
// length) holds no tables and matches nothing.
//
// Searching a buffer of at least 2 pattern bytes first looks for two of
// the pattern's rarer bytes at their distance, 16 windows at a time, and
// compares only those windows; when too many of them fail it goes on with
// Boyer-Moore. Tables loaded from a record that differ from the ones
// Compile builds are always used as they are (Boyer-Moore only).
//
// Table block (256 + 2 x length bytes): the bad-character shifts
// (one byte per text byte value), then one u16 little-endian good-suffix
// shift per pattern position.
//
// Record: the base record, u32 table size S (0 without tables), S bytes.
// Loading refuses with ResultFromSystemError(ERROR_INVALID_DATA_RECORD) a
// record that ends early, a table block shorter than 256 + 2 x length, a
// good-suffix shift of 0, or a pattern without its tables; larger blocks
// load (the excess is ignored). ResultFromSystemError(ERROR_OUTOFMEMORY):
// no memory (ERROR_NOT_ENOUGH_MEMORY when compiling).
#ifndef TELSOR_SEARCH_SEEKSUBSTR_H
#define TELSOR_SEARCH_SEEKSUBSTR_H

#include <vector>

#include "search/seekpattern.h"

namespace telsor {

class CSeekSubstr : public CSeekPattern {
 public:
  CSeekSubstr();
  ~CSeekSubstr() override;

  // Returns 0, E_SEEK_PATTERN_TOO_LONG (matcher left empty),
  // ERROR_NOT_ENOUGH_MEMORY (8) when the tables cannot be allocated, or a
  // base result.
  HRESULT Compile(const char* pattern, int caseSensitive, DWORD len) override;
  DWORD Search(const char* text, DWORD len, DWORD* matchLen) const override;
  // Reads the stream in blocks of max(16 x length, 0x2000) bytes, keeping
  // the last length - 1 bytes of a block for the next one so that matches
  // across block seams are found. The stream is left after the last block
  // read. A failing read ends the data.
  DWORD Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const override;
  HRESULT Serialize(IStream* stream, int store) override;

  // Builds the good-suffix shifts into the table block; 0 or
  // ERROR_NOT_ENOUGH_MEMORY.
  DWORD CalculateGoodSuffix();
  void Cleanup();

 protected:
  // First match of the pattern (length >= 1, tables present) in text[0..len).
  DWORD Find(const BYTE* text, size_t len) const;
  // The same by Boyer-Moore alone, over windows starting at from or later.
  DWORD FindBoyerMoore(const BYTE* text, size_t len, size_t from) const;
  // The same through the two-byte filter (length >= 2, own tables).
  DWORD FindFiltered(const BYTE* text, size_t len) const;
  bool CanFilter() const { return m_bOwnTables && m_nLength >= 2; }

  std::vector<BYTE> m_tables;  // the table block; empty when no tables are built

 private:
  // Fills a table block of 256 + 2 x length bytes for the pattern; 0 or
  // ERROR_NOT_ENOUGH_MEMORY.
  DWORD FillTables(BYTE* tables) const;
  // Picks the filter's byte positions; m_bOwnTables must be set first.
  void PrepareFilter();
  template <bool kFold>
  DWORD FindFilteredT(const BYTE* text, size_t len) const;

  bool m_bOwnTables;  // m_tables holds exactly what FillTables builds
  DWORD m_nRare[2];   // filter positions, m_nRare[0] < m_nRare[1] < length
  WORD Good(DWORD j) const { return LoadGood(m_tables.data() + 256 + 2 * static_cast<size_t>(j)); }
  static WORD LoadGood(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_SEEKSUBSTR_H
