// URL normalisation of the HTML-to-clean-text converter: an obfuscated URL
// is made to read like a plain one before it is written into the clean
// text (CHtml2CleanText writes the marker "|pspam|URL:||||" before a URL
// that this changed, beyond letter case).
//
//   TSTRING url = NormalizeHtmlUrl("HTTP://user@0x7f.0.0.1/a%20b");   // "http://127.0.0.1/a b"
//
// Steps: ASCII capitals are lowered and percent escapes decoded up to the
// first "?" (decoded bytes are not examined again; a "%" or "%" and one
// digit at the very end is dropped); after the first "http://" (else
// "https://") user information up to the last "@" before the first "/" is
// removed, a host that starts with a digit is read as a dotted, octal
// (leading 0), hexadecimal (0x) or plain number with an optional port and
// written in dotted decimal (not when it reads as 0 or holds a character
// that fits no number), and the result is cut to 1024 characters. Without
// either prefix only the first step applies. Linear time.
#ifndef TELSOR_MIME_HTMLURL_H
#define TELSOR_MIME_HTMLURL_H

#include "foundation/tstring.h"

namespace telsor {

// The normalised copy of url (all its bytes, NUL bytes included).
TSTRING NormalizeHtmlUrl(const TSTRING& url);

}  // namespace telsor

#endif  // TELSOR_MIME_HTMLURL_H
