// Content-Transfer-Encoding names and values.
//
//   tag_CONTENT_ENCODING e = GetEncodingType("Base64");     // CONTENT_ENCODING_BASE64
//   GetEncodingType("quoted-printable; x=1");                 // 4: only the start counts
//   GetEncodingType(nullptr);                                 // 1: no field means 7bit
//   GetEncodingTypeAsString(CONTENT_ENCODING_UUENCODE);       // "uuencode"
//
// The decoder and encoder of the encodings are in mime/streamdecoder.h and
// mime/streamencoder.h. Constant tables; safe from any thread.
#ifndef TELSOR_MIME_TRANSFERENCODING_H
#define TELSOR_MIME_TRANSFERENCODING_H

#include "foundation/wintypes.h"

namespace telsor {

enum tag_CONTENT_ENCODING : int32_t {
  CONTENT_ENCODING_UNKNOWN = 0,
  CONTENT_ENCODING_7BIT = 1,
  CONTENT_ENCODING_8BIT = 2,
  CONTENT_ENCODING_BINARY = 3,
  CONTENT_ENCODING_QUOTED_PRINTABLE = 4,
  CONTENT_ENCODING_BASE64 = 5,
  CONTENT_ENCODING_UUENCODE = 6,
  CONTENT_ENCODING_BINHEX = 7,
};

// The value of a transfer-encoding name: null or "" give 7bit; otherwise the
// first of "7bit", "quoted-printable", "base64", "8bit", "binary",
// "x-uuencode", "uuencode", "BinHex" that the name begins with (ASCII case
// ignored; leading blanks are not skipped); no match gives 0.
tag_CONTENT_ENCODING GetEncodingType(const char* name);

// The name of a value ("uuencode" for 6); "" for 0 and for values outside
// 1 to 7. Never null.
const char* GetEncodingTypeAsString(tag_CONTENT_ENCODING encoding);

}  // namespace telsor

#endif  // TELSOR_MIME_TRANSFERENCODING_H
