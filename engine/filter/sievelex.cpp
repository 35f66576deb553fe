// The filter-script scanner's own part: counting, comments, keywords,
// numbers, strings, error lines and the node registry. The token rules are
// in sievelex.l.
#include "filter/sievelex.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <iostream>
#include <memory>
#include <string>

#include "foundation/strhelpers.h"
#include "foundation/throwcode.h"
#include "sievegrammar.hpp"

namespace {

#define KEYWORD(text, token) {text, sizeof(text), token}

const tag_SIEVE_KEYWORD kKeywords[] = {
    KEYWORD("reject", ACTION_REJECT),
    KEYWORD("fileinto", ACTION_FILEINTO),
    KEYWORD("redirect", ACTION_REDIRECT),
    KEYWORD("keep", ACTION_KEEP),
    KEYWORD("discard", ACTION_DISCARD),
    KEYWORD("vacation", ACTION_VACATION),
    KEYWORD("if", IF_),
    KEYWORD("elsif", ELSIF_),
    KEYWORD("else", ELSE_),
    KEYWORD("require", CMD_REQUIRE),
    KEYWORD("stop", CMD_STOP),
    KEYWORD("allof", TEST_ALLOF),
    KEYWORD("anyof", TEST_ANYOF),
    KEYWORD("envelope", TEST_ENVELOPE),
    KEYWORD("exists", TEST_EXISTS),
    KEYWORD("false", TEST_FALSE),
    KEYWORD("header", TEST_HEADER),
    KEYWORD("not", TEST_NOT),
    KEYWORD("size", TEST_SIZE),
    KEYWORD("true", TEST_TRUE),
    KEYWORD("address", TEST_ADDRESS),
    KEYWORD("body", TEST_BODY),
    KEYWORD("attachment", TEST_ATTACHMENT),
    KEYWORD("x_spamtest", TEST_X_SPAMTEST),
    KEYWORD(":days", TAG_DAYS),
    KEYWORD(":mime", TAG_MIME),
    KEYWORD(":comparator", TAG_COMPARATOR),
    KEYWORD(":addresses", TAG_ADDRESSES),
    KEYWORD(":subject", TAG_SUBJECT),
    KEYWORD(":text", TAG_TEXT),
    KEYWORD(":raw", TAG_RAW),
    KEYWORD(":content_type", TAG_CONTENT_TYPE),
    KEYWORD(":content", TAG_CONTENT_TYPE),
    KEYWORD(":is", TAG_IS),
    KEYWORD(":contains", TAG_CONTAINS),
    KEYWORD(":matches", TAG_MATCHES),
    KEYWORD(":regex", TAG_REGEX),
    KEYWORD(":count", TAG_COUNT),
    KEYWORD(":value", TAG_VALUE),
    KEYWORD(":localpart", TAG_LOCALPART),
    KEYWORD(":domain", TAG_DOMAIN),
    KEYWORD(":all", TAG_ALL),
    KEYWORD(":over", TAG_OVER),
    KEYWORD(":under", TAG_UNDER),
    {nullptr, 0, 0},
};

#undef KEYWORD

static_assert(sizeof kKeywords / sizeof kKeywords[0] == 45, "44 keyword rows and the end row");

}  // namespace

CSieveLex::CSieveLex()
    : m_nColumn(0), m_nTokenColumn(0), m_bAfterCR(false), m_bInputEnded(false), m_nFailure(0), m_string(4096), m_value(), m_pInput(nullptr), m_registry(10) {}

CSieveLex::~CSieveLex() { UnRegisterAllObjects(); }

void CSieveLex::SetInput(std::istream* in) {
  m_pInput = in;
  if (in == nullptr)
    switch_streams(&std::cin, &std::cout);
  else
    switch_streams(in, nullptr);
}

// ---- counting

void CSieveLex::CountChar(int c) {
  bool afterCR = m_bAfterCR;
  m_bAfterCR = c == '\r';
  switch (c) {
    case '\n':
      // The line feed of a CR LF pair ends the line the CR ended.
      if (!afterCR) ++yylineno;
      m_nColumn = 0;
      break;
    case '\r':
      ++yylineno;
      m_nColumn = 0;
      break;
    case '\t':
      m_nColumn = (m_nColumn / 4) * 4 + 4;
      break;
    default:
      ++m_nColumn;
      break;
  }
}

int CSieveLex::LexerInput(char* buffer, int size) {
  (void)size;   // one character at a time, so the counters never run ahead
  int n = CSieveFlexLexer::LexerInput(buffer, 1);
  if (n > 0)
    CountChar(static_cast<unsigned char>(buffer[0]));
  else
    m_bInputEnded = true;
  return n;
}

