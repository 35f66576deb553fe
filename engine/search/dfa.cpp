// Subset construction over position sets, one pass per state and byte
// class, results packed into a CDFATransTable.
#include "search/dfa.h"

#include <stdint.h>
#include <string.h>

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

// sameAs[k] := the first class j <= k that the given positions all take or
// leave alike with k (and, with groupOfF, that firstpos(root) moves alike).
void GroupClasses(const std::vector<DWORD>& positions, const std::vector<tag_BYTEMASK>& accepts,
                  const std::vector<DWORD>* groupOfF, std::vector<DWORD>& sameAs) {
  const size_t classes = sameAs.size();
  std::vector<uint64_t> signature(classes);
  for (size_t k = 0; k < classes; ++k) signature[k] = groupOfF ? (*groupOfF)[k] + 1 : 1;
  for (size_t o = 0; o < positions.size(); ++o) {
    const tag_BYTEMASK& takes = accepts[positions[o]];
    for (DWORD word = 0; word < 4; ++word)
      for (uint64_t bits = takes[word]; bits != 0; bits &= bits - 1) {
        uint64_t& sig = signature[word * 64 + static_cast<DWORD>(__builtin_ctzll(bits))];
        sig = (sig ^ (o + 1)) * 0x100000001b3ull;
      }
  }
  // Classes by signature (open addressing), checked in full.
  std::vector<DWORD> slots(2 * classes + 2, 0xFFFFFFFFu);
  for (DWORD k = 0; k < classes; ++k) {
    for (size_t i = signature[k] % slots.size();; i = (i + 1) % slots.size()) {
      const DWORD j = slots[i];
      if (j == 0xFFFFFFFFu) {
        slots[i] = k;
        break;
      }
      if (signature[j] != signature[k] || (groupOfF && (*groupOfF)[j] != (*groupOfF)[k])) continue;
      bool alike = true;
      for (DWORD p : positions) alike = alike && Has(accepts[p], j) == Has(accepts[p], k);
      if (alike) {
        sameAs[k] = j;
        break;
      }
    }
  }
}
}  // namespace

CDFA::CDFA() {}

CDFA::~CDFA() {}

