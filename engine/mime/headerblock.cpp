// Header blocks read without a message part: field collections from header
// text, and the raw header block of a stream or a file.
#include <ctype.h>
#include <string.h>

#include "foundation/errorroad.h"
#include "foundation/fileasistream.h"
#include "mime/headerscanner.h"
#include "mime/mimeresults.h"
#include "mime/rfc822parser.h"

namespace telsor {

namespace {

void SkipWhiteSpace(CRfc822HeadersParser& scanner) {
  int c;
  while ((c = scanner.GetChar()) != -1) {
    if (!isspace(c)) {
      scanner.PutBackChar();
      return;
    }
  }
}

}  // namespace

HRESULT CRfc822Parser::CreateFieldsCollection(const char* text, CRfc822Fields& fields, int skipWhiteSpace) {
  if (text == nullptr) return S_OK;
  return ResultOf([&] {
    CRfc822HeadersParser scanner(reinterpret_cast<const unsigned char*>(text), static_cast<ULONG>(strlen(text)));
    if (skipWhiteSpace) SkipWhiteSpace(scanner);
    tag_HEADER_FIELD field;
    while (ReadHeaderField(scanner, field) == HEADER_FIELD_READ) {
      fields.Add(field.name, field.value);
      if (skipWhiteSpace) SkipWhiteSpace(scanner);
    }
  });
}

HRESULT CRfc822Parser::ExtractHeaders(IStream* stream, TSTRING& headers) const {
  if (stream == nullptr) return E_POINTER;
  return ResultOfCall([&]() -> HRESULT {
    CRfc822HeadersParser scanner(stream, CStreamReader::NO_LIMIT);
    DWORD start = scanner.GetPos();
    DWORD end = start;
    for (;;) {
      ULONG nameStart, nameLength, valueStart, valueLength;
      DWORD after = scanner.NextField(nameStart, nameLength, valueStart, valueLength);
      if (nameLength == 0) break;
      if (nameLength > CRfc822HeadersParser::MAX_NAME_LENGTH) return E_MIME_NAME_TOO_LONG;
      end = after;
    }
    TSTRING block;
    HRESULT hr = scanner.ReadData(start, end, block);
    if (FAILED(hr)) return hr;
    headers = block;
    return S_OK;
  });
}

HRESULT CRfc822Parser::ExtractHeaders(const char* path, TSTRING& headers) const {
  CStreamPtr stream;
  HRESULT hr = CFileAsIStream::CreateStreamOnFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, stream.Out());
  if (FAILED(hr)) return hr;
  return ExtractHeaders(stream, headers);
}

}  // namespace telsor
