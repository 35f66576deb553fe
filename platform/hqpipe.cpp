#include "hqpipe.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "hqprocess.h"

namespace {

// Reports `err` to the parent through the error pipe and ends the child.
[[noreturn]] void child_fail(int fd, int err)
{
    ssize_t ignored = write(fd, &err, sizeof err);
    (void)ignored;
    _exit(127);
}

}  // namespace

HqPipe::HqPipe(const char *program, const char *const argv[])
{
    if (!program || !argv || !argv[0]) {
        seterr(EINVAL);
        return;
    }
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) < 0) {
        seterr(errno);
        return;
    }
    if (pipe2(err, O_CLOEXEC) < 0) {
        int e = errno;
        ::close(out[0]);
        ::close(out[1]);
        seterr(e);
        return;
    }
    pid_t pid = hqfork(out[1], err[1]);
    if (pid == 0) {
        // A second fork, so that the program is adopted and reaped by the
        // system and this process never has to wait for it.
        pid_t grandchild = fork();
        if (grandchild < 0)
            child_fail(err[1], errno);
        if (grandchild > 0)
            _exit(0);
        if (out[1] == 1) {
            fcntl(1, F_SETFD, 0);
        } else if (dup2(out[1], 1) < 0) {
            child_fail(err[1], errno);
        }
        // An ignored SIGPIPE would survive exec; the program gets the default.
        signal(SIGPIPE, SIG_DFL);
        execv(program, const_cast<char *const *>(argv));
        child_fail(err[1], errno);
    }
    int fork_err = pid < 0 ? errno : 0;
    ::close(out[1]);
    ::close(err[1]);
    if (pid > 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        // The error pipe closes at a successful exec, or carries the errno.
        int code = 0;
        ssize_t n;
        do {
            n = ::read(err[0], &code, sizeof code);
        } while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(sizeof code))
            fork_err = code ? code : ECHILD;
    }
    ::close(err[0]);
    if (fork_err) {
        ::close(out[0]);
        seterr(fork_err);
        return;
    }
    attach(out[0], true);
}
