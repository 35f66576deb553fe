// Multi-word matcher: Aho-Corasick automaton over a compressed alphabet,
// packed into a CDFATransTable; leftmost-longest hits.
#include "search/seekmultiwords.h"

#include <stdlib.h>
#include <string.h>

#include <deque>
#include <new>
#include <type_traits>

#include "foundation/exception.h"
#include "search/seekrecord.h"

namespace telsor {

namespace {
const BYTE kRecordVersion = 1;
const HRESULT kBadVersion = static_cast<HRESULT>(0xE00A00C9u);
const DWORD kMaxWord = 0xFFFE;
const size_t kMaxFlatCells = 4096 * 256;
const size_t kMaxPairCells = 1 << 18;  // two-byte steps up to 4 MiB
const DWORD kStreamBlock = 4096;

// Where a scan stands between blocks.
template <class W>
struct tag_WORDS_SCAN {
  typename W::CELL cell;
  bool found = false;
  DWORD start = 0;
  DWORD length = 0;
  explicit tag_WORDS_SCAN(const W& w) : cell(w.Start()) {}
};

// Runs p[0..n), standing at offsets base.., through the automaton; true
// when no later byte can change the result. Until a word is found, the
// flat copy's two-byte steps and start-state skipping pass over bytes that
// reach no accepting state; every accept is stepped one byte at a time.
template <class W>
bool ScanWords(const W& w, const WORD* outLength, DWORD longest, const BYTE* p, DWORD n, DWORD base,
               tag_WORDS_SCAN<W>& st) {
  typename W::CELL cell = st.cell;
  for (DWORD j = 0; j < n; ++j) {
    if (st.found) {
      if (base + j - st.start >= longest) {
        st.cell = cell;
        return true;
      }
    } else if constexpr (std::is_same<W, CDFAFlatWalker>::value) {
      const CDFAScanTable& t = *w.flat;
      const bool skip = t.CanSkip();
      if (skip && cell == t.Start()) {
        j += static_cast<DWORD>(t.SkipFromStart(p + j, n - j));
        if (j == n) break;
      }
      if (t.HasPairs()) {
        const DWORD from = j;
        j = static_cast<DWORD>(
            t.StepPairs(cell, p, j, n, skip, [](CDFAScanTable::PAIR_ROW, const CDFAScanTable::tag_PAIR&, size_t) {}));
        if (j == n) break;
        if (j != from && skip && cell == t.Start()) {  // back to skipping
          --j;
          continue;
        }
      }
    }
    cell = w.Next(cell, p[j]);
    if (!w.IsSpecial(cell)) continue;
    if (w.IsDead(cell)) {  // complete automaton: never, but stay safe
      cell = w.Start();
      continue;
    }
    const DWORD i = base + j;
    const DWORD length = outLength[w.State(cell)];
    if (length == 0 || length > i + 1) continue;
    const DWORD start = i + 1 - length;
    if (!st.found || start < st.start || (start == st.start && length > st.length)) {
      st.found = true;
      st.start = start;
      st.length = length;
    }
  }
  st.cell = cell;
  return false;
}

// Runs f with the walker of the flat copy when there is one.
template <class F>
void WithWalker(const CDFAScanTable& flat, const CDFATransTable* table, const BYTE* map, const F& f) {
  if (!flat.IsEmpty()) {
    f(CDFAFlatWalker{&flat});
  } else {
    f(CDFAPackedWalker{table, map});
  }
}
}  // namespace

CSeekMultiWords::CSeekMultiWords() : m_pTable(nullptr), m_nAlphabet(0), m_nLongest(0) {
  memset(m_classes, 0, sizeof m_classes);
}

CSeekMultiWords::~CSeekMultiWords() { Cleanup(); }

void CSeekMultiWords::Cleanup() {
  if (m_pTable != nullptr) m_pTable->Release();
  m_pTable = nullptr;
  std::vector<TSTRING>().swap(m_words);
  std::vector<WORD>().swap(m_outLength);
  memset(m_classes, 0, sizeof m_classes);
  m_nAlphabet = 0;
  m_nLongest = 0;
  m_scan.Clear();
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
  try {
    for (const char** w = words; *w != nullptr; ++w) {
      const size_t n = strnlen(*w, kMaxWord + 1);
      if (n > kMaxWord) {
        Cleanup();
        return E_SEEK_WORD_TOO_LONG;
      }
      if (n == 0) continue;
      TSTRING word(*w, static_cast<int>(n));
      if (!m_bCaseSensitive) {
        for (int i = 0; i < word.GetLength(); ++i)
          word.SetAt(i, static_cast<char>(FoldByte(static_cast<BYTE>(word[i]))));
      }
      m_words.push_back(word);
    }
    HRESULT hr = Build();
    if (hr != S_OK) Cleanup();
    return hr;
  } catch (CMemoryException* e) {
    e->Delete();
  } catch (std::bad_alloc&) {
  } catch (DWORD code) {
    Cleanup();
    return static_cast<HRESULT>(code);
  }
  Cleanup();
  return ERROR_NOT_ENOUGH_MEMORY;
}

HRESULT CSeekMultiWords::Build() {
  if (m_words.empty()) return S_OK;
  // Alphabet: index 0 for bytes in no word, one index per byte in a word.
  DWORD alphabet = 1;
  for (const TSTRING& w : m_words) {
    if (static_cast<DWORD>(w.GetLength()) > m_nLongest) m_nLongest = static_cast<DWORD>(w.GetLength());
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
  m_outLength.assign(1, 0);
  for (const TSTRING& w : m_words) {
    size_t s = 0;
    for (int i = 0; i < w.GetLength(); ++i) {
      const BYTE k = m_classes[static_cast<BYTE>(w[i])];
      WORD next = rows[s * a + k];
      if (next == CDFATransTable::NONE) {
        if (m_outLength.size() >= CDFATransTable::NONE) return E_SEEK_TOO_MANY_STATES;
        next = static_cast<WORD>(m_outLength.size());
        rows[s * a + k] = next;
        m_outLength.push_back(0);
        rows.resize(rows.size() + a, CDFATransTable::NONE);
      }
      s = next;
    }
    if (m_outLength[s] < w.GetLength()) m_outLength[s] = static_cast<WORD>(w.GetLength());
  }
  const size_t n = m_outLength.size();

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
    if (m_outLength[fail[s]] > m_outLength[s]) m_outLength[s] = m_outLength[fail[s]];
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
    if (m_outLength[s] != 0) accepting.SetBitAt(static_cast<DWORD>(s), 1);
  CDFATransTable* table = new CDFATransTable;
  table->AddRef();
  try {
    table->BuildFromRows(rows, static_cast<DWORD>(n), alphabet, accepting);
  } catch (...) {
    table->Release();
    throw;
  }
  m_pTable = table;
  try {
    m_scan.Build(m_pTable, m_classes, kMaxFlatCells);
    m_scan.BuildPairs(kMaxPairCells);
  } catch (std::bad_alloc&) {
    m_scan.Clear();  // the packed table still serves
  }
  return S_OK;
}

DWORD CSeekMultiWords::Search(const char* text, DWORD len, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (text == nullptr || m_pTable == nullptr) return SEEK_NOT_FOUND;
  if (len == 0) len = static_cast<DWORD>(strlen(text));
  const BYTE* p = reinterpret_cast<const BYTE*>(text);
  DWORD at = SEEK_NOT_FOUND;
  WithWalker(m_scan, m_pTable, m_classes, [&](const auto& w) {
    tag_WORDS_SCAN<std::decay_t<decltype(w)>> st(w);
    ScanWords(w, m_outLength.data(), m_nLongest, p, len, 0, st);
    if (!st.found) return;
    if (matchLen) *matchLen = st.length;
    at = st.start;
  });
  return at;
}

DWORD CSeekMultiWords::Search(IStream* stream, DWORD maxBytes, DWORD* matchLen) const {
  if (matchLen) *matchLen = 0;
  if (stream == nullptr || m_pTable == nullptr || maxBytes == 0) return SEEK_NOT_FOUND;
  DWORD position = 0;
  if (!GetScanStart(stream, &position)) return SEEK_NOT_FOUND;
  DWORD at = SEEK_NOT_FOUND;
  WithWalker(m_scan, m_pTable, m_classes, [&](const auto& w) {
    tag_WORDS_SCAN<std::decay_t<decltype(w)>> st(w);
    BYTE block[kStreamBlock];
    DWORD done = 0;
    while (done < maxBytes) {
      const DWORD got = ReadScanBlock(stream, block, kStreamBlock, maxBytes - done);
      if (got == 0) break;
      const bool decided = ScanWords(w, m_outLength.data(), m_nLongest, block, got, done, st);
      done += got;
      if (decided) break;
    }
    if (!st.found) return;
    if (matchLen) *matchLen = st.length;
    at = position + st.start;
  });
  return at;
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
  if (field[0] != kRecordVersion) return kBadVersion;
  hr = ReadField(stream, field, 4, E_FAIL);
  if (hr != S_OK) return hr;
  const DWORD count = LoadU32(field);
  std::vector<std::string> words;
  try {
  for (DWORD i = 0; i < count; ++i) {
    hr = ReadField(stream, field, 2, E_FAIL);
    if (hr != S_OK) return hr;
    const WORD n = LoadU16(field);
    if (n == 0 || n > kMaxWord) return E_FAIL;
    std::string word(n, '\0');
    hr = ReadField(stream, &word[0], n, E_FAIL);
    if (hr != S_OK) return hr;
    if (memchr(word.data(), 0, n) != nullptr) return E_FAIL;
    words.push_back(std::move(word));
  }
  } catch (std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::vector<const char*> list;
  for (const std::string& w : words) list.push_back(w.c_str());
  list.push_back(nullptr);
  const BYTE caseSensitive = m_bCaseSensitive;
  const BYTE substitute = m_chNulSubst;
  hr = Compile(list.data(), caseSensitive);
  m_chNulSubst = substitute;
  return hr;
}

}  // namespace telsor
