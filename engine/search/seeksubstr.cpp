#include "search/seeksubstr.h"

#include <stdlib.h>
#include <string.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "foundation/errorroad.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const DWORD kMaxPattern = 65534;
const HRESULT kNoMemory = ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY);  // from Compile
const HRESULT kNoMemoryLoad = ResultFromSystemError(ERROR_OUTOFMEMORY);  // while loading
const HRESULT kBadRecord = ResultFromSystemError(ERROR_INVALID_DATA_RECORD);
const size_t kSmallPattern = 4096;  // working storage below this stays on the stack

// Prefix function: pi[i] = longest proper border of s[0..i].
void PrefixFunction(const BYTE* s, size_t n, WORD* pi) {
  pi[0] = 0;
  for (size_t i = 1; i < n; ++i) {
    size_t k = pi[i - 1];
    while (k > 0 && s[i] != s[k]) k = pi[k - 1];
    if (s[i] == s[k]) ++k;
    pi[i] = static_cast<WORD>(k);
  }
}
// Good-suffix shifts of pat[0..n) as u16 values into good; 0 or 8.
DWORD GoodSuffix(const BYTE* pat, size_t n, BYTE* good) {
  BYTE smallRev[kSmallPattern] = {};
  WORD smallPi[kSmallPattern] = {};
  WORD smallRpi[kSmallPattern] = {};
  BYTE* rev = smallRev;
  WORD* pi = smallPi;
  WORD* rpi = smallRpi;
  std::vector<BYTE> bigRev;
  std::vector<WORD> bigPi, bigRpi;
  if (n >= kSmallPattern) {
    if (FAILED(ResultOf([&] {
          bigRev.resize(n);
          bigPi.resize(n);
          bigRpi.resize(n);
        })))
      return kNoMemory;
    rev = bigRev.data();
    pi = bigPi.data();
    rpi = bigRpi.data();
  }
  for (size_t i = 0; i < n; ++i) rev[i] = pat[n - 1 - i];
  PrefixFunction(pat, n, pi);
  PrefixFunction(rev, n, rpi);

  WORD period = static_cast<WORD>(n - pi[n - 1]);
  for (size_t j = 0; j < n; ++j) StoreU16(good + 2 * j, period);
  for (size_t i = 0; i < n; ++i) {
    size_t k = rpi[i];
    size_t shift = i - k + 1;
    BYTE* slot = good + 2 * (n - k - 1);
    if (LoadU16(slot) > shift) StoreU16(slot, static_cast<WORD>(shift));
  }
  return S_OK;
}

// How often a byte turns up in mail text, roughly (higher: more often).
int Commonness(BYTE c) {
  c = FoldByte(c);
  if (c == ' ') return 9;
  if (c != 0 && strchr("etaoinsrhl", c) != nullptr) return 8;
  if (c >= 'a' && c <= 'z') return 6;
  if (c == '\r' || c == '\n') return 5;
  if (c >= '0' && c <= '9') return 4;
  if (c == '.' || c == ',' || c == '-' || c == ':' || c == '/' || c == '\t') return 3;
  if (c >= 0x21 && c < 0x7F) return 2;
  return 1;
}
}  // namespace

CSeekSubstr::CSeekSubstr() : m_bOwnTables(false), m_nRare{0, 1} {}

CSeekSubstr::~CSeekSubstr() {}

void CSeekSubstr::Cleanup() {
  std::vector<BYTE>().swap(m_tables);
  m_bOwnTables = false;
}

HRESULT CSeekSubstr::Compile(const char* pattern, int caseSensitive, DWORD len) {
  Cleanup();
  HRESULT hr = CSeekPattern::Compile(pattern, caseSensitive, len);
  if (hr != S_OK) return hr;
  if (m_pPattern == nullptr || m_pPattern[0] == '\0') return S_OK;
  if (m_nLength > kMaxPattern) {
    FreePattern();
    return E_SEEK_PATTERN_TOO_LONG;
  }
  size_t size = 256 + 2 * static_cast<size_t>(m_nLength);
  if (FAILED(ResultOf([&] { m_tables.assign(size, 0); }))) return kNoMemory;
  hr = static_cast<HRESULT>(FillTables(m_tables.data()));
  if (hr != S_OK) {
    Cleanup();
    return hr;
  }
  m_bOwnTables = true;
  PrepareFilter();
  return S_OK;
}

