// The parameter token: a list of attribute/value parameters as one opaque
// text, enciphered under a key the caller holds (exported for hosts).
//
//   TSTRING key("session key");
//   CRfc2045ParameterList params(10);
//   CRfc2045Parameter user("user", "jane");
//   params.AddTail(user);                                // the list holds a copy
//   TSTRING token = EncryptParameters(params, key);      // Base64, one line
//   CRfc2045ParameterList back(10);
//   DWORD r = DecryptParameters(token, key, back);       // 0: back holds (user, jane)
//
// Plain token (little-endian): CRC-16/XMODEM of bytes 2 to the end (u16),
// two random words (u16 each), the plain token's length (u32), then the list
// text: for each parameter attribute="value"; with "\" before every "\" and
// '"' of the value. It is enciphered with RC5-32/20 rounds in CBC mode
// (PKCS#5 padding) and written in Base64.
//
// DecryptParameters results: 0 (also for a token of white space only, which
// leaves the list alone); 87 (ERROR_INVALID_PARAMETER) when the Base64
// decodes to a length that is not a multiple of 8; 13 (ERROR_INVALID_DATA)
// for bad padding, a length or CRC mismatch or a plain token under 10
// bytes (a wrong key gives 13). Parameters are appended after those already
// in the list, and only on success. Allocation failures throw (the engine's
// memory exception, or std::bad_alloc; both read as E_OUTOFMEMORY through
// foundation/errorroad.h). Reentrant: the random words come from a generator of
// each call's own, seeded with the time in seconds, so two calls in the same
// second with the same list and key give the same token.
#ifndef TELSOR_MIME_PARAMTOKEN_H
#define TELSOR_MIME_PARAMTOKEN_H

#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/rfc2045parameter.h"

namespace telsor {

TSTRING EncryptParameters(const CRfc2045ParameterList& params, const TSTRING& key);
DWORD DecryptParameters(const TSTRING& token, const TSTRING& key, CRfc2045ParameterList& params);

// Reads a list text (as the token carries it, or written by hand) and
// appends its parameters: attribute, "=", a value bare up to ";" or in
// double quotes; a backslash takes the next character literally in values.
// Never fails: malformed text gives fewer, or odd, parameters.
void ParseListParameters(const TSTRING& text, CRfc2045ParameterList& params);

}  // namespace telsor

#endif  // TELSOR_MIME_PARAMTOKEN_H
