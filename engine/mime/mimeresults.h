// Result codes of the MIME facility (0x08) and of message composition
// (0x02), named once.
//
//   CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
//   TSTRING raw;
//   HRESULT hr = parser->ExtractHeaders("/var/spool/in/msg.eml", raw);
//   if (hr == E_MIME_NAME_TOO_LONG) { /* a field name over 1,023 bytes */ }
//
// Parsers also pass on the generic codes of foundation/results.h and the
// codes of failing stream calls unchanged; structural problems of a message
// set anomaly flags on its parts instead of failing.
#ifndef TELSOR_MIME_MIMERESULTS_H
#define TELSOR_MIME_MIMERESULTS_H

#include "foundation/results.h"

#define E_MIME_NAME_TOO_LONG ((int32_t)0xE008FDE8u)          // header field name over 1,023 bytes
#define E_MIME_NO_DELIMITER ((int32_t)0xE008FDEBu)           // a split body holds no delimiter
#define E_MIME_NO_CLOSING_DELIMITER ((int32_t)0xE008FDECu)   // the closing delimiter is missing
#define E_MIME_TOO_DEEP ((int32_t)0xE008FDEEu)               // parts nested deeper than 255
#define E_MIME_BINHEX_CRC ((int32_t)0xE008FDEFu)             // BinHex checksum differs
#define E_MIME_BINHEX_MALFORMED ((int32_t)0xE008FDF0u)       // bad BinHex character, run or name
#define E_MIME_DELIMITER_TOO_LONG ((int32_t)0xE008FDF2u)     // boundary too long to compile
#define E_MIME_TOO_MANY_PARTS ((int32_t)0xE008FDF3u)         // 2,049 or more part descriptors
#define E_COMPOSE_FILE_FAILED ((int32_t)0xE00203E9u)         // composing into a file failed

// Win32 error number returned by the encoders' buffer forms: the buffer is
// missing or too small, and the size holds the length needed.
#define ERROR_MORE_DATA 234

#endif  // TELSOR_MIME_MIMERESULTS_H
