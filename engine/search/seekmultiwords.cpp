// Multi-word matcher: Aho-Corasick automaton over a compressed alphabet,
// packed into a CDFATransTable; leftmost-longest hits.
#include "search/seekmultiwords.h"

#include <string.h>

#include <deque>
#include <string>

#include "foundation/errorroad.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const BYTE kRecordVersion = 1;
const DWORD kMaxWord = 0xFFFE;
const DWORD kStreamBlock = 4096;
}  // namespace

CSeekMultiWords::CSeekMultiWords() : m_nAlphabet(0) { memset(m_classes, 0, sizeof m_classes); }

CSeekMultiWords::~CSeekMultiWords() {}

void CSeekMultiWords::Cleanup() {
  m_scan.Clear();
  std::vector<TSTRING>().swap(m_words);
  memset(m_classes, 0, sizeof m_classes);
  m_nAlphabet = 0;
}

HRESULT CSeekMultiWords::Compile(const char* pattern, int caseSensitive, DWORD len) {
  Cleanup();
  FreePattern();
  m_bCaseSensitive = caseSensitive != 0;
  if (pattern == nullptr) return S_OK;
  size_t n = len != 0 ? strnlen(pattern, len) : strlen(pattern);
  if (n > kMaxWord) return E_SEEK_WORD_TOO_LONG;
  std::string word(pattern, n);
  const char* words[2] = {word.c_str(), nullptr};
  return Compile(words, caseSensitive);
}

HRESULT CSeekMultiWords::Compile(const char** words, int caseSensitive) {
  Cleanup();
  FreePattern();
  m_bCaseSensitive = caseSensitive != 0;
  if (words == nullptr) return E_POINTER;
  HRESULT hr = ResultOfCall([&]() -> HRESULT {
    for (const char** w = words; *w != nullptr; ++w) {
      const size_t n = strnlen(*w, kMaxWord + 1);
      if (n > kMaxWord) return E_SEEK_WORD_TOO_LONG;
      if (n == 0) continue;
      TSTRING word(*w, static_cast<int>(n));
      if (!m_bCaseSensitive) {
        for (int i = 0; i < word.GetLength(); ++i)
          word.SetAt(i, static_cast<char>(FoldByte(static_cast<BYTE>(word[i]))));
      }
      WithMemoryException([&] { m_words.push_back(word); });
    }
    return Build();
  });
  if (hr == S_OK) return S_OK;
  Cleanup();
  // This boundary's own code for running out of memory.
  return hr == E_OUTOFMEMORY ? ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY) : hr;
}

HRESULT CSeekMultiWords::Build() {
  if (m_words.empty()) return S_OK;
  // Alphabet: index 0 for bytes in no word, one index per byte in a word.
  DWORD alphabet = 1;
  for (const TSTRING& w : m_words) {
    for (int i = 0; i < w.GetLength(); ++i) {
      const BYTE c = static_cast<BYTE>(w[i]);
      if (m_classes[c] == 0) m_classes[c] = static_cast<BYTE>(alphabet++);
    }
  }
  if (!m_bCaseSensitive)
    for (DWORD c = 'A'; c <= 'Z'; ++c) m_classes[c] = m_classes[c + 32];
  m_nAlphabet = alphabet;
  const size_t a = alphabet;

  // Trie.
  std::vector<WORD> rows(a, CDFATransTable::NONE);
  std::vector<WORD> outLength(1, 0);  // per state: longest word ending there
  for (const TSTRING& w : m_words) {
    size_t s = 0;
    for (int i = 0; i < w.GetLength(); ++i) {
      const BYTE k = m_classes[static_cast<BYTE>(w[i])];
      WORD next = rows[s * a + k];
      if (next == CDFATransTable::NONE) {
        if (outLength.size() >= CDFATransTable::NONE) return E_SEEK_TOO_MANY_STATES;
        next = static_cast<WORD>(outLength.size());
        rows[s * a + k] = next;
        outLength.push_back(0);
        rows.resize(rows.size() + a, CDFATransTable::NONE);
      }
      s = next;
    }
    if (outLength[s] < w.GetLength()) outLength[s] = static_cast<WORD>(w.GetLength());
  }
  const size_t n = outLength.size();

  // Failure links, breadth first: a missing move takes the move of the
  // state's failure state, which is shallower and so already complete.
  std::vector<WORD> fail(n, 0);
  std::deque<WORD> queue;
  for (size_t k = 0; k < a; ++k) {
    WORD& t = rows[k];
    if (t == CDFATransTable::NONE) {
      t = 0;
    } else {
      fail[t] = 0;
      queue.push_back(t);
    }
  }
  while (!queue.empty()) {
    const WORD s = queue.front();
    queue.pop_front();
    if (outLength[fail[s]] > outLength[s]) outLength[s] = outLength[fail[s]];
    for (size_t k = 0; k < a; ++k) {
      WORD& t = rows[s * a + k];
      const WORD viaFail = rows[fail[s] * a + k];
      if (t == CDFATransTable::NONE) {
        t = viaFail;
      } else {
        fail[t] = viaFail;
        queue.push_back(t);
      }
    }
  }

  CSetBits accepting;
  for (size_t s = 0; s < n; ++s)
    if (outLength[s] != 0) accepting.SetBitAt(static_cast<DWORD>(s), 1);
  tag_CLASS_ROWS classes;
  CDFATransTable::ClassesOfColumns(rows, static_cast<DWORD>(n), alphabet, classes);
  CSharedObjPtr<CDFATransTable> table = new CDFATransTable;
  table->BuildFromClasses(classes, accepting);
  m_scan.Prepare(table, m_classes, CDFAScanner::WORDS, kStreamBlock, std::move(outLength), true, &classes);
  return S_OK;
}

