#include "search/seekdictionary.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "foundation/errorroad.h"
#include "search/seekexactstr.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const DWORD kEntrySize = 8;
const DWORD kMaxWord = 0xFFFF;  // words and texts must be shorter

struct WordRef {
  const BYTE* text;
  size_t len;
};

int CompareWords(const WordRef& a, const WordRef& b, bool fold) {
  size_t n = a.len < b.len ? a.len : b.len;
  int c = CompareBytes(a.text, b.text, n, fold);
  if (c != 0) return c;
  return a.len < b.len ? -1 : (a.len > b.len ? 1 : 0);
}
}  // namespace

int CSeekDictionary::NoCaseCmpWords(const void* a, const void* b) {
  return CompareWords(*static_cast<const WordRef*>(a), *static_cast<const WordRef*>(b), true);
}

int CSeekDictionary::CaseCmpWords(const void* a, const void* b) {
  return CompareWords(*static_cast<const WordRef*>(a), *static_cast<const WordRef*>(b), false);
}

CSeekDictionary::CSeekDictionary() : m_nCount(0) {}

CSeekDictionary::~CSeekDictionary() {}

void CSeekDictionary::FreeWords() {
  std::vector<BYTE>().swap(m_block);
  m_nCount = 0;
}

const BYTE* CSeekDictionary::WordAt(DWORD i, DWORD* len) const {
  const BYTE* e = m_block.data() + static_cast<size_t>(i) * kEntrySize;
  *len = LoadU16(e + 4);
  return m_block.data() + LoadU32(e);
}

HRESULT CSeekDictionary::Compile(const char** words, int caseSensitive) {
  if (words == nullptr) return E_POINTER;
  FreeWords();
  CSeekPattern::Compile(nullptr, caseSensitive, 0);

  size_t count = 0;
  size_t total = 0;
  for (; words[count] != nullptr; ++count) {
    size_t n = strlen(words[count]);
    if (n >= kMaxWord) return E_SEEK_WORD_TOO_LONG;
    total += n + 1;
  }
  if (count == 0) return S_OK;
  size_t size = count * kEntrySize + total;
  if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;

  std::vector<BYTE> block;
  HRESULT hr = ResultOf([&] {
    block.assign(size, 0);
    std::vector<WordRef> order(count);
    for (size_t i = 0; i < count; ++i)
      order[i] = WordRef{reinterpret_cast<const BYTE*>(words[i]), strlen(words[i])};
    qsort(order.data(), count, sizeof(WordRef), m_bCaseSensitive ? CaseCmpWords : NoCaseCmpWords);
    size_t at = count * kEntrySize;
    for (size_t i = 0; i < count; ++i) {
      BYTE* e = block.data() + i * kEntrySize;
      StoreU32(e, static_cast<DWORD>(at));
      StoreU16(e + 4, static_cast<WORD>(order[i].len));
      memcpy(block.data() + at, order[i].text, order[i].len);
      at += order[i].len + 1;
    }
  });
  if (FAILED(hr)) return hr;
  m_block.swap(block);
  m_nCount = static_cast<DWORD>(count);
  return S_OK;
}

DWORD CSeekDictionary::Search(const char* text, DWORD len, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (text == nullptr || m_nCount == 0) return SEEK_NOT_FOUND;
  size_t n = len != 0 ? len : strnlen(text, kMaxWord + 1);
  if (n > kMaxWord) return SEEK_NOT_FOUND;
  WordRef key{reinterpret_cast<const BYTE*>(text), n};
  bool fold = !m_bCaseSensitive;
  DWORD lo = 0;
  DWORD hi = m_nCount;
  while (lo < hi) {
    DWORD mid = lo + (hi - lo) / 2;
    DWORD wlen;
    const BYTE* w = WordAt(mid, &wlen);
    int c = CompareWords(key, WordRef{w, wlen}, fold);
    if (c == 0) {
      if (matchLen) *matchLen = static_cast<DWORD>(n);
      return 0;
    }
    if (c < 0) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return SEEK_NOT_FOUND;
}

DWORD CSeekDictionary::Search(IStream*, DWORD, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  return SEEK_NOT_FOUND;
}

const char* CSeekDictionary::GetPattern(LONG index) const {
  if (index < 0 || static_cast<DWORD>(index) >= m_nCount) return nullptr;
  DWORD len;
  return reinterpret_cast<const char*>(WordAt(static_cast<DWORD>(index), &len));
}

HRESULT CSeekDictionary::Serialize(IStream* stream, int store) {
  if (stream == nullptr) return E_POINTER;
  BYTE field[4];
  if (store) {
    HRESULT hr = SerializeBase(stream, 1);
    if (hr != S_OK) return hr;
    StoreU32(field, m_nCount);
    hr = WriteField(stream, field, 4);
    if (hr != S_OK || m_nCount == 0) return hr;
    StoreU32(field, static_cast<DWORD>(m_block.size()));
    hr = WriteField(stream, field, 4);
    if (hr == S_OK) hr = WriteField(stream, m_block.data(), static_cast<ULONG>(m_block.size()));
    return hr;
  }

  FreeWords();
  HRESULT hr = SerializeBase(stream, 0);
  if (hr != S_OK) return hr;
  hr = ReadField(stream, field, 4, E_FAIL);
  if (hr != S_OK) return hr;
  DWORD count = LoadU32(field);
  if (count == 0) return S_OK;
  hr = ReadField(stream, field, 4, E_FAIL);
  if (hr != S_OK) return hr;
  DWORD size = LoadU32(field);
  uint64_t entries = static_cast<uint64_t>(count) * kEntrySize;
  // Each word needs at least its NUL behind the entries.
  if (entries + count > size) return E_FAIL;
  std::vector<BYTE> block;
  hr = ReadBlock(stream, size, block, E_FAIL, E_OUTOFMEMORY);
  if (hr != S_OK) return hr;
  for (DWORD i = 0; i < count; ++i) {
    const BYTE* e = block.data() + static_cast<size_t>(i) * kEntrySize;
    uint64_t at = LoadU32(e);
    uint64_t len = LoadU16(e + 4);
    if (at < entries || at + len >= size || block[at + len] != 0 ||
        memchr(block.data() + at, 0, len) != nullptr) {
      return E_FAIL;
    }
  }
  m_block.swap(block);
  m_nCount = count;
  return S_OK;
}

}  // namespace telsor
