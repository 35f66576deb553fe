// RFC 822 mailboxes, address-list items and address lists.
#include "mime/rfc822address.h"

#include <string.h>

#include <string>

#include "mime/mimehelpers.h"
#include "mime/rfc2047text.h"

namespace telsor {

namespace {

// The text without its CR and LF bytes.
TSTRING WithoutLineBreaks(const char* p, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i)
    if (p[i] != '\r' && p[i] != '\n') out += p[i];
  return TSTRING(out);
}

// ASCII letters lower-cased over the whole length (NUL bytes included).
TSTRING LowerCase(const TSTRING& text) {
  std::string out(text.c_str(), static_cast<size_t>(text.GetLength()));
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return TSTRING(out);
}

bool HoldsEncodedWordStart(const TSTRING& text) {
  return memmem(text.c_str(), static_cast<size_t>(text.GetLength()), "=?", 2) != nullptr;
}

}  // namespace

CRfc822Address::CRfc822Address() : m_nType(ADDRESS_TYPE_FIELD) {}

CRfc822Address::CRfc822Address(const char* text) : m_nType(ADDRESS_TYPE_FIELD) {
  if (text != nullptr) Parse(text);
}

CRfc822Address::CRfc822Address(const TSTRING& text) : m_nType(ADDRESS_TYPE_FIELD) {
  Parse(text.c_str(), static_cast<ULONG>(text.GetLength()));
}

CRfc822Address::CRfc822Address(const CRfc822Address& other)
    : m_strAddress(other.m_strAddress),
      m_strLocalPart(other.m_strLocalPart),
      m_strDomain(other.m_strDomain),
      m_strFullName(other.m_strFullName),
      m_strDecodedFullName(other.m_strDecodedFullName),
      m_strRoute(other.m_strRoute),
      m_strCharset(other.m_strCharset),
      m_nType(other.m_nType) {}

CRfc822Address& CRfc822Address::operator=(const CRfc822Address& other) {
  if (this == &other) return *this;
  m_strAddress = other.m_strAddress;
  m_strLocalPart = other.m_strLocalPart;
  m_strDomain = other.m_strDomain;
  m_strFullName = other.m_strFullName;
  m_strDecodedFullName = other.m_strDecodedFullName;
  m_strRoute = other.m_strRoute;
  m_strCharset = other.m_strCharset;
  m_nType = other.m_nType;
  return *this;
}

CRfc822Address::~CRfc822Address() {}

void CRfc822Address::Clear() {
  m_strAddress.Release();
  m_strLocalPart.Release();
  m_strDomain.Release();
  m_strFullName.Release();
  m_strDecodedFullName.Release();
  m_strRoute.Release();
  m_strCharset.Release();
  m_nType = ADDRESS_TYPE_FIELD;
}

void CRfc822Address::Parse(const char* text) {
  Parse(text, text != nullptr ? static_cast<ULONG>(strlen(text)) : 0);
}

void CRfc822Address::Parse(const char* text, ULONG length) {
  Clear();
  CRfc2045Tokenizer tokens(reinterpret_cast<const unsigned char*>(text), text != nullptr ? length : 0);
  enum { PHRASE, ANGLE_START, ROUTE, ANGLE_LOCAL, DOMAIN, AFTER_ANGLE } state = PHRASE;
  std::string phrase, local, domain, route;
  TSTRING comment;
  bool noAngle = true;
  for (;;) {
    int kind = tokens.NextToken();
    if (kind == CRfc2045Tokenizer::TOKEN_END || kind == CRfc2045Tokenizer::TOKEN_UNTERMINATED) break;
    const TSTRING& token = tokens.Token();
    bool word = kind == CRfc2045Tokenizer::TOKEN_ATOM || kind == CRfc2045Tokenizer::TOKEN_QUOTED;
    char special = kind == CRfc2045Tokenizer::TOKEN_SPECIAL ? token[0] : '\0';
    bool isComment = kind == CRfc2045Tokenizer::TOKEN_COMMENT;
    if (isComment && (state == PHRASE || state == DOMAIN || state == AFTER_ANGLE)) {
      tokens.StripDelimiters();
      comment = tokens.Token();
      continue;
    }
    switch (state) {
      case PHRASE:
        if (word) {
          AppendText(phrase, tokens.ExtendToken());
          AppendText(local, token);
        } else if (special == '@') {
          state = DOMAIN;
        } else if (special == '<') {
          local.clear();
          noAngle = false;
          state = ANGLE_START;
        } else if (special != '\0') {
          AppendText(phrase, tokens.ExtendToken());
          AppendText(local, tokens.ExtendToken());
        }
        break;
      case ANGLE_START:
        if (word) {
          local.assign(token.c_str(), static_cast<size_t>(token.GetLength()));
          state = ANGLE_LOCAL;
        } else if (special == '@') {
          route = "@";
          state = ROUTE;
        }
        break;
      case ROUTE:
        if (kind == CRfc2045Tokenizer::TOKEN_ATOM || kind == CRfc2045Tokenizer::TOKEN_LITERAL || special == ',' ||
            special == '@') {
          AppendText(route, token);
        } else if (special == ':') {
          state = ANGLE_LOCAL;
        }
        break;
      case ANGLE_LOCAL:
        if (word) AppendText(local, token);
        else if (special == '@') state = DOMAIN;
        break;
      case DOMAIN:
        if (kind == CRfc2045Tokenizer::TOKEN_ATOM || kind == CRfc2045Tokenizer::TOKEN_LITERAL) {
          AppendText(domain, token);
        } else if (special == '>') {
          state = AFTER_ANGLE;
        }
        break;
      case AFTER_ANGLE:
        break;
    }
  }
  if (noAngle) {
    SetFullName(comment);
  } else if (!phrase.empty()) {
    SetFullName(TSTRING(phrase));
  } else if (!comment.IsEmpty()) {
    SetFullName(comment);
  }
  // Line breaks go from the name after its decoded form was derived.
  m_strFullName = WithoutLineBreaks(m_strFullName.c_str(), static_cast<size_t>(m_strFullName.GetLength()));
  m_strLocalPart = WithoutLineBreaks(local.data(), local.size());
  m_strRoute = TSTRING(route);
  m_strDomain = TSTRING(domain);
  if (!m_strLocalPart.IsEmpty()) {
    m_strAddress = m_strLocalPart;
    if (!m_strDomain.IsEmpty()) {
      m_strDomain = LowerCase(m_strDomain);
      m_strAddress = m_strAddress + "@" + m_strDomain;
    }
  }
}

