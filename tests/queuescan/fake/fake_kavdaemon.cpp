// A stand-in for kavdaemon in tests.
//
//   fake_kavdaemon SOCKET LOG [MATCH REPLY]...
//
// Listens on the unix socket SOCKET and serves one request per connection.
// Each request ("Mmm dd hh:mm:ss:" and a backslash-escaped path, no line end)
// is checked and logged to LOG as one line:
//   ok|bad <TAB> time stamp <TAB> path <TAB> request bytes in hex
// The reply comes from the first rule whose MATCH fits (default: clean):
//   MATCH  any | name:TEXT (path contains TEXT) | content:TEXT (file contains TEXT)
//   REPLY  clean              status 0, nothing follows
//          code:N             status N, nothing follows
//          text:N:TEXT        status N, then the length and TEXT
//          infected:NAME      status 4, then "infected: NAME\n"
//          close              no reply at all
//          short              one status byte
//          shortlen           status 4 with text flag, two of the four length bytes
//          shorttext          status 4 with text flag, length 10, three text bytes
//          hugelen            status 4 with text flag, length 0xFFFFFFFF, a few bytes
//          raw:HEX            exactly these bytes
// Every reply is followed by closing the connection. Runs until killed.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "hextext.h"

namespace {

// "Mmm dd hh:mm:ss" as ctime() gives it from its fifth character on.
bool valid_stamp(const std::string &s)
{
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (s.size() != 15 || s[3] != ' ' || s[6] != ' ' || s[9] != ':' || s[12] != ':')
        return false;
    bool month = false;
    for (const char *m : months)
        month = month || s.compare(0, 3, m) == 0;
    auto num = [&](size_t at, bool space_ok) {
        return (isdigit(static_cast<unsigned char>(s[at])) || (space_ok && s[at] == ' ')) &&
               isdigit(static_cast<unsigned char>(s[at + 1]));
    };
    int day = (s[4] == ' ' ? 0 : s[4] - '0') * 10 + (s[5] - '0');
    int hour = (s[7] - '0') * 10 + (s[8] - '0');
    int minute = (s[10] - '0') * 10 + (s[11] - '0');
    int second = (s[13] - '0') * 10 + (s[14] - '0');
    return month && num(4, true) && num(7, false) && num(10, false) && num(13, false) && day >= 1 &&
           day <= 31 && hour < 24 && minute < 60 && second < 61 && (s[4] != '0');
}

std::string unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size())
            ++i;
        out.push_back(s[i]);
    }
    return out;
}

std::string file_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool matches(const std::string &match, const std::string &path)
{
    if (match == "any")
        return true;
    if (match.compare(0, 5, "name:") == 0)
        return path.find(match.substr(5)) != std::string::npos;
    if (match.compare(0, 8, "content:") == 0)
        return file_text(path).find(match.substr(8)) != std::string::npos;
    return false;
}

std::string le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string with_text(int code, const std::string &text)
{
    return std::string{static_cast<char>(code), 1} + le32(static_cast<uint32_t>(text.size())) + text;
}

std::string reply_bytes(const std::string &reply)
{
    if (reply == "clean")
        return std::string(2, '\0');
    if (reply.compare(0, 5, "code:") == 0)
        return std::string{static_cast<char>(std::stoi(reply.substr(5))), 0};
    if (reply.compare(0, 5, "text:") == 0) {
        size_t colon = reply.find(':', 5);
        return with_text(std::stoi(reply.substr(5, colon - 5)), reply.substr(colon + 1));
    }
    if (reply.compare(0, 9, "infected:") == 0)
        return with_text(4, "infected: " + reply.substr(9) + "\n");
    if (reply == "short")
        return std::string(1, '\4');
    if (reply == "shortlen")
        return std::string{4, 1, 10, 0};
    if (reply == "shorttext")
        return std::string{4, 1} + le32(10) + "abc";
    if (reply == "hugelen")
        return std::string{4, 1} + le32(0xFFFFFFFFu) + "infected: Huge";
    if (reply.compare(0, 4, "raw:") == 0)
        return from_hex(reply.substr(4));
    return std::string();   // "close"
}

void write_all(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// The request: what arrives until the client has been quiet for a moment.
std::string read_request(int fd)
{
    std::string request;
    char buf[4096];
    int wait = 2000;
    for (;;) {
        struct pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, wait);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        request.append(buf, static_cast<size_t>(n));
        wait = 15;
    }
    return request;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || argc % 2 != 1) {
        fprintf(stderr, "usage: %s SOCKET LOG [MATCH REPLY]...\n", argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::pair<std::string, std::string>> rules;
    for (int i = 3; i + 1 < argc; i += 2)
        rules.emplace_back(argv[i], argv[i + 1]);

    int lfd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un sa;
    memset(&sa, 0, sizeof sa);
    sa.sun_family = AF_UNIX;
    if (strlen(argv[1]) >= sizeof sa.sun_path) {
        fprintf(stderr, "socket path too long\n");
        return 2;
    }
    strcpy(sa.sun_path, argv[1]);
    unlink(argv[1]);
    if (lfd < 0 || bind(lfd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0 || listen(lfd, 16) < 0) {
        perror("fake_kavdaemon");
        return 1;
    }
    for (;;) {
        int fd = accept(lfd, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            perror("accept");
            return 1;
        }
        std::string request = read_request(fd);
        if (request.empty()) {
            close(fd);   // a connection probe: nothing to answer or log
            continue;
        }
        std::string stamp = request.substr(0, 15);
        bool ok = request.size() > 16 && request[15] == ':' && valid_stamp(stamp);
        std::string path = ok ? unescape(request.substr(16)) : std::string();
        std::string reply = "clean";
        for (const auto &rule : rules) {
            if (matches(rule.first, path)) {
                reply = rule.second;
                break;
            }
        }
        FILE *log = fopen(argv[2], "a");
        if (log) {
            fprintf(log, "%s\t%s\t%s\t%s\n", ok ? "ok" : "bad", stamp.c_str(), path.c_str(), to_hex(request).c_str());
            fclose(log);
        }
        write_all(fd, reply_bytes(reply));
        close(fd);
    }
}
