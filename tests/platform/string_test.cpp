#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "hqlog.h"
#include "hqstring.h"
#include "hqtime.h"

TEST(HqString, NullEmptyAndText)
{
    HqString null;
    HqString empty("");
    HqString text("abc");
    EXPECT_TRUE(null.isnull());
    EXPECT_EQ(null.cstr(), nullptr);
    EXPECT_TRUE(!null);
    EXPECT_FALSE(empty.isnull());
    EXPECT_TRUE(!empty);
    EXPECT_FALSE(!text);
    EXPECT_STREQ(HqString(static_cast<const char *>(nullptr)).cstr(), nullptr);
    EXPECT_STREQ(HqString(-42LL).cstr(), "-42");
    EXPECT_STREQ(HqString::format("%s%lu%lu", "b", 3UL, 17UL).cstr(), "b317");
    text.setsize(1);
    EXPECT_STREQ(text.cstr(), "a");
    text.edit()[0] = 'z';
    EXPECT_STREQ(text.cstr(), "z");
    null.setsize(2);
    EXPECT_EQ(null.length(), 2u);
}

TEST(HqStringList, SplitsAtAnySeparatorAndDropsEmptyWords)
{
    HqStringList list;
    EXPECT_EQ(list.split("  a, b,,c ", ", "), 3);
    ASSERT_EQ(list.count(), 3);
    EXPECT_STREQ(list[0].cstr(), "a");
    EXPECT_STREQ(list[2].cstr(), "c");
    EXPECT_EQ(list.split("", ","), 0);
    EXPECT_EQ(list.split(nullptr, ","), 0);
}

TEST(StringHelpers, TrimAndTerminate)
{
    struct Case {
        const char *in, *trimmed, *terminated0, *terminatedX;
    } cases[] = {
        {"  abc \t\r\n", "abc", "  abc \t", "  abc \tX"},
        {"abc\n", "abc", "abc", "abcX"},
        {"abc\r\n", "abc", "abc", "abcX"},
        {"abc", "abc", "abc", "abcX"},
        {"\n", "", "", "X"},
        {"", "", "", "X"},
        {" in side ", "in side", " in side ", " in side X"},
    };
    for (const Case &c : cases) {
        EXPECT_STREQ(trim_string(c.in).cstr(), c.trimmed) << c.in;
        EXPECT_STREQ(terminate_string(c.in, 0).cstr(), c.terminated0) << c.in;
        EXPECT_STREQ(terminate_string(c.in, 'X').cstr(), c.terminatedX) << c.in;
    }
    EXPECT_TRUE(trim_string(HqString()).isnull());
}

TEST(StringHelpers, BackslashEscape)
{
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"/var/tmp//decoded-AbC123", "/var/tmp//decoded-AbC123"},
        {"/tmp/a b", "/tmp/a\\ b"},
        {"it's \"x\"", "it\\'s\\ \\\"x\\\""},
        {"back\\slash", "back\\\\slash"},
        {"$(rm -rf);`x`|&<>", "\\$\\(rm\\ -rf\\)\\;\\`x\\`\\|\\&\\<\\>"},
        {"a*b?[c]{d}!#~", "a\\*b\\?\\[c\\]\\{d\\}\\!\\#\\~"},
        {"tab\there\nnl", "tab\\\there\\\nnl"},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_STREQ(backslash_escape(c.in).cstr(), c.out) << c.in;
}

namespace {

struct TzGuard {
    explicit TzGuard(const char *tz)
    {
        const char *old = getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TzGuard()
    {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    bool had_;
    std::string old_;
};

}  // namespace

TEST(Rfc822Date, FixedTimesInSeveralZones)
{
    struct Case {
        const char *tz;
        time_t when;
        const char *out;
    } cases[] = {
        {"UTC0", 784111777, "Sun, 06 Nov 1994 08:49:37 +0000"},
        {"CET-1", 784111777, "Sun, 06 Nov 1994 09:49:37 +0100"},
        {"EST5", 784111777, "Sun, 06 Nov 1994 03:49:37 -0500"},
        {"IST-5:30", 0, "Thu, 01 Jan 1970 05:30:00 +0530"},
        {"UTC0", 951782400, "Tue, 29 Feb 2000 00:00:00 +0000"},
        {"NST3:30", 1000000000, "Sat, 08 Sep 2001 22:16:40 -0330"},
    };
    for (const Case &c : cases) {
        TzGuard tz(c.tz);
        EXPECT_STREQ(rfc822_date(c.when).cstr(), c.out) << c.tz;
    }
}

TEST(Rfc822Date, NowReadsBackAsTheCurrentTime)
{
    TzGuard tz("UTC0");
    time_t before = time(nullptr);
    HqString now = rfc822_date(-1);
    struct tm tm = {};
    ASSERT_NE(strptime(now.cstr(), "%a, %d %b %Y %H:%M:%S +0000", &tm), nullptr) << now.cstr();
    time_t back = timegm(&tm);
    EXPECT_GE(back, before);
    EXPECT_LE(back, before + 2);
}

TEST(HqLog, FormatsPercentSLikePrintf)
{
    struct Case {
        const char *fmt;
        const char *expected_printf_fmt;
    } cases[] = {
        {"[%s]", "[%s]"}, {"[%8s]", "[%8s]"}, {"[%-8s]", "[%-8s]"}, {"[%.3s]", "[%.3s]"},
        {"[%6.2s]", "[%6.2s]"}, {"100%% %s", "100%% %s"},
    };
    for (const Case &c : cases) {
        char expected[64];
        snprintf(expected, sizeof expected, c.expected_printf_fmt, "virus");
        EXPECT_EQ(hqlog_format(c.fmt, {HqLogArg("virus")}), expected) << c.fmt;
    }
    EXPECT_EQ(hqlog_format("Offset: %s\nEncoding %s\n", {HqLogArg(4096L), HqLogArg(3)}),
              "Offset: 4096\nEncoding 3\n");
    EXPECT_EQ(hqlog_format("%s and %s", {HqLogArg("one")}), "one and (null)");
    EXPECT_EQ(hqlog_format("%d stays", {}), "%d stays");
}

TEST(HqLog, ConsoleReceiverKeepsLevelsUpToItsOwn)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        HqLogConsole console(fds[1], 2);
        HqLog log("Virus Scanner", 9);
        log(1, "Tried to scan a non-file: '%s'\n", HqString("/tmp"));
        log("Got content length = %s.\n", 12);   // default level 9: dropped
        log(2, "code %s", 7);
    }
    HqLog("after", 0)(0, "no receiver any more\n");
    close(fds[1]);
    char buf[256];
    ssize_t n = read(fds[0], buf, sizeof buf);
    close(fds[0]);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)),
              "Virus Scanner: Tried to scan a non-file: '/tmp'\nVirus Scanner: code 7\n");
}
