// Subset construction over position sets, one pass per state and byte
// class, results packed into a CDFATransTable.
#include "search/dfa.h"

#include <stdint.h>

#include <algorithm>
#include <array>
#include <map>
#include <new>
#include <unordered_map>

#include "foundation/errorroad.h"

namespace telsor {

namespace {
typedef std::array<uint64_t, 4> tag_BYTEMASK;

uint64_t HashPositions(const std::vector<DWORD>& set) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (DWORD p : set) {
    h ^= p;
    h *= 0x100000001b3ull;
  }
  return h ^ set.size();
}

bool Has(const tag_BYTEMASK& m, DWORD bit) { return (m[bit >> 6] >> (bit & 63)) & 1; }
void Put(tag_BYTEMASK& m, DWORD bit) { m[bit >> 6] |= uint64_t(1) << (bit & 63); }
}  // namespace

CDFA::CDFA() {}

CDFA::~CDFA() {}

void CDFA::Clear() {
  std::vector<std::vector<DWORD>>().swap(m_states);
  m_pTable = nullptr;
  CFA::Clear();
}

void CDFA::BuildFromRegExpr(const char* pattern) {
  WithMemoryException([&] {
    Clear();
    BuildSyntaxTree(pattern);
    ConstructStates();
  });
}

void CDFA::ConstructStates() {
  const DWORD positions = GetPositionCount();
  const DWORD endPosition = positions - 1;

  // Accepted bytes of every position (END accepts none; byte 0 never).
  std::vector<tag_BYTEMASK> accepts(positions, tag_BYTEMASK{0, 0, 0, 0});
  for (DWORD p = 0; p < positions; ++p) {
    const tag_TREE_NODE& leaf = GetNode(GetPositionNode(p));
    if (leaf.kind == NODE_END) continue;
    for (DWORD c = 1; c < 256; ++c)
      if (MatchCharNode(leaf, static_cast<BYTE>(c))) Put(accepts[p], c);
  }

  // Byte classes: bytes 1..255 that every leaf treats alike.
  std::vector<DWORD> classOf(256, 0);
  DWORD classes = 1;
  {
    std::map<tag_BYTEMASK, bool> seen;
    for (const tag_BYTEMASK& m : accepts) {
      if (!seen.emplace(m, true).second) continue;
      std::map<std::pair<DWORD, bool>, DWORD> split;
      for (DWORD c = 1; c < 256; ++c) {
        auto key = std::make_pair(classOf[c], Has(m, c));
        auto it = split.find(key);
        if (it == split.end()) it = split.emplace(key, static_cast<DWORD>(split.size())).first;
        classOf[c] = it->second;
      }
      classes = static_cast<DWORD>(split.size());
    }
  }
  std::vector<DWORD> representative(classes, 0);
  for (DWORD c = 255; c >= 1; --c) representative[classOf[c]] = c;
  // Per position: the classes it accepts.
  std::vector<tag_BYTEMASK> acceptsClass(positions, tag_BYTEMASK{0, 0, 0, 0});
  for (DWORD p = 0; p < positions; ++p)
    for (DWORD k = 0; k < classes; ++k)
      if (Has(accepts[p], representative[k])) Put(acceptsClass[p], k);
  std::vector<tag_BYTEMASK>().swap(accepts);

  const bool unanchored = IsUnanchored() != 0;
  std::unordered_multimap<uint64_t, DWORD> byHash;
  std::vector<WORD> rows;
  size_t entries = 0;
  auto addState = [&](std::vector<DWORD>&& set, uint64_t hash) -> WORD {
    if (m_states.size() >= MAX_STATES)
      throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
    entries += set.size();
    if (entries > MAX_STATE_ENTRIES)
      throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
    const DWORD id = static_cast<DWORD>(m_states.size());
    m_states.push_back(std::move(set));
    byHash.emplace(hash, id);
    rows.resize(rows.size() + 256, CDFATransTable::NONE);
    return static_cast<WORD>(id);
  };
  std::vector<DWORD> start = GetFirstPos();
  addState(std::move(start), HashPositions(GetFirstPos()));

  std::vector<DWORD> posStamp(positions, 0);
  std::vector<DWORD> setStamp(GetSetCount(), 0);
  DWORD generation = 0;
  std::vector<DWORD> u;
  std::vector<WORD> target(classes);
  for (size_t i = 0; i < m_states.size(); ++i) {
    for (DWORD k = 0; k < classes; ++k) {
      ++generation;
      u.clear();
      auto addSet = [&](DWORD id) {
        if (setStamp[id] == generation) return;
        setStamp[id] = generation;
        for (DWORD q : GetSet(id)) {
          if (posStamp[q] != generation) {
            posStamp[q] = generation;
            u.push_back(q);
          }
        }
      };
      bool moved = false;
      for (DWORD p : m_states[i]) {
        if (!Has(acceptsClass[p], k)) continue;
        moved = true;
        for (DWORD id : GetFollowSets(p)) addSet(id);
      }
      if (unanchored) addSet(GetRootFirstSet());
      if (u.empty() || (!moved && !unanchored)) {
        target[k] = CDFATransTable::NONE;
        continue;
      }
      std::sort(u.begin(), u.end());
      const uint64_t hash = HashPositions(u);
      WORD found = CDFATransTable::NONE;
      for (auto range = byHash.equal_range(hash); range.first != range.second; ++range.first) {
        if (m_states[range.first->second] == u) {
          found = static_cast<WORD>(range.first->second);
          break;
        }
      }
      if (found == CDFATransTable::NONE) found = addState(std::vector<DWORD>(u), hash);
      target[k] = found;
    }
    WORD* row = rows.data() + i * 256;
    for (DWORD c = 1; c < 256; ++c) row[c] = target[classOf[c]];
  }

  CSetBits accepting;
  for (size_t s = 0; s < m_states.size(); ++s)
    if (!m_states[s].empty() && m_states[s].back() == endPosition) accepting.SetBitAt(static_cast<DWORD>(s), 1);
  const DWORD stateCount = static_cast<DWORD>(m_states.size());

  Clear();
  CSharedObjPtr<CDFATransTable> table = new CDFATransTable;
  table->BuildFromRows(rows, stateCount, 256, accepting);
  m_pTable = table;
}

}  // namespace telsor
