// Content-Transfer-Encoding names and values.
#include "mime/transferencoding.h"

namespace telsor {

namespace {

struct EncodingName {
  const char* name;
  size_t length;
  tag_CONTENT_ENCODING value;
};

// Tried in this order; "x-uuencode" before "uuencode" only matters for the
// value, which is the same.
const EncodingName kEncodingNames[] = {
    {"7bit", 4, CONTENT_ENCODING_7BIT},
    {"quoted-printable", 16, CONTENT_ENCODING_QUOTED_PRINTABLE},
    {"base64", 6, CONTENT_ENCODING_BASE64},
    {"8bit", 4, CONTENT_ENCODING_8BIT},
    {"binary", 6, CONTENT_ENCODING_BINARY},
    {"x-uuencode", 10, CONTENT_ENCODING_UUENCODE},
    {"uuencode", 8, CONTENT_ENCODING_UUENCODE},
    {"BinHex", 6, CONTENT_ENCODING_BINHEX},
    {nullptr, 0, CONTENT_ENCODING_UNKNOWN},
};

// True when the first length bytes of name equal word without regard to ASCII
// case (a shorter name stops at its NUL, which equals no letter).
bool StartsWithNoCase(const char* name, const char* word, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    unsigned char a = static_cast<unsigned char>(name[i]);
    unsigned char b = static_cast<unsigned char>(word[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b + 32);
    if (a != b) return false;
  }
  return true;
}

}  // namespace

tag_CONTENT_ENCODING GetEncodingType(const char* name) {
  if (name == nullptr || name[0] == '\0') return CONTENT_ENCODING_7BIT;
  for (const EncodingName* row = kEncodingNames; row->name != nullptr; ++row) {
    if (StartsWithNoCase(name, row->name, row->length)) return row->value;
  }
  return CONTENT_ENCODING_UNKNOWN;
}

const char* GetEncodingTypeAsString(tag_CONTENT_ENCODING encoding) {
  switch (encoding) {
    case CONTENT_ENCODING_7BIT: return "7bit";
    case CONTENT_ENCODING_8BIT: return "8bit";
    case CONTENT_ENCODING_BINARY: return "binary";
    case CONTENT_ENCODING_QUOTED_PRINTABLE: return "quoted-printable";
    case CONTENT_ENCODING_BASE64: return "base64";
    case CONTENT_ENCODING_UUENCODE: return "uuencode";
    case CONTENT_ENCODING_BINHEX: return "BinHex";
    default: return "";
  }
}

}  // namespace telsor
