// Colours of HTML attributes: a colour name or a hexadecimal colour to a
// 24-bit colour 0x00BBGGRR (red in the lowest byte).
//
//   ULONG c = 0x123456;
//   ParseColor("red", c);        // 1, c = 0x0000FF
//   ParseColor("#00ff00", c);    // 1, c = 0x00FF00
//   ParseColor("#fff", c);       // 1, c = 0 (three digits or fewer read as black)
//   ParseColor("", c);           // 0, c unchanged
//
// Every non-empty text gives some colour: a text that is no known name is
// read as hexadecimal digits, any character that is no hexadecimal digit
// counting as 0. The name table is static, read-only data.
#ifndef TELSOR_MIME_HTMLCOLORS_H
#define TELSOR_MIME_HTMLCOLORS_H

#include "foundation/wintypes.h"

namespace telsor {

struct tag_COLOR_NAME {
  const char* pszName;
  ULONG dwColor;  // 0x00BBGGRR
};

// 174 rows in ascending strcasecmp order of the names: the CSS colour
// keywords (all but "slategrey") and 28 system-colour names.
extern const tag_COLOR_NAME g_aColorNames[];
const int COLOR_NAME_COUNT = 174;

// 0 for a null or empty text (colour left unchanged); otherwise 1 with
// colour set.
int ParseColor(const char* text, ULONG& colour);

// The bsearch comparison of the name lookup: strcasecmp of the key text
// (a const char*) and the row's name (row points to a tag_COLOR_NAME).
int CmpElemColorName(const void* key, const void* row);

}  // namespace telsor

#endif  // TELSOR_MIME_HTMLCOLORS_H
