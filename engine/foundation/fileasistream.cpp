// The file stream: an IStream over a file descriptor.
#include "foundation/fileasistream.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "foundation/regularfile.h"
#include "foundation/win32.h"

namespace telsor {

namespace {

int OpenFlags(DWORD access, DWORD disposition, mode_t* mode) {
  int flags;
  if (access & (GENERIC_READ | STANDARD_RIGHTS_READ)) {
    flags = (access & GENERIC_WRITE) ? O_RDWR : O_RDONLY;
  } else {
    flags = (access & GENERIC_WRITE) ? O_WRONLY : O_RDONLY;
  }
  *mode = 0600;
  if (access & GENERIC_ALL) {
    flags = O_RDWR;
  } else if (access & GENERIC_EXECUTE) {
    *mode = 0700;
  }
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    // Message composition into a file relies on the truncation.
    case OPEN_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: break;
  }
  return flags | O_LARGEFILE;
}

// The result of an open that failed with err; errno keeps err.
HRESULT OpenFailure(int err) {
  errno = err;
  return (err == EACCES || err == EPERM) ? E_ACCESSDENIED : E_FAIL;
}

}  // namespace

HRESULT CFileAsIStream::Adopt(int fd, DWORD access, IStream** out) {
  CFileAsIStream* stream = new (std::nothrow) CFileAsIStream;
  if (stream == nullptr) {
    close(fd);
    return E_OUTOFMEMORY;
  }
  stream->AddRef();
  stream->m_fd = fd;
  stream->m_dwAccess = access;
  return HandOut(stream, out);
}

HRESULT CFileAsIStream::CreateStreamOnFile(const char* path, DWORD access, DWORD,
                                           DWORD disposition, IStream** out) {
  if (out == nullptr || path == nullptr) return E_POINTER;
  *out = nullptr;
  mode_t mode;
  int flags = OpenFlags(access, disposition, &mode);
  int fd;
  do {
    fd = open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return OpenFailure(errno);
  return Adopt(fd, access, out);
}

HRESULT CFileAsIStream::CreateStreamOnRegularFile(const char* path, IStream** out) {
  if (out == nullptr || path == nullptr) return E_POINTER;
  *out = nullptr;
  const int fd = OpenRegularFile(path);
  if (fd < 0) return OpenFailure(errno);
  return Adopt(fd, GENERIC_READ, out);
}

CFileAsIStream::~CFileAsIStream() {
  if (m_fd != -1) {
    close(m_fd);
    m_fd = -1;
  }
}

HRESULT CFileAsIStream::Read(void* buffer, ULONG count, ULONG* done) {
  if (buffer == nullptr && count != 0) return E_POINTER;
  ssize_t n;
  do {
    n = read(m_fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return E_FAIL;
  if (done != nullptr) *done = static_cast<ULONG>(n);
  return static_cast<ULONG>(n) == count ? S_OK : S_FALSE;
}

HRESULT CFileAsIStream::Write(const void* buffer, ULONG count, ULONG* done) {
  if (buffer == nullptr && count != 0) {
    if (done != nullptr) *done = 0;
    return E_POINTER;
  }
  const BYTE* p = static_cast<const BYTE*>(buffer);
  ULONG written = 0;
  HRESULT hr = S_OK;
  while (written < count) {
    ssize_t n = write(m_fd, p + written, count - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {  // 0 for a non-empty request would repeat forever
      hr = E_FAIL;
      break;
    }
    written += static_cast<ULONG>(n);
  }
  if (done != nullptr) *done = written;
  return hr;
}

HRESULT CFileAsIStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  int whence = origin == STREAM_SEEK_CUR ? SEEK_CUR : origin == STREAM_SEEK_END ? SEEK_END : SEEK_SET;
  off_t pos = lseek(m_fd, static_cast<off_t>(move.QuadPart), whence);
  if (pos < 0) return E_FAIL;
  if (newPosition != nullptr) newPosition->QuadPart = static_cast<ULONGLONG>(pos);
  return S_OK;
}

HRESULT CFileAsIStream::SetSize(ULARGE_INTEGER size) {
  if (size.QuadPart > static_cast<ULONGLONG>(INT64_MAX)) return E_FAIL;
  int r;
  do {
    r = ftruncate(m_fd, static_cast<off_t>(size.QuadPart));
  } while (r < 0 && errno == EINTR);
  return r == 0 ? S_OK : E_FAIL;
}

HRESULT CFileAsIStream::Stat(STATSTG* st, DWORD flags) {
  if (st == nullptr) return E_POINTER;
  memset(st, 0, sizeof *st);
  if ((flags & STATFLAG_NONAME) == 0) return E_FAIL;
  struct stat info;
  if (fstat(m_fd, &info) != 0) return E_FAIL;
  st->cbSize.QuadPart = static_cast<ULONGLONG>(info.st_size);
  TimetToFileTime(info.st_mtime, &st->mtime);
  TimetToFileTime(info.st_ctime, &st->ctime);
  TimetToFileTime(info.st_atime, &st->atime);
  st->grfMode = m_dwAccess;
  st->type = STGTY_STREAM;
  st->grfLocksSupported = 2;
  return S_OK;
}

}  // namespace telsor
