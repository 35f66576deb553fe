// Reference counting, interface query and chunked copy shared by the streams.
#include "foundation/istreamimpl.h"

#include <memory>
#include <new>

#include "foundation/win32.h"

namespace telsor {

CIStreamImpl::~CIStreamImpl() {}

HRESULT CIStreamImpl::QueryInterface(const IID& iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IStream) ||
      IsEqualGUID(iid, IID_ISequentialStream)) {
    *out = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOTIMPL;
}

ULONG CIStreamImpl::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_nRefs)); }

ULONG CIStreamImpl::Release() {
  LONG n = InterlockedDecrement(&m_nRefs);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT CIStreamImpl::SetSize(ULARGE_INTEGER) { return E_NOTIMPL; }
HRESULT CIStreamImpl::Commit(DWORD) { return E_NOTIMPL; }
HRESULT CIStreamImpl::Revert() { return E_NOTIMPL; }
HRESULT CIStreamImpl::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
HRESULT CIStreamImpl::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
HRESULT CIStreamImpl::Stat(STATSTG*, DWORD) { return E_NOTIMPL; }
HRESULT CIStreamImpl::Clone(IStream** out) {
  if (out != nullptr) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT CIStreamImpl::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                             ULARGE_INTEGER* written) {
  if (read != nullptr) read->QuadPart = 0;
  if (written != nullptr) written->QuadPart = 0;
  if (target == nullptr) return E_POINTER;
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[STREAM_COPY_CHUNK]);
  if (buffer == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = S_OK;
  ULONGLONG remaining = count.QuadPart;
  while (remaining > 0) {
    ULONG want = remaining < STREAM_COPY_CHUNK ? static_cast<ULONG>(remaining) : STREAM_COPY_CHUNK;
    ULONG got = 0;
    HRESULT r = Read(buffer.get(), want, &got);
    if (FAILED(r)) {
      hr = r;
      break;
    }
    if (got > want) got = want;  // a reader never reports more than it was given room for
    if (read != nullptr) read->QuadPart += got;
    if (got == 0) break;
    ULONG put = 0;
    HRESULT w = target->Write(buffer.get(), got, &put);
    if (FAILED(w)) {
      hr = w;
      break;
    }
    if (written != nullptr) written->QuadPart += put;
    remaining -= got;
  }
  return hr;
}

HRESULT CIStreamImpl::HandOut(CIStreamImpl* stream, IStream** out) {
  HRESULT hr = stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(out));
  stream->Release();
  return hr;
}

}  // namespace telsor
