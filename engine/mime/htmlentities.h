// The named character entities of HTML 4.01 that the HTML tokenizer knows:
// the Latin-1 set (160-255), the special set and "&trade;". Any other name
// reads as a space (code 32), see htmltokenizer.h.
//
//   ULONG code = LookupHtmlEntity("amp;", 4);   // 38; 32 when not a known name
//
// The table is static, read-only data shared by all threads.
#ifndef TELSOR_MIME_HTMLENTITIES_H
#define TELSOR_MIME_HTMLENTITIES_H

#include "foundation/wintypes.h"

namespace telsor {

struct tag_HTML_ENTITY {
  const char* pszName;  // with its "&" and ";", e.g. "&amp;"; null ends the table
  ULONG dwCode;         // code point
};

// 129 named rows, then a row with no name.
extern const tag_HTML_ENTITY g_aHtmlEntities[];
const int HTML_ENTITY_COUNT = 129;

// The code point of the entity whose name, less its "&", equals the length
// bytes at name exactly (case-sensitive, the ";" included: "amp;"); 32 when
// no row matches.
ULONG LookupHtmlEntity(const char* name, ULONG length);

}  // namespace telsor

#endif  // TELSOR_MIME_HTMLENTITIES_H
