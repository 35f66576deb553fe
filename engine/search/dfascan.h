// CDFAScanner: runs text through a compiled automaton for the matchers
// that own one (CRegExpr, CSeekMultiWords): the scan loops over buffers
// and stream blocks, and the flat copy of the table that makes them fast.
//
//   std::vector<tag_TRANS_ENTRY> moves = {{0, 1, 'a'}, {1, 2, 'b'}};
//   CSetBits accepting;
//   accepting.SetBitAt(2, 1);
//   CSharedObjPtr<CDFATransTable> table = new CDFATransTable;   // or loaded
//   table->Build(moves, 3, 256, accepting);
//   BYTE map[256];                                  // text byte -> table index
//   for (int c = 0; c < 256; ++c) map[c] = static_cast<BYTE>(c);
//   CDFAScanner scanner;
//   scanner.Prepare(table, map, CDFAScanner::LONGEST, 512, {});
//   DWORD len = 0;
//   DWORD at = scanner.Search(reinterpret_cast<const BYTE*>("abx"), 3, &len);   // 0, length 2
//
// Modes (state 0 starts; the match start is the last offset read in state
// 0 before the match was decided):
//   FIRST_ACCEPT  the first accepting state ends the scan
//   LONGEST       the longest run from that start: the scan goes on until
//                 the automaton dies or the text ends
//   AT_END        only an accept on the last byte counts (for streams: the
//                 last byte asked for, or the last byte before the stream
//                 ends)
//   WORDS         leftmost-longest occurrence of the words of an automaton
//                 that never dies (Aho-Corasick): wordLength gives per
//                 state the longest word ending there
//
// The packed CDFATransTable stays the stored and shared form. Prepare adds
// a flat copy when it fits (at most 4096 x 256 cells: byte classes, rows
// of successor pointers, accepting rows and the dead row last) in one pass
// over the table's rows. When at most 16 bytes leave the start state, the
// scans skip over the bytes that keep it (three such bytes are looked for
// 16 at a time, more through a table; with one, near misses of the bytes a
// match starts with are passed over too); when more bytes leave it, a
// first-accept scan steps two bytes per lookup where both stay among plain
// states (a table of at most 64 KiB, else none). Without the flat copy
// the packed table is walked. All give the same results.
//
// Search is const and may run from many threads at once; Prepare and
// Clear need exclusive use. Out of memory while building the flat copy
// leaves it out (the packed table still serves); nothing here throws.
#ifndef TELSOR_SEARCH_DFASCAN_H
#define TELSOR_SEARCH_DFASCAN_H

#include <memory>
#include <vector>

#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"
#include "search/dfatranstable.h"

namespace telsor {

class CDFAScanTable;  // the flat copy (dfascan.cpp)

class CDFAScanner {
 public:
  enum MODE : BYTE { FIRST_ACCEPT, LONGEST, AT_END, WORDS };

  CDFAScanner();
  ~CDFAScanner();
  CDFAScanner(const CDFAScanner&) = delete;
  CDFAScanner& operator=(const CDFAScanner&) = delete;

  // Scans with table (a reference is held; null scans nothing), reading
  // each text byte through map. Stream searches read blocks of streamBlock
  // bytes (1 to 4096). wordLength is for WORDS only. With flat false no
  // flat copy is made (the packed table is walked). rows, when the caller
  // has them, are the table's rows over byte classes: the flat copy is
  // made from them instead of from the table.
  void Prepare(CDFATransTable* table, const BYTE* map, MODE mode, DWORD streamBlock,
               std::vector<WORD> wordLength, bool flat = true, const tag_CLASS_ROWS* rows = nullptr);
  void Clear();

  // The match in p[0..n): its offset (length in *matchLen when given) or
  // SEEK_NOT_FOUND (*matchLen 0).
  DWORD Search(const BYTE* p, DWORD n, DWORD* matchLen) const;
  // At most maxBytes from the stream's position; the absolute offset (low
  // 32 bits). Nothing for maxBytes 0 or a failing Seek. A failing or empty
  // Read ends the data. The stream is left after the last block read.
  DWORD Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const;

  CDFATransTable* GetTable() const { return m_pTable; }  // no reference added
  const BYTE* GetMap() const { return m_map; }
  MODE GetMode() const { return m_mode; }
  // Bytes held: the table, the flat copy, the word lengths.
  size_t GetBytesHeld() const;
  // The fast paths in use (tests and benchmarks).
  bool HasFlat() const;
  bool HasPairs() const;
  bool CanSkip() const;
  void DropFlat();  // walk the packed table from now on

 private:
  CSharedObjPtr<CDFATransTable> m_pTable;
  BYTE m_map[256];
  MODE m_mode;
  DWORD m_nStreamBlock;
  std::vector<WORD> m_wordLength;
  DWORD m_nLongest;  // longest word
  std::unique_ptr<CDFAScanTable> m_pFlat;  // null when the table is walked
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_DFASCAN_H
