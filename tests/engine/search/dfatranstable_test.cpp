// Packed transition table: lookups against the dense matrix it was built
// from, the row sort, records.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "chainrecord.h"
#include "common/cputime.h"
#include "search/dfatranstable.h"
#include "search/fa.h"
#include "common/teststream.h"

using namespace telsor;

namespace {
const WORD kNone = CDFATransTable::NONE;

struct Dense {
  DWORD states;
  DWORD alphabet;
  std::vector<WORD> next;  // states x alphabet
  CSetBits accepting;
  std::vector<tag_TRANS_ENTRY> moves;
};

Dense RandomAutomaton(std::mt19937& rng, DWORD states, DWORD alphabet, int density) {
  Dense d{states, alphabet, std::vector<WORD>(states * alphabet, kNone), CSetBits(), {}};
  // Rows are often copies of others, so defaults and shared columns occur.
  for (DWORD s = 0; s < states; ++s) {
    if (s > 0 && rng() % 3 == 0) {
      DWORD src = rng() % s;
      for (DWORD c = 0; c < alphabet; ++c) d.next[s * alphabet + c] = d.next[src * alphabet + c];
      DWORD c = rng() % alphabet;
      d.next[s * alphabet + c] = rng() % 2 ? kNone : static_cast<WORD>(rng() % states);
    } else {
      for (DWORD c = 0; c < alphabet; ++c)
        if (static_cast<int>(rng() % 100) < density) d.next[s * alphabet + c] = static_cast<WORD>(rng() % states);
    }
    if (rng() % 3 == 0) d.accepting.SetBitAt(s, 1);
  }
  for (DWORD s = 0; s < states; ++s)
    for (DWORD c = 0; c < alphabet; ++c)
      if (d.next[s * alphabet + c] != kNone)
        d.moves.push_back({s, d.next[s * alphabet + c], static_cast<BYTE>(c)});
  std::shuffle(d.moves.begin(), d.moves.end(), rng);
  return d;
}

void ExpectSameLookups(const Dense& d, const CDFATransTable& t) {
  ASSERT_EQ(d.states, t.GetStateCount());
  for (DWORD s = 0; s < d.states; ++s) {
    ASSERT_EQ(d.accepting.GetBitAt(s) == 1, t.IsAccepting(static_cast<WORD>(s))) << s;
    for (DWORD c = 0; c < d.alphabet; ++c)
      ASSERT_EQ(d.next[s * d.alphabet + c], t.Lookup(static_cast<WORD>(s), c)) << s << "," << c;
  }
}
// The longest chain of defaults in a table, read off its record.
DWORD LongestChain(CDFATransTable& t) {
  CTestStream s;
  EXPECT_EQ(0, t.Serialize(&s, 1));
  const DWORD n = t.GetStateCount();
  std::vector<WORD> def(n);
  for (DWORD i = 0; i < n; ++i) def[i] = static_cast<WORD>(s.bytes[15 + 7 * i + 1] | s.bytes[15 + 7 * i + 2] << 8);
  DWORD longest = 0;
  for (DWORD i = 0; i < n; ++i) {
    DWORD hops = 0;
    for (WORD st = def[i]; st != kNone && hops <= n; st = def[st]) ++hops;
    longest = std::max(longest, hops);
  }
  return longest;
}

}  // namespace

TEST(DFATransTableTest, OneStateHasNoEntries) {
  std::vector<tag_TRANS_ENTRY> none;
  CSetBits accepting;
  CDFATransTable t;
  t.Build(none, 1, 256, accepting);
  EXPECT_EQ(0u, t.GetEntryCount());
  EXPECT_EQ(0u, t.GetMinIndex());
  EXPECT_EQ(kNone, t.GetDenseState());
  for (DWORD c = 0; c < 256; ++c) EXPECT_EQ(kNone, t.Lookup(0, c));
  EXPECT_EQ(kNone, t.Lookup(1, 0));  // no such state

  t.Build(none, 0, 256, accepting);
  EXPECT_EQ(0u, t.GetStateCount());
  EXPECT_EQ(kNone, t.Lookup(0, 0));
}

TEST(DFATransTableTest, DefaultsAndMaskedColumns) {
  // State 1 repeats state 0's row; state 2 differs from it by one missing
  // transition, which must be stored as "none" to mask the default.
  std::vector<tag_TRANS_ENTRY> moves;
  for (DWORD s = 0; s < 3; ++s)
    for (BYTE c = 0; c < 8; ++c)
      if (!(s == 2 && c == 5)) moves.push_back({s, static_cast<DWORD>((c + 1) % 3), c});
  CSetBits accepting;
  accepting.SetBitAt(2, 1);
  CDFATransTable t;
  t.Build(moves, 3, 8, accepting);
  for (DWORD s = 0; s < 3; ++s)
    for (DWORD c = 0; c < 8; ++c)
      EXPECT_EQ(s == 2 && c == 5 ? kNone : static_cast<WORD>((c + 1) % 3), t.Lookup(static_cast<WORD>(s), c));
  EXPECT_TRUE(t.IsAccepting(2));
  EXPECT_FALSE(t.IsAccepting(0));
  // Two of the rows resolve through defaults: far fewer entries than 24.
  EXPECT_LT(t.GetEntryCount(), 12u);
}

