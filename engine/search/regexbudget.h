// CRegExprBudget: what several regular expressions compiled one after
// another may cost together, so that a text holding many patterns (a
// filter script's ":regex" keys) cannot add up the cost of each one's own
// limits.
//
//   tag_REGEX_COSTS total = CRegExprBudget::kScriptTotal;
//   CRegExprBudget budget(total);
//   CRegExpr first, second;
//   HRESULT hr = first.Compile(".*a.{14}", 1, 0, &budget);   // spends part
//   if (hr == S_OK) hr = second.Compile("b+", 1, 0, &budget);
//   if (FAILED(hr) && budget.IsSpent()) puts(second.GetErrorText().c_str());
//
// Costs are counted in the compiler's own units: automaton states, entries
// of the states' position sets, entries of the syntax tree's position sets,
// the work of gathering the moves (follow sets and positions united), and
// the bytes a compiled matcher holds. A compile runs under each of its own
// limits (fa.h, dfa.h) or what is left of the budget, whichever is lower;
// what it used is spent whether it succeeds or fails. Reaching a limit that
// the budget lowered fails that compile with E_SEEK_TOO_MANY_STATES and
// marks the budget spent (IsSpent); every later compile under it fails the
// same way at once. One budget serves one thread.
#ifndef TELSOR_SEARCH_REGEXBUDGET_H
#define TELSOR_SEARCH_REGEXBUDGET_H

#include <stddef.h>

namespace telsor {

struct tag_REGEX_COSTS {
  size_t states;        // automaton states
  size_t stateEntries;  // positions in all state sets
  size_t treeEntries;   // positions in the syntax tree's sets
  size_t work;          // follow sets and positions gathered into the moves
  size_t bytes;         // bytes held by the compiled matchers
};

class CRegExprBudget {
 public:
  // About one second and well under 256 MB for a whole filter script.
  static const tag_REGEX_COSTS kScriptTotal;

  explicit CRegExprBudget(const tag_REGEX_COSTS& total) : m_left(total), m_bSpent(false) {}

  // The lower of each of own and what is left.
  tag_REGEX_COSTS LimitsFor(const tag_REGEX_COSTS& own) const;
  // Takes used off what is left (never below 0).
  void Spend(const tag_REGEX_COSTS& used);
  // Whether a limit that the budget set (lower than own) was reached.
  static bool ReachedLowered(const tag_REGEX_COSTS& own, const tag_REGEX_COSTS& limits,
                             const tag_REGEX_COSTS& used);
  void MarkSpent() { m_bSpent = true; }
  bool IsSpent() const { return m_bSpent; }
  const tag_REGEX_COSTS& Left() const { return m_left; }

 private:
  tag_REGEX_COSTS m_left;
  bool m_bSpent;
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_REGEXBUDGET_H
