// CSieveLex: the scanner of filter scripts, a flex scanner (sievelex.l)
// with line and column counting, comment skipping, the keyword table, the
// error text and a registry of the nodes made during one parse.
//
//   std::istringstream in("if size :over 1M { discard; }\r\nkeep");   // ";" missing
//   CSieveLex lex;
//   lex.switch_streams(&in, nullptr);
//   CSieveGrammar grammar;
//   int rc = grammar.yyparse(&lex);        // the lexer frees what a failed parse built
//   if (rc != 0) fputs(lex.GetErrorText(), stderr);  // "Line: <n>, Column: <m> : ...\n"
//
// Counting: every character that the scanner reads (look-ahead and comment
// text included) moves the counters: a line feed, a carriage return, or the
// two as a pair start a new line at column 0, a tab moves to the next
// multiple of 4, anything else adds one. The scanner reads one character at
// a time, so the counters stand just past what it has looked at; a token's
// column is never below 0.
//
// Bytes that cannot stand in a script end the parse with E_SIEVE_SYNTAX and
// one error line at their place: a NUL byte outside a comment ("Unexpected
// NUL byte." or, in a string, "NUL byte in a string."), and a bracket
// comment that never closes ("Unterminated comment.", at the "/*"). After
// such an error the scanner gives only the end of input and records no
// further line (GetFailure tells).
//
// The registry holds one reference to every node made during the parse and
// not yet adopted by a parent; the destructor releases what is left, so a
// failed parse frees everything it built. One object serves one parse on one
// thread; the keyword table is read-only and shared.
#ifndef TELSOR_FILTER_SIEVELEX_H
#define TELSOR_FILTER_SIEVELEX_H

#include <stdarg.h>
#include <stdint.h>

#include <istream>

#include "filter/exprtree.h"
#include "foundation/bufferedwriter.h"
#include "foundation/plist.h"
#include "foundation/tstring.h"

#if !defined(yyFlexLexerOnce)
#define yyFlexLexer CSieveFlexLexer
#include <FlexLexer.h>
#undef yyFlexLexer
#endif

// One row of the keyword table: the text, its length plus one, the token.
struct tag_SIEVE_KEYWORD {
  const char* text;
  int length;
  int token;
};

// The semantic value of a token or of a grammar symbol.
struct tag_SIEVE_VALUE {
  union {
    CExprTreeNode* node;                  // strings and nonterminals (may be null)
    const tag_SIEVE_KEYWORD* keyword;     // keywords and tags
    uint64_t number;                      // NUMBER
    DWORD code;                           // SYNTAX_ERROR: 0xE00A0016 or 0xE00A0017
    int ch;                               // a single character
  };
  ULONG line;
};

class CSieveLex : public CSieveFlexLexer {
 public:
  CSieveLex();
  ~CSieveLex() override;

  // The next token number (0 at end of input); GetValue() holds its value.
  int yylex() override;
  const tag_SIEVE_VALUE& GetValue() const { return m_value; }

  // Reads from in (null: the process's standard input).
  void SetInput(std::istream* in);

  int GetLine() const { return yylineno; }
  int GetColumn() const { return m_nTokenColumn; }

  // The row of the keyword or tag text of that length, ignoring case; null
  // when it is none.
  static const tag_SIEVE_KEYWORD* KeywordLookUp(const char* text, long length);

  // Appends "Line: N, Column: M : message\n" to the error text.
  void PrintError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // The same, under the name that parsers generated in the yacc manner call.
  void yyerror(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void VPrintError(const char* format, va_list args);
  const char* GetErrorText() const { return m_strError.c_str(); }

  // E_SIEVE_SYNTAX after a byte or comment the scanner refused, else 0.
  [[nodiscard]] HRESULT GetFailure() const { return m_nFailure; }

  void RegisterObject(CExprTreeNode* node);
  void UnRegisterObject(CExprTreeNode* node);
  void UnRegisterAllObjects();

 protected:
  int LexerInput(char* buffer, int size) override;
  void LexerError(const char* message) override;

 private:
  void MarkTokenStart();
  void SetTokenColumn(int column) { m_nTokenColumn = column > 0 ? column : 0; }
  // Records the error line at line and column and ends the scan.
  int Refuse(int line, int column, const char* message);
  int NulByte(bool inString);
  void CountChar(int c);
  int yygetc();
  void PushBack(int c);
  int SkipHashComment();
  int SkipBracketComment();
  int WordToken(bool tag);
  int NumberToken();
  int LongNumber();
  int NumberValue(const char* text, long length);
  int LongToken(bool tag);
  int StringToken(bool multiline);

  int m_nColumn;
  int m_nTokenColumn;
  bool m_bAfterCR;
  bool m_bInputEnded;  // the stream has no more characters
  HRESULT m_nFailure;
  telsor::TSTRING m_strError;
  telsor::CBufferedWriter m_string;
  tag_SIEVE_VALUE m_value;
  std::istream* m_pInput;
  telsor::CPList<CExprTreeNode*, CExprTreeNode*> m_registry;
};

#endif  // TELSOR_FILTER_SIEVELEX_H
