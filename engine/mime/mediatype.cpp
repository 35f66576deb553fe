// Content-Type values: media type and parameters.
#include "mime/mediatype.h"

#include <string>

#include "mime/rfc2045tokenizer.h"
#include "mime/rfc2047text.h"

namespace telsor {

void* FindAttribute(const char* attribute, const CRfc2045ParameterList& list) {
  if (attribute == nullptr) return nullptr;
  for (void* p = list.GetHeadPosition(); p != nullptr;) {
    void* at = p;
    if (lstrcmpiA(list.GetNext(p).GetAttribute().c_str(), attribute) == 0) return at;
  }
  return nullptr;
}

namespace {

bool IsAttribute(const TSTRING& attribute, const char* name, int length) {
  return attribute.GetLength() == length && lstrcmpiA(attribute.c_str(), name) == 0;
}

void Append(std::string& to, const TSTRING& text) {
  to.append(text.c_str(), static_cast<size_t>(text.GetLength()));
}

}  // namespace

CRfc2045ContentMediaType::CRfc2045ContentMediaType() : m_Parameters(10) {}

CRfc2045ContentMediaType::~CRfc2045ContentMediaType() { m_Parameters.RemoveAll(); }

HRESULT CRfc2045ContentMediaType::Parse(const unsigned char* data, ULONG length) {
  m_strMediaType.Release();
  m_strName.Release();
  m_strBoundary.Release();
  m_Parameters.RemoveAll();

  CRfc2045Tokenizer tokens(data, length);
  tokens.SetFlags(tokens.GetFlags() & ~CRfc2045Tokenizer::BACKSLASH_IN_COMMENTS);
  enum { TYPE, SUBTYPE, ATTRIBUTE, VALUE } state = TYPE;
  std::string type, attribute, value;
  void* namePosition = nullptr;
  auto add = [&]() {
    TSTRING a(attribute), v(value);
    AddParameter(a, v, namePosition);
  };
  for (;;) {
    int kind = tokens.NextToken();
    if (kind == CRfc2045Tokenizer::TOKEN_END) break;
    const TSTRING& token = tokens.Token();
    bool atom = kind == CRfc2045Tokenizer::TOKEN_ATOM;
    char special = kind == CRfc2045Tokenizer::TOKEN_SPECIAL ? token[0] : '\0';
    switch (state) {
      case TYPE:
        if (atom) {
          Append(type, token);
        } else if (special == '/') {
          type += '/';
          state = SUBTYPE;
        } else if (special == ';') {
          state = ATTRIBUTE;
        }
        break;
      case SUBTYPE:
        if (atom) Append(type, token);
        else if (special == ';') state = ATTRIBUTE;
        break;
      case ATTRIBUTE:
        if (atom) {
          Append(attribute, token);
        } else if (special == '=') {
          value.clear();
          state = VALUE;
        } else if (special == ';') {
          value.clear();
          add();
          attribute.clear();
        } else if (special != '\0') {
          attribute += special;
        }
        break;
      case VALUE:
        if (atom || kind == CRfc2045Tokenizer::TOKEN_QUOTED) {
          tokens.StripDelimiters();
          Append(value, tokens.Token());
        } else if (kind == CRfc2045Tokenizer::TOKEN_UNTERMINATED) {
          int n = token.GetLength();
          char quote = token[0];
          if (quote == '"' || quote == '\'') {
            int from = 1, to = n;
            if (n > 1 && token[n - 1] == quote) --to;
            value.append(token.c_str() + from, static_cast<size_t>(to - from));
          }
        } else if (special == ';') {
          add();
          attribute.clear();
          value.clear();
          state = ATTRIBUTE;
        } else if (special != '\0') {
          value += special;
        }
        break;
    }
  }
  if (!attribute.empty()) add();
  m_strMediaType = TSTRING(type);
  return S_OK;
}

void CRfc2045ContentMediaType::AddParameter(TSTRING& attribute, TSTRING& value) {
  void* namePosition = IsAttribute(attribute, "name", 4) ? FindAttribute("name", m_Parameters) : nullptr;
  AddParameter(attribute, value, namePosition);
}

void CRfc2045ContentMediaType::AddParameter(TSTRING& attribute, TSTRING& value, void*& namePosition) {
  if (IsAttribute(attribute, "boundary", 8)) {
    value.Replace('\0', ' ');
    int n = value.GetLength();
    if (n > 1 && value[0] == '\'' && value[n - 1] == '\'') value = value.Mid(1, n - 2);
  } else if (IsAttribute(attribute, "name", 4)) {
    value.Remove('\0');
    if (value.Find("=?") >= 0) {
      value = DecodeHeaderText(value);
      value.TrimLeft();
      value.TrimRight();
    }
    if (namePosition != nullptr) {
      m_Parameters.GetAt(namePosition).PutValue(value);
      return;
    }
    CRfc2045Parameter parameter(attribute, value);
    namePosition = m_Parameters.AddTail(parameter);
    return;
  }
  CRfc2045Parameter parameter(attribute, value);
  m_Parameters.AddTail(parameter);
}

TSTRING CRfc2045ContentMediaType::GetName() const {
  void* p = FindAttribute("name", m_Parameters);
  return p != nullptr ? m_Parameters.GetAt(p).GetValue() : m_strName;
}

TSTRING CRfc2045ContentMediaType::GetBoundary() const {
  void* p = FindAttribute("boundary", m_Parameters);
  return p != nullptr ? m_Parameters.GetAt(p).GetValue() : m_strBoundary;
}

void CRfc2045ContentMediaType::PutName(const TSTRING& name) {
  void* p = FindAttribute("name", m_Parameters);
  if (p != nullptr) {
    m_Parameters.GetAt(p).PutValue(name);
  } else {
    CRfc2045Parameter parameter("name", "");
    parameter.PutValue(name);
    m_Parameters.AddTail(parameter);
  }
  m_strName = name;
}

void CRfc2045ContentMediaType::PutBoundary(const TSTRING& boundary) {
  void* p = FindAttribute("boundary", m_Parameters);
  if (p != nullptr) {
    m_Parameters.GetAt(p).PutValue(boundary);
  } else {
    CRfc2045Parameter parameter("boundary", "");
    parameter.PutValue(boundary);
    m_Parameters.AddTail(parameter);
  }
  m_strBoundary = boundary;
}

}  // namespace telsor
