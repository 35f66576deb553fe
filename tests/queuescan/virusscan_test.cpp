#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <string>
#include <vector>

#include "fake/hextext.h"
#include "hqlog.h"
#include "hqstreamlist.h"
#include "hqunix.h"
#include "hqvirusscan.h"
#include "testutil.h"

using qstest::read_file;
using qstest::TempDir;
using qstest::write_file;

namespace {

// Messages of levels 0 to 2, as the log receivers get them.
class LogCapture {
public:
    LogCapture()
    {
        if (pipe(fds_) == 0) {
            fcntl(fds_[0], F_SETFL, O_NONBLOCK);
            console_ = new HqLogConsole(fds_[1], 2);
        }
    }
    ~LogCapture()
    {
        delete console_;
        close(fds_[0]);
        close(fds_[1]);
    }
    std::string take()
    {
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = read(fds_[0], buf, sizeof buf)) > 0)
            text.append(buf, static_cast<size_t>(n));
        return text;
    }

private:
    int fds_[2] = {-1, -1};
    HqLogConsole *console_ = nullptr;
};

class ScanTest : public ::testing::Test {
protected:
    // Starts the fake daemon with rules given as MATCH REPLY pairs.
    void start(const std::vector<std::string> &rules)
    {
        socket_ = dir_.file("AvpCtl");
        log_ = dir_.file("kav.log");
        ASSERT_TRUE(daemon_.start(socket_, log_, rules)) << "fake kavdaemon did not start";
    }

    std::string file(const std::string &name, const std::string &content = "data\n")
    {
        std::string path = dir_.file(name);
        write_file(path, content);
        return path;
    }

    std::vector<std::vector<std::string>> requests() { return qstest::daemon_requests(log_); }

    TempDir dir_;
    std::string socket_, log_;
    qstest::FakeDaemon daemon_;
};

}  // namespace

TEST(VirusScanPaths, DefaultsAreTheSystemPaths)
{
    EXPECT_STREQ(HqVirusScan::kSocketPath, "/var/run/AvpCtl");
    EXPECT_STREQ(HqMimePart::kDecodedTemplate, "/var/tmp//decoded-XXXXXX");
}

TEST_F(ScanTest, WholeReplyTable)
{
    struct Case {
        const char *reply;
        int result;
        const char *virus;
        const char *message;   // expected at levels 0 to 2 ("" none)
        bool stays_open;
    } cases[] = {
        {"clean", 0, "", "", true},
        {"code:1", -2, "", "kavdaemon said it was interrupted!\n", true},
        {"code:2", 1, "", "", true},
        {"code:3", 1, "", "", true},
        {"code:4", 2, "", "", true},
        {"code:5", 2, "", "", true},
        {"code:6", 2, "", "", true},
        {"code:7", -2, "", "kavdaemon said scanner/file is corrupted!\n", true},
        {"code:8", -2, "", "kavdaemon said scanner/file is corrupted!\n", true},
        {"code:9", 0, "", "Unhandled virus scanner return code: 9\n", true},
        {"code:12", 0, "", "Unhandled virus scanner return code: 12\n", true},
        {"code:15", 0, "", "Unhandled virus scanner return code: 15\n", true},
        {"raw:1400", 2, "", "", true},                       // only the low four bits count
        {"raw:0202ffffffff", 1, "", "", true},               // second byte 2: nothing follows
        {"infected:EICAR-Test-File", 2, "EICAR-Test-File", "", true},
        {"text:5:scan report infected:  Worm.Nasty \r\n", 2, "Worm.Nasty", "", true},
        {"text:3:suspicion infected: Heur.X", 1, "Heur.X", "", true},
        {"text:0:no marker here", 0, "", "", true},
        {"raw:040100000000", 2, "", "", true},               // length 0: no text
        {"raw:0401050000006100626364", 2, "", "", true},       // text ends at its NUL
        {"short", -2, "", "Can't read the return code from kavdaemon.\n", false},
        {"close", -2, "", "Can't read the return code from kavdaemon.\n", false},
        {"shortlen", -1, "", "Can't read the content length from kavdaemon.\n", false},
        {"shorttext", -1, "", "Error reading response data from the kavdaemon.\n", false},
        {"hugelen", -1, "", "Error reading response data from the kavdaemon.\n", false},
    };
    std::vector<std::string> rules;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        rules.push_back("name:/case" + std::to_string(i) + ".");
        rules.push_back(cases[i].reply);
    }
    start(rules);
    LogCapture logs;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.reply);
        std::string path = file("case" + std::to_string(i) + ".eml");
        HqVirusScan scan(socket_.c_str());
        ASSERT_TRUE(scan.isok());
        EXPECT_EQ(scan.sync_scan(HqString(path)), c.result);
        HqString virus;
        EXPECT_EQ(scan.get_scan_result(&virus), c.result);
        EXPECT_STREQ(virus.cstr(), c.virus);
        std::string messages = logs.take();
        if (*c.message)
            EXPECT_EQ(messages, std::string("Virus Scanner: ") + c.message);
        else
            EXPECT_EQ(messages, "");
        // Broken replies close the connection; a short status does not.
        EXPECT_EQ(scan.getfd() >= 0, c.result != -1);
        EXPECT_STREQ(scan.get_filename().cstr(), path.c_str());
    }
    EXPECT_EQ(requests().size(), sizeof cases / sizeof cases[0]);
}

