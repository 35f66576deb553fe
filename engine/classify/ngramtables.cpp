// The n-gram layer's text tables and the default stop-word finder.
//
// The stop-word table is part of every trained model: a vector made with a
// different list gives different n-grams, so models trained before a change
// would no longer match the vectors of the messages they score. The list is
// frozen; a test pins its size and its sorted order.
//
// Its 109 rows:
//   - the five bytes CR LF "." CR LF (all separators, so this row never
//     matches a word; it is the end-of-message line of SMTP);
//   - 31 English function words;
//   - 77 common English given names, capitalised, chosen once for this
//     engine: names that are not also ordinary English words (no "Mark",
//     "Bill", "Frank", "Grace", "Rose", "Will", "May" ...), so that skipping
//     them never removes content words of a message.
// Lookups ignore case, so "The", "THE" and "the" are all stop words.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "classify/ngramsvector.h"

namespace telsor {

namespace {

const char* const kStopWords[] = {
    "\r\n.\r\n",
    // English function words.
    "an", "and", "are", "as", "at", "be", "cannot", "can",
    "do", "does", "et", "from", "has", "have", "if", "in",
    "is", "may", "not", "of", "one", "or", "than", "that",
    "the", "this", "to", "was", "were", "which", "with",
    // Given names.
    "Alice", "Amanda", "Andrew", "Angela", "Ann", "Anna", "Anne",
    "Anthony", "Barbara", "Betty", "Brian", "Catherine", "Charles", "Christopher",
    "Cynthia", "Daniel", "David", "Deborah", "Dennis", "Donald", "Donna",
    "Dorothy", "Edward", "Elizabeth", "Emily", "Eric", "Frances", "George",
    "Gregory", "Helen", "James", "Janet", "Jason", "Jeffrey", "Jennifer",
    "Jessica", "John", "Joseph", "Joshua", "Karen", "Kenneth", "Kevin",
    "Kimberly", "Larry", "Laura", "Linda", "Lisa", "Margaret", "Maria",
    "Mary", "Matthew", "Melissa", "Michael", "Michelle", "Nancy", "Nicholas",
    "Pamela", "Patricia", "Paul", "Rebecca", "Richard", "Robert", "Ronald",
    "Ruth", "Samuel", "Sandra", "Sarah", "Scott", "Sharon", "Shirley",
    "Stephen", "Steven", "Susan", "Thomas", "Timothy", "Walter", "William",
};
const DWORD kStopWordCount = sizeof kStopWords / sizeof kStopWords[0];
static_assert(kStopWordCount == 109, "the stop-word table has 109 rows");

// A word folded for lookup: its bytes with bit 0x20 set (ASCII letters in
// lower case; no byte that can stand in a word becomes a letter that way),
// eight to a number in memory order, and its length.
struct tag_FOLDED_WORD {
  ULONGLONG low;
  ULONGLONG high;
  DWORD length;
};

// Words longer than this are never looked up (the longest row is shorter).
const DWORD kFoldedMax = 16;

tag_FOLDED_WORD FoldWord(const BYTE* word, DWORD length) {
  BYTE bytes[kFoldedMax] = {0};
  for (DWORD i = 0; i < length; ++i) bytes[i] = static_cast<BYTE>(word[i] | 0x20);
  tag_FOLDED_WORD f = {0, 0, length};
  memcpy(&f.low, bytes, 8);
  memcpy(&f.high, bytes + 8, 8);
  return f;
}

inline DWORD FoldedHome(const tag_FOLDED_WORD& f, DWORD mask) {
  const ULONGLONG h = (f.low * 0x9E3779B97F4A7C15ULL) ^ (f.high * 0xC2B2AE3D27D4EB4FULL) ^ f.length;
  return static_cast<DWORD>(h >> 40) & mask;
}

struct CNGramTextTables {
  BYTE separators[256];
  BYTE ignored[256];
  tag_STOP_WORD words[kStopWordCount];
  DWORD shortest;
  DWORD longest;
  // The word rows folded, in an open-addressing table (length 0: empty).
  static const DWORD kFoldedSlots = 512;
  tag_FOLDED_WORD folded[kFoldedSlots];
  // 1 where a row of that length begins with that folded byte: most words
  // are turned away here before any hashing.
  BYTE starts[kFoldedMax + 1][256];

