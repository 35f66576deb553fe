// N-gram vectors: a text as the set of its overlapping byte n-grams, each
// weighted log2(c + 1) for c occurrences, held as one packed array sorted by
// n-gram so that two vectors are joined in a single merge pass.
//
//   IStream* stream = nullptr;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
//   if (FAILED(hr)) return hr;
//   static const char text[] = "cheap pills, cheap pills now";
//   CNGramsVector v(5, text, sizeof text - 1, DefaultNextStopWord);   // 5-grams, stop words out
//   CNGramsVector w(5, "cheap watches", 13, DefaultNextStopWord);
//   double d = v.DotProduct();                    // squared length
//   v *= d > 0 ? 1 / std::sqrt(d) : 1.0;          // unit length (callers normalise)
//   double s = w.DotProduct(v);                   // sum of wa x wb over common n-grams
//   hr = v.Serialize(stream, 1);                  // the record below
//   stream->Release();
//
// Entries: GetElemSize() = n + 4 bytes each, {f32 weight, little-endian;
// n n-gram bytes}, in ascending unsigned byte order of the n-grams, no
// n-gram twice. Every operation on two vectors relies on that order.
//
// Making a vector from text (Create): stop words found by the finder are
// skipped (with one following blank, tab or vertical tab); CR LF pairs are
// left out; any other byte below 0x20 becomes a blank; the twelve characters
// [ ] ( ) , ` ' " \ ^ ~ * are left out; everything else is kept as it is
// (no case folding, blanks not collapsed). Every window of n kept characters
// is an n-gram.
//
// Record (little-endian): u16 n, u32 entry size (n + 4), u32 count, then the
// count entries as stored. Loading checks the entry size and that the
// entries are in strictly ascending n-gram order (else E_FAIL, a stream's own
// failure as is, E_OUTOFMEMORY); the entries' block grows as the bytes
// arrive. After a failure the vector is empty with its old n.
//
// Vectors of different n-gram lengths share no n-gram: their dot product is
// 0 and they are never equal; adding or subtracting one to a vector of
// another length throws E_INVALIDARG (a bare code). Out of memory throws the
// engine's CMemoryException*.
//
// Copies share the entry block until one of them changes (copy-on-write,
// atomic counts), so copies may live on different threads; one vector must
// not be changed on two threads at once. The text tables (separators,
// ignored characters, stop words) are built once and only read afterwards.
#ifndef TELSOR_CLASSIFY_NGRAMSVECTOR_H
#define TELSOR_CLASSIFY_NGRAMSVECTOR_H

#include "classify/sharedblock.h"
#include "foundation/istream.h"
#include "foundation/wintypes.h"

namespace telsor {

// Finds the first stop word in text[0, length): returns its offset, or
// 0xFFFFFFFF when there is none, and sets stopLength to the number of bytes
// to skip there.
typedef DWORD (*PFN_NEXT_STOP_WORD)(const char* text, DWORD length, DWORD& stopLength);

// The abstract text vector: a byte buffer shared between copies.
class CTextVector {
 public:
  virtual ~CTextVector();
  // Multiplies every weight by f; the base changes nothing.
  virtual CTextVector& operator*=(double f);
  [[nodiscard]] virtual HRESULT Serialize(IStream* stream, int storing) = 0;
  // The squared length.
  virtual double DotProduct() const = 0;
  virtual double DotProduct(const CTextVector& v) const = 0;
  // exp(-0.5 x (D / p)^2), D the squared distance to v.
  virtual double GaussianKernel(const CTextVector& v, double p) const = 0;
  // The squared Euclidean distance to v.
  virtual double DotProductThisMinusVec(const CTextVector& v) const = 0;

  // Text vectors come from the ordinary heap; a failed allocation throws the
  // engine's out-of-memory exception, as for CObj.
  static void* operator new(size_t size);
  static void operator delete(void* p);

 protected:
  typedef CSharedBlock<BYTE> Block;

  CTextVector() : m_pData(Block::Nil()) {}
  CTextVector(const CTextVector& other);
  CTextVector& operator=(const CTextVector& other);

  // Drops the buffer (back to the shared empty one).
  void ReleaseData();
  // Makes the buffer unshared with room for at least bytes bytes, keeping
  // its content (the count of bytes in use does not change).
  void PrepareWrite(size_t bytes);
  // Replaces the buffer by a block that this vector now holds.
  void AttachData(Block::Header* data);

