#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hqprocess.h"
#include "hqstream.h"
#include "hqunix.h"

namespace {

std::string temp_dir()
{
    char tmpl[] = "/tmp/hqstream-XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "";
}

}  // namespace

TEST(HqFile, ReadsLinesAndTheUnterminatedRest)
{
    std::string dir = temp_dir();
    std::string path = dir + "/lines";
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("first\nsecond line\n\nlast", f);
    fclose(f);

    HqFile file(path.c_str(), O_RDONLY, 0666);
    ASSERT_TRUE(file.isok());
    EXPECT_STREQ(file.getline(0, '\n', 1024).cstr(), "first");
    EXPECT_STREQ(file.getline(0, '\n', 4).cstr(), "seco");   // cut at the maximum
    EXPECT_STREQ(file.getline(0, '\n', 1024).cstr(), "nd line");
    EXPECT_STREQ(file.getline(0, '\n', 1024).cstr(), "");
    EXPECT_STREQ(file.getline(0, '\n', 1024).cstr(), "last");
    EXPECT_TRUE(file.getline(0, '\n', 1024).isnull());
    EXPECT_FALSE(file.isok());

    HqFile missing((dir + "/none").c_str(), O_RDONLY, 0666);
    EXPECT_FALSE(missing.isok());
    EXPECT_EQ(missing.geterr(), ENOENT);
    unlink(path.c_str());
    rmdir(dir.c_str());
}

TEST(HqFdStream, WritesGoOutOnFlushAndReadsComeBackInOrder)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    HqFdStream a(sv[0]), b(sv[1]);
    EXPECT_EQ(a.print("one\ntw"), 6);
    EXPECT_EQ(b.select(0), 0);          // nothing sent before the flush
    EXPECT_EQ(a.flush(1000), 0);
    EXPECT_EQ(b.select(1000), 1);
    EXPECT_STREQ(b.getline(1000, '\n', 100).cstr(), "one");
    // Half a line: no line until the rest arrives or the wait ends.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(b.getline(50, '\n', 100).isnull());
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(45));
    a.print("o\n");
    a.flush(-1);
    EXPECT_STREQ(b.getline(1000, '\n', 100).cstr(), "two");
    a.close();
    char c;
    EXPECT_EQ(b.read(&c, 1), 0);
    EXPECT_FALSE(b.isok());
}

TEST(HqFdStream, WritingToAClosedPeerFailsWithoutASignal)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    close(sv[1]);
    HqFdStream a(sv[0]);
    a.print("hello");
    EXPECT_EQ(a.flush(1000), -1);
    EXPECT_EQ(a.geterr(), EPIPE);
    EXPECT_FALSE(a.isok());
}

TEST(HqUnixConn, ConnectsOrIsNotOk)
{
    std::string dir = temp_dir();
    std::string path = dir + "/sock";
    EXPECT_FALSE(HqUnixConn(HqUnixAddr(path.c_str())).isok());
    EXPECT_FALSE(HqUnixConn(HqUnixAddr(std::string(200, 'x').c_str())).isok());

    int lfd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    strcpy(sa.sun_path, path.c_str());
    ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    ASSERT_EQ(listen(lfd, 1), 0);
    HqStreamClone clone(new HqUnixConn(HqUnixAddr(path.c_str())));
    ASSERT_TRUE(clone.isok());
    int peer = accept(lfd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    clone.print("ping");
    ASSERT_EQ(clone.flush(1000), 0);
    char buf[8] = {};
    ASSERT_EQ(read(peer, buf, 4), 4);
    EXPECT_STREQ(buf, "ping");
    ASSERT_EQ(write(peer, "pong", 4), 4);
    ASSERT_EQ(clone.select(1000), 1);
    EXPECT_EQ(clone.read(buf, 8), 4);
    clone.close();
    EXPECT_FALSE(clone.isok());
    close(peer);
    close(lfd);
    unlink(path.c_str());
    rmdir(dir.c_str());
}

TEST(HqFork, ChildKeepsOnlyTheTwoDescriptors)
{
    int a[2], b[2], c[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    ASSERT_EQ(pipe(c), 0);
    pid_t pid = hqfork(b[0], a[1]);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int bits = 0;
        bits |= fcntl(b[0], F_GETFD) >= 0 ? 1 : 0;
        bits |= fcntl(a[1], F_GETFD) >= 0 ? 2 : 0;
        bits |= fcntl(a[0], F_GETFD) >= 0 ? 4 : 0;
        bits |= fcntl(c[0], F_GETFD) >= 0 ? 8 : 0;
        bits |= fcntl(c[1], F_GETFD) >= 0 ? 16 : 0;
        bits |= fcntl(2, F_GETFD) >= 0 ? 32 : 0;
        _exit(bits);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1 | 2 | 32);
    for (int fd : {a[0], a[1], b[0], b[1], c[0], c[1]})
        close(fd);
}
