// A stand-in for qmail's own queue program in tests.
//
// Started with no arguments, as the filter starts the real one. It reads its
// settings from /var/qmail/bin/fake.conf (or the file named by its first
// argument), one per line:
//   output DIR     where to write what it received (default /var/qmail/bin)
//   status N       exit status after reading everything (default 0)
//   signal N       after reading everything, end by signal N instead
//   early          exit with the status at once, reading nothing
// It creates DIR/queue-PID.msg at start, reads descriptor 0 to its end into
// it, then descriptor 1 to its end into DIR/queue-PID.env, byte for byte.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

bool copy_fd(int in, int out)
{
    char buf[4096];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
    }
}

}  // namespace

int main(int argc, char **argv)
{
    std::string dir = "/var/qmail/bin";
    int status = 0;
    int sig = 0;
    bool early = false;
    std::ifstream conf(argc > 1 ? argv[1] : "/var/qmail/bin/fake.conf");
    std::string line;
    while (std::getline(conf, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "output")
            words >> dir;
        else if (key == "status")
            words >> status;
        else if (key == "signal")
            words >> sig;
        else if (key == "early")
            early = true;
    }
    std::string base = dir + "/queue-" + std::to_string(getpid());
    int msg = open((base + ".msg").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (msg < 0) {
        perror("fake_qmail_queue");
        return 120;
    }
    if (early) {
        close(msg);
        return status;
    }
    if (!copy_fd(0, msg))
        return 121;
    close(msg);
    int env = open((base + ".env").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (env < 0 || !copy_fd(1, env))
        return 122;
    close(env);
    if (sig) {
        signal(sig, SIG_DFL);
        raise(sig);
    }
    return status;
}
