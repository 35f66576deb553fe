// The gzip file stream over zlib's gzip file functions, bound at run time.
#include "foundation/gzfileasistream.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include "foundation/errorroad.h"
#include "foundation/regularfile.h"
#include "foundation/strhelpers.h"
#include "foundation/win32.h"

namespace telsor {

const char GZ_FILE_MAGIC[4] = {'T', 'L', 'G', 'Z'};

namespace {

const char GZ_LIBRARY[] = "gzlib.so";
// zlib's Z_BUF_ERROR: what gzerror reports for input that ended in the
// middle of a gzip member.
const int kZBufError = -5;

template <class PFN>
PFN Bind(HMODULE library, const char* name) {
  return reinterpret_cast<PFN>(GetProcAddress(library, name));
}

// What the first four bytes of a file opened for reading say.
enum Head { NOT_A_FILE, PLAIN_GZIP, AFTER_MAGIC };

// Opens path for reading when it is a regular file (never waiting on a FIFO
// or a device) and reads its first four bytes: AFTER_MAGIC when they are
// the magic, and then fd is the open descriptor placed at offset 4;
// PLAIN_GZIP for another regular file (closed again); NOT_A_FILE when path
// names no regular file that can be opened.
Head OpenAfterMagic(const char* path, int* fd) {
  int f = OpenRegularFile(path);
  if (f < 0) return NOT_A_FILE;
  char head[4];
  size_t got = 0;
  while (got < sizeof head) {
    ssize_t n = read(f, head + got, sizeof head - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (got == sizeof head && memcmp(head, GZ_FILE_MAGIC, sizeof head) == 0) {
    *fd = f;
    return AFTER_MAGIC;
  }
  close(f);
  return PLAIN_GZIP;
}

}  // namespace

CGZFileAsIStream::CGZFileAsIStream()
    : m_hFile(nullptr),
      m_hLibrary(nullptr),
      m_pfnOpen(nullptr),
      m_pfnClose(nullptr),
      m_pfnSeek(nullptr),
      m_pfnRead(nullptr),
      m_pfnWrite(nullptr),
      m_pfnDOpen(nullptr),
      m_pfnError(nullptr) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileName(nullptr, path, sizeof path - 1);
  path[n < sizeof path ? n : sizeof path - 1] = '\0';
  char* slash = strrchr(path, '/');
  if (slash != nullptr) {
    slash[1] = '\0';
  } else {
    path[0] = '\0';
  }
  STRNCAT(path, GZ_LIBRARY, sizeof path);
  m_hLibrary = LoadLibrary(path);
  if (m_hLibrary == nullptr) m_hLibrary = LoadLibrary(GZ_LIBRARY);
  if (m_hLibrary == nullptr) return;
  m_pfnOpen = Bind<PFN_GZOPEN>(m_hLibrary, "gzopen");
  m_pfnClose = Bind<PFN_GZCLOSE>(m_hLibrary, "gzclose");
  m_pfnSeek = Bind<PFN_GZSEEK>(m_hLibrary, "gzseek");
  m_pfnRead = Bind<PFN_GZREAD>(m_hLibrary, "gzread");
  m_pfnWrite = Bind<PFN_GZWRITE>(m_hLibrary, "gzwrite");
  m_pfnDOpen = Bind<PFN_GZDOPEN>(m_hLibrary, "gzdopen");
  m_pfnError = Bind<PFN_GZERROR>(m_hLibrary, "gzerror");
}

CGZFileAsIStream::~CGZFileAsIStream() {
  if (m_hFile != nullptr && m_pfnClose != nullptr) m_pfnClose(m_hFile);
  m_hFile = nullptr;
  if (m_hLibrary != nullptr) FreeLibrary(m_hLibrary);
  m_hLibrary = nullptr;
}

HRESULT CGZFileAsIStream::Open(const char* path, const char* mode) {
  // Without gzclose the file could never be closed: treat it as missing.
  if (m_pfnOpen == nullptr || m_pfnClose == nullptr) return TYPE_E_CANTLOADLIBRARY;
  int fd = -1;
  const Head head = mode[0] == 'r' && mode[1] != '+' ? OpenAfterMagic(path, &fd) : PLAIN_GZIP;
  if (head == NOT_A_FILE) return E_FAIL;
  if (head == AFTER_MAGIC) {
    if (m_pfnDOpen == nullptr) {
      close(fd);
      return TYPE_E_CANTLOADLIBRARY;
    }
    m_hFile = m_pfnDOpen(fd, mode);
    if (m_hFile == nullptr) close(fd);  // gzdopen owns fd only when it succeeds
  } else {
    m_hFile = m_pfnOpen(path, mode);
  }
  return m_hFile == nullptr ? E_FAIL : S_OK;
}

HRESULT CGZFileAsIStream::CreateStreamOnFile(const char* path, DWORD access, DWORD,
                                             DWORD disposition, IStream** out) {
  if (out == nullptr || path == nullptr) return E_POINTER;
  *out = nullptr;
  CGZFileAsIStream* stream = new (std::nothrow) CGZFileAsIStream;
  if (stream == nullptr) return E_OUTOFMEMORY;
  stream->AddRef();
  const char* mode = "rbv";
  if (access & (GENERIC_WRITE | STANDARD_RIGHTS_READ)) {
    mode = disposition == OPEN_EXISTING ? "r+bv" : "w+bv";
  }
  HRESULT hr = stream->Open(path, mode);
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  hr = ResultOf([&] { stream->m_strName = path; });
  if (FAILED(hr)) {
    stream->Release();
    return hr;
  }
  return HandOut(stream, out);
}

HRESULT CGZFileAsIStream::Read(void* buffer, ULONG count, ULONG* done) {
  if (m_pfnRead == nullptr) {
    if (done != nullptr) *done = 0;
    return TYPE_E_CANTLOADLIBRARY;
  }
  int n = 0;
  HRESULT hr = S_OK;
  if (count != 0) {
    if (buffer == nullptr) {
      hr = E_POINTER;
    } else {
      n = m_pfnRead(m_hFile, buffer, count);
      if (n < 0) {
        hr = E_FAIL;
        n = 0;
      } else if (static_cast<ULONG>(n) < count && m_pfnError != nullptr) {
        // The end came: Z_BUF_ERROR (-5) says it came inside the member.
        int error = 0;
        m_pfnError(m_hFile, &error);
        if (error == kZBufError) hr = E_FAIL;
      }
    }
  }
  if (done != nullptr) *done = static_cast<ULONG>(n);
  return hr;
}

HRESULT CGZFileAsIStream::Write(const void* buffer, ULONG count, ULONG* done) {
  int n = 0;
  if (m_pfnWrite != nullptr && count != 0 && buffer != nullptr) {
    n = m_pfnWrite(m_hFile, buffer, count);
    if (n < 0) n = 0;
  }
  if (done != nullptr) *done = static_cast<ULONG>(n);
  if (buffer == nullptr && count != 0) return E_POINTER;
  if (n == 0 && count != 0) return E_FAIL;
  return m_pfnWrite == nullptr ? TYPE_E_CANTLOADLIBRARY : S_OK;
}

HRESULT CGZFileAsIStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  if (m_pfnSeek == nullptr || move.QuadPart > 0x7FFFFFFF) return TYPE_E_CANTLOADLIBRARY;
  int whence = origin == STREAM_SEEK_CUR ? SEEK_CUR : origin == STREAM_SEEK_END ? SEEK_END : SEEK_SET;
  z_off_t pos = m_pfnSeek(m_hFile, static_cast<z_off_t>(move.QuadPart), whence);
  if (pos == -1) return E_FAIL;
  if (newPosition != nullptr) newPosition->QuadPart = static_cast<ULONGLONG>(pos);
  return S_OK;
}

}  // namespace telsor
