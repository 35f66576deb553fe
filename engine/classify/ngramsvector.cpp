// N-gram vectors: creation from text, merge-based arithmetic, dot products
// and the record.
#include "classify/ngramsvector.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "classify/recordio.h"
#include "foundation/errorroad.h"
#include "foundation/exception.h"
#include "foundation/throwcode.h"

namespace telsor {

namespace {

typedef CSharedBlock<BYTE> Block;

inline float WeightAt(const BYTE* entry) { return LoadF32(entry); }
inline void PutWeight(BYTE* entry, double w) { StoreF32(entry, static_cast<float>(w)); }

inline DWORD LoadBE32(const BYTE* p) {
  return (static_cast<DWORD>(p[0]) << 24) | (static_cast<DWORD>(p[1]) << 16) |
         (static_cast<DWORD>(p[2]) << 8) | p[3];
}

// Compares the n-gram bytes of two entries.
inline int CmpGrams(const BYTE* a, const BYTE* b, size_t n) { return n ? memcmp(a, b, n) : 0; }

// log2(c + 1) as the weight of an n-gram seen c times.
float ComputeOccurrenceWeight(size_t c) {
  return static_cast<float>(log10(static_cast<double>(c) + 1.0) / 0.3010299956639812);
}

// The weights of the counts below 256, made once.
struct COccurrenceWeights {
  float w[256];
  COccurrenceWeights() {
    for (size_t i = 0; i < 256; ++i) w[i] = ComputeOccurrenceWeight(i);
  }
  float operator()(size_t c) const { return c < 256 ? w[c] : ComputeOccurrenceWeight(c); }
};

const COccurrenceWeights& OccurrenceWeights() {
  static const COccurrenceWeights table;
  return table;
}

// What Create does with each byte: keep it, keep a blank, leave it out, or
// look at its neighbour (CR, LF).
enum : BYTE { KEEP, BLANK, OMIT, CR, LF };

struct CByteClasses {
  BYTE cls[256];
  // 1 for a byte of a word of the stop-word search (not a separator). Every
  // such byte is kept as it is, so a word that is not skipped is copied whole.
  BYTE word[256];
  CByteClasses() {
    for (int c = 0; c < 256; ++c) {
      cls[c] = c < 0x20 ? BLANK : IsIgnoredChar(static_cast<BYTE>(c)) ? OMIT : KEEP;
      word[c] = !IsWordSeparator(static_cast<BYTE>(c)) && cls[c] == KEEP;
    }
    cls[0x0D] = CR;
    cls[0x0A] = LF;
  }
};

const CByteClasses& ByteClasses() {
  static const CByteClasses classes;
  return classes;
}

// Writes what byte i of text becomes (nothing, itself or a blank) at o;
// returns the position after it.
inline BYTE* FilterByte(const BYTE* cls, const BYTE* text, size_t len, size_t i, BYTE* o) {
  BYTE c = text[i];
  switch (cls[c]) {
    case KEEP: *o++ = c; break;
    case BLANK: *o++ = ' '; break;
    case OMIT: break;
    case CR:
      if (i + 1 < len && text[i + 1] == '\n') break;
      *o++ = ' ';
      break;
    default:  // LF
      if (i > 0 && text[i - 1] == '\r') break;
      *o++ = ' ';
      break;
  }
  return o;
}

// Filters text[from, to) into out; returns the number of bytes kept.
inline size_t FilterRun(const BYTE* text, size_t len, size_t from, size_t to, BYTE* out) {
  const BYTE* cls = ByteClasses().cls;
  BYTE* o = out;
  for (size_t i = from; i < to; ++i) o = FilterByte(cls, text, len, i, o);
  return static_cast<size_t>(o - out);
}

// The kept characters of the text with the default finder's stop words
// skipped, in one pass: the same words the finder finds, each looked up
// once.
size_t KeptWithoutStopWords(const BYTE* text, size_t len, BYTE* out) {
  const CByteClasses& classes = ByteClasses();
  // The first bytes of the stop words of each length, up to 16.
  const BYTE* starts[17];
  for (DWORD n = 0; n <= 16; ++n) starts[n] = GetStopWordStarts(n);
  const BYTE* word = classes.word;
  BYTE* o = out;
  size_t i = 0;
  while (i < len) {
    if (!word[text[i]]) {
      o = FilterByte(classes.cls, text, len, i++, o);
      continue;
    }
    const size_t start = i;
    do ++i;
    while (i < len && word[text[i]]);
    const size_t length = i - start;
    const BYTE* first = length <= 16 ? starts[length] : nullptr;
    const bool stop = first != nullptr && first[text[start] | 0x20] &&
                      (start + 16 <= len ? IsStopWordPadded(text + start, static_cast<DWORD>(length))
                                         : IsStopWord(text + start, static_cast<DWORD>(length)));
    if (stop) {
      // The stop word and one blank after it are left out.
      if (i < len && (text[i] == ' ' || text[i] == '\t' || text[i] == '\v')) ++i;
      continue;
    }
    memcpy(o, text + start, length);
    o += length;
  }
  return static_cast<size_t>(o - out);
}

// The kept characters of the text, stop words skipped.
size_t KeptCharacters(const BYTE* text, size_t len, PFN_NEXT_STOP_WORD next, BYTE* out) {
  if (next == DefaultNextStopWord) return KeptWithoutStopWords(text, len, out);
  size_t pos = 0;
  size_t kept = 0;
  while (pos < len) {
    size_t stopAt = len;
    size_t stopLength = 0;
    if (next != nullptr) {
      DWORD skip = 0;
      DWORD off = next(reinterpret_cast<const char*>(text) + pos, static_cast<DWORD>(len - pos), skip);
      // A finder that reports nothing to skip would be asked the same
      // question for ever: it ends the stop-word search instead.
      if (off != 0xFFFFFFFFu && off < len - pos && skip != 0) {
        stopAt = pos + off;
        stopLength = std::min<size_t>(skip, len - stopAt);
      } else {
        next = nullptr;
      }
    }
    kept += FilterRun(text, len, pos, stopAt, out + kept);
    pos = stopAt + stopLength;
  }
  return kept;
}

// Least-significant-digit radix sort of 64-bit keys over their low Bits
// bits, Width bits a pass; tmp has room for count keys. The counts of every
// digit are taken in one read of the keys; passes where every key has the
// same digit are skipped. The result ends in keys.
template <unsigned Bits, unsigned Width>
void RadixSort(ULONGLONG* keys, ULONGLONG* tmp, size_t count) {
  constexpr unsigned kPasses = (Bits + Width - 1) / Width;
  constexpr size_t kDigits = size_t(1) << Width;
  constexpr ULONGLONG kMask = kDigits - 1;
  // count is below 2^32: a text's length is a DWORD.
  std::unique_ptr<DWORD[]> table = NewOwnedArray<DWORD>(kPasses * kDigits);
  DWORD* counts = table.get();
  memset(counts, 0, kPasses * kDigits * sizeof *counts);
  for (size_t i = 0; i < count; ++i) {
    const ULONGLONG k = keys[i];
#pragma GCC unroll 8
    for (unsigned p = 0; p < kPasses; ++p) ++counts[p * kDigits + ((k >> (Width * p)) & kMask)];
  }
  ULONGLONG* src = keys;
  ULONGLONG* dst = tmp;
  for (unsigned p = 0; p < kPasses; ++p) {
    DWORD* at = counts + p * kDigits;
    const unsigned shift = Width * p;
    if (at[(src[0] >> shift) & kMask] == count) continue;
    DWORD sum = 0;
    for (size_t d = 0; d < kDigits; ++d) {
      const DWORD c = at[d];
      at[d] = sum;
      sum += c;
    }
    for (size_t i = 0; i < count; ++i) {
      const ULONGLONG k = src[i];
      dst[at[(k >> shift) & kMask]++] = k;
    }
    std::swap(src, dst);
  }
  if (src != keys) memcpy(keys, src, count * sizeof *keys);
}

// Digits of about eleven bits for long texts: fewer passes, at the price of
// counting tables that only pay off over thousands of keys.
constexpr unsigned WideDigit(unsigned bits) { return (bits + (bits + 10) / 11 - 1) / ((bits + 10) / 11); }
const size_t kWideSortFrom = 4096;

// Windows sorted a chunk at a time: the scratch of the sort is fixed, and
// what is kept between chunks is one count per distinct window.
const size_t kKeyChunk = size_t(1) << 20;

// A distinct window and how often it came.
struct tag_KEY_COUNT {
  ULONGLONG key;
  size_t count;
};

// The entries of the grams windows of N bytes of the kept text, for N of 1
// to 8: each window as a number whose order is the bytes' order, sorted
// (a chunk of windows at a time, merged into the runs of equal numbers
// so far), then one entry per run of equal numbers. kept is released once
// read; *data gets the new block, made for the distinct windows alone;
// returns the number of entries. Memory beyond the text is a fixed scratch
// plus a few words per distinct window, whatever the text's length.
template <unsigned N>
size_t KeyedEntries(std::unique_ptr<BYTE[]>& kept, size_t grams, Block::Header** data) {
  const size_t chunk = grams < kKeyChunk ? grams : kKeyChunk;
  std::unique_ptr<ULONGLONG[]> keys = NewOwnedArray<ULONGLONG>(chunk);
  std::unique_ptr<ULONGLONG[]> tmp = NewOwnedArray<ULONGLONG>(chunk > 256 ? chunk : 0);
  std::vector<tag_KEY_COUNT> runs, merged, chunkRuns;
  const ULONGLONG mask = N == 8 ? ~ULONGLONG(0) : (ULONGLONG(1) << (8 * (N % 8))) - 1;
  const BYTE* text = kept.get();
  ULONGLONG key = 0;
  for (size_t i = 0; i + 1 < N; ++i) key = (key << 8) | text[i];
  for (size_t from = 0; from < grams; from += chunk) {
    const size_t count = grams - from < chunk ? grams - from : chunk;
    for (size_t i = 0; i < count; ++i) {
      key = ((key << 8) | text[from + i + N - 1]) & mask;
      keys[i] = key;
    }
    if (count > 256) {
      if (count >= kWideSortFrom)
        RadixSort<8 * N, WideDigit(8 * N)>(keys.get(), tmp.get(), count);
      else
        RadixSort<8 * N, 8>(keys.get(), tmp.get(), count);
    } else {
      std::sort(keys.get(), keys.get() + count);
    }
    WithMemoryException([&] {
      chunkRuns.clear();
      for (size_t i = 0; i < count;) {
        size_t j = i + 1;
        while (j < count && keys[j] == keys[i]) ++j;
        chunkRuns.push_back({keys[i], j - i});
        i = j;
      }
      if (runs.empty()) {
        runs.swap(chunkRuns);
        return;
      }
      merged.clear();
      merged.reserve(runs.size() + chunkRuns.size());
      size_t a = 0, b = 0;
      while (a < runs.size() || b < chunkRuns.size()) {
        if (b == chunkRuns.size() || (a < runs.size() && runs[a].key < chunkRuns[b].key)) {
          merged.push_back(runs[a++]);
        } else if (a == runs.size() || chunkRuns[b].key < runs[a].key) {
          merged.push_back(chunkRuns[b++]);
        } else {
          merged.push_back({runs[a].key, runs[a].count + chunkRuns[b].count});
          ++a;
          ++b;
        }
      }
      runs.swap(merged);
    });
  }
  kept.reset();
  keys.reset();
  tmp.reset();
  WithMemoryException([&] {
    std::vector<tag_KEY_COUNT>().swap(merged);
    std::vector<tag_KEY_COUNT>().swap(chunkRuns);
  });
  const size_t distinct = runs.size();
  if (distinct > 0xFFFFFFFFu) AfxThrowMemoryException();
  const size_t entrySize = N + 4u;
  *data = Block::Alloc(distinct * entrySize);
  BYTE* out = Block::Items(*data);
  const COccurrenceWeights& weight = OccurrenceWeights();
  for (const tag_KEY_COUNT& run : runs) {
    PutWeight(out, weight(run.count));
    StoreNGramKey<N>(out + 4, run.key);
    out += entrySize;
  }
  (*data)->nCount = distinct * entrySize;
  return distinct;
}

// A window of the kept text and its sort key.
struct tag_WINDOW_KEY {
  ULONGLONG key;
  DWORD start;
};

// Sorts the k - n + 1 windows of n bytes of text by their bytes: order gets
// them sorted, each with a key that is equal exactly for equal windows.
// Ranks of windows of length 1, 2, 4 ... are doubled from pairs of ranks;
// the last step pairs two overlapping windows of the largest power of two
// not above n, which together cover the n bytes in the same order. rank
// has room for k entries; the number of windows is returned.
size_t RankWindows(const BYTE* text, size_t k, size_t n, DWORD* rank, tag_WINDOW_KEY* order) {
  for (size_t i = 0; i < k; ++i) rank[i] = text[i];
  size_t len = 1;  // rank[i] ranks the window [i, i + len)
  for (;;) {
    const size_t shift = len * 2 <= n ? len : n - len;
    const size_t count = k - (len + shift) + 1;
    for (size_t i = 0; i < count; ++i)
      order[i] = {(static_cast<ULONGLONG>(rank[i]) << 32) | rank[i + shift], static_cast<DWORD>(i)};
    std::sort(order, order + count,
              [](const tag_WINDOW_KEY& a, const tag_WINDOW_KEY& b) { return a.key < b.key; });
    len += shift;
    if (len == n) return count;
    DWORD r = 0;
    for (size_t i = 0; i < count; ++i) {
      if (i > 0 && order[i].key != order[i - 1].key) ++r;
      rank[order[i].start] = r;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// CTextVector

CTextVector::~CTextVector() { Block::Release(m_pData); }

CTextVector::CTextVector(const CTextVector& other) : m_pData(other.m_pData) { Block::AddRef(m_pData); }

CTextVector& CTextVector::operator=(const CTextVector& other) {
  if (m_pData == other.m_pData) return *this;
  Block::AddRef(other.m_pData);
  Block::Release(m_pData);
  m_pData = other.m_pData;
  return *this;
}

CTextVector& CTextVector::operator*=(double) { return *this; }

void* CTextVector::operator new(size_t size) {
  void* p = ::operator new(size, std::nothrow);
  if (p == nullptr) AfxThrowMemoryException();
  return p;
}

void CTextVector::operator delete(void* p) { ::operator delete(p); }

void CTextVector::ReleaseData() {
  Block::Release(m_pData);
  m_pData = Block::Nil();
}

void CTextVector::AttachData(Block::Header* data) {
  Block::Release(m_pData);
  m_pData = data;
}

void CTextVector::PrepareWrite(size_t bytes) {
  if (!Block::IsShared(m_pData) && !Block::IsNil(m_pData) && m_pData->nCapacity >= bytes) return;
  size_t room = bytes;
  // Growing an unshared block doubles it, so entry-by-entry insertion stays linear.
  if (!Block::IsShared(m_pData) && !Block::IsNil(m_pData) && room < m_pData->nCapacity * 2)
    room = m_pData->nCapacity * 2;
  Block::Header* fresh = Block::Alloc(room ? room : 1);
  fresh->nCount = m_pData->nCount;
  if (m_pData->nCount) memcpy(Block::Items(fresh), Block::Items(m_pData), m_pData->nCount);
  Block::Release(m_pData);
  m_pData = fresh;
}

// ---------------------------------------------------------------------------
// CNGramsVector: construction and content

CNGramsVector::CNGramsVector(WORD n) : m_dwCount(0), m_wN(n) {}

CNGramsVector::CNGramsVector(WORD n, const char* text, DWORD length, PFN_NEXT_STOP_WORD nextStopWord)
    : m_dwCount(0), m_wN(n) {
  Create(n, text, length, nextStopWord);
}

CNGramsVector::CNGramsVector(const CNGramsVector& other)
    : CTextVector(other), m_dwCount(other.m_dwCount), m_wN(other.m_wN) {}

CNGramsVector& CNGramsVector::operator=(const CNGramsVector& other) {
  CTextVector::operator=(other);
  m_dwCount = other.m_dwCount;
  m_wN = other.m_wN;
  return *this;
}

CNGramsVector::~CNGramsVector() {}

void CNGramsVector::Empty() {
  ReleaseData();
  m_dwCount = 0;
}

WORD CNGramsVector::ResetLenNGrams(WORD n) {
  WORD old = m_wN;
  Empty();
  m_wN = n;
  return old;
}

void CNGramsVector::Create(WORD n, const char* text, DWORD length, PFN_NEXT_STOP_WORD nextStopWord) {
  Empty();
  m_wN = n;
  if (text == nullptr || n == 0) return;
  size_t len = length == 0xFFFFFFFFu ? strnlen(text, 0xFFFFFFFEu) : length;
  if (n > len) return;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
  std::unique_ptr<BYTE[]> kept = NewOwnedArray<BYTE>(len);
  size_t k = KeptCharacters(bytes, len, nextStopWord, kept.get());
  if (k < n) return;
  const size_t grams = k - n + 1;
  const size_t entrySize = n + 4u;

  // Sorted n-grams, then one entry per run of equal ones.
  if (n <= 8) {
    Block::Header* data = nullptr;
    size_t distinct = 0;
    switch (n) {
      case 1: distinct = KeyedEntries<1>(kept, grams, &data); break;
      case 2: distinct = KeyedEntries<2>(kept, grams, &data); break;
      case 3: distinct = KeyedEntries<3>(kept, grams, &data); break;
      case 4: distinct = KeyedEntries<4>(kept, grams, &data); break;
      case 5: distinct = KeyedEntries<5>(kept, grams, &data); break;
      case 6: distinct = KeyedEntries<6>(kept, grams, &data); break;
      case 7: distinct = KeyedEntries<7>(kept, grams, &data); break;
      default: distinct = KeyedEntries<8>(kept, grams, &data); break;
    }
    AttachData(data);
    m_dwCount = static_cast<DWORD>(distinct);
    return;
  }

  // Longer n-grams: ranked by prefix doubling, so that the cost does not
  // grow with n times the length of repeated runs.
  std::unique_ptr<DWORD[]> rank = NewOwnedArray<DWORD>(k);
  std::unique_ptr<tag_WINDOW_KEY[]> order = NewOwnedArray<tag_WINDOW_KEY>(k);
  size_t windows = RankWindows(kept.get(), k, n, rank.get(), order.get());
  size_t distinct = 1;
  for (size_t i = 1; i < windows; ++i) distinct += order[i].key != order[i - 1].key;
  Block::Header* data = Block::Alloc(distinct * entrySize);
  BYTE* out = Block::Items(data);
  for (size_t i = 0; i < windows;) {
    size_t j = i + 1;
    while (j < windows && order[j].key == order[i].key) ++j;
    PutWeight(out, OccurrenceWeights()(j - i));
    memcpy(out + 4, kept.get() + order[i].start, n);
    out += entrySize;
    i = j;
  }
  AttachData(data);
  m_dwCount = static_cast<DWORD>(distinct);
}

double CNGramsVector::GetWeight(DWORD i) const {
  if (i >= m_dwCount) return 0.0;
  return WeightAt(GetEntries() + static_cast<size_t>(i) * GetElemSize());
}

const BYTE* CNGramsVector::GetEntry(DWORD i) const {
  if (i >= m_dwCount) return nullptr;
  return GetEntries() + static_cast<size_t>(i) * GetElemSize() + 4;
}

void CNGramsVector::Reserve(DWORD k) {
  size_t bytes = static_cast<size_t>(k) * GetElemSize();
  if (bytes > m_pData->nCount) PrepareWrite(bytes);
}

void CNGramsVector::InsertEntry(double weight, const BYTE* ngram) {
  const size_t es = GetElemSize();
  const size_t n = m_wN;
  const size_t used = static_cast<size_t>(m_dwCount) * es;
  if (m_dwCount > 0) {
    const BYTE* last = GetEntries() + used - es;
    int c = CmpGrams(ngram, last + 4, n);
    if (c <= 0) {
      const BYTE* end = GetEntries() + used;
      const BYTE* at = c == 0 ? last : EqualOrUpperBound(ngram, GetEntries(), end, GetElemSize());
      size_t offset = static_cast<size_t>(at - GetEntries());
      if (at != end && CmpGrams(ngram, at + 4, n) == 0) {
        PrepareWrite(used);
        PutWeight(Block::Items(m_pData) + offset, weight);
        return;
      }
      if (m_dwCount == 0xFFFFFFFFu) AfxThrowMemoryException();
      PrepareWrite(used + es);
      BYTE* p = Block::Items(m_pData) + offset;
      memmove(p + es, p, used - offset);
      PutWeight(p, weight);
      memcpy(p + 4, ngram, n);
      m_pData->nCount = used + es;
      ++m_dwCount;
      return;
    }
  }
  if (m_dwCount == 0xFFFFFFFFu) AfxThrowMemoryException();
  PrepareWrite(used + es);
  BYTE* p = Block::Items(m_pData) + used;
  PutWeight(p, weight);
  if (n) memcpy(p + 4, ngram, n);
  m_pData->nCount = used + es;
  ++m_dwCount;
}

void CNGramsVector::RemoveEntry(DWORD i) {
  if (i >= m_dwCount) return;
  const size_t es = GetElemSize();
  const size_t used = static_cast<size_t>(m_dwCount) * es;
  PrepareWrite(used);
  BYTE* p = Block::Items(m_pData) + static_cast<size_t>(i) * es;
  memmove(p, p + es, used - (static_cast<size_t>(i) + 1) * es);
  --m_dwCount;
  m_pData->nCount = used - es;
  if (m_dwCount == 0) ReleaseData();
}

void CNGramsVector::Pack() {
  if (m_dwCount == 0) return;
  const size_t es = GetElemSize();
  const size_t used = static_cast<size_t>(m_dwCount) * es;
  PrepareWrite(used);
  BYTE* items = Block::Items(m_pData);
  size_t kept = 0;
  for (size_t i = 0; i < m_dwCount; ++i) {
    const BYTE* e = items + i * es;
    if (WeightAt(e) == 0.0f) continue;
    if (kept != i) memmove(items + kept * es, e, es);
    ++kept;
  }
  m_dwCount = static_cast<DWORD>(kept);
  m_pData->nCount = kept * es;
  if (kept == 0) ReleaseData();
}

// ---------------------------------------------------------------------------
// The merge walk and its callbacks

void CNGramsVector::EntryIterator(const CNGramsVector& a, const CNGramsVector& b,
                                  PFN_ENTRY_CALLBACK callback, void* context) {
  // Entries of another length cannot be walked with a's entry size.
  if (a.m_wN != b.m_wN && a.m_dwCount != 0 && b.m_dwCount != 0)
    ThrowCode(static_cast<DWORD>(E_INVALIDARG));
  const size_t es = a.GetElemSize();
  const size_t n = a.m_wN;
  const BYTE* pa = a.GetEntries();
  const BYTE* ea = pa + static_cast<size_t>(a.m_dwCount) * es;
  const BYTE* pb = b.GetEntries();
  const BYTE* eb = pb + static_cast<size_t>(b.m_dwCount) * es;
  while (pa < ea && pb < eb) {
    int c = CmpGrams(pa + 4, pb + 4, n);
    if (c == 0) {
      callback(pa, 1, pb, 1, context);
      pa += es;
      pb += es;
    } else if (c > 0) {
      const BYTE* run = pb;
      DWORD k = 0;
      do {
        pb += es;
        ++k;
      } while (pb < eb && CmpGrams(pb + 4, pa + 4, n) < 0);
      callback(nullptr, 0, run, k, context);
    } else {
      const BYTE* run = pa;
      DWORD k = 0;
      do {
        pa += es;
        ++k;
      } while (pa < ea && CmpGrams(pa + 4, pb + 4, n) < 0);
      callback(run, k, nullptr, 0, context);
    }
  }
  if (pa < ea) callback(pa, static_cast<DWORD>((ea - pa) / es), nullptr, 0, context);
  if (pb < eb) callback(nullptr, 0, pb, static_cast<DWORD>((eb - pb) / es), context);
}

namespace {

struct CSumContext {
  size_t entrySize;
  double sign;    // +1 sum, -1 difference
  size_t count;   // counting pass
  BYTE* out;      // writing pass, or null while counting
  double value;   // dot products and distances
  bool equal;
};

inline float Combined(float a, float b, double sign) {
  return static_cast<float>(static_cast<double>(a) + sign * static_cast<double>(b));
}

void AccumulateDotProduct(const BYTE* a, DWORD, const BYTE* b, DWORD, void* context) {
  if (a == nullptr || b == nullptr) return;
  static_cast<CSumContext*>(context)->value +=
      static_cast<double>(WeightAt(a)) * static_cast<double>(WeightAt(b));
}

void AccumulateSquaredDistance(const BYTE* a, DWORD aRun, const BYTE* b, DWORD bRun, void* context) {
  CSumContext* c = static_cast<CSumContext*>(context);
  if (a != nullptr && b != nullptr) {
    double d = static_cast<double>(WeightAt(a)) - static_cast<double>(WeightAt(b));
    c->value += d * d;
    return;
  }
  const BYTE* run = a ? a : b;
  DWORD k = a ? aRun : bRun;
  for (DWORD i = 0; i < k; ++i) {
    double w = WeightAt(run + i * c->entrySize);
    c->value += w * w;
  }
}

void CompareEntriesEqual(const BYTE* a, DWORD, const BYTE* b, DWORD, void* context) {
  CSumContext* c = static_cast<CSumContext*>(context);
  if (a == nullptr || b == nullptr || WeightAt(a) != WeightAt(b)) c->equal = false;
}

// Counting and writing passes of sums and differences: a common n-gram
// gives a's entry with wa +/- wb when that is not 0; a run of a is copied; a
// run of b is copied, its weights negated for a difference.
void CombineEntries(const BYTE* a, DWORD aRun, const BYTE* b, DWORD bRun, void* context) {
  CSumContext* c = static_cast<CSumContext*>(context);
  const size_t es = c->entrySize;
  if (a != nullptr && b != nullptr) {
    float w = Combined(WeightAt(a), WeightAt(b), c->sign);
    if (w == 0.0f) return;
    ++c->count;
    if (c->out) {
      memcpy(c->out, a, es);
      StoreF32(c->out, w);
      c->out += es;
    }
    return;
  }
  DWORD k = a ? aRun : bRun;
  c->count += k;
  if (c->out == nullptr) return;
  memcpy(c->out, a ? a : b, k * es);
  if (b != nullptr && c->sign < 0)
    for (DWORD i = 0; i < k; ++i) c->out[i * es + 3] ^= 0x80;  // the sign bit of the f32
  c->out += k * es;
}

}  // namespace

// ---------------------------------------------------------------------------
// Arithmetic

CNGramsVector& CNGramsVector::operator*=(double f) {
  if (m_dwCount == 0) return *this;
  const size_t es = GetElemSize();
  PrepareWrite(static_cast<size_t>(m_dwCount) * es);
  BYTE* items = Block::Items(m_pData);
  bool zero = false;
  for (size_t i = 0; i < m_dwCount; ++i) {
    BYTE* e = items + i * es;
    PutWeight(e, static_cast<double>(WeightAt(e)) * f);
    zero |= WeightAt(e) == 0.0f;
  }
  if (zero) Pack();
  return *this;
}

void CNGramsVector::Combine(const CNGramsVector& v, int sign) {
  if (v.m_dwCount == 0) return;
  if (&v == this) {
    // The walk reads both operands while the result is written elsewhere;
    // a copy keeps the operand while this vector's block is replaced.
    CNGramsVector copy(v);
    Combine(copy, sign);
    return;
  }
  if (v.m_wN != m_wN) ThrowCode(static_cast<DWORD>(E_INVALIDARG));
  CSumContext c = {GetElemSize(), static_cast<double>(sign), 0, nullptr, 0.0, true};
  EntryIterator(*this, v, CombineEntries, &c);
  if (c.count > 0xFFFFFFFFu) AfxThrowMemoryException();
  if (c.count == 0) {
    Empty();
    return;
  }
  Block::Header* data = Block::Alloc(c.count * c.entrySize);
  size_t count = c.count;
  c.count = 0;
  c.out = Block::Items(data);
  EntryIterator(*this, v, CombineEntries, &c);
  AttachData(data);
  m_dwCount = static_cast<DWORD>(count);
}

CNGramsVector& CNGramsVector::operator+=(const CNGramsVector& v) {
  Combine(v, +1);
  return *this;
}

CNGramsVector& CNGramsVector::operator-=(const CNGramsVector& v) {
  Combine(v, -1);
  return *this;
}

CNGramsVector operator+(const CNGramsVector& a, const CNGramsVector& b) {
  CNGramsVector r(a);
  r += b;
  return r;
}

CNGramsVector operator-(const CNGramsVector& a, const CNGramsVector& b) {
  CNGramsVector r(a);
  r -= b;
  return r;
}

bool operator==(const CNGramsVector& a, const CNGramsVector& b) {
  if (a.m_dwCount != b.m_dwCount) return false;
  if (a.m_dwCount == 0) return true;
  if (a.m_wN != b.m_wN) return false;
  CSumContext c = {a.GetElemSize(), 1.0, 0, nullptr, 0.0, true};
  CNGramsVector::EntryIterator(a, b, CompareEntriesEqual, &c);
  return c.equal;
}

// ---------------------------------------------------------------------------
// Dot products

const CNGramsVector* CNGramsVector::SameKind(const CTextVector& v) const {
  const CNGramsVector* g = dynamic_cast<const CNGramsVector*>(&v);
  if (g == nullptr || g->m_wN != m_wN) return nullptr;
  return g;
}

double CNGramsVector::DotProduct() const {
  const size_t es = GetElemSize();
  const BYTE* e = GetEntries();
  double sum = 0.0;
  for (size_t i = 0; i < m_dwCount; ++i, e += es) {
    double w = WeightAt(e);
    sum += w * w;
  }
  return sum;
}

double CNGramsVector::DotProduct(const CTextVector& v) const {
  const CNGramsVector* b = SameKind(v);
  if (b == nullptr || m_dwCount == 0 || b->m_dwCount == 0) return 0.0;
  if (m_wN > 3) {
    const size_t es = GetElemSize();
    return QuickDotProduct(GetEntries(), GetEntries() + m_dwCount * es, b->GetEntries(),
                           b->GetEntries() + b->m_dwCount * es, m_wN);
  }
  CSumContext c = {GetElemSize(), 1.0, 0, nullptr, 0.0, true};
  EntryIterator(*this, *b, AccumulateDotProduct, &c);
  return c.value;
}

double CNGramsVector::DotProductThisMinusVec(const CTextVector& v) const {
  const CNGramsVector* b = SameKind(v);
  if (b == nullptr) {
    // Nothing in common: the squared lengths add up.
    return DotProduct() + v.DotProduct();
  }
  CSumContext c = {GetElemSize(), 1.0, 0, nullptr, 0.0, true};
  EntryIterator(*this, *b, AccumulateSquaredDistance, &c);
  return c.value;
}

double CNGramsVector::GaussianKernel(const CTextVector& v, double p) const {
  double d = DotProductThisMinusVec(v) / p;
  return exp(-0.5 * d * d);
}

namespace {

// Compares the n-gram of an entry with a target n-gram, four bytes at a time
// first.
inline int CmpKeyed(const BYTE* gram, DWORD key, const BYTE* target, DWORD targetKey, size_t n) {
  if (key != targetKey) return key < targetKey ? -1 : 1;
  return CmpGrams(gram + 4, target + 4, n - 4);
}

// The first index in (from, count) for which below(i) is false, found by
// doubling steps and then bisection; count when there is none. below is
// true from from up to that index and false after it.
template <class Below>
size_t Gallop(size_t from, size_t count, Below below) {
  size_t lo = from;  // known below
  size_t step = 1;
  size_t hi = from + step;
  while (hi < count && below(hi)) {
    lo = hi;
    step *= 2;
    hi = from + step;
  }
  if (hi > count) hi = count;
  // Now lo is below and hi is not (or is the end).
  while (hi - lo > 1) {
    size_t mid = lo + (hi - lo) / 2;
    if (below(mid))
      lo = mid;
    else
      hi = mid;
  }
  return hi;
}

// The first index in (from, count) whose n-gram is not below target.
size_t GallopTo(const BYTE* entries, size_t es, size_t from, size_t count, const BYTE* target,
                size_t n) {
  const DWORD tk = LoadBE32(target);
  return Gallop(from, count, [&](size_t i) {
    const BYTE* g = entries + i * es + 4;
    return CmpKeyed(g, LoadBE32(g), target, tk, n) < 0;
  });
}

// The whole n-gram of an entry as one big-endian integer, for n of 4 to 8:
// integer order is then the byte order the plain merge compares by.
template <size_t N>
inline ULONGLONG LoadGramKey(const BYTE* p) {
  ULONGLONG k = LoadBE32(p);
  for (size_t i = 4; i < N; ++i) k = (k << 8) | p[i];
  return k;
}

// The merge walk of QuickDotProduct with whole-gram integer keys: the same
// entries meet, and their products are added in the same order.
template <size_t N>
double KeyedDotProduct(const BYTE* A, size_t ca, const BYTE* B, size_t cb) {
  const size_t es = N + 4u;
  const bool gallop = cb / ca >= 4;
  double sum = 0.0;
  size_t i = 0;
  size_t j = 0;
  const BYTE* pa = A + 4;
  const BYTE* pb = B + 4;
  ULONGLONG ka = LoadGramKey<N>(pa);
  ULONGLONG kb = LoadGramKey<N>(pb);
  for (;;) {
    if (ka < kb) {
      if (++i == ca) break;
      pa += es;
      ka = LoadGramKey<N>(pa);
    } else if (ka > kb) {
      auto below = [&](size_t k) { return LoadGramKey<N>(B + k * es + 4) < ka; };
      j = gallop ? Gallop(j, cb, below) : j + 1;
      if (j == cb) break;
      pb = B + j * es + 4;
      kb = LoadGramKey<N>(pb);
    } else {
      sum += static_cast<double>(WeightAt(pa - 4)) * static_cast<double>(WeightAt(pb - 4));
      if (++i == ca || ++j == cb) break;
      pa += es;
      pb += es;
      ka = LoadGramKey<N>(pa);
      kb = LoadGramKey<N>(pb);
    }
  }
  return sum;
}

}  // namespace

double QuickDotProduct(const BYTE* aBegin, const BYTE* aEnd, const BYTE* bBegin, const BYTE* bEnd,
                       WORD n) {
  const size_t es = n + 4u;
  size_t ca = static_cast<size_t>(aEnd - aBegin) / es;
  size_t cb = static_cast<size_t>(bEnd - bBegin) / es;
  if (ca == 0 || cb == 0) return 0.0;
  const BYTE* A = aBegin;
  const BYTE* B = bBegin;
  if (ca > cb) {
    std::swap(A, B);
    std::swap(ca, cb);
  }
  double sum = 0.0;
  if (n < 4) {
    // Too short for the four-byte keys: the plain merge.
    while (ca > 0 && cb > 0) {
      int c = CmpGrams(A + 4, B + 4, n);
      if (c == 0) sum += static_cast<double>(WeightAt(A)) * static_cast<double>(WeightAt(B));
      if (c <= 0) A += es, --ca;
      if (c >= 0) B += es, --cb;
    }
    return sum;
  }
  switch (n) {
    case 4:
      return KeyedDotProduct<4>(A, ca, B, cb);
    case 5:
      return KeyedDotProduct<5>(A, ca, B, cb);
    case 6:
      return KeyedDotProduct<6>(A, ca, B, cb);
    case 7:
      return KeyedDotProduct<7>(A, ca, B, cb);
    case 8:
      return KeyedDotProduct<8>(A, ca, B, cb);
    default:
      break;
  }
  const bool gallop = cb / ca >= 4;
  size_t i = 0;
  size_t j = 0;
  const BYTE* pa = A + 4;
  const BYTE* pb = B + 4;
  DWORD ka = LoadBE32(pa);
  DWORD kb = LoadBE32(pb);
  for (;;) {
    int c = CmpKeyed(pa, ka, pb, kb, n);
    if (c < 0) {
      if (++i == ca) break;
      pa += es;
      ka = LoadBE32(pa);
    } else if (c > 0) {
      j = gallop ? GallopTo(B, es, j, cb, pa, n) : j + 1;
      if (j == cb) break;
      pb = B + j * es + 4;
      kb = LoadBE32(pb);
    } else {
      // Products in ascending n-gram order, as the plain merge adds them.
      sum += static_cast<double>(WeightAt(pa - 4)) * static_cast<double>(WeightAt(pb - 4));
      if (++i == ca || ++j == cb) break;
      pa += es;
      pb += es;
      ka = LoadBE32(pa);
      kb = LoadBE32(pb);
    }
  }
  return sum;
}

int CmpNGramsToken(const void* a, const void* b, void* n) {
  return CmpGrams(static_cast<const BYTE*>(a), static_cast<const BYTE*>(b), *static_cast<WORD*>(n));
}

const BYTE* EqualOrUpperBound(const BYTE* key, const BYTE* begin, const BYTE* end, DWORD entrySize) {
  const size_t n = entrySize - 4u;
  size_t lo = 0;
  size_t hi = static_cast<size_t>(end - begin) / entrySize;
  while (lo < hi) {
    size_t mid = lo + (hi - lo) / 2;
    if (CmpGrams(begin + mid * entrySize + 4, key, n) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return begin + lo * entrySize;
}

namespace {

// Whether count entries of n-grams of N bytes (1 to 8) are in strictly
// ascending order, compared as whole-gram integer keys.
template <unsigned N>
bool KeysAscending(const BYTE* items, size_t count) {
  const size_t es = N + 4u;
  ULONGLONG previous = 0;
  for (size_t i = 0; i < count; ++i) {
    const ULONGLONG key = NGramKeyOf<N>(items + i * es + 4);
    if (i > 0 && key <= previous) return false;
    previous = key;
  }
  return true;
}

}  // namespace

bool StrictlyAscending(const BYTE* items, size_t count, WORD n) {
  switch (n) {
    case 1: return KeysAscending<1>(items, count);
    case 2: return KeysAscending<2>(items, count);
    case 3: return KeysAscending<3>(items, count);
    case 4: return KeysAscending<4>(items, count);
    case 5: return KeysAscending<5>(items, count);
    case 6: return KeysAscending<6>(items, count);
    case 7: return KeysAscending<7>(items, count);
    case 8: return KeysAscending<8>(items, count);
    default: break;
  }
  const size_t es = n + 4u;
  for (size_t i = 1; i < count; ++i)
    if (CmpGrams(items + (i - 1) * es + 4, items + i * es + 4, n) >= 0) return false;
  return true;
}

bool operator<(const tag_ELEM_INDEXES& a, const tag_ELEM_INDEXES& b) {
  DWORD aHigh = std::max(a.dwFirst, a.dwSecond), aLow = std::min(a.dwFirst, a.dwSecond);
  DWORD bHigh = std::max(b.dwFirst, b.dwSecond), bLow = std::min(b.dwFirst, b.dwSecond);
  if (aHigh != bHigh) return aHigh < bHigh;
  return aLow < bLow;
}

// ---------------------------------------------------------------------------
// The record

HRESULT CNGramsVector::Serialize(IStream* stream, int storing) {
  if (stream == nullptr) return E_POINTER;
  if (storing) {
    HRESULT hr = WriteU16(stream, m_wN);
    if (FAILED(hr)) return hr;
    hr = WriteU32(stream, GetElemSize());
    if (FAILED(hr)) return hr;
    hr = WriteU32(stream, m_dwCount);
    if (FAILED(hr)) return hr;
    if (m_dwCount == 0) return hr;
    return WriteBytes(stream, GetEntries(), static_cast<size_t>(m_dwCount) * GetElemSize());
  }
  Empty();
  WORD n = 0;
  DWORD entrySize = 0;
  DWORD count = 0;
  HRESULT hr = ReadU16(stream, &n);
  if (hr == S_OK) hr = ReadU32(stream, &entrySize);
  if (hr == S_OK) hr = ReadU32(stream, &count);
  if (hr != S_OK) return hr;
  if (entrySize != n + 4u) return E_FAIL;
  // Every operation on two vectors relies on strictly ascending n-grams;
  // they are checked as the entries arrive, so that bytes which are no
  // vector (a run of zeros behind a huge count) end the read at once.
  size_t checked = 0;
  auto ascending = [&](const BYTE* items, size_t have) {
    const size_t whole = have / entrySize;
    const size_t from = checked == 0 ? 0 : checked - 1;
    if (whole > from + 1 && !StrictlyAscending(items + from * entrySize, whole - from, n)) return false;
    checked = whole;
    return true;
  };
  Block::Header* data;
  hr = Block::ReadNew(stream, static_cast<size_t>(count) * entrySize, &data, E_FAIL, ascending);
  if (hr != S_OK) return hr;
  AttachData(data);
  m_dwCount = count;
  m_wN = n;
  return S_OK;
}

}  // namespace telsor
