// Atomics and single-byte string helpers of the system layer.
#include <gtest/gtest.h>

#include <string.h>

#include <climits>
#include <vector>

#include "foundation/win32.h"

namespace {

// ---- Atomics ----

TEST(Interlocked, IncrementDecrementReturnNewValue) {
  LONG v = 1;
  EXPECT_EQ(InterlockedDecrement(&v), 0);
  EXPECT_EQ(InterlockedIncrement(&v), 1);
  EXPECT_EQ(InterlockedIncrement(&v), 2);
  EXPECT_EQ(v, 2);
}

TEST(Interlocked, ExchangeAndCompareExchange) {
  LONG v = 5;
  EXPECT_EQ(InterlockedExchange(&v, 9), 5);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 7), 9);  // comparand differs
  EXPECT_EQ(v, 9);
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 9), 9);
  EXPECT_EQ(v, 1);
}

// ---- Number formatting ----

struct ItoaCase {
  LONG value;
  int radix;
  const char* text;
};

TEST(Ltoa, Table) {
  const ItoaCase cases[] = {
      {-255, 16, "-ff"}, {0, 10, "0"},        {255, 2, "11111111"},
      {-1, 10, "-1"},    {35, 36, "z"},       {INT32_MIN, 10, "-2147483648"},
      {INT32_MAX, 16, "7fffffff"}, {-8, 8, "-10"},
  };
  for (const auto& c : cases) {
    char buf[40];
    EXPECT_STREQ(_ltoa(c.value, buf, c.radix), c.text) << c.value << " radix " << c.radix;
    EXPECT_STREQ(_itoa(c.value, buf, c.radix), c.text);
  }
}

TEST(Ultoa, Table) {
  char buf[40];
  EXPECT_STREQ(_ultoa(0, buf, 10), "0");
  EXPECT_STREQ(_ultoa(0xFFFFFFFFu, buf, 10), "4294967295");
  EXPECT_STREQ(_ultoa(0xFFFFFFFFu, buf, 2), "11111111111111111111111111111111");
  EXPECT_STREQ(_ultoa(0xABCu, buf, 16), "abc");
}

// ---- Strings ----

TEST(Strings, ReverseAndCase) {
  char a[] = "abc";
  EXPECT_STREQ(_strrev(a), "cba");
  char one[] = "x";
  EXPECT_STREQ(_strrev(one), "x");
  EXPECT_EQ(_strrev(nullptr), nullptr);
  char mixed[] = "MiXeD 1!";
  EXPECT_STREQ(CharLowerA(mixed), "mixed 1!");
  EXPECT_STREQ(CharUpperA(mixed), "MIXED 1!");
}

TEST(Strings, LengthsAndComparisons) {
  EXPECT_EQ(lstrlenA("hello"), 5);
  const WCHAR wide[] = {'a', 'b', 0};
  EXPECT_EQ(lstrlenW(wide), 0);
  EXPECT_EQ(_wcslen(wide), 2u);
  EXPECT_EQ(CharNextW(wide), wide + 1);
  EXPECT_LT(lstrcmpA("ABC", "abc"), 0);
  EXPECT_EQ(lstrcmpiA("ABC", "abc"), 0);
  EXPECT_EQ(_mbclen(""), 0);
  EXPECT_EQ(_mbclen(nullptr), 0);
  const char* s = "ab";
  EXPECT_EQ(_mbsinc(s), s + 1);
}

}  // namespace
