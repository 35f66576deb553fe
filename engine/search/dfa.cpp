// Subset construction over position sets, one pass per state and byte
// class, results packed into a CDFATransTable.
//
// The stages, in order (ConstructStates): the bytes each position accepts
// (AcceptedBytes), the byte classes they make (FindByteClasses), each
// position's bytes turned into classes (ToClassMasks), F's moves
// (MovesOfStart, GroupStartMoves; without the anchor only), every state's
// moves (ExpandState, through CountLists, FillLists, FindEqualLists and
// MoveByClass), the accepting states, and the packed table.
#include "search/dfa.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "foundation/errorroad.h"

namespace telsor {

namespace {
typedef std::array<uint64_t, 4> tag_BYTEMASK;  // 256 bits: bytes, or classes
const DWORD kNoIndex = 0xFFFFFFFFu;

// A set's hash is the sum of its members' mixed values: it does not depend
// on their order, so sets are kept in the order their members came and
// never sorted.
uint64_t MixPosition(uint64_t p) {
  uint64_t z = p + 0x9e3779b97f4a7c15ull;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

uint64_t HashPositions(tag_DWORD_RUN set) {
  uint64_t h = 0;
  for (DWORD p : set) h += MixPosition(p);
  return h;
}

bool Has(const tag_BYTEMASK& m, DWORD bit) { return (m[bit >> 6] >> (bit & 63)) & 1; }
void Put(tag_BYTEMASK& m, DWORD bit) { m[bit >> 6] |= uint64_t(1) << (bit & 63); }
void Drop(tag_BYTEMASK& m, DWORD bit) { m[bit >> 6] &= ~(uint64_t(1) << (bit & 63)); }

// f(bit) for every bit set in the first `words` words of m, in increasing
// order.
template <class F>
void ForEachBit(const tag_BYTEMASK& m, DWORD words, const F& f) {
  for (DWORD word = 0; word < words; ++word)
    for (uint64_t bits = m[word]; bits != 0; bits &= bits - 1) f(word * 64 + static_cast<DWORD>(__builtin_ctzll(bits)));
}

[[noreturn]] void ThrowTooManyStates() { throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr); }

// ---- byte classes ----

// Per position, the bytes its leaf accepts (END none; byte 0 never moves):
// what MatchCharNode says, read off the leaves at once.
std::vector<tag_BYTEMASK> AcceptedBytes(const CFA& fa) {
  const DWORD positions = fa.GetPositionCount();
  std::vector<tag_BYTEMASK> accepts(positions, tag_BYTEMASK{0, 0, 0, 0});
  for (DWORD p = 0; p < positions; ++p) {
    const tag_TREE_NODE& leaf = fa.GetNode(fa.GetPositionNode(p));
    tag_BYTEMASK& m = accepts[p];
    switch (leaf.kind) {
      case NODE_END: break;
      case NODE_CHAR: Put(m, leaf.ch); break;
      case NODE_ANY:
        m = tag_BYTEMASK{~uint64_t(0), ~uint64_t(0), ~uint64_t(0), ~uint64_t(0)};
        Drop(m, 0x0A);
        break;
      default: {
        const BYTE* bytes = leaf.set.GetBytes();
        const DWORD length = leaf.set.GetByteLength() < 32 ? leaf.set.GetByteLength() : 32;
        for (DWORD i = 0; i < length; ++i) m[i >> 3] |= uint64_t(bytes[i]) << (8 * (i & 7));
        break;
      }
    }
    Drop(m, 0);
  }
  return accepts;
}

// The distinct masks, in the order they first come, found through a hash
// table of their indices.
std::vector<tag_BYTEMASK> DistinctMasks(const std::vector<tag_BYTEMASK>& masks) {
  std::vector<tag_BYTEMASK> seen;
  seen.reserve(masks.size());
  size_t slots = 16;
  while (slots < 2 * masks.size()) slots *= 2;
  std::vector<DWORD> seenAt(slots, kNoIndex);
  for (const tag_BYTEMASK& m : masks) {
    const uint64_t h = MixPosition(m[0] ^ MixPosition(m[1] ^ MixPosition(m[2] ^ MixPosition(m[3]))));
    size_t at = static_cast<size_t>(h) & (slots - 1);
    while (seenAt[at] != kNoIndex && seen[seenAt[at]] != m) at = (at + 1) & (slots - 1);
    if (seenAt[at] != kNoIndex) continue;
    seenAt[at] = static_cast<DWORD>(seen.size());
    seen.push_back(m);
  }
  return seen;
}

// Bytes 1..255 that every leaf treats alike share a class; classes are
// numbered 0 .. count - 1 in the order of their first byte. Byte 0 has none
// of its own here (it never moves; the table gives it class count).
struct tag_BYTE_CLASSES {
  std::array<DWORD, 256> classOf{};
  DWORD count = 0;
};

// Each distinct set of accepted bytes splits every class it cuts into the
// bytes in it (a new class) and the others (the old one); a class the set
// holds whole stays as it is, so there are never more than 256.
tag_BYTE_CLASSES FindByteClasses(const std::vector<tag_BYTEMASK>& accepts) {
  std::array<DWORD, 256> classOf{};
  std::array<DWORD, 256> size{};  // bytes per class
  size[0] = 256;
  std::array<DWORD, 256> inMask;  // per class: its bytes in the set at hand
  std::array<DWORD, 256> split;   // per class: where its bytes in the set go
  DWORD made = 1;
  for (const tag_BYTEMASK& m : DistinctMasks(accepts)) {
    std::fill(inMask.begin(), inMask.begin() + made, 0);
    std::fill(split.begin(), split.begin() + made, kNoIndex);
    ForEachBit(m, 4, [&](DWORD c) { ++inMask[classOf[c]]; });
    ForEachBit(m, 4, [&](DWORD c) {
      const DWORD k = classOf[c];
      DWORD& to = split[k];
      if (to == kNoIndex) {
        to = inMask[k] == size[k] ? k : made++;
        size[k] -= inMask[k];
        size[to] += inMask[k];
      }
      classOf[c] = to;
    });
  }
  tag_BYTE_CLASSES out;
  std::array<DWORD, 256> number;
  std::fill(number.begin(), number.begin() + made, kNoIndex);
  for (DWORD c = 1; c < 256; ++c) {
    DWORD& n = number[classOf[c]];
    if (n == kNoIndex) n = out.count++;
    out.classOf[c] = n;
  }
  return out;
}

// Per position: the classes it accepts (a position takes a class whole),
// in place of its bytes.
void ToClassMasks(std::vector<tag_BYTEMASK>& masks, const tag_BYTE_CLASSES& classes) {
  for (tag_BYTEMASK& bytes : masks) {
    tag_BYTEMASK m{0, 0, 0, 0};
    ForEachBit(bytes, 4, [&](DWORD c) { Put(m, classes.classOf[c]); });
    bytes = m;
  }
}

// ---- the states and the set being gathered ----

// The states made so far: the positions of each, unsorted, in blocks that
// never move (no set is copied twice; each block twice the size of the one
// before, since touching fresh memory is much of the cost), found by the
// hash of their set (open addressing, a power of two of slots, at most
// half of them used); and their rows over the classes, the last column
// byte 0's, which never moves.
class CStateSets {
 public:
  CStateSets(size_t width, size_t expected, const tag_REGEX_COSTS& limits, tag_REGEX_COSTS& used)
      : m_width(width), m_byHash(64, std::make_pair(uint64_t(0), kNoIndex)), m_limits(limits), m_used(used) {
    rows.reserve(width * expected);
    m_begin.reserve(expected);
    m_size.reserve(expected);
  }

