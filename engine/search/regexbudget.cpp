// The budget shared by the regular expressions of one text.
#include "search/regexbudget.h"

namespace telsor {

namespace {

size_t Lower(size_t a, size_t b) { return a < b ? a : b; }
size_t Less(size_t left, size_t used) { return used < left ? left - used : 0; }

}  // namespace

// A fraction of what one pattern may use on its own (dfa.h, fa.h): all keys
// of a script together cost less than one pattern at its own limits.
const tag_REGEX_COSTS CRegExprBudget::kScriptTotal = {
    size_t(1) << 15,  // states: half of what one pattern may have
    size_t(1) << 20,  // state set entries
    size_t(1) << 21,  // tree set entries
    size_t(1) << 24,  // work
    size_t(32) << 20, // bytes held
};

tag_REGEX_COSTS CRegExprBudget::LimitsFor(const tag_REGEX_COSTS& own) const {
  return tag_REGEX_COSTS{Lower(own.states, m_left.states), Lower(own.stateEntries, m_left.stateEntries),
                         Lower(own.treeEntries, m_left.treeEntries), Lower(own.work, m_left.work),
                         Lower(own.bytes, m_left.bytes)};
}

void CRegExprBudget::Spend(const tag_REGEX_COSTS& used) {
  m_left.states = Less(m_left.states, used.states);
  m_left.stateEntries = Less(m_left.stateEntries, used.stateEntries);
  m_left.treeEntries = Less(m_left.treeEntries, used.treeEntries);
  m_left.work = Less(m_left.work, used.work);
  m_left.bytes = Less(m_left.bytes, used.bytes);
}

bool CRegExprBudget::ReachedLowered(const tag_REGEX_COSTS& own, const tag_REGEX_COSTS& limits,
                                    const tag_REGEX_COSTS& used) {
  // A limit counts as reached when what was used got to it (the compilers
  // stop at the first step past it).
  return (limits.states < own.states && used.states >= limits.states) ||
         (limits.stateEntries < own.stateEntries && used.stateEntries >= limits.stateEntries) ||
         (limits.treeEntries < own.treeEntries && used.treeEntries >= limits.treeEntries) ||
         (limits.work < own.work && used.work >= limits.work) ||
         (limits.bytes < own.bytes && used.bytes >= limits.bytes);
}

}  // namespace telsor