DWORD CSeekMultiWords::Search(const char* text, DWORD len, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (text == nullptr || GetTable() == nullptr) return SEEK_NOT_FOUND;
  if (len == 0) len = static_cast<DWORD>(strlen(text));
  return m_scan.Search(reinterpret_cast<const BYTE*>(text), len, matchLen);
}

DWORD CSeekMultiWords::Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  return m_scan.Search(stream, maxBytes, matchLen);
}

size_t CSeekMultiWords::GetBytesHeld() const {
  size_t bytes = sizeof *this + m_words.capacity() * sizeof(TSTRING) + m_scan.GetBytesHeld();
  for (const TSTRING& w : m_words) bytes += static_cast<size_t>(w.GetLength()) + 1 + 3 * sizeof(int);
  return bytes;
}

const char* CSeekMultiWords::GetPattern(LONG index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_words.size()) return nullptr;
  return m_words[static_cast<size_t>(index)].c_str();
}

HRESULT CSeekMultiWords::Serialize(IStream* stream, int store) {
  if (stream == nullptr) return E_POINTER;
  BYTE field[5];
  if (store) {
    HRESULT hr = SerializeBase(stream, 1);
    field[0] = kRecordVersion;
    StoreU32(field + 1, static_cast<DWORD>(m_words.size()));
    if (hr == S_OK) hr = WriteField(stream, field, 5);
    for (size_t i = 0; hr == S_OK && i < m_words.size(); ++i) {
      StoreU16(field, static_cast<WORD>(m_words[i].GetLength()));
      hr = WriteField(stream, field, 2);
      if (hr == S_OK) hr = WriteField(stream, m_words[i].c_str(), static_cast<ULONG>(m_words[i].GetLength()));
    }
    return hr;
  }

  Cleanup();
  HRESULT hr = SerializeBase(stream, 0);
  if (hr != S_OK) return hr;
  hr = ReadField(stream, field, 1, E_FAIL);
  if (hr != S_OK) return hr;
  if (field[0] != kRecordVersion) return E_RECORD_VERSION;
  hr = ReadField(stream, field, 4, E_FAIL);
  if (hr != S_OK) return hr;
  const DWORD count = LoadU32(field);
  std::vector<std::string> words;
  std::vector<const char*> list;
  hr = ResultOfCall([&]() -> HRESULT {
    for (DWORD i = 0; i < count; ++i) {
      HRESULT read = ReadField(stream, field, 2, E_FAIL);
      if (read != S_OK) return read;
      const WORD n = LoadU16(field);
      if (n == 0 || n > kMaxWord) return E_FAIL;
      std::string word(n, '\0');
      read = ReadField(stream, &word[0], n, E_FAIL);
      if (read != S_OK) return read;
      if (memchr(word.data(), 0, n) != nullptr) return E_FAIL;
      words.push_back(std::move(word));
    }
    for (const std::string& w : words) list.push_back(w.c_str());
    list.push_back(nullptr);
    return S_OK;
  });
  if (hr != S_OK) return hr;
  const BYTE caseSensitive = m_bCaseSensitive;
  const BYTE substitute = m_chNulSubst;
  hr = Compile(list.data(), caseSensitive);
  m_chNulSubst = substitute;
  return hr;
}

}  // namespace telsor
