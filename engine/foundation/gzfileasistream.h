// CGZFileAsIStream: a gzip-compressed file as an IStream, through zlib's gzip
// file functions bound at run time from "gzlib.so".
//
//   const char* path = "Qor_33.bin";
//   BYTE buf[512];
//   ULONG got = 0;
//   IStream* s = nullptr;
//   HRESULT hr = CGZFileAsIStream::CreateStreamOnFile(path, GENERIC_READ, FILE_SHARE_READ,
//                                                     OPEN_EXISTING, &s);
//   if (hr == TYPE_E_CANTLOADLIBRARY) return hr;   // no gzlib.so, or no gzopen in it
//   if (FAILED(hr)) return hr;          // E_FAIL: gzopen failed
//   s->Read(buf, sizeof buf, &got);     // the uncompressed bytes
//   s->Release();                       // gzclose, then the library is released
//
// Each stream object loads "gzlib.so" for itself: first from the directory of
// the running executable, else by the plain name through the dynamic loader's
// search. gzopen, gzclose, gzseek, gzread, gzwrite, gzdopen and gzerror are
// bound by name with zlib's own prototypes (64-bit z_off_t). A file that begins with
// the four bytes "TLGZ" is read from offset 4: the gzip member follows the
// magic. Ownership and threads: see istreamimpl.h.
#ifndef TELSOR_FOUNDATION_GZFILEASISTREAM_H
#define TELSOR_FOUNDATION_GZFILEASISTREAM_H

#include <stdint.h>

#include "foundation/fileasistream.h"
#include "foundation/istreamimpl.h"
#include "foundation/tstring.h"

namespace telsor {

// The four bytes in front of a gzip member in a classifier data file.
extern const char GZ_FILE_MAGIC[4];

class CGZFileAsIStream : public CIStreamImpl {
 public:
  // zlib's types as the library defines them on this platform.
  typedef void* gzFile;
  typedef int64_t z_off_t;

  // Arguments as CFileAsIStream::CreateStreamOnFile. Mode "rbv" unless access
  // holds GENERIC_WRITE or 0x00020000: then "r+bv" for disposition 3 and
  // "w+bv" otherwise; share is ignored. A read-only open of a file starting
  // with "TLGZ" reads the gzip member after it (gzdopen on a descriptor
  // placed at offset 4); a read-only open of anything but a regular file
  // (a directory, FIFO or device: foundation/regularfile.h) fails at once.
  // Returns 0 with *out holding one reference; E_POINTER for a null path or
  // out; E_OUTOFMEMORY without memory; TYPE_E_CANTLOADLIBRARY when the library or a needed
  // function is missing; E_FAIL when the open fails.
  static HRESULT CreateStreamOnFile(const char* path, DWORD access, DWORD share,
                                    DWORD disposition, IStream** out);

  // n = gzread(count): 0 also for a short read (n in *done); E_FAIL on
  // failure, and for a short read where the compressed data ends in the
  // middle of its member (a cut-off file; gzerror tells it, when the library
  // has it); TYPE_E_CANTLOADLIBRARY without gzread.
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override;
  // n = gzwrite(count): E_FAIL when nothing of a non-empty request was
  // written; without gzwrite E_FAIL (non-empty) or TYPE_E_CANTLOADLIBRARY (empty).
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override;
  // gzseek of the uncompressed position. A move above 0x7FFFFFFF, or no
  // gzseek, gives TYPE_E_CANTLOADLIBRARY; a failing gzseek E_FAIL.
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;

  ~CGZFileAsIStream() override;

 private:
  CGZFileAsIStream();

  typedef gzFile (*PFN_GZOPEN)(const char* path, const char* mode);
  typedef int (*PFN_GZCLOSE)(gzFile file);
  typedef z_off_t (*PFN_GZSEEK)(gzFile file, z_off_t offset, int whence);
  typedef int (*PFN_GZREAD)(gzFile file, void* buffer, unsigned count);
  typedef int (*PFN_GZWRITE)(gzFile file, const void* buffer, unsigned count);
  typedef gzFile (*PFN_GZDOPEN)(int fd, const char* mode);
  typedef const char* (*PFN_GZERROR)(gzFile file, int* error);

  // Opens path in mode; 0, E_FAIL or TYPE_E_CANTLOADLIBRARY.
  HRESULT Open(const char* path, const char* mode);

  gzFile m_hFile;
  HMODULE m_hLibrary;
  TSTRING m_strName;
  PFN_GZOPEN m_pfnOpen;
  PFN_GZCLOSE m_pfnClose;
  PFN_GZSEEK m_pfnSeek;
  PFN_GZREAD m_pfnRead;
  PFN_GZWRITE m_pfnWrite;
  PFN_GZDOPEN m_pfnDOpen;
  PFN_GZERROR m_pfnError;  // optional: only tells a cut-off stream apart
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_GZFILEASISTREAM_H