// The scanner skeleton reports only conditions it cannot go on from (no
// memory for a buffer, a failing read): the parse ends with a code.
void CSieveLex::LexerError(const char* message) {
  if (message != nullptr && strstr(message, "memory") != nullptr) telsor::AfxThrowMemoryException();
  telsor::ThrowCode(static_cast<DWORD>(E_FAIL));
}

void CSieveLex::MarkTokenStart() { SetTokenColumn(m_nColumn - yyleng); }

int CSieveLex::Refuse(int line, int column, const char* message) {
  if (m_nFailure != 0) return 0;
  int saved = yylineno;
  yylineno = line;
  SetTokenColumn(column);
  PrintError("%s", message);
  yylineno = saved;
  m_nFailure = E_SIEVE_SYNTAX;
  return 0;
}

int CSieveLex::NulByte(bool inString) {
  MarkTokenStart();
  return Refuse(yylineno, m_nTokenColumn, inString ? "NUL byte in a string." : "Unexpected NUL byte.");
}

// One character through the scanner's buffer, or -1 at the end of input (a
// NUL byte reads as 0). What was read before counts as consumed, so the
// buffer never moves it again: long runs cost linear time.
int CSieveLex::yygetc() {
  yytext = yy_c_buf_p;
  int c = yyinput();
  if (c == 0 && m_bInputEnded) return -1;
  return c;
}

// Gives the look-ahead character back to the scanner (it stays counted, as
// it was read); nothing at the end of input.
void CSieveLex::PushBack(int c) {
  if (c >= 0) yyunput(c, yytext);
}

int CSieveLex::SkipHashComment() {
  m_nTokenColumn = m_nColumn;
  int c;
  do {
    c = yygetc();
  } while (c != '\n' && c != '\r' && c != 0 && c != -1);
  if (c == 0) return Refuse(yylineno, m_nColumn, "Unexpected NUL byte.");
  m_nColumn = 0;
  m_nTokenColumn = 0;
  return c;
}

int CSieveLex::SkipBracketComment() {
  const int line = yylineno;
  const int column = m_nColumn - 2;
  m_nTokenColumn = m_nColumn;
  int c = yygetc();
  while (c != 0 && c != -1) {
    if (c == '*') {
      c = yygetc();
      while (c == '*') c = yygetc();
      if (c == '/') {
        ++m_nColumn;
        return c;
      }
      continue;
    }
    c = yygetc();
  }
  if (c == 0) {
    Refuse(yylineno, m_nColumn, "Unexpected NUL byte.");
  } else {
    Refuse(line, column, "Unterminated comment.");
  }
  return c;
}

// ---- tokens

const tag_SIEVE_KEYWORD* CSieveLex::KeywordLookUp(const char* text, long length) {
  if (text == nullptr || length < 0) return nullptr;
  for (const tag_SIEVE_KEYWORD* row = kKeywords; row->text != nullptr; ++row)
    if (row->length == length + 1 && strncasecmp(row->text, text, static_cast<size_t>(length)) == 0) return row;
  return nullptr;
}

// A word or a tag: its keyword row, else SYNTAX_ERROR with the unknown
// word's code (an unknown tag also records an error line).
int CSieveLex::WordToken(bool tag) {
  MarkTokenStart();
  m_value.line = static_cast<ULONG>(yylineno);
  const tag_SIEVE_KEYWORD* row = KeywordLookUp(yytext, yyleng);
  if (row != nullptr) {
    m_value.keyword = row;
    return row->token;
  }
  m_value.code = static_cast<DWORD>(tag ? E_SIEVE_UNKNOWN_TAG : E_SIEVE_UNKNOWN_IDENTIFIER);
  if (tag) PrintError("'%s' : unknown tag.", yytext);
  return SYNTAX_ERROR;
}

int CSieveLex::NumberToken() {
  MarkTokenStart();
  return NumberValue(yytext, yyleng);
}