DWORD CSeekSubstr::FillTables(BYTE* tables) const {
  size_t n = m_nLength;
  BYTE* bad = tables;
  memset(bad, static_cast<int>(n < 255 ? n : 255), 256);
  const BYTE* pat = reinterpret_cast<const BYTE*>(m_pPattern);
  for (size_t i = 1; i <= n; ++i) {
    BYTE c = pat[i - 1];
    size_t d = n - i < 255 ? n - i : 255;
    if (d < bad[c]) bad[c] = static_cast<BYTE>(d);
    if (!m_bCaseSensitive) {
      // The other case of an ASCII letter gets the same shift.
      BYTE o = c;
      if (c >= 'A' && c <= 'Z') {
        o = static_cast<BYTE>(c + 32);
      } else if (c >= 'a' && c <= 'z') {
        o = static_cast<BYTE>(c - 32);
      }
      if (d < bad[o]) bad[o] = static_cast<BYTE>(d);
    }
  }
  return GoodSuffix(pat, n, tables + 256);
}

DWORD CSeekSubstr::CalculateGoodSuffix() {
  if (m_tables.size() < 256 + 2 * static_cast<size_t>(m_nLength)) return kNoMemory;
  return GoodSuffix(reinterpret_cast<const BYTE*>(m_pPattern), m_nLength, m_tables.data() + 256);
}

void CSeekSubstr::PrepareFilter() {
  m_nRare[0] = 0;
  m_nRare[1] = 1;
  if (!m_bOwnTables || m_nLength < 2) return;
  // The least common byte, then the least common other byte value (or
  // another position when all bytes are alike).
  const BYTE* pat = reinterpret_cast<const BYTE*>(m_pPattern);
  const DWORD n = m_nLength;
  DWORD a = 0;
  for (DWORD i = 1; i < n; ++i)
    if (Commonness(pat[i]) < Commonness(pat[a])) a = i;
  DWORD b = a == 0 ? 1 : 0;
  for (DWORD i = 0; i < n; ++i) {
    if (i == a) continue;
    const bool differs = pat[i] != pat[a], bDiffers = pat[b] != pat[a];
    if ((differs && !bDiffers) || (differs == bDiffers && Commonness(pat[i]) < Commonness(pat[b]))) b = i;
  }
  m_nRare[0] = a < b ? a : b;
  m_nRare[1] = a < b ? b : a;
}

DWORD CSeekSubstr::Find(const BYTE* text, size_t len) const {
  size_t n = m_nLength;
  if (n > len) return SEEK_NOT_FOUND;
  const BYTE* pat = reinterpret_cast<const BYTE*>(m_pPattern);
  const bool fold = !m_bCaseSensitive;
  if (n == 1) {
    if (!fold) {
      const void* hit = memchr(text, pat[0], len);
      return hit ? static_cast<DWORD>(static_cast<const BYTE*>(hit) - text) : SEEK_NOT_FOUND;
    }
    for (size_t i = 0; i < len; ++i)
      if (FoldByte(text[i]) == pat[0]) return static_cast<DWORD>(i);
    return SEEK_NOT_FOUND;
  }
  if (CanFilter()) return FindFiltered(text, len);
  return FindBoyerMoore(text, len, 0);
}

DWORD CSeekSubstr::FindBoyerMoore(const BYTE* text, size_t len, size_t from) const {
  size_t n = m_nLength;
  if (n > len || from > len - n) return SEEK_NOT_FOUND;
  const BYTE* pat = reinterpret_cast<const BYTE*>(m_pPattern);
  const bool fold = !m_bCaseSensitive;
  const BYTE* bad = m_tables.data();
  // The unrolled skip runs only where three maximal shifts stay in the text.
  const size_t unrolledEnd = len > 3 * 255 ? len - 3 * 255 : 0;
  size_t p = from + n;  // one past the window's last byte
  for (;;) {
    if (p > len) return SEEK_NOT_FOUND;
    BYTE s;
    while (p <= unrolledEnd) {
      if ((s = bad[text[p - 1]]) == 0) break;
      p += s;
      if ((s = bad[text[p - 1]]) == 0) break;
      p += s;
      if ((s = bad[text[p - 1]]) == 0) break;
      p += s;
    }
    while ((s = bad[text[p - 1]]) != 0) {
      p += s;
      if (p > len) return SEEK_NOT_FOUND;
    }
    const BYTE* w = text + p - n;
    size_t j = n - 1;
    // The last byte is compared too, so that a table from a damaged record
    // cannot turn a mismatch into a reported match.
    while (j-- > 0) {
      BYTE c = fold ? FoldByte(w[j]) : w[j];
      if (c != pat[j]) break;
    }
    if (j != static_cast<size_t>(-1)) {
      p += Good(static_cast<DWORD>(j));
      continue;
    }
    BYTE last = fold ? FoldByte(w[n - 1]) : w[n - 1];
    if (last == pat[n - 1]) return static_cast<DWORD>(p - n);
    p += 1;
  }
}

