#include "hqbuf.h"

#include <algorithm>
#include <cstring>

HqBuf::HqBuf(size_t start, size_t maximum) : max_(std::max(start, maximum))
{
    // Never empty, so peek() is a valid pointer even before the first byte.
    data_.resize(start ? start : 1);
}

size_t HqBuf::get(void *dst, size_t n)
{
    n = std::min(n, used());
    if (dst && n)
        memcpy(dst, data_.data() + head_, n);
    head_ += n;
    return n;
}

void HqBuf::unget(size_t n) { head_ -= std::min(n, head_); }

char *HqBuf::alloc(size_t n)
{
    if (n > max_ - used())
        return nullptr;
    if (data_.size() - tail_ < n) {
        // Move the held bytes to the front before growing.
        if (head_) {
            memmove(data_.data(), data_.data() + head_, used());
            tail_ -= head_;
            head_ = 0;
        }
        if (data_.size() - tail_ < n) {
            size_t size = std::max<size_t>(data_.size(), 16);
            while (size - tail_ < n)
                size = size > max_ / 2 ? max_ : size * 2;
            data_.resize(size);
        }
    }
    char *room = data_.data() + tail_;
    tail_ += n;
    return room;
}

void HqBuf::unalloc(size_t n) { tail_ -= std::min(n, used()); }

bool HqBuf::putstr(const char *data, size_t n)
{
    char *room = alloc(n);
    if (!room)
        return false;
    if (n)
        memcpy(room, data, n);
    return true;
}

bool HqBuf::putstr(const char *text) { return putstr(text, strlen(text)); }

HqString HqBuf::getstr()
{
    HqString out(peek(), used());
    clear();
    return out;
}
