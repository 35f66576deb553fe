// CFileAsIStream: an IStream over an operating-system file descriptor.
//
//   const char* path = "/etc/hostname";
//   BYTE buf[512];
//   IStream* s = nullptr;
//   HRESULT hr = CFileAsIStream::CreateStreamOnFile(path, GENERIC_READ, FILE_SHARE_READ,
//                                                   OPEN_EXISTING, &s);
//   if (FAILED(hr)) return hr;          // E_ACCESSDENIED permission denied, E_FAIL other
//   ULONG got = 0;
//   hr = s->Read(buf, sizeof buf, &got);  // S_FALSE when fewer bytes came (end of file)
//   s->Release();                       // closes the file
//
// Offsets are 64-bit. Write finishes the whole request (partial writes and
// interrupted calls are continued) or returns E_FAIL with the bytes that
// did get written. A failing Seek returns E_FAIL and leaves the position.
// Ownership and threads: see istreamimpl.h.
#ifndef TELSOR_FOUNDATION_FILEASISTREAM_H
#define TELSOR_FOUNDATION_FILEASISTREAM_H

#include "foundation/istreamimpl.h"

// Access rights.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define STANDARD_RIGHTS_READ 0x00020000u
// Share modes (accepted and ignored).
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
// Dispositions.
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

namespace telsor {

class CFileAsIStream : public CIStreamImpl {
 public:
  // Opens path. access: GENERIC_READ (or STANDARD_RIGHTS_READ) reads,
  // GENERIC_WRITE writes, both or GENERIC_ALL read and write, GENERIC_EXECUTE
  // makes a created file owner-executable. disposition: 1 create (fail if it
  // exists), 2 create or truncate, 3 open existing, 4 create or truncate
  // (exactly as 2), 5 truncate existing; other values open. New files get
  // mode 0600 (0700). share is ignored.
  // Returns 0 with *out holding one reference; E_POINTER for a null path or
  // out (*out untouched); E_OUTOFMEMORY without memory; E_ACCESSDENIED when
  // permission is denied, E_FAIL for other open failures (*out null).
  static HRESULT CreateStreamOnFile(const char* path, DWORD access, DWORD share,
                                    DWORD disposition, IStream** out);
  // Opens path for reading only when it names a regular file
  // (foundation/regularfile.h): as CreateStreamOnFile with GENERIC_READ and
  // OPEN_EXISTING, except that a directory, FIFO, socket or device is
  // refused at once with E_FAIL (errno EISDIR or EINVAL), never opened.
  static HRESULT CreateStreamOnRegularFile(const char* path, IStream** out);

  // One read of count bytes: 0 when all came, 1 when fewer (0 at the end),
  // E_FAIL on failure (*done untouched), E_POINTER for a null buffer.
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override;
  // Writes all count bytes: 0, or E_FAIL with *done = the bytes written
  // before the failure (a full disk, a closed pipe).
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override;
  // 64-bit lseek; origin 1 current, 2 end, anything else start. Failure:
  // E_FAIL, position and *newPosition untouched.
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  // ftruncate to size (64-bit); the position does not move. 0 or E_FAIL.
  HRESULT SetSize(ULARGE_INTEGER size) override;
  // flags without STATFLAG_NONAME: the record zeroed and E_FAIL (no name
  // can be given). With it: size, times, type 2, locks 2 and the access mask.
  HRESULT Stat(STATSTG* st, DWORD flags) override;

  ~CFileAsIStream() override;

 private:
  CFileAsIStream() : m_fd(-1), m_dwAccess(0) {}
  // A stream that owns fd (closed when no stream can be made).
  static HRESULT Adopt(int fd, DWORD access, IStream** out);

  int m_fd;          // -1 when no file is open
  DWORD m_dwAccess;  // as given to the factory, reported by Stat
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_FILEASISTREAM_H
