#include "search/seekpattern.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "foundation/win32.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const BYTE kRecordVersion = 1;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

CSeekPattern::CSeekPattern()
    : m_pPattern(nullptr), m_nLength(0), m_bCaseSensitive(1), m_chNulSubst(0x20) {}

CSeekPattern::~CSeekPattern() { FreePattern(); }

void CSeekPattern::FreePattern() {
  free(m_pPattern);
  m_pPattern = nullptr;
  m_nLength = 0;
}

HRESULT CSeekPattern::Compile(const char* pattern, int caseSensitive, DWORD len) {
  m_bCaseSensitive = caseSensitive != 0;
  FreePattern();
  if (pattern == nullptr) return S_OK;
  size_t n = len != 0 ? len : strlen(pattern);
  char* copy = static_cast<char*>(malloc(n + 1));
  if (copy == nullptr) return E_OUTOFMEMORY;
  if (len != 0) {
    strncpy(copy, pattern, n);
  } else {
    memcpy(copy, pattern, n);
  }
  copy[n] = '\0';
  if (!m_bCaseSensitive) strlwr(copy);
  m_pPattern = copy;
  m_nLength = static_cast<DWORD>(n);
  return S_OK;
}

DWORD CSeekPattern::Search(const char*, DWORD, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  return SEEK_NOT_FOUND;
}

DWORD CSeekPattern::Search(IStream*, DWORD, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  return SEEK_NOT_FOUND;
}

HRESULT CSeekPattern::Serialize(IStream* stream, int store) { return SerializeBase(stream, store); }

HRESULT CSeekPattern::SerializeBase(IStream* stream, int store) {
  if (stream == nullptr) return E_POINTER;
  BYTE head[3];
  BYTE tail[2];
  if (store) {
    // A longer pattern would be written with a truncated length and could
    // never be read back.
    if (m_nLength > 0xFFFF) return E_FAIL;
    head[0] = kRecordVersion;
    StoreU16(head + 1, static_cast<WORD>(m_nLength));
    HRESULT hr = WriteField(stream, head, 3);
    if (hr == S_OK) hr = WriteField(stream, m_pPattern, m_nLength);
    tail[0] = m_bCaseSensitive;
    tail[1] = m_chNulSubst;
    if (hr == S_OK) hr = WriteField(stream, tail, 2);
    return hr;
  }

  FreePattern();
  HRESULT hr = ReadField(stream, head, 1, E_FAIL);
  if (hr != S_OK) return hr;
  if (head[0] != kRecordVersion) return E_FAIL;
  hr = ReadField(stream, head + 1, 2, E_FAIL);
  if (hr != S_OK) return hr;
  DWORD n = LoadU16(head + 1);
  if (n != 0) {
    std::unique_ptr<char, void (*)(void*)> text(static_cast<char*>(calloc(n + 1, 1)), free);
    if (text == nullptr) return E_OUTOFMEMORY;
    hr = ReadField(stream, text.get(), n, E_FAIL);
    if (hr != S_OK) return hr;
    m_pPattern = text.release();
    m_nLength = n;
  }
  // The record ends with both bytes; a missing substitute byte is a
  // truncated record, since more fields follow it in the larger records.
  hr = ReadField(stream, tail, 2, E_FAIL);
  if (hr != S_OK) return hr;
  m_bCaseSensitive = tail[0] != 0;
  m_chNulSubst = tail[1];
  return S_OK;
}

const char* CSeekPattern::GetPattern(LONG) const { return m_pPattern; }

DWORD CSeekPattern::GetCount() const { return m_pPattern != nullptr ? 1 : 0; }

DWORD CSeekPattern::DecodeESC(const char* p, DWORD* consumed) {
  DWORD value = 0;
  DWORD used = 1;
  switch (*p) {
    case 'a': value = 7; break;
    case 'b': value = 8; break;
    case 'f': value = 12; break;
    case 'n': value = 10; break;
    case 'r': value = 13; break;
    case 't': value = 9; break;
    case 'v': value = 11; break;
    case 'x':
      for (int d; (d = HexDigit(p[used])) >= 0; ++used) value = value * 16 + static_cast<DWORD>(d);
      break;
    default:
      if (*p >= '0' && *p <= '7') {
        used = 0;
        for (; p[used] >= '0' && p[used] <= '7'; ++used) value = value * 8 + static_cast<DWORD>(p[used] - '0');
      } else {
        value = static_cast<BYTE>(*p);
      }
      break;
  }
  if (consumed) *consumed = used;
  return value;
}

int CSeekPattern::SetBitAt(DWORD index, int value, BYTE* bits) {
  BYTE mask = static_cast<BYTE>(1u << (index & 7));
  BYTE& b = bits[index >> 3];
  int previous = (b & mask) != 0;
  if (value) {
    b = static_cast<BYTE>(b | mask);
  } else {
    b = static_cast<BYTE>(b & ~mask);
  }
  return previous;
}

int CSeekPattern::GetBitAt(DWORD index, const BYTE* bits) { return (bits[index >> 3] >> (index & 7)) & 1; }

}  // namespace telsor
