// The front end's error record: how every failure of a spam test or a
// version query becomes one SQorError (include/qorengine.h).
//
//   SQorError record;
//   try {
//     ThrowError(9, 2, "Failed to get script list.");
//   } catch (...) {
//     DWORD code = ConvertCurrentException(&record);
//     // code 9, record: 9, detail 2, "Failed to get script list."
//   }
//   CreateError(8, 2, "Unable to parse message.", nullptr);   // 8, nothing written
//
// The exported functions fill the record through ConvertCurrentException
// and nowhere else:
//   CDException*   its code; detail: the code of a nested CDException
//                  (0 for none or another kind); text: its details
//   CException*    5, its own message or "A CException error occured"
//   anything else  4 "An unexpected error occured." (a bare code, the
//                  standard library's exceptions)
// An engine exception is released. Inside the front end failures travel as
// CDException made by ThrowError (codes 9, 10, 11 with the cause's code
// nested). The message is cut to 255 bytes and always NUL-terminated; an
// absent or empty text is stored as "No details for this error.".
#ifndef TELSOR_FILTER_SCAERROR_H
#define TELSOR_FILTER_SCAERROR_H

#include "foundation/exception.h"
#include "foundation/wintypes.h"
#include "include/qorengine.h"

namespace telsor {

// Front-end codes of SQorError (plain numbers, not engine result codes).
enum : DWORD {
  QOR_ERROR_UNEXPECTED = 4,       // "An unexpected error occured."
  QOR_ERROR_EXCEPTION = 5,        // an engine exception's own text
  QOR_ERROR_MESSAGE = 8,          // message content or parse
  QOR_ERROR_SCRIPT_LIST = 9,      // "Failed to get script list."
  QOR_ERROR_CLASSIFY = 10,        // features, spam value, score
  QOR_ERROR_DATABASE = 11,        // "Failed to initialize database."
};

// Stores code, detail and text into record (when not null); returns code.
DWORD CreateError(DWORD code, DWORD detail, const char* text, SQorError* record);
DWORD ConvertCDException(CDException* e, SQorError* record);
DWORD ConvertCException(CException* e, SQorError* record);
// Call only inside a catch handler: the exception being handled into
// record (see above), released when it is an engine exception.
DWORD ConvertCurrentException(SQorError* record) noexcept;

// A new heap CDException (facility 0) with code and text; nestedCode, when
// not 0, as a nested CDException of that code.
CDException* CreateDException(DWORD code, DWORD nestedCode, const char* text);
// The record as such an exception, for hosts.
CDException* ConvertErrorToCDException(const SQorError* record);
[[noreturn]] void ThrowError(DWORD code, DWORD nestedCode, const char* text);

}  // namespace telsor

#endif  // TELSOR_FILTER_SCAERROR_H
