// A FIFO with a writer held open by the test and some bytes waiting in it:
// the seam of tests that prove a path is never opened or read. A reader
// that opened it would not wait (a writer is there) but would take the
// waiting bytes, and a second read would wait for ever (the test's timeout
// then fails it); so "all bytes still waiting" means nobody read it.
//
//   telsor_test::TempDir dir;
//   telsor_test::CHeldFifo fifo(dir / "Qor.bin", "SCA");
//   LoadSomething(dir / "Qor.bin");           // must refuse it unread
//   EXPECT_TRUE(fifo.Untouched());
#ifndef TELSOR_TESTS_COMMON_HELDFIFO_H
#define TELSOR_TESTS_COMMON_HELDFIFO_H

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace telsor_test {

class CHeldFifo {
 public:
  CHeldFifo(const std::string& path, const std::string& bytes) : m_size(bytes.size()) {
    if (mkfifo(path.c_str(), 0644) != 0) return;
    m_fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd >= 0 && write(m_fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      close(m_fd);
      m_fd = -1;
    }
  }
  ~CHeldFifo() {
    if (m_fd >= 0) close(m_fd);
  }
  CHeldFifo(const CHeldFifo&) = delete;
  CHeldFifo& operator=(const CHeldFifo&) = delete;

  bool Ready() const { return m_fd >= 0; }
  // True when every byte put in is still waiting.
  bool Untouched() const {
    int waiting = -1;
    return m_fd >= 0 && ioctl(m_fd, FIONREAD, &waiting) == 0 && static_cast<size_t>(waiting) == m_size;
  }

 private:
  int m_fd = -1;
  size_t m_size;
};

}  // namespace telsor_test

#endif  // TELSOR_TESTS_COMMON_HELDFIFO_H
