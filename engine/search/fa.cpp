// The lexer of the regular-expression compiler and its exception.
//
// GetLexToken reads one token at the read position; bracket expressions and
// brace quantifiers have their own readers. Every syntax error names the
// byte offset (GetPos) at which it was noticed. Character classes use the
// C library's tests in the C locale over bytes 0..254.
#include "search/fa.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "search/seekpattern.h"

namespace telsor {

namespace {
struct tag_CHAR_CLASS {
  const char* name;
  size_t length;
  int (*test)(int);
};

const tag_CHAR_CLASS kClasses[12] = {
    {":alnum:", 7, isalnum}, {":alpha:", 7, isalpha}, {":blank:", 7, isspace},
    {":cntrl:", 7, iscntrl}, {":digit:", 7, isdigit}, {":graph:", 7, isgraph},
    {":lower:", 7, islower}, {":print:", 7, isprint}, {":punct:", 7, ispunct},
    {":space:", 7, isspace}, {":upper:", 7, isupper}, {":xdigit:", 8, isxdigit},
};
const int kClassCount = static_cast<int>(sizeof kClasses / sizeof kClasses[0]);
// The rows behind \d and \s, and the word bytes of \w after the table's rows.
const int kDigitClass = 4;
const int kSpaceClass = 9;
const int kWordClass = kClassCount;

// Latin-1 equivalence groups, searched in this order; 0 ends a group.
const BYTE kGroups[7][6] = {
    {'a', 0xE0, 0xE2, 0xE4, 0, 0},    {'e', 0xE9, 0xE8, 0xEA, 0xEB, 0},
    {'c', 0xE7, 0xA2, 0, 0, 0},       {'i', 0xEF, 0xEE, 0xEC, 0xED, 0},
    {'o', 0xF2, 0xF6, 0xF3, 0xF4, 0}, {'u', 0xFC, 0xFB, 0xF9, 0xFA, 0},
    {'n', 0xF1, 0, 0, 0, 0},
};

int IsWordByte(int c) { return isalnum(c) || c == '_'; }

// The members of each class of kClasses, then of the word bytes, among
// bytes 0..254 (bit c in byte c / 8), read off the tests once.
typedef BYTE tag_CLASS_MASK[32];
const tag_CLASS_MASK* ClassMasks() {
  static const struct CMasks {
    tag_CLASS_MASK masks[kClassCount + 1];
    CMasks() : masks() {
      for (int k = 0; k <= kClassCount; ++k) {
        int (*test)(int) = k < kWordClass ? kClasses[k].test : IsWordByte;
        for (int c = 0; c < 255; ++c)
          if (test(c)) masks[k][c >> 3] = static_cast<BYTE>(masks[k][c >> 3] | (1u << (c & 7)));
      }
    }
  } all;
  return all.masks;
}

// Writes value into every member of class k (ClassMasks).
void WriteClass(CSetBits& set, int k, int value) { set.WriteMask(ClassMasks()[k], sizeof(tag_CLASS_MASK), value); }

// Set for \d \s \w, or their complements \D \S \W (all 256 bytes but the
// members of the lower-case escape).
CSetBits EscapeSet(char letter) {
  int k = kWordClass;
  switch (tolower(static_cast<unsigned char>(letter))) {
    case 'd': k = kDigitClass; break;
    case 's': k = kSpaceClass; break;
    default: break;
  }
  CSetBits set;
  if (isupper(static_cast<unsigned char>(letter))) {
    set.SetBits(0, 255, 1);
    WriteClass(set, k, 0);
  } else {
    WriteClass(set, k, 1);
  }
  return set;
}

// Positive set: gains the lower-case form of each upper-case member.
void FoldPositive(CSetBits& set) {
  for (DWORD c = 'A'; c <= 'Z'; ++c)
    if (set.GetBitAt(c)) set.SetBitAt(c + 32, 1);
}

// Negated set (all bytes but some): the fold applies to the excluded
// members before the negation, so an excluded upper-case letter also
// excludes its lower-case form.
void FoldNegated(CSetBits& set) {
  for (DWORD c = 'A'; c <= 'Z'; ++c)
    if (!set.GetBitAt(c)) set.SetBitAt(c + 32, 0);
}
}  // namespace

// ---- CFAException ----

CFAException::CFAException(DWORD code, const char* message)
    : CException(1), m_dwCode(code), m_strMessage(message != nullptr ? message : "") {}

CFAException::~CFAException() {}

BOOL CFAException::GetErrorMessage(char* buffer, UINT size, UINT* helpContext) {
  if (helpContext != nullptr) *helpContext = 0;
  if (buffer == nullptr || size == 0) return !m_strMessage.IsEmpty();
  snprintf(buffer, size, "%s", m_strMessage.c_str());
  return !m_strMessage.IsEmpty();
}

// ---- lexer ----

void CFA::ThrowSyntax(const char* format, ...) const {
  // Longest message with a 10-digit position fits with room to spare.
  char text[128];
  va_list args;
  va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vsnprintf(text, sizeof text, format, args);
#pragma GCC diagnostic pop
  va_end(args);
  throw new CFAException(static_cast<DWORD>(E_SEEK_SYNTAX), text);
}

DWORD CFA::GetPos() const {
  if (m_pPattern == nullptr || m_pRead == nullptr) return 0;
  return static_cast<DWORD>(m_pRead - m_pPattern.get());
}

void CFA::FoldToken(tag_TOKEN_REGEXPR& token) const {
  if (!m_bFoldCase) return;
  if (token.kind == TOK_CHAR) {
    token.ch = FoldByte(static_cast<BYTE>(token.ch));
  } else if (token.kind == TOK_STRING) {
    TSTRING folded = token.text;
    for (int i = 0; i < folded.GetLength(); ++i)
      folded.SetAt(i, static_cast<char>(FoldByte(static_cast<BYTE>(folded[i]))));
    token.text = folded;
  }
}

tag_TOKEN_REGEXPR CFA::GetLexToken() {
  if (m_pPattern == nullptr || m_pRead == nullptr)
    throw new CFAException(static_cast<DWORD>(E_POINTER), nullptr);
  tag_TOKEN_REGEXPR token;
  token.position = GetPos();
  const bool first = m_pRead == m_pPattern.get();
  const char c = *m_pRead;
  if (c != '\0') ++m_pRead;
  switch (c) {
    case '\0': token.kind = TOK_END; break;
    case '(': token.kind = TOK_OPEN; break;
    case ')': token.kind = TOK_CLOSE; break;
    case '*': token.kind = TOK_STAR; break;
    case '+': token.kind = TOK_PLUS; break;
    case '?': token.kind = TOK_OPT; break;
    case '.': token.kind = TOK_ANY; break;
    case '|': token.kind = TOK_OR; break;
    case '$':
      if (*m_pRead == '\0') {
        token.kind = TOK_EOL;
      } else {
        token.kind = TOK_CHAR;
        token.ch = '$';
      }
      break;
    case '^':
      if (first) {
        token.kind = TOK_BOL;
      } else {
        token.kind = TOK_CHAR;
        token.ch = '^';
      }
      break;
    case '[': {
      tag_TOKEN_REGEXPR bracket = ProcessBracketExpression();
      token.kind = bracket.kind;
      token.ch = bracket.ch;
      token.maximum = bracket.maximum;
      token.set = bracket.set;
      token.text = bracket.text;
      break;
    }
    case '{': {
      tag_TOKEN_REGEXPR repeat = ProcessQuantifier();
      token.kind = repeat.kind;
      token.ch = repeat.ch;
      token.maximum = repeat.maximum;
      break;
    }
    case '"': {
      token.kind = TOK_STRING;
      token.text.reserve(static_cast<int>(strlen(m_pRead)));
      for (;;) {
        char b = *m_pRead;
        if (b == '\0') ThrowSyntax("Unexpected EOS");
        ++m_pRead;
        if (b == '"') break;
        if (b == '\\') {
          if (*m_pRead == '\0') ThrowSyntax("Unexpected EOS");
          DWORD used = 0;
          b = static_cast<char>(CSeekPattern::DecodeESC(m_pRead, &used));
          m_pRead += used;
        }
        token.text.ConcatInPlace(1, &b);
      }
      break;
    }
    case '\\': {
      const char e = *m_pRead;
      if (e == '\0') ThrowSyntax("Unfinished \\ escape");
      if (strchr("dswDSW", e) != nullptr) {
        ++m_pRead;
        token.kind = TOK_SET;
        token.set = EscapeSet(e);
        if (m_bFoldCase) {
          if (isupper(static_cast<unsigned char>(e))) {
            FoldNegated(token.set);
          } else {
            FoldPositive(token.set);
          }
        }
      } else {
        DWORD used = 0;
        token.kind = TOK_CHAR;
        token.ch = CSeekPattern::DecodeESC(m_pRead, &used) & 0xFF;
        m_pRead += used;
      }
      break;
    }
    default:
      token.kind = TOK_CHAR;
      token.ch = static_cast<BYTE>(c);
      break;
  }
  FoldToken(token);
  return token;
}

tag_TOKEN_REGEXPR CFA::ProcessBracketExpression() {
  tag_TOKEN_REGEXPR token;
  token.kind = TOK_SET;
  CSetBits& set = token.set;
  int value = 1;
  if (*m_pRead == '^') {
    set.SetBits(0, 255, 1);
    ++m_pRead;
    value = 0;
  }
  BYTE previous = 0;  // 0: no byte a range could start from
  if (*m_pRead == ']' || *m_pRead == '-') {
    previous = static_cast<BYTE>(*m_pRead++);
    set.SetBitAt(previous, value);
  }
  for (;;) {
    const char c = *m_pRead;
    if (c == ']') {
      ++m_pRead;
      break;
    }
    if (c == '\0') ThrowSyntax("Missing ']' when process bracket expression");
    ++m_pRead;
    if (c == '\\') {
      if (*m_pRead == '\0') ThrowSyntax("Missing ']' when process bracket expression");
      DWORD used = 0;
      previous = static_cast<BYTE>(CSeekPattern::DecodeESC(m_pRead, &used));
      m_pRead += used;
      set.SetBitAt(previous, value);
    } else if (c == '-') {
      const char u = *m_pRead;
      if (u == '\0') ThrowSyntax("Unexpected EOS");
      BYTE upper = static_cast<BYTE>(u);
      DWORD advance = 1;
      if (u == '\\') {
        if (m_pRead[1] == '\0') ThrowSyntax("Unexpected EOS");
        DWORD used = 0;
        upper = static_cast<BYTE>(CSeekPattern::DecodeESC(m_pRead + 1, &used));
        advance = 1 + used;
      }
      if (previous == 0) ThrowSyntax("Unexpected '-' at position %d", static_cast<int>(GetPos()));
      m_pRead += advance;
      set.SetBits(previous, upper, value);
      previous = 0;
    } else if (c == '[' && *m_pRead == '.') {
      ThrowSyntax("Collating element is not supported at position %d", static_cast<int>(GetPos()));
    } else if (c == '[' && *m_pRead == ':') {
      ProcessCharacterClass(set, value);
      previous = 0;
    } else if (c == '[' && *m_pRead == '=') {
      ProcessEquivalenceClass(set, value);
      previous = 0;
    } else {
      previous = static_cast<BYTE>(c);
      set.SetBitAt(previous, value);
    }
  }
  if (m_bFoldCase) {
    if (value) {
      FoldPositive(set);
    } else {
      FoldNegated(set);
    }
  }
  return token;
}

void CFA::ProcessCharacterClass(CSetBits& set, int value) {
  const char* p = m_pRead;
  const size_t have = strnlen(p, 8);
  if (have < 7 || p[0] != ':' || (p[6] != ':' && (have < 8 || p[7] != ':')))
    ThrowSyntax("Unknown character class at position %d", static_cast<int>(GetPos()));
  int found = -1;
  for (int k = 0; k < kClassCount; ++k) {
    if (have >= kClasses[k].length && strncasecmp(p, kClasses[k].name, kClasses[k].length) == 0) {
      found = k;
      break;
    }
  }
  if (found < 0) ThrowSyntax("Unknown character class at position %d", static_cast<int>(GetPos()));
  WriteClass(set, found, value);
  m_pRead = strchr(p + 1, ':') + 1;  // present: checked above
  if (*m_pRead != ']')
    ThrowSyntax("Expected ']' to end character class at position %d", static_cast<int>(GetPos()));
  ++m_pRead;
}

void CFA::ProcessEquivalenceClass(CSetBits& set, int value) {
  ++m_pRead;  // '='
  for (; *m_pRead != '\0' && *m_pRead != '='; ++m_pRead) {
    const BYTE c = static_cast<BYTE>(*m_pRead);
    const BYTE* group = nullptr;
    for (const BYTE* g : kGroups) {
      if (memchr(g, c, 6) != nullptr && c != 0) {
        group = g;
        break;
      }
    }
    if (group == nullptr) {
      set.SetBitAt(c, value);
    } else {
      for (int i = 0; i < 6 && group[i] != 0; ++i) set.SetBitAt(group[i], value);
    }
  }
  if (m_pRead[0] != '=' || m_pRead[1] != ']')
    ThrowSyntax("Expected '=]' to end equivalence class express at position %d",
                static_cast<int>(GetPos()));
  m_pRead += 2;
}

tag_TOKEN_REGEXPR CFA::ProcessQuantifier() {
  auto skipBlanks = [this]() {
    while (*m_pRead == ' ' || *m_pRead == '\t') ++m_pRead;
  };
  // Digits with the count clamped to 0x7FFFFFFF, as a 32-bit strtol gives.
  auto number = [this]() {
    uint64_t v = 0;
    for (; *m_pRead >= '0' && *m_pRead <= '9'; ++m_pRead) {
      v = v * 10 + static_cast<uint64_t>(*m_pRead - '0');
      if (v > 0x7FFFFFFFu) v = 0x7FFFFFFFu;
    }
    return static_cast<DWORD>(v);
  };
  tag_TOKEN_REGEXPR token;
  token.kind = TOK_REPEAT;
  skipBlanks();
  if (*m_pRead == '\0') ThrowSyntax("Unexpected EOS");
  token.ch = number();
  token.maximum = token.ch;
  skipBlanks();
  if (*m_pRead == ',') {
    ++m_pRead;
    skipBlanks();
    if (*m_pRead >= '0' && *m_pRead <= '9') {
      token.maximum = number();
      skipBlanks();
    } else {
      token.maximum = REPEAT_UNBOUNDED;
    }
  }
  if (*m_pRead == '\0') ThrowSyntax("Unexpected EOS");
  if (*m_pRead != '}')
    ThrowSyntax("Unexpected character '%c' at position %d", *m_pRead, static_cast<int>(GetPos()));
  if (token.maximum < token.ch) token.maximum = token.ch;
  ++m_pRead;
  return token;
}

}  // namespace telsor
