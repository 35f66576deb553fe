#include "filter/scaerror.h"

#include <string.h>

namespace telsor {

DWORD CreateError(DWORD code, DWORD detail, const char* text, SQorError* record) {
  if (record == nullptr) return code;
  record->code = code;
  record->detail = detail;
  if (text == nullptr || *text == '\0') text = "No details for this error.";
  size_t n = strnlen(text, sizeof record->message - 1);
  memcpy(record->message, text, n);
  memset(record->message + n, 0, sizeof record->message - n);
  return code;
}

DWORD ConvertCDException(CDException* e, SQorError* record) {
  CDException* nested = dynamic_cast<CDException*>(e->GetNestedException());
  DWORD detail = nested != nullptr ? nested->GetCode() : 0;
  TSTRING details = e->GetDetails();
  return CreateError(e->GetCode(), detail, details.c_str(), record);
}

DWORD ConvertCException(CException* e, SQorError* record) {
  char buffer[1024];
  if (!e->GetErrorMessage(buffer, sizeof buffer, nullptr)) strcpy(buffer, "A CException error occured");
  return CreateError(QOR_ERROR_EXCEPTION, 0, buffer, record);
}

DWORD ConvertCurrentException(SQorError* record) noexcept {
  try {
    throw;
  } catch (CDException* e) {
    DWORD code = ConvertCDException(e, record);
    e->Delete();
    return code;
  } catch (CException* e) {
    DWORD code = ConvertCException(e, record);
    e->Delete();
    return code;
  } catch (...) {
    return CreateError(QOR_ERROR_UNEXPECTED, 0, "An unexpected error occured.", record);
  }
}

CDException* CreateDException(DWORD code, DWORD nestedCode, const char* text) {
  CDException* e = new CDException(1);  // CObj's new throws the memory exception
  try {
    e->PutFacility(0);
    e->PutCode(code);
    e->PutDetails(TSTRING(text));
    if (nestedCode != 0) {
      CDException* nested = new CDException(1);
      nested->PutFacility(0);
      nested->PutCode(nestedCode);
      e->PutNestedException(nested);
    }
  } catch (...) {
    e->Delete();
    throw;
  }
  return e;
}

CDException* ConvertErrorToCDException(const SQorError* record) {
  char text[sizeof record->message + 1];
  memcpy(text, record->message, sizeof record->message);
  text[sizeof record->message] = '\0';
  return CreateDException(record->code, record->detail, text);
}

void ThrowError(DWORD code, DWORD nestedCode, const char* text) {
  throw CreateDException(code, nestedCode, text);
}

}  // namespace telsor
