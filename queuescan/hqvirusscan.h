// HqVirusScan: client of the kavdaemon anti-virus daemon. One object serves
// one scan: it connects to the daemon's unix socket when built, sends the path
// of a file and reads back a result code and, when the daemon names a virus,
// its name.
//
//   HqVirusScan scan;                          // "/var/run/AvpCtl"
//   if (scan.isok()) {
//       scan.sync_scan(HqString("/var/tmp//decoded-Ab12Cd"));
//       HqString virus;
//       int result = scan.get_scan_result(&virus);
//   }
//
// The asynchronous form runs inside the select loop: the scanner must be on
// globallist(); when the reply has been read, the scan callback runs (here
// through the alarm of `waker`, which the loop then runs).
//
//   globallist().append(&scan);
//   scan.async_scan(&waker, path);       // 0: the request went out
//   ... HqStream::runonce(-1) ...        // scan.execute() reads the reply
//
// Results: 0 clean (or a code the client does not know), 1 suspicious,
// 2 infected, -1 nothing scanned (no such file, not a file, broken reply),
// -2 scanner trouble. After a successful start the object stays "in
// progress", so a second start_scan() on it fails; use a new object per scan.
#pragma once

#include <cstdint>

#include "hqcallback.h"
#include "hqlog.h"
#include "hqstream.h"
#include "hqstring.h"

class HqVirusScan : public HqStreamClone {
public:
    static constexpr const char *kSocketPath = "/var/run/AvpCtl";
    // Replies announcing more text than this are refused as broken.
    static constexpr uint32_t kMaxReplyText = 1u << 20;

    explicit HqVirusScan(const char *socket_path = kSocketPath);
    ~HqVirusScan() override;

    // Drops the connection and connects afresh to the same socket.
    void reset();
    // 0 when the request was sent; -1 connection not ok, -2 a scan in
    // progress, -3 path unset or missing, -4 not a regular file or link.
    // Every failure also sets the result and calls notify().
    int start_scan(const HqFastString &path);
    // Writes the request "Mmm dd hh:mm:ss:<escaped path>"; the write's result.
    int send_path();
    // Reads exactly `count` bytes unless the stream stops being ok; the number read.
    unsigned readblob(bool continued, void *buffer, unsigned count);
    // Reads and decodes one reply; the result.
    int get_result(bool continued);
    // start_scan() and, when it started, get_result(); the start's failure
    // code or the result.
    int sync_scan(const HqFastString &path);
    // The result, with the virus name copied to `virus_name` when given.
    int get_scan_result(HqString *virus_name);

    // start_scan() and, when it started, the alarm at 0, so that execute()
    // reads the reply on the next pass of the loop; the start's result.
    int async_scan(const HqFastString &path);
    // The same, waking `wake` (its alarm at 0) when the scan is over.
    int async_scan(HqStream *wake, const HqFastString &path);
    // Woken by its alarm: reads the reply and calls notify(); otherwise what
    // a clone does.
    void execute() override;

    // The callback receives this scanner (as a stream) and `user`.
    void set_scan_callback(const HqCallback &callback, void *user);
    const HqString &get_filename() const { return file_name_; }
    bool in_progress() const { return isok() && in_progress_; }
    // Calls the callback once, then forgets it; the scan is over.
    void notify();

private:
    int fail(int code, int result);

    HqString file_name_;
    HqString virus_name_;
    bool in_progress_ = false;
    int result_ = 0;
    HqLog log_;
    HqCallback callback_;
    void *user_ = nullptr;
    HqString socket_path_;
};
