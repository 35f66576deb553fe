// CRfc2045Parameter: one attribute=value pair of a Content-Type or
// Content-Disposition value (or of the parameter token), and the list that
// holds them in the order they were added.
//
//   CRfc2045ParameterList& params = mediaType.GetParameters();
//   void* pos = FindAttribute("charset", params);   // case-insensitive, first match
//   if (pos != nullptr) params.GetAt(pos).PutValue("utf-8");
//
// The list compares parameters by attribute, without regard to ASCII case
// (CPList::Find finds the first parameter of a name). Values are plain
// values, copied in and out. One thread at a time.
#ifndef TELSOR_MIME_RFC2045PARAMETER_H
#define TELSOR_MIME_RFC2045PARAMETER_H

#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/win32.h"
#include "foundation/wintypes.h"

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

}  // namespace telsor

#endif  // TELSOR_MIME_RFC2045PARAMETER_H
