// The COM-style stream interface the engine moves bytes through.
//
// Every stream (file, string, memory handle, gzip, cipher) implements IStream
// with the fourteen operations below, in this slot order. Results are 32-bit
// codes: 0 success, 1 fewer bytes than asked, bit 31 set a failure. A
// CStreamPtr holds the reference a function hands out and releases it on
// every way out:
//
//   CStreamPtr stream;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING("record", stream.Out());
//   if (FAILED(hr)) return hr;
//   BYTE buf[64];
//   ULONG got = 0;
//   hr = stream->Read(buf, sizeof buf, &got);   // S_FALSE: 6 of 64 bytes
//   return FAILED(hr) ? hr : S_OK;         // the holder's Release destroys the stream
//
// Ownership: streams are reference counted; a holder calls AddRef and later
// Release. AddRef and Release are atomic; all other operations assume one
// thread at a time per stream.
#ifndef TELSOR_FOUNDATION_ISTREAM_H
#define TELSOR_FOUNDATION_ISTREAM_H

#include <string.h>

#include "foundation/obj.h"
#include "foundation/wintypes.h"

// 16-byte identifier; compared byte for byte over all 16 bytes.
struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;

inline bool IsEqualGUID(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

extern "C" {
extern const IID IID_IUnknown;          // {00000000-0000-0000-C000-000000000046}
extern const IID IID_ISequentialStream;  // {0C733A30-2A1C-11CE-ADE5-00AA0044773D}
extern const IID IID_IStream;           // {0000000C-0000-0000-C000-000000000046}
}

// Seek origins.
#define STREAM_SEEK_SET 0u
#define STREAM_SEEK_CUR 1u
#define STREAM_SEEK_END 2u

// Stat flags: bit 0 set means no name is wanted.
#define STATFLAG_DEFAULT 0u
#define STATFLAG_NONAME 1u

// Stat type of a stream.
#define STGTY_STREAM 2u

struct STATSTG {
  WCHAR* pwcsName;  // always null here
  DWORD type;       // STGTY_STREAM
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};

class IUnknown {
 public:
  virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
  virtual ULONG AddRef() = 0;   // returns the new count
  virtual ULONG Release() = 0;  // returns the new count; 0 means destroyed
};

class ISequentialStream : public IUnknown {
 public:
  virtual HRESULT Read(void* buffer, ULONG count, ULONG* done) = 0;
  virtual HRESULT Write(const void* buffer, ULONG count, ULONG* done) = 0;
};

class IStream : public ISequentialStream {
 public:
  virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
  virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                         ULARGE_INTEGER* written) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER length, DWORD type) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER length, DWORD type) = 0;
  virtual HRESULT Stat(STATSTG* st, DWORD flags) = 0;
  virtual HRESULT Clone(IStream** out) = 0;
};

namespace telsor {

// One reference to a stream, released when the holder goes (CSharedObjPtr,
// foundation/obj.h). A reference handed out by a function (a Create...
// through IStream**, GetAsStream's result) is taken over, not added to:
// stream.Out() or CStreamPtr::Adopt(p). Detach() hands it on.
typedef CSharedObjPtr<IStream> CStreamPtr;

// The stream's absolute position (*position is 0 when the Seek fails);
// moving it to one; moving it to its end (*end: the new position, which is
// the stream's size; 0 when the Seek fails). Each returns the Seek's result.
// (StreamSeekFrom: the position after a move by 0 from origin.)
//
//   ULONGLONG at = 0, size = 0;
//   HRESULT hr = StreamPosition(stream, &at);
//   if (SUCCEEDED(hr)) hr = StreamSeekToEnd(stream, &size);  // size: the length
//   if (SUCCEEDED(hr)) hr = StreamSeekTo(stream, at);        // back where it was
inline HRESULT StreamSeekFrom(IStream* stream, DWORD origin, ULONGLONG* position) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER at;
  at.QuadPart = 0;
  HRESULT hr = stream->Seek(zero, origin, &at);
  *position = at.QuadPart;
  return hr;
}

inline HRESULT StreamPosition(IStream* stream, ULONGLONG* position) {
  return StreamSeekFrom(stream, STREAM_SEEK_CUR, position);
}

inline HRESULT StreamSeekTo(IStream* stream, ULONGLONG position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return stream->Seek(to, STREAM_SEEK_SET, nullptr);
}

inline HRESULT StreamSeekToEnd(IStream* stream, ULONGLONG* end) { return StreamSeekFrom(stream, STREAM_SEEK_END, end); }

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_ISTREAM_H
