// The sort with a context argument: any order of keys read through the
// context, against std::sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "foundation/qsortext.h"

using namespace telsor;

namespace {

int ByKeyTable(const void* a, const void* b, void* context) {
  const std::vector<int>& keys = *static_cast<std::vector<int>*>(context);
  int ka = keys[*static_cast<const int*>(a)], kb = keys[*static_cast<const int*>(b)];
  return ka < kb ? -1 : ka > kb ? 1 : 0;
}

TEST(QSortExt, SortsThroughTheContext) {
  std::mt19937 rng(3);
  for (unsigned count : {0u, 1u, 2u, 17u, 1000u}) {
    std::vector<int> keys(count);
    for (int& k : keys) k = static_cast<int>(rng() % 50);
    std::vector<int> index(count);
    for (unsigned i = 0; i < count; ++i) index[i] = static_cast<int>(i);
    qsortext(index.data(), count, sizeof(int), &keys, ByKeyTable);
    std::vector<int> sortedKeys, expected = keys;
    for (int i : index) sortedKeys.push_back(keys[i]);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sortedKeys, expected);
    std::vector<int> seen = index;
    std::sort(seen.begin(), seen.end());
    for (unsigned i = 0; i < count; ++i) ASSERT_EQ(seen[i], static_cast<int>(i));  // a permutation
  }
  qsortext(nullptr, 5, 4, nullptr, ByKeyTable);  // nothing to do, no crash
}

}  // namespace
