// CRfc2045Parameter: one attribute=value pair of a Content-Type or
// Content-Disposition value (or of the parameter token), and the list that
// holds them in the order they were added.
//
//   static const char value[] = "text/plain; Charset=us-ascii";
//   CRfc2045ContentMediaType mediaType;
//   HRESULT hr = mediaType.Parse(reinterpret_cast<const unsigned char*>(value), sizeof value - 1);  // S_OK
//   CRfc2045ParameterList& params = mediaType.GetParameters();
//   void* pos = FindAttribute("charset", params);   // case-insensitive, first match
//   if (pos != nullptr) params.GetAt(pos).PutValue("utf-8");
//
// The list compares parameters by attribute, without regard to ASCII case
// (CPList::Find finds the first parameter of a name). Values are plain
// values, copied in and out. One thread at a time.
#ifndef TELSOR_MIME_RFC2045PARAMETER_H
#define TELSOR_MIME_RFC2045PARAMETER_H

#include <string>

#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/win32.h"
#include "foundation/wintypes.h"
#include "mime/mimehelpers.h"
#include "mime/rfc2045tokenizer.h"

namespace telsor {

class CRfc2045Parameter {
 public:
  CRfc2045Parameter() {}
  CRfc2045Parameter(TSTRING& attribute, TSTRING& value) : m_strAttribute(attribute), m_strValue(value) {}
  // A null text gives an empty string.
  CRfc2045Parameter(const char* attribute, const char* value) : m_strAttribute(attribute), m_strValue(value) {}
  ~CRfc2045Parameter() {}

  const TSTRING& GetAttribute() const { return m_strAttribute; }
  const TSTRING& GetValue() const { return m_strValue; }
  void PutAttribute(const TSTRING& attribute) { m_strAttribute = attribute; }
  void PutAttribute(const char* attribute) { m_strAttribute = attribute; }
  void PutValue(const TSTRING& value) { m_strValue = value; }
  void PutValue(const char* value) { m_strValue = value; }

 private:
  TSTRING m_strAttribute;
  TSTRING m_strValue;
};

// Parameters are equal when their attributes are, without regard to case.
template <>
inline BOOL CompareElements(const CRfc2045Parameter* element, const CRfc2045Parameter* value) {
  return lstrcmpiA(element->GetAttribute().c_str(), value->GetAttribute().c_str()) == 0 ? 1 : 0;
}

typedef CPList<CRfc2045Parameter, CRfc2045Parameter&> CRfc2045ParameterList;

// The position of the first parameter whose attribute equals attribute
// without regard to case; null when there is none or attribute is null.
void* FindAttribute(const char* attribute, const CRfc2045ParameterList& list);

// Sets the value of the first parameter named attribute, appending one when
// there is none.
void SetFirstParameter(CRfc2045ParameterList& list, const char* attribute, const TSTRING& value);

// The attribute=value part of a Content-Type or Content-Disposition value,
// read from the token after the first ";" to the end: add(attribute, value)
// (two std::string) for each parameter, in order. White space between tokens
// is dropped, so pieces written apart join; a quoted value loses its quotes
// (escapes stay), an unterminated one its opening quote; comments, domain
// literals and quoted strings in an attribute vanish; other specials join
// the attribute or value; ";" with no attribute adds an empty parameter, a
// final attribute without "=" one with an empty value.
template <class Add>
void ReadParameters(CRfc2045Tokenizer& tokens, Add&& add) {
  std::string attribute, value;
  bool inValue = false;
  for (;;) {
    int kind = tokens.NextToken();
    if (kind == CRfc2045Tokenizer::TOKEN_END) break;
    const TSTRING& token = tokens.Token();
    char special = kind == CRfc2045Tokenizer::TOKEN_SPECIAL ? token[0] : '\0';
    if (!inValue) {
      if (kind == CRfc2045Tokenizer::TOKEN_ATOM) {
        AppendText(attribute, token);
      } else if (special == '=') {
        value.clear();
        inValue = true;
      } else if (special == ';') {
        value.clear();
        add(attribute, value);
        attribute.clear();
      } else if (special != '\0') {
        attribute += special;
      }
    } else if (kind == CRfc2045Tokenizer::TOKEN_ATOM || kind == CRfc2045Tokenizer::TOKEN_QUOTED) {
      tokens.StripDelimiters();
      AppendText(value, tokens.Token());
    } else if (kind == CRfc2045Tokenizer::TOKEN_UNTERMINATED) {
      // An unterminated quoted string (double or single quote) keeps its text.
      int n = token.GetLength();
      char quote = token[0];
      if (quote == '"' || quote == '\'') {
        int end = n > 1 && token[n - 1] == quote ? n - 1 : n;
        value.append(token.c_str() + 1, static_cast<size_t>(end - 1));
      }
    } else if (special == ';') {
      add(attribute, value);
      attribute.clear();
      value.clear();
      inValue = false;
    } else if (special != '\0') {
      value += special;
    }
  }
  if (!attribute.empty()) add(attribute, value);
}

}  // namespace telsor

#endif  // TELSOR_MIME_RFC2045PARAMETER_H
