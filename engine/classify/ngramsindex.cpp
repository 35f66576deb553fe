// The inverted index of a block of n-gram vectors and its rows of dot
// products.
#include "classify/ngramsindex.h"

#include <string.h>

#include <algorithm>

#include "classify/recordio.h"
#include "foundation/errorroad.h"
#include "foundation/results.h"
#include "foundation/throwcode.h"

namespace telsor {

namespace {

const ULONGLONG kGolden = 0x9E3779B97F4A7C15ULL;

}  // namespace

CNGramsIndex::CNGramsIndex() : m_wN(0) {}

CNGramsIndex::~CNGramsIndex() {}

ULONG CNGramsIndex::BytesPerEntry() {
  // An entry's number, own posting and posting, and at most one n-gram with
  // its table slots (at most half of them in use), bytes pointer,
  // fingerprint and start.
  return sizeof(ULONG) * 2 + sizeof(tag_POSTING) + 2 * sizeof(tag_SLOT) + sizeof(const BYTE*) +
         sizeof(ULONGLONG) + sizeof(ULONG);
}

ULONGLONG CNGramsIndex::Fingerprint(const BYTE* gram) const {
  // Up to eight bytes the n-gram itself; longer ones mixed eight at a time.
  if (m_wN <= 8) return NGramKey(gram, m_wN);
  ULONGLONG print = 0;
  for (size_t at = 0; at < m_wN; at += 8) print = (print ^ NGramKey(gram + at, std::min<size_t>(8, m_wN - at))) * kGolden;
  return print;
}

ULONG CNGramsIndex::Find(const BYTE* gram, ULONGLONG print) const {
  if (m_slots.empty()) return NO_ID;
  const size_t mask = m_slots.size() - 1;
  for (size_t s = (print * kGolden) >> 32 & mask;; s = (s + 1) & mask) {
    const tag_SLOT& slot = m_slots[s];
    if (slot.dwId == NO_ID) return NO_ID;
    if (slot.qwPrint == print && (m_wN <= 8 || memcmp(m_grams[slot.dwId], gram, m_wN) == 0)) return slot.dwId;
  }
}

ULONG CNGramsIndex::Insert(const BYTE* gram, ULONGLONG print) {
  // The table is kept at most half full.
  if (2 * (m_grams.size() + 1) > m_slots.size()) Grow();
  const size_t mask = m_slots.size() - 1;
  for (size_t s = (print * kGolden) >> 32 & mask;; s = (s + 1) & mask) {
    tag_SLOT& slot = m_slots[s];
    if (slot.dwId == NO_ID) {
      if (m_grams.size() >= NO_ID) AfxThrowMemoryException();
      slot.qwPrint = print;
      slot.dwId = static_cast<ULONG>(m_grams.size());
      m_grams.push_back(gram);
      m_prints.push_back(print);
      return slot.dwId;
    }
    if (slot.qwPrint == print && (m_wN <= 8 || memcmp(m_grams[slot.dwId], gram, m_wN) == 0)) return slot.dwId;
  }
}

void CNGramsIndex::Grow() {
  std::vector<tag_SLOT> slots(m_slots.empty() ? 1024 : m_slots.size() * 2, tag_SLOT{0, NO_ID});
  const size_t mask = slots.size() - 1;
  for (ULONG id = 0; id < m_grams.size(); ++id) {
    const ULONGLONG print = m_prints[id];
    size_t s = (print * kGolden) >> 32 & mask;
    while (slots[s].dwId != NO_ID) s = (s + 1) & mask;
    slots[s] = tag_SLOT{print, id};
  }
  m_slots.swap(slots);
}

void CNGramsIndex::Clear() {
  m_vectors.clear();
  m_slots.clear();
  m_grams.clear();
  m_prints.clear();
  m_starts.clear();
  m_postings.clear();
  m_firsts.clear();
  m_ids.clear();
  m_own.clear();
  m_wN = 0;
}

void CNGramsIndex::Load(const CNGramsVector* vectors, ULONG count) {
  Clear();
  bool lengthSet = false;
  for (ULONG i = 0; i < count; ++i) {
    if (vectors[i].GetCount() == 0) continue;
    if (lengthSet && vectors[i].GetLenNGrams() != m_wN) ThrowCode(static_cast<DWORD>(E_INVALIDARG));
    m_wN = vectors[i].GetLenNGrams();
    lengthSet = true;
  }
  try {
    WithMemoryException([&] {
      m_vectors.resize(count);
      m_firsts.resize(static_cast<size_t>(count) + 1);
      ULONGLONG entries = 0;
      for (ULONG i = 0; i < count; ++i) {
        m_vectors[i] = &vectors[i];
        m_firsts[i] = entries;
        entries += vectors[i].GetCount();
      }
      m_firsts[count] = entries;
      // Postings are numbered in 32 bits.
      if (entries >= NO_ID) AfxThrowMemoryException();
      m_ids.resize(entries);
      m_own.resize(entries);
      m_postings.resize(entries);

      // Number the n-grams and count the vectors holding each.
      const size_t es = m_wN + 4u;
      std::vector<ULONG> counts;
      for (ULONG i = 0; i < count; ++i) {
        const BYTE* e = vectors[i].GetEntries();
        ULONG* ids = m_ids.data() + m_firsts[i];
        for (DWORD k = 0; k < vectors[i].GetCount(); ++k, e += es) {
          const ULONG id = Insert(e + 4, Fingerprint(e + 4));
          if (id == counts.size()) counts.push_back(0);
          ++counts[id];
          ids[k] = id;
        }
      }

      // Postings in block order, and where each vector's own one lies.
      m_starts.resize(counts.size() + 1);
      ULONG at = 0;
      for (size_t f = 0; f < counts.size(); ++f) {
        m_starts[f] = at;
        at += counts[f];
      }
      m_starts[counts.size()] = at;
      std::vector<ULONG>& next = counts;
      std::copy(m_starts.begin(), m_starts.end() - 1, next.begin());
      for (ULONG i = 0; i < count; ++i) {
        const BYTE* e = vectors[i].GetEntries();
        for (ULONGLONG k = m_firsts[i]; k < m_firsts[i + 1]; ++k, e += es) {
          const ULONG p = next[m_ids[k]]++;
          m_own[k] = p;
          m_postings[p] = tag_POSTING{i, LoadF32(e)};
        }
      }
    });
  } catch (...) {
    Clear();
    throw;
  }
}

void CNGramsIndex::Inner(ULONG i, double* out) const {
  std::fill(out, out + static_cast<size_t>(i) + 1, 0.0);
  const BYTE* e = m_vectors[i]->GetEntries();
  const size_t es = m_wN + 4u;
  const tag_POSTING* postings = m_postings.data();
  // The vectors before i hold the postings of an n-gram before i's own.
  for (ULONGLONG k = m_firsts[i]; k < m_firsts[i + 1]; ++k, e += es) {
    const double w = LoadF32(e);
    const tag_POSTING* end = postings + m_own[k];
    for (const tag_POSTING* p = postings + m_starts[m_ids[k]]; p <= end; ++p)
      out[p->dwVector] += w * static_cast<double>(p->fWeight);
  }
}

void CNGramsIndex::Outer(const CNGramsVector& v, double* out) const {
  std::fill(out, out + m_vectors.size(), 0.0);
  if (v.GetCount() == 0 || v.GetLenNGrams() != m_wN) return;
  const BYTE* e = v.GetEntries();
  const size_t es = m_wN + 4u;
  const tag_POSTING* postings = m_postings.data();
  for (DWORD k = 0; k < v.GetCount(); ++k, e += es) {
    const ULONG id = Find(e + 4, Fingerprint(e + 4));
    if (id == NO_ID) continue;
    const double w = LoadF32(e);
    const tag_POSTING* end = postings + m_starts[id + 1];
    for (const tag_POSTING* p = postings + m_starts[id]; p < end; ++p)
      out[p->dwVector] += w * static_cast<double>(p->fWeight);
  }
}

}  // namespace telsor