DWORD CSeekSubstr::FindFiltered(const BYTE* text, size_t len) const {
  return m_bCaseSensitive ? FindFilteredT<false>(text, len) : FindFilteredT<true>(text, len);
}

template <bool kFold>
DWORD CSeekSubstr::FindFilteredT(const BYTE* text, size_t len) const {
  const size_t n = m_nLength;
  if (n > len) return SEEK_NOT_FOUND;
  const BYTE* pat = reinterpret_cast<const BYTE*>(m_pPattern);
  const size_t r0 = m_nRare[0], r1 = m_nRare[1];
  const size_t windows = len - n + 1;  // window starts 0 .. len - n
  auto matches = [&](size_t at) {
    const BYTE* w = text + at;
    if (!kFold) return memcmp(w, pat, n) == 0;
    for (size_t j = 0; j < n; ++j)
      if (FoldByte(w[j]) != pat[j]) return false;
    return true;
  };
  // Failed comparisons may cost as much as the windows filtered plus a
  // start-up allowance; beyond that (self-similar texts) Boyer-Moore takes
  // over, which keeps the whole search linear.
  size_t spent = 0;
  const size_t allowance = 4096;
  size_t s = 0;
#ifdef __SSE2__
  // Both cases of a letter pass the filter when case does not matter.
  auto other = [](BYTE c) { return (kFold && c >= 'a' && c <= 'z') ? static_cast<BYTE>(c - 32) : c; };
  const __m128i a0 = _mm_set1_epi8(static_cast<char>(pat[r0]));
  const __m128i b0 = _mm_set1_epi8(static_cast<char>(other(pat[r0])));
  const __m128i a1 = _mm_set1_epi8(static_cast<char>(pat[r1]));
  const __m128i b1 = _mm_set1_epi8(static_cast<char>(other(pat[r1])));
  // Bit i: window at + i passes the filter.
  auto candidates = [&](size_t at) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + r0));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + r1));
    __m128i h0 = _mm_cmpeq_epi8(v0, a0), h1 = _mm_cmpeq_epi8(v1, a1);
    if (kFold) {
      h0 = _mm_or_si128(h0, _mm_cmpeq_epi8(v0, b0));
      h1 = _mm_or_si128(h1, _mm_cmpeq_epi8(v1, b1));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(h0, h1)));
  };
  // Checks the candidates of the block at s; true when done (result set).
  DWORD result = SEEK_NOT_FOUND;
  auto check = [&](unsigned mask, size_t blockEnd) {
    for (; mask != 0; mask &= mask - 1) {
      const size_t at = s + static_cast<size_t>(__builtin_ctz(mask));
      if (matches(at)) {
        result = static_cast<DWORD>(at);
        return true;
      }
      spent += n;
    }
    if (spent > s + allowance) {
      result = FindBoyerMoore(text, len, blockEnd);
      return true;
    }
    return false;
  };
  for (; s + 32 <= windows; s += 32) {
    const unsigned mask = candidates(s) | candidates(s + 16) << 16;
    if (mask != 0 && check(mask, s + 32)) return result;
  }
  for (; s + 16 <= windows; s += 16) {
    const unsigned mask = candidates(s);
    if (mask != 0 && check(mask, s + 16)) return result;
  }
#endif
  for (; s < windows; ++s) {
    if ((kFold ? FoldByte(text[s + r0]) : text[s + r0]) != pat[r0]) continue;
    if ((kFold ? FoldByte(text[s + r1]) : text[s + r1]) != pat[r1]) continue;
    if (matches(s)) return static_cast<DWORD>(s);
  }
  return SEEK_NOT_FOUND;
}