TEST(DFATransTableTest, RandomTablesAgreeWithTheDenseMatrix) {
  std::mt19937 rng(8);
  for (int round = 0; round < 300; ++round) {
    DWORD states = 1 + rng() % 40;
    DWORD alphabet = 1 + rng() % (round % 2 ? 256 : 6);
    Dense d = RandomAutomaton(rng, states, alphabet, static_cast<int>(rng() % 60));
    CSharedObjPtr<CDFATransTable> t = new CDFATransTable;
    t->Build(d.moves, states, alphabet, d.accepting);
    ExpectSameLookups(d, *t);
    // Built tables have acyclic default chains and reload unchanged.
    CTestStream s;
    ASSERT_EQ(0, t->Serialize(&s, 1));
    ASSERT_EQ(15u + 7u * states + 4u * t->GetEntryCount(), s.bytes.size());
    s.pos = 0;
    CDFATransTable back;
    ASSERT_EQ(0, back.Serialize(&s, 0));
    ExpectSameLookups(d, back);
    EXPECT_EQ(t->GetDenseState(), back.GetDenseState());
    EXPECT_EQ(t->GetMinIndex(), back.GetMinIndex());
  }
}

// The classes of equal columns found on the packed table (no expansion)
// are those of the dense matrix, numbered by their first column, and the
// rows over them are the matrix's; also for a reloaded table and for the
// first indices only.
TEST(DFATransTableTest, ColumnClassesAgreeWithTheDenseMatrix) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    const DWORD states = 1 + rng() % 40;
    const DWORD alphabet = 1 + rng() % (round % 2 ? 256 : 6);
    Dense d = RandomAutomaton(rng, states, alphabet, static_cast<int>(rng() % 60));
    CSharedObjPtr<CDFATransTable> t = new CDFATransTable;
    t->Build(d.moves, states, alphabet, d.accepting);
    CTestStream record;
    ASSERT_EQ(0, t->Serialize(&record, 1));
    record.pos = 0;
    CDFATransTable back;
    ASSERT_EQ(0, back.Serialize(&record, 0));
    const DWORD part = 1 + rng() % alphabet;
    const CDFATransTable* built = t;
    for (const CDFATransTable* table : {built, static_cast<const CDFATransTable*>(&back)}) {
      for (DWORD a : {alphabet, part}) {
        std::vector<DWORD> firstOf;  // per expected class: its first column
        std::vector<BYTE> want(a);
        for (DWORD c = 0; c < a; ++c) {
          size_t k = 0;
          for (; k < firstOf.size(); ++k) {
            DWORD s = 0;
            while (s < states && d.next[s * alphabet + c] == d.next[s * alphabet + firstOf[k]]) ++s;
            if (s == states) break;
          }
          if (k == firstOf.size()) firstOf.push_back(c);
          want[c] = static_cast<BYTE>(k);
        }
        tag_CLASS_ROWS got;
        table->ColumnClasses(a, got);
        ASSERT_EQ(firstOf.size(), got.classes) << round;
        for (DWORD c = 0; c < a; ++c) ASSERT_EQ(want[c], got.classOf[c]) << round << "," << c;
        table->FillClassRows(got);
        ASSERT_EQ(states * firstOf.size(), got.rows.size());
        for (DWORD s = 0; s < states; ++s)
          for (size_t k = 0; k < firstOf.size(); ++k)
            ASSERT_EQ(d.next[s * alphabet + firstOf[k]], got.rows[s * firstOf.size() + k]) << round;
      }
    }
  }
}

TEST(DFATransTableTest, LargeTableBuildsQuickly) {
  std::mt19937 rng(9);
  Dense d = RandomAutomaton(rng, 2000, 256, 3);
  CDFATransTable t;
  t.Build(d.moves, d.states, d.alphabet, d.accepting);
  ExpectSameLookups(d, t);
}

