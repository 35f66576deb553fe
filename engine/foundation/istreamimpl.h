// The common part of the engine's stream classes.
//
// CIStreamImpl gives every stream the same QueryInterface/AddRef/Release rules
// and answers E_NOTIMPL (not implemented) for the operations a stream does
// not support. A stream class derives from it and overrides what it offers:
//
//   class CEmptyStream : public CIStreamImpl {
//    public:
//     HRESULT Read(void*, ULONG, ULONG* done) override {
//       if (done) *done = 0;
//       return S_FALSE;                 // nothing to read
//     }
//     HRESULT Write(const void*, ULONG, ULONG*) override { return E_ACCESSDENIED; }
//     HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
//   };
//   CEmptyStream* s = new CEmptyStream;  // count 0
//   IStream* out = nullptr;
//   s->QueryInterface(IID_IStream, reinterpret_cast<void**>(&out));  // count 1
//   out->Release();                      // count 0: deleted
//
// Ownership: created with count 0; the Release that brings the count to 0
// deletes the object through its virtual destructor. AddRef and Release are
// atomic; the other operations assume one thread at a time per stream.
#ifndef TELSOR_FOUNDATION_ISTREAMIMPL_H
#define TELSOR_FOUNDATION_ISTREAMIMPL_H

#include "foundation/istream.h"
#include "foundation/wintypes.h"

namespace telsor {

// Chunk size of CopyTo's heap work buffer.
const ULONG STREAM_COPY_CHUNK = 32768;

class CIStreamImpl : public IStream {
 public:
  CIStreamImpl() : m_nRefs(0) {}

  // IID_IUnknown, IID_ISequentialStream and IID_IStream give this object with
  // a reference and 0; any other identifier gives null and E_NOTIMPL; a null
  // out gives E_POINTER.
  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // Not supported unless a stream overrides them: E_NOTIMPL.
  HRESULT SetSize(ULARGE_INTEGER size) override;
  HRESULT Commit(DWORD flags) override;
  HRESULT Revert() override;
  HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER length, DWORD type) override;
  HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER length, DWORD type) override;
  HRESULT Stat(STATSTG* st, DWORD flags) override;
  HRESULT Clone(IStream** out) override;

  // Copies up to count bytes in chunks of at most 32,768 bytes through this
  // stream's own Read and the target's Write. *read and *written (when given)
  // add up what was read and what the target reported written. Stops at a
  // chunk of 0 bytes, at a failed Read (its result is returned) or at a
  // failed target Write (its result is returned). A null target gives
  // E_POINTER; no work buffer gives E_OUTOFMEMORY.
  HRESULT CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                 ULARGE_INTEGER* written) override;

  virtual ~CIStreamImpl();

  CIStreamImpl(const CIStreamImpl&) = delete;
  CIStreamImpl& operator=(const CIStreamImpl&) = delete;

 protected:
  // The factories' hand-out: QueryInterface(IID_IStream, out) on a stream
  // held by a temporary reference, which is then dropped.
  static HRESULT HandOut(CIStreamImpl* stream, IStream** out);

 private:
  LONG m_nRefs;
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_ISTREAMIMPL_H
