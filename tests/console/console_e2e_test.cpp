// The real textconsole as a person at the appliance's terminal sees it: tmux
// runs it in an 80 x 24 pane inside a sandbox whose appliance paths hold
// fakes (sandbox.h); keys go in with send-keys, the screen comes back with
// capture-pane, and the fakes' logs tell what reached the configuration
// daemon and which commands ran.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "sandbox.h"

namespace {

const char *const fixture_config =
    "cfg/global/hostname=mailgate\n"
    "cfg/global/domain=example.org\n"
    "cfg/global/Have Disk=0\n"
    "cfg/eth0/exists=1\n"
    "cfg/eth0/ipaddr=192.168.7.20\n"
    "cfg/eth0/netmask=255.255.255.0\n"
    "cfg/eth0/dhcpd=0\n"
    "cfg/eth1/exists=1\n"
    "cfg/eth1/ipaddr=10.20.0.1\n"
    "cfg/eth1/netmask=255.255.0.0\n";

SandboxSetup usual()
{
    SandboxSetup s;
    s.config = fixture_config;
    return s;
}

class Console : public testing::Test {
protected:
    std::unique_ptr<ConsoleSandbox> box;
};

// Starts the console in a fresh sandbox and waits for its start-up note.
#define START_CONSOLE(setup)                                                                  \
    do {                                                                                      \
        box.reset(new ConsoleSandbox(setup));                                                 \
        if (!box->why_skipped().empty())                                                      \
            GTEST_SKIP() << box->why_skipped();                                               \
        ASSERT_TRUE(box->started()) << box->setup_log();                                      \
        ASSERT_TRUE(box->wait_for("Use Cordane Instead")) << box->screen() << box->setup_log(); \
        ASSERT_FALSE(box->exists("refused"));                                                 \
    } while (0)

// Dismisses the note and waits for the menu with the configuration shown.
// Keys typed in the note's first half second are dropped on purpose, so a
// key that does nothing on the menu is typed until the note goes.
#define PAST_THE_NOTE()                                                                        \
    do {                                                                                       \
        bool gone = poll_until([&] {                                                           \
            box->keys("x");                                                                    \
            return box->wait_for("Use Cordane Instead", true, 0.3);                           \
        });                                                                                    \
        ASSERT_TRUE(gone) << box->screen();                                                    \
        ASSERT_TRUE(box->wait_for("Main Menu")) << box->screen();                              \
    } while (0)

// Runs a menu entry by its hot key and waits for the question's text.
#define ASK(hotkey, text)                                          \
    do {                                                           \
        box->keys(hotkey);                                         \
        ASSERT_TRUE(box->wait_for(text)) << box->screen();         \
    } while (0)

}  // namespace

TEST_F(Console, StartsWithTheNoteTheFrameAndTheFilledWindows)
{
    START_CONSOLE(usual());
    std::string s = box->screen();
    EXPECT_NE(s.find("NOTE: This text-mode interface is needed mainly for"), std::string::npos) << s;
    EXPECT_NE(s.find("Press ENTER to continue..."), std::string::npos) << s;
    PAST_THE_NOTE();
    ASSERT_TRUE(box->wait_for("UpTime: 1 day + 1:01:01")) << box->screen();
    s = box->screen();
    for (const char *text : {" CALIDOR Version 4.1 #18", " [ENTER] Select   [ESC] Go Back", " Status ", " Settings ",
                             " Main Menu ", "x   calidor.example.com   x", "x     All systems go      x",
                             " Server Name:", "   mailgate.example.org", " Cordane:", "   https://192.168.7.20:8043",
                             " DHCP Server: DISABLED", " IP Addresses:", "   eth0: 192.168.7.20/24",
                             "   eth1: 10.20.0.1/16", "   eth2: N/A", "   eth5: N/A", " VIEW: Startup Messages",
                             " VIEW: Log Messages", " IP Address", " Disk Install", " Quit"})
        EXPECT_NE(s.find(text), std::string::npos) << text << "\n" << s;
    EXPECT_EQ(s.find("Connecting..."), std::string::npos) << s;
    EXPECT_EQ(s.find("_"), std::string::npos) << s;   // hot-key marks are not shown
}

