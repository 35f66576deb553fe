// CHGlobalAsIStream: an IStream over a movable memory handle.
//
//   IStream* s = nullptr;
//   CreateStreamOnHGlobal(nullptr, TRUE, &s);  // a new block, freed with the stream
//   s->Write("head....body", 12, nullptr);
//   LARGE_INTEGER at;
//   at.QuadPart = 4;
//   s->Seek(at, STREAM_SEEK_SET, nullptr);
//   s->Write("1234", 4, nullptr);      // overwrite in place: "head1234body"
//   HGLOBAL h = nullptr;
//   GetHGlobalFromStream(s, &h);       // the block; GlobalSize(h) >= the stream's size
//   s->Release();
//
// The stream's size starts at the block's size and grows with writes past
// the end (a gap left by a seek past the end reads as zeros). The block is
// enlarged with spare room, so GlobalSize may exceed the stream's size.
// Ownership and threads: see istreamimpl.h; the caller keeps a block it did
// not ask to be freed and must not free it while the stream lives.
#ifndef TELSOR_FOUNDATION_HGLOBALSTREAM_H
#define TELSOR_FOUNDATION_HGLOBALSTREAM_H

#include "foundation/istreamimpl.h"

extern "C" {
// A stream over handle (a new movable block when null). deleteOnRelease:
// the block is freed with the stream. 0 with *out holding one reference;
// E_POINTER for a null out; E_OUTOFMEMORY without memory; E_FAIL for a
// handle that is not a memory block.
HRESULT CreateStreamOnHGlobal(HGLOBAL handle, BOOL deleteOnRelease, IStream** out);
// The block behind a stream made by CreateStreamOnHGlobal: 0; E_POINTER
// for a null argument; E_INVALIDARG for any other kind of stream.
HRESULT GetHGlobalFromStream(IStream* stream, HGLOBAL* handle);
}

namespace telsor {

class CHGlobalAsIStream : public CIStreamImpl {
 public:
  // Up to count bytes from the position; a short read is not signalled.
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override;
  // Writes at the position, enlarging the block as needed: 0, E_OUTOFMEMORY
  // (no memory, or past 4 GiB) with *done 0, E_POINTER for a null buffer.
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override;
  // origin 0, 1 or 2; a resulting position below 0 or an unknown origin
  // gives E_FAIL and leaves the position.
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  // Sets the stream's size (and the block's); E_OUTOFMEMORY when it cannot.
  HRESULT SetSize(ULARGE_INTEGER size) override;
  // Size and type 2 (flags ignored: a memory stream has no name).
  HRESULT Stat(STATSTG* st, DWORD flags) override;

  HGLOBAL GetHandle() const { return m_hGlobal; }

  ~CHGlobalAsIStream() override;

 private:
  friend HRESULT(::CreateStreamOnHGlobal)(HGLOBAL, BOOL, IStream**);
  CHGlobalAsIStream() : m_hGlobal(nullptr), m_bDelete(0), m_nSize(0), m_nPos(0) {}
  // Makes the block hold at least size bytes, zeroing what it adds.
  HRESULT Reserve(ULONGLONG size);

  HGLOBAL m_hGlobal;
  BOOL m_bDelete;
  ULONGLONG m_nSize;  // the stream's size, at most the block's
  ULONGLONG m_nPos;
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_HGLOBALSTREAM_H
