// CDFAScanTable: a flat copy of a packed transition table for the scan
// loops of the matchers that walk a CDFATransTable (CRegExpr,
// CSeekMultiWords). The packed table stays the stored and shared form;
// this copy trades memory for one array read per text byte.
//
//   CDFAScanTable flat;
//   BYTE map[256];                      // text byte -> alphabet index
//   flat.Build(table, map, 1 << 20);    // empty when the copy would be larger
//   DWORD cell = flat.Start();
//   cell = flat.Next(cell, byte);       // SCAN_DEAD bit: no transition
//   if (cell & SCAN_ACCEPT) ...         // the new state accepts
//   WORD state = flat.State(cell);
//
// Cells are row offsets (state x 256) with two flag bits, so the loop does
// no multiplication. Read-only after Build: shareable between threads.
#ifndef TELSOR_SEARCH_DFASCAN_H
#define TELSOR_SEARCH_DFASCAN_H

#include <vector>

#include "search/dfatranstable.h"

namespace telsor {

const DWORD SCAN_ACCEPT = 0x80000000u;
const DWORD SCAN_DEAD = 0x40000000u;
const DWORD SCAN_FLAGS = SCAN_ACCEPT | SCAN_DEAD;

class CDFAScanTable {
 public:
  // maxCells bounds the copy (states x 256); a larger table leaves the
  // copy empty and the caller walks the packed table.
  void Build(const CDFATransTable* table, const BYTE* map, size_t maxCells) {
    m_cells.clear();
    if (table == nullptr || table->GetStateCount() == 0) return;
    const size_t n = table->GetStateCount();
    if (n * 256 > maxCells) return;
    m_cells.resize(n * 256);
    for (size_t s = 0; s < n; ++s) {
      for (DWORD c = 0; c < 256; ++c) {
        const WORD t = table->Lookup(static_cast<WORD>(s), map[c]);
        DWORD cell = SCAN_DEAD;
        if (t != CDFATransTable::NONE) cell = (static_cast<DWORD>(t) << 8) | (table->IsAccepting(t) ? SCAN_ACCEPT : 0);
        m_cells[s * 256 + c] = cell;
      }
    }
  }
  void Clear() { std::vector<DWORD>().swap(m_cells); }
  bool IsEmpty() const { return m_cells.empty(); }
  const DWORD* Cells() const { return m_cells.data(); }
  static DWORD Start() { return 0; }
  DWORD Next(DWORD cell, BYTE c) const { return m_cells[(cell & ~SCAN_FLAGS) + c]; }
  static WORD State(DWORD cell) { return static_cast<WORD>((cell & ~SCAN_FLAGS) >> 8); }

 private:
  std::vector<DWORD> m_cells;
};

// Step functors for scan loops written once for both forms: a cell is a
// state with the SCAN flag bits; State() gives the state number.
struct CDFAFlatStep {
  const DWORD* cells;
  DWORD operator()(DWORD cell, BYTE c) const { return cells[(cell & ~SCAN_FLAGS) + c]; }
  static WORD State(DWORD cell) { return CDFAScanTable::State(cell); }
};

struct CDFAPackedStep {
  const CDFATransTable* table;
  const BYTE* map;  // text byte -> alphabet index
  DWORD operator()(DWORD cell, BYTE c) const {
    const WORD t = table->Lookup(static_cast<WORD>(cell & ~SCAN_FLAGS), map[c]);
    if (t == CDFATransTable::NONE) return SCAN_DEAD;
    return t | (table->IsAccepting(t) ? SCAN_ACCEPT : 0);
  }
  static WORD State(DWORD cell) { return static_cast<WORD>(cell & ~SCAN_FLAGS); }
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_DFASCAN_H