TEST_F(Console, EscapeAndYesQuitsWithTheTerminalBackInItsMode)
{
    START_CONSOLE(usual());
    PAST_THE_NOTE();
    ASK("\033", "Really quit? (y/n)");
    box->keys("n");
    ASSERT_TRUE(box->wait_for("Really quit?", true)) << box->screen();
    EXPECT_FALSE(box->exists("status"));
    ASK("Q", "Really quit? (y/n)");             // the hot key ignores case
    box->keys("y");
    ASSERT_TRUE(box->ended()) << box->screen();
    EXPECT_EQ(box->file("status"), "0\n");
    EXPECT_EQ(box->file("after"), box->file("before"));
    ASSERT_TRUE(box->wait_for("CONSOLE ENDED")) << box->screen();
    std::string s = box->screen();
    EXPECT_NE(s.find(" icanon"), std::string::npos) << s;   // stty -a in the pane: cooked again
    EXPECT_NE(s.find(" echo "), std::string::npos) << s;
    EXPECT_EQ(s.find("Main Menu"), std::string::npos) << s;
    EXPECT_EQ(box->file("writes.log"), "");
}

TEST_F(Console, SigtermEndsItCleanly)
{
    START_CONSOLE(usual());
    PAST_THE_NOTE();
    ASSERT_TRUE(box->exists("console.pid"));
    box->inside("kill -TERM $(cat /sandbox/console.pid)");
    ASSERT_TRUE(box->ended()) << box->screen();
    EXPECT_EQ(box->file("status"), "0\n");
    EXPECT_EQ(box->file("after"), box->file("before"));
    ASSERT_TRUE(box->wait_for("CONSOLE ENDED")) << box->screen();
    EXPECT_EQ(box->screen().find("Main Menu"), std::string::npos) << box->screen();
}

TEST_F(Console, ChangeIpAddressWritesTheThreeKeys)
{
    START_CONSOLE(usual());
    PAST_THE_NOTE();
    // ESC in the editor changes nothing.
    ASK("i", "New IP Address");
    ASSERT_TRUE(box->wait_for("192.168.7.20/24")) << box->screen();
    EXPECT_NE(box->screen().find(" Enter a new primary IP address with"), std::string::npos);
    box->key("Escape");
    ASSERT_TRUE(box->wait_for("New IP Address", true)) << box->screen();

    const struct {
        const char *typed, *question, *writes, *shown;
    } table[] = {
        {"10.1.2.3/16", "Really change the address to 10.1.2.3/16? (y/n)",
         "SET cfg/eth0/ipaddr=10.1.2.3\nSET cfg/eth0/netmask=255.255.0.0\nSET cfg/eth0/auto adjust=0\n",
         "eth0: 10.1.2.3/16"},
        {"10.0.0.5", "Really change the address to 10.0.0.5/24? (y/n)",
         "SET cfg/eth0/ipaddr=10.0.0.5\nSET cfg/eth0/netmask=255.255.255.0\nSET cfg/eth0/auto adjust=0\n",
         "eth0: 10.0.0.5/24"},
        {"10.0.0.9/", "Really change the address to 10.0.0.9/24? (y/n)",
         "SET cfg/eth0/ipaddr=10.0.0.9\nSET cfg/eth0/netmask=255.255.255.0\nSET cfg/eth0/auto adjust=0\n",
         "eth0: 10.0.0.9/24"},
    };
    std::string log;
    for (const auto &row : table) {
        ASK("i", "New IP Address");
        box->keys(row.typed);                   // typing replaces the offered text
        box->key("Enter");
        ASSERT_TRUE(box->wait_for(row.question)) << row.typed << "\n" << box->screen();
        EXPECT_EQ(box->file("writes.log"), log);   // nothing before the answer
        box->keys("y");
        log += row.writes;
        ASSERT_TRUE(poll_until([&] { return box->file("writes.log") == log; })) << box->file("writes.log");
        ASSERT_TRUE(box->wait_for(row.shown)) << box->screen();   // Settings follow the change
    }
    EXPECT_TRUE(box->shows("https://10.0.0.9:8043")) << box->screen();

    // 'n' to the question writes nothing.
    ASK("i", "New IP Address");
    box->keys("10.9.9.9/8");
    box->key("Enter");
    ASSERT_TRUE(box->wait_for("Really change the address to 10.9.9.9/8? (y/n)")) << box->screen();
    box->keys("n");
    ASSERT_TRUE(box->wait_for("Really change", true)) << box->screen();
    EXPECT_EQ(box->file("writes.log"), log);
}

