// The RFC 822/2045 header value scanner and its character-class table.
#include "mime/rfc2045tokenizer.h"

#include "foundation/throwcode.h"

namespace telsor {

namespace {

struct CharMap {
  BYTE bits[256];
};

constexpr CharMap MakeCharMap() {
  CharMap m{};
  for (int c = 0; c < 0x20; ++c) m.bits[c] = CHAR_CONTROL;
  m.bits[0x7F] = CHAR_CONTROL;
  m.bits[0x20] = CHAR_SPACE;
  m.bits[0x09] = m.bits[0x0A] = m.bits[0x0D] = CHAR_CONTROL | CHAR_SPACE;
  m.bits[static_cast<BYTE>('.')] = CHAR_SPECIAL;
  const char tspecials[] = "/=?";
  for (int i = 0; tspecials[i] != '\0'; ++i) m.bits[static_cast<BYTE>(tspecials[i])] = CHAR_TSPECIAL;
  const char both[] = "\"(),:;<>@[\\]";
  for (int i = 0; both[i] != '\0'; ++i) m.bits[static_cast<BYTE>(both[i])] = CHAR_SPECIAL | CHAR_TSPECIAL;
  return m;
}

constexpr CharMap kCharMap = MakeCharMap();

}  // namespace

const BYTE* const g_aCharMap = kCharMap.bits;

CRfc2045Tokenizer::CRfc2045Tokenizer(const unsigned char* data, ULONG length)
    : CStreamReader(data, length),
      m_pInput(data != nullptr ? data : reinterpret_cast<const unsigned char*>("")),
      m_nType(TOKEN_UNTERMINATED),
      m_dwTokenStart(0),
      m_dwScanStart(0),
      m_dwFlags(BACKSLASH_IN_COMMENTS) {}

CRfc2045Tokenizer::CRfc2045Tokenizer(IStream* stream, ULONG limit)
    : CStreamReader(stream, limit),
      m_pInput(nullptr),
      m_nType(TOKEN_UNTERMINATED),
      m_dwTokenStart(0),
      m_dwScanStart(0),
      m_dwFlags(BACKSLASH_IN_COMMENTS) {}

CRfc2045Tokenizer::~CRfc2045Tokenizer() {}

int CRfc2045Tokenizer::NextToken() {
  ParseToken();
  return m_nType;
}

void CRfc2045Tokenizer::CopyInput(DWORD from, DWORD to, TSTRING& text) {
  if (m_pInput != nullptr) {
    text.AssignCopy(static_cast<int>(to - from), reinterpret_cast<const char*>(m_pInput) + from);
    return;
  }
  HRESULT hr = ReadData(from, to, text);
  if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
}

void CRfc2045Tokenizer::Finish() {
  DWORD pos = GetPos();
  CopyInput(m_dwTokenStart, pos, m_strToken);
  CopyInput(m_dwScanStart, pos, m_strExtToken);
}

void CRfc2045Tokenizer::ParseToken() {
  m_nType = TOKEN_END;
  m_dwTokenStart = m_dwScanStart = GetPos();
  int c;
  while ((c = GetChar()) != -1 && (g_aCharMap[c] & (CHAR_CONTROL | CHAR_SPACE)) != 0) ++m_dwTokenStart;
  if (c == -1) {
    // The end: the token text holds the white space skipped before it.
    CopyInput(m_dwScanStart, m_dwTokenStart, m_strToken);
    m_strExtToken.AssignCopy(0, nullptr);
    return;
  }
  switch (c) {
    case '"':
      m_nType = TOKEN_QUOTED;
      ParseQuotedString();
      return;
    case '(':
      m_nType = TOKEN_COMMENT;
      ParseComment();
      return;
    case '[':
      m_nType = TOKEN_LITERAL;
      ParseDomainLiteral();
      return;
    case '\\':
      m_nType = TOKEN_ATOM;
      PutBackChar();
      ParseAtom();
      return;
    default:
      break;
  }
  if ((g_aCharMap[c] & CHAR_TSPECIAL) != 0) {
    m_nType = TOKEN_SPECIAL;
    Finish();
    return;
  }
  m_nType = TOKEN_ATOM;
  ParseAtom();
}

void CRfc2045Tokenizer::ParseAtom() {
  int c;
  while ((c = GetChar()) != -1) {
    if (c == '\\') {
      if (GetChar() == -1) break;
      continue;
    }
    if ((g_aCharMap[c] & (CHAR_CONTROL | CHAR_SPACE | CHAR_TSPECIAL)) != 0) {
      PutBackChar();
      break;
    }
  }
  Finish();
}

void CRfc2045Tokenizer::ParseQuotedString() {
  bool remembered = false;
  DWORD cut = 0;
  int c;
  while ((c = GetChar()) != -1) {
    if (c == '"') {
      Finish();
      return;
    }
    if (!remembered && g_aCharMap[c] != 0) {
      remembered = true;
      cut = GetPos() - 1;
    }
    if (c == '\\' && GetChar() == -1) break;
  }
  // The input ends inside the string: it covers only its first word.
  m_nType = TOKEN_UNTERMINATED;
  if (remembered) SetPos(cut);
  Finish();
}

void CRfc2045Tokenizer::ParseComment() {
  int depth = 1;
  int c;
  while ((c = GetChar()) != -1) {
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth == 0) {
        Finish();
        return;
      }
    } else if (c == '\\' && (m_dwFlags & BACKSLASH_IN_COMMENTS) != 0) {
      if (GetChar() == -1) break;
    }
  }
  m_nType = TOKEN_UNTERMINATED;
  Finish();
}

void CRfc2045Tokenizer::ParseDomainLiteral() {
  int c;
  while ((c = GetChar()) != -1) {
    if (c == ']') {
      Finish();
      return;
    }
    if (c == '\\' && GetChar() == -1) break;
  }
  m_nType = TOKEN_UNTERMINATED;
  Finish();
}

void CRfc2045Tokenizer::StripDelimiters() {
  char open, close;
  switch (m_nType) {
    case TOKEN_QUOTED:
      open = close = '"';
      break;
    case TOKEN_COMMENT:
      open = '(';
      close = ')';
      break;
    case TOKEN_LITERAL:
      open = '[';
      close = ']';
      break;
    default:
      return;
  }
  if (m_strToken.GetLength() < 2) return;
  if (m_strToken[0] == open) m_strToken.Delete(0, 1);
  int n = m_strToken.GetLength();
  if (n > 0 && m_strToken[n - 1] == close) m_strToken.Delete(n - 1, 1);
}

}  // namespace telsor
