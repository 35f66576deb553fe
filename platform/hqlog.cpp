#include "hqlog.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<HqLogReceiver *> &receivers()
{
    static std::vector<HqLogReceiver *> list;
    return list;
}

void write_all(int fd, const char *data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

std::string hqlog_format(const char *fmt, std::initializer_list<HqLogArg> args)
{
    std::string out;
    if (!fmt)
        return out;
    auto next = args.begin();
    const char *p = fmt;
    while (*p) {
        if (*p != '%') {
            out.push_back(*p++);
            continue;
        }
        if (p[1] == '%') {
            out.push_back('%');
            p += 2;
            continue;
        }
        // %[-+ #0]*[width][.precision]s ; anything else is copied as it stands
        const char *q = p + 1;
        bool left = false;
        while (*q && strchr("-+ #0", *q)) {
            if (*q == '-')
                left = true;
            ++q;
        }
        size_t width = 0;
        while (*q >= '0' && *q <= '9')
            width = std::min<size_t>(width * 10 + static_cast<size_t>(*q++ - '0'), 4096);
        bool has_precision = false;
        size_t precision = 0;
        if (*q == '.') {
            has_precision = true;
            ++q;
            while (*q >= '0' && *q <= '9')
                precision = std::min<size_t>(precision * 10 + static_cast<size_t>(*q++ - '0'), 1u << 20);
        }
        if (*q != 's') {
            out.push_back(*p++);
            continue;
        }
        std::string value = next != args.end() ? (next++)->text() : std::string("(null)");
        if (has_precision && value.size() > precision)
            value.resize(precision);
        std::string pad(width > value.size() ? width - value.size() : 0, ' ');
        out += left ? value + pad : pad + value;
        p = q + 1;
    }
    return out;
}

HqLogReceiver::HqLogReceiver() { receivers().push_back(this); }

HqLogReceiver::~HqLogReceiver()
{
    auto &list = receivers();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

HqSyslog::HqSyslog(const char *prefix, bool also_stderr, int notice_level, int debug_level)
    : prefix_(prefix ? prefix : ""), notice_level_(notice_level), debug_level_(debug_level)
{
    // openlog keeps the pointer, so it points at our own copy.
    openlog(prefix_.c_str(), LOG_PID | (also_stderr ? LOG_PERROR : 0), LOG_MAIL);
}

HqSyslog::~HqSyslog() { closelog(); }

void HqSyslog::receive(const char *source, int level, const std::string &text)
{
    if (level > debug_level_)
        return;
    int priority = level <= 1 ? LOG_ERR : level <= notice_level_ ? LOG_NOTICE : LOG_DEBUG;
    syslog(priority, "%s: %s", source, text.c_str());
}

HqLogConsole::HqLogConsole(int fd, int level) : fd_(fd), level_(level) {}

void HqLogConsole::receive(const char *source, int level, const std::string &text)
{
    if (level > level_)
        return;
    std::string line = std::string(source) + ": " + text;
    if (line.empty() || line.back() != '\n')
        line.push_back('\n');
    write_all(fd_, line.data(), line.size());
}

HqLog::HqLog(const char *name, int default_level) : name_(name ? name : ""), default_level_(default_level) {}

void HqLog::emit(int level, const std::string &text) const
{
    // A receiver may not unregister while being called, so a copy is not needed.
    for (HqLogReceiver *r : receivers())
        r->receive(name_.c_str(), level, text);
}
