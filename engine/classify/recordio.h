// Field helpers for the learning core's binary records (vectors, matrices,
// kernels), on top of the matchers' field readers in search/seekrecord.h.
//
// Records come from classifier data files and are untrusted: sizes are
// worked out in 64 bits, and element blocks grow as their bytes arrive
// (classify/sharedblock.h), never sized by a record's claim first.
//
//   IStream* stream = nullptr;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING(TSTRING("\0\0\0\0\0\0\xf0\x3f", 8), &stream);
//   if (FAILED(hr)) return hr;
//   BYTE f[8];
//   hr = ReadField(stream, f, 8, E_FAIL);       // short: E_FAIL
//   stream->Release();
//   if (hr != S_OK) return hr;                  // a stream's own failure as is
//   double scale = LoadF64(f);                  // 1.0
//
// Floating-point values are IEEE 754 in little-endian byte order, whatever
// the host's order. All functions are stateless and thread-safe.
#ifndef TELSOR_CLASSIFY_RECORDIO_H
#define TELSOR_CLASSIFY_RECORDIO_H

#include <string.h>

#include "foundation/istream.h"
#include "foundation/wintypes.h"
#include "search/seekrecord.h"

namespace telsor {

inline constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

inline ULONGLONG LoadU64(const BYTE* p) {
  return static_cast<ULONGLONG>(LoadU32(p)) | (static_cast<ULONGLONG>(LoadU32(p + 4)) << 32);
}
inline void StoreU64(BYTE* p, ULONGLONG v) {
  StoreU32(p, static_cast<DWORD>(v));
  StoreU32(p + 4, static_cast<DWORD>(v >> 32));
}
inline double LoadF64(const BYTE* p) {
  ULONGLONG bits = LoadU64(p);
  double v;
  memcpy(&v, &bits, 8);
  return v;
}
inline void StoreF64(BYTE* p, double v) {
  ULONGLONG bits;
  memcpy(&bits, &v, 8);
  StoreU64(p, bits);
}
// Weights of n-gram entries go through these two in every scoring loop: on
// a little-endian host they are plain four-byte copies.
inline float LoadF32(const BYTE* p) {
  float v;
  if (kHostLittleEndian) {
    memcpy(&v, p, 4);
    return v;
  }
  DWORD bits = LoadU32(p);
  memcpy(&v, &bits, 4);
  return v;
}
inline void StoreF32(BYTE* p, float v) {
  if (kHostLittleEndian) {
    memcpy(p, &v, 4);
    return;
  }
  DWORD bits;
  memcpy(&bits, &v, 4);
  StoreU32(p, bits);
}

// Doubles held in memory in host order turned into (or from) their record
// order, in place; nothing to do on a little-endian host.
inline void SwapF64Order(double* values, size_t count) {
  if (kHostLittleEndian) return;
  for (size_t i = 0; i < count; ++i) {
    BYTE b[8];
    memcpy(b, values + i, 8);
    values[i] = LoadF64(b);
  }
}

// Writes a field of the given width; the first failing write's result is
// returned, the result of the write otherwise (no written count is checked,
// as the record writers never check it).
[[nodiscard]] inline HRESULT WriteU16(IStream* s, WORD v) {
  BYTE b[2];
  StoreU16(b, v);
  return s->Write(b, 2, nullptr);
}
[[nodiscard]] inline HRESULT WriteU32(IStream* s, DWORD v) {
  BYTE b[4];
  StoreU32(b, v);
  return s->Write(b, 4, nullptr);
}
[[nodiscard]] inline HRESULT WriteU64(IStream* s, ULONGLONG v) {
  BYTE b[8];
  StoreU64(b, v);
  return s->Write(b, 8, nullptr);
}
[[nodiscard]] inline HRESULT WriteF64(IStream* s, double v) {
  BYTE b[8];
  StoreF64(b, v);
  return s->Write(b, 8, nullptr);
}

// Writes size bytes in pieces a 32-bit count can carry; S_OK for none.
[[nodiscard]] inline HRESULT WriteBytes(IStream* s, const void* data, size_t size) {
  const BYTE* p = static_cast<const BYTE*>(data);
  HRESULT hr = S_OK;
  while (size > 0) {
    ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
    hr = s->Write(p, piece, nullptr);
    if (FAILED(hr)) return hr;
    p += piece;
    size -= piece;
  }
  return hr;
}

// Writes doubles in record order (little-endian).
[[nodiscard]] inline HRESULT WriteF64Array(IStream* s, const double* values, size_t count) {
  if (kHostLittleEndian) return WriteBytes(s, values, count * 8);
  HRESULT hr = S_OK;
  for (size_t i = 0; i < count; ++i) {
    hr = WriteF64(s, values[i]);
    if (FAILED(hr)) return hr;
  }
  return hr;
}

// Reads one field of the given width: a failing stream result unchanged,
// fewer bytes than the width E_FAIL.
[[nodiscard]] inline HRESULT ReadU16(IStream* s, WORD* v) {
  BYTE b[2];
  HRESULT hr = ReadField(s, b, 2, E_FAIL);
  if (hr == S_OK) *v = LoadU16(b);
  return hr;
}
[[nodiscard]] inline HRESULT ReadU32(IStream* s, DWORD* v) {
  BYTE b[4];
  HRESULT hr = ReadField(s, b, 4, E_FAIL);
  if (hr == S_OK) *v = LoadU32(b);
  return hr;
}
[[nodiscard]] inline HRESULT ReadU64(IStream* s, ULONGLONG* v) {
  BYTE b[8];
  HRESULT hr = ReadField(s, b, 8, E_FAIL);
  if (hr == S_OK) *v = LoadU64(b);
  return hr;
}
[[nodiscard]] inline HRESULT ReadF64(IStream* s, double* v) {
  BYTE b[8];
  HRESULT hr = ReadField(s, b, 8, E_FAIL);
  if (hr == S_OK) *v = LoadF64(b);
  return hr;
}

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_RECORDIO_H
