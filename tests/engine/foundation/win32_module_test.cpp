// Dynamic loading and the executable's path, against dlopen's own answers
// and the /proc link.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "foundation/win32.h"

namespace {

TEST(GetModuleFileName, IsTheTargetOfProcSelfExe) {
  char expected[MAX_PATH + 1] = {0};
  ssize_t n = readlink("/proc/self/exe", expected, MAX_PATH);
  ASSERT_GT(n, 0);
  struct Case {
    DWORD size;
    DWORD result;
  } cases[] = {
      {MAX_PATH, static_cast<DWORD>(n)},
      {static_cast<DWORD>(n), static_cast<DWORD>(n)},
      {5, 5},  // cut short, still without a NUL
  };
  for (const Case& c : cases) {
    std::vector<char> buf(MAX_PATH + 1, '\0');
    buf[c.size] = '#';
    EXPECT_EQ(GetModuleFileName(nullptr, buf.data(), c.size), c.result);
    EXPECT_EQ(std::string(buf.data(), c.result), std::string(expected, c.result));
    EXPECT_EQ(buf[c.size], '#');
  }
  EXPECT_EQ(GetModuleFileName(nullptr, nullptr, 10), 0u);
}

TEST(LoadLibrary, BindsFunctionsByName) {
  struct Case {
    const char* library;
    const char* symbol;
  } cases[] = {
      {"libz.so.1", "gzopen"},
      {"libz.so.1", "gzclose"},
      {"libc.so.6", "strlen"},
  };
  for (const Case& c : cases) {
    HMODULE module = LoadLibrary(c.library);
    ASSERT_NE(module, nullptr) << c.library;
    void* address = GetProcAddress(module, c.symbol);
    EXPECT_NE(address, nullptr) << c.symbol;
    void* direct = dlsym(module, c.symbol);
    EXPECT_EQ(address, direct);
    EXPECT_EQ(GetProcAddress(module, "no_such_function_here"), nullptr);
    EXPECT_EQ(FreeLibrary(module), 1);
  }
  HMODULE libc = LoadLibrary("libc.so.6");
  ASSERT_NE(libc, nullptr);
  auto len = reinterpret_cast<size_t (*)(const char*)>(GetProcAddress(libc, "strlen"));
  ASSERT_NE(len, nullptr);
  EXPECT_EQ(len("seven!!"), 7u);
  FreeLibrary(libc);

  EXPECT_EQ(LoadLibrary("/nonexistent/libnothing.so"), nullptr);
  EXPECT_EQ(FreeLibrary(nullptr), 0);
}

}  // namespace