namespace {

bool IsIdentifierChar(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsUnit(int c) { return strchr("KkMmGg", c) != nullptr && c != 0; }

}  // namespace

int CSieveLex::LongNumber() {
  // The rule matched 31 digits, or digits and 31 blanks: read on as the
  // number rule would, then give back the character after the number.
  std::string text(yytext, static_cast<size_t>(yyleng));
  bool inDigits = yytext[yyleng - 1] >= '0' && yytext[yyleng - 1] <= '9';
  int c = yygetc();
  if (inDigits)
    for (; c >= '0' && c <= '9'; c = yygetc()) text += static_cast<char>(c);
  for (; c == ' ' || c == '\t'; c = yygetc()) text += static_cast<char>(c);
  if (IsUnit(c)) {
    text += static_cast<char>(c);
    c = yygetc();
  }
  PushBack(c);
  SetTokenColumn(m_nColumn - static_cast<int>(text.size()));
  return NumberValue(text.c_str(), static_cast<long>(text.size()));
}

int CSieveLex::LongToken(bool tag) {
  std::string text(yytext, static_cast<size_t>(yyleng));
  int c = yygetc();
  for (; IsIdentifierChar(c); c = yygetc()) text += static_cast<char>(c);
  PushBack(c);
  SetTokenColumn(m_nColumn - static_cast<int>(text.size()));
  m_value.line = static_cast<ULONG>(yylineno);
  // Longer than every keyword and tag: unknown.
  if (tag) {
    m_value.code = static_cast<DWORD>(E_SIEVE_UNKNOWN_TAG);
    PrintError("'%s' : unknown tag.", text.c_str());
  } else {
    m_value.code = static_cast<DWORD>(E_SIEVE_UNKNOWN_IDENTIFIER);
  }
  return SYNTAX_ERROR;
}

int CSieveLex::NumberValue(const char* text, long length) {
  // The digits as an unsigned 32-bit number, saturating; then the unit.
  uint64_t value = 0;
  for (long i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
  }
  switch (text[length - 1]) {
    case 'G': case 'g': value *= 1073741824u; break;
    case 'M': case 'm': value *= 1048576u; break;
    case 'K': case 'k': value *= 1024u; break;
    default: break;
  }
  m_value.number = value;
  m_value.line = static_cast<ULONG>(yylineno);
  return NUMBER;
}

int CSieveLex::StringToken(bool multiline) {
  const char* text = m_string.c_data();
  CQuotedString* node = multiline ? new CMultiline(text) : new CQuotedString(text);
  RegisterObject(node);
  m_value.node = node;
  m_value.line = static_cast<ULONG>(yylineno);
  m_string.Empty();
  return multiline ? MULTI_LINE : QUOTED_STRING;
}

// ---- errors

void CSieveLex::PrintError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrintError(format, args);
  va_end(args);
}

void CSieveLex::yyerror(const char* format, ...) {
  va_list args;
  va_start(args, format);
  VPrintError(format, args);
  va_end(args);
}

void CSieveLex::VPrintError(const char* format, va_list args) {
  // After a refused byte the parse only winds down: its own line stands alone.
  if (m_nFailure != 0) return;
  va_list copy;
  va_copy(copy, args);
  int bound = telsor::FormatLenVA(format, copy);
  va_end(copy);
  size_t size = static_cast<size_t>(bound) + 32;
  std::unique_ptr<char, void (*)(void*)> message(static_cast<char*>(malloc(size)), free);
  if (message == nullptr) telsor::AfxThrowMemoryException();
  va_copy(copy, args);
  vsnprintf(message.get(), size, format, copy);
  va_end(copy);
  message.get()[size - 1] = '\0';
  char head[64];
  int n = snprintf(head, sizeof head, "Line: %d, Column: %d : ", yylineno, m_nTokenColumn);
  m_strError.append(head, n);
  m_strError.append(message.get(), -1);
  m_strError.append("\n", 1);
}

// ---- node registry

void CSieveLex::RegisterObject(CExprTreeNode* node) {
  if (node == nullptr) return;
  node->AddRef();
  try {
    m_registry.AddTail(node);
  } catch (...) {
    node->Release();
    throw;
  }
}

void CSieveLex::UnRegisterObject(CExprTreeNode* node) {
  if (node == nullptr) return;
  // A node is registered once, when it is made, and is usually adopted soon
  // after: the search runs from the newest entry.
  for (void* pos = m_registry.GetTailPosition(); pos != nullptr;) {
    void* here = pos;
    if (m_registry.GetPrev(pos) == node) {
      m_registry.RemoveAt(here);
      node->Release();
      return;
    }
  }
}

void CSieveLex::UnRegisterAllObjects() {
  // Emptied first: a release never reaches back into the registry.
  while (!m_registry.IsEmpty()) {
    void* pos = m_registry.GetHeadPosition();
    CExprTreeNode* node = m_registry.GetAt(pos);
    m_registry.RemoveAt(pos);
    node->Release();
  }
}
