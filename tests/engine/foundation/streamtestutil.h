// Helpers shared by the stream tests: a temporary directory, file contents,
// stream positions and a child process that runs without root's rights.
#ifndef TELSOR_TESTS_STREAMTESTUTIL_H
#define TELSOR_TESTS_STREAMTESTUTIL_H

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "foundation/istream.h"

namespace telsor_test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/qorstreamXXXXXX";
    char* dir = mkdtemp(pattern);
    m_path = dir ? dir : "/tmp";
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + m_path + "'";
    if (system(cmd.c_str()) != 0) {
    }
  }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The stream's current position, or ~0 when it cannot tell.
inline ULONGLONG PosOf(IStream* s) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER at;
  at.QuadPart = ~0ull;
  if (FAILED(s->Seek(zero, STREAM_SEEK_CUR, &at))) return ~0ull;
  return at.QuadPart;
}

inline LARGE_INTEGER Move(LONGLONG v) {
  LARGE_INTEGER m;
  m.QuadPart = v;
  return m;
}

inline ULARGE_INTEGER Size(ULONGLONG v) {
  ULARGE_INTEGER m;
  m.QuadPart = v;
  return m;
}

// Runs body in a child process under an unprivileged user when we are root
// (so permission checks apply); returns the body's result, or -1.
inline int RunUnprivileged(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace telsor_test

#endif  // TELSOR_TESTS_STREAMTESTUTIL_H
