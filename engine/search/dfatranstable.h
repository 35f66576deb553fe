// CDFATransTable: a deterministic automaton's transition function packed
// comb-style: per state a default state and a base offset into one shared
// array of {next, check} entries. Built by the regular-expression compiler
// over the byte alphabet and by the multi-word matcher over its compressed
// alphabet; stored inside their records.
//
//   std::vector<tag_TRANS_ENTRY> moves = {{0, 1, 'a'}, {1, 1, 'a'}};
//   CSetBits accepting;
//   accepting.SetBitAt(1, 1);
//   CSharedObjPtr<CDFATransTable> table = new CDFATransTable;
//   table->Build(moves, 2, 256, accepting);
//   WORD s = table->Lookup(0, 'a');       // 1; 0xFFFF = no transition
//   bool done = table->IsAccepting(s);
//
// Lookup of state s on index c: idx = c + base(s); the dense state (the row
// laid down first, in full, at base 0) has no transition below the minimum
// index; an entry in range whose check is s gives its next (0xFFFF = none);
// otherwise the default state is tried with the same c. No chain of
// defaults is longer than MAX_CHAIN, so a lookup is a few array reads.
//
// Building is near-linear in the size of the table: rows are sorted
// through an index, each row's default is the most similar of the last
// four rows, row 0 and the latest row with the same target on the class of
// most indices (among those whose chain leaves room), and a row goes to
// the first gap that fits it within a budget of slot tests, else past the
// last used slot; rows of one size search for gaps forward only.
//
// Record (little-endian): u8 version 1, u32 entry count E, u32 state count
// N, u32 minimum index, u16 dense state, N x (u8 flags, u16 default, u32
// base), E x (u16 next, u16 check). Loading refuses with E_FAIL any value
// that a lookup could trip over: N above 0xFFFF, a state or check out of
// range (not below N and not 0xFFFF), a base of 0xFFFFFFFF, a default
// chain that loops. A table with longer default chains than MAX_CHAIN
// (packed before chains were bounded, or hostile) is packed again from its
// rows, the same automaton, when it has at most MAX_REPACK_STATES states,
// and refused with E_FAIL otherwise. The arrays grow as their bytes
// arrive; running out of memory gives E_OUTOFMEMORY. Loading throws
// nothing.
//
// Read-only after Build or loading: any number of threads may look up at
// once. Shared by reference count (CSharedObj).
#ifndef TELSOR_SEARCH_DFATRANSTABLE_H
#define TELSOR_SEARCH_DFATRANSTABLE_H

#include <vector>

#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"
#include "search/searchresults.h"
#include "search/setbits.h"

namespace telsor {

// One transition handed to Build; character is the alphabet index.
struct tag_TRANS_ENTRY {
  DWORD from;
  DWORD to;
  BYTE character;
};

// A transition matrix over classes of alphabet indices that every state
// treats alike: index c belongs to class classOf[c], and rows[s * classes
// + k] is the target of state s on class k (NONE: no transition).
struct tag_CLASS_ROWS {
  DWORD states = 0;
  DWORD alphabet = 0;  // indices 0 .. alphabet - 1 (at most 256)
  DWORD classes = 0;
  BYTE classOf[256] = {};
  std::vector<WORD> rows;
};

class CDFATransTable : public CSharedObj {
 public:
  static constexpr WORD NONE = 0xFFFF;  // no state / no transition
  static constexpr BYTE MAX_CHAIN = 8;  // defaults one lookup may walk
  // Loading packs a table with longer chains again up to this many states.
  static constexpr DWORD MAX_REPACK_STATES = 16384;

  CDFATransTable();
  ~CDFATransTable() override;

  // Empties the table: no states, no entries, dense state NONE.
  void Clear();

