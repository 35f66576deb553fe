// Copy-on-write under concurrent copies: eight threads copy, assign and
// unshare one string; the shared buffer never changes and its count comes
// back to 1.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/tstring.h"

using telsor::TSTRING;

namespace {

// The reference count in the buffer header in front of the characters.
int Refs(const TSTRING& s) { return (reinterpret_cast<const int32_t*>(s.c_str()) - 3)[0]; }
std::string Bytes(const TSTRING& s) { return std::string(s.c_str(), static_cast<size_t>(s.GetLength())); }

TEST(TstringThreads, CopyOnWriteUnderConcurrentCopies) {
  TSTRING shared("the shared text of the stress test");
  const std::string original = Bytes(shared);
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&shared, &original, &failures, t] {
      for (int i = 0; i < 20000; ++i) {
        TSTRING a(shared);
        TSTRING b;
        b = a;
        if (i % 7 == t % 7) {
          b.MakeUpper();  // unshares: the others never see it
          if (b.c_str()[0] != 'T') ++failures[t];
        }
        if (Bytes(a) != original) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], 0);
  EXPECT_EQ(Refs(shared), 1);
  EXPECT_EQ(Bytes(shared), original);
}

}  // namespace
