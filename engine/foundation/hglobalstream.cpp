// The stream over a memory handle.
#include "foundation/hglobalstream.h"

#include <string.h>

#include <new>

#include "foundation/globalmem.h"

namespace telsor {

CHGlobalAsIStream::~CHGlobalAsIStream() {
  if (m_bDelete && m_hGlobal != nullptr) GlobalFree(m_hGlobal);
  m_hGlobal = nullptr;
}

HRESULT CHGlobalAsIStream::Reserve(ULONGLONG size) {
  ULONGLONG have = GlobalSize(m_hGlobal);
  if (size <= have) return S_OK;
  if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  // Growing by half again keeps a run of appending writes linear.
  ULONGLONG grown = have + have / 2;
  if (grown < size) grown = size;
  if (grown > 0xFFFFFFFFu) grown = 0xFFFFFFFFu;
  HGLOBAL h = GlobalReAlloc(m_hGlobal, static_cast<UINT>(grown), GMEM_MOVEABLE | GMEM_ZEROINIT);
  if (h == nullptr && grown > size) {
    h = GlobalReAlloc(m_hGlobal, static_cast<UINT>(size), GMEM_MOVEABLE | GMEM_ZEROINIT);
  }
  if (h == nullptr) return E_OUTOFMEMORY;
  m_hGlobal = h;
  return S_OK;
}

HRESULT CHGlobalAsIStream::Read(void* buffer, ULONG count, ULONG* done) {
  ULONG n = 0;
  if (buffer == nullptr && count != 0) {
    if (done != nullptr) *done = 0;
    return E_POINTER;
  }
  if (m_nPos < m_nSize && count != 0) {
    ULONGLONG left = m_nSize - m_nPos;
    n = left < count ? static_cast<ULONG>(left) : count;
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(m_hGlobal));
    if (p == nullptr) return E_FAIL;
    memcpy(buffer, p + m_nPos, n);
    GlobalUnlock(m_hGlobal);
    m_nPos += n;
  }
  if (done != nullptr) *done = n;
  return S_OK;
}

HRESULT CHGlobalAsIStream::Write(const void* buffer, ULONG count, ULONG* done) {
  if (done != nullptr) *done = 0;
  if (count == 0) return S_OK;
  if (buffer == nullptr) return E_POINTER;
  ULONGLONG end = m_nPos + count;
  HRESULT hr = Reserve(end);
  if (FAILED(hr)) return hr;
  BYTE* p = static_cast<BYTE*>(GlobalLock(m_hGlobal));
  if (p == nullptr) return E_FAIL;
  // Bytes between the old size and the position may hold an earlier
  // SetSize's leftovers: a gap reads as zeros.
  if (m_nPos > m_nSize) memset(p + m_nSize, 0, m_nPos - m_nSize);
  memmove(p + m_nPos, buffer, count);
  GlobalUnlock(m_hGlobal);
  m_nPos = end;
  if (end > m_nSize) m_nSize = end;
  if (done != nullptr) *done = count;
  return S_OK;
}

HRESULT CHGlobalAsIStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  LONGLONG base;
  switch (origin) {
    case STREAM_SEEK_SET: base = 0; break;
    case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(m_nPos); break;
    case STREAM_SEEK_END: base = static_cast<LONGLONG>(m_nSize); break;
    default: return E_FAIL;
  }
  LONGLONG pos;
  if (__builtin_add_overflow(base, move.QuadPart, &pos) || pos < 0) return E_FAIL;
  m_nPos = static_cast<ULONGLONG>(pos);
  if (newPosition != nullptr) newPosition->QuadPart = m_nPos;
  return S_OK;
}

HRESULT CHGlobalAsIStream::SetSize(ULARGE_INTEGER size) {
  if (size.QuadPart > 0xFFFFFFFFu) return E_OUTOFMEMORY;
  if (size.QuadPart > m_nSize) {
    HRESULT hr = Reserve(size.QuadPart);
    if (FAILED(hr)) return hr;
    BYTE* p = static_cast<BYTE*>(GlobalLock(m_hGlobal));
    if (p == nullptr) return E_FAIL;
    memset(p + m_nSize, 0, size.QuadPart - m_nSize);
    GlobalUnlock(m_hGlobal);
  }
  m_nSize = size.QuadPart;
  return S_OK;
}

HRESULT CHGlobalAsIStream::Stat(STATSTG* st, DWORD) {
  if (st == nullptr) return E_POINTER;
  memset(st, 0, sizeof *st);
  st->type = STGTY_STREAM;
  st->cbSize.QuadPart = m_nSize;
  return S_OK;
}

}  // namespace telsor

using telsor::CHGlobalAsIStream;

extern "C" HRESULT CreateStreamOnHGlobal(HGLOBAL handle, BOOL deleteOnRelease, IStream** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (handle != nullptr && GlobalLock(handle) == nullptr) return E_FAIL;
  if (handle != nullptr) GlobalUnlock(handle);
  CHGlobalAsIStream* stream = new (std::nothrow) CHGlobalAsIStream;
  if (stream == nullptr) return E_OUTOFMEMORY;
  stream->AddRef();
  if (handle == nullptr) {
    handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 0);
    if (handle == nullptr) {
      stream->Release();
      return E_OUTOFMEMORY;
    }
  }
  stream->m_hGlobal = handle;
  stream->m_bDelete = deleteOnRelease;
  stream->m_nSize = GlobalSize(handle);
  HRESULT hr = stream->QueryInterface(IID_IStream, reinterpret_cast<void**>(out));
  stream->Release();
  return hr;
}

extern "C" HRESULT GetHGlobalFromStream(IStream* stream, HGLOBAL* handle) {
  if (stream == nullptr || handle == nullptr) return E_POINTER;
  CHGlobalAsIStream* mine = dynamic_cast<CHGlobalAsIStream*>(stream);
  if (mine == nullptr) {
    *handle = nullptr;
    return E_INVALIDARG;
  }
  *handle = mine->GetHandle();
  return S_OK;
}
