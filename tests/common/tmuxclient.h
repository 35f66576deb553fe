// Test support: drive a program in a tmux pane as a person at the terminal
// would: type with send-keys, read the screen with capture-pane, and poll
// until a text shows (never a fixed sleep).
//
//   TmuxClient pane("/tmp/x/sock", "demo");
//   pane.tmux("new-session -d -s demo -x 80 -y 24 'sh run.sh'");
//   ASSERT_TRUE(pane.wait_for("Main Menu")) << pane.screen();
//   pane.keys("y");                 // typed literally
//   pane.key("Escape");             // a key by its tmux name
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

// What `command` writes to standard output (and to standard error, if the
// command redirects it).
inline std::string run_command(const std::string &command)
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

inline std::string read_text_file(const std::string &path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Polls `done` every 20 ms for at most `seconds`; whether it came true.
template <class F>
bool poll_until(F done, double seconds = 15)
{
    auto limit = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < limit) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

class TmuxClient {
public:
    TmuxClient(const std::string &socket, const std::string &target) : socket_(socket), target_(target) {}

    std::string tmux(const std::string &args) const
    {
        return run_command("tmux -f /dev/null -S '" + socket_ + "' " + args + " 2>&1");
    }
    std::string screen() const { return tmux("capture-pane -p -t " + target_); }
    bool shows(const std::string &text) const { return screen().find(text) != std::string::npos; }
    // Typed literally; no single quotes in `k`.
    void keys(const std::string &k) const { tmux("send-keys -t " + target_ + " -l '" + k + "'"); }
    // One key by its tmux name ("Escape", "Enter", "Down").
    void key(const std::string &name) const { tmux("send-keys -t " + target_ + " " + name); }
    // Polls the pane until `text` shows (or, with `gone`, no longer shows).
    bool wait_for(const std::string &text, bool gone = false, double seconds = 15) const
    {
        return poll_until([&] { return shows(text) != gone; }, seconds);
    }

private:
    std::string socket_;
    std::string target_;
};
