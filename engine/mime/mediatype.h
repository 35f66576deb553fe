// CRfc2045ContentMediaType: a Content-Type value (or any text in that form,
// such as the content attribute of an HTML meta tag) as a media type and an
// ordered parameter list.
//
//   static const char value[] = "multipart/mixed; boundary='b1'; charset=utf-8";
//   CRfc2045ContentMediaType ct;
//   HRESULT hr = ct.Parse(reinterpret_cast<const unsigned char*>(value), sizeof value - 1);
//   // S_OK: never fails, never reads past length
//   TSTRING type = ct.GetMediaType();       // "multipart/mixed" (case kept)
//   TSTRING boundary = ct.GetBoundary();    // "b1": quotes (double or single) removed
//   TSTRING name = ct.GetName();            // RFC 2047 decoded and trimmed
//   void* pos = FindAttribute("charset", ct.GetParameters());
//
// The parser is tolerant: white space never reaches the media type,
// attributes or unquoted values (pieces written apart are joined), comments
// and domain literals vanish, misplaced tokens are dropped, an unterminated
// quoted string still gives its text. "boundary" values turn NUL bytes into
// spaces and lose enclosing single quotes; "name" values lose NUL bytes, are
// decoded and trimmed, and a second "name" replaces the first one's value.
// Memory exhaustion throws the engine's memory exception and leaves the
// object partly filled. One thread at a time.
#ifndef TELSOR_MIME_MEDIATYPE_H
#define TELSOR_MIME_MEDIATYPE_H

#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/rfc2045parameter.h"

namespace telsor {

class CRfc2045ContentMediaType {
 public:
  CRfc2045ContentMediaType();
  ~CRfc2045ContentMediaType();

  // Replaces the whole content by the parse of length bytes at data; S_OK.
  [[nodiscard]] HRESULT Parse(const unsigned char* data, ULONG length);

  const TSTRING& GetMediaType() const { return m_strMediaType; }
  void PutMediaType(const TSTRING& mediaType) { m_strMediaType = mediaType; }
  CRfc2045ParameterList& GetParameters() { return m_Parameters; }
  const CRfc2045ParameterList& GetParameters() const { return m_Parameters; }

  // Appends (attribute, value), with the clean-up of "boundary" and "name"
  // values (done on value itself); a second "name" replaces the first's value.
  void AddParameter(TSTRING& attribute, TSTRING& value);

  // The first "name" ("boundary") parameter's value, else the stored one.
  TSTRING GetName() const;
  TSTRING GetBoundary() const;
  // Sets the first "name" ("boundary") parameter, appending one when there is
  // none, and stores the text.
  void PutName(const TSTRING& name);
  void PutBoundary(const TSTRING& boundary);

  CRfc2045ContentMediaType(const CRfc2045ContentMediaType&) = delete;
  CRfc2045ContentMediaType& operator=(const CRfc2045ContentMediaType&) = delete;

 private:
  // AddParameter with the position of the first "name" parameter known
  // (null: none yet), so that a value of many parameters parses in linear
  // time; the position is updated.
  void AddParameter(TSTRING& attribute, TSTRING& value, void*& namePosition);

  TSTRING m_strMediaType;
  TSTRING m_strBoundary;
  TSTRING m_strName;
  CRfc2045ParameterList m_Parameters;
};

}  // namespace telsor

#endif  // TELSOR_MIME_MEDIATYPE_H
