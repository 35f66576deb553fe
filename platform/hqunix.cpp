#include "hqunix.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool HqUnixAddr::isvalid() const
{
    return !path_.empty() && path_.size() < sizeof(sockaddr_un{}.sun_path);
}

HqUnixConn::HqUnixConn(const HqUnixAddr &address)
{
    if (!address.isvalid()) {
        attach(-1, true);
        seterr(ENAMETOOLONG);
        return;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        int err = errno;
        attach(-1, true);
        seterr(err);
        return;
    }
    struct sockaddr_un sa;
    memset(&sa, 0, sizeof sa);
    sa.sun_family = AF_UNIX;
    memcpy(sa.sun_path, address.path(), strlen(address.path()));
    int r;
    do {
        r = connect(fd, reinterpret_cast<struct sockaddr *>(&sa), sizeof sa);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        int err = errno;
        ::close(fd);
        attach(-1, true);
        seterr(err);
        return;
    }
    attach(fd, true);
}