  size_t Count() const { return m_begin.size(); }
  tag_DWORD_RUN Set(size_t s) const { return tag_DWORD_RUN{m_begin[s], m_begin[s] + m_size[s]}; }

  // A new state of the set. Throws E_SEEK_TOO_MANY_STATES past the limits.
  WORD Add(tag_DWORD_RUN set, uint64_t hash) {
    if (Count() >= m_limits.states) ThrowTooManyStates();
    m_entries += set.size();
    m_used.states = Count() + 1;
    m_used.stateEntries = m_entries;
    if (m_entries > m_limits.stateEntries) ThrowTooManyStates();
    const DWORD id = static_cast<DWORD>(Count());
    if (m_blocks.empty() || m_blockFree < set.size()) {
      m_blockSize = std::max(std::max(2 * m_blockSize, size_t(4096)), set.size());
      m_blocks.emplace_back(new DWORD[m_blockSize]);
      m_blockFree = m_blockSize;
    }
    DWORD* at = m_blocks.back().get() + (m_blockSize - m_blockFree);
    std::copy(set.begin(), set.end(), at);
    m_blockFree -= set.size();
    m_begin.push_back(at);
    m_size.push_back(static_cast<DWORD>(set.size()));
    if (2 * (id + 1) > m_byHash.size()) {
      std::vector<std::pair<uint64_t, DWORD>> old(2 * m_byHash.size(), std::make_pair(uint64_t(0), kNoIndex));
      old.swap(m_byHash);
      for (const auto& e : old)
        if (e.second != kNoIndex) Enter(e.first, e.second);
    }
    Enter(hash, id);
    rows.resize(rows.size() + m_width, CDFATransTable::NONE);
    return static_cast<WORD>(id);
  }

