// The growable text builder against a std::string model: characters, C
// strings, TSTRINGs with NUL bytes, resets and reads, for staging buffers
// of every size class.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "foundation/bufferedwriter.h"

using namespace telsor;

namespace {

TEST(BufferedWriter, AppendsAgainstAStringModel) {
  for (ULONG capacity : {0u, 1u, 16u, 4096u}) {
    SCOPED_TRACE(capacity);
    CBufferedWriter w(capacity);
    std::string model;
    std::mt19937 rng(capacity + 1);
    for (int step = 0; step < 3000; ++step) {
      switch (rng() % 6) {
        case 0: {
          char c = static_cast<char>(rng() % 256);
          w += c;
          model += c;
          break;
        }
        case 1: {
          std::string t(rng() % 40, 'x');
          for (char& c : t) c = static_cast<char>('a' + rng() % 26);
          w += t.c_str();
          model += t;
          break;
        }
        case 2: {
          std::string t(rng() % 10000, 'y');
          t[t.size() / 2 < t.size() ? t.size() / 2 : 0] = '\0';  // NUL bytes inside a TSTRING are kept
          w += TSTRING(t.data(), static_cast<int>(t.size()));
          model += t;
          break;
        }
        case 3:
          if (rng() % 20 == 0) {
            w = TSTRING("reset");
            model = "reset";
          }
          break;
        case 4:
          if (rng() % 40 == 0) {
            w.Empty();
            model.clear();
          }
          break;
        default: {
          TSTRING s = w.ToString();
          ASSERT_EQ(std::string(s.c_str(), s.GetLength()), model);
          break;
        }
      }
      ASSERT_EQ(w.GetLength(), model.size());
    }
    w += static_cast<const char*>(nullptr);
    w += "";
    EXPECT_EQ(w.GetLength(), model.size());
    EXPECT_EQ(std::string(w.c_data(), w.GetLength()), model);
  }
}

}  // namespace
