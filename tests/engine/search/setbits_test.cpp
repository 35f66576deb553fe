// Bit sets: growth, ranges, sharing and the record layout, and random
// operation sequences against std::vector<bool>.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "search/setbits.h"
#include "common/teststream.h"

using namespace telsor;

TEST(SetBitsTest, GrowthInWholeWords) {
  CSetBits s;
  EXPECT_EQ(0, s.SetBitAt(5, 1));
  EXPECT_EQ(8u, s.GetByteLength());
  EXPECT_EQ(0, s.SetBitAt(64, 1));
  EXPECT_EQ(16u, s.GetByteLength());
  EXPECT_EQ(0, s.SetBitAt(1000, 0));  // clearing beyond the end: no growth
  EXPECT_EQ(16u, s.GetByteLength());
  DWORD hash = s.GetHash();
  EXPECT_EQ(1, s.SetBitAt(5, 1));  // already set: hash kept
  EXPECT_EQ(hash, s.GetHash());
}

TEST(SetBitsTest, ZeroBytesAndEmptySetAreEqualAndHashToOne) {
  CSetBits empty;
  CSetBits zeros;
  zeros.Resize(8);
  EXPECT_EQ(8u, zeros.GetByteLength());
  EXPECT_EQ(1u, empty.GetHash());
  EXPECT_EQ(1u, zeros.GetHash());
  EXPECT_TRUE(empty == zeros);
  EXPECT_TRUE(empty.IsEmpty());

  CSetBits a;
  a.SetBitAt(3, 1);
  CSetBits b;
  b.SetBitAt(3, 1);
  b.SetBitAt(200, 1);
  b.SetBitAt(200, 0);  // trailing zero bytes do not count
  EXPECT_TRUE(a == b);
  EXPECT_EQ(a.GetHash(), b.GetHash());
  b.SetBitAt(4, 1);
  EXPECT_FALSE(a == b);

  a.Reset();
  EXPECT_EQ(8u, a.GetByteLength());
  EXPECT_EQ(1u, a.GetHash());
  EXPECT_TRUE(a.IsEmpty());
  a.Clear();
  EXPECT_EQ(0u, a.GetByteLength());
}

TEST(SetBitsTest, RangesAndNextSetBit) {
  CSetBits s;
  s.SetBits(3, 2, 1);
  EXPECT_EQ(0u, s.GetByteLength());
  s.SetBits(6, 17, 1);
  ASSERT_GE(s.GetByteLength(), 3u);
  EXPECT_EQ(0xC0, s.GetBytes()[0]);
  EXPECT_EQ(0xFF, s.GetBytes()[1]);
  EXPECT_EQ(0x03, s.GetBytes()[2]);

  CSetBits seven;
  seven.SetBitAt(7, 1);
  for (DWORD start = 0; start < 8; ++start) EXPECT_EQ(7u, seven.GetBitSetToOne(start));
  EXPECT_EQ(0xFFFFFFFFu, seven.GetBitSetToOne(8));
  EXPECT_EQ(0xFFFFFFFFu, seven.GetBitSetToOne(1u << 30));
}

TEST(SetBitsTest, CopiesShareUntilWritten) {
  CSetBits a;
  a.SetBitAt(1, 1);
  CSetBits b = a;
  EXPECT_EQ(a.GetBytes(), b.GetBytes());  // one buffer
  b.SetBitAt(2, 1);
  EXPECT_EQ(0, a.GetBitAt(2));
  EXPECT_EQ(1, b.GetBitAt(2));
  CSetBits c;
  c = a;
  c = *&c;
  c.Union(c);
  EXPECT_TRUE(c == a);
  a.Union(b);  // b shares nothing with a any more
  EXPECT_EQ(1, a.GetBitAt(2));
  CSetBits d = a;
  d.Union(a);  // a set sharing its buffer with the operand
  EXPECT_TRUE(d == a);
}

TEST(SetBitsTest, MaskWritesGrowLikeSingleBitsAndUnshare) {
  const BYTE mask[32] = {0x01, 0, 0, 0, 0, 0, 0, 0, 0x80};  // bits 0 and 71
  CSetBits a;
  a.SetBitAt(3, 1);
  CSetBits b = a;
  b.WriteMask(mask, sizeof mask, 1);
  EXPECT_EQ(16u, b.GetByteLength());  // as SetBitAt(71, 1) would grow it
  EXPECT_EQ(1, b.GetBitAt(0));
  EXPECT_EQ(1, b.GetBitAt(71));
  EXPECT_EQ(1, b.GetBitAt(3));
  EXPECT_EQ(0, a.GetBitAt(0));  // the copy it shared with is unchanged
  EXPECT_EQ(8u, a.GetByteLength());
  const DWORD hash = b.GetHash();
  b.WriteMask(mask, sizeof mask, 0);  // clearing: the hash is made anew
  EXPECT_NE(hash, b.GetHash());
  EXPECT_TRUE(b == a);
  CSetBits empty;
  empty.WriteMask(mask, sizeof mask, 0);  // clearing never grows
  EXPECT_EQ(0u, empty.GetByteLength());
}

