// INI files from untrusted bytes: any file loads (or stops at its first bad
// line) without crashing, and what was loaded saves to a file that loads
// back to the same sections, names and values.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/inifile.h"

using namespace telsor;

namespace {
void Check(bool ok) {
  if (!ok) abort();
}

// Every section with its pairs, in the store's order.
std::vector<std::string> Contents(CIniFile& ini) {
  struct tag_WALK {
    CIniFile* ini;
    std::vector<std::string> out;
  } walk{&ini, {}};
  ini.EnumSectionNames(
      [](const char* section, void* context) -> DWORD {
        tag_WALK* w = static_cast<tag_WALK*>(context);
        w->out.push_back(std::string("[") + section);
        w->ini->EnumSection(
            section,
            [](const char* name, const char* value, void* inner) -> DWORD {
              static_cast<tag_WALK*>(inner)->out.push_back(std::string(name) + "=" + value);
              return 0;
            },
            context);
        return 0;
      },
      &walk);
  return walk.out;
}

std::string TempPath() {
  char path[] = "/tmp/inifuzzXXXXXX";
  int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string input = TempPath(), saved = TempPath();
  FILE* f = fopen(input.c_str(), "wb");
  if (f == nullptr) return 0;
  fwrite(data, 1, size, f);
  fclose(f);

  CIniFile first;
  char error[64];
  const DWORD rc = first.Load(input.c_str(), error, sizeof error);
  Check(rc == 0 || rc == static_cast<DWORD>(-1));
  Check(memchr(error, 0, sizeof error) != nullptr);
  Check(first.Save(saved.c_str(), error, sizeof error) == 0);
  CIniFile second;
  Check(second.Load(saved.c_str(), error, sizeof error) == 0);
  Check(Contents(first) == Contents(second));
  return 0;
}
