// Streams over descriptors.
//
//   HqFile file("/tmp/x", O_RDONLY, 0666);
//   if (file.isok()) {
//       HqString line = file.getline(0, '\n', 1024);   // null when there is none
//   }
//   HqFdStream out(dup(1));                             // owns the descriptor
//   out.print("ready\n");
//   out.flush(1000);                                    // at most one second
//
// Writes are collected and sent by flush() (or when much is waiting); reads
// come from what getline() has already buffered first. A stream stops being
// ok when its descriptor fails, when the other end has closed (a read gives
// 0) or after close(). HqStreamClone passes everything to an inner stream that
// it owns. Single-threaded; the select loop over many streams is built on top
// of select() by the programs that need it.
#pragma once

#include <sys/types.h>

#include <memory>

#include "hqbuf.h"
#include "hqstring.h"

class HqStream {
public:
    HqStream() = default;
    virtual ~HqStream() = default;
    HqStream(const HqStream &) = delete;
    HqStream &operator=(const HqStream &) = delete;

    virtual bool isok() const { return false; }
    virtual int getfd() const { return -1; }
    // Bytes read into `buf` (> 0), 0 at the end or when not ok, -1 on failure.
    virtual int read(void *buf, unsigned size);
    // Queues `size` bytes; returns `size`, or -1 when not ok or too much waits.
    virtual int write(const void *buf, unsigned size);
    int print(const HqFastString &text);
    // Sends what is queued, waiting at most `ms` milliseconds (-1: no limit).
    // 0 when all went out, -1 otherwise.
    virtual int flush(int ms);
    virtual int close();
    // One line without its separator, waiting at most `wait_ms` (0: only what
    // is there already, -1: no limit) for it; a line longer than `max` bytes is
    // returned in pieces of `max`. At the end, the unterminated rest is the
    // last line. Null when there is no line.
    virtual HqString getline(int wait_ms, char separator, unsigned max);
    // Waits at most `ms` (-1: no limit) until the stream has input: 1 input or
    // end of input, 0 time out, -1 failure.
    virtual int select(int ms);
    // select() called while the owner's wait is already running.
    virtual int continue_select(int ms) { return select(ms); }
    // Whether read() would return at once.
    virtual bool isreadable();
    int geterr() const { return err_; }
    const char *errstr() const;

protected:
    void seterr(int err) { err_ = err; }

private:
    int err_ = 0;
};

// A stream on a descriptor; the stream closes it unless told it does not own it.
class HqFdStream : public HqStream {
public:
    explicit HqFdStream(int fd, bool owned = true);
    ~HqFdStream() override;

    bool isok() const override { return fd_ >= 0 && !ended_ && geterr() == 0; }
    int getfd() const override { return fd_; }
    int read(void *buf, unsigned size) override;
    int write(const void *buf, unsigned size) override;
    int flush(int ms) override;
    int close() override;
    HqString getline(int wait_ms, char separator, unsigned max) override;
    int select(int ms) override;
    bool isreadable() override;

protected:
    HqFdStream() = default;
    void attach(int fd, bool owned);

private:
    int fill(int wait_ms);
    int fd_ = -1;
    bool owned_ = true;
    bool ended_ = false;
    HqDynBuf in_{0, 1 << 20};
    HqDynBuf out_{0, 16 << 20};
};

// A file opened by path (open(2) flags and mode); not ok when it cannot open.
class HqFile : public HqFdStream {
public:
    HqFile(const char *path, int flags, mode_t mode);
    explicit HqFile(int fd, bool owned = true) : HqFdStream(fd, owned) {}
};

// A stream that hands everything to an inner stream, which it owns.
class HqStreamClone : public HqStream {
public:
    HqStreamClone() = default;
    explicit HqStreamClone(HqStream *inner) : inner_(inner) {}

    // Takes ownership of `inner`, releasing the previous one.
    void setclone(HqStream *inner) { inner_.reset(inner); }
    HqStream *getclone() const { return inner_.get(); }

    bool isok() const override { return inner_ && inner_->isok(); }
    int getfd() const override { return inner_ ? inner_->getfd() : -1; }
    int read(void *buf, unsigned size) override { return inner_ ? inner_->read(buf, size) : -1; }
    int write(const void *buf, unsigned size) override { return inner_ ? inner_->write(buf, size) : -1; }
    int flush(int ms) override { return inner_ ? inner_->flush(ms) : -1; }
    int close() override { return inner_ ? inner_->close() : -1; }
    HqString getline(int wait_ms, char separator, unsigned max) override
    {
        return inner_ ? inner_->getline(wait_ms, separator, max) : HqString();
    }
    int select(int ms) override { return inner_ ? inner_->select(ms) : -1; }
    bool isreadable() override { return inner_ && inner_->isreadable(); }

private:
    std::unique_ptr<HqStream> inner_;
};
