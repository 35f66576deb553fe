// The exact-string matcher: the whole text equals the pattern over the
// exact length, with and without regard to case.
#include <gtest/gtest.h>

#include <string>

#include "common/teststream.h"
#include "search/seekexactstr.h"

using namespace telsor;

TEST(SeekExactStrTest, WholeTextEqualityOverExactLength) {
  CSeekExactStr m;
  ASSERT_EQ(0, m.Compile("abc", 0, 0));
  struct Case {
    const char* text;
    DWORD len;
    DWORD result;
  } cases[] = {
      {"ABC", 0, 0},         {"abc", 3, 0},           {"abcd", 0, SEEK_NOT_FOUND},
      {"ab", 0, SEEK_NOT_FOUND}, {"abcX", 3, 0},      // only len bytes count
      {"ab\0", 3, SEEK_NOT_FOUND},                    // NUL is a byte like any other
  };
  for (const Case& c : cases) {
    DWORD len = 77;
    EXPECT_EQ(c.result, m.Search(c.text, c.len, &len)) << c.text;
    EXPECT_EQ(c.result == 0 ? 3u : 0u, len) << c.text;
  }

  // A pattern held with trailing NULs matches only those NULs, not any byte.
  CSeekExactStr nul;
  nul.Compile("ab", 1, 4);
  EXPECT_EQ(0u, nul.Search("ab\0\0", 4, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, nul.Search("ab\0c", 4, nullptr));

  // The text need not be NUL-terminated.
  char raw[3] = {'a', 'B', 'c'};
  EXPECT_EQ(0u, m.Search(raw, 3, nullptr));

  CSeekExactStr empty;
  empty.Compile("", 1, 0);
  EXPECT_EQ(0u, empty.Search("", 0, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, empty.Search("a", 0, nullptr));
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search(static_cast<const char*>(nullptr), 3, nullptr));
  CTestStream s("abc");
  DWORD len = 5;
  EXPECT_EQ(SEEK_NOT_FOUND, m.Search(&s, 3, &len));
  EXPECT_EQ(0u, len);
}
