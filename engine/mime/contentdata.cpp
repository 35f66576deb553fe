// Part content in memory or in a shared temporary file.
#include "mime/contentdata.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/exception.h"
#include "foundation/fileasistream.h"
#include "foundation/throwcode.h"
#include "foundation/tstringasistream.h"
#include "foundation/win32.h"

namespace telsor {

namespace {

// The last error as a code worth throwing (never 0).
DWORD LastErrorCode() {
  DWORD error = GetLastError();
  return error != 0 ? error : static_cast<DWORD>(EIO);
}

bool FileSize(const char* name, ULONGLONG& size) {
  struct stat st;
  if (stat(name, &st) != 0) return false;
  size = static_cast<ULONGLONG>(st.st_size);
  return true;
}

// Sizes above what a 32-bit size can hold count as not examinable.
bool FileSize32(const char* name, ULONG& size) {
  ULONGLONG full;
  if (!FileSize(name, full) || full > 0xFFFFFFFFull) return false;
  size = static_cast<ULONG>(full);
  return true;
}

bool WriteAll(int fd, const char* data, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

CRfc822ContentData::CRfc822ContentData() : m_bEmpty(1), m_nSize(0) {}

CRfc822ContentData::CRfc822ContentData(const CRfc822ContentData& other)
    : m_bEmpty(other.m_bEmpty),
      m_nSize(other.m_nSize),
      m_pFile(other.m_pFile),
      m_strData(other.m_strData),
      m_strTempDir(other.m_strTempDir) {}

CRfc822ContentData& CRfc822ContentData::operator=(const CRfc822ContentData& other) {
  if (this == &other) return *this;
  m_bEmpty = other.m_bEmpty;
  m_nSize = other.m_nSize;
  m_pFile = other.m_pFile;
  m_strData = other.m_strData;
  m_strTempDir = other.m_strTempDir;
  return *this;
}

CRfc822ContentData::~CRfc822ContentData() { Empty(); }

HRESULT CRfc822ContentData::PutAsString(const TSTRING& text) {
  m_pFile = nullptr;
  m_strData = text;
  SetSize(static_cast<ULONG>(m_strData.GetLength()));
  return S_OK;
}

HRESULT CRfc822ContentData::PutAsString(const unsigned char* data, ULONG length) {
  m_pFile = nullptr;
  m_strData.Release();
  SetSize(0);
  if (data == nullptr || length == 0) return S_OK;
  if (length > static_cast<ULONG>(INT_MAX)) return E_OUTOFMEMORY;
  char* buffer = nullptr;
  try {
    buffer = m_strData.GetBuffer(static_cast<int>(length));
  } catch (CException* e) {
    e->Delete();
    buffer = nullptr;
  }
  if (buffer == nullptr) {
    m_strData = "";
    return E_OUTOFMEMORY;
  }
  memcpy(buffer, data, length);
  m_strData.ReleaseBuffer(static_cast<int>(length));
  SetSize(length);
  return S_OK;
}

void CRfc822ContentData::PutAsFile(const CSharedObjPtr<CSharedTmpFile>& file) {
  if (static_cast<CSharedTmpFile*>(file) == static_cast<CSharedTmpFile*>(m_pFile)) {
    if (file == nullptr) Empty();
    return;
  }
  m_pFile = file;
  m_strData.Release();
  ULONG size = 0;
  if (HasFile() && !FileSize32(m_pFile->GetFileName(), size)) size = 0;
  SetSize(size);
}

HRESULT CRfc822ContentData::PutData(const CSharedObjPtr<CSharedTmpFile>& file, const TSTRING& text) {
  m_pFile = file;
  m_strData = text;
  SetSize(static_cast<ULONG>(m_strData.GetLength()));
  return S_OK;
}

void CRfc822ContentData::Empty() {
  m_strData.Release();
  m_pFile = nullptr;
  SetSize(0);
}

TSTRING& CRfc822ContentData::GetAsString() {
  EnsureDataInMemory();
  return m_strData;
}

const unsigned char* CRfc822ContentData::GetAsString(ULONG& length) {
  EnsureDataInMemory();
  length = static_cast<ULONG>(m_strData.GetLength());
  return reinterpret_cast<const unsigned char*>(m_strData.c_str());
}

IStream* CRfc822ContentData::GetAsStream() const {
  IStream* stream = nullptr;
  if (m_nSize != 0 && !m_strData.IsEmpty()) {
    ThrowIfFailed(CTstringAsIStream::CreateStreamOnTSTRING(m_strData, &stream));
    return stream;
  }
  if (m_nSize != 0 && HasFile()) {
    ThrowIfFailed(CFileAsIStream::CreateStreamOnFile(m_pFile->GetFileName(), GENERIC_READ, FILE_SHARE_READ,
                                                     OPEN_EXISTING, &stream));
    return stream;
  }
  CStreamPtr empty;
  ThrowIfFailed(CTstringAsIStream::CreateStreamOnTSTRING(TSTRING(), empty.Out()));
  ULARGE_INTEGER zero;
  zero.QuadPart = 0;
  ThrowIfFailed(empty->SetSize(zero));
  return empty.Detach();
}

CSharedObjPtr<CSharedTmpFile> CRfc822ContentData::GetAsFile() {
  EnsureDataInFile();
  return HasFile() ? m_pFile : CSharedObjPtr<CSharedTmpFile>();
}

void CRfc822ContentData::EnsureDataInMemory() {
  if (m_nSize == 0 || !m_strData.IsEmpty() || !HasFile()) return;
  const char* name = m_pFile->GetFileName();
  ULONGLONG size = 0;
  if (!FileSize(name, size)) return;
  if (size > static_cast<ULONGLONG>(INT_MAX)) ThrowCode(static_cast<DWORD>(E_OUTOFMEMORY));
  FILE* f = fopen(name, "rb");
  if (f == nullptr) ThrowCode(LastErrorCode());
  TSTRING data;
  size_t got = 0;
  if (size != 0) {
    char* buffer;
    try {
      buffer = data.GetBuffer(static_cast<int>(size));
    } catch (...) {
      fclose(f);
      throw;
    }
    got = fread(buffer, 1, static_cast<size_t>(size), f);
    bool failed = got < size && ferror(f) != 0;
    DWORD error = failed ? LastErrorCode() : 0;
    data.ReleaseBuffer(static_cast<int>(got));
    if (failed) {
      fclose(f);
      ThrowCode(error);
    }
  }
  fclose(f);
  // A file shortened since it was examined gives only what was read.
  m_strData = data;
  SetSize(static_cast<ULONG>(got));
}

void CRfc822ContentData::EnsureDataInFile() {
  if (HasFile() || m_nSize == 0 || m_strData.IsEmpty()) return;
  if (m_strTempDir.IsEmpty()) {
    DWORD error = GetSystemTempFolder(m_strTempDir);
    if (error != 0) ThrowCode(error);
  }
  TSTRING name;
  int fd = CreateUniqueTmpFile(m_strTempDir.c_str(), "BDY", name);
  CSharedObjPtr<CSharedTmpFile> file;
  try {
    file = new CSharedTmpFile(name.c_str(), 1);
  } catch (...) {
    close(fd);
    DeleteFile(name.c_str());
    throw;
  }
  if (file->GetFileName() == nullptr) {
    close(fd);
    DeleteFile(name.c_str());
    ThrowCode(static_cast<DWORD>(E_OUTOFMEMORY));
  }
  bool written = WriteAll(fd, m_strData.c_str(), static_cast<size_t>(m_strData.GetLength()));
  DWORD error = written ? 0 : LastErrorCode();
  if (close(fd) != 0 && written) {
    written = false;
    error = LastErrorCode();
  }
  if (!written) ThrowCode(error);  // file's last reference goes: removed
  m_pFile = file;
}

}  // namespace telsor
