// Helpers of the parser-session and content tests: the names in a folder
// (temporary files are counted in private folders) and an environment
// variable set for the life of an object.
#ifndef TELSOR_TESTS_ENGINE_MIME_SESSIONTESTUTIL_H
#define TELSOR_TESTS_ENGINE_MIME_SESSIONTESTUTIL_H

#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/wintypes.h"

namespace mime_test {

inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  closedir(d);
  return names;
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    const char* old = getenv(name);
    m_had = old != nullptr;
    if (m_had) m_old = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (m_had)
      setenv(m_name.c_str(), m_old.c_str(), 1);
    else
      unsetenv(m_name.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name, m_old;
  bool m_had;
};

// The DWORD code that fn throws, or 0.
inline DWORD ThrownCode(const std::function<void()>& fn) {
  try {
    fn();
  } catch (DWORD code) {
    return code;
  }
  return 0;
}

}  // namespace mime_test

#endif  // TELSOR_TESTS_ENGINE_MIME_SESSIONTESTUTIL_H
