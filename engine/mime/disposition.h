// CRfc2045DispType: a Content-Disposition value as its type, its parameters
// and the file name of its "filename" parameter.
//
//   static const char value[] = "attachment; filename=\" report.pdf. \"";
//   CRfc2045DispType disp;
//   HRESULT hr = disp.Parse(reinterpret_cast<const unsigned char*>(value), sizeof value - 1);
//   // S_OK: never fails, never reads past length
//   TSTRING type = disp.GetDispositionType();   // "attachment" (case kept)
//   TSTRING file = disp.GetFilename();          // "report.pdf"
//
// Tolerant like the Content-Type parser: white space between tokens is
// dropped (an unquoted value of two words is joined), comments and domain
// literals vanish, a missing "=" gives an empty value, stray separators give
// parameters with empty attributes. A "filename" value loses NUL bytes, is
// RFC 2047 decoded when it holds "=?", loses leading blanks and trailing
// blanks and full stops; a second "filename" (in any case) replaces the
// first one's value. Memory exhaustion throws the engine's memory exception.
// One thread at a time.
#ifndef TELSOR_MIME_DISPOSITION_H
#define TELSOR_MIME_DISPOSITION_H

#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/rfc2045parameter.h"

namespace telsor {

class CRfc2045DispType {
 public:
  CRfc2045DispType();
  ~CRfc2045DispType();

  // Replaces the whole content by the parse of length bytes at data; S_OK.
  [[nodiscard]] HRESULT Parse(const unsigned char* data, ULONG length);

  const TSTRING& GetDispositionType() const { return m_strType; }
  void PutDispositionType(const TSTRING& type) { m_strType = type; }
  CRfc2045ParameterList& GetParameters() { return m_Parameters; }
  const CRfc2045ParameterList& GetParameters() const { return m_Parameters; }

  // Appends (attribute, value); a "filename" value is cleaned up in place
  // and replaces the value of an existing "filename" parameter.
  void AddParameter(TSTRING& attribute, TSTRING& value);
  // The "filename" parameter's value when there is one (it is then also kept
  // as the stored file name), else the stored file name.
  TSTRING& GetFilename() const;
  // Sets the "filename" parameter (appending one when there is none) and the
  // stored file name.
  void PutFilename(const TSTRING& name);

  CRfc2045DispType(const CRfc2045DispType&) = delete;
  CRfc2045DispType& operator=(const CRfc2045DispType&) = delete;

 private:
  // AddParameter with the position of the "filename" parameter known (null:
  // none yet), so that many parameters parse in linear time.
  void AddParameter(TSTRING& attribute, TSTRING& value, void*& filenamePosition);

  TSTRING m_strType;
  mutable TSTRING m_strFilename;
  CRfc2045ParameterList m_Parameters;
};

}  // namespace telsor

#endif  // TELSOR_MIME_DISPOSITION_H