TEST_F(Console, DhcpToggleWritesBackOrNothingOnEscape)
{
    START_CONSOLE(usual());
    PAST_THE_NOTE();
    ASK("d", "The DHCP server is currently DISABLED.");
    EXPECT_TRUE(box->shows("Enable DHCP server? (y/n)")) << box->screen();
    EXPECT_TRUE(box->shows(" Change DHCP Server Setting ")) << box->screen();
    box->keys("n");                             // the value read is written back
    ASSERT_TRUE(poll_until([&] { return box->file("writes.log") == "SET cfg/eth0/dhcpd=0\n"; }))
        << box->file("writes.log");

    ASK("d", "The DHCP server is currently DISABLED.");
    box->key("Escape");
    ASSERT_TRUE(box->wait_for("currently DISABLED", true)) << box->screen();
    ASK("d", "The DHCP server is currently DISABLED.");
    box->keys("Y");                             // upper case counts
    ASSERT_TRUE(poll_until([&] { return box->file("writes.log") == "SET cfg/eth0/dhcpd=0\nSET cfg/eth0/dhcpd=1\n"; }))
        << box->file("writes.log");
    ASSERT_TRUE(box->wait_for(" DHCP Server: ENABLED (eth0)")) << box->screen();

    ASK("d", "The DHCP server is currently ENABLED.");
    EXPECT_TRUE(box->shows("Disable DHCP server? (y/n)")) << box->screen();
    box->keys("y");
    ASSERT_TRUE(box->wait_for(" DHCP Server: DISABLED")) << box->screen();
    EXPECT_EQ(box->file("writes.log"), "SET cfg/eth0/dhcpd=0\nSET cfg/eth0/dhcpd=1\nSET cfg/eth0/dhcpd=0\n");
}

// Slow: the console waits 30 s after starting the command.
TEST_F(Console, SlowZapRunsTheCommandAfterTwoSecondsClearsTheScreenAndEndsAfterItsWait)
{
    START_CONSOLE(usual());
    PAST_THE_NOTE();
    ASK("z", "Really zap? (y/n)");
    EXPECT_TRUE(box->shows("ALL CONFIGURATION INFORMATION WILL BE LOST!!")) << box->screen();
    box->keys("n");
    ASSERT_TRUE(box->wait_for("Really zap?", true)) << box->screen();
    ASK("z", "Really zap? (y/n)");
    auto answered = std::chrono::steady_clock::now();
    box->keys("y");
    ASSERT_TRUE(box->wait_for("Main Menu", true)) << box->screen();
    EXPECT_EQ(box->screen().find("CALIDOR"), std::string::npos) << box->screen();   // cleared, frame gone
    ASSERT_TRUE(poll_until([&] { return box->file("calls.log") == "zap -f\n"; })) << box->file("calls.log");
    EXPECT_GE(std::chrono::steady_clock::now() - answered, std::chrono::milliseconds(1800));
    EXPECT_FALSE(box->exists("status"));        // still waiting before it ends
    ASSERT_TRUE(box->ended(45)) << box->screen();
    EXPECT_GE(std::chrono::steady_clock::now() - answered, std::chrono::seconds(29));
    EXPECT_EQ(box->file("status"), "0\n");
    EXPECT_EQ(box->file("after"), box->file("before"));
}

