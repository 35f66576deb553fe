// The random generator: the Mersenne Twister against the reference values
// and the standard library's std::mt19937, the distributions' formulas on
// the same draws, and shuffles that are permutations with every element able
// to move anywhere.
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "classify/randomgenerator.h"

using namespace telsor;

namespace {

TEST(RandomGenerator, ReferenceSequence) {
  CRandomGenerator rng;
  rng.Seed(5489);
  EXPECT_EQ(rng.Random(), 3499211612u);
  EXPECT_EQ(rng.Random(), 581869302u);
  EXPECT_EQ(rng.Random(), 3890346734u);
  // Many seeds, well past one regeneration of the state.
  for (ULONG seed : {0u, 1u, 42u, 5489u, 0xFFFFFFFFu}) {
    std::mt19937 reference(seed);
    rng.Seed(seed);
    EXPECT_EQ(rng.GetInitialSeed(), seed);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(rng.Random(), reference()) << seed << " " << i;
  }
}

TEST(RandomGenerator, UnseededGeneratorSeedsItself) {
  CRandomGenerator rng;
  const ULONG first = rng.Random();
  const ULONG seed = rng.GetInitialSeed();
  std::mt19937 reference(seed);
  EXPECT_EQ(first, reference());
}

TEST(RandomGenerator, Distributions) {
  CRandomGenerator a, b;
  a.Seed(7);
  b.Seed(7);
  for (int i = 0; i < 1000; ++i) {
    const double u = b.Uniform();
    EXPECT_EQ(a.Random() * 2.3283064365386963e-10, u);
    EXPECT_LT(u, 1.0);
  }
  a.Seed(9);
  b.Seed(9);
  // One Box-Muller pair: r cos and r sin of the same angle; |sigma|.
  const double u1 = b.Uniform(), u2 = b.Uniform();
  const double r = sqrt(-2.0 * log(1.0 - u2));
  EXPECT_DOUBLE_EQ(a.Normal(1.0, -2.0), 1.0 + 2.0 * r * cos(6.283185307179586 * u1));
  EXPECT_DOUBLE_EQ(a.Normal(0.0, 1.0), r * sin(6.283185307179586 * u1));
  EXPECT_EQ(a.LogNormal(0.0, 3.0), 0.0);
  const double u3 = b.Uniform();
  EXPECT_DOUBLE_EQ(a.Exponential(2.0), -0.5 * log(1.0 - u3));
  const double u4 = b.Uniform();
  EXPECT_DOUBLE_EQ(a.Cauchy(1.0, 2.0), 1.0 + 2.0 * tan(3.141592653589793 * (u4 - 0.5)));
  const double u5 = b.Uniform();
  EXPECT_EQ(a.Geometric(0.5), static_cast<int>(log(1.0 - u5) / log(0.5) + 1));
  const double u6 = b.Uniform();
  EXPECT_EQ(a.Bernouilli(0.3), u6 <= 0.3 ? 1 : 0);
  for (int i = 0; i < 1000; ++i) {
    const long k = static_cast<long>(a.BoundedUniform(0, 7));
    EXPECT_GE(k, 0);
    EXPECT_LE(k, 6);
  }
  EXPECT_EQ(static_cast<long>(a.BoundedUniform(0, 0)), 0);
}

TEST(RandomGenerator, ShufflesArePermutationsThatMoveEveryElement) {
  CRandomGenerator rng;
  rng.Seed(11);
  std::vector<ULONG> order(50);
  // Over many shuffles every element reaches every position, the last
  // element included.
  std::vector<std::vector<bool>> seen(50, std::vector<bool>(50, false));
  for (int round = 0; round < 2000; ++round) {
    rng.GetShuffledIndices(order.data(), 50);
    std::vector<ULONG> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (ULONG i = 0; i < 50; ++i) ASSERT_EQ(sorted[i], i);
    for (ULONG pos = 0; pos < 50; ++pos) seen[order[pos]][pos] = true;
  }
  for (ULONG e = 0; e < 50; ++e)
    for (ULONG pos = 0; pos < 50; ++pos) EXPECT_TRUE(seen[e][pos]) << e << " at " << pos;
  // Two elements: both orders occur.
  std::set<ULONG> firsts;
  for (int round = 0; round < 100; ++round) {
    ULONG two[2] = {0, 1};
    rng.Shuffle(two, sizeof two[0], 2);
    firsts.insert(two[0]);
  }
  EXPECT_EQ(firsts.size(), 2u);
  // Large elements go through the heap buffer; size 0 and count 1 do nothing.
  struct Big {
    char bytes[300];
  };
  std::vector<Big> big(5);
  for (int i = 0; i < 5; ++i) big[i].bytes[0] = static_cast<char>(i), big[i].bytes[299] = static_cast<char>(i);
  rng.Shuffle(big.data(), sizeof(Big), 5);
  std::set<int> values;
  for (const Big& b : big) {
    EXPECT_EQ(b.bytes[0], b.bytes[299]);
    values.insert(b.bytes[0]);
  }
  EXPECT_EQ(values.size(), 5u);
  ULONG one = 9;
  rng.Shuffle(&one, sizeof one, 1);
  EXPECT_EQ(one, 9u);
  ULONG untouched[3] = {1, 2, 3};
  rng.Shuffle(untouched, 0, 3);
  EXPECT_EQ(untouched[0], 1u);
  EXPECT_EQ(untouched[2], 3u);
}

}  // namespace
