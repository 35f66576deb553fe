// Content-Disposition values.
#include "mime/disposition.h"

#include <string>

#include "mime/rfc2045tokenizer.h"
#include "mime/rfc2047text.h"

namespace telsor {

namespace {

bool IsFilename(const TSTRING& attribute) { return lstrcmpiA(attribute.c_str(), "filename") == 0; }

void Append(std::string& to, const TSTRING& text) {
  to.append(text.c_str(), static_cast<size_t>(text.GetLength()));
}

}  // namespace

CRfc2045DispType::CRfc2045DispType() : m_Parameters(10) {}

CRfc2045DispType::~CRfc2045DispType() { m_Parameters.RemoveAll(); }

HRESULT CRfc2045DispType::Parse(const unsigned char* data, ULONG length) {
  m_strType.Release();
  m_strFilename.Release();
  m_Parameters.RemoveAll();

  CRfc2045Tokenizer tokens(data, length);
  enum { TYPE, ATTRIBUTE, VALUE } state = TYPE;
  std::string type, attribute, value;
  void* filenamePosition = nullptr;
  auto add = [&]() {
    TSTRING a(attribute), v(value);
    AddParameter(a, v, filenamePosition);
  };
  for (;;) {
    int kind = tokens.NextToken();
    if (kind == CRfc2045Tokenizer::TOKEN_END) break;
    const TSTRING& token = tokens.Token();
    char special = kind == CRfc2045Tokenizer::TOKEN_SPECIAL ? token[0] : '\0';
    bool atom = kind == CRfc2045Tokenizer::TOKEN_ATOM;
    switch (state) {
      case TYPE:
        if (atom) Append(type, token);
        else if (special == ';') state = ATTRIBUTE;
        break;
      case ATTRIBUTE:
        if (special == '=') {
          value.clear();
          state = VALUE;
        } else if (special == ';') {
          value.clear();
          add();
          attribute.clear();
        } else if (atom || special != '\0') {
          Append(attribute, token);
        }
        break;
      case VALUE:
        if (atom) {
          Append(value, token);
        } else if (kind == CRfc2045Tokenizer::TOKEN_QUOTED) {
          tokens.StripDelimiters();
          Append(value, tokens.Token());
        } else if (kind == CRfc2045Tokenizer::TOKEN_UNTERMINATED) {
          int n = token.GetLength();
          char quote = token[0];
          if (quote == '"' || quote == '\'') {
            int to = n > 1 && token[n - 1] == quote ? n - 1 : n;
            value.append(token.c_str() + 1, static_cast<size_t>(to - 1));
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
  m_strType = TSTRING(type);
  return S_OK;
}

void CRfc2045DispType::AddParameter(TSTRING& attribute, TSTRING& value) {
  void* filenamePosition = IsFilename(attribute) ? FindAttribute("filename", m_Parameters) : nullptr;
  AddParameter(attribute, value, filenamePosition);
}

void CRfc2045DispType::AddParameter(TSTRING& attribute, TSTRING& value, void*& filenamePosition) {
  if (IsFilename(attribute)) {
    value.Remove('\0');
    if (value.Find("=?") >= 0) value = DecodeHeaderText(value);
    value.TrimLeft(" \t\r\n");
    value.TrimRight(" \t\r\n.");
    if (filenamePosition != nullptr) {
      m_Parameters.GetAt(filenamePosition).PutValue(value);
      return;
    }
    CRfc2045Parameter parameter(attribute, value);
    filenamePosition = m_Parameters.AddTail(parameter);
    return;
  }
  CRfc2045Parameter parameter(attribute, value);
  m_Parameters.AddTail(parameter);
}

TSTRING& CRfc2045DispType::GetFilename() const {
  void* p = FindAttribute("filename", m_Parameters);
  if (p != nullptr) m_strFilename = m_Parameters.GetAt(p).GetValue();
  return m_strFilename;
}

void CRfc2045DispType::PutFilename(const TSTRING& name) {
  void* p = FindAttribute("filename", m_Parameters);
  if (p != nullptr) {
    m_Parameters.GetAt(p).PutValue(name);
  } else {
    CRfc2045Parameter parameter("filename", "");
    parameter.PutValue(name);
    m_Parameters.AddTail(parameter);
  }
  m_strFilename = name;
}

}  // namespace telsor
