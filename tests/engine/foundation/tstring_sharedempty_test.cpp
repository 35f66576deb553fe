// A string that was emptied in place keeps its heap buffer; sharing that
// empty buffer and then writing must not touch the static empty buffer.
#include <gtest/gtest.h>

#include "foundation/tstring.h"

using namespace telsor;

TEST(TstringSharedEmptyTest, WritingASharedEmptyBufferIsSafe) {
  for (int how = 0; how < 2; ++how) {
    TSTRING a("abcdefgh");
    a = TSTRING();        // emptied in place: heap buffer of length 0 kept
    TSTRING b = a;        // shared
    if (how == 0) {
      char* p = b.GetBuffer(0);
      EXPECT_EQ('\0', p[0]);
      b.ReleaseBuffer(0);
    } else {
      b.MakeUpper();      // copy before write
    }
    EXPECT_EQ(0, b.GetLength());
    EXPECT_EQ(0, a.GetLength());
    b = b + "x";
    EXPECT_STREQ("x", b.c_str());
    EXPECT_STREQ("", a.c_str());
  }
}
