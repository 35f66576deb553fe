// The parser session: its temporary folder and temporary files.
#include "mime/rfc822parser.h"

#include <errno.h>

#include "foundation/throwcode.h"
#include "foundation/win32.h"

namespace telsor {

CRfc822Parser::CRfc822Parser() : m_nMaxContentSizeInMemory(0), m_dwTempDirError(ENOENT) {}

CRfc822Parser::~CRfc822Parser() { CloseSession(); }

HRESULT CRfc822Parser::OpenSession(const char* directory) {
  if (directory != nullptr && *directory != '\0') {
    m_strTempDir = directory;
    return S_OK;
  }
  char buffer[MAX_PATH + 1];
  buffer[0] = '\0';
  SetLastError(0);
  DWORD n = GetTempPath(sizeof buffer, buffer);
  if (n == 0 || n > MAX_PATH || buffer[0] == '\0') {
    DWORD error = GetLastError();
    m_dwTempDirError = error != 0 ? error : static_cast<DWORD>(ENOENT);
    m_strTempDir = "";
  } else {
    m_strTempDir = buffer;
  }
  return S_OK;
}

HRESULT CRfc822Parser::CloseSession() { return S_OK; }

CSharedObjPtr<CSharedTmpFile> CRfc822Parser::GetTmpFile(const char* prefix) const {
  if (prefix == nullptr) ThrowCode(EINVAL);
  if (m_strTempDir.IsEmpty()) ThrowCode(m_dwTempDirError);
  return CSharedTmpFile::Create(m_strTempDir.c_str(), prefix);
}

}  // namespace telsor
