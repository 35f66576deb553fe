#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "infowin.h"
#include "uptime.h"

TEST(ConsoleText, UptimeShowsDaysAndAPaddedClock)
{
    const struct {
        long long seconds;
        const char *text;
    } table[] = {
        {0, "UpTime: 0:00:00"},
        {59, "UpTime: 0:00:59"},
        {3600 + 60 + 1, "UpTime: 1:01:01"},
        {86399, "UpTime: 23:59:59"},
        {86400, "UpTime: 1 day + 0:00:00"},
        {90061, "UpTime: 1 day + 1:01:01"},
        {2 * 86400 + 10 * 3600 + 5, "UpTime: 2 days + 10:00:05"},
        {400LL * 86400 + 7 * 60, "UpTime: 400 days + 0:07:00"},
    };
    for (const auto &row : table)
        EXPECT_STREQ(uptime_text(row.seconds).cstr(), row.text) << row.seconds;
    // The clock agrees with printf's zero padding for every minute and second.
    for (long long s = 0; s < 3 * 3600; s += 37) {
        char want[64];
        snprintf(want, sizeof want, "UpTime: %lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
        ASSERT_STREQ(uptime_text(s).cstr(), want) << s;
    }
}

TEST(ConsoleText, CenterTextPadsWithHalfTheRoom)
{
    const struct {
        const char *text;
        int width;
        const char *want;
    } table[] = {
        {"abc", 9, "   abc"},
        {"abc", 8, "  abc"},          // integer division
        {"", 6, "   "},
        {nullptr, 6, "   "},          // null counts as empty
        {"exactly", 7, "exactly"},
        {"much too long", 5, "much too long"},
    };
    for (const auto &row : table)
        EXPECT_EQ(center_text(row.text, row.width).str(), row.want) << (row.text ? row.text : "(null)");
}
