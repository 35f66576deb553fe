#include "search/setbits.h"

#include <string.h>

#include "search/seekrecord.h"

namespace telsor {

namespace {
// CRC-16, polynomial 0x1021, most significant bit first.
struct CCrc16Table {
  WORD entries[256];
  CCrc16Table() {
    for (int i = 0; i < 256; ++i) {
      WORD v = static_cast<WORD>(i << 8);
      for (int b = 0; b < 8; ++b) v = static_cast<WORD>((v & 0x8000) ? (v << 1) ^ 0x1021 : v << 1);
      entries[i] = v;
    }
  }
};
const CCrc16Table g_awCrc16Table;
}  // namespace

CSetBits& CSetBits::operator=(const CSetBits& other) {
  if (this == &other) return *this;
  m_bits = other.m_bits;
  m_nHash = other.m_nHash;
  return *this;
}

BYTE* CSetBits::BeginWrite() {
  m_nHash = 0;
  return reinterpret_cast<BYTE*>(m_bits.GetBuffer(m_bits.GetLength()));
}

void CSetBits::EndWrite() { m_bits.ReleaseBuffer(m_bits.GetLength()); }

void CSetBits::Resize(DWORD n) {
  DWORD m = static_cast<DWORD>((static_cast<uint64_t>(n) + 7) & ~static_cast<uint64_t>(7));
  DWORD old = GetByteLength();
  m_nHash = 0;
  if (m <= old) return;
  char* p = m_bits.GetBuffer(static_cast<int>(m));
  memset(p + old, 0, m - old);
  m_bits.ReleaseBuffer(static_cast<int>(m));
}

int CSetBits::SetBitAt(DWORD bit, int value) {
  DWORD byte = bit / 8;
  BYTE mask = static_cast<BYTE>(1u << (bit % 8));
  if (byte < GetByteLength()) {
    int previous = (GetBytes()[byte] & mask) != 0;
    if (previous == (value != 0)) return previous;
    BYTE* p = BeginWrite();
    if (value) {
      p[byte] = static_cast<BYTE>(p[byte] | mask);
    } else {
      p[byte] = static_cast<BYTE>(p[byte] & ~mask);
    }
    EndWrite();
    return previous;
  }
  if (!value) return 0;
  Resize((bit / 64 + 1) * 8);
  BYTE* p = BeginWrite();
  p[byte] = mask;
  EndWrite();
  return 0;
}

void CSetBits::SetBits(DWORD first, DWORD last, int value) {
  DWORD b1 = first / 8;
  DWORD b2 = last / 8;
  if (b2 < b1) return;
  DWORD lo = first % 8;
  DWORD hi = last % 8;
  if (b1 == b2 && hi < lo) return;
  if (GetByteLength() <= b2) Resize(b2 + 1);
  BYTE* p = BeginWrite();
  auto apply = [&](DWORD i, BYTE mask) {
    p[i] = static_cast<BYTE>(value ? (p[i] | mask) : (p[i] & ~mask));
  };
  BYTE head = static_cast<BYTE>(0xFFu << lo);
  BYTE tail = static_cast<BYTE>(0xFFu >> (7 - hi));
  if (b1 == b2) {
    apply(b1, static_cast<BYTE>(head & tail));
  } else {
    apply(b1, head);
    if (b2 > b1 + 1) memset(p + b1 + 1, value ? 0xFF : 0x00, b2 - b1 - 1);
    apply(b2, tail);
  }
  EndWrite();
}

void CSetBits::WriteMask(const BYTE* mask, DWORD bytes, int value) {
  DWORD used = bytes;
  while (used > 0 && mask[used - 1] == 0) --used;
  if (value) {
    if (used == 0) return;
    if (GetByteLength() < used) Resize(used);
  } else {
    if (used > GetByteLength()) used = GetByteLength();
    if (used == 0) return;
  }
  BYTE* p = BeginWrite();
  for (DWORD i = 0; i < used; ++i) p[i] = static_cast<BYTE>(value ? (p[i] | mask[i]) : (p[i] & ~mask[i]));
  EndWrite();
}

int CSetBits::GetBitAt(DWORD bit) const {
  DWORD byte = bit / 8;
  if (byte >= GetByteLength()) return 0;
  return (GetBytes()[byte] >> (bit % 8)) & 1;
}

DWORD CSetBits::GetBitSetToOne(DWORD bit) const {
  DWORD len = GetByteLength();
  DWORD byte = bit / 8;
  if (byte >= len) return 0xFFFFFFFFu;
  const BYTE* p = GetBytes();
  BYTE first = static_cast<BYTE>(p[byte] >> (bit % 8));
  if (first != 0) return bit + static_cast<DWORD>(__builtin_ctz(first));
  for (DWORD i = byte + 1; i < len; ++i)
    if (p[i] != 0) return 8 * i + static_cast<DWORD>(__builtin_ctz(p[i]));
  return 0xFFFFFFFFu;
}

void CSetBits::Clear() {
  m_bits.Release();
  m_nHash = 0;
}

void CSetBits::Reset() {
  if (GetByteLength() != 0) {
    BYTE* p = BeginWrite();
    memset(p, 0, GetByteLength());
    EndWrite();
  }
  m_nHash = 1;
}

CSetBits& CSetBits::Union(const CSetBits& other) {
  if (this == &other) return *this;
  DWORD theirs = other.GetByteLength();
  if (GetByteLength() < theirs) Resize(theirs);
  BYTE* p = BeginWrite();
  const BYTE* q = other.GetBytes();  // never this buffer: writing unshared it
  for (DWORD i = 0; i < theirs; ++i) p[i] = static_cast<BYTE>(p[i] | q[i]);
  EndWrite();
  return *this;
}

CSetBits& Union(const CSetBits& a, const CSetBits& b, CSetBits& result) {
  result.Clear();
  DWORD la = a.GetByteLength();
  DWORD lb = b.GetByteLength();
  result.Resize(la > lb ? la : lb);
  result.Union(a);
  result.Union(b);
  return result;
}

DWORD CSetBits::GetHash() const {
  if (m_nHash != 0) return m_nHash;
  DWORD len = GetByteLength();
  const BYTE* p = GetBytes();  // the empty set hashes its terminating NUL
  DWORD k = 0;
  for (DWORD i = len; i > 0; --i) {
    if (p[i - 1] != 0) {
      k = i - 1;
      break;
    }
  }
  DWORD acc = 0;
  for (DWORD i = k + 1; i > 0; --i)
    acc = (acc << 8) ^ g_awCrc16Table.entries[((acc >> 8) ^ p[i - 1]) & 0xFF];
  m_nHash = acc != 0 ? acc : 1;
  return m_nHash;
}

int CSetBits::operator==(const CSetBits& other) const {
  if (GetHash() != other.GetHash()) return 0;
  DWORD la = GetByteLength();
  DWORD lb = other.GetByteLength();
  DWORD common = la < lb ? la : lb;
  const BYTE* a = GetBytes();
  const BYTE* b = other.GetBytes();
  if (common != 0 && memcmp(a, b, common) != 0) return 0;
  const BYTE* rest = la > lb ? a : b;
  for (DWORD i = common; i < (la > lb ? la : lb); ++i)
    if (rest[i] != 0) return 0;
  return 1;
}

HRESULT CSetBits::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  BYTE field[4];
  if (storing) {
    StoreU32(field, m_nHash);
    HRESULT hr = WriteField(stream, field, 4);
    if (hr != S_OK) return hr;
    return m_bits.Serialize(stream, 1);
  }
  HRESULT hr = ReadField(stream, field, 4, E_FAIL);
  if (hr != S_OK) return hr;
  // The stored hash belongs to the writing process; recompute it on use.
  m_nHash = 0;
  return m_bits.Serialize(stream, 0);
}

}  // namespace telsor