TEST_F(Console, NetscanUnzapAndRebootRunTheirCommandAndLeave)
{
    const struct {
        const char *hotkey, *question, *call;
    } table[] = {
        {"n", "Really netscan? (y/n)", "netscan -f\n"},
        {"u", "Really unzap? (y/n)", "unzap -f\n"},
        {"r", "Really reboot? (y/n)", "reboot \n"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.call);
        SandboxSetup setup = usual();
        setup.disk_ini_old = true;
        START_CONSOLE(setup);
        PAST_THE_NOTE();
        ASK(row.hotkey, row.question);
        auto answered = std::chrono::steady_clock::now();
        box->keys("y");
        ASSERT_TRUE(box->wait_for("Main Menu", true)) << box->screen();
        ASSERT_TRUE(poll_until([&] { return box->file("calls.log") == row.call; })) << box->file("calls.log");
        EXPECT_GE(std::chrono::steady_clock::now() - answered, std::chrono::milliseconds(1800));
        EXPECT_EQ(box->screen().find("CALIDOR"), std::string::npos) << box->screen();
        EXPECT_FALSE(box->exists("status"));
    }
}

TEST_F(Console, UnzapNeedsAnOldConfiguration)
{
    START_CONSOLE(usual());
    PAST_THE_NOTE();
    ASK("u", "Sorry, unzap is impossible: no old configuration exists!");
    EXPECT_TRUE(box->shows(" Can't Unzap ")) << box->screen();
    box->keys("y");                             // not a key of a notice
    box->key("Enter");
    ASSERT_TRUE(box->wait_for("Sorry, unzap", true)) << box->screen();

    // The saved configuration of the boot disk is enough.
    SandboxSetup setup = usual();
    setup.bootdisk_ini_old = true;
    START_CONSOLE(setup);
    PAST_THE_NOTE();
    ASK("u", "Really unzap? (y/n)");
    EXPECT_TRUE(box->shows(" Unzap Configuration ")) << box->screen();
    box->keys("n");
    ASSERT_TRUE(box->wait_for("Really unzap?", true)) << box->screen();
    EXPECT_TRUE(box->shows("Main Menu"));
    EXPECT_EQ(box->file("calls.log"), "");
}

TEST_F(Console, DiskInstallBranches)
{
    START_CONSOLE(usual());                     // "Have Disk" is 0
    PAST_THE_NOTE();
    ASK("K", "Install currently running version across disk(s)? (y/n)");
    box->keys("n");
    ASSERT_TRUE(box->wait_for("Install currently", true)) << box->screen();
    ASK("k", "Install currently running version across disk(s)? (y/n)");
    box->keys("y");
    ASSERT_TRUE(box->wait_for("Please configure your disk(s) in Cordane first.")) << box->screen();
    EXPECT_TRUE(box->shows(" Disk(s) Not Configured ")) << box->screen();
    box->key("Escape");
    ASSERT_TRUE(box->wait_for("Please configure", true)) << box->screen();

    SandboxSetup setup = usual();
    setup.config += "cfg/global/Have Disk=1\n";
    START_CONSOLE(setup);
    PAST_THE_NOTE();
    ASK("k", "Install currently running version across disk(s)? (y/n)");
    box->keys("y");
    ASSERT_TRUE(box->wait_for("Please boot from CD before attempting a disk install.")) << box->screen();
    EXPECT_TRUE(box->shows(" Boot CD Not Detected ")) << box->screen();
    box->key("Enter");
    ASSERT_TRUE(box->wait_for("Please boot from CD", true)) << box->screen();
    EXPECT_EQ(box->file("calls.log"), "");

    box->inside("touch /tmp/bootcd");
    ASK("k", "Install currently running version across disk(s)? (y/n)");
    box->keys("y");
    ASSERT_TRUE(box->wait_for("Install done.")) << box->screen();
    std::string s = box->screen();
    EXPECT_NE(s.find(" HD Install Messages "), std::string::npos) << s;
    EXPECT_NE(s.find("Results of Hard Drive Install:"), std::string::npos) << s;
    EXPECT_NE(s.find("Mirroring to disk..."), std::string::npos) << s;
    ASSERT_TRUE(box->wait_for("** Press ESC to close this window.")) << box->screen();
    EXPECT_EQ(box->file("calls.log"), "mirror-hqdisk installcd\n");
    box->key("Escape");
    ASSERT_TRUE(box->wait_for("HD Install Messages", true)) << box->screen();
    EXPECT_TRUE(box->shows("Main Menu"));
}

