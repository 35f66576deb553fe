// Ravelo's client of the configuration daemon, over a unix stream socket.
//
//   RaveloRoot root;
//   RaveloGen *gen = root.mount("cache:subtree:unix:/tmp/ravelod cfg", true);
//   if (!gen->isok()) ...          // no daemon: try again later (unmount, mount)
//   root[RaveloKey("eth0/ipaddr")].setme("10.0.0.5");   // at the daemon on return
//
// Monikers: "unix:<socket path>" is this client; "subtree:<moniker> <path>"
// serves the keys below <path> of the inner moniker's tree (the last blank
// separates the two); "cache:<moniker>" keeps the values read (ravelowrap.h).
//
// The wire protocol. Every request is one line and gets one answer line,
// before the next request is sent; lines end with LF. The fields of a line
// are separated by one blank, and every field is percent-encoded: each byte
// below 0x21, '%' and each byte from 0x7F up is written as '%' and two
// upper-case hex digits, so a field never holds a blank or a line end.
//
//   client                          daemon
//   "GET <key>"                     "VAL <value>"  the key's value
//                                   "NONE"         the key is absent
//   "SET <key> <value>"             "OK"           stored
//   anything else                   "ERR <text>"   refused; the connection stays
//
// A key is the full path inside the daemon's tree, names joined by '/'
// ("cfg/eth0/auto adjust" travels as "cfg/eth0/auto%20adjust"). A set is
// answered only after the daemon has stored the value, so a write has
// reached the daemon when setme() returns true.
//
// The client connects once, when it is built. It waits at most 5 s for an
// answer; a refused connection, a failed send, a missing or garbled answer
// closes the connection for good and the generator is no longer ok (its
// reads give "absent", its writes fail). The owner decides when to mount
// anew. Writes never raise SIGPIPE. Single-threaded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hqunix.h"
#include "ravelo.h"

class RaveloUnix : public RaveloGen {
public:
    explicit RaveloUnix(const char *socket_path);

    bool get(const RaveloKey &key, HqString *value) override;
    bool set(const RaveloKey &key, const HqFastString &value) override;
    bool isok() const override { return conn_ && conn_->isok(); }

    // The longest answer line taken, and the wait for an answer.
    static const unsigned max_line = 65536;
    static const int answer_ms = 5000;

private:
    // Sends one request and reads its answer fields; false (and closed)
    // when the exchange failed.
    bool exchange(const std::vector<std::string> &request, std::vector<std::string> *answer);
    void fail();

    std::unique_ptr<HqUnixConn> conn_;
};

// The field codec and line splitter of the protocol, for both sides.
std::string ravelo_wire_encode(const std::string &field);
// False when the text holds a blank, a line end or a bad '%' escape.
bool ravelo_wire_decode(const std::string &text, std::string *field);
// The request or answer line (without its LF) for `fields`.
std::string ravelo_wire_line(const std::vector<std::string> &fields);
// The decoded fields of a line (without its LF); false when one is bad.
bool ravelo_wire_split(const std::string &line, std::vector<std::string> *fields);
