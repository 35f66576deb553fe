// Read-only opens of data files: only a regular file (or a link to one) is
// opened; a directory, a FIFO, a socket or a device is refused at once, by
// the plain open, the file stream and the gzip stream alike. The FIFO has a
// writer and bytes waiting (common/heldfifo.h), so a read of it would show.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/heldfifo.h"
#include "foundation/fileasistream.h"
#include "foundation/gzfileasistream.h"
#include "foundation/regularfile.h"
#include "streamtestutil.h"

using namespace telsor;
using namespace telsor_test;

namespace {

struct Place {
  const char* what;
  std::string path;
  int error;  // 0: a regular file
};

// The places, with a FIFO made by the caller at dir/fifo.
std::vector<Place> Places(const TempDir& dir) {
  WriteFileBytes(dir / "file", "TLGZ and more");
  EXPECT_EQ(symlink((dir / "file").c_str(), (dir / "link").c_str()), 0);
  EXPECT_EQ(mkdir((dir / "dir").c_str(), 0755), 0);
  EXPECT_EQ(symlink((dir / "fifo").c_str(), (dir / "fifolink").c_str()), 0);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", (dir / "socket").c_str());
  EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(s);
  return {{"regular file", dir / "file", 0},      {"link to one", dir / "link", 0},
          {"missing", dir / "missing", ENOENT},   {"directory", dir / "dir", EISDIR},
          {"FIFO", dir / "fifo", EINVAL},         {"link to a FIFO", dir / "fifolink", EINVAL},
          {"socket", dir / "socket", EINVAL},     {"character device", "/dev/null", EINVAL}};
}

TEST(RegularFile, OnlyRegularFilesOpen) {
  TempDir dir;
  CHeldFifo fifo(dir / "fifo", "TLGZ waiting");
  ASSERT_TRUE(fifo.Ready());
  const std::vector<Place> places = Places(dir);
  for (const Place& p : places) {
    SCOPED_TRACE(p.what);
    errno = 0;
    int fd = OpenRegularFile(p.path.c_str());
    if (p.error == 0) {
      ASSERT_GE(fd, 0);
      char head[4];
      EXPECT_EQ(read(fd, head, 4), 4);
      EXPECT_EQ(std::string(head, 4), "TLGZ");
      EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);  // reads block as usual
      EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
      close(fd);
    } else {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(errno, p.error);
    }

    IStream* s = nullptr;
    HRESULT hr = CFileAsIStream::CreateStreamOnRegularFile(p.path.c_str(), &s);
    EXPECT_EQ(hr, p.error == 0 ? S_OK : E_FAIL);
    EXPECT_EQ(s != nullptr, p.error == 0);
    if (s != nullptr) {
      BYTE b[4];
      ULONG got = 0;
      EXPECT_EQ(s->Read(b, 4, &got), S_OK);
      EXPECT_EQ(s->Release(), 0u);
    } else {
      EXPECT_EQ(errno, p.error);
    }

    // The gzip stream reads a regular file (here not gzip data at all: the
    // stream opens, zlib reads it transparently) and refuses the rest.
    s = nullptr;
    hr = CGZFileAsIStream::CreateStreamOnFile(p.path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, &s);
    if (hr == TYPE_E_CANTLOADLIBRARY) continue;  // no gzlib.so beside this program
    EXPECT_EQ(hr, p.error == 0 ? S_OK : E_FAIL);
    if (s != nullptr) s->Release();
  }
  EXPECT_TRUE(fifo.Untouched()) << "the FIFO was read";
  EXPECT_EQ(OpenRegularFile(nullptr), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST(RegularFile, DescriptorsAreCheckedAsTheyAre) {
  TempDir dir;
  WriteFileBytes(dir / "file", "x");
  int fd = open((dir / "file").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(CheckRegularFile(fd), 0);
  close(fd);
  int pipes[2];
  ASSERT_EQ(pipe(pipes), 0);
  EXPECT_EQ(CheckRegularFile(pipes[0]), -1);
  EXPECT_EQ(errno, EINVAL);
  close(pipes[0]);
  close(pipes[1]);
  fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(CheckRegularFile(fd), -1);
  EXPECT_EQ(errno, EISDIR);
  close(fd);
}

}  // namespace
