// CSeekDictionary: whole-text equality with any word of a sorted word list
// (Sieve tests with several keys whose match type is not ":contains").
//
//   const char* words[] = {"Beta", "alpha", nullptr};
//   CSeekDictionary d;
//   d.Compile(words, 0);                    // case ignored
//   DWORD len;
//   DWORD at = d.Search("ALPHA", 5, &len);  // 0, len 5
//   const char* first = d.GetPattern(0);    // "alpha" (sorted order)
//
// The words live in one block laid out as in the record: count
// entries of 8 bytes (u32 offset of the word from the block start, u16
// length, u16 0; little-endian), then the words, each followed by NUL.
//
// Record: the base record (no pattern), u32 word count N; when N > 0 the
// u32 block size S (exact) and the S bytes of the block. Loading checks
// every entry: the word lies behind the entries and inside the block, has
// no NUL inside and is followed by one (E_FAIL otherwise).
//
// Exactly len bytes of the text are compared; the text need not be
// NUL-terminated. Streams are not searched.
#ifndef TELSOR_SEARCH_SEEKDICTIONARY_H
#define TELSOR_SEARCH_SEEKDICTIONARY_H

#include <vector>

#include "search/seekpattern.h"

namespace telsor {

class CSeekDictionary : public CSeekPattern {
 public:
  CSeekDictionary();
  ~CSeekDictionary() override;

  using CSeekPattern::Compile;
  // words: null-terminated array of C strings. Returns 0, E_POINTER for a
  // null array, E_SEEK_WORD_TOO_LONG for a word of 0xFFFF bytes or more (dictionary
  // left empty), E_OUTOFMEMORY when memory runs out.
  virtual HRESULT Compile(const char** words, int caseSensitive);
  // 0 with *matchLen = text length when the text equals a word, else -1.
  // Texts longer than 65535 bytes never match.
  DWORD Search(const char* text, DWORD len, DWORD* matchLen) const override;
  DWORD Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const override;
  HRESULT Serialize(IStream* stream, int store) override;
  // Word of sorted entry index; null when index is out of range.
  const char* GetPattern(LONG index) const override;
  DWORD GetCount() const override { return m_nCount; }

  // Word order: strcasecmp / strcmp order of the words.
  static int NoCaseCmpWords(const void* a, const void* b);
  static int CaseCmpWords(const void* a, const void* b);

 private:
  void FreeWords();
  const BYTE* WordAt(DWORD i, DWORD* len) const;

  DWORD m_nCount;             // number of words
  std::vector<BYTE> m_block;  // entries then words; empty when no words
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_SEEKDICTIONARY_H
