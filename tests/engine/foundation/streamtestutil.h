// Helpers shared by the stream tests (with common/tempdir.h): stream positions and a child process that runs without root's rights.
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

#include "common/tempdir.h"
#include "foundation/istream.h"

namespace telsor_test {

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
