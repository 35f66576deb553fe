// The HTML tokenizer.
#include "mime/htmltokenizer.h"

#include <string.h>

#include <memory>
#include <new>

#include "foundation/exception.h"
#include "foundation/throwcode.h"
#include "mime/htmlentities.h"

namespace telsor {

namespace {

const ULONG kScratchStart = 4096;
// The longest entity name compared (detection never admits more than 9).
const ULONG kMaxEntityName = 128;

// White space of the "C" locale.
inline bool IsWhite(int c) { return c == ' ' || (c >= 9 && c <= 13); }
inline bool IsDigit(int c) { return c >= '0' && c <= '9'; }
inline int Fold(int c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

}  // namespace

int UnicodeToUTF8(ULONG code, char* out) {
  // Codes past the Unicode range wrap around it: 0x110000 becomes 0 and
  // 0x110041 becomes 0x41, while every code up to 0x10FFFF is kept.
  ULONG c = code % 0x110000;
  int n;
  if (c <= 0x7F) {
    out[0] = static_cast<char>(c);
    n = 1;
  } else if (c <= 0x7FF) {
    out[0] = static_cast<char>(0xC0 | c >> 6);
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    n = 2;
  } else if (c <= 0xFFFF) {
    out[0] = static_cast<char>(0xE0 | c >> 12);
    out[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    n = 3;
  } else {
    out[0] = static_cast<char>(0xF0 | c >> 18);
    out[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    n = 4;
  }
  out[n] = '\0';
  // Code 0: the NUL itself ends the text, which is then empty.
  return c == 0 ? 0 : n;
}

CHTMLTokenizer::CHTMLTokenizer(const unsigned char* data, ULONG length)
    : CStreamReader(data, length),
      m_pMem(data == nullptr ? reinterpret_cast<const unsigned char*>("") : data),
      m_nMemLen(data == nullptr ? 0 : length),
      m_nMemPos(0),
      m_nMode(MODE_TEXT),
      m_bNoClose(false),
      m_nNoCloseFrom(0),
      m_nEndDashes(0) {}

CHTMLTokenizer::CHTMLTokenizer(IStream* stream, ULONG length)
    : CStreamReader(stream, length),
      m_pMem(nullptr),
      m_nMemLen(0),
      m_nMemPos(0),
      m_nMode(MODE_TEXT),
      m_bNoClose(false),
      m_nNoCloseFrom(0),
      m_nEndDashes(0) {}

CHTMLTokenizer::~CHTMLTokenizer() {}

void CByteScratch::Grow(ULONG more) {
  ULONGLONG want = static_cast<ULONGLONG>(m_nUsed) + more;
  ULONGLONG room = m_nRoom == 0 ? kScratchStart : m_nRoom;
  while (room < want) room *= 2;
  // The bytes must fit a TSTRING.
  if (room > 0x7FFFFFFFull) room = 0x7FFFFFFFull;
  if (want > room) AfxThrowMemoryException();
  std::unique_ptr<char[]> fresh(new (std::nothrow) char[room]);
  if (fresh == nullptr) AfxThrowMemoryException();
  if (m_nUsed != 0) memcpy(fresh.get(), m_pBytes.get(), m_nUsed);
  m_pBytes = std::move(fresh);
  m_nRoom = static_cast<ULONG>(room);
}

void CByteScratch::Put(const char* p, ULONG n) {
  if (n > m_nRoom - m_nUsed) Grow(n);
  if (n != 0) memcpy(m_pBytes.get() + m_nUsed, p, n);
  m_nUsed += n;
}

void CByteScratch::MoveTo(TSTRING& text) {
  text.AssignCopy(static_cast<int>(m_nUsed), m_pBytes.get());
  m_nUsed = 0;
}

BOOL CHTMLTokenizer::MatchText(const char* literal) {
  if (m_pMem == nullptr) return Match(literal);
  size_t n = strlen(literal);
  if (m_nMemLen - m_nMemPos < n || memcmp(m_pMem + m_nMemPos, literal, n) != 0) return 0;
  m_nMemPos += static_cast<ULONG>(n);
  return 1;
}

HRESULT CHTMLTokenizer::Text(DWORD from, DWORD to, TSTRING& out) {
  if (m_pMem == nullptr) return ReadData(from, to, out);
  if (to > m_nMemLen) to = m_nMemLen;
  out.AssignCopy(to > from ? static_cast<int>(to - from) : 0, reinterpret_cast<const char*>(m_pMem) + from);
  return S_OK;
}

int CHTMLTokenizer::GetNextToken(tag_HTML_TOKEN& token) {
  token.nKind = HTML_WORD;
  token.strText.AssignCopy(0, nullptr);
  int c = Next();
  if (c == -1) {
    token.nKind = HTML_EOF;
    return 0;
  }
  if (m_nMode == MODE_SCRIPT_BODY || m_nMode == MODE_STYLE_BODY) {
    // The body begins with the character right after the start tag's ">".
    Back();
    if (m_nMode == MODE_SCRIPT_BODY) {
      GetScriptToken(token);
    } else {
      GetStyleToken(token);
    }
    m_nMode = MODE_TEXT;
    return 1;
  }
  // In every other mode white space is a blank token and an "&" that begins
  // an entity an entity token; neither changes the mode.
  if (IsWhite(c)) {
    Back();
    GetSpaceToken(token);
    return 1;
  }
  if (c == '&' && IsNextCharEntity()) {
    GetCharEntity(token);
    return 1;
  }
  switch (m_nMode) {
    case MODE_TEXT:
      if (c == '<') {
        if (MatchText("!--")) {
          GetComment(token);
        } else {
          token.nKind = HTML_TAG_OPEN;
          token.strText = '<';
          m_nMode = MODE_TAG_START;
        }
      } else {
        Back();
        GetWordToken(token);
      }
      break;

    case MODE_TAG_START:
      if (c == '"' || c == '\'') {
        token.nKind = c == '"' ? HTML_DQ_STRING : HTML_SQ_STRING;
        GetAttributeValue(token.strText, c == '"');
        m_nMode = MODE_IN_TAG;
      } else if (c == '>') {
        token.nKind = HTML_TAG_CLOSE;
        token.strText = '>';
        m_nMode = MODE_TEXT;
      } else {
        Back();
        GetNameHtmlTag(token);
        m_nMode = MODE_IN_TAG;
        if (token.nKind == HTML_TAG_NAME || token.nKind == HTML_WORD) {
          const char* name = token.strText.c_str();
          if (lstrcmpiA(name, "script") == 0) {
            m_nMode = MODE_SCRIPT_TAG;
          } else if (lstrcmpiA(name, "style") == 0) {
            m_nMode = MODE_STYLE_TAG;
          }
          // "/script" and "/style" stay in the in-tag mode.
        }
      }
      break;

    default:  // in a tag: in-tag, script-tag and style-tag modes
      if (c == '>') {
        token.nKind = HTML_TAG_CLOSE;
        token.strText = '>';
        m_nMode = m_nMode == MODE_SCRIPT_TAG  ? MODE_SCRIPT_BODY
                  : m_nMode == MODE_STYLE_TAG ? MODE_STYLE_BODY
                                              : MODE_TEXT;
      } else if (c == '=') {
        token.nKind = HTML_EQUAL;
        token.strText = '=';
      } else if (c == '"' || c == '\'') {
        token.nKind = c == '"' ? HTML_DQ_STRING : HTML_SQ_STRING;
        GetAttributeValue(token.strText, c == '"');
      } else {
        Back();
        GetWordToken(token);
      }
      break;
  }
  return 1;
}

bool CHTMLTokenizer::IsNextCharEntity() {
  DWORD back = Pos();
  bool entity = false;
  int c = Next();
  if (c == '#') {
    // "&#", up to 7 digits, ";".
    for (int i = 0; i < 8; ++i) {
      int d = Next();
      if (d == ';') {
        entity = true;
        break;
      }
      if (!IsDigit(d)) break;
    }
  } else if (c != ';' && c != -1) {
    // "&", one to eight characters of any kind, ";".
    for (int i = 0; i < 8; ++i) {
      int d = Next();
      if (d == -1) break;
      if (d == ';') {
        entity = true;
        break;
      }
    }
  }
  Seek(back);
  return entity;
}

ULONG CHTMLTokenizer::ReadEntityCode() {
  int c = Next();
  if (c == '#') {
    ULONG code = 0;
    while ((c = Next()) != -1 && c != ';') {
      if (IsDigit(c)) code = code * 10 + static_cast<ULONG>(c - '0');
    }
    return code;
  }
  char name[kMaxEntityName];
  ULONG n = 0;
  while (c != -1) {
    if (n < kMaxEntityName) name[n++] = static_cast<char>(c);
    if (c == ';') break;
    c = Next();
  }
  return LookupHtmlEntity(name, n);
}

void CHTMLTokenizer::GetCharEntity(tag_HTML_TOKEN& token) {
  ULONG code = ReadEntityCode();
  token.nKind = HTML_ENTITY;
  token.dwCode = code;
  if (code == 160 || code == 32) {
    token.strText = ' ';
  } else {
    char utf8[5];
    int n = UnicodeToUTF8(code, utf8);
    token.strText.AssignCopy(n, utf8);
  }
}

void CHTMLTokenizer::ReadWord() {
  if (m_pMem != nullptr) {
    // Over memory nothing is kept: the word is found where it lies.
    const bool text = m_nMode == MODE_TEXT;
    while (m_nMemPos < m_nMemLen) {
      const int c = m_pMem[m_nMemPos];
      if (IsWhite(c) || (text ? c == '<' : (c == '>' || c == '='))) return;
      ++m_nMemPos;
      if (c == '&' && IsNextCharEntity()) {
        --m_nMemPos;
        return;
      }
    }
    return;
  }
  for (;;) {
    int c = Next();
    if (c == -1) return;
    if (IsWhite(c) || (m_nMode == MODE_TEXT ? c == '<' : (c == '>' || c == '='))) {
      Back();
      return;
    }
    if (c == '&' && IsNextCharEntity()) {
      Back();
      return;
    }
    Keep(static_cast<char>(c));
  }
}

void CHTMLTokenizer::Keep(char c) {
  if (m_pMem == nullptr) m_scratch.Put(c);
}

void CHTMLTokenizer::TakeRaw(DWORD start, DWORD end, TSTRING& text) {
  if (m_pMem == nullptr) {
    m_scratch.MoveTo(text);
  } else {
    text.AssignCopy(static_cast<int>(end - start), reinterpret_cast<const char*>(m_pMem) + start);
  }
}

void CHTMLTokenizer::GetWordToken(tag_HTML_TOKEN& token) {
  token.nKind = HTML_WORD;
  const DWORD start = Pos();
  ReadWord();
  TakeRaw(start, Pos(), token.strText);
}

void CHTMLTokenizer::GetSpaceToken(tag_HTML_TOKEN& token) {
  token.nKind = HTML_SPACE;
  const DWORD start = Pos();
  if (m_pMem != nullptr) {
    while (m_nMemPos < m_nMemLen && IsWhite(m_pMem[m_nMemPos])) ++m_nMemPos;
    TakeRaw(start, m_nMemPos, token.strText);
    return;
  }
  for (;;) {
    int c = Next();
    if (c == -1) break;
    if (!IsWhite(c)) {
      Back();
      break;
    }
    Keep(static_cast<char>(c));
  }
  TakeRaw(start, Pos(), token.strText);
}

void CHTMLTokenizer::GetNameHtmlTag(tag_HTML_TOKEN& token) {
  int c = Peek();
  if (c == '<') {
    // Nothing consumed: the "<" starts a word inside the tag.
    token.nKind = HTML_WORD;
    return;
  }
  if (c == '/') {
    Next();
    while (IsWhite(c = Next())) {
    }
    if (c != -1) Back();
    if (c == '"' || c == '\'' || c == -1) {
      token.nKind = HTML_WORD;
      return;
    }
    token.nKind = HTML_TAG_NAME;
    m_scratch.Put('/');
    const DWORD word = Pos();
    ReadWord();
    if (m_pMem != nullptr) m_scratch.Put(reinterpret_cast<const char*>(m_pMem) + word, Pos() - word);
    if (m_scratch.Size() == 1) m_scratch.Clear();  // no word: an empty name
    m_scratch.MoveTo(token.strText);
    return;
  }
  const DWORD start = Pos();
  ReadWord();
  token.nKind = HTML_TAG_NAME;
  TakeRaw(start, Pos(), token.strText);
}

void CHTMLTokenizer::GetAttributeValue(TSTRING& value, int doubleQuoted) {
  const int quote = doubleQuoted ? '"' : '\'';
  for (;;) {
    int c = Next();
    if (c == -1 || c == quote) break;
    if (c == '<' || c == '>') {
      Back();
      break;
    }
    if (c == '&' && IsNextCharEntity()) {
      ULONG code = ReadEntityCode();
      if (code == 160 || code == 32) {
        m_scratch.Put(' ');
      } else {
        char utf8[5];
        m_scratch.Put(utf8, static_cast<ULONG>(UnicodeToUTF8(code, utf8)));
      }
      continue;
    }
    m_scratch.Put(static_cast<char>(c));
  }
  m_scratch.MoveTo(value);
}

void CHTMLTokenizer::GetComment(tag_HTML_TOKEN& token) {
  token.nKind = HTML_COMMENT;
  const DWORD start = Pos();
  // Dash count: 0, 1 or 2 (two dashes in a row, white space between allowed).
  int dashes = 0;
  bool remembered = false;
  DWORD afterFirstGt = 0;
  bool toEnd = false;
  DWORD end = 0;
  const bool known = m_bNoClose && start >= m_nNoCloseFrom;
  for (;;) {
    int c = Next();
    if (c == -1) {
      // This comment does not close. From any later start the dash count
      // after a reset character is the same as from here, so later comments
      // need not look past their first one.
      if (!m_bNoClose) {
        m_bNoClose = true;
        m_nNoCloseFrom = start;
        m_nEndDashes = dashes;
      }
      if (dashes == 2 || !remembered) {
        toEnd = true;
      } else {
        end = afterFirstGt;
      }
      break;
    }
    if (c == '-') {
      dashes = dashes == 1 ? 2 : 1;
      continue;
    }
    if (IsWhite(c)) continue;
    if (c == '>') {
      if (dashes == 2) {
        end = Pos();
        break;
      }
      if (!remembered) {
        remembered = true;
        afterFirstGt = Pos();
      }
    }
    dashes = 0;
    if (known) {
      // No close lies ahead; the count at the end is known.
      if (m_nEndDashes == 2) {
        toEnd = true;
      } else if (remembered) {
        end = afterFirstGt;
      } else {
        int d;
        while ((d = Next()) != -1 && d != '>') {
        }
        if (d == '>') {
          end = Pos();
        } else {
          toEnd = true;
        }
      }
      break;
    }
  }
  if (toEnd) {
    while (Next() != -1) {
    }
    end = Pos();
  }
  Seek(end);
  HRESULT hr = Text(start, end, token.strText);
  if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
  // Two dashes before trailing white space are cut off (only a comment that
  // runs to the end can end so).
  int n = token.strText.GetLength();
  const char* text = token.strText.c_str();
  int last = n;
  while (last > 0 && IsWhite(static_cast<unsigned char>(text[last - 1]))) --last;
  if (last >= 2 && text[last - 1] == '-' && text[last - 2] == '-') {
    token.strText = token.strText.Left(last - 2);
  }
}

void CHTMLTokenizer::GetScriptToken(tag_HTML_TOKEN& token) {
  token.nKind = HTML_SCRIPT;
  GetElementBody(token, "script");
}

void CHTMLTokenizer::GetStyleToken(tag_HTML_TOKEN& token) {
  token.nKind = HTML_STYLE;
  GetElementBody(token, "style");
}

void CHTMLTokenizer::GetElementBody(tag_HTML_TOKEN& token, const char* name) {
  // The body is the raw input from here up to its end: over memory it is
  // taken from there at the end, over a stream collected as it is read.
  const DWORD start = Pos();
  int quote = 0;  // 0 plain, else the quote that opened the quoted state
  for (;;) {
    int c = Next();
    if (c == -1) break;
    if (quote != 0 && c == '\\') {
      Keep('\\');
      int d = Next();
      if (d != -1) Keep(static_cast<char>(d));
      continue;
    }
    if (c == '<') {
      // A candidate end tag: "<", white space, "/", white space, the name,
      // white space, ">". Its characters go into the body for now.
      const DWORD candidate = Pos() - 1;
      const ULONG mark = m_scratch.Size();
      Keep('<');
      int phase = 0;  // 0 before "/", 1 before the name, 2 in the name, 3 after it
      size_t matched = 0;
      for (;;) {
        int d = Next();
        if (d == -1) {
          // An unfinished end tag is not part of the body.
          m_scratch.Truncate(mark);
          TakeRaw(start, candidate, token.strText);
          return;
        }
        Keep(static_cast<char>(d));
        bool fits = false;
        if (phase == 0) {
          fits = IsWhite(d) || d == '/';
          if (d == '/') phase = 1;
        } else if (phase == 1 && IsWhite(d)) {
          fits = true;
        } else if (phase == 1 || phase == 2) {
          fits = Fold(d) == name[matched];
          if (fits) {
            phase = name[++matched] == '\0' ? 3 : 2;
          }
        } else {
          if (d == '>') {
            m_scratch.Truncate(mark);
            Seek(candidate);
            TakeRaw(start, candidate, token.strText);
            return;
          }
          fits = IsWhite(d);
        }
        if (!fits) break;
      }
      // The raw candidate stays in the body; the scan goes on unquoted.
      quote = 0;
      continue;
    }
    if (quote == 0) {
      if (c == '"' || c == '\'') quote = c;
    } else if (c == quote) {
      quote = 0;
    }
    Keep(static_cast<char>(c));
  }
  TakeRaw(start, Pos(), token.strText);
}

}  // namespace telsor
