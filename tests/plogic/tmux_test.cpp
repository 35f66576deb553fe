// The demo program on a real terminal: tmux runs it in a pane of fixed size;
// keys are typed with send-keys and the pane is read with capture-pane, as
// a person at the terminal would see it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tmuxclient.h"

namespace {

class TmuxPane : public TmuxClient {
public:
    // Runs `program` in a detached 80 x 24 session on a private server; the
    // pane's terminal settings are kept before and after it.
    explicit TmuxPane(const std::string &program) : TmuxPane(make_dir(), program) {}
    ~TmuxPane()
    {
        tmux("kill-server");
        if (!dir_.empty())
            run_command("rm -rf '" + dir_ + "'");
    }
    bool wait_for_file(const std::string &name)
    {
        return poll_until([&] { return !read_text_file(dir_ + "/" + name).empty(); });
    }
    std::string file(const std::string &name) { return read_text_file(dir_ + "/" + name); }

private:
    TmuxPane(const std::string &dir, const std::string &program) : TmuxClient(dir + "/sock", "demo"), dir_(dir)
    {
        std::string script = dir_ + "/run.sh";
        std::ofstream(script) << "stty -g > " << dir_ << "/before\n"
                              << program << "\n"
                              << "echo $? > " << dir_ << "/status\n"
                              << "stty -g > " << dir_ << "/after\n"
                              << "sleep 60\n";
        tmux("new-session -d -s demo -x 80 -y 24 'sh " + script + "'");
    }
    static std::string make_dir()
    {
        char tmpl[] = "/tmp/pldemo-tmux-XXXXXX";
        return mkdtemp(tmpl) ? tmpl : "";  // empty: nothing to remove later
    }
    std::string dir_;
};

}  // namespace

TEST(PlDemoInTmux, ShowsTheFrameTheWindowAndTheQuestion)
{
    TmuxPane pane(PLDEMO_PATH);
    ASSERT_TRUE(pane.wait_for("Hello from the demo window.")) << pane.screen();
    std::string s = pane.screen();
    EXPECT_NE(s.find("Demo Console"), std::string::npos) << s;
    EXPECT_NE(s.find("Frame Right Text"), std::string::npos) << s;
    EXPECT_NE(s.find("[m] Message   [q] Quit"), std::string::npos) << s;
    EXPECT_NE(s.find(" Details "), std::string::npos) << s;
    EXPECT_NE(s.find(" Press m for a message."), std::string::npos) << s;
    EXPECT_EQ(s.find("Question"), std::string::npos);

    pane.keys("m");
    ASSERT_TRUE(pane.wait_for("Quit the demo? (y/n)")) << pane.screen();
    EXPECT_NE(pane.screen().find(" Question "), std::string::npos);
    pane.keys("n");                            // the box goes, the window under it comes back
    ASSERT_TRUE(pane.wait_for("Quit the demo?", true)) << pane.screen();
    EXPECT_NE(pane.screen().find("Hello from the demo window."), std::string::npos);

    pane.keys("m");
    ASSERT_TRUE(pane.wait_for("Quit the demo? (y/n)"));
    pane.keys("y");
    ASSERT_TRUE(pane.wait_for_file("after")) << pane.screen();
    EXPECT_EQ(pane.file("status"), "0\n");
    EXPECT_EQ(pane.file("after"), pane.file("before"));   // the terminal is back in its mode
    EXPECT_EQ(pane.screen().find("Hello from the demo window."), std::string::npos);
}

TEST(PlDemoInTmux, AFailedCheckRestoresTheTerminalBeforeTheEnd)
{
    TmuxPane pane(PLDEMO_PATH);
    ASSERT_TRUE(pane.wait_for("Hello from the demo window.")) << pane.screen();
    pane.keys("f");
    ASSERT_TRUE(pane.wait_for_file("after")) << pane.screen();
    EXPECT_EQ(pane.file("status"), "134\n");   // abort()
    EXPECT_EQ(pane.file("after"), pane.file("before"));
    ASSERT_TRUE(pane.wait_for("PlScreen::cell: assertion failed: x < getxsize() && y < getysize()"))
        << pane.screen();
}