  // Replaces the contents with the packed form of the transitions over
  // stateCount states (at most 0xFFFF) and alphabetSize indices (1..256);
  // states in accepting get flag 1. Transitions out of range are ignored.
  // Throws the engine's CMemoryException* when memory runs out, and
  // CFAException* (search/fa.h) with E_SEEK_TOO_MANY_STATES for more than
  // 0xFFFF states; the table is then empty.
  void Build(std::vector<tag_TRANS_ENTRY>& transitions, DWORD stateCount, DWORD alphabetSize,
             CSetBits& accepting);
  // The same from a full row matrix: stateCount rows of alphabetSize
  // values (target state or NONE). A matrix smaller than that is
  // CFAException* with E_INVALIDARG.
  void BuildFromRows(std::vector<WORD>& matrix, DWORD stateCount, DWORD alphabetSize,
                     CSetBits& accepting);
  // The same from the rows of byte classes (the work is per class, not
  // per index); a class index out of range is E_INVALIDARG.
  void BuildFromClasses(const tag_CLASS_ROWS& rows, CSetBits& accepting);
  // The classes of equal columns of a full row matrix, numbered in the
  // order of their first column. Throws CMemoryException*.
  static void ClassesOfColumns(const std::vector<WORD>& matrix, DWORD stateCount, DWORD alphabetSize,
                               tag_CLASS_ROWS& out);
  // The classes of equal columns of this table over alphabet indices
  // 0 .. alphabetSize - 1 (at most 256), numbered in the order of their
  // first index, found on the packed form without expanding it (one pass
  // over each state's own entries, states after their defaults); out.rows
  // stays empty. Throws CMemoryException*.
  void ColumnClasses(DWORD alphabetSize, tag_CLASS_ROWS& out) const;
  // out.rows := for every state, its target on each class of out (by
  // lookups of a member index). Throws CMemoryException*.
  void FillClassRows(tag_CLASS_ROWS& out) const;
  void SetStateFlags(WORD state, BYTE flags);
  // The full matrix, stateCount rows of alphabetSize (at most 256) values:
  // rows[s * alphabetSize + c] = Lookup(s, c), for every state in one pass
  // over the rows (O(states x alphabet)). Throws CMemoryException*.
  void ExpandRows(DWORD alphabetSize, std::vector<WORD>& rows) const;
  // Bytes held by the table.
  size_t GetBytes() const;

  using CObj::Serialize;
  HRESULT Serialize(IStream* stream, int storing);

  // Next state of state on alphabet index c, or NONE.
  WORD Lookup(WORD state, DWORD c) const {
    const size_t n = m_states.size();
    const size_t entries = m_entries.size();
    if (state >= n) return NONE;
    for (size_t hops = 0; hops <= n; ++hops) {
      const tag_STATE& s = m_states[state];
      uint64_t idx = static_cast<uint64_t>(c) + s.base;
      if (state == m_wDenseState && idx < m_nMinIndex) return NONE;
      if (idx >= m_nMinIndex && idx - m_nMinIndex < entries) {
        const tag_ENTRY& e = m_entries[idx - m_nMinIndex];
        if (e.check == state) return e.next;
      }
      state = s.def;
      if (state == NONE) return NONE;
    }
    return NONE;  // unreachable for a built or validated table
  }
  bool IsAccepting(WORD state) const { return state < m_states.size() && (m_states[state].flags & 1); }

  DWORD GetStateCount() const { return static_cast<DWORD>(m_states.size()); }
  DWORD GetEntryCount() const { return static_cast<DWORD>(m_entries.size()); }
  DWORD GetMinIndex() const { return m_nMinIndex; }
  WORD GetDenseState() const { return m_wDenseState; }

  // Row order used by Build: fewer transitions first, then by a column
  // vote; rows are rowSize u16 values.
  static int CompTrans(const WORD* a, const WORD* b, DWORD rowSize);
  static void SwapTrans(WORD* rows, DWORD i, DWORD j, DWORD rowSize, WORD* order);
  static void SortTransTable(WORD* rows, DWORD rowCount, DWORD rowSize, WORD* order);

  // The packed records: per state its flags, default and base; per slot
  // of the shared array its target and the state that owns it.
  struct tag_STATE {
    BYTE flags;  // bit 0: accepting
    WORD def;    // default state or NONE
    DWORD base;
  };
  struct tag_ENTRY {
    WORD next;   // NONE: no transition
    WORD check;  // NONE: a free slot
  };

 private:
  std::vector<tag_STATE> m_states;
  std::vector<tag_ENTRY> m_entries;
  DWORD m_nMinIndex;
  WORD m_wDenseState;
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_DFATRANSTABLE_H
