// Field-by-field reading and writing of the matchers' binary records.
//
// Records are read from compiled filter scripts and are untrusted: every
// field is read with its exact width, a short transfer is a bad record, and
// a length field never sizes an allocation before the bytes are there.
//
//   IStream* stream = nullptr;
//   CTstringAsIStream::CreateStreamOnTSTRING(TSTRING("\x01\x05\x00", 3), &stream);
//   BYTE head[3];
//   HRESULT hr = ReadField(stream, head, 3, E_FAIL);   // short: E_FAIL
//   stream->Release();
//   if (hr != S_OK) return hr;                          // stream failure as is
//   WORD len = LoadU16(head + 1);                       // 5
//
// All functions are stateless and may be used from any thread.
#ifndef TELSOR_SEARCH_SEEKRECORD_H
#define TELSOR_SEARCH_SEEKRECORD_H

#include <string.h>

#include <vector>

#include "foundation/errorroad.h"
#include "foundation/istream.h"
#include "foundation/wintypes.h"

namespace telsor {

inline WORD LoadU16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
inline DWORD LoadU32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}
inline void StoreU16(BYTE* p, WORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
}
inline void StoreU32(BYTE* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}

// Reads exactly count bytes. A failing stream result is returned unchanged;
// fewer bytes than asked give shortCode; otherwise S_OK.
inline HRESULT ReadField(IStream* stream, void* buffer, ULONG count, HRESULT shortCode) {
  if (count == 0) return S_OK;
  ULONG done = 0;
  HRESULT hr = stream->Read(buffer, count, &done);
  if (FAILED(hr)) return hr;
  return done == count ? S_OK : shortCode;
}

// Writes exactly count bytes. A failing stream result is returned unchanged;
// a short write gives E_FAIL.
inline HRESULT WriteField(IStream* stream, const void* buffer, ULONG count) {
  if (count == 0) return S_OK;
  ULONG done = 0;
  HRESULT hr = stream->Write(buffer, count, &done);
  if (FAILED(hr)) return hr;
  return done == count ? S_OK : E_FAIL;
}

// Reads a block of size bytes into out (replacing what it held). The block
// grows as the bytes arrive, so a record that claims a huge size but ends
// early fails with shortCode instead of allocating the claimed size first.
// Running out of memory gives memCode. On failure out is empty.
inline HRESULT ReadBlock(IStream* stream, size_t size, std::vector<BYTE>& out, HRESULT shortCode,
                         HRESULT memCode) {
  std::vector<BYTE>().swap(out);
  const size_t kFirst = 1u << 16;
  while (out.size() < size) {
    const size_t have = out.size();
    const size_t room = have == 0 ? kFirst : 2 * have;
    size_t want = (room < size ? room : size) - have;
    if (want > 0x40000000u) want = 0x40000000u;
    if (FAILED(ResultOf([&] { out.resize(have + want); }))) {
      std::vector<BYTE>().swap(out);
      return memCode;
    }
    HRESULT hr = ReadField(stream, out.data() + have, static_cast<ULONG>(want), shortCode);
    if (hr != S_OK) {
      std::vector<BYTE>().swap(out);
      return hr;
    }
  }
  return S_OK;
}

}  // namespace telsor

#endif  // TELSOR_SEARCH_SEEKRECORD_H
