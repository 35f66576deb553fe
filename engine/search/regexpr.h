// CRegExpr: the regular-expression matcher of the CSeekPattern family
// (Sieve ":regex" keys, the HTML converter's script-method finder).
//
//   const char* html = "<script>document.write(x)</script>";
//   CRegExpr re;
//   HRESULT hr = re.Compile("\\w\\s*\\.\\s*((write)|(writeln))\\s*\\(", 1, 0);
//   if (hr == E_SEEK_SYNTAX) puts(re.GetErrorText());   // which error, where
//   DWORD len;
//   DWORD at = re.Search(html, 0, &len);          // 8, length 15; SEEK_NOT_FOUND: none
//
// The pattern (syntax in fa.h) compiles through CDFA into a shared
// CDFATransTable plus three flags: bits 0 and 2 for a leading ^, bit 1 for
// a trailing $ that is not escaped (an even number of backslashes before
// it). Without regard to case the stored pattern text is lower-cased, but
// the automaton is built from the original text with the case folded after
// lexing, so \S, \W, \D and [[:upper:]] keep their meaning.
//
// Matching, byte by byte from the start with state 0 (NUL bytes of the
// text read as the NUL-substitute byte, upper-case ASCII as lower case):
// the match start is the last position read in state 0 before the first
// accept, so for an unanchored pattern it can lie before the matched text
// (ab on aab gives 0, length 3). Without flags the first accept wins; with
// ^ the longest run from the start; with $ only an accept on the last byte
// counts (for streams: the last byte asked for, or the last byte before
// the stream ends). An empty text is scanned as its terminating NUL.
//
// Compile results: 0; E_POINTER without a pattern; E_SEEK_PATTERN_TOO_LONG
// for 0xFFFF bytes or more; E_SEEK_SYNTAX (GetErrorText names the error and
// its position); E_SEEK_TOO_MANY_NODES; E_SEEK_TOO_MANY_STATES;
// ERROR_NOT_ENOUGH_MEMORY (8) when memory runs out. The three limits come
// with their texts (kPatternTooLong, kTooManyNodes, kTooManyStates). A
// failed compile leaves the matcher empty (no pattern, no table): it finds
// nothing.
//
// Record: u8 version 1, the base record, u8 flags, u8 has-table, then the
// table record when has-table is non-zero. A version other than 1 gives
// E_RECORD_VERSION, a short or malformed record E_FAIL, no memory
// E_OUTOFMEMORY; the error text is not stored.
//
// Search is const and may run from many threads on one compiled matcher;
// Compile and loading need exclusive use.
#ifndef TELSOR_SEARCH_REGEXPR_H
#define TELSOR_SEARCH_REGEXPR_H

#include "foundation/tstring.h"
#include "search/dfascan.h"
#include "search/dfatranstable.h"
#include "search/regexbudget.h"
#include "search/searchresults.h"
#include "search/seekpattern.h"

namespace telsor {

class CRegExpr : public CSeekPattern {
 public:
  enum : BYTE { FLAG_BOL = 0x01, FLAG_EOL = 0x02, FLAG_LONGEST = 0x04 };

  CRegExpr();
  ~CRegExpr() override;

  HRESULT Compile(const char* pattern, int caseSensitive, DWORD len) override;
  // The same under a budget shared with other patterns (regexbudget.h;
  // null: this pattern's own limits only). A compile that reaches a limit
  // the budget lowered fails with E_SEEK_TOO_MANY_STATES, the error text
  // kBudgetSpent and the budget marked spent.
  HRESULT Compile(const char* pattern, int caseSensitive, DWORD len, CRegExprBudget* budget);

  // Error texts of the limits (the syntax errors carry the lexer's own).
  static const char kTooManyStates[];
  static const char kPatternTooLong[];
  static const char kTooManyNodes[];
  static const char kBudgetSpent[];
  DWORD Search(const char* text, DWORD len, DWORD* matchLen) const override;
  // Reads up to maxBytes from the stream's position in blocks of 512 bytes
  // and returns the absolute offset; -1 for maxBytes 0 or a failing Seek.
  // A failing or empty Read ends the data. The stream is left after the
  // last block read.
  DWORD Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const override;
  HRESULT Serialize(IStream* stream, int store) override;

  // The scans behind Search, over any table (this matcher's flags, case
  // rule and NUL substitute apply). len is the text length (0 scans one
  // byte, the terminating NUL).
  DWORD SimulateAutomaton(CDFATransTable* table, const char* text, DWORD len, DWORD* matchLen) const;
  DWORD SimulateAutomaton(CDFATransTable* table, IStream* stream, DWORD maxBytes, DWORD* matchLen) const;

  const TSTRING& GetErrorText() const { return m_strError; }
  BYTE GetFlags() const { return m_flags; }
  CDFATransTable* GetTable() const { return m_scan.GetTable(); }  // no reference added
  // Bytes held by the compiled matcher: pattern, table and scan tables.
  size_t GetBytesHeld() const { return sizeof *this + m_nLength + m_scan.GetBytesHeld(); }

 protected:
  // The scanner for table (may be null) with this matcher's byte map (case,
  // NUL substitute) and the mode its flags give; rows: the table's class
  // rows when the compiler has them.
  void PrepareScan(CDFATransTable* table, const tag_CLASS_ROWS* rows = nullptr);
  CDFAScanner::MODE ScanMode() const;

  TSTRING m_strError;
  BYTE m_flags;
  BYTE m_version;
  CDFAScanner m_scan;  // holds the table; empty when none
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_REGEXPR_H
