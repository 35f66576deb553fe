#include "uptime.h"

#include <fcntl.h>

#include <cstdlib>

#include "plframe.h"

HqString uptime_text(long long seconds)
{
    if (seconds < 0)
        seconds = 0;
    long long days = seconds / 86400;
    long long r = seconds % 86400;
    // Minutes and seconds padded with zeros ("1:01:01"), never with blanks.
    HqString clock = HqString::format("%lld:%02lld:%02lld", r / 3600, r % 3600 / 60, r % 60);
    if (days)
        return HqString::format("UpTime: %lld day%s + %s", days, days == 1 ? "" : "s", clock.cstr());
    return HqString::format("UpTime: %s", clock.cstr());
}

void update_uptime(HqStream *timer, void *user)
{
    HqFile file("/proc/uptime", O_RDONLY, 0);
    HqString line = file.isok() ? file.getline(0, '\n', 1024) : HqString();
    if (!line.isnull())
        static_cast<PlFrame *>(user)->settopright(uptime_text(strtoll(line.cstr(), nullptr, 10)).cstr());
    timer->alarm(200);
    file.close();
}
