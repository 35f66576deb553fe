// Raw single-character reads from the terminal of standard input.
#include <fcntl.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

#include "foundation/win32.h"

namespace {

// Switches the terminal behind descriptor 0 to unbuffered input for one
// getc and puts the old settings back. -1 when stdin is no terminal.
int ReadRaw(bool echo) {
  char path[128] = {0};
  if (readlink("/proc/self/fd/0", path, sizeof path - 1) < 0) return -1;
  int fd = open(path, O_RDWR);
  if (fd < 0) return -1;
  struct termios saved;
  if (tcgetattr(fd, &saved) != 0) {
    close(fd);
    return -1;
  }
  struct termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHOKE);
  if (echo)
    raw.c_lflag |= ECHO;
  else
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  if (tcsetattr(fd, TCSANOW, &raw) != 0) {
    close(fd);
    return -1;
  }
  int ch = getc(stdin);
  tcsetattr(fd, TCSANOW, &saved);
  close(fd);
  return ch;
}

}  // namespace

extern "C" {

int _getch(void) { return ReadRaw(false); }
int _getche(void) { return ReadRaw(true); }

}  // extern "C"
