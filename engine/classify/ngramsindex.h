// CNGramsIndex: an inverted index over a block of n-gram vectors, for the
// many dot products of a Gram matrix. Each distinct n-gram of the block is
// numbered once; its postings list the block's vectors that hold it (in
// block order) with their weights. The dot products of one vector with
// every vector of the block then take one pass over its own entries and the
// postings of the n-grams it shares with them, instead of one merge walk per
// pair.
//
//   std::vector<CNGramsVector> block;            // vectors of one n
//   block.push_back(CNGramsVector(5, "first text", 10, DefaultNextStopWord));
//   block.push_back(CNGramsVector(5, "second text", 11, DefaultNextStopWord));
//   CNGramsIndex index;
//   index.Load(block.data(), static_cast<ULONG>(block.size()));
//   std::vector<double> row(block.size());
//   index.Inner(1, row.data());      // row[j] = block[1].DotProduct(block[j]), j <= 1
//   CNGramsVector other(5, "third text", 10, DefaultNextStopWord);
//   index.Outer(other, row.data());  // row[k] = other.DotProduct(block[k]), every k
//
// Every value is bit for bit the one CNGramsVector::DotProduct gives: each
// product is the two f32 weights multiplied as doubles, and the products of
// one pair are added from 0.0 in ascending n-gram order (the order of the
// row vector's own entries), as the merge walk adds them.
//
// The block's vectors are only read, by pointer, while the index is used:
// they must stay alive and unchanged until the next Load or the index's end.
// Load refuses a block whose non-empty vectors differ in n-gram length (the
// bare code E_INVALIDARG); Outer of a vector of another length gives zeros,
// as the dot product does. Out of memory throws the engine's
// CMemoryException*, leaving the index empty. One thread uses an index.
#ifndef TELSOR_CLASSIFY_NGRAMSINDEX_H
#define TELSOR_CLASSIFY_NGRAMSINDEX_H

#include <vector>

#include "classify/ngramsvector.h"
#include "foundation/wintypes.h"

namespace telsor {

class CNGramsIndex {
 public:
  CNGramsIndex();
  ~CNGramsIndex();
  CNGramsIndex(const CNGramsIndex&) = delete;
  CNGramsIndex& operator=(const CNGramsIndex&) = delete;

  // Indexes vectors[0, count); the previous block is forgotten.
  void Load(const CNGramsVector* vectors, ULONG count);
  // out[j] = the dot product of vector i of the block with vector j, for
  // every j <= i (i below the block's count).
  void Inner(ULONG i, double* out) const;
  // out[k] = the dot product of v with vector k of the block, for every k.
  void Outer(const CNGramsVector& v, double* out) const;

  ULONG GetCount() const { return static_cast<ULONG>(m_vectors.size()); }
  // The number of distinct n-grams of the block.
  ULONG GetNGramCount() const { return static_cast<ULONG>(m_starts.empty() ? 0 : m_starts.size() - 1); }
  // Bytes the index takes per entry of the block's vectors, about (a
  // planning figure for block sizes).
  static ULONG BytesPerEntry();

 private:
  // One vector of the block holding an n-gram, and its weight there.
  struct tag_POSTING {
    ULONG dwVector;
    float fWeight;
  };
  // A slot of the n-gram table: the n-gram's fingerprint and number.
  struct tag_SLOT {
    ULONGLONG qwPrint;
    ULONG dwId;
  };

  void Clear();
  // The number of the n-gram with this fingerprint, or NO_ID.
  ULONG Find(const BYTE* gram, ULONGLONG print) const;
  // The number of the n-gram, numbered anew when it was not in the table.
  ULONG Insert(const BYTE* gram, ULONGLONG print);
  void Grow();
  ULONGLONG Fingerprint(const BYTE* gram) const;

  static const ULONG NO_ID = 0xFFFFFFFFu;

  WORD m_wN;
  std::vector<const CNGramsVector*> m_vectors;
  // The table of n-grams (open addressing, a power of two in size).
  std::vector<tag_SLOT> m_slots;
  // The bytes of each numbered n-gram (in the block's vectors) and its
  // fingerprint.
  std::vector<const BYTE*> m_grams;
  std::vector<ULONGLONG> m_prints;
  // Postings of n-gram f: m_postings[m_starts[f], m_starts[f + 1]).
  std::vector<ULONG> m_starts;
  std::vector<tag_POSTING> m_postings;
  // Entry e of vector i (m_firsts[i] + e): its n-gram's number and the index
  // of vector i's own posting in that n-gram's list.
  std::vector<ULONGLONG> m_firsts;
  std::vector<ULONG> m_ids;
  std::vector<ULONG> m_own;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_NGRAMSINDEX_H