  CNGramTextTables() {
    // Separators: 0x00-0x2C, '.', 0x3A-0x40, 0x5B-0x5E, '`', 0x7B-0x7F.
    // Not separators: '-', '/', digits, letters, '_' and all bytes from 0x80.
    for (int c = 0; c < 256; ++c)
      separators[c] = (c <= 0x2C || c == 0x2E || (c >= 0x3A && c <= 0x40) ||
                       (c >= 0x5B && c <= 0x5E) || c == 0x60 || (c >= 0x7B && c <= 0x7F));
    memset(ignored, 0, sizeof ignored);
    for (const char* p = "[](),`'\"\\^~*"; *p; ++p) ignored[static_cast<BYTE>(*p)] = 1;
    shortest = 0xFFFFFFFFu;
    longest = 0;
    for (DWORD i = 0; i < kStopWordCount; ++i) {
      words[i].pszWord = kStopWords[i];
      words[i].dwLength = static_cast<DWORD>(strlen(kStopWords[i]));
      // The separator row never matches; it does not widen the length window.
      if (i == 0) continue;
      if (words[i].dwLength < shortest) shortest = words[i].dwLength;
      if (words[i].dwLength > longest) longest = words[i].dwLength;
    }
    qsort(words, kStopWordCount, sizeof words[0], CmpStopWord);
    memset(folded, 0, sizeof folded);
    memset(starts, 0, sizeof starts);
    for (DWORD i = 0; i < kStopWordCount; ++i) {
      const BYTE* w = reinterpret_cast<const BYTE*>(words[i].pszWord);
      const DWORD length = words[i].dwLength;
      // Rows holding a separator (the SMTP end line) never match a word.
      bool word = length <= kFoldedMax;
      for (DWORD k = 0; word && k < length; ++k) word = !separators[w[k]];
      if (!word) continue;
      const tag_FOLDED_WORD f = FoldWord(w, length);
      starts[length][w[0] | 0x20] = 1;
      DWORD at = FoldedHome(f, kFoldedSlots - 1);
      while (folded[at].length != 0) at = (at + 1) & (kFoldedSlots - 1);
      folded[at] = f;
    }
  }

  bool IsFoldedRow(const BYTE* word, DWORD length) const {
    if (length < shortest || length > longest || length > kFoldedMax) return false;
    if (!starts[length][word[0] | 0x20]) return false;
    return IsFolded(FoldWord(word, length));
  }

  // The same for a word with at least kFoldedMax bytes readable from its
  // start: the bytes are taken eight at a time.
  bool IsFoldedRowPadded(const BYTE* word, DWORD length) const {
    if (length < shortest || length > longest || length > kFoldedMax) return false;
    if (!starts[length][word[0] | 0x20]) return false;
    if (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) return IsFolded(FoldWord(word, length));
    // In memory order on a little-endian host byte i is bits 8i to 8i + 7.
    tag_FOLDED_WORD f = {0, 0, length};
    memcpy(&f.low, word, 8);
    memcpy(&f.high, word + 8, 8);
    const ULONGLONG lowMask = length >= 8 ? ~0ULL : (1ULL << (8 * length)) - 1;
    const ULONGLONG highMask = length <= 8 ? 0 : length >= 16 ? ~0ULL : (1ULL << (8 * (length - 8))) - 1;
    f.low = (f.low | 0x2020202020202020ULL) & lowMask;
    f.high = (f.high | 0x2020202020202020ULL) & highMask;
    return IsFolded(f);
  }

  bool IsFolded(const tag_FOLDED_WORD& f) const {
    for (DWORD at = FoldedHome(f, kFoldedSlots - 1);; at = (at + 1) & (kFoldedSlots - 1)) {
      const tag_FOLDED_WORD& s = folded[at];
      if (s.length == 0) return false;
      if (s.length == f.length && s.low == f.low && s.high == f.high) return true;
    }
  }
};

const CNGramTextTables& Tables() {
  static const CNGramTextTables tables;
  return tables;
}

// Built while the library loads, so that no caller pays for it later.
struct CInitAtLoad {
  CInitAtLoad() { InitNGramTextTables(); }
} g_initAtLoad;

}  // namespace

void InitNGramTextTables() { Tables(); }

int SeekStopWord(const void* key, const void* row) {
  const tag_STOP_WORD* k = static_cast<const tag_STOP_WORD*>(key);
  const tag_STOP_WORD* r = static_cast<const tag_STOP_WORD*>(row);
  int c = strncasecmp(k->pszWord, r->pszWord, k->dwLength);
  if (c != 0) return c;
  return k->dwLength == r->dwLength ? 0 : -1;
}

int CmpStopWord(const void* a, const void* b) {
  return strcasecmp(static_cast<const tag_STOP_WORD*>(a)->pszWord,
                    static_cast<const tag_STOP_WORD*>(b)->pszWord);
}

DWORD GetStopWordCount() { return kStopWordCount; }

const tag_STOP_WORD& GetStopWord(DWORD i) { return Tables().words[i]; }

bool IsWordSeparator(BYTE c) { return Tables().separators[c] != 0; }

bool IsIgnoredChar(BYTE c) { return Tables().ignored[c] != 0; }

bool IsStopWord(const BYTE* word, DWORD length) { return Tables().IsFoldedRow(word, length); }

bool IsStopWordPadded(const BYTE* word, DWORD length) { return Tables().IsFoldedRowPadded(word, length); }

const BYTE* GetStopWordStarts(DWORD length) {
  return length <= kFoldedMax ? Tables().starts[length] : nullptr;
}

DWORD DefaultNextStopWord(const char* text, DWORD length, DWORD& stopLength) {
  stopLength = 0;
  if (text == nullptr) return 0xFFFFFFFFu;
  const CNGramTextTables& t = Tables();
  const BYTE* p = reinterpret_cast<const BYTE*>(text);
  DWORD i = 0;
  while (i < length) {
    while (i < length && t.separators[p[i]]) ++i;
    if (i == length) break;
    DWORD start = i;
    while (i < length && !t.separators[p[i]]) ++i;
    if (t.IsFoldedRow(p + start, i - start)) {
      stopLength = i - start;
      if (i < length && (p[i] == ' ' || p[i] == '\t' || p[i] == '\v')) ++stopLength;
      return start;
    }
  }
  return 0xFFFFFFFFu;
}

}  // namespace telsor