  // The state of this hash whose set has `size` members, each stamped
  // `generation`, or NONE.
  WORD Find(uint64_t hash, size_t size, const std::vector<DWORD>& stamp, DWORD generation) const {
    for (size_t i = SlotOf(hash); m_byHash[i].second != kNoIndex; i = (i + 1) & (m_byHash.size() - 1)) {
      if (m_byHash[i].first != hash) continue;
      const DWORD id = m_byHash[i].second;
      if (m_size[id] != size) continue;
      const DWORD* set = m_begin[id];
      bool same = true;
      for (DWORD k = 0; same && k < m_size[id]; ++k) same = stamp[set[k]] == generation;
      if (same) return static_cast<WORD>(id);
    }
    return CDFATransTable::NONE;
  }

  std::vector<WORD> rows;

 private:
  size_t SlotOf(uint64_t hash) const { return static_cast<size_t>(hash ^ (hash >> 29)) & (m_byHash.size() - 1); }
  void Enter(uint64_t hash, DWORD id) {
    size_t i = SlotOf(hash);
    while (m_byHash[i].second != kNoIndex) i = (i + 1) & (m_byHash.size() - 1);
    m_byHash[i] = std::make_pair(hash, id);
  }

  const size_t m_width;
  std::vector<std::unique_ptr<DWORD[]>> m_blocks;
  size_t m_blockSize = 0;
  size_t m_blockFree = 0;
  std::vector<const DWORD*> m_begin;
  std::vector<DWORD> m_size;
  size_t m_entries = 0;
  std::vector<std::pair<uint64_t, DWORD>> m_byHash;
  const tag_REGEX_COSTS& m_limits;
  tag_REGEX_COSTS& m_used;
};

// The set of one move being gathered: its members in the order they came,
// each stamped with the generation, and the sum of their mixed values.
// Also the work of all moves: uniting follow sets is bounded, since
// patterns such as x.{1,300}y have few states but large sets with long
// follow lists, whose unions would take seconds.
class CGathered {
 public:
  CGathered(const CFA& fa, size_t limit, size_t& used)
      : m_fa(fa), m_posStamp(fa.GetPositionCount(), 0), m_setStamp(fa.GetSetCount(), 0), m_limit(limit), m_used(used) {
    m_members.reserve(fa.GetPositionCount());
  }

  void StartEmpty() {
    ++m_generation;
    m_members.clear();
    m_hash = 0;
  }
  void StartWith(const DWORD* set, const DWORD* end, uint64_t hash) {
    Stamp(set, end);
    m_members.assign(set, end);
    m_hash = hash;
  }
  // Unites pool set id into the set.
  void AddSet(DWORD id) {
    CountWork(1);
    if (m_setStamp[id] == m_generation) return;
    m_setStamp[id] = m_generation;
    m_work += m_fa.GetSet(id).size();
    for (DWORD q : m_fa.GetSet(id)) {
      if (m_posStamp[q] != m_generation) {
        m_posStamp[q] = m_generation;
        m_members.push_back(q);
        m_hash += MixPosition(q);
      }
    }
  }
  void AddFollowSets(DWORD position) {
    for (DWORD id : m_fa.GetFollowSets(position)) AddSet(id);
  }
  void CountWork(size_t n) {
    m_work += n;
    m_used = m_work;
    if (m_work > m_limit) ThrowTooManyStates();
  }
  // Stamp marks positions in a new generation (the set at hand is then
  // stale); Holds tells whether all of these carry it.
  void Stamp(const DWORD* set, const DWORD* end) {
    ++m_generation;
    for (const DWORD* q = set; q != end; ++q) m_posStamp[*q] = m_generation;
  }
  bool Holds(const DWORD* set, const DWORD* end) const {
    for (const DWORD* q = set; q != end; ++q)
      if (m_posStamp[*q] != m_generation) return false;
    return true;
  }

  bool Empty() const { return m_members.empty(); }
  const std::vector<DWORD>& Members() const { return m_members; }
  uint64_t Hash() const { return m_hash; }

