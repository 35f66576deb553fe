// CSeekMultiWords: the first occurrence of any of many words in one pass
// (Sieve ":contains" with several keys, the MIME parser's header-name and
// message-end finders, the HTML detector, which derives from it).
//
//   const char* words[] = {"From:", "Subject:", "\n.\n", nullptr};
//   CSeekMultiWords m;
//   m.Compile(words, 0);                     // case ignored; empty words skipped
//   DWORD len;
//   DWORD at = m.Search("To: a\nSUBJECT: b", 0, &len);   // 6, length 8
//
// Result: the word occurrence that starts first; of several starting
// there, the longest. Offset and length are those of the word itself.
//
// The words form an Aho-Corasick automaton (a trie whose missing moves
// follow the failure links), packed into a CDFATransTable over a
// compressed alphabet: each byte that occurs in a word is its own index,
// every other byte index 0, and without regard to case both cases of a
// letter share an index. Per state the length of the longest word ending
// there gives the start of a hit; the scan (CDFAScanner, dfascan.h, in
// its WORDS mode) goes on after a hit only as far as a longer or
// earlier-starting word could still end.
//
// Compile results: 0 (also for a list without non-empty words: a matcher
// that finds nothing); E_POINTER for a null list; E_SEEK_WORD_TOO_LONG for
// a word of 65535 bytes or more; E_SEEK_TOO_MANY_STATES when the words need
// more than 65535 trie states; ERROR_NOT_ENOUGH_MEMORY (8) when memory runs
// out. A failed compile leaves the matcher without words. Words are kept
// lower-cased when case is ignored.
//
// Record: the base record (no pattern), u8 version 1, u32 word count, then
// per word u16 length and its bytes. Loading compiles the words again, so a
// damaged record can never give an inconsistent automaton (E_FAIL for a
// short or malformed record, E_RECORD_VERSION for another version).
//
// Search is const and may run from many threads at once; Compile and
// loading need exclusive use.
#ifndef TELSOR_SEARCH_SEEKMULTIWORDS_H
#define TELSOR_SEARCH_SEEKMULTIWORDS_H

#include <vector>

#include "foundation/tstring.h"
#include "search/dfascan.h"
#include "search/dfatranstable.h"
#include "search/searchresults.h"
#include "search/seekpattern.h"

namespace telsor {

class CSeekMultiWords : public CSeekPattern {
 public:
  CSeekMultiWords();
  ~CSeekMultiWords() override;

  // words: null-terminated array of C strings.
  virtual HRESULT Compile(const char** words, int caseSensitive);
  // One word: the len bytes of pattern (strlen when 0).
  HRESULT Compile(const char* pattern, int caseSensitive, DWORD len) override;
  DWORD Search(const char* text, DWORD len, DWORD* matchLen) const override;
  // Searches up to maxBytes from the stream's position; words straddling
  // the blocks read are found. A failing or empty Read ends the data. The
  // stream is left after the last block read.
  DWORD Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const override;
  HRESULT Serialize(IStream* stream, int store) override;
  // Word index in compile order (empty words skipped); null when out of range.
  const char* GetPattern(LONG index) const override;
  DWORD GetCount() const override { return static_cast<DWORD>(m_words.size()); }

  CDFATransTable* GetTable() const { return m_scan.GetTable(); }  // no reference added
  // Bytes held by the compiled matcher: words, table and scan tables.
  size_t GetBytesHeld() const;
  DWORD GetAlphabetSize() const { return m_nAlphabet; }

 protected:
  void Cleanup();
  HRESULT Build();  // the automaton for m_words (may throw)

  std::vector<TSTRING> m_words;
  BYTE m_classes[256];  // text byte -> alphabet index
  DWORD m_nAlphabet;
  CDFAScanner m_scan;   // holds the table; empty without words
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_SEEKMULTIWORDS_H
