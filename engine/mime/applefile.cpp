// CAppleFile: a Macintosh file with two forks, written out as BinHex 4.0.
#include "mime/applefile.h"

#include <string.h>

#include "foundation/errorroad.h"
#include "mime/binhex.h"

namespace telsor {

CAppleFile::CAppleFile() = default;

CAppleFile::~CAppleFile() = default;

void CAppleFile::PutFormat(FormatType format) {
  if (static_cast<uint32_t>(format) <= FORMAT_BINHEX40) m_format = format;
}

void CAppleFile::PutCode(char (&field)[5], const char* code) {
  memset(field, 0, sizeof field);
  if (code != nullptr) strncpy(field, code, 4);
}

HRESULT CAppleFile::EncodeBinHex(IStream* out) {
  return ResultOfCall([&]() -> HRESULT {
    CStreamPtr data = CStreamPtr::Adopt(m_dataFork.GetAsStream());
    CStreamPtr resource = CStreamPtr::Adopt(m_resFork.GetAsStream());
    TSTRING name = m_strFileName;
    return EncodeBinHex40(out, name.c_str(), 0, m_szFileType, m_szFileCreator, m_wFinderFlags, data,
                          static_cast<LONG>(m_dataFork.GetSize()), resource,
                          static_cast<LONG>(m_resFork.GetSize()));
  });
}

HRESULT CAppleFile::EncodeWithMIME(IStream* out, tag_CONTENT_ENCODING encoding) {
  if (m_format != FORMAT_BINHEX40) return E_NOTIMPL;
  switch (encoding) {
    case CONTENT_ENCODING_UNKNOWN:
    case CONTENT_ENCODING_7BIT:
    case CONTENT_ENCODING_8BIT:
    case CONTENT_ENCODING_BINARY:
    case CONTENT_ENCODING_BINHEX:
      return EncodeBinHex(out);
    default:
      return E_NOTIMPL;
  }
}

}  // namespace telsor
