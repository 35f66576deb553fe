#include "hqprocess.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

char crash_name[64] = "program";

void close_from(unsigned first, unsigned last)
{
    if (first <= last && close_range(first, last, 0) < 0) {
        for (unsigned fd = first; fd <= last && fd < 65536; ++fd)
            close(static_cast<int>(fd));
    }
}

void crash_handler(int sig)
{
    // Only async-signal-safe calls here.
    char text[128];
    size_t n = 0;
    for (const char *p = crash_name; *p && n < 64; ++p)
        text[n++] = *p;
    const char *mid = ": fatal signal ";
    for (const char *p = mid; *p; ++p)
        text[n++] = *p;
    char digits[8];
    int d = 0;
    int v = sig;
    do {
        digits[d++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v && d < 8);
    while (d)
        text[n++] = digits[--d];
    text[n++] = '\n';
    ssize_t ignored = write(2, text, n);
    (void)ignored;
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

pid_t hqfork(int fd1, int fd2)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    int lo = std::min(fd1, fd2), hi = std::max(fd1, fd2);
    unsigned next = 3;
    for (int keep : {lo, hi}) {
        if (keep < static_cast<int>(next))
            continue;
        close_from(next, static_cast<unsigned>(keep) - 1);
        next = static_cast<unsigned>(keep) + 1;
    }
    close_from(next, UINT_MAX);
    return 0;
}

void hqcrash_setup(const char *program, const void *)
{
    if (program) {
        const char *base = strrchr(program, '/');
        base = base ? base + 1 : program;
        size_t n = std::min(strlen(base), sizeof crash_name - 1);
        memcpy(crash_name, base, n);
        crash_name[n] = '\0';
    }
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = crash_handler;
        sa.sa_flags = SA_RESETHAND;
        sigaction(sig, &sa, nullptr);
    }
}
