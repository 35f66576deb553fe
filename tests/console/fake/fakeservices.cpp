// The appliance's services for the console's tests, on unix sockets.
//
//   fakeservices ravelod SOCKET FIXTURE LOG
//       The configuration daemon: an in-memory key map served over the
//       daemon's wire protocol (ravelounix.h). FIXTURE holds "key=value"
//       lines with full key paths ("cfg/eth0/ipaddr=10.0.0.5"); blank lines
//       and lines starting with '#' are skipped. Every set is appended to
//       LOG as "SET key=value" before it is answered, so a test can read it
//       as soon as the client has its answer.
//   fakeservices rcmd SOCKET LINES LOG
//       The log service: for each connection, reads the request line,
//       appends "REQUEST <line>" to LOG, sends the lines of the file LINES
//       and keeps the connection open until the client closes it.
//
// Both run until killed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ravelounix.h"

namespace {

bool send_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool log_line(int log, const std::string &entry)
{
    std::string line = entry + "\n";
    return write(log, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

// Accepts clients on `path` and hands each complete request line to
// `handle` (client descriptor, line, how many lines that client sent before);
// a false return drops the client.
int serve(const char *path, const std::function<bool(int, const std::string &, int)> &handle)
{
    int lfd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un sa;
    memset(&sa, 0, sizeof sa);
    sa.sun_family = AF_UNIX;
    if (lfd < 0 || strlen(path) >= sizeof sa.sun_path)
        return 1;
    strcpy(sa.sun_path, path);
    unlink(path);
    if (bind(lfd, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa) != 0 || listen(lfd, 16) != 0)
        return 1;
    struct Client {
        int fd;
        std::string in;
        int lines;
    };
    std::vector<Client> clients;
    for (;;) {
        std::vector<struct pollfd> fds = {{lfd, POLLIN, 0}};
        for (const Client &c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        for (size_t i = fds.size() - 1; i >= 1; --i) {
            if (!fds[i].revents)
                continue;
            Client &c = clients[i - 1];
            char buf[4096];
            ssize_t n = read(c.fd, buf, sizeof buf);
            bool gone = n <= 0;
            if (!gone)
                c.in.append(buf, static_cast<size_t>(n));
            size_t nl;
            while (!gone && (nl = c.in.find('\n')) != std::string::npos) {
                std::string line = c.in.substr(0, nl);
                c.in.erase(0, nl + 1);
                gone = !handle(c.fd, line, c.lines++);
            }
            if (gone) {
                close(c.fd);
                clients.erase(clients.begin() + static_cast<long>(i - 1));
            }
        }
        if (fds[0].revents) {
            int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                clients.push_back({fd, std::string(), 0});
        }
    }
}

std::string read_all(const char *path)
{
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5 || (strcmp(argv[1], "ravelod") != 0 && strcmp(argv[1], "rcmd") != 0)) {
        fprintf(stderr, "usage: fakeservices ravelod SOCKET FIXTURE LOG | rcmd SOCKET LINES LOG\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    int log = open(argv[4], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        perror(argv[4]);
        return 1;
    }
    int r;
    if (strcmp(argv[1], "rcmd") == 0) {
        const std::string text = read_all(argv[3]);
        r = serve(argv[2], [&](int fd, const std::string &line, int before) {
            // Only the first line is a request; the client sends nothing else.
            return before > 0 || (log_line(log, "REQUEST " + line) && send_all(fd, text));
        });
    } else {
        std::map<std::string, std::string> keys;
        std::istringstream fixture(read_all(argv[3]));
        for (std::string line; std::getline(fixture, line);) {
            size_t eq = line.find('=');
            if (!line.empty() && line[0] != '#' && eq != std::string::npos)
                keys[line.substr(0, eq)] = line.substr(eq + 1);
        }
        r = serve(argv[2], [&](int fd, const std::string &line, int) {
            std::vector<std::string> f;
            std::string reply;
            if (!ravelo_wire_split(line, &f)) {
                reply = ravelo_wire_line({"ERR", "bad encoding"});
            } else if (f.size() == 2 && f[0] == "GET") {
                auto it = keys.find(f[1]);
                reply = it == keys.end() ? "NONE" : ravelo_wire_line({"VAL", it->second});
            } else if (f.size() == 3 && f[0] == "SET") {
                keys[f[1]] = f[2];
                reply = log_line(log, "SET " + f[1] + "=" + f[2]) ? "OK" : ravelo_wire_line({"ERR", "log failed"});
            } else {
                reply = ravelo_wire_line({"ERR", "unknown request"});
            }
            return send_all(fd, reply + "\n");
        });
    }
    perror(argv[2]);
    return r;
}