void CDFA::Clear() {
  std::vector<std::vector<DWORD>>().swap(m_states);
  m_pTable = nullptr;
  m_rows = tag_CLASS_ROWS();
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
  // (The masks say what MatchCharNode says, read off the leaves at once.)
  std::vector<tag_BYTEMASK> accepts(positions, tag_BYTEMASK{0, 0, 0, 0});
  for (DWORD p = 0; p < positions; ++p) {
    const tag_TREE_NODE& leaf = GetNode(GetPositionNode(p));
    tag_BYTEMASK& m = accepts[p];
    switch (leaf.kind) {
      case NODE_END: break;
      case NODE_CHAR: Put(m, leaf.ch); break;
      case NODE_ANY:
        m = tag_BYTEMASK{~uint64_t(0), ~uint64_t(0), ~uint64_t(0), ~uint64_t(0)};
        m[0] &= ~(uint64_t(1) << 0x0A);
        break;
      default: {
        const BYTE* bytes = leaf.set.GetBytes();
        const DWORD length = leaf.set.GetByteLength() < 32 ? leaf.set.GetByteLength() : 32;
        for (DWORD i = 0; i < length; ++i) m[i >> 3] |= uint64_t(bytes[i]) << (8 * (i & 7));
        break;
      }
    }
    m[0] &= ~uint64_t(1);  // byte 0 never moves
  }

  // Byte classes: bytes 1..255 that every leaf treats alike. Each distinct
  // set of accepted bytes splits every class it cuts into the bytes in it
  // (a new class) and the others (the old one); the classes are numbered
  // in the order of their first byte at the end.
  std::vector<DWORD> classOf(256, 0);
  DWORD classes = 1;
  {
    std::vector<tag_BYTEMASK> seen;
    std::vector<DWORD> split;  // per class: its new class in this round
    DWORD made = 1;
    for (const tag_BYTEMASK& m : accepts) {
      if (std::find(seen.begin(), seen.end(), m) != seen.end()) continue;
      seen.push_back(m);
      split.assign(made, 0xFFFFFFFFu);
      for (DWORD word = 0; word < 4; ++word) {
        for (uint64_t bits = m[word]; bits != 0; bits &= bits - 1) {
          const DWORD c = word * 64 + static_cast<DWORD>(__builtin_ctzll(bits));
          DWORD& to = split[classOf[c]];
          if (to == 0xFFFFFFFFu) to = made++;
          classOf[c] = to;
        }
      }
    }
    std::vector<DWORD> number(made, 0xFFFFFFFFu);
    classes = 0;
    for (DWORD c = 1; c < 256; ++c) {
      DWORD& n = number[classOf[c]];
      if (n == 0xFFFFFFFFu) n = classes++;
      classOf[c] = n;
    }
  }
  // Per position: the classes it accepts (a position takes a class whole).
  std::vector<tag_BYTEMASK> acceptsClass(positions, tag_BYTEMASK{0, 0, 0, 0});
  for (DWORD p = 0; p < positions; ++p)
    for (DWORD word = 0; word < 4; ++word)
      for (uint64_t bits = accepts[p][word]; bits != 0; bits &= bits - 1)
        Put(acceptsClass[p], classOf[word * 64 + static_cast<DWORD>(__builtin_ctzll(bits))]);
  std::vector<tag_BYTEMASK>().swap(accepts);

  const bool unanchored = IsUnanchored() != 0;
  // States by the hash of their set: open addressing, a power of two of
  // slots, at most half of them used.
  std::vector<std::pair<uint64_t, DWORD>> byHash(64, std::make_pair(uint64_t(0), 0xFFFFFFFFu));
  auto slotOf = [&](uint64_t hash) { return static_cast<size_t>(hash ^ (hash >> 29)) & (byHash.size() - 1); };
  auto enter = [&](uint64_t hash, DWORD id) {
    size_t i = slotOf(hash);
    while (byHash[i].second != 0xFFFFFFFFu) i = (i + 1) & (byHash.size() - 1);
    byHash[i] = std::make_pair(hash, id);
  };
  // Rows over the byte classes and one more class for byte 0, which never
  // moves.
  const size_t width = classes + 1;
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
    if (2 * (id + 1) > byHash.size()) {
      std::vector<std::pair<uint64_t, DWORD>> old(2 * byHash.size(), std::make_pair(uint64_t(0), 0xFFFFFFFFu));
      old.swap(byHash);
      for (const auto& e : old)
        if (e.second != 0xFFFFFFFFu) enter(e.first, e.second);
    }
    enter(hash, id);
    rows.resize(rows.size() + width, CDFATransTable::NONE);
    return static_cast<WORD>(id);
  };
  rows.reserve(width * static_cast<size_t>(GetNodeCount() < 1024 ? GetNodeCount() : 1024));
  std::vector<DWORD> start = GetFirstPos();
  addState(std::move(start), HashPositions(GetFirstPos()));

  std::vector<DWORD> posStamp(positions, 0);
  std::vector<DWORD> setStamp(GetSetCount(), 0);
  DWORD generation = 0;
  std::vector<DWORD> u;
  // The work of uniting follow sets is bounded too: patterns such as
  // x.{1,300}y have few states but large sets with long follow lists,
  // whose unions would take seconds.
  size_t work = 0;
  auto addSet = [&](DWORD id) {
    if (++work > MAX_WORK) throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
    if (setStamp[id] == generation) return;
    setStamp[id] = generation;
    work += GetSet(id).size();
    for (DWORD q : GetSet(id)) {
      if (posStamp[q] != generation) {
        posStamp[q] = generation;
        u.push_back(q);
      }
    }
  };
  // The state whose set is u (sorted here), made when it is new.
  auto stateOf = [&]() -> WORD {
    std::sort(u.begin(), u.end());
    const uint64_t hash = HashPositions(u);
    for (size_t i = slotOf(hash); byHash[i].second != 0xFFFFFFFFu; i = (i + 1) & (byHash.size() - 1))
      if (byHash[i].first == hash && m_states[byHash[i].second] == u) return static_cast<WORD>(byHash[i].second);
    return addState(std::vector<DWORD>(u), hash);
  };

  // Without an anchor every state holds firstpos(root), F, and its move on
  // a class is F's move united with the follow sets of its other positions
  // that take the class: F's moves are made once, and a state whose other
  // positions do not take the class moves where F does. (The states and
  // their numbers are those of the plain construction.)
  std::vector<std::vector<DWORD>> moveOfF;
  std::vector<WORD> stateOfF;
  std::vector<BYTE> inF(positions, 0);
  if (unanchored) {
    moveOfF.resize(classes);
    stateOfF.assign(classes, CDFATransTable::NONE);
    for (DWORD p : GetFirstPos()) inF[p] = 1;
    for (DWORD k = 0; k < classes; ++k) {
      ++generation;
      u.clear();
      addSet(GetRootFirstSet());
      for (DWORD p : GetFirstPos())
        if (Has(acceptsClass[p], k))
          for (DWORD id : GetFollowSets(p)) addSet(id);
      std::sort(u.begin(), u.end());
      moveOfF[k] = u;
    }
  }

  // Classes whose moves from F are the same set share a group.
  std::vector<DWORD> groupOfF(classes, 0);
  for (DWORD k = 0; unanchored && k < classes; ++k) {
    groupOfF[k] = k;
    for (DWORD j = 0; j < k; ++j)
      if (groupOfF[j] == j && moveOfF[j] == moveOfF[k]) {
        groupOfF[k] = j;
        break;
      }
  }

  std::vector<WORD> target(classes);
  std::vector<DWORD> others;  // positions of the state outside F (all without F)
  tag_BYTEMASK touched{0, 0, 0, 0};  // the classes they take
  std::vector<DWORD> sameAs(classes);  // an earlier class that moves alike, or itself
  for (size_t i = 0; i < m_states.size(); ++i) {
    others.clear();
    touched = tag_BYTEMASK{0, 0, 0, 0};
    for (DWORD p : m_states[i]) {
      if (unanchored && inF[p]) continue;
      others.push_back(p);
      for (DWORD word = 0; word < 4; ++word) touched[word] |= acceptsClass[p][word];
    }
    // Two classes that F moves alike and the same other positions take
    // move to the same state: with many positions to unite, each such
    // group is united once.
    for (DWORD k = 0; k < classes; ++k) sameAs[k] = k;
    if (others.size() > 8) GroupClasses(others, acceptsClass, unanchored ? &groupOfF : nullptr, sameAs);
    work += others.size() * 4 + classes;
    for (DWORD k = 0; k < classes; ++k) {
      if (sameAs[k] != k) {
        target[k] = target[sameAs[k]];
        continue;
      }
      if (unanchored) {
        bool moved = false;
        for (size_t o = Has(touched, k) ? 0 : others.size(); o < others.size(); ++o) {
          const DWORD p = others[o];
          if (!Has(acceptsClass[p], k)) continue;
          if (!moved) {
            ++generation;
            for (DWORD q : moveOfF[k]) posStamp[q] = generation;
            u = moveOfF[k];
            moved = true;
          }
          for (DWORD id : GetFollowSets(p)) addSet(id);
        }
        if (!moved) {  // only F takes the class
          if (stateOfF[k] == CDFATransTable::NONE) {
            u = moveOfF[k];
            stateOfF[k] = stateOf();
          }
          target[k] = stateOfF[k];
          continue;
        }
        target[k] = stateOf();
        continue;
      }
      ++generation;
      u.clear();
      bool moved = false;
      for (DWORD p : others) {
        if (!Has(acceptsClass[p], k)) continue;
        moved = true;
        for (DWORD id : GetFollowSets(p)) addSet(id);
      }
      target[k] = moved && !u.empty() ? stateOf() : CDFATransTable::NONE;
    }
    std::copy(target.begin(), target.end(), rows.begin() + static_cast<ptrdiff_t>(i * width));
  }

  CSetBits accepting;
  for (size_t s = 0; s < m_states.size(); ++s)
    if (!m_states[s].empty() && m_states[s].back() == endPosition) accepting.SetBitAt(static_cast<DWORD>(s), 1);
  const DWORD stateCount = static_cast<DWORD>(m_states.size());

  Clear();
  tag_CLASS_ROWS built;
  built.states = stateCount;
  built.alphabet = 256;
  built.classes = static_cast<DWORD>(width);
  built.classOf[0] = static_cast<BYTE>(classes);
  for (DWORD c = 1; c < 256; ++c) built.classOf[c] = static_cast<BYTE>(classOf[c]);
  built.rows.swap(rows);
  CSharedObjPtr<CDFATransTable> table = new CDFATransTable;
  table->BuildFromClasses(built, accepting);
  m_pTable = table;
  m_rows.rows.swap(built.rows);
  m_rows.states = built.states;
  m_rows.alphabet = built.alphabet;
  m_rows.classes = built.classes;
  memcpy(m_rows.classOf, built.classOf, sizeof m_rows.classOf);
}

}  // namespace telsor
