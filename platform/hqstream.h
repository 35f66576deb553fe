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
// it owns. Single-threaded.
//
// The select loop: streams on globallist() (hqstreamlist.h) are serviced by
// every wait of the program. A member runs (execute(), which calls its
// callback) when its alarm comes due, or, when it has a callback, when its
// input is ready.
//
//   HqStream timer;                                     // a bare stream: only an alarm
//   timer.setcallback(tick, nullptr);
//   timer.alarm(1);
//   globallist().append(&timer);
//   tty.select(-1);       // 1: tty input; 0: a member of the list ran
#pragma once

#include <sys/types.h>

#include <memory>

#include "hqbuf.h"
#include "hqcallback.h"
#include "hqstring.h"

class HqStream {
public:
    HqStream() = default;
    // Leaves globallist() when it is on it.
    virtual ~HqStream();
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
    // Waits at most `ms` (-1: no limit) until the stream has input, running the
    // members of globallist() that come due meanwhile: 1 input or end of
    // input, 0 time out or a member ran, -1 failure (also at once for a
    // stream without descriptor or buffered input).
    virtual int select(int ms);
    // Like select(), but members that run do not end the wait; it ends on
    // input, time out or terminate_continue_select() (then 0). This is the
    // wait to use from inside a callback or a key loop.
    virtual int continue_select(int ms);
    // Ends a continue_select() of this stream that is running further up the
    // call stack (for instance, from a callback).
    void terminate_continue_select() { terminate_ = true; }
    // Whether read() would return at once. Runs no callback.
    virtual bool isreadable();
    // Input that can be taken without touching the descriptor: buffered bytes
    // or the end of input.
    virtual bool inputready() const { return false; }
    // Drops the input that has arrived (buffered or readable now, no waiting);
    // the number of bytes dropped.
    virtual int drain() { return 0; }
    // Holds the writes, even many, until the next flush().
    virtual void delay_output() {}
    int geterr() const { return err_; }
    const char *errstr() const;

    // Arms the alarm: execute() runs `ms` milliseconds from now, 0 on the next
    // loop pass; a negative value disarms it. Only members of globallist()
    // are run. The alarm fires once.
    void alarm(int ms);
    // True while execute() runs because the alarm came due.
    bool isalarmed() const { return alarmed_; }
    // Runs the callback with this stream and the user pointer.
    virtual void execute();
    void setcallback(const HqCallback &callback, void *user);
    // One pass of the loop over globallist(): waits at most `ms` (-1: no
    // limit) until a member is due and runs every due member. 1 when one ran,
    // 0 time out, -1 failure (nothing could ever become due).
    static int runonce(int ms);

protected:
    void seterr(int err) { err_ = err; }
    bool hascallback() const { return callback_.isset(); }

private:
    friend class HqIStreamList;
    int err_ = 0;
    long long alarm_at_ = -1;   // monotonic milliseconds, -1 disarmed
    bool alarmed_ = false;
    bool running_ = false;      // inside execute() from the loop: not run again
    bool terminate_ = false;
    HqCallback callback_;
    void *user_ = nullptr;
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
    bool inputready() const override { return in_.used() || ended_; }
    int drain() override;
    void delay_output() override { held_ = true; }

protected:
    HqFdStream() = default;
    void attach(int fd, bool owned);

private:
    int fill(int wait_ms);
    int fd_ = -1;
    bool owned_ = true;
    bool ended_ = false;
    bool held_ = false;
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
    bool isreadable() override { return inner_ && inner_->isreadable(); }
    bool inputready() const override { return inner_ && inner_->inputready(); }
    int drain() override { return inner_ ? inner_->drain() : 0; }
    void delay_output() override
    {
        if (inner_)
            inner_->delay_output();
    }
    // Its own callback when one is set, else the inner stream's execute().
    void execute() override;

private:
    std::unique_ptr<HqStream> inner_;
};
