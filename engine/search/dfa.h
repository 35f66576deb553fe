// CDFA: a regular expression compiled straight into a deterministic
// automaton from the position sets of its syntax tree (no NFA), packed into
// a shared CDFATransTable.
//
//   CDFA dfa;
//   dfa.BuildFromRegExpr("ab+c");                  // throws on errors (fa.h)
//   CSharedObjPtr<CDFATransTable> table = dfa.GetTable();
//   WORD s = table->Lookup(0, 'a');                // state 0 starts
//
// Subset construction: state 0 is firstpos(root); the successor of a state
// on byte c is the union of followpos(p) over its positions p that accept
// c, plus firstpos(root) for a pattern without a leading ^ (so the
// automaton searches: every byte that fits nowhere leads back to a state
// equal to state 0). A state holding the END position accepts. Byte 0
// never has a transition: matchers replace NUL bytes of the text first.
//
// Bytes that no leaf tells apart share one byte class, and each state is
// expanded once per class rather than once per byte. Without the leading ^
// every state holds firstpos(root), F: F's moves are made once per class,
// and a state only unites its other positions' follow sets with them.
// A state's other positions are sorted into one list per class they take,
// so each class reads only its own list, and classes with equal lists
// (that F also moves alike) are expanded once. Equal position sets are
// found by an order-free hash (sets are never sorted), then compared in
// full against the stamps of the set at hand. The sets live in blocks
// that never move, since touching fresh memory is much of the cost. The table
// is packed from the rows over the classes (GetClassRows keeps them for
// the matcher's flat copy).
//
// Limits: at most 65534 states, at most 2^22 positions in all state sets
// together (16 MiB), and at most 2^26 follow sets and positions gathered
// while making the moves (each a fraction of a second: families such as
// (xyz|b){1616}, whose states hold ever more positions, end here); beyond any
// E_SEEK_TOO_MANY_STATES (CFAException*, no message).
//
// A CDFA is a short-lived object of one compilation on one thread.
#ifndef TELSOR_SEARCH_DFA_H
#define TELSOR_SEARCH_DFA_H

#include "search/dfatranstable.h"
#include "search/fa.h"

namespace telsor {

class CDFA : public CFA {
 public:
  static const DWORD MAX_STATES = 0xFFFE;
  static const size_t MAX_STATE_ENTRIES = 1u << 22;
  static const size_t MAX_WORK = 1u << 26;  // follow sets and positions gathered into the moves

  CDFA();
  ~CDFA() override;

  // The limits above (and the tree's, fa.h) as costs; a compile's limits
  // start here and a budget may lower them (SetLimits, regexbudget.h).
  static tag_REGEX_COSTS OwnLimits();

  // Releases the table and its rows, then clears the syntax tree.
  void Clear() override;
  // Clear, parse, build the automaton. On success the table holds the
  // result and everything else is freed. Throws CFAException* or the
  // engine's CMemoryException*; the object is then partly built until the
  // next Clear or its destruction.
  virtual void BuildFromRegExpr(const char* pattern);

  // The built table (no reference added), or null.
  CDFATransTable* GetTable() const { return m_pTable; }
  // The table's rows over the byte classes (byte 0 a class of its own),
  // kept beside the table; empty until built.
  const tag_CLASS_ROWS& GetClassRows() const { return m_rows; }

 protected:
  void ConstructStates();

  CSharedObjPtr<CDFATransTable> m_pTable;
  tag_CLASS_ROWS m_rows;
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_DFA_H
