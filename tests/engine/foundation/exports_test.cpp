// The library's dynamic symbol table: Win32-style names unmangled, engine
// classes exported under namespace telsor.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "common/runprogram.h"

namespace {

// <build>/bin/<test program> -> <build>/lib/libqorengine.so
std::string LibraryPath() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = '\0';
  std::string bin(self);
  bin.erase(bin.rfind('/'));            // .../bin
  std::string build = bin.substr(0, bin.rfind('/'));
  return build + "/lib/libqorengine.so";
}

std::string Output(const std::string& command) { return telsor_test::RunProgram(command).output; }

TEST(Exports, PlainWin32NamesAndTelsorClasses) {
  if (system("command -v nm >/dev/null 2>&1") != 0) GTEST_SKIP() << "nm is not installed";
  std::string lib = LibraryPath();
  ASSERT_EQ(access(lib.c_str(), R_OK), 0) << lib;

  std::string raw = Output("nm -D --defined-only '" + lib + "'");
  for (const char* name : {"GetTickCount", "InterlockedIncrement", "InterlockedDecrement",
                           "TimetToFileTime", "lstrlenA", "IID_IStream"}) {
    SCOPED_TRACE(name);
    // "<address> T <name>" on a line of its own: exported under the plain name.
    EXPECT_NE(raw.find(std::string(" ") + name + "\n"), std::string::npos);
  }

  std::string demangled = Output("nm -DC --defined-only '" + lib + "'");
  for (const char* name : {"telsor::TSTRING::Replace(char const*, char const*)",
                           "telsor::TSTRING::Serialize(IStream*, int)",
                           "telsor::CException::Delete()", "telsor::CFileException::ThrowErrno(int, char const*)",
                           "telsor::CDException::PutNestedException(telsor::CException*)",
                           "telsor::AfxThrowMemoryException()", "telsor::GetRTTI(char const*)",
                           "telsor::GetFormatMaxLength(char const*, __va_list_tag*)",
                           "telsor::_simpleMemoryException"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(demangled.find(name), std::string::npos);
  }
}

}  // namespace
