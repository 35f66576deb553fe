#include "search/seekmatches.h"

#include <string.h>

#include "foundation/errorroad.h"

namespace telsor {

namespace {
const DWORD kMaxPattern = 0xFFFF;  // patterns must be shorter
}

CSeekMatches::CSeekMatches(tag_CAPABILITIES_BIT caps) : m_caps(caps) {}

CSeekMatches::~CSeekMatches() {}

HRESULT CSeekMatches::Compile(const char* pattern, int caseSensitive, DWORD len) {
  m_tokens.clear();
  m_sets.clear();
  if (pattern != nullptr && (len != 0 ? len : strlen(pattern)) >= kMaxPattern) {
    CSeekPattern::Compile(nullptr, caseSensitive, 0);
    return E_SEEK_PATTERN_TOO_LONG;
  }
  HRESULT hr = CSeekPattern::Compile(pattern, caseSensitive, len);
  if (hr == S_OK) hr = Tokenize();
  if (hr != S_OK) FreePattern();
  return hr;
}

BYTE CSeekMatches::SetMember(DWORD* at) const {
  BYTE c = static_cast<BYTE>(m_pPattern[*at]);
  if (c == '\\' && (m_caps & SEEK_CAPS_ESCAPE) && *at + 1 < m_nLength) {
    c = static_cast<BYTE>(m_pPattern[*at + 1]);
    *at += 2;
    return c;
  }
  *at += 1;
  return c;
}

HRESULT CSeekMatches::Tokenize() {
  m_tokens.clear();
  m_sets.clear();
  const BYTE* p = reinterpret_cast<const BYTE*>(m_pPattern);
  const DWORD n = m_nLength;
  HRESULT hr = ResultOf([&] {
    DWORD i = 0;
    while (i < n) {
      BYTE c = p[i];
      if (c == '*') {
        if (m_tokens.empty() || m_tokens.back().kind != TOKEN_STAR) m_tokens.push_back({TOKEN_STAR, 0, 0});
        ++i;
      } else if (c == '?') {
        m_tokens.push_back({TOKEN_ANY, 0, 0});
        ++i;
      } else if (c == '\\' && (m_caps & SEEK_CAPS_ESCAPE) && i + 1 < n) {
        m_tokens.push_back({TOKEN_BYTE, p[i + 1], 0});
        i += 2;
      } else if (c == '[' && (m_caps & SEEK_CAPS_BRACKETS)) {
        DWORD j = i + 1;
        bool negate = j < n && p[j] == '^';
        if (negate) ++j;
        tag_BYTESET set;
        memset(set.bits, 0, sizeof set.bits);
        bool closed = false;
        bool first = true;
        while (j < n) {
          if (p[j] == ']' && !first) {
            closed = true;
            ++j;
            break;
          }
          first = false;
          BYTE lo = SetMember(&j);
          BYTE hi = lo;
          if (j + 1 < n && p[j] == '-' && p[j + 1] != ']') {
            ++j;
            hi = SetMember(&j);
          }
          for (DWORD b = lo; b <= hi; ++b) SetBitAt(b, 1, set.bits);
        }
        if (!closed) {
          // An unclosed bracket is a plain byte; the rest is read normally.
          m_tokens.push_back({TOKEN_BYTE, c, 0});
          ++i;
          continue;
        }
        if (negate)
          for (BYTE& b : set.bits) b = static_cast<BYTE>(~b);
        m_tokens.push_back({TOKEN_SET, 0, static_cast<WORD>(m_sets.size())});
        m_sets.push_back(set);
        i = j;
      } else {
        m_tokens.push_back({TOKEN_BYTE, c, 0});
        ++i;
      }
    }
  });
  if (FAILED(hr)) {
    m_tokens.clear();
    m_sets.clear();
  }
  return hr;
}

bool CSeekMatches::Matches(const BYTE* text, size_t len) const {
  const size_t m = m_tokens.size();
  const bool fold = !m_bCaseSensitive;
  const size_t none = static_cast<size_t>(-1);
  size_t ti = 0;
  size_t pi = 0;
  size_t starP = none;  // token after which the last star was seen
  size_t starT = 0;     // text position that star's run ends at so far
  while (ti < len) {
    if (pi < m) {
      const tag_TOKEN& t = m_tokens[pi];
      if (t.kind == TOKEN_STAR) {
        starP = ++pi;
        starT = ti;
        continue;
      }
      BYTE c = fold ? FoldByte(text[ti]) : text[ti];
      bool hit = t.kind == TOKEN_ANY || (t.kind == TOKEN_BYTE && t.value == c) ||
                 (t.kind == TOKEN_SET && GetBitAt(c, m_sets[t.set].bits));
      if (hit) {
        ++pi;
        ++ti;
        continue;
      }
    }
    // Mismatch: let the last star swallow one more byte, or fail. Earlier
    // stars never need to be revisited, which keeps this polynomial.
    if (starP == none) return false;
    pi = starP;
    ti = ++starT;
  }
  while (pi < m && m_tokens[pi].kind == TOKEN_STAR) ++pi;
  return pi == m;
}

DWORD CSeekMatches::Search(const char* text, DWORD len, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (text == nullptr || m_pPattern == nullptr) return SEEK_NOT_FOUND;
  size_t n = len != 0 ? len : strlen(text);
  if (!Matches(reinterpret_cast<const BYTE*>(text), n)) return SEEK_NOT_FOUND;
  if (matchLen) *matchLen = static_cast<DWORD>(n);
  return 0;
}

HRESULT CSeekMatches::Serialize(IStream* stream, int store) {
  if (store) return SerializeBase(stream, 1);
  m_tokens.clear();
  m_sets.clear();
  HRESULT hr = SerializeBase(stream, 0);
  if (hr == S_OK && m_nLength >= kMaxPattern) hr = E_FAIL;
  if (hr == S_OK) hr = Tokenize();
  if (hr != S_OK) {
    m_tokens.clear();
    m_sets.clear();
    FreePattern();
  }
  return hr;
}

}  // namespace telsor
