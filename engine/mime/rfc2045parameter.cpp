// Parameter lists of Content-Type and Content-Disposition values.
#include "mime/rfc2045parameter.h"

namespace telsor {

void* FindAttribute(const char* attribute, const CRfc2045ParameterList& list) {
  if (attribute == nullptr) return nullptr;
  for (void* p = list.GetHeadPosition(); p != nullptr;) {
    void* at = p;
    if (lstrcmpiA(list.GetNext(p).GetAttribute().c_str(), attribute) == 0) return at;
  }
  return nullptr;
}

void SetFirstParameter(CRfc2045ParameterList& list, const char* attribute, const TSTRING& value) {
  void* p = FindAttribute(attribute, list);
  if (p != nullptr) {
    list.GetAt(p).PutValue(value);
    return;
  }
  CRfc2045Parameter parameter(attribute, "");
  parameter.PutValue(value);
  list.AddTail(parameter);
}

}  // namespace telsor
