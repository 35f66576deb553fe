// The daemon client against a small daemon in a thread that records the
// request lines it gets and answers from a table.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ravelounix.h"
#include "ravelowrap.h"

namespace {

class Daemon {
public:
    // `answer` gives the reply line (without LF) to a request line; an
    // empty reply closes the connection.
    explicit Daemon(std::function<std::string(const std::string &)> answer) : answer_(std::move(answer))
    {
        char tmpl[] = "/tmp/ravelod-test-XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            abort();
        dir_ = tmpl;
        path_ = dir_ + "/sock";
        lfd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un sa = {};
        sa.sun_family = AF_UNIX;
        path_.copy(sa.sun_path, path_.size());
        if (bind(lfd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(lfd_, 4) != 0)
            abort();
        thread_ = std::thread([this] { run(); });
    }
    ~Daemon()
    {
        shutdown(lfd_, SHUT_RDWR);
        thread_.join();
        close(lfd_);
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string &path() const { return path_; }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    void run()
    {
        int fd = accept(lfd_, nullptr, nullptr);
        if (fd < 0)
            return;
        std::string in;
        char buf[256];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) {
            in.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = in.find('\n')) != std::string::npos) {
                std::string line = in.substr(0, nl);
                in.erase(0, nl + 1);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    lines_.push_back(line);
                }
                std::string reply = answer_(line);
                if (reply.empty() || write(fd, (reply + "\n").data(), reply.size() + 1) < 0) {
                    close(fd);
                    return;
                }
            }
        }
        close(fd);
    }

    std::function<std::string(const std::string &)> answer_;
    std::string dir_, path_;
    int lfd_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace

TEST(RaveloUnix, TheMonikerReachesTheSubtreeOverTheWire)
{
    std::map<std::string, std::string> keys = {{"cfg/eth0/auto adjust", "1"}, {"cfg/eth0/ipaddr", "10.0.0.5"}};
    Daemon daemon([&](const std::string &line) {
        std::vector<std::string> f;
        if (!ravelo_wire_split(line, &f))
            return std::string("ERR bad");
        if (f[0] == "GET")
            return keys.count(f[1]) ? ravelo_wire_line({"VAL", keys[f[1]]}) : std::string("NONE");
        keys[f[1]] = f[2];
        return std::string("OK");
    });
    RaveloRoot root;
    EXPECT_EQ(root.whichmount(RaveloKey()), nullptr);
    RaveloGen *gen = root.mount(("cache:subtree:unix:" + daemon.path() + " cfg").c_str(), true);
    ASSERT_NE(gen, nullptr);
    EXPECT_EQ(root.whichmount(RaveloKey()), gen);
    EXPECT_TRUE(gen->isok());

    EXPECT_STREQ(root.xget(RaveloKey("eth0/ipaddr"), "0.0.0.0").cstr(), "10.0.0.5");
    EXPECT_EQ(root[RaveloKey("eth0/auto adjust")].getmeint(7), 1);
    EXPECT_STREQ(root[RaveloKey("global/domain")].getme("dflt").cstr(), "dflt");
    EXPECT_EQ(root.xgetint(RaveloKey("eth0/ipaddr"), -5), -5);         // not a number
    EXPECT_TRUE(root[RaveloKey("eth0/auto adjust")].setmeint(0));
    EXPECT_TRUE(root[RaveloKey("global/odd value")].setme("a b%\n"));
    // Written when the call returns: the daemon holds it already.
    EXPECT_EQ(keys["cfg/global/odd value"], "a b%\n");
    EXPECT_EQ(root.xgetint(RaveloKey("eth0/auto adjust"), 7), 0);

    std::vector<std::string> want = {
        "GET cfg/eth0/ipaddr",
        "GET cfg/eth0/auto%20adjust",
        "GET cfg/global/domain",
        "GET cfg/eth0/ipaddr",
        "SET cfg/eth0/auto%20adjust 0",
        "SET cfg/global/odd%20value a%20b%25%0A",
        "GET cfg/eth0/auto%20adjust",
    };
    EXPECT_EQ(daemon.lines(), want);
    root.unmount(gen, false);
    EXPECT_EQ(root.whichmount(RaveloKey()), nullptr);
}

TEST(RaveloUnix, WithoutADaemonTheMountIsNotOkAndGivesDefaults)
{
    RaveloRoot root;
    RaveloGen *gen = root.mount("cache:subtree:unix:/tmp/no-such-ravelod-socket cfg", true);
    ASSERT_NE(gen, nullptr);
    EXPECT_FALSE(gen->isok());
    EXPECT_STREQ(root.xget(RaveloKey("global/hostname"), "dorsk").cstr(), "dorsk");
    EXPECT_EQ(root.xgetint(RaveloKey("eth0/dhcpd"), 0), 0);
    EXPECT_FALSE(root[RaveloKey("eth0/dhcpd")].setmeint(1));
    for (const char *bad : {"cache:", "subtree:unix:/x", "subtree: cfg", "unix:", "nothing:/x"})
        EXPECT_EQ(ravelo_open_moniker(bad, true), nullptr) << bad;
}

TEST(RaveloUnix, AFailedExchangeLeavesTheMountNotOk)
{
    const char *replies[] = {"", "VAL a b", "WHAT", "VAL %zz"};
    for (const char *reply : replies) {
        Daemon daemon([&](const std::string &) { return std::string(reply); });
        RaveloUnix gen(daemon.path().c_str());
        ASSERT_TRUE(gen.isok());
        HqString v;
        EXPECT_FALSE(gen.get(RaveloKey("a/b"), &v)) << reply;
        EXPECT_FALSE(gen.isok()) << reply;
        EXPECT_FALSE(gen.set(RaveloKey("a/b"), "1"));
    }
    // A refusal is an answer: the connection stays.
    Daemon refusing([](const std::string &) { return std::string("ERR no"); });
    RaveloUnix gen(refusing.path().c_str());
    HqString v;
    EXPECT_FALSE(gen.set(RaveloKey("a"), "1"));
    EXPECT_FALSE(gen.get(RaveloKey("a"), &v));
    EXPECT_TRUE(gen.isok());
}

TEST(RaveloUnix, TheFieldCodecRoundTripsEveryByte)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    std::string wire = ravelo_wire_encode(all);
    EXPECT_EQ(wire.find_first_of(" \r\n"), std::string::npos);
    std::string back;
    ASSERT_TRUE(ravelo_wire_decode(wire, &back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(ravelo_wire_encode("eth0/auto adjust"), "eth0/auto%20adjust");
    for (const char *bad : {"%", "%4", "%G1", "a b", "a\n"})
        EXPECT_FALSE(ravelo_wire_decode(bad, &back)) << bad;
    std::vector<std::string> f;
    ASSERT_TRUE(ravelo_wire_split("SET k ", &f));
    EXPECT_EQ(f, (std::vector<std::string>{"SET", "k", ""}));
    EXPECT_EQ(ravelo_wire_line({"SET", "k", ""}), "SET k ");
}