  // The state whose set this is, made when it is new.
  WORD StateIn(CStateSets& states) const {
    const WORD s = states.Find(m_hash, m_members.size(), m_posStamp, m_generation);
    if (s != CDFATransTable::NONE) return s;
    return states.Add(tag_DWORD_RUN{m_members.data(), m_members.data() + m_members.size()}, m_hash);
  }

 private:
  const CFA& m_fa;
  std::vector<DWORD> m_members;
  uint64_t m_hash = 0;
  std::vector<DWORD> m_posStamp;
  std::vector<DWORD> m_setStamp;
  DWORD m_generation = 0;
  size_t m_work = 0;
  const size_t m_limit;
  size_t& m_used;
};

// ---- F's moves ----

// Without an anchor every state holds firstpos(root), F, and its move on a
// class is F's move united with the follow sets of its other positions
// that take the class: F's moves are made once, and a state whose other
// positions do not take the class moves where F does. (The states and
// their numbers are those of the plain construction.) With the anchor
// nothing is in F here and every group is 0.
struct tag_START_MOVES {
  std::vector<BYTE> inF;         // per position
  std::vector<DWORD> positions;  // F's move on class k: [start[k], start[k + 1])
  std::array<size_t, 257> start;
  std::array<uint64_t, 256> hash;
  std::array<DWORD, 256> group;  // the first class whose move is the same set
  std::array<WORD, 256> state;   // the state of the move, NONE until made
};

tag_START_MOVES MovesOfStart(const CFA& fa, const std::vector<tag_BYTEMASK>& classMasks, DWORD classes,
                             CGathered& gathered) {
  tag_START_MOVES f;
  f.inF.assign(fa.GetPositionCount(), 0);
  f.start[0] = 0;
  std::fill(f.group.begin(), f.group.begin() + classes, 0);
  if (!fa.IsUnanchored()) return f;
  std::fill(f.state.begin(), f.state.begin() + classes, CDFATransTable::NONE);
  for (DWORD p : fa.GetFirstPos()) f.inF[p] = 1;
  for (DWORD k = 0; k < classes; ++k) {
    gathered.StartEmpty();
    gathered.AddSet(fa.GetRootFirstSet());
    for (DWORD p : fa.GetFirstPos())
      if (Has(classMasks[p], k)) gathered.AddFollowSets(p);
    f.positions.insert(f.positions.end(), gathered.Members().begin(), gathered.Members().end());
    f.start[k + 1] = f.positions.size();
    f.hash[k] = gathered.Hash();
  }
  return f;
}

// Classes whose moves from F are the same set share a group.
void GroupStartMoves(tag_START_MOVES& f, DWORD classes, CGathered& gathered) {
  const DWORD* const moves = f.positions.data();
  for (DWORD k = 0; k < classes; ++k) {
    f.group[k] = k;
    for (DWORD j = 0; j < k; ++j) {
      if (f.group[j] != j || f.hash[j] != f.hash[k] || f.start[j + 1] - f.start[j] != f.start[k + 1] - f.start[k])
        continue;
      gathered.Stamp(moves + f.start[j], moves + f.start[j + 1]);
      if (!gathered.Holds(moves + f.start[k], moves + f.start[k + 1])) continue;
      f.group[k] = j;
      break;
    }
  }
}

// ---- one state's moves ----

// Per state, the positions outside F (all of them when anchored) sorted
// into one list per class they take, in the state's order: a class's move
// unites the follow sets of its list (and F's move). Per-class arrays are
// over the at most 255 classes, and class masks use only the words that
// hold a class. Made once, reused for every state.
struct tag_CLASS_LISTS {
  explicit tag_CLASS_LISTS(DWORD classes) : classWords((classes + 63) / 64) {
    std::fill(count.begin(), count.begin() + classes, 0);
    std::fill(hash.begin(), hash.begin() + classes, 0);
    while (slotCount < 2 * classes + 2) slotCount *= 2;
    slots.assign(slotCount, std::make_pair(0u, 0u));
  }

