// The parser session: its temporary folder and temporary files.
#include "mime/rfc822parser.h"

#include <errno.h>

#include "foundation/throwcode.h"

namespace telsor {

CRfc822Parser::CRfc822Parser() : m_nMaxContentSizeInMemory(0), m_dwTempDirError(ENOENT) {}

CRfc822Parser::~CRfc822Parser() { (void)CloseSession(); }  // always S_OK; a destructor has no one to tell

HRESULT CRfc822Parser::OpenSession(const char* directory) {
  if (directory != nullptr && *directory != '\0') {
    m_strTempDir = directory;
    return S_OK;
  }
  m_strTempDir = "";
  DWORD error = GetSystemTempFolder(m_strTempDir);
  m_dwTempDirError = error != 0 ? error : static_cast<DWORD>(ENOENT);  // thrown while the folder is empty
  return S_OK;
}

HRESULT CRfc822Parser::CloseSession() { return S_OK; }

void CRfc822Parser::SplitAndStripAddress(const char* text, CRfc822Address& address) { address = text; }

CSharedObjPtr<CSharedTmpFile> CRfc822Parser::GetTmpFile(const char* prefix) const {
  if (prefix == nullptr) ThrowCode(EINVAL);
  if (m_strTempDir.IsEmpty()) ThrowCode(m_dwTempDirError);
  return CSharedTmpFile::Create(m_strTempDir.c_str(), prefix);
}

}  // namespace telsor
