// The position-byte cipher stream.
#include "foundation/simplecipher.h"

namespace telsor {

namespace {

// Key byte of a position: the low byte of a 64-bit mix of the position.
// Position 0 gives 0x67, neither 0x00 nor 0x07 ('S' ^ 'T'), so an enciphered
// 'S' there reads neither as 'S' nor as 'T'.
BYTE KeyAt(ULONGLONG position) {
  ULONGLONG x = position * 0x9E3779B97F4A7C15ull + 0x5851F42D4C957F2Dull;
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 29;
  return static_cast<BYTE>(x);
}

const ULONG CIPHER_CHUNK = 4096;

}  // namespace

BYTE CSimpleCipher::Encipher(BYTE plain, ULONGLONG position) {
  return static_cast<BYTE>(plain ^ KeyAt(position));
}

BYTE CSimpleCipher::Decipher(BYTE stored, ULONGLONG position) {
  return static_cast<BYTE>(stored ^ KeyAt(position));
}

CSimpleCipher::CSimpleCipher(IStream* inner) : m_pInner(inner), m_nPos(0), m_bPosKnown(false) {}

CSimpleCipher::~CSimpleCipher() = default;

HRESULT CSimpleCipher::Position(ULONGLONG* position) {
  if (!m_bPosKnown) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    ULARGE_INTEGER at;
    at.QuadPart = 0;
    HRESULT hr = m_pInner->Seek(zero, STREAM_SEEK_CUR, &at);
    if (FAILED(hr)) return hr;
    m_nPos = at.QuadPart;
    m_bPosKnown = true;
  }
  *position = m_nPos;
  return S_OK;
}

HRESULT CSimpleCipher::Read(void* buffer, ULONG count, ULONG* done) {
  if (done != nullptr) *done = 0;
  if (m_pInner == nullptr || (buffer == nullptr && count != 0)) return E_POINTER;
  ULONGLONG pos;
  HRESULT hr = Position(&pos);
  if (FAILED(hr)) return hr;
  ULONG got = 0;
  hr = m_pInner->Read(buffer, count, &got);
  if (FAILED(hr)) {
    m_bPosKnown = false;
    return hr;
  }
  if (got > count) got = count;
  BYTE* p = static_cast<BYTE*>(buffer);
  for (ULONG i = 0; i < got; ++i) p[i] = Decipher(p[i], pos + i);
  m_nPos = pos + got;
  if (done != nullptr) *done = got;
  return hr;
}

HRESULT CSimpleCipher::Write(const void* buffer, ULONG count, ULONG* done) {
  if (done != nullptr) *done = 0;
  if (m_pInner == nullptr || (buffer == nullptr && count != 0)) return E_POINTER;
  ULONGLONG pos;
  HRESULT hr = Position(&pos);
  if (FAILED(hr)) return hr;
  const BYTE* src = static_cast<const BYTE*>(buffer);
  BYTE chunk[CIPHER_CHUNK];
  ULONG total = 0;
  do {
    ULONG n = count - total < CIPHER_CHUNK ? count - total : CIPHER_CHUNK;
    for (ULONG i = 0; i < n; ++i) chunk[i] = Encipher(src[total + i], pos + total + i);
    ULONG put = 0;
    hr = m_pInner->Write(chunk, n, &put);
    if (put > n) put = n;
    total += put;
    if (FAILED(hr)) {
      m_bPosKnown = false;
      break;
    }
    if (put < n) break;  // the inner stream took less: report what it took
  } while (total < count);
  if (!FAILED(hr)) m_nPos = pos + total;
  if (done != nullptr) *done = total;
  return hr;
}

HRESULT CSimpleCipher::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  if (m_pInner == nullptr) return E_POINTER;
  ULARGE_INTEGER at;
  at.QuadPart = 0;
  HRESULT hr = m_pInner->Seek(move, origin, &at);
  if (FAILED(hr)) {
    m_bPosKnown = false;
    return hr;
  }
  m_nPos = at.QuadPart;
  m_bPosKnown = true;
  if (newPosition != nullptr) *newPosition = at;
  return hr;
}

HRESULT CSimpleCipher::SetSize(ULARGE_INTEGER size) {
  return m_pInner == nullptr ? E_POINTER : m_pInner->SetSize(size);
}

HRESULT CSimpleCipher::Commit(DWORD flags) {
  return m_pInner == nullptr ? E_POINTER : m_pInner->Commit(flags);
}

HRESULT CSimpleCipher::Revert() { return m_pInner == nullptr ? E_POINTER : m_pInner->Revert(); }

HRESULT CSimpleCipher::Stat(STATSTG* st, DWORD flags) {
  return m_pInner == nullptr ? E_POINTER : m_pInner->Stat(st, flags);
}

}  // namespace telsor
