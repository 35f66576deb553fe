#include "search/seekexactstr.h"

#include <string.h>

namespace telsor {

int CompareBytes(const BYTE* a, const BYTE* b, size_t n, bool fold) {
  if (!fold) return n == 0 ? 0 : memcmp(a, b, n);
  for (size_t i = 0; i < n; ++i) {
    BYTE x = FoldByte(a[i]);
    BYTE y = FoldByte(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

CSeekExactStr::~CSeekExactStr() {}

HRESULT CSeekExactStr::Compile(const char* pattern, int caseSensitive, DWORD len) {
  return CSeekPattern::Compile(pattern, caseSensitive, len);
}

DWORD CSeekExactStr::Search(const char* text, DWORD len, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (text == nullptr) return SEEK_NOT_FOUND;
  size_t n = len != 0 ? len : strlen(text);
  if (n != m_nLength) return SEEK_NOT_FOUND;
  if (n != 0 && CompareBytes(reinterpret_cast<const BYTE*>(text),
                             reinterpret_cast<const BYTE*>(m_pPattern), n, !m_bCaseSensitive) != 0)
    return SEEK_NOT_FOUND;
  if (matchLen) *matchLen = static_cast<DWORD>(n);
  return 0;
}

DWORD CSeekExactStr::Search(IStream*, DWORD, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  return SEEK_NOT_FOUND;
}

}  // namespace telsor
