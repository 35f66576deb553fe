// Result codes of the pattern search facility (0x0F), named once.
//
//   CRegExpr re;
//   HRESULT hr = re.Compile("a(b", 1, 0);
//   if (hr == E_SEEK_SYNTAX) puts(re.GetErrorText());   // the lexer's message
//
// Matchers also return the generic codes of foundation/results.h: E_POINTER
// without a pattern, E_FAIL for a short or malformed record, E_RECORD_VERSION
// for a record of another version, ERROR_NOT_ENOUGH_MEMORY (8) and
// ERROR_INVALID_DATA_RECORD (1392) where their headers say so.
#ifndef TELSOR_SEARCH_SEARCHRESULTS_H
#define TELSOR_SEARCH_SEARCHRESULTS_H

#include "foundation/results.h"

#define E_SEEK_SYNTAX ((int32_t)0xE00F0001u)            // regular-expression syntax error
#define E_SEEK_TOO_MANY_STATES ((int32_t)0xE00F0002u)   // the automaton outgrew its limit
#define E_SEEK_WORD_TOO_LONG ((int32_t)0xE00F0003u)     // a word of 0xFFFF bytes or more
#define E_SEEK_PATTERN_TOO_LONG ((int32_t)0xE00F0004u)  // a pattern of 0xFFFF bytes or more
#define E_SEEK_TOO_MANY_NODES ((int32_t)0xE00F0005u)    // syntax tree or position sets too large

#endif  // TELSOR_SEARCH_SEARCHRESULTS_H
