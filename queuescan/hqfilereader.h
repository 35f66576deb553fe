// HqFileReader: random-access reads of one file through a window of
// kWindow bytes, so that looking at many small pieces that lie close together
// (header lines, boundary lines, single bytes) costs one pread() per window
// and not one per piece.
//
//   HqFileReader file(fd, false);                 // does not close fd
//   long blank = file.find("\n\n", 2, 0, size, false);
//   int c = file.byte_at(blank + 2);              // -1 past the end
//   file.each(from, to, [&](const char *p, size_t n) { ...; return true; });
//   file.copy(from, to, out);                     // bytes [from, to) to a stdio stream
//
// The file must not change while it is read (a changed file gives stale
// bytes until forget()). Reads never move the descriptor's offset, so other
// users of the same descriptor are not disturbed. Memory use is one window
// whatever the file's size. Not thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <vector>

class HqFileReader {
public:
    static constexpr size_t kWindow = 65536;
    // The pieces that each() hands out are at most this long.
    static constexpr size_t kPiece = 8192;

    // Reads `fd`; closes it when destroyed if `owned`.
    HqFileReader(int fd, bool owned);
    // Reads the stream's descriptor and closes the stream when destroyed.
    explicit HqFileReader(FILE *owned_stream);
    ~HqFileReader();
    HqFileReader(const HqFileReader &) = delete;
    HqFileReader &operator=(const HqFileReader &) = delete;

    bool isok() const { return fd_ >= 0; }
    // The file's size, or -1.
    long size() const;

    // The byte at `offset`, or -1 past the end or on a read error.
    int byte_at(long offset);
    // Up to `n` bytes at `offset` into `buf`; how many there were.
    size_t read(long offset, char *buf, size_t n);
    // Whether the file holds `text` (`len` bytes) at `offset`.
    bool matches(long offset, const char *text, size_t len);
    // Offset of the first occurrence of `pattern` (`len` bytes, 1 or more)
    // that starts at or after `from` and at or before `last_start`, or -1.
    // With `nocase` ASCII letters match in either case. NUL bytes in the
    // file are ordinary bytes.
    long find(const char *pattern, size_t len, long from, long last_start, bool nocase);
    // Hands the bytes [from, to) to `fn(const char *data, size_t n)` in
    // order, in pieces of at most `most` bytes (at most one window). False
    // when the file ends before `to` or `fn` returns false.
    template <class F>
    bool each(long from, long to, F fn, size_t most = kPiece);
    // Writes [from, to) to `out`; false on a short read or a failed write.
    bool copy(long from, long to, FILE *out);
    // Drops the window, so that the next read sees the file anew.
    void forget() { have_ = 0; }

private:
    // Makes the window cover `offset`; false when the file has no byte there.
    bool load(long offset);
    // Reads the window that starts at `start`.
    void fill(long start);

    int fd_;
    bool owned_;
    FILE *stream_ = nullptr;
    std::vector<char> window_;
    long base_ = 0;
    size_t have_ = 0;
};

template <class F>
bool HqFileReader::each(long from, long to, F fn, size_t most)
{
    while (from < to) {
        if (!load(from))
            return false;
        size_t at = static_cast<size_t>(from - base_);
        size_t n = have_ - at;
        if (static_cast<long>(n) > to - from)
            n = static_cast<size_t>(to - from);
        if (n > most)
            n = most;
        if (!fn(window_.data() + at, n))
            return false;
        from += static_cast<long>(n);
    }
    return true;
}
