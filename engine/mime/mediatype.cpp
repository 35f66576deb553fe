// Content-Type values: media type and parameters.
#include "mime/mediatype.h"

#include <string>

#include "mime/rfc2047text.h"

namespace telsor {

namespace {

bool IsAttribute(const TSTRING& attribute, const char* name, int length) {
  return attribute.GetLength() == length && lstrcmpiA(attribute.c_str(), name) == 0;
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
  // The type, a "/" and the subtype, up to the first ";".
  bool subtype = false;
  std::string type;
  for (;;) {
    int kind = tokens.NextToken();
    if (kind == CRfc2045Tokenizer::TOKEN_END) break;
    const TSTRING& token = tokens.Token();
    char special = kind == CRfc2045Tokenizer::TOKEN_SPECIAL ? token[0] : '\0';
    if (kind == CRfc2045Tokenizer::TOKEN_ATOM) {
      AppendText(type, token);
    } else if (special == '/' && !subtype) {
      type += '/';
      subtype = true;
    } else if (special == ';') {
      void* namePosition = nullptr;
      ReadParameters(tokens, [&](std::string& attribute, std::string& value) {
        TSTRING a(attribute), v(value);
        AddParameter(a, v, namePosition);
      });
      break;
    }
  }
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
  SetFirstParameter(m_Parameters, "name", name);
  m_strName = name;
}

void CRfc2045ContentMediaType::PutBoundary(const TSTRING& boundary) {
  SetFirstParameter(m_Parameters, "boundary", boundary);
  m_strBoundary = boundary;
}

}  // namespace telsor
