// Read-only opens of regular files only.
#include "foundation/regularfile.h"

#include <errno.h>
#include <sys/stat.h>

namespace telsor {

namespace {

// 0 for a regular file, else -1 with errno naming what it is.
int Verdict(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  return -1;
}

}  // namespace

int CheckRegularFile(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  return Verdict(st);
}

int OpenRegularFile(const char* path) {
  if (path == nullptr) {
    errno = ENOENT;
    return -1;
  }
  struct stat st;
  if (stat(path, &st) != 0 || Verdict(st) != 0) return -1;
  int fd;
  do {
    fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_LARGEFILE);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  const int flags = fcntl(fd, F_GETFL);
  if (CheckRegularFile(fd) != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace telsor
