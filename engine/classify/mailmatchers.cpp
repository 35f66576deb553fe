// The feature extractor's matchers and message tests.
#include "classify/mailmatchers.h"

#include <ctype.h>
#include <string.h>
#include <strings.h>

#include "mime/headerfields.h"
#include "mime/rfc2047text.h"
#include "search/seekpattern.h"

namespace telsor {

const char* CDetectHtml::aszWords[] = {"</HTML>", "</HEAD>", "</BODY>", "</FONT>", "</TABLE>", "</TR>",
                                       "</TD>",   "</A>",    "<IMG ",   "</FRAMESET>", "<FRAME >", nullptr};

CDetectHtml::CDetectHtml() { Compile(aszWords, 0); }

CDetectHtml::~CDetectHtml() {}

CBlockBoundary::CBlockBoundary(const char* line) { Compile(line, 0, 0); }

CBlockBoundary::~CBlockBoundary() {}

namespace {

// Built when the library is loaded, the detector first, and destroyed in
// the reverse order at unload; only searched in between.
const CDetectHtml g_detectHtml;

// Begin and end line of each kind of armoured block, in pairs.
const CBlockBoundary g_blockBoundaries[] = {
    "--BEGIN PGP MESSAGE--",
    "--END PGP MESSAGE--",
    "--BEGIN PGP SIGNED MESSAGE--",
    "--END PGP SIGNED MESSAGE--",
    "--BEGIN PGP SIGNATURE--",
    "--END PGP SIGNATURE--",
    "--BEGIN PGP PUBLIC KEY BLOCK--",
    "--END PGP PUBLIC KEY BLOCK--",
    "--BEGIN GEEK CODE BLOCK--",
    "--END GEEK CODE BLOCK--",
    "-- Play-By-Email Data Follows This Line --",
    "-- End of Play-By-Email Data --",
};
const int kBlockPairs = static_cast<int>(sizeof g_blockBoundaries / sizeof g_blockBoundaries[0]) / 2;
// The start every begin line of the first pairs shares: a text without it
// holds none of those blocks, and one search says so for all of them.
const CBlockBoundary g_beginPrefix("--BEGIN ");
const int kPrefixedPairs = 5;

// Case-insensitive comparison of the whole value.
bool EqualsNoCase(const TSTRING& text, const char* value) { return strcasecmp(text.c_str(), value) == 0; }

// Appends the value of an "Organization" field.
void AppendOrganization(const TSTRING& value, TSTRING& text) {
  int open = value.Find("=?");
  if (open >= 0 && value.Find("?=", open + 2) >= 0) {
    CRfc2047Text words(value);
    words.Parse();
    TSTRING decoded = words.GetDecodedText();
    text.append(decoded.c_str(), decoded.GetLength());
  } else {
    text.append(value.c_str(), value.GetLength());
    text.append("\r\n", 2);
  }
}

}  // namespace

bool BeginsWithNoCase(const TSTRING& text, const char* prefix) {
  size_t length = strlen(prefix);
  return static_cast<size_t>(text.GetLength()) >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

void RemoveEncryptedPart(TSTRING& text) {
  const bool prefixed =
      g_beginPrefix.Search(text.c_str(), static_cast<DWORD>(text.GetLength()), nullptr) != SEEK_NOT_FOUND;
  for (int pair = prefixed ? 0 : kPrefixedPairs; pair < kBlockPairs; ++pair) {
    const CBlockBoundary& begin = g_blockBoundaries[2 * pair];
    const CBlockBoundary& end = g_blockBoundaries[2 * pair + 1];
    DWORD pos = 0;
    while (pos < static_cast<DWORD>(text.GetLength())) {
      DWORD length = static_cast<DWORD>(text.GetLength());
      DWORD matched = 0;
      DWORD at = begin.Search(text.c_str() + pos, length - pos, &matched);
      if (at == SEEK_NOT_FOUND) break;
      DWORD body = pos + at + matched;  // the first character after the begin line
      if (body >= length) break;
      DWORD endAt = end.Search(text.c_str() + body, length - body, &matched);
      if (endAt == SEEK_NOT_FOUND) break;
      if (endAt > 0) text.Delete(static_cast<int>(body), static_cast<int>(endAt));
      pos = body + matched;  // after the end line, now right behind the begin line
    }
  }
}

bool IsHTMLText(const char* text) {
  if (text == nullptr || *text == 0) return false;
  return g_detectHtml.Search(text, 0, nullptr) != SEEK_NOT_FOUND;
}

bool IsHTMLOnlyMessage(CRfc822Message& message) {
  const TSTRING& type = message.GetContentMediaType();
  if (BeginsWithNoCase(type, "text/html")) return true;
  if (BeginsWithNoCase(type, "multipart/")) return !HasTextPlainPart(*message.GetParts(nullptr));
  return false;
}

bool HasTextPlainPart(CRfc822Parts& parts) {
  for (void* p = parts.GetHeadPosition(); p != nullptr;) {
    CRfc822Part* part = parts.GetNext(p);
    const TSTRING& type = part->GetContentMediaType();
    if (type.IsEmpty() || EqualsNoCase(type, "text") || BeginsWithNoCase(type, "text/plain")) return true;
    if (HasTextPlainPart(*part->GetParts(nullptr))) return true;
  }
  return false;
}

bool ManySpaceInSubject(const TSTRING& subject, ULONG count) {
  ULONG run = 0;
  for (int i = 0; i < subject.GetLength(); ++i) {
    unsigned char c = static_cast<unsigned char>(subject[i]);
    if (c == 0 || (c < 0x80 && isspace(c))) {
      if (++run >= count) return true;
    } else {
      run = 0;
    }
  }
  return false;
}

bool IsObscureEncoding(tag_CONTENT_ENCODING encoding) {
  return encoding < CONTENT_ENCODING_7BIT || encoding > CONTENT_ENCODING_QUOTED_PRINTABLE;
}

bool IsTextEmpty(const TSTRING& text) {
  for (int i = 0; i < text.GetLength(); ++i) {
    char c = text[i];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

void AddOrganization(CRfc822Message& message, TSTRING& text) {
  CRfc822Fields& fields = message.GetFields(CRfc822Fields::ORDER_BY_NAME);
  LONG first = fields.FindFirst("Organization");
  if (first < 0) return;
  for (ULONG i = static_cast<ULONG>(first); i < fields.GetCount(); ++i) {
    const CRfc822Field& field = fields[static_cast<LONG>(i)];
    if (!EqualsNoCase(field.GetName(), "Organization")) break;
    AppendOrganization(field.GetContents(), text);
  }
}

}  // namespace telsor
