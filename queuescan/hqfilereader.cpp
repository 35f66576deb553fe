#include "hqfilereader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

// Windows start on this boundary below the offset asked for, so that a step
// back to a nearby byte stays inside the window.
const long kAlign = 4096;

inline unsigned char lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// memmem without regard to ASCII case.
const char *find_nocase(const char *hay, size_t hay_len, const char *needle, size_t len)
{
    if (len > hay_len)
        return nullptr;
    const unsigned char first = lower(static_cast<unsigned char>(needle[0]));
    for (size_t i = 0; i + len <= hay_len; ++i) {
        if (lower(static_cast<unsigned char>(hay[i])) != first)
            continue;
        size_t k = 1;
        while (k < len && lower(static_cast<unsigned char>(hay[i + k])) == lower(static_cast<unsigned char>(needle[k])))
            ++k;
        if (k == len)
            return hay + i;
    }
    return nullptr;
}

}  // namespace

HqFileReader::HqFileReader(int fd, bool owned) : fd_(fd), owned_(owned) {}

HqFileReader::HqFileReader(FILE *owned_stream)
    : fd_(owned_stream ? fileno(owned_stream) : -1), owned_(false), stream_(owned_stream)
{
}

HqFileReader::~HqFileReader()
{
    if (stream_)
        fclose(stream_);
    else if (owned_ && fd_ >= 0)
        close(fd_);
}

long HqFileReader::size() const
{
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        return -1;
    return static_cast<long>(st.st_size);
}

bool HqFileReader::load(long offset)
{
    if (offset < 0 || fd_ < 0)
        return false;
    if (!(have_ && offset >= base_ && offset < base_ + static_cast<long>(have_)))
        fill(offset - offset % kAlign);
    return offset >= base_ && offset < base_ + static_cast<long>(have_);
}

void HqFileReader::fill(long start)
{
    if (window_.empty())
        window_.resize(kWindow);
    size_t got = 0;
    while (got < kWindow) {
        ssize_t n = pread(fd_, window_.data() + got, kWindow - got, start + static_cast<long>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    base_ = start;
    have_ = got;
}

int HqFileReader::byte_at(long offset)
{
    if (!load(offset))
        return -1;
    return static_cast<unsigned char>(window_[static_cast<size_t>(offset - base_)]);
}

size_t HqFileReader::read(long offset, char *buf, size_t n)
{
    size_t done = 0;
    each(offset, offset + static_cast<long>(n), [&](const char *data, size_t len) {
        memcpy(buf + done, data, len);
        done += len;
        return true;
    });
    return done;
}

bool HqFileReader::matches(long offset, const char *text, size_t len)
{
    size_t at = 0;
    return each(offset, offset + static_cast<long>(len), [&](const char *data, size_t n) {
        bool same = memcmp(data, text + at, n) == 0;
        at += n;
        return same;
    });
}

long HqFileReader::find(const char *pattern, size_t len, long from, long last_start, bool nocase)
{
    // Longer patterns could straddle every window; nothing searches for them.
    if (!pattern || len == 0 || len > kWindow / 2 || from < 0)
        return -1;
    while (from <= last_start) {
        if (!load(from))
            return -1;
        size_t at = static_cast<size_t>(from - base_);
        const char *hay = window_.data() + at;
        // Only up to where an occurrence starting at last_start would end.
        size_t hay_len = have_ - at;
        bool all_in_view = last_start - from + static_cast<long>(len) <= static_cast<long>(hay_len);
        if (all_in_view)
            hay_len = static_cast<size_t>(last_start - from) + len;
        const char *hit = nocase ? find_nocase(hay, hay_len, pattern, len)
                                 : static_cast<const char *>(memmem(hay, hay_len, pattern, len));
        if (hit)
            return base_ + static_cast<long>(hit - window_.data());
        // Searched to the end of the range, or a short window: the end of the file.
        if (all_in_view || have_ < kWindow)
            return -1;
        // Go on where an occurrence cut by the window's end would start; that
        // window must begin there, not at the aligned offset below it, or it
        // would be this window again.
        long next = base_ + static_cast<long>(have_ - (len - 1));
        if (next > from)
            from = next;
        fill(from);
    }
    return -1;
}

bool HqFileReader::copy(long from, long to, FILE *out)
{
    return each(from, to, [out](const char *data, size_t n) { return fwrite(data, 1, n, out) == n; }, kWindow);
}
