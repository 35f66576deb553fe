#include "ravelounix.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "hqcodec.h"

RaveloUnix::RaveloUnix(const char *socket_path) : conn_(new HqUnixConn(HqUnixAddr(socket_path))) {}

void RaveloUnix::fail()
{
    if (conn_)
        conn_->close();
}

bool RaveloUnix::exchange(const std::vector<std::string> &request, std::vector<std::string> *answer)
{
    if (!isok())
        return false;
    // Whatever arrived unasked (a late answer after a time out) would
    // answer the wrong request.
    if (conn_->drain() > 0 || !conn_->isok()) {
        fail();
        return false;
    }
    std::string line = ravelo_wire_line(request) + "\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = send(conn_->getfd(), line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd p = {conn_->getfd(), POLLOUT, 0};
            if (poll(&p, 1, answer_ms) > 0)
                continue;
        }
        if (n <= 0) {
            fail();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    HqString reply = conn_->getline(answer_ms, '\n', max_line);
    // A line cut at max_line has no terminator left to find: treat as garbled.
    if (reply.isnull() || reply.length() >= max_line || !ravelo_wire_split(reply.str(), answer) ||
        answer->empty()) {
        fail();
        return false;
    }
    return true;
}

bool RaveloUnix::get(const RaveloKey &key, HqString *value)
{
    std::vector<std::string> answer;
    if (!exchange({"GET", key.text()}, &answer))
        return false;
    if (answer[0] == "VAL" && answer.size() == 2) {
        *value = HqString(answer[1]);
        return true;
    }
    if (answer[0] == "NONE" && answer.size() == 1)
        return false;
    if (answer[0] != "ERR")
        fail();
    return false;
}

bool RaveloUnix::set(const RaveloKey &key, const HqFastString &value)
{
    std::vector<std::string> answer;
    if (!exchange({"SET", key.text(), value.isnull() ? std::string() : value.str()}, &answer))
        return false;
    if (answer[0] == "OK" && answer.size() == 1)
        return true;
    if (answer[0] != "ERR")
        fail();
    return false;
}

std::string ravelo_wire_encode(const std::string &field)
{
    std::string out;
    for (unsigned char c : field) {
        if (c < 0x21 || c == '%' || c >= 0x7F) {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool ravelo_wire_decode(const std::string &text, std::string *field)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\n' || c == '\r')
            return false;
        if (c != '%') {
            out += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        int hi = hq_hex_value(text[i + 1]), lo = hq_hex_value(text[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    *field = out;
    return true;
}

std::string ravelo_wire_line(const std::vector<std::string> &fields)
{
    std::string line;
    for (const std::string &f : fields) {
        if (!line.empty() || &f != &fields.front())
            line += ' ';
        line += ravelo_wire_encode(f);
    }
    return line;
}

bool ravelo_wire_split(const std::string &line, std::vector<std::string> *fields)
{
    fields->clear();
    size_t from = 0;
    for (;;) {
        size_t blank = line.find(' ', from);
        std::string field;
        if (!ravelo_wire_decode(line.substr(from, blank == std::string::npos ? std::string::npos : blank - from), &field))
            return false;
        fields->push_back(field);
        if (blank == std::string::npos)
            return true;
        from = blank + 1;
    }
}