TEST_F(Console, ViewersShowTheBootLogAndTheLogServiceLessItsFirstTwoLines)
{
    START_CONSOLE(usual());
    PAST_THE_NOTE();
    box->keys("s");
    ASSERT_TRUE(box->wait_for("** Press ESC to close this window.")) << box->screen();
    std::string s = box->screen();
    EXPECT_NE(s.find(" Boot Messages "), std::string::npos) << s;
    EXPECT_NE(s.find("Messages produced at system boot time:"), std::string::npos) << s;
    EXPECT_NE(s.find("boot line one"), std::string::npos) << s;
    EXPECT_NE(s.find("boot line two"), std::string::npos) << s;
    EXPECT_EQ(s.find("[RUNNING]"), std::string::npos) << s;
    box->key("Enter");
    ASSERT_TRUE(box->wait_for("Boot Messages", true)) << box->screen();

    box->keys("l");
    ASSERT_TRUE(box->wait_for("log line four")) << box->screen();
    s = box->screen();
    EXPECT_NE(s.find(" System Log "), std::string::npos) << s;
    EXPECT_NE(s.find("Log messages currently being produced:"), std::string::npos) << s;
    EXPECT_NE(s.find("log line three"), std::string::npos) << s;
    EXPECT_EQ(s.find("rcmd header"), std::string::npos) << s;
    EXPECT_NE(s.find("[RUNNING]"), std::string::npos) << s;   // the service keeps the line open
    EXPECT_EQ(box->file("rcmd.log"), "REQUEST debug 5\n");
    box->key("Up");                             // other keys scroll and do not close
    box->keys("x");
    box->key("Down");
    ASSERT_TRUE(box->wait_for("[RUNNING]")) << box->screen();
    EXPECT_TRUE(box->shows("log line four")) << box->screen();
    box->key("Escape");
    ASSERT_TRUE(box->wait_for("System Log", true)) << box->screen();
    EXPECT_FALSE(box->shows("[RUNNING]")) << box->screen();
    EXPECT_TRUE(box->shows("Main Menu")) << box->screen();
}

TEST_F(Console, AMissingBootLogAndLogServiceShowTheError)
{
    SandboxSetup setup = usual();
    setup.rcmd = false;
    START_CONSOLE(setup);
    PAST_THE_NOTE();
    box->inside("rm /tmp/boot.log");
    box->keys("s");
    ASSERT_TRUE(box->wait_for("Error: No such file or directory")) << box->screen();
    EXPECT_TRUE(box->shows("** Press ESC to close this window.")) << box->screen();
    box->key("Escape");
    ASSERT_TRUE(box->wait_for("Boot Messages", true)) << box->screen();
    box->keys("l");
    ASSERT_TRUE(box->wait_for("Error: No such file or directory")) << box->screen();
    EXPECT_TRUE(box->shows(" System Log ")) << box->screen();
    box->key("Escape");
    ASSERT_TRUE(box->wait_for("System Log", true)) << box->screen();
}

TEST_F(Console, WithoutTheDaemonItRetriesAboutEverySixSeconds)
{
    SandboxSetup setup = usual();
    setup.daemon = false;
    START_CONSOLE(setup);
    PAST_THE_NOTE();
    std::string s = box->screen();
    EXPECT_NE(s.find("   dorsk.localdomain"), std::string::npos) << s;
    EXPECT_NE(s.find("   (Configure eth0 first!)"), std::string::npos) << s;
    EXPECT_NE(s.find(" DHCP Server: DISABLED"), std::string::npos) << s;
    EXPECT_NE(s.find("   eth0: N/A"), std::string::npos) << s;
    // Two boxes in a row, timed from their appearance.
    ASSERT_TRUE(box->wait_for("Reading Configuration...", false, 10)) << box->screen();
    EXPECT_TRUE(box->shows(" Please Wait ")) << box->screen();
    auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(box->wait_for("Reading Configuration...", true, 5)) << box->screen();
    ASSERT_TRUE(box->wait_for("Reading Configuration...", false, 10)) << box->screen();
    // The screen is polled, so each appearance is seen late by up to the
    // polling delay, which a loaded machine stretches: 6 s give or take 2.
    auto gap = std::chrono::steady_clock::now() - first;
    EXPECT_GE(gap, std::chrono::milliseconds(4000));
    EXPECT_LE(gap, std::chrono::milliseconds(9000));
}
