// Raw console reads: refused without a terminal, and on a pseudo-terminal
// one byte is read at once, echoed only by _getche.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "foundation/win32.h"

namespace {

// Puts a descriptor in place of standard input for one scope.
class StdinFrom {
 public:
  explicit StdinFrom(int fd) : saved_(dup(0)) {
    dup2(fd, 0);
    clearerr(stdin);
  }
  ~StdinFrom() {
    dup2(saved_, 0);
    close(saved_);
    clearerr(stdin);
  }

 private:
  int saved_;
};

TEST(Getch, FailsWhenStdinIsNoTerminal) {
  char path[] = "/tmp/w32conXXXXXX";
  int file = mkstemp(path);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, "abc", 3), 3);
  lseek(file, 0, SEEK_SET);
  unlink(path);
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  ASSERT_EQ(write(pipefd[1], "x", 1), 1);
  int null = open("/dev/null", O_RDONLY);
  ASSERT_GE(null, 0);
  for (int fd : {file, pipefd[0], null}) {
    StdinFrom in(fd);
    EXPECT_EQ(_getch(), -1);
    EXPECT_EQ(_getche(), -1);
  }
  // Nothing was consumed from the non-terminals.
  char c = 0;
  EXPECT_EQ(read(pipefd[0], &c, 1), 1);
  EXPECT_EQ(c, 'x');
  close(file);
  close(pipefd[0]);
  close(pipefd[1]);
  close(null);
}

// Bytes the terminal echoed back, waiting up to timeoutMs for the first.
std::string Echoed(int master, int timeoutMs) {
  std::string out;
  struct pollfd p = {master, POLLIN, 0};
  while (poll(&p, 1, out.empty() ? timeoutMs : 0) > 0 && (p.revents & POLLIN)) {
    char buf[64];
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

TEST(Getch, ReadsOneByteFromPseudoTerminal) {
  struct Case {
    int (*read)(void);
    char typed;
    bool echoes;
  } cases[] = {
      {_getch, 'q', false},
      {_getche, 'e', true},
  };
  for (const Case& c : cases) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    struct termios before;
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);
    int result = 0;
    {
      StdinFrom in(slave);
      // Type the key only once the terminal has left line mode, so the echo
      // seen is the one the read itself asked for.
      std::thread typist([&] {
        struct termios t;
        for (int i = 0; i < 5000; ++i) {
          if (tcgetattr(slave, &t) == 0 && !(t.c_lflag & ICANON)) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(bool(t.c_lflag & ECHO), c.echoes);
        EXPECT_EQ(write(master, &c.typed, 1), 1);
      });
      result = c.read();
      typist.join();
    }
    EXPECT_EQ(result, c.typed);
    EXPECT_EQ(Echoed(master, c.echoes ? 2000 : 100), c.echoes ? std::string(1, c.typed) : "");
    struct termios after;
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);  // settings put back
    close(slave);
    close(master);
  }
}

}  // namespace