TEST_F(ScanTest, RequestIsTimeStampColonAndEscapedPath)
{
    start({"content:X5O!P", "infected:EICAR-Test-File"});
    struct Case {
        std::string name;
        std::string escaped;
    } cases[] = {
        {"plain.eml", "plain.eml"},
        {"it's a \"file\" (1).eml", "it\\'s\\ a\\ \\\"file\\\"\\ \\(1\\).eml"},
        {"back\\slash;$x", "back\\\\slash\\;\\$x"},
    };
    for (const Case &c : cases) {
        std::string path = file(c.name, "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR\n");
        time_t before = time(nullptr);
        HqVirusScan scan(socket_.c_str());
        HqString virus;
        scan.sync_scan(HqString(path));
        EXPECT_EQ(scan.get_scan_result(&virus), 2) << c.name;
        EXPECT_STREQ(virus.cstr(), "EICAR-Test-File");
        time_t after = time(nullptr);

        auto log = requests();
        ASSERT_FALSE(log.empty());
        const std::vector<std::string> &r = log.back();
        ASSERT_EQ(r.size(), 4u);
        EXPECT_EQ(r[0], "ok");
        EXPECT_EQ(r[2], path);   // the daemon undoes the escapes
        bool stamp_found = false;
        for (time_t t = before; t <= after; ++t) {
            char buf[32];
            ctime_r(&t, buf);
            stamp_found = stamp_found || r[1] == std::string(buf + 4, 15);
        }
        EXPECT_TRUE(stamp_found) << r[1];
        EXPECT_EQ(r[3], to_hex(r[1] + ":" + dir_.path() + "/" + c.escaped));   // no line end, no NUL
    }
}

TEST_F(ScanTest, StartFailuresSetTheResultAndNotify)
{
    start({});
    LogCapture logs;
    struct Seen {
        int calls = 0;
        HqStream *scanner = nullptr;
        void *user = nullptr;
    } seen;
    auto callback = [&seen](HqStream *s, void *user) {
        ++seen.calls;
        seen.scanner = s;
        seen.user = user;
    };
    struct Case {
        std::string path;
        bool null_path;
        int code, result;
        std::string message;
    } cases[] = {
        {dir_.file("missing"), false, -3, -1, "Tried to scan non-existent file: '" + dir_.file("missing") + "'\n"},
        {"", true, -3, -1, "Tried to scan non-existent file: '(null)'\n"},
        {dir_.path(), false, -4, -1, "Tried to scan a non-file: '" + dir_.path() + "'\n"},
    };
    for (const Case &c : cases) {
        HqVirusScan scan(socket_.c_str());
        int user = 0;
        seen = Seen();
        scan.set_scan_callback(callback, &user);
        EXPECT_EQ(scan.start_scan(c.null_path ? HqString() : HqString(c.path)), c.code) << c.path;
        EXPECT_EQ(scan.get_scan_result(nullptr), c.result);
        EXPECT_EQ(seen.calls, 1);
        EXPECT_EQ(seen.scanner, static_cast<HqStream *>(&scan));
        EXPECT_EQ(seen.user, &user);
        EXPECT_EQ(logs.take(), "Virus Scanner: " + c.message);
        scan.notify();   // the callback was used up
        EXPECT_EQ(seen.calls, 1);
    }
    EXPECT_TRUE(requests().empty());

    // A symbolic link to a file is scanned.
    std::string target = file("target");
    ASSERT_EQ(symlink(target.c_str(), dir_.file("link").c_str()), 0);
    HqVirusScan linked(socket_.c_str());
    EXPECT_EQ(linked.sync_scan(HqString(dir_.file("link"))), 0);
    EXPECT_TRUE(linked.in_progress());

    // A finished synchronous scan stays in progress: a second start fails.
    EXPECT_EQ(linked.start_scan(HqString(target)), -2);
    EXPECT_EQ(linked.get_scan_result(nullptr), -2);
    EXPECT_EQ(logs.take(), "Virus Scanner: Trying to start a scan while in progress!\n");
    EXPECT_EQ(requests().size(), 1u);
}