void CRfc822Address::SetFullName(const TSTRING& name) {
  m_strFullName = name;
  m_strDecodedFullName = name;
  m_strCharset.Release();
  if (!HoldsEncodedWordStart(m_strDecodedFullName)) return;
  CRfc2047Text words(m_strFullName);
  words.Parse();
  for (void* p = words.m_Words.GetHeadPosition(); p != nullptr;) {
    const TSTRING& charset = words.m_Words.GetNext(p).GetCharset();
    if (!charset.IsEmpty() && lstrcmpiA(charset.c_str(), "us-ascii") != 0) {
      m_strCharset = charset;
      break;
    }
  }
  m_strDecodedFullName = words.GetDecodedText();
}

CRfc822Address& CRfc822Address::operator=(const char* text) {
  Clear();
  if (text != nullptr) Parse(text);
  return *this;
}

CRfc822Address& CRfc822Address::operator=(const TSTRING& text) {
  Parse(text.c_str(), static_cast<ULONG>(text.GetLength()));
  return *this;
}

void CRfc822Address::SetAddress(const char* text) {
  Clear();
  if (text != nullptr) Parse(text);
}

void CRfc822Address::SetDomain(const char* domain) {
  int at = m_strAddress.Find('@');
  if (at < 1) return;
  TSTRING rebuilt = m_strAddress.Left(at + 1) + (domain != nullptr ? domain : "");
  SetAddress(rebuilt.c_str());
}

CRfc822Address* CRfc822Address::Clone() const { return new CRfc822Address(*this); }

// ---------------------------------------------------------------------------

CRfcMailboxListParser::CRfcMailboxListParser(const unsigned char* data, ULONG length)
    : CRfc2045Tokenizer(data, length), m_nMboxType(MBOX_EMPTY) {}

CRfcMailboxListParser::CRfcMailboxListParser(IStream* stream, ULONG length)
    : CRfc2045Tokenizer(stream, length), m_nMboxType(MBOX_EMPTY) {}

int CRfcMailboxListParser::NextMbox() {
  m_strMbox.Release();
  m_nMboxType = MBOX_END;
  int kind = NextToken();
  if (kind == TOKEN_END) return m_nMboxType;
  m_nMboxType = MBOX_MAILBOX;
  enum { TOP, IN_GROUP, IN_ANGLE } mode = TOP;
  std::string item;
  for (;;) {
    bool ended = false;
    if (kind == TOKEN_SPECIAL) {
      char c = Token()[0];
      if (mode == TOP) {
        if (c == ',') {
          ended = true;
        } else if (c == ':') {
          m_nMboxType = MBOX_GROUP;
          mode = IN_GROUP;
        } else if (c == '<') {
          mode = IN_ANGLE;
        }
      } else if (mode == IN_GROUP) {
        if (c == ';') mode = TOP;
      } else if (c == '>') {
        mode = TOP;
      }
    }
    if (!ended) {
      if (kind == TOKEN_UNTERMINATED && Token()[0] == '"') {
        // Closed where the tokenizer cut it.
        if (IsHeaderSpace(static_cast<unsigned char>(ExtendToken()[0]))) item += ' ';
        AppendText(item, Token());
        item += '"';
      } else {
        AppendText(item, ExtendToken());
      }
    }
    if (item.empty()) m_nMboxType = MBOX_EMPTY;
    if (ended) break;
    kind = NextToken();
    if (kind == TOKEN_END) break;
  }
  m_strMbox = TSTRING(item);
  return m_nMboxType;
}

// ---------------------------------------------------------------------------

TSTRING CRfc822Addresses::Assemble() const {
  long long room = 0;
  for (void* p = GetHeadPosition(); p != nullptr;) {
    const CRfc822Address& a = GetNext(p);
    room += a.GetAddress().GetLength() + a.GetFullName().GetLength() + 6;
  }
  std::string out;
  out.reserve(static_cast<size_t>(room));
  for (void* p = GetHeadPosition(); p != nullptr;) {
    const CRfc822Address& a = GetNext(p);
    if (a.GetAddress().IsEmpty()) continue;
    if (!out.empty()) out += ", ";
    if (!a.GetFullName().IsEmpty()) {
      AppendText(out, a.GetFullName());
      out += ' ';
    }
    out += '<';
    if (!a.GetRoute().IsEmpty()) {
      AppendText(out, a.GetRoute());
      out += ':';
    }
    AppendText(out, a.GetAddress());
    out += '>';
  }
  return TSTRING(out);
}

CRfc822Addresses& CRfc822Addresses::operator=(const char* text) {
  CRfc822Address one(text);
  RemoveAll();
  AddTail(one);
  return *this;
}

CRfc822Addresses& CRfc822Addresses::operator=(const TSTRING& text) {
  CRfc822Address one(text);
  RemoveAll();
  AddTail(one);
  return *this;
}

}  // namespace telsor
