// Content-Disposition values.
#include "mime/disposition.h"

#include <string>

#include "mime/rfc2047text.h"

namespace telsor {

namespace {

bool IsFilename(const TSTRING& attribute) { return lstrcmpiA(attribute.c_str(), "filename") == 0; }

}  // namespace

CRfc2045DispType::CRfc2045DispType() : m_Parameters(10) {}

CRfc2045DispType::~CRfc2045DispType() { m_Parameters.RemoveAll(); }

HRESULT CRfc2045DispType::Parse(const unsigned char* data, ULONG length) {
  m_strType.Release();
  m_strFilename.Release();
  m_Parameters.RemoveAll();

  CRfc2045Tokenizer tokens(data, length);
  // The type, up to the first ";".
  std::string type;
  for (;;) {
    int kind = tokens.NextToken();
    if (kind == CRfc2045Tokenizer::TOKEN_END) break;
    if (kind == CRfc2045Tokenizer::TOKEN_ATOM) {
      AppendText(type, tokens.Token());
    } else if (kind == CRfc2045Tokenizer::TOKEN_SPECIAL && tokens.Token()[0] == ';') {
      void* filenamePosition = nullptr;
      ReadParameters(tokens, [&](std::string& attribute, std::string& value) {
        TSTRING a(attribute), v(value);
        AddParameter(a, v, filenamePosition);
      });
      break;
    }
  }
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
  SetFirstParameter(m_Parameters, "filename", name);
  m_strFilename = name;
}

}  // namespace telsor
