// RC5-32 in CBC mode.
#include "foundation/rc5cbc64.h"

#include <string.h>

#include <new>

#include "foundation/exception.h"

namespace telsor {

namespace {

const DWORD P32 = 0xB7E15163u;
const DWORD Q32 = 0x9E3779B9u;
const ULONG MAX_ROUNDS = 255;
const ULONG MAX_KEY = 255;

DWORD Rotl(DWORD x, DWORD n) {
  n &= 31;
  return n == 0 ? x : (x << n) | (x >> (32 - n));
}
DWORD Rotr(DWORD x, DWORD n) {
  n &= 31;
  return n == 0 ? x : (x >> n) | (x << (32 - n));
}

DWORD Load32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
         static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
}
void Store32(BYTE* p, DWORD v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
  p[3] = static_cast<BYTE>(v >> 24);
}

// Overwrites memory in a way the compiler cannot drop as a dead store.
void Wipe(void* p, size_t n) {
  volatile BYTE* v = static_cast<volatile BYTE*>(p);
  while (n--) *v++ = 0;
}

}  // namespace

CRC5_CBC64::CRC5_CBC64(ULONG rounds, ULONG ivLength, const unsigned char* iv)
    : m_nRounds(rounds > MAX_ROUNDS ? MAX_ROUNDS : rounds), m_pS() {
  memset(m_abIV, 0, sizeof m_abIV);
  if (iv != nullptr) memcpy(m_abIV, iv, ivLength < sizeof m_abIV ? ivLength : sizeof m_abIV);
}

CRC5_CBC64::~CRC5_CBC64() {
  if (m_pS != nullptr) Wipe(m_pS.get(), (2 * m_nRounds + 2) * sizeof(DWORD));
}

int CRC5_CBC64::SetKey(ULONG length, const unsigned char* key) {
  if (key == nullptr) length = 0;
  if (length > MAX_KEY) length = MAX_KEY;
  ULONG t = 2 * m_nRounds + 2;
  if (m_pS == nullptr) {
    m_pS.reset(new (std::nothrow) DWORD[t]);
    if (m_pS == nullptr) AfxThrowMemoryException();
  }
  ULONG c = length == 0 ? 1 : (length + 3) / 4;
  DWORD L[(MAX_KEY + 3) / 4] = {0};
  for (ULONG i = length; i-- > 0;) L[i / 4] = (L[i / 4] << 8) + key[i];
  m_pS[0] = P32;
  for (ULONG i = 1; i < t; ++i) m_pS[i] = m_pS[i - 1] + Q32;
  DWORD A = 0, B = 0;
  ULONG i = 0, j = 0;
  for (ULONG k = 0, n = 3 * (t > c ? t : c); k < n; ++k) {
    A = m_pS[i] = Rotl(m_pS[i] + A + B, 3);
    B = L[j] = Rotl(L[j] + A + B, A + B);
    i = (i + 1) % t;
    j = (j + 1) % c;
  }
  Wipe(L, sizeof L);
  return 1;
}

void CRC5_CBC64::EncryptBlock(DWORD* a, DWORD* b) const {
  DWORD A = *a + m_pS[0];
  DWORD B = *b + m_pS[1];
  for (ULONG i = 1; i <= m_nRounds; ++i) {
    A = Rotl(A ^ B, B) + m_pS[2 * i];
    B = Rotl(B ^ A, A) + m_pS[2 * i + 1];
  }
  *a = A;
  *b = B;
}

void CRC5_CBC64::DecryptBlock(DWORD* a, DWORD* b) const {
  DWORD A = *a;
  DWORD B = *b;
  for (ULONG i = m_nRounds; i >= 1; --i) {
    B = Rotr(B - m_pS[2 * i + 1], A) ^ A;
    A = Rotr(A - m_pS[2 * i], B) ^ B;
  }
  *a = A - m_pS[0];
  *b = B - m_pS[1];
}

DWORD CRC5_CBC64::Encrypt(const unsigned char* input, ULONG inputLength, unsigned char* output,
                          ULONG capacity, ULONG* outputLength, int padding) const {
  if (outputLength == nullptr || (input == nullptr && inputLength != 0)) return ERROR_INVALID_PARAMETER;
  if (padding && inputLength > 0xFFFFFFFFu - 8) return ERROR_INVALID_PARAMETER;
  ULONG needed = padding ? (inputLength / 8 + 1) * 8 : inputLength;
  if (capacity < needed || output == nullptr) {
    *outputLength = needed;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  if (!padding && inputLength % 8 != 0) return ERROR_INVALID_PARAMETER;
  if (m_pS == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD chainA = Load32(m_abIV);
  DWORD chainB = Load32(m_abIV + 4);
  BYTE p = static_cast<BYTE>(needed - inputLength);
  for (ULONG at = 0; at < needed; at += 8) {
    BYTE block[8];
    for (ULONG k = 0; k < 8; ++k) block[k] = at + k < inputLength ? input[at + k] : p;
    DWORD A = Load32(block) ^ chainA;
    DWORD B = Load32(block + 4) ^ chainB;
    EncryptBlock(&A, &B);
    Store32(output + at, A);
    Store32(output + at + 4, B);
    chainA = A;
    chainB = B;
  }
  *outputLength = needed;
  return 0;
}

DWORD CRC5_CBC64::Decrypt(const unsigned char* input, ULONG inputLength, unsigned char* output,
                          ULONG capacity, ULONG* outputLength, int padding) const {
  if (outputLength == nullptr) return ERROR_INVALID_PARAMETER;
  *outputLength = inputLength;
  if (inputLength > capacity) return ERROR_INSUFFICIENT_BUFFER;
  if (inputLength % 8 != 0) return ERROR_INVALID_PARAMETER;
  if (inputLength == 0) return 0;
  if (input == nullptr || output == nullptr || m_pS == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD chainA = Load32(m_abIV);
  DWORD chainB = Load32(m_abIV + 4);
  for (ULONG at = 0; at < inputLength; at += 8) {
    // Read before writing: input and output may be the same buffer.
    DWORD cA = Load32(input + at);
    DWORD cB = Load32(input + at + 4);
    DWORD A = cA;
    DWORD B = cB;
    DecryptBlock(&A, &B);
    Store32(output + at, A ^ chainA);
    Store32(output + at + 4, B ^ chainB);
    chainA = cA;
    chainB = cB;
  }
  if (padding) {
    BYTE p = output[inputLength - 1];
    // Encrypt always pads with 1 to 8 bytes: anything else is corrupt.
    if (p == 0 || p > 8 || p > inputLength) return ERROR_INVALID_DATA;
    for (ULONG k = inputLength - p; k < inputLength; ++k) {
      if (output[k] != p) return ERROR_INVALID_DATA;
    }
    *outputLength = inputLength - p;
  }
  return 0;
}

}  // namespace telsor
