// The demo program on a real terminal: tmux runs it in a pane of fixed size;
// keys are typed with send-keys and the pane is read with capture-pane, as
// a person at the terminal would see it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string run(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class TmuxPane {
public:
    // Runs `program` in a detached 80 x 24 session on a private server; the
    // pane's terminal settings are kept before and after it.
    explicit TmuxPane(const std::string &program)
    {
        char tmpl[] = "/tmp/pldemo-tmux-XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : "/tmp";
        std::string script = dir_ + "/run.sh";
        std::ofstream(script) << "stty -g > " << dir_ << "/before\n"
                              << program << "\n"
                              << "echo $? > " << dir_ << "/status\n"
                              << "stty -g > " << dir_ << "/after\n"
                              << "sleep 60\n";
        tmux("new-session -d -s demo -x 80 -y 24 'sh " + script + "'");
    }
    ~TmuxPane()
    {
        tmux("kill-server");
        run("rm -rf '" + dir_ + "'");
    }
    std::string tmux(const std::string &args)
    {
        return run("tmux -f /dev/null -S '" + dir_ + "/sock' " + args + " 2>&1");
    }
    std::string screen() { return tmux("capture-pane -p -t demo"); }
    void keys(const std::string &k) { tmux("send-keys -t demo -l '" + k + "'"); }
    // Polls the pane until `text` shows (or, with `gone`, no longer shows).
    bool wait_for(const std::string &text, bool gone = false)
    {
        return poll([&] { return (screen().find(text) != std::string::npos) != gone; });
    }
    bool wait_for_file(const std::string &name)
    {
        return poll([&] { return access((dir_ + "/" + name).c_str(), F_OK) == 0 && !read_file(dir_ + "/" + name).empty(); });
    }
    std::string file(const std::string &name) { return read_file(dir_ + "/" + name); }

private:
    template <class F>
    bool poll(F done)
    {
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < limit) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
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
