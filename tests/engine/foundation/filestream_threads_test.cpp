// The file stream's writes against a reader thread on a pipe: a broken
// pipe reports the bytes written, interrupted and partial writes are
// continued.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "foundation/fileasistream.h"

using namespace telsor;

namespace {

// A pipe whose reader stops after some bytes: the write fails part way and
// reports what did get written.
TEST(FileStream, BrokenPipeReportsTheBytesWritten) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  void (*old)(int) = signal(SIGPIPE, SIG_IGN);
  std::string path = "/proc/self/fd/" + std::to_string(fds[1]);
  IStream* s = nullptr;
  ASSERT_EQ(CFileAsIStream::CreateStreamOnFile(path.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING, &s), S_OK);
  close(fds[1]);
  size_t readerGot = 0;
  std::thread reader([&] {
    char buf[4096];
    while (readerGot < 200000) {
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      readerGot += static_cast<size_t>(n);
    }
    close(fds[0]);
  });
  std::string big(1 << 20, 'p');
  ULONG done = 0;
  HRESULT hr = s->Write(big.data(), static_cast<ULONG>(big.size()), &done);
  reader.join();
  s->Release();
  signal(SIGPIPE, old);
  EXPECT_EQ(static_cast<DWORD>(hr), static_cast<DWORD>(E_FAIL));
  EXPECT_GE(done, readerGot);
  EXPECT_LT(done, big.size());
}

std::atomic<int> g_alarms{0};

void OnAlarm(int) { ++g_alarms; }

// Signals without SA_RESTART interrupt the writer many times; every byte
// still arrives, in order.
TEST(FileStream, InterruptedAndPartialWritesAreContinued) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  struct sigaction sa = {};
  sa.sa_handler = OnAlarm;
  sa.sa_flags = 0;  // no SA_RESTART: write returns early
  struct sigaction old;
  ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
  std::string path = "/proc/self/fd/" + std::to_string(fds[1]);
  IStream* s = nullptr;
  ASSERT_EQ(CFileAsIStream::CreateStreamOnFile(path.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING, &s), S_OK);
  close(fds[1]);
  std::string big(4 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  std::string received;
  // The reader starts with SIGALRM blocked, so the writer takes the signals.
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &block, nullptr);
  std::thread reader([&] {
    char buf[1000];
    for (;;) {
      ssize_t n = read(fds[0], buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      received.append(buf, static_cast<size_t>(n));
      if (received.size() % 50000 < 1000) usleep(200);
    }
  });
  pthread_sigmask(SIG_UNBLOCK, &block, nullptr);
  struct itimerval every = {{0, 300}, {0, 300}};
  setitimer(ITIMER_REAL, &every, nullptr);
  ULONG done = 0;
  HRESULT hr = s->Write(big.data(), static_cast<ULONG>(big.size()), &done);
  struct itimerval stop = {};
  setitimer(ITIMER_REAL, &stop, nullptr);
  s->Release();
  reader.join();
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(done, big.size());
  EXPECT_TRUE(received == big);
  EXPECT_GT(g_alarms.load(), 0);
}

}  // namespace