TEST_F(ScanTest, DaemonAbsent)
{
    LogCapture logs;
    HqVirusScan scan(dir_.file("nobody").c_str());
    EXPECT_FALSE(scan.isok());
    EXPECT_EQ(scan.start_scan(HqString(file("x"))), -1);
    EXPECT_EQ(scan.get_scan_result(nullptr), -2);
    EXPECT_EQ(logs.take(), "Virus Scanner: Can't start scan: not okay!\n");

    // reset() connects again, to the daemon that has come up meanwhile.
    start({"any", "code:2"});
    HqVirusScan late(dir_.file("AvpCtl").c_str());
    late.close();
    EXPECT_FALSE(late.isok());
    late.reset();
    ASSERT_TRUE(late.isok());
    EXPECT_EQ(late.sync_scan(HqString(file("y"))), 1);
}

TEST_F(ScanTest, AsyncScanReportsThroughTheLoopAndWakesTheGivenStream)
{
    start({"name:infected", "infected:Worm.Async", "name:broken", "close", "name:busy", "code:1"});
    struct Case {
        const char *name;
        int result;
        const char *virus;
    } cases[] = {{"clean", 0, ""}, {"infected", 2, "Worm.Async"}, {"broken", -2, ""}, {"busy", -2, ""}};
    for (const Case &c : cases) {
        LogCapture logs;
        HqStream waker;
        int woken = 0;
        waker.setcallback([](HqStream *s, void *user) { *static_cast<int *>(user) += s->isalarmed(); }, &woken);
        globallist().append(&waker);
        HqVirusScan scan(socket_.c_str());
        globallist().append(&scan);
        ASSERT_EQ(scan.async_scan(&waker, HqString(file(c.name))), 0) << c.name;
        EXPECT_TRUE(scan.in_progress());
        EXPECT_EQ(woken, 0) << "nothing runs before the loop does";
        for (int pass = 0; pass < 50 && !woken; ++pass)
            HqStream::runonce(2000);
        EXPECT_EQ(woken, 1) << c.name;
        EXPECT_FALSE(scan.in_progress()) << c.name;
        HqString virus;
        EXPECT_EQ(scan.get_scan_result(&virus), c.result) << c.name;
        EXPECT_EQ(virus.str(), c.virus) << c.name;
        logs.take();
    }
    EXPECT_EQ(requests().size(), 4u);
}

TEST_F(ScanTest, AsyncScanThatCannotStartWakesAtOnce)
{
    start({});
    LogCapture logs;
    HqStream waker;
    int woken = 0;
    waker.setcallback([](HqStream *, void *user) { ++*static_cast<int *>(user); }, &woken);
    globallist().append(&waker);
    HqVirusScan scan(socket_.c_str());
    globallist().append(&scan);
    EXPECT_EQ(scan.async_scan(&waker, HqString(dir_.file("missing"))), -3);
    EXPECT_EQ(scan.get_scan_result(nullptr), -1);
    EXPECT_FALSE(scan.in_progress());
    EXPECT_EQ(HqStream::runonce(1000), 1);
    EXPECT_EQ(woken, 1);
    // The scanner's own alarm was never set: another pass runs nothing.
    EXPECT_EQ(HqStream::runonce(50), 0);
    EXPECT_EQ(woken, 1);
    EXPECT_EQ(logs.take(), "Virus Scanner: Tried to scan non-existent file: '" + dir_.file("missing") + "'\n");
    EXPECT_TRUE(requests().empty());
}