TEST(SetBitsTest, RandomOperationsAgainstVectorBool) {
  std::mt19937 rng(6);
  for (int round = 0; round < 200; ++round) {
    CSetBits sets[2];
    std::vector<bool> oracle[2];
    auto get = [](const std::vector<bool>& v, size_t i) { return i < v.size() && v[i]; };
    auto set = [](std::vector<bool>& v, size_t i, bool x) {
      if (i >= v.size()) v.resize(i + 1);
      v[i] = x;
    };
    for (int step = 0; step < 60; ++step) {
      int w = rng() % 2;
      CSetBits& s = sets[w];
      std::vector<bool>& o = oracle[w];
      DWORD bit = rng() % 300;
      switch (rng() % 9) {
        case 0:
        case 1: {
          int value = rng() % 2;
          ASSERT_EQ(get(o, bit) ? 1 : 0, s.SetBitAt(bit, value));
          set(o, bit, value);
          break;
        }
        case 2: {
          DWORD last = bit + rng() % 40;
          int value = rng() % 2;
          s.SetBits(bit, last, value);
          for (DWORD i = bit; i <= last; ++i) set(o, i, value);
          break;
        }
        case 3:
          sets[w].Union(sets[1 - w]);
          for (size_t i = 0; i < oracle[1 - w].size(); ++i)
            if (oracle[1 - w][i]) set(o, i, true);
          break;
        case 4: {
          CSetBits r;
          Union(sets[0], sets[1], r);
          for (DWORD i = 0; i < 400; ++i)
            ASSERT_EQ(get(oracle[0], i) || get(oracle[1], i) ? 1 : 0, r.GetBitAt(i));
          break;
        }
        case 5:
          sets[1 - w] = s;
          oracle[1 - w] = o;
          break;
        case 6:
          if (rng() % 4 == 0) {
            s.Reset();
            o.assign(o.size(), false);
          }
          break;
        case 7: {
          // A mask of a few bytes from bit / 8 on, set or cleared at once.
          BYTE mask[40] = {};
          const DWORD from = bit / 8;
          const DWORD to = std::min<DWORD>(from + 1 + rng() % 4, sizeof mask);
          for (DWORD i = from; i < to; ++i) mask[i] = static_cast<BYTE>(rng());
          const int value = rng() % 2;
          s.WriteMask(mask, sizeof mask, value);
          for (DWORD i = 0; i < 8 * sizeof mask; ++i)
            if (mask[i / 8] >> (i % 8) & 1) set(o, i, value != 0);
          break;
        }
        default: {
          CTestStream st;
          ASSERT_EQ(0, s.Serialize(&st, 1));
          st.pos = 0;
          CSetBits back;
          ASSERT_EQ(0, back.Serialize(&st, 0));
          ASSERT_TRUE(back == s);
          break;
        }
      }
      for (DWORD i = 0; i < 360; ++i) ASSERT_EQ(get(o, i) ? 1 : 0, s.GetBitAt(i)) << i;
      size_t next = bit;
      while (next < o.size() && !o[next]) ++next;
      ASSERT_EQ(next < o.size() ? next : 0xFFFFFFFFu, s.GetBitSetToOne(bit));
      bool any = false;
      for (bool x : o) any = any || x;
      ASSERT_EQ(any ? 0 : 1, s.IsEmpty());
      bool same = true;
      for (size_t i = 0; i < 400; ++i) same = same && get(oracle[0], i) == get(oracle[1], i);
      ASSERT_EQ(same ? 1 : 0, sets[0] == sets[1]);
      if (same) {
        ASSERT_EQ(sets[0].GetHash(), sets[1].GetHash());
      }
    }
  }
}

TEST(SetBitsTest, RecordLayoutAndTruncation) {
  CSetBits s;
  s.SetBitAt(9, 1);
  s.GetHash();
  CTestStream st;
  ASSERT_EQ(0, s.Serialize(&st, 1));
  ASSERT_EQ(4u + 4u + 8u, st.bytes.size());
  EXPECT_EQ(8, st.bytes[4]);     // byte length
  EXPECT_EQ(0x02, st.bytes[9]);  // bit 9 in byte 1
  for (size_t cut = 0; cut < st.bytes.size(); ++cut) {
    CTestStream part(std::string(st.bytes.begin(), st.bytes.begin() + cut));
    CSetBits back;
    EXPECT_EQ(E_FAIL, back.Serialize(&part, 0)) << cut;
  }
}
