// The enciphered parameter token.
#include "mime/paramtoken.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "foundation/crc16.h"
#include "foundation/exception.h"
#include "foundation/rc5cbc64.h"
#include "mime/rfc2047text.h"

namespace telsor {

namespace {

const ULONG kRounds = 20;
// The CBC vector: the cipher uses the first 8 of the 9 characters.
const char kVector[] = "K47PZ318M";
const ULONG kHeader = 10;

WORD Crc(const BYTE* p, size_t n) {
  WORD crc = 0;
  for (size_t i = 0; i < n; ++i) crc = static_cast<WORD>(g_awCrc16Table[((crc >> 8) ^ p[i]) & 0xFF] ^ (crc << 8));
  return crc;
}

void PutWord(BYTE* p, WORD w) {
  p[0] = static_cast<BYTE>(w);
  p[1] = static_cast<BYTE>(w >> 8);
}

void PutLong(BYTE* p, DWORD d) {
  PutWord(p, static_cast<WORD>(d));
  PutWord(p + 2, static_cast<WORD>(d >> 16));
}

WORD GetWord(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
DWORD GetLong(const BYTE* p) { return GetWord(p) | static_cast<DWORD>(GetWord(p + 2)) << 16; }

// A writable buffer of count bytes in s; the memory exception when there is
// none.
BYTE* Buffer(TSTRING& s, ULONG count) {
  if (count > 0x7FFFFFF0u) AfxThrowMemoryException();
  char* p = s.GetBuffer(static_cast<int>(count));
  if (p == nullptr) AfxThrowMemoryException();
  return reinterpret_cast<BYTE*>(p);
}

// Two random words from a generator of this call's own (the C library's
// additive generator with a private state, seeded with the time in seconds,
// so the host's process-wide rand() is left alone).
void RandomWords(WORD* first, WORD* second) {
  char state[128];
  struct random_data data;
  memset(&data, 0, sizeof data);
  memset(state, 0, sizeof state);
  initstate_r(static_cast<unsigned int>(time(nullptr)), state, sizeof state, &data);
  int32_t a = 0, b = 0;
  random_r(&data, &a);
  random_r(&data, &b);
  *first = static_cast<WORD>(a);
  *second = static_cast<WORD>(b);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void Append(CRfc2045ParameterList& params, const std::string& attribute, const std::string& value) {
  TSTRING a(attribute);
  TSTRING v(value);
  CRfc2045Parameter p(a, v);
  params.AddTail(p);
}

}  // namespace

TSTRING EncryptParameters(const CRfc2045ParameterList& params, const TSTRING& key) {
  // The list text, reserved in one step.
  size_t reserve = 16;
  for (void* pos = params.GetHeadPosition(); pos != nullptr;) {
    const CRfc2045Parameter& p = params.GetNext(pos);
    reserve += static_cast<size_t>(p.GetAttribute().GetLength()) + p.GetValue().GetLength() + 4;
  }
  std::string text;
  text.reserve(reserve);
  for (void* pos = params.GetHeadPosition(); pos != nullptr;) {
    const CRfc2045Parameter& p = params.GetNext(pos);
    text.append(p.GetAttribute().c_str(), static_cast<size_t>(p.GetAttribute().GetLength()));
    text += "=\"";
    const TSTRING& value = p.GetValue();
    for (int i = 0; i < value.GetLength(); ++i) {
      if (value[i] == '\\' || value[i] == '"') text += '\\';
      text += value[i];
    }
    text += "\";";
  }
  if (text.size() > 0x7FFFFF00u - kHeader) AfxThrowMemoryException();

  const ULONG plainLength = static_cast<ULONG>(text.size()) + kHeader;
  TSTRING plain;
  BYTE* p = Buffer(plain, plainLength);
  WORD first = 0, second = 0;
  RandomWords(&first, &second);
  PutWord(p + 2, first);
  PutWord(p + 4, second);
  PutLong(p + 6, plainLength);
  if (!text.empty()) memcpy(p + kHeader, text.data(), text.size());
  PutWord(p, Crc(p + 2, plainLength - 2));

  CRC5_CBC64 cipher(kRounds, sizeof kVector - 1, reinterpret_cast<const unsigned char*>(kVector));
  cipher.SetKey(static_cast<ULONG>(key.GetLength()), reinterpret_cast<const unsigned char*>(key.c_str()));
  ULONG needed = 0;
  cipher.Encrypt(p, plainLength, nullptr, 0, &needed, 1);
  TSTRING sealed;
  BYTE* out = Buffer(sealed, needed);
  ULONG written = 0;
  cipher.Encrypt(p, plainLength, out, needed, &written, 1);
  sealed.ReleaseBuffer(static_cast<int>(written));
  plain.ReleaseBuffer(0);

  TSTRING token;
  if (BWordEncode(token, sealed) == E_OUTOFMEMORY) AfxThrowMemoryException();
  return token;
}

DWORD DecryptParameters(const TSTRING& token, const TSTRING& key, CRfc2045ParameterList& params) {
  TSTRING copy(token);
  copy.RemoveAny(" \t\r\n");
  if (copy.IsEmpty()) return 0;
  TSTRING sealed;
  if (BWordDecode(sealed, copy) == E_OUTOFMEMORY) AfxThrowMemoryException();

  CRC5_CBC64 cipher(kRounds, sizeof kVector - 1, reinterpret_cast<const unsigned char*>(kVector));
  cipher.SetKey(static_cast<ULONG>(key.GetLength()), reinterpret_cast<const unsigned char*>(key.c_str()));
  const ULONG sealedLength = static_cast<ULONG>(sealed.GetLength());
  TSTRING plain;
  BYTE* p = Buffer(plain, sealedLength);
  ULONG plainLength = 0;
  DWORD r = cipher.Decrypt(reinterpret_cast<const unsigned char*>(sealed.c_str()), sealedLength, p, sealedLength,
                           &plainLength, 1);
  if (r == 0 && (plainLength > sealedLength || plainLength < kHeader || GetLong(p + 6) != plainLength ||
                 Crc(p + 2, plainLength - 2) != GetWord(p))) {
    r = ERROR_INVALID_DATA;
  }
  plain.ReleaseBuffer(r == 0 ? static_cast<int>(plainLength) : 0);
  if (r != 0) return r;
  ParseListParameters(plain.Mid(static_cast<int>(kHeader)), params);
  return 0;
}

void ParseListParameters(const TSTRING& text, CRfc2045ParameterList& params) {
  enum { BEFORE_ATTRIBUTE, ATTRIBUTE, AFTER_ATTRIBUTE, VALUE_START, BARE, QUOTED, AFTER_QUOTED } state = ATTRIBUTE;
  std::string attribute, value;
  const char* p = text.c_str();
  const size_t n = static_cast<size_t>(text.GetLength());
  for (size_t i = 0; i < n; ++i) {
    const char c = p[i];
    // A backslash with a next character takes that character literally.
    const bool escape = c == '\\' && i + 1 < n;
    switch (state) {
      case BEFORE_ATTRIBUTE:
        if (!IsSpace(c)) {
          attribute = c;
          state = ATTRIBUTE;
        }
        break;
      case ATTRIBUTE:
        if (IsSpace(c)) {
          state = AFTER_ATTRIBUTE;
        } else if (c == '=') {
          state = VALUE_START;
        } else {
          attribute += c;
        }
        break;
      case AFTER_ATTRIBUTE:
        if (c == '=') state = VALUE_START;
        break;
      case VALUE_START:
        if (c == '"') {
          state = QUOTED;
        } else if (escape) {
          value = p[++i];
          state = BARE;
        } else if (c != '\\' && !IsSpace(c)) {
          value = c;
          state = BARE;
        }
        break;
      case BARE:
        if (c == ';') {
          Append(params, attribute, value);
          attribute.clear();
          value.clear();
          state = BEFORE_ATTRIBUTE;
        } else {
          value += escape ? p[++i] : c;
        }
        break;
      case QUOTED:
        if (c == '"') {
          Append(params, attribute, value);
          attribute.clear();
          value.clear();
          state = AFTER_QUOTED;
        } else {
          value += escape ? p[++i] : c;
        }
        break;
      case AFTER_QUOTED:
        if (c == ';') state = BEFORE_ATTRIBUTE;
        break;
    }
  }
  if ((state == AFTER_ATTRIBUTE || state == VALUE_START || state == BARE || state == QUOTED) &&
      !attribute.empty()) {
    Append(params, attribute, value);
  }
}

}  // namespace telsor