TEST(DFATransTableTest, SortPermutesRowsWithFewerTransitionsFirst) {
  std::mt19937 rng(10);
  for (int round = 0; round < 300; ++round) {
    DWORD rows = rng() % 50;
    DWORD width = 1 + rng() % 5;
    std::vector<WORD> m(rows * width);
    for (WORD& v : m) v = rng() % 3 == 0 ? kNone : static_cast<WORD>(rng() % 4);
    std::vector<WORD> original = m;
    std::vector<WORD> order(rows);
    for (DWORD i = 0; i < rows; ++i) order[i] = static_cast<WORD>(i);
    CDFATransTable::SortTransTable(m.data(), rows, width, order.data());
    std::vector<WORD> seen = order;
    std::sort(seen.begin(), seen.end());
    for (DWORD i = 0; i < rows; ++i) ASSERT_EQ(i, seen[i]);
    auto count = [&](const WORD* r) {
      DWORD n = 0;
      for (DWORD k = 0; k < width; ++k) n += r[k] != kNone;
      return n;
    };
    for (DWORD r = 0; r < rows; ++r) {
      for (DWORD k = 0; k < width; ++k) ASSERT_EQ(original[order[r] * width + k], m[r * width + k]);
      if (r > 0) {
        ASSERT_LE(count(&m[(r - 1) * width]), count(&m[r * width]));
      }
    }
  }
}

TEST(DFATransTableTest, TooManyStatesIsTheAutomatonException) {
  std::vector<tag_TRANS_ENTRY> none;
  CSetBits accepting;
  CDFATransTable t;
  try {
    t.Build(none, 0x10000, 1, accepting);
    FAIL() << "no throw";
  } catch (CFAException* e) {
    EXPECT_EQ(E_SEEK_TOO_MANY_STATES, e->GetResultCode());
    e->Delete();
  }
  EXPECT_EQ(0u, t.GetStateCount());
  // A matrix smaller than the states and alphabet claim is refused the same way.
  std::vector<WORD> rows(3, CDFATransTable::NONE);
  try {
    t.BuildFromRows(rows, 2, 2, accepting);
    FAIL() << "no throw";
  } catch (CFAException* e) {
    EXPECT_EQ(E_INVALIDARG, e->GetResultCode());
    e->Delete();
  }
  EXPECT_EQ(0u, t.GetStateCount());
}

TEST(DFATransTableTest, BuiltChainsAreBounded) {
  // Rows that are copies of each other with one change make the longest
  // chains: every row's best default is the one before it.
  std::mt19937 rng(10);
  for (DWORD states : {10u, 100u, 1000u}) {
    Dense d{states, 64, std::vector<WORD>(states * 64, kNone), CSetBits(), {}};
    for (DWORD s = 0; s < states; ++s) {
      if (s > 0) std::copy(d.next.begin() + (s - 1) * 64, d.next.begin() + s * 64, d.next.begin() + s * 64);
      d.next[s * 64 + rng() % 64] = static_cast<WORD>(rng() % states);
    }
    for (DWORD s = 0; s < states; ++s)
      for (DWORD c = 0; c < 64; ++c)
        if (d.next[s * 64 + c] != kNone) d.moves.push_back({s, d.next[s * 64 + c], static_cast<BYTE>(c)});
    CSharedObjPtr<CDFATransTable> t = new CDFATransTable;
    t->Build(d.moves, states, 64, d.accepting);
    ExpectSameLookups(d, *t);
    EXPECT_LE(LongestChain(*t), CDFATransTable::MAX_CHAIN) << states;
  }
}

// Records are untrusted and may come from before chains were bounded:
// long chains load as the same automaton, packed again, in time near
// linear in the record; beyond the states that may be packed again, such
// a record is refused.
TEST(DFATransTableTest, LongChainRecordsLoadQuicklyAsTheSameAutomaton) {
  const double bound = 10 * kSanitizerSlowdown;
  const CCpuTimer timer;
  for (unsigned n : {2000u, 4000u, 8000u, 16000u}) {
    CTestStream record(telsor_test::ChainRecord(n));
    CSharedObjPtr<CDFATransTable> t = new CDFATransTable;
    ASSERT_EQ(0, t->Serialize(&record, 0)) << n;
    ASSERT_EQ(n, t->GetStateCount());
    EXPECT_LE(LongestChain(*t), CDFATransTable::MAX_CHAIN) << n;
    for (unsigned s = 0; s < n; s += n / 97)
      for (DWORD c = 0; c < 256; ++c) ASSERT_EQ(c == 7 ? (s + 1) % n : kNone, t->Lookup(static_cast<WORD>(s), c)) << n;
  }
  EXPECT_LT(timer.Seconds(), bound);
  CTestStream tooLong(telsor_test::ChainRecord(CDFATransTable::MAX_REPACK_STATES + 1));
  CSharedObjPtr<CDFATransTable> t = new CDFATransTable;
  EXPECT_EQ(E_FAIL, t->Serialize(&tooLong, 0));
  EXPECT_EQ(0u, t->GetStateCount());
}
