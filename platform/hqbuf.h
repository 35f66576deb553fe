// Byte buffers: bytes are added at the end and taken from the front.
//
//   HqDynBuf buf(1024, 1 << 20);          // starts at 1 KiB, never above 1 MiB
//   char *room = buf.alloc(8192);         // 8192 writable bytes at the end
//   ssize_t n = read(fd, room, 8192);
//   buf.unalloc(8192 - n);                // give back the unfilled tail
//   HqString all = buf.getstr();          // takes everything held
//
// An HqInPlaceBuf has a fixed size. peek() and alloc() pointers stay valid
// until the buffer is next changed.
#pragma once

#include <cstddef>
#include <vector>

#include "hqstring.h"

class HqBuf {
public:
    virtual ~HqBuf() = default;

    size_t used() const { return tail_ - head_; }
    size_t maximum() const { return max_; }
    // The first held byte (nothing to read when used() is 0).
    const char *peek() const { return data_.data() + head_; }
    // Takes up to `n` bytes into `dst` (or drops them when `dst` is null).
    size_t get(void *dst, size_t n);
    // Gives back the last `n` bytes taken, as long as nothing was added since.
    void unget(size_t n);
    // `n` writable bytes at the end, counted as held; null when the buffer
    // cannot grow that far.
    char *alloc(size_t n);
    // Gives back the last `n` bytes of the end (an unfilled part of alloc()).
    void unalloc(size_t n);
    bool putstr(const char *data, size_t n);
    bool putstr(const char *text);
    // Takes every held byte.
    HqString getstr();
    void clear() { head_ = tail_ = 0; }

protected:
    HqBuf(size_t start, size_t maximum);

private:
    std::vector<char> data_;
    size_t head_ = 0;
    size_t tail_ = 0;
    size_t max_;
};

class HqDynBuf : public HqBuf {
public:
    HqDynBuf(size_t start, size_t maximum) : HqBuf(start, maximum) {}
};

class HqInPlaceBuf : public HqBuf {
public:
    explicit HqInPlaceBuf(size_t size) : HqBuf(size, size) {}
};
