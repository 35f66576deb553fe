#include "hqtime.h"

#include <cstdlib>

HqString rfc822_date(time_t when)
{
    static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (when == static_cast<time_t>(-1))
        when = time(nullptr);
    struct tm tm;
    if (!localtime_r(&when, &tm))
        return HqString();
    long offset = tm.tm_gmtoff / 60;   // minutes east of UTC
    char sign = offset < 0 ? '-' : '+';
    offset = labs(offset);
    return HqString::format("%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[tm.tm_wday % 7],
                            tm.tm_mday, months[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour,
                            tm.tm_min, tm.tm_sec, sign, offset / 60, offset % 60);
}

long long hq_monotonic_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
