// The feature extractor's matchers and message tests: armoured blocks cut
// out of a clean text, HTML markers in MIME preambles and epilogues, the
// HTML-only test, blanks in the subject, obscure transfer encodings and the
// "Organization" values.
//
//   TSTRING text("a\r\n-----BEGIN PGP MESSAGE-----\r\nhQEMA\r\n-----END PGP MESSAGE-----\r\nb");
//   RemoveEncryptedPart(text);
//   // "a\r\n-----BEGIN PGP MESSAGE--" "--END PGP MESSAGE-----\r\nb"
//   bool html = IsHTMLText("see <img src=x>");              // true: "<IMG " in any case
//   bool blanks = ManySpaceInSubject(TSTRING("a       b"), 7);  // true: 7 in a row
//   bool obscure = IsObscureEncoding(GetEncodingType("base64"));  // true
//   CRfc822Message message;
//   bool only = IsHTMLOnlyMessage(message);   // text/html, or multipart without plain text
//   TSTRING org;
//   AddOrganization(message, org);            // each value; "\r\n" after a raw one
//
// Armoured blocks: six pairs of begin and end lines ("--BEGIN PGP
// MESSAGE--" ... "--END PGP MESSAGE--", PGP SIGNED MESSAGE, PGP SIGNATURE,
// PGP PUBLIC KEY BLOCK, GEEK CODE BLOCK, and "-- Play-By-Email Data Follows
// This Line --" ... "-- End of Play-By-Email Data --"), found in any case.
// The lines carry two dashes at each end, so they match inside the usual
// five-dash armour lines. For each pair in turn every closed block loses
// what lies between its two lines; a begin line without an end line after
// it ends that pair's search and removes nothing.
//
// HTML markers, in any case: "</HTML>", "</HEAD>", "</BODY>", "</FONT>",
// "</TABLE>", "</TR>", "</TD>", "</A>", "<IMG " (with its blank),
// "</FRAMESET>", "<FRAME >". An opening <HTML> tag is not one of them.
//
// The matchers are built when the library is loaded and only searched
// afterwards, from any number of threads. The functions keep no state; only
// growing a string may throw (the engine's memory exception).
#ifndef TELSOR_CLASSIFY_MAILMATCHERS_H
#define TELSOR_CLASSIFY_MAILMATCHERS_H

#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/message.h"
#include "mime/messagepart.h"
#include "mime/transferencoding.h"
#include "search/seekmultiwords.h"
#include "search/seeksubstr.h"

namespace telsor {

// One begin or end line of an armoured block, matched without regard to case.
class CBlockBoundary : public CSeekSubstr {
 public:
  CBlockBoundary(const char* line);  // NOLINT: the table converts its lines
  ~CBlockBoundary() override;
};

// The HTML marker words, matched without regard to case.
class CDetectHtml : public CSeekMultiWords {
 public:
  CDetectHtml();
  ~CDetectHtml() override;

  static const char* aszWords[];  // the 11 words, then a null pointer
};

// Empties every closed armoured block of text in place (its lines stay).
void RemoveEncryptedPart(TSTRING& text);
// Whether the NUL-terminated text holds an HTML marker word; false for null.
bool IsHTMLText(const char* text);
// The message is text/html, or multipart with no plain-text part anywhere
// beneath it.
bool IsHTMLOnlyMessage(CRfc822Message& message);
// Whether a part of the list, or beneath one, has an empty content type,
// the bare type "text" or a type beginning with "text/plain" (any case).
bool HasTextPlainPart(CRfc822Parts& parts);
// Whether count blank characters (NUL or C-locale white space) stand in a
// row anywhere in the subject's whole length.
bool ManySpaceInSubject(const TSTRING& subject, ULONG count);
// True for everything but 7bit, 8bit, binary and quoted-printable: base64,
// uuencode, BinHex and an unknown name (0) are obscure.
bool IsObscureEncoding(tag_CONTENT_ENCODING encoding);
// Whether text begins with prefix, ASCII case ignored.
bool BeginsWithNoCase(const TSTRING& text, const char* prefix);
// Whether text is empty or holds only blanks, tabs, CR and LF.
bool IsTextEmpty(const TSTRING& text);
// Appends the values of the message's "Organization" fields to text: a
// value holding "=?" and a later "?=" decoded (RFC 2047) with no line end,
// any other value as it is followed by "\r\n".
void AddOrganization(CRfc822Message& message, TSTRING& text);

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_MAILMATCHERS_H
