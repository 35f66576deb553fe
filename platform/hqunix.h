// Unix-domain stream connections.
//
//   HqUnixConn conn(HqUnixAddr("/var/run/AvpCtl"));
//   if (!conn.isok()) ...                // nobody listening, or a bad path
//   conn.print("request");
//   conn.flush(-1);
#pragma once

#include <string>

#include "hqstream.h"

class HqUnixAddr {
public:
    explicit HqUnixAddr(const char *path) : path_(path ? path : "") {}
    const char *path() const { return path_.c_str(); }
    // Whether the path fits a socket address.
    bool isvalid() const;

private:
    std::string path_;
};

// A connected unix stream socket; not ok when the connection failed.
class HqUnixConn : public HqFdStream {
public:
    explicit HqUnixConn(const HqUnixAddr &address);
};