  Block::Header* m_pData;
};

class CNGramsVector : public CTextVector {
 public:
  explicit CNGramsVector(WORD n);
  // An empty vector, then Create with the same arguments.
  CNGramsVector(WORD n, const char* text, DWORD length, PFN_NEXT_STOP_WORD nextStopWord);
  CNGramsVector(const CNGramsVector& other);
  CNGramsVector& operator=(const CNGramsVector& other);
  ~CNGramsVector() override;

  // Replaces the content by the n-gram vector of the text (length
  // 0xFFFFFFFF: NUL-terminated). A null text, n = 0 or fewer than n kept
  // characters give an empty vector. nextStopWord may be null.
  void Create(WORD n, const char* text, DWORD length, PFN_NEXT_STOP_WORD nextStopWord);
  // Drop all entries; n stays.
  void Empty();
  void CleanUp() { Empty(); }
  // Drops all entries, sets n and returns the previous n.
  WORD ResetLenNGrams(WORD n);

  DWORD GetCount() const { return m_dwCount; }
  WORD GetLenNGrams() const { return m_wN; }
  DWORD GetElemSize() const { return m_wN + 4u; }
  // Weight of entry i, 0.0 when i is not below the count.
  double GetWeight(DWORD i) const;
  // The n-gram bytes of entry i, null when i is not below the count.
  const BYTE* GetEntry(DWORD i) const;
  // The packed entries (GetCount() x GetElemSize() bytes).
  const BYTE* GetEntries() const { return Block::Items(m_pData); }

  // Sets the weight (as f32) of the entry with this n-gram (n bytes), or
  // inserts a new entry at its sorted place.
  void InsertEntry(double weight, const BYTE* ngram);
  // Removes entry i; nothing when i is out of range.
  void RemoveEntry(DWORD i);
  // Room for k entries; the content does not change.
  void Reserve(DWORD k);
  // Removes every entry of weight 0.
  void Pack();

  // Multiplies every weight by f (stored as f32), then drops zero weights.
  CNGramsVector& operator*=(double f) override;
  CNGramsVector& operator+=(const CNGramsVector& v);
  CNGramsVector& operator-=(const CNGramsVector& v);

  double DotProduct() const override;
  double DotProduct(const CTextVector& v) const override;
  double GaussianKernel(const CTextVector& v, double p) const override;
  double DotProductThisMinusVec(const CTextVector& v) const override;

  [[nodiscard]] HRESULT Serialize(IStream* stream, int storing) override;

  // The merge walk over two sorted vectors. The callback receives (a entries,
  // a run length, b entries, b run length, context): (a, 1, b, 1) for a
  // common n-gram, (a, k, null, 0) or (null, 0, b, k) for a run of k entries
  // present on one side only. Entry sizes are a's.
  typedef void (*PFN_ENTRY_CALLBACK)(const BYTE* a, DWORD aRun, const BYTE* b, DWORD bRun,
                                     void* context);
  static void EntryIterator(const CNGramsVector& a, const CNGramsVector& b,
                            PFN_ENTRY_CALLBACK callback, void* context);

  friend bool operator==(const CNGramsVector& a, const CNGramsVector& b);

 private:
  // The sum (sign +1) or difference (-1) of this and v, as a new block.
  void Combine(const CNGramsVector& v, int sign);
  // Compatible operand for a dot product: v as an n-gram vector of this n,
  // or null.
  const CNGramsVector* SameKind(const CTextVector& v) const;