  const DWORD classWords;
  tag_BYTEMASK touched;           // the classes some list holds
  std::array<DWORD, 256> count;   // per class: its list's length, then its end
  std::array<DWORD, 256> from;    // list k is lists[from[k] .. count[k])
  std::vector<DWORD> lists;
  std::array<uint64_t, 256> hash;
  std::array<DWORD, 256> sameAs;  // an earlier class that moves alike, or itself
  // Classes by list hash: open addressing over slots stamped per state (a
  // power of two of them, more than twice the classes).
  size_t slotCount = 4;
  std::vector<std::pair<DWORD, DWORD>> slots;  // stamp, class
  DWORD slotStamp = 0;
};

// Counts the entries of one state's lists (its positions outside F when
// unanchored) per class and in all, and the classes that have any.
DWORD CountLists(tag_DWORD_RUN set, const std::vector<tag_BYTEMASK>& classMasks, const tag_START_MOVES& f,
                 bool unanchored, tag_CLASS_LISTS& l) {
  l.touched = tag_BYTEMASK{0, 0, 0, 0};
  DWORD total = 0;
  for (DWORD p : set) {
    if (unanchored && f.inF[p]) continue;
    const tag_BYTEMASK& m = classMasks[p];
    for (DWORD word = 0; word < l.classWords; ++word) {
      l.touched[word] |= m[word];
      for (uint64_t bits = m[word]; bits != 0; bits &= bits - 1) {
        ++l.count[word * 64 + static_cast<DWORD>(__builtin_ctzll(bits))];
        ++total;
      }
    }
  }
  return total;
}

// Puts the positions into their lists, whose ends were counted.
void FillLists(tag_DWORD_RUN set, DWORD total, const std::vector<tag_BYTEMASK>& classMasks, const tag_START_MOVES& f,
               bool unanchored, tag_CLASS_LISTS& l) {
  l.lists.resize(total);
  DWORD next = 0;
  ForEachBit(l.touched, l.classWords, [&](DWORD k) {
    l.from[k] = next;
    next += l.count[k];
    l.count[k] = l.from[k];
  });
  for (DWORD p : set) {
    if (unanchored && f.inF[p]) continue;
    ForEachBit(classMasks[p], l.classWords, [&](DWORD k) {
      l.lists[l.count[k]++] = p;
      l.hash[k] = (l.hash[k] ^ p) * 0x100000001b3ull;
    });
  }
}

// Two classes with equal lists that F moves alike go to the same state,
// found once: sameAs names the first of them.
void FindEqualLists(const tag_START_MOVES& f, bool unanchored, tag_CLASS_LISTS& l) {
  ++l.slotStamp;
  const size_t mask = l.slotCount - 1;
  ForEachBit(l.touched, l.classWords, [&](DWORD k) {
    l.sameAs[k] = k;
    const uint64_t h = l.hash[k] ^ (unanchored ? MixPosition(f.group[k]) : 0);
    l.hash[k] = h;
    for (size_t at = static_cast<size_t>(h ^ (h >> 32)) & mask;; at = (at + 1) & mask) {
      if (l.slots[at].first != l.slotStamp) {
        l.slots[at] = std::make_pair(l.slotStamp, k);
        break;
      }
      const DWORD j = l.slots[at].second;
      if (l.hash[j] != h || f.group[j] != f.group[k] || l.count[j] - l.from[j] != l.count[k] - l.from[k] ||
          !std::equal(l.lists.begin() + l.from[j], l.lists.begin() + l.count[j], l.lists.begin() + l.from[k]))
        continue;
      l.sameAs[k] = j;
      break;
    }
  });
}

// The state's targets per class. Only the classes some list holds are
// visited: the others move where F does (once F's move has a state; until
// then they are visited too, in order, so the states keep the numbers of
// the plain construction), or nowhere.
void MoveByClass(DWORD classes, bool unanchored, const tag_CLASS_LISTS& l, tag_START_MOVES& f,
                 tag_BYTEMASK& pending, CGathered& gathered, CStateSets& states, WORD* target) {
  if (unanchored) {
    std::copy(f.state.begin(), f.state.begin() + classes, target);
  } else {
    std::fill(target, target + classes, CDFATransTable::NONE);
  }
  tag_BYTEMASK visit = l.touched;
  for (DWORD word = 0; word < l.classWords; ++word) visit[word] |= pending[word];
  const DWORD* const moves = f.positions.data();
  ForEachBit(visit, l.classWords, [&](DWORD k) {
    if (!Has(l.touched, k)) {  // only F takes the class
      gathered.StartWith(moves + f.start[k], moves + f.start[k + 1], f.hash[k]);
      f.state[k] = gathered.StateIn(states);
      Drop(pending, k);
      target[k] = f.state[k];
      return;
    }
    if (l.sameAs[k] != k) {
      target[k] = target[l.sameAs[k]];
      return;
    }
    if (unanchored) {
      gathered.StartWith(moves + f.start[k], moves + f.start[k + 1], f.hash[k]);
    } else {
      gathered.StartEmpty();
    }
    for (DWORD o = l.from[k]; o < l.count[k]; ++o) gathered.AddFollowSets(l.lists[o]);
    target[k] = gathered.Empty() ? CDFATransTable::NONE : gathered.StateIn(states);
  });
}

// State i's row: its moves on every class.
void ExpandState(size_t i, DWORD classes, const std::vector<tag_BYTEMASK>& classMasks, bool unanchored,
                 tag_START_MOVES& f, tag_BYTEMASK& pending, tag_CLASS_LISTS& l, CGathered& gathered,
                 CStateSets& states) {
  const tag_DWORD_RUN set = states.Set(i);
  const DWORD total = CountLists(set, classMasks, f, unanchored, l);
  gathered.CountWork(total + classes);
  FillLists(set, total, classMasks, f, unanchored, l);
  FindEqualLists(f, unanchored, l);
  std::array<WORD, 256> target;
  MoveByClass(classes, unanchored, l, f, pending, gathered, states, target.data());
  ForEachBit(l.touched, l.classWords, [&](DWORD k) {
    l.count[k] = 0;
    l.hash[k] = 0;
  });
  const size_t width = classes + 1;
  std::copy(target.begin(), target.begin() + classes, states.rows.begin() + static_cast<ptrdiff_t>(i * width));
}

}  // namespace

CDFA::CDFA() { m_limits = OwnLimits(); }

CDFA::~CDFA() {}

void CDFA::Clear() {
  m_pTable = nullptr;
  m_rows = tag_CLASS_ROWS();
  CFA::Clear();
}

tag_REGEX_COSTS CDFA::OwnLimits() { return tag_REGEX_COSTS{MAX_STATES, MAX_STATE_ENTRIES, MAX_SET_ENTRIES, MAX_WORK, SIZE_MAX}; }

void CDFA::BuildFromRegExpr(const char* pattern) {
  m_used = tag_REGEX_COSTS{0, 0, 0, 0, 0};
  WithMemoryException([&] {
    Clear();
    BuildSyntaxTree(pattern);
    ConstructStates();
  });
}

void CDFA::ConstructStates() {
  tag_CLASS_ROWS built;
  CSetBits accepting;
  {
    std::vector<tag_BYTEMASK> classMasks = AcceptedBytes(*this);
    const tag_BYTE_CLASSES classes = FindByteClasses(classMasks);
    ToClassMasks(classMasks, classes);
    const bool unanchored = IsUnanchored() != 0;
    const size_t width = classes.count + 1;
    CStateSets states(width, GetNodeCount() < 1024 ? GetNodeCount() : 1024, m_limits, m_used);
    states.Add(GetFirstPos(), HashPositions(GetFirstPos()));
    CGathered gathered(*this, m_limits.work, m_used.work);
    tag_START_MOVES f = MovesOfStart(*this, classMasks, classes.count, gathered);
    if (unanchored) GroupStartMoves(f, classes.count, gathered);
    tag_CLASS_LISTS lists(classes.count);
    tag_BYTEMASK pending{0, 0, 0, 0};  // classes whose move from F has no state yet
    if (unanchored)
      for (DWORD k = 0; k < classes.count; ++k) Put(pending, k);
    for (size_t i = 0; i < states.Count(); ++i)
      ExpandState(i, classes.count, classMasks, unanchored, f, pending, lists, gathered, states);

    const DWORD endPosition = GetPositionCount() - 1;
    for (size_t s = 0; s < states.Count(); ++s) {
      const tag_DWORD_RUN set = states.Set(s);
      if (std::find(set.begin(), set.end(), endPosition) != set.end()) accepting.SetBitAt(static_cast<DWORD>(s), 1);
    }
    built.states = static_cast<DWORD>(states.Count());
    built.alphabet = 256;
    built.classes = static_cast<DWORD>(width);
    built.classOf[0] = static_cast<BYTE>(classes.count);
    for (DWORD c = 1; c < 256; ++c) built.classOf[c] = static_cast<BYTE>(classes.classOf[c]);
    built.rows.swap(states.rows);
  }

  Clear();
  CSharedObjPtr<CDFATransTable> table = new CDFATransTable;
  table->BuildFromClasses(built, accepting);
  m_pTable = table;
  m_rows = std::move(built);
}

}  // namespace telsor
