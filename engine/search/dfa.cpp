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

}  // namespace

CDFA::CDFA() {}

CDFA::~CDFA() {}

void CDFA::Clear() {
  std::vector<std::unique_ptr<DWORD[]>>().swap(m_blocks);
  m_blockFree = 0;
  std::vector<const DWORD*>().swap(m_setBegin);
  std::vector<DWORD>().swap(m_setSize);
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
  std::array<DWORD, 256> classOf{};
  DWORD classes = 1;
  {
    // The distinct masks, found through a hash table of their indices.
    std::vector<tag_BYTEMASK> seen;
    seen.reserve(positions);
    size_t seenSlots = 16;
    while (seenSlots < 2 * static_cast<size_t>(positions)) seenSlots *= 2;
    std::vector<DWORD> seenAt(seenSlots, 0xFFFFFFFFu);
    std::array<DWORD, 256> split;  // per class: its new class in this round
    DWORD made = 1;
    for (const tag_BYTEMASK& m : accepts) {
      const uint64_t h = MixPosition(m[0] ^ MixPosition(m[1] ^ MixPosition(m[2] ^ MixPosition(m[3]))));
      size_t at = static_cast<size_t>(h) & (seenSlots - 1);
      bool known = false;
      for (; seenAt[at] != 0xFFFFFFFFu; at = (at + 1) & (seenSlots - 1)) {
        const tag_BYTEMASK& o = seen[seenAt[at]];
        if (o[0] == m[0] && o[1] == m[1] && o[2] == m[2] && o[3] == m[3]) {
          known = true;
          break;
        }
      }
      if (known) continue;
      seenAt[at] = static_cast<DWORD>(seen.size());
      seen.push_back(m);
      std::fill(split.begin(), split.begin() + made, 0xFFFFFFFFu);
      for (DWORD word = 0; word < 4; ++word) {
        for (uint64_t bits = m[word]; bits != 0; bits &= bits - 1) {
          const DWORD c = word * 64 + static_cast<DWORD>(__builtin_ctzll(bits));
          DWORD& to = split[classOf[c]];
          if (to == 0xFFFFFFFFu) to = made++;
          classOf[c] = to;
        }
      }
    }
    std::array<DWORD, 256> number;
    std::fill(number.begin(), number.begin() + made, 0xFFFFFFFFu);
    classes = 0;
    for (DWORD c = 1; c < 256; ++c) {
      DWORD& n = number[classOf[c]];
      if (n == 0xFFFFFFFFu) n = classes++;
      classOf[c] = n;
    }
  }
  // Per position: the classes it accepts (a position takes a class whole),
  // in place of its bytes.
  std::vector<tag_BYTEMASK>& acceptsClass = accepts;
  for (DWORD p = 0; p < positions; ++p) {
    tag_BYTEMASK m{0, 0, 0, 0};
    for (DWORD word = 0; word < 4; ++word)
      for (uint64_t bits = accepts[p][word]; bits != 0; bits &= bits - 1)
        Put(m, classOf[word * 64 + static_cast<DWORD>(__builtin_ctzll(bits))]);
    acceptsClass[p] = m;
  }

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
  // The sets go into blocks that never move (no set is copied twice),
  // each block twice the size of the one before.
  size_t blockSize = 0;
  auto stateCount = [&]() { return m_setBegin.size(); };
  auto addState = [&](tag_DWORD_RUN set, uint64_t hash) -> WORD {
    if (stateCount() >= MAX_STATES)
      throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
    entries += set.size();
    if (entries > MAX_STATE_ENTRIES)
      throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
    const DWORD id = static_cast<DWORD>(stateCount());
    if (m_blocks.empty() || m_blockFree < set.size()) {
      blockSize = std::max(std::max(2 * blockSize, size_t(4096)), set.size());
      std::unique_ptr<DWORD[]> block(new DWORD[blockSize]);
      m_blocks.push_back(std::move(block));
      m_blockFree = blockSize;
    }
    DWORD* at = m_blocks.back().get() + (blockSize - m_blockFree);
    std::copy(set.begin(), set.end(), at);
    m_blockFree -= set.size();
    m_setBegin.push_back(at);
    m_setSize.push_back(static_cast<DWORD>(set.size()));
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
  const size_t expected = GetNodeCount() < 1024 ? GetNodeCount() : 1024;
  rows.reserve(width * expected);
  m_setBegin.reserve(expected);
  m_setSize.reserve(expected);
  addState(GetFirstPos(), HashPositions(GetFirstPos()));

  std::vector<DWORD> posStamp(positions, 0);
  std::vector<DWORD> setStamp(GetSetCount(), 0);
  DWORD generation = 0;
  // The set being gathered: its members in the order they came, each
  // stamped with the generation, and the sum of their mixed values.
  std::vector<DWORD> u;
  u.reserve(positions);
  uint64_t uHash = 0;
  // u := set, stamped in a new generation.
  auto startWith = [&](const DWORD* set, const DWORD* end, uint64_t hash) {
    ++generation;
    for (const DWORD* q = set; q != end; ++q) posStamp[*q] = generation;
    u.assign(set, end);
    uHash = hash;
  };
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
        uHash += MixPosition(q);
      }
    }
  };
  // The state whose set is u, made when it is new. A state of the same
  // hash and size equals u when every member carries u's stamp.
  auto stateOf = [&]() -> WORD {
    for (size_t i = slotOf(uHash); byHash[i].second != 0xFFFFFFFFu; i = (i + 1) & (byHash.size() - 1)) {
      if (byHash[i].first != uHash) continue;
      const DWORD* set = m_setBegin[byHash[i].second];
      const DWORD size = m_setSize[byHash[i].second];
      if (size != u.size()) continue;
      bool same = true;
      for (DWORD k = 0; same && k < size; ++k) same = posStamp[set[k]] == generation;
      if (same) return static_cast<WORD>(byHash[i].second);
    }
    return addState(tag_DWORD_RUN{u.data(), u.data() + u.size()}, uHash);
  };

  // Without an anchor every state holds firstpos(root), F, and its move on
  // a class is F's move united with the follow sets of its other positions
  // that take the class: F's moves are made once, and a state whose other
  // positions do not take the class moves where F does. (The states and
  // their numbers are those of the plain construction.)
  // F's move on class k: moveOfF[moveStart[k] .. moveStart[k + 1]).
  std::vector<DWORD> moveOfF;
  // (Per-class tables are arrays over the at most 255 classes.)
  std::array<size_t, 257> moveStart;
  moveStart[0] = 0;
  std::array<uint64_t, 256> hashOfF;
  std::array<WORD, 256> stateOfF;
  std::vector<BYTE> inF(positions, 0);
  if (unanchored) {
    std::fill(stateOfF.begin(), stateOfF.begin() + classes, CDFATransTable::NONE);
    for (DWORD p : GetFirstPos()) inF[p] = 1;
    for (DWORD k = 0; k < classes; ++k) {
      ++generation;
      u.clear();
      uHash = 0;
      addSet(GetRootFirstSet());
      for (DWORD p : GetFirstPos())
        if (Has(acceptsClass[p], k))
          for (DWORD id : GetFollowSets(p)) addSet(id);
      moveOfF.insert(moveOfF.end(), u.begin(), u.end());
      moveStart[k + 1] = moveOfF.size();
      hashOfF[k] = uHash;
    }
  }

  // Classes whose moves from F are the same set share a group.
  std::array<DWORD, 256> groupOfF;
  std::fill(groupOfF.begin(), groupOfF.begin() + classes, 0);
  for (DWORD k = 0; unanchored && k < classes; ++k) {
    groupOfF[k] = k;
    for (DWORD j = 0; j < k; ++j)
      if (groupOfF[j] == j && hashOfF[j] == hashOfF[k] &&
          moveStart[j + 1] - moveStart[j] == moveStart[k + 1] - moveStart[k]) {
        ++generation;
        for (size_t o = moveStart[j]; o < moveStart[j + 1]; ++o) posStamp[moveOfF[o]] = generation;
        bool same = true;
        for (size_t o = moveStart[k]; same && o < moveStart[k + 1]; ++o) same = posStamp[moveOfF[o]] == generation;
        if (!same) continue;
        groupOfF[k] = j;
        break;
      }
  }

  // Per state, the positions outside F (all of them when anchored) go into
  // one list per class they take, in the state's order: a class's move
  // unites the follow sets of its list (and F's move). Two classes with
  // equal lists that F moves alike go to the same state, found once. Only
  // the classes some list holds are visited: the others move where F does
  // (once F's move has a state; until then they are visited too, in order,
  // so the states keep the numbers of the plain construction), or nowhere.
  std::array<WORD, 256> target;
  std::array<DWORD, 256> count;  // per class: its list's length, then its end
  std::fill(count.begin(), count.begin() + classes, 0);
  std::array<DWORD, 256> listFrom;
  std::vector<DWORD> lists;
  std::array<uint64_t, 256> listHash;
  std::fill(listHash.begin(), listHash.begin() + classes, 0);
  std::array<DWORD, 256> sameAs;  // an earlier class that moves alike, or itself
  // Classes by list hash: open addressing over slots stamped per state.
  size_t slotCount = 4;  // a power of two, more than twice the classes
  while (slotCount < 2 * classes + 2) slotCount *= 2;
  std::vector<std::pair<DWORD, DWORD>> slots(slotCount, std::make_pair(0u, 0u));  // stamp, class
  DWORD slotStamp = 0;
  tag_BYTEMASK pending{0, 0, 0, 0};  // classes whose move from F has no state yet
  if (unanchored)
    for (DWORD k = 0; k < classes; ++k) Put(pending, k);
  // Class masks use only the words that hold a class.
  const DWORD classWords = (classes + 63) / 64;
  auto forBits = [classWords](const tag_BYTEMASK& m, const auto& f) {
    for (DWORD word = 0; word < classWords; ++word)
      for (uint64_t bits = m[word]; bits != 0; bits &= bits - 1) f(word * 64 + static_cast<DWORD>(__builtin_ctzll(bits)));
  };
  for (size_t i = 0; i < stateCount(); ++i) {
    const DWORD* set = m_setBegin[i];
    const DWORD* setEnd = set + m_setSize[i];
    tag_BYTEMASK touched{0, 0, 0, 0};
    DWORD total = 0;
    for (const DWORD* at = set; at != setEnd; ++at) {
      const DWORD p = *at;
      if (unanchored && inF[p]) continue;
      const tag_BYTEMASK& m = acceptsClass[p];
      for (DWORD word = 0; word < classWords; ++word) {
        touched[word] |= m[word];
        for (uint64_t bits = m[word]; bits != 0; bits &= bits - 1) {
          ++count[word * 64 + static_cast<DWORD>(__builtin_ctzll(bits))];
          ++total;
        }
      }
    }
    work += total + classes;
    if (work > MAX_WORK) throw new CFAException(static_cast<DWORD>(E_SEEK_TOO_MANY_STATES), nullptr);
    lists.resize(total);
    DWORD next = 0;
    forBits(touched, [&](DWORD k) {
      listFrom[k] = next;
      next += count[k];
      count[k] = listFrom[k];
    });
    for (const DWORD* at = set; at != setEnd; ++at) {
      const DWORD p = *at;
      if (unanchored && inF[p]) continue;
      forBits(acceptsClass[p], [&](DWORD k) {
        lists[count[k]++] = p;
        listHash[k] = (listHash[k] ^ p) * 0x100000001b3ull;
      });
    }
    // Now list k is lists[listFrom[k] .. count[k]).
    ++slotStamp;
    forBits(touched, [&](DWORD k) {
      sameAs[k] = k;
      const uint64_t h = listHash[k] ^ (unanchored ? MixPosition(groupOfF[k]) : 0);
      listHash[k] = h;
      for (size_t at = static_cast<size_t>(h ^ (h >> 32)) & (slotCount - 1);; at = (at + 1) & (slotCount - 1)) {
        if (slots[at].first != slotStamp) {
          slots[at] = std::make_pair(slotStamp, k);
          break;
        }
        const DWORD j = slots[at].second;
        if (listHash[j] != h || groupOfF[j] != groupOfF[k] || count[j] - listFrom[j] != count[k] - listFrom[k] ||
            !std::equal(lists.begin() + listFrom[j], lists.begin() + count[j], lists.begin() + listFrom[k]))
          continue;
        sameAs[k] = j;
        break;
      }
    });
    if (unanchored) {
      std::copy(stateOfF.begin(), stateOfF.begin() + classes, target.begin());
    } else {
      std::fill(target.begin(), target.begin() + classes, CDFATransTable::NONE);
    }
    tag_BYTEMASK visit = touched;
    for (DWORD word = 0; word < classWords; ++word) visit[word] |= pending[word];
    forBits(visit, [&](DWORD k) {
      if (!Has(touched, k)) {  // only F takes the class
        startWith(moveOfF.data() + moveStart[k], moveOfF.data() + moveStart[k + 1], hashOfF[k]);
        stateOfF[k] = stateOf();
        pending[k >> 6] &= ~(uint64_t(1) << (k & 63));
        target[k] = stateOfF[k];
        return;
      }
      if (sameAs[k] != k) {
        target[k] = target[sameAs[k]];
        return;
      }
      if (unanchored) {
        startWith(moveOfF.data() + moveStart[k], moveOfF.data() + moveStart[k + 1], hashOfF[k]);
      } else {
        ++generation;
        u.clear();
        uHash = 0;
      }
      for (DWORD o = listFrom[k]; o < count[k]; ++o)
        for (DWORD id : GetFollowSets(lists[o])) addSet(id);
      target[k] = u.empty() ? CDFATransTable::NONE : stateOf();
    });
    forBits(touched, [&](DWORD k) {
      count[k] = 0;
      listHash[k] = 0;
    });
    std::copy(target.begin(), target.begin() + classes, rows.begin() + static_cast<ptrdiff_t>(i * width));
  }

  CSetBits accepting;
  for (size_t s = 0; s < stateCount(); ++s) {
    const DWORD* set = m_setBegin[s];
    if (std::find(set, set + m_setSize[s], endPosition) != set + m_setSize[s])
      accepting.SetBitAt(static_cast<DWORD>(s), 1);
  }
  const DWORD states = static_cast<DWORD>(stateCount());

  Clear();
  tag_CLASS_ROWS built;
  built.states = states;
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
