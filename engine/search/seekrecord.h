// Field-by-field reading and writing of the matchers' binary records.
//
// Records are read from compiled filter scripts and are untrusted: every
// field is read with its exact width, a short transfer is a bad record, and
// a length field never sizes an allocation before the bytes are there.
//
//   BYTE head[3];
//   HRESULT hr = ReadField(stream, head, 3, E_FAIL);   // short: E_FAIL
//   if (hr != S_OK) return hr;                          // stream failure as is
//   WORD len = LoadU16(head + 1);
//
// All functions are stateless and may be used from any thread.
#ifndef TELSOR_SEARCH_SEEKRECORD_H
#define TELSOR_SEARCH_SEEKRECORD_H

#include <stdlib.h>
#include <string.h>

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

// Reads a block of size bytes into fresh zeroed malloc storage (*out, owned
// by the caller on success). The block grows as the bytes arrive, so a
// record that claims a huge size but ends early fails with shortCode instead
// of allocating the claimed size first. Allocation failure gives memCode.
inline HRESULT ReadBlock(IStream* stream, size_t size, BYTE** out, HRESULT shortCode,
                         HRESULT memCode) {
  *out = nullptr;
  const size_t kStep = 1u << 20;
  size_t have = 0;
  size_t room = size < kStep ? size : kStep;
  BYTE* block = static_cast<BYTE*>(calloc(room ? room : 1, 1));
  if (block == nullptr) return memCode;
  while (have < size) {
    if (have == room) {
      size_t grown = room * 2 < size ? room * 2 : size;
      BYTE* next = static_cast<BYTE*>(realloc(block, grown));
      if (next == nullptr) {
        free(block);
        return memCode;
      }
      memset(next + room, 0, grown - room);
      block = next;
      room = grown;
    }
    size_t want = room - have;
    if (want > 0x40000000u) want = 0x40000000u;
    HRESULT hr = ReadField(stream, block + have, static_cast<ULONG>(want), shortCode);
    if (hr != S_OK) {
      free(block);
      return hr;
    }
    have += want;
  }
  *out = block;
  return S_OK;
}

}  // namespace telsor

#endif  // TELSOR_SEARCH_SEEKRECORD_H
