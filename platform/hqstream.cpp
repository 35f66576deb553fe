#include "hqstream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hqstreamlist.h"
#include "hqtime.h"

namespace {

// Milliseconds left until `deadline` (-1 stays -1: no limit).
int remaining(long long deadline)
{
    if (deadline < 0)
        return -1;
    long long left = deadline - hq_monotonic_ms();
    return left > 0 ? static_cast<int>(left) : 0;
}

long long deadline_after(int ms) { return ms < 0 ? -1 : hq_monotonic_ms() + ms; }

// poll() on one descriptor, retried after signals; the poll result.
int wait_fd(int fd, short events, int ms)
{
    long long deadline = deadline_after(ms);
    for (;;) {
        struct pollfd p = {fd, events, 0};
        int r = poll(&p, 1, remaining(deadline));
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}

}  // namespace

HqStream::~HqStream() { HqIStreamList::forget(this); }

void HqStream::alarm(int ms) { alarm_at_ = ms < 0 ? -1 : hq_monotonic_ms() + ms; }

void HqStream::execute()
{
    // A copy: the callback may replace itself.
    HqCallback callback = callback_;
    callback(this, user_);
}

void HqStream::setcallback(const HqCallback &callback, void *user)
{
    callback_ = callback;
    user_ = user;
}

bool HqStream::isreadable()
{
    if (inputready())
        return true;
    int fd = getfd();
    return fd >= 0 && wait_fd(fd, POLLIN, 0) > 0;
}

int HqStream::select(int ms)
{
    if (!inputready() && getfd() < 0)
        return -1;
    int r = HqIStreamList::wait({this}, ms, true, nullptr);
    return r == 2 ? 0 : r;
}

int HqStream::continue_select(int ms)
{
    if (!inputready() && getfd() < 0)
        return -1;
    int r = HqIStreamList::wait({this}, ms, false, this);
    return r == 2 ? 0 : r;
}

int HqStream::runonce(int ms)
{
    int r = HqIStreamList::wait({}, ms, true, nullptr);
    return r == 2 ? 1 : r;
}

int HqStream::read(void *, unsigned) { return 0; }
int HqStream::write(const void *, unsigned) { return -1; }
int HqStream::print(const HqFastString &text)
{
    return text.length() ? write(text.cstr(), static_cast<unsigned>(text.length())) : 0;
}
int HqStream::flush(int) { return 0; }
int HqStream::close() { return 0; }
HqString HqStream::getline(int, char, unsigned) { return HqString(); }
const char *HqStream::errstr() const { return err_ ? strerror(err_) : "no error"; }

HqFdStream::HqFdStream(int fd, bool owned) { attach(fd, owned); }

HqFdStream::~HqFdStream() { close(); }

void HqFdStream::attach(int fd, bool owned)
{
    fd_ = fd;
    owned_ = owned;
    ended_ = false;
    if (fd < 0)
        seterr(EBADF);
}

int HqFdStream::read(void *buf, unsigned size)
{
    if (in_.used())
        return static_cast<int>(in_.get(buf, size));
    if (!isok() || size == 0)
        return 0;
    for (;;) {
        ssize_t n = ::read(fd_, buf, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        if (n < 0) {
            seterr(errno);
            return -1;
        }
        if (n == 0)
            ended_ = true;
        return static_cast<int>(n);
    }
}

int HqFdStream::write(const void *buf, unsigned size)
{
    if (!isok() || !out_.putstr(static_cast<const char *>(buf), size))
        return -1;
    if (!held_ && out_.used() >= 65536 && flush(-1) < 0)
        return -1;
    return static_cast<int>(size);
}

int HqFdStream::flush(int ms)
{
    held_ = false;
    long long deadline = deadline_after(ms);
    while (out_.used()) {
        if (fd_ < 0 || geterr())
            return -1;
        // A socket whose peer has gone must not end the program with SIGPIPE.
        ssize_t n = send(fd_, out_.peek(), out_.used(), MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = ::write(fd_, out_.peek(), out_.used());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int left = remaining(deadline);
            if (left == 0 || wait_fd(fd_, POLLOUT, left) <= 0)
                return -1;
            continue;
        }
        if (n <= 0) {
            seterr(n < 0 ? errno : EIO);
            return -1;
        }
        out_.get(nullptr, static_cast<size_t>(n));
    }
    return 0;
}

int HqFdStream::close()
{
    if (fd_ < 0)
        return 0;
    int r = flush(-1);
    out_.clear();
    in_.clear();
    if (owned_ && ::close(fd_) < 0 && r == 0)
        r = -1;
    fd_ = -1;
    ended_ = true;
    return r;
}

int HqFdStream::fill(int wait_ms)
{
    if (!isok())
        return -1;
    int r = wait_fd(fd_, POLLIN, wait_ms);
    if (r <= 0)
        return r;
    char *room = in_.alloc(8192);
    if (!room)
        return -1;
    ssize_t n;
    do {
        n = ::read(fd_, room, 8192);
    } while (n < 0 && errno == EINTR);
    in_.unalloc(8192 - (n > 0 ? static_cast<size_t>(n) : 0));
    if (n == 0)
        ended_ = true;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        seterr(errno);
    return n > 0 ? static_cast<int>(n) : n == 0 ? 0 : -1;
}

HqString HqFdStream::getline(int wait_ms, char separator, unsigned max)
{
    if (max == 0)
        return HqString();
    long long deadline = deadline_after(wait_ms);
    for (;;) {
        size_t look = in_.used() < max ? in_.used() : max;
        const void *sep = look ? memchr(in_.peek(), separator, look) : nullptr;
        if (sep) {
            size_t n = static_cast<size_t>(static_cast<const char *>(sep) - in_.peek());
            HqString line(in_.peek(), n);
            in_.get(nullptr, n + 1);
            return line;
        }
        if (in_.used() >= max || (in_.used() && !isok())) {
            HqString line(in_.peek(), look);
            in_.get(nullptr, look);
            return line;
        }
        if (!isok())
            return HqString();
        int r = fill(remaining(deadline));
        if (r < 0 || (r == 0 && isok()))
            return HqString();   // time out or failure
    }
}

int HqFdStream::drain()
{
    size_t dropped = in_.used();
    in_.clear();
    while (isok() && wait_fd(fd_, POLLIN, 0) > 0) {
        char scrap[4096];
        int n = read(scrap, sizeof scrap);
        if (n <= 0)
            break;
        dropped += static_cast<size_t>(n);
    }
    return dropped > 0x7fffffff ? 0x7fffffff : static_cast<int>(dropped);
}

HqFile::HqFile(const char *path, int flags, mode_t mode)
{
    int fd = path ? open(path, flags | O_CLOEXEC, mode) : -1;
    int err = fd < 0 ? (path ? errno : EINVAL) : 0;
    attach(fd, true);
    if (err)
        seterr(err);
}

void HqStreamClone::execute()
{
    if (hascallback() || !inner_)
        HqStream::execute();
    else
        inner_->execute();
}