DWORD CSeekSubstr::Search(const char* text, DWORD len, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (text == nullptr) return SEEK_NOT_FOUND;
  size_t n = len != 0 ? len : strlen(text);
  if (m_nLength > n) return SEEK_NOT_FOUND;
  if (m_nLength == 0) {
    if (n == 0) return SEEK_NOT_FOUND;
    if (matchLen) *matchLen = 1;
    return 0;
  }
  if (m_tables.empty()) return SEEK_NOT_FOUND;
  DWORD at = Find(reinterpret_cast<const BYTE*>(text), n);
  if (at != SEEK_NOT_FOUND && matchLen) *matchLen = m_nLength;
  return at;
}

DWORD CSeekSubstr::Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (m_nLength == 0) return 0;
  if (m_tables.empty() || stream == nullptr) return SEEK_NOT_FOUND;
  size_t n = m_nLength;
  if (n > maxBytes) return SEEK_NOT_FOUND;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER position;
  position.QuadPart = 0;
  if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &position))) return SEEK_NOT_FOUND;

  size_t blockSize = 16 * n > 0x2000 ? 16 * n : 0x2000;
  std::vector<BYTE> buffer;
  if (FAILED(ResultOf([&] { buffer.resize(blockSize); }))) return SEEK_NOT_FOUND;
  BYTE* block = buffer.data();
  DWORD base = position.u.LowPart;  // stream offset of block[0]
  size_t have = 0;
  size_t remaining = maxBytes;
  bool ended = false;
  DWORD result = SEEK_NOT_FOUND;
  for (;;) {
    while (have < blockSize && remaining > 0 && !ended) {
      size_t want = blockSize - have < remaining ? blockSize - have : remaining;
      ULONG got = 0;
      HRESULT hr = stream->Read(block + have, static_cast<ULONG>(want), &got);
      if (FAILED(hr) || got == 0) {
        ended = true;
        break;
      }
      if (got > want) got = static_cast<ULONG>(want);
      have += got;
      remaining -= got;
    }
    DWORD at = Find(block, have);
    if (at != SEEK_NOT_FOUND) {
      result = base + at;
      if (matchLen) *matchLen = m_nLength;
      break;
    }
    if (ended || remaining == 0 || have < n) break;
    // Every window starting before have - n + 1 has been ruled out.
    size_t keep = n - 1;
    memmove(block, block + have - keep, keep);
    base += static_cast<DWORD>(have - keep);
    have = keep;
  }
  return result;
}

HRESULT CSeekSubstr::Serialize(IStream* stream, int store) {
  if (stream == nullptr) return E_POINTER;
  BYTE field[4];
  if (store) {
    HRESULT hr = SerializeBase(stream, 1);
    if (hr != S_OK) return hr;
    StoreU32(field, static_cast<DWORD>(m_tables.size()));
    hr = WriteField(stream, field, 4);
    if (hr == S_OK) hr = WriteField(stream, m_tables.data(), static_cast<ULONG>(m_tables.size()));
    return hr;
  }

  Cleanup();
  HRESULT hr = SerializeBase(stream, 0);
  if (hr != S_OK) return hr;
  hr = ReadField(stream, field, 4, kBadRecord);
  if (hr != S_OK) return hr;
  DWORD size = LoadU32(field);
  size_t n = m_nLength;
  if (size == 0) {
    // Only a pattern that starts with NUL (or none) compiles without tables.
    return (m_pPattern == nullptr || m_pPattern[0] == '\0') ? S_OK : kBadRecord;
  }
  if (size < 256 + 2 * n) return kBadRecord;
  std::vector<BYTE> tables;
  hr = ReadBlock(stream, size, tables, kBadRecord, kNoMemoryLoad);
  if (hr != S_OK) return hr;
  for (size_t j = 0; j < n; ++j)
    if (LoadGood(tables.data() + 256 + 2 * j) == 0) return kBadRecord;
  m_tables.swap(tables);
  // The filter may skip the tables only when they are the ones Compile
  // builds; other tables keep deciding what is found.
  if (m_pPattern != nullptr && m_pPattern[0] != '\0' && n >= 2 && n <= kMaxPattern) {
    std::vector<BYTE> own;
    if (SUCCEEDED(ResultOf([&] { own.resize(256 + 2 * n); })) && FillTables(own.data()) == S_OK &&
        memcmp(own.data(), m_tables.data(), 256 + 2 * n) == 0)
      m_bOwnTables = true;
  }
  PrepareFilter();
  return S_OK;
}

}  // namespace telsor
