// CRC5_CBC64: RC5-32 (32-bit words, 64-bit blocks) in CBC mode, with optional
// PKCS#5 padding.
//
//   BYTE iv[8] = {0};
//   BYTE key[16] = {1, 2, 3};
//   const BYTE plain[] = "twelve bytes";
//   ULONG n = 12;
//   CRC5_CBC64 rc5(12, sizeof iv, iv);
//   rc5.SetKey(16, key);
//   ULONG need = 0;
//   rc5.Encrypt(plain, n, nullptr, 0, &need, 1);          // 122, need = 16: n padded
//   std::vector<BYTE> out(need), back(need);
//   rc5.Encrypt(plain, n, out.data(), need, &need, 1);    // 0
//   rc5.Decrypt(out.data(), need, back.data(), need, &n, 1);   // 0, n = 12 again
//
// Results are Win32 error numbers: 0, 122 (the output is too small or null;
// *outputLength holds the size needed), 87 (a length that is not a multiple
// of 8 without padding, a null argument, no key, or an input too long to
// pad), 13 (bad padding on decryption).
// Encrypt and Decrypt do not change the object: one keyed object may be used
// by several threads at once.
#ifndef TELSOR_FOUNDATION_RC5CBC64_H
#define TELSOR_FOUNDATION_RC5CBC64_H

#include <memory>

#include "foundation/wintypes.h"

namespace telsor {

class CRC5_CBC64 {
 public:
  // rounds: at most 255 are used. At most 8 bytes of iv are used; the rest
  // of the vector (all of it for a null iv) is zero.
  CRC5_CBC64(ULONG rounds, ULONG ivLength, const unsigned char* iv);
  // Wipes and frees the expanded key.
  ~CRC5_CBC64();

  // Expands key (at most 255 bytes used; a null key counts as empty).
  // Returns 1; throws the engine's memory exception when the table cannot
  // be had.
  int SetKey(ULONG length, const unsigned char* key);

  // CBC-encrypts from the stored vector. With padding, 1 to 8 bytes of value
  // p are added (a whole block when inputLength is a multiple of 8).
  DWORD Encrypt(const unsigned char* input, ULONG inputLength, unsigned char* output,
                ULONG capacity, ULONG* outputLength, int padding) const;
  // *outputLength := inputLength, then decrypts; with padding checks and
  // removes it (13 when the last byte p is 0, above 8, above the input
  // length, or the last p bytes are not all p).
  DWORD Decrypt(const unsigned char* input, ULONG inputLength, unsigned char* output,
                ULONG capacity, ULONG* outputLength, int padding) const;

  CRC5_CBC64(const CRC5_CBC64&) = delete;
  CRC5_CBC64& operator=(const CRC5_CBC64&) = delete;

 private:
  void EncryptBlock(DWORD* a, DWORD* b) const;
  void DecryptBlock(DWORD* a, DWORD* b) const;

  ULONG m_nRounds;
  BYTE m_abIV[8];
  std::unique_ptr<DWORD[]> m_pS;  // 2 * rounds + 2 expanded key words; null until SetKey
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_RC5CBC64_H
