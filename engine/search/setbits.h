// CSetBits: growable bit set with copy-on-write sharing and a cached hash;
// the character classes and position sets of the regular-expression
// compiler and the accepting states handed to CDFATransTable.
//
//   CSetBits s;
//   s.SetBitAt(5, 1);                 // grows to 8 bytes
//   s.SetBits(6, 17, 1);              // inclusive range
//   CSetBits t = s;                   // shares s's buffer (O(1))
//   t.SetBitAt(64, 1);                // t unshares first; s is unchanged
//   DWORD count = 0;
//   for (DWORD b = s.GetBitSetToOne(0); b != 0xFFFFFFFF; b = s.GetBitSetToOne(b + 1)) ++count;
//   bool same = s == t;               // hash first, then the bytes: false
//
// Bit n lives in byte n / 8 at bit n % 8 (least significant first); bits
// beyond the end read 0, and trailing zero bytes do not matter: sets that
// differ only in them are equal and hash alike (an all-zero set hashes to 1).
// The set grows in whole 8-byte words and never shrinks except by Clear.
//
// Out of memory throws the engine's CMemoryException*. A set is not
// thread-safe; copies sharing a buffer may live on different threads.
#ifndef TELSOR_SEARCH_SETBITS_H
#define TELSOR_SEARCH_SETBITS_H

#include "foundation/istream.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CSetBits {
 public:
  CSetBits() : m_nHash(0) {}
  CSetBits(const CSetBits& other) : m_bits(other.m_bits), m_nHash(other.m_nHash) {}
  CSetBits& operator=(const CSetBits& other);

  // Grows the byte length to n rounded up to a multiple of 8 (new bytes 0).
  void Resize(DWORD n);
  // Sets (value non-zero) or clears one bit; returns its previous value.
  int SetBitAt(DWORD bit, int value);
  // Sets or clears bits first..last inclusive; nothing when last < first.
  void SetBits(DWORD first, DWORD last, int value);
  // Sets (value non-zero) or clears every bit that is set in the first
  // bytes bytes of mask (bit n in byte n / 8), in one write.
  void WriteMask(const BYTE* mask, DWORD bytes, int value);
  int GetBitAt(DWORD bit) const;
  // First set bit at or after bit, or 0xFFFFFFFF.
  DWORD GetBitSetToOne(DWORD bit) const;
  int IsEmpty() const { return GetBitSetToOne(0) == 0xFFFFFFFFu; }
  void Clear();  // length 0
  void Reset();  // all bits 0, length kept
  // this |= other.
  CSetBits& Union(const CSetBits& other);
  DWORD GetHash() const;
  int operator==(const CSetBits& other) const;
  int operator!=(const CSetBits& other) const { return !(*this == other); }
  // Record: u32 hash as held, then the bytes as a TSTRING record (u32
  // length, bytes). The hash is recomputed after loading.
  HRESULT Serialize(IStream* stream, int storing);

  DWORD GetByteLength() const { return static_cast<DWORD>(m_bits.GetLength()); }
  const BYTE* GetBytes() const { return reinterpret_cast<const BYTE*>(m_bits.c_str()); }

 private:
  BYTE* BeginWrite();  // private buffer; hash reset
  void EndWrite();

  TSTRING m_bits;         // the bytes of the set
  mutable DWORD m_nHash;  // 0: not computed
};

// result = a | b; result must be a different object from a and b.
CSetBits& Union(const CSetBits& a, const CSetBits& b, CSetBits& result);

}  // namespace telsor

#endif  // TELSOR_SEARCH_SETBITS_H
