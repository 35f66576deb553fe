// Anomaly flags: the bits that the structure scan, the header-field scanner,
// the body parser and header filling add to a part when its text is odd.
// They are never failures; bits are only ever added, and the feature
// extractor turns them into spam features.
//
//   static const char head[] = "Subject: hi\nFrom: a@b\r\n\r\n";   // a bare LF
//   CRfc822HeadersParser scanner(reinterpret_cast<const unsigned char*>(head), sizeof head - 1);
//   ULONG ns, nl, vs, vl;
//   do scanner.NextField(ns, nl, vs, vl); while (nl != 0);
//   DWORD flags = scanner.GetAnomalyFlags();
//   bool badEol = (flags & ANOMALY_BAD_EOL) != 0;    // a line end not CR LF
//   bool malformed = (flags & ANOMALY_MALFORMED_LINE) == ANOMALY_MALFORMED_LINE;
#ifndef TELSOR_MIME_ANOMALYFLAGS_H
#define TELSOR_MIME_ANOMALYFLAGS_H

#include "foundation/wintypes.h"

namespace telsor {

enum : DWORD {
  // Single bits.
  ANOMALY_BAD_EOL = 0x1,           // a line end that is not a CR LF pair
  ANOMALY_CONTROL_CHARS = 0x2,     // control characters in the message
  ANOMALY_HEADER_SYNTAX = 0x4,     // a header line is malformed (always with 0x8)
  ANOMALY_HEADER_STRICT = 0x8,     // from now on only known field names count
  ANOMALY_NAME_COMMENT = 0x10,     // a comment in a header field name
  ANOMALY_HIDDEN_PART = 0x20,      // uuencode, BinHex or pasted mail in a text
  ANOMALY_EMPTY_BOUNDARY = 0x40,   // Content-Type with an empty boundary
  ANOMALY_BAD_DATE = 0x80,         // the Date field is not a date
  ANOMALY_CONTENT_TYPE = 0x100,    // Content-Type repeated or the boundary in a header
  ANOMALY_NO_CLOSING_DELIMITER = 0x200,

  // The combinations that are set together.
  ANOMALY_MALFORMED_LINE = ANOMALY_HEADER_SYNTAX | ANOMALY_HEADER_STRICT,             // 0xC
  ANOMALY_NAME_PARENTHESIS = ANOMALY_HEADER_STRICT | ANOMALY_NAME_COMMENT,           // 0x18
  ANOMALY_NO_BOUNDARY = ANOMALY_HEADER_STRICT | ANOMALY_EMPTY_BOUNDARY,              // 0x48
  ANOMALY_SECOND_CONTENT_TYPE = ANOMALY_CONTENT_TYPE | ANOMALY_MALFORMED_LINE,       // 0x10C
  ANOMALY_BOUNDARY_IN_HEADER = ANOMALY_SECOND_CONTENT_TYPE | ANOMALY_EMPTY_BOUNDARY,  // 0x14C
};

}  // namespace telsor

#endif  // TELSOR_MIME_ANOMALYFLAGS_H
