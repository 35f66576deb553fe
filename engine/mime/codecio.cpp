// Stream reading and copying shared by the transfer codecs.
#include "mime/codecio.h"

namespace telsor {

HRESULT ReadFully(IStream* src, BYTE* buffer, ULONG count, ULONG* got) {
  *got = 0;
  while (*got < count) {
    ULONG n = 0;
    HRESULT hr = src->Read(buffer + *got, count - *got, &n);
    if (FAILED(hr)) return hr;
    if (n == 0) break;
    if (n > count - *got) n = count - *got;
    *got += n;
  }
  return S_OK;
}

HRESULT ReadChunk(IStream* src, BYTE* buffer, ULONG size, ULONGLONG& remaining, ULONG* got) {
  *got = 0;
  const ULONG ask = remaining < size ? static_cast<ULONG>(remaining) : size;
  if (ask == 0) return S_OK;
  HRESULT hr = ReadFully(src, buffer, ask, got);
  remaining -= *got;
  return hr;
}

HRESULT CopyUnchanged(IStream* dst, IStream* src, ULONGLONG cb) {
  if (cb == 0 || src == nullptr) return S_OK;
  ULARGE_INTEGER count;
  count.QuadPart = cb;
  return src->CopyTo(dst, count, nullptr, nullptr);
}

}  // namespace telsor