  DWORD m_dwCount;
  WORD m_wN;
};

CNGramsVector operator+(const CNGramsVector& a, const CNGramsVector& b);
CNGramsVector operator-(const CNGramsVector& a, const CNGramsVector& b);
bool operator==(const CNGramsVector& a, const CNGramsVector& b);
inline bool operator!=(const CNGramsVector& a, const CNGramsVector& b) { return !(a == b); }

// The default stop-word finder over the engine's stop-word table: words are
// runs of non-separator bytes, looked up without regard to case; the stop
// length is the word's length plus one when a blank, tab or vertical tab
// ends it.
DWORD DefaultNextStopWord(const char* text, DWORD length, DWORD& stopLength);

// A row of the stop-word table; also the key of a lookup.
struct tag_STOP_WORD {
  const char* pszWord;
  DWORD dwLength;
};
// bsearch comparator of a key {text, length} against a row: strncasecmp
// over the key's length, then 0 for equal lengths and -1 otherwise.
int SeekStopWord(const void* key, const void* row);
// qsort comparator of two rows (strcasecmp).
int CmpStopWord(const void* a, const void* b);
// The stop-word table in its sorted order (109 rows).
DWORD GetStopWordCount();
const tag_STOP_WORD& GetStopWord(DWORD i);
// 1 for a byte that separates words in the stop-word search.
bool IsWordSeparator(BYTE c);
// 1 for a byte that is left out of n-grams.
bool IsIgnoredChar(BYTE c);
// 1 when word (length bytes, none of them a separator) is a row of the
// stop-word table, ASCII case ignored: what the default finder skips.
bool IsStopWord(const BYTE* word, DWORD length);
// The same for a word followed by enough bytes that 16 can be read from its
// start (the bytes after the word do not matter).
bool IsStopWordPadded(const BYTE* word, DWORD length);
// For words of length bytes: 256 flags, 1 for a byte (bit 0x20 set) that
// begins a stop word of that length; null for lengths no row can have. A
// word whose first byte has no flag is no stop word.
const BYTE* GetStopWordStarts(DWORD length);
// Builds the tables; done once when the library loads, later calls do nothing.
void InitNGramTextTables();

// Three-way comparison of two n-grams as *static_cast<WORD*>(n) unsigned
// bytes (a qsortext comparator).
int CmpNGramsToken(const void* a, const void* b, void* n);
// In the sorted entries [begin, end) of entrySize bytes each: the entry whose
// n-gram equals key (entrySize - 4 bytes), else the first greater one, else end.
const BYTE* EqualOrUpperBound(const BYTE* key, const BYTE* begin, const BYTE* end,
                              DWORD entrySize);
// NGramKey for a length N known when compiling (1 to 8): the first four
// bytes are taken at once.
template <unsigned N>
inline ULONGLONG NGramKeyOf(const BYTE* gram) {
  static_assert(N >= 1 && N <= 8, "n-gram keys hold 1 to 8 bytes");
  ULONGLONG k = 0;
  unsigned b = 0;
  if (N >= 4) {
    k = (static_cast<ULONGLONG>(gram[0]) << 24) | (static_cast<ULONGLONG>(gram[1]) << 16) |
        (static_cast<ULONGLONG>(gram[2]) << 8) | gram[3];
    b = 4;
  }
  for (; b < N; ++b) k = (k << 8) | gram[b];
  return k;
}
// Writes the N bytes of an n-gram whose key is k (the inverse of NGramKeyOf).
template <unsigned N>
inline void StoreNGramKey(BYTE* gram, ULONGLONG k) {
  for (unsigned b = 0; b < N; ++b) gram[b] = static_cast<BYTE>(k >> (8 * (N - 1 - b)));
}
// The first n bytes of an n-gram (n of 1 to 8) as one big-endian integer:
// integer order is the byte order n-grams are sorted by, and equal n-grams
// give equal keys.
inline ULONGLONG NGramKey(const BYTE* gram, size_t n) {
  ULONGLONG k = 0;
  for (size_t i = 0; i < n; ++i) k = (k << 8) | gram[i];
  return k;
}
// Whether count packed entries of n-grams of n bytes (entries n + 4 bytes,
// as stored) have strictly ascending n-grams: no n-gram twice, none out of
// order. n = 0 gives true for at most one entry.
bool StrictlyAscending(const BYTE* entries, size_t count, WORD n);
// The dot product of two sorted entry arrays given by byte pointers, for
// n >= 4: a merge join that gallops through the longer array; its value is
// exactly that of the plain merge.
double QuickDotProduct(const BYTE* aBegin, const BYTE* aEnd, const BYTE* bBegin,
                       const BYTE* bEnd, WORD n);

// A pair of example indexes, the key of a Gram-matrix element. Pairs compare
// as unordered pairs: (3, 7) and (7, 3) are the same key.
struct tag_ELEM_INDEXES {
  DWORD dwFirst;
  DWORD dwSecond;
};
bool operator<(const tag_ELEM_INDEXES& a, const tag_ELEM_INDEXES& b);

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_NGRAMSVECTOR_H
