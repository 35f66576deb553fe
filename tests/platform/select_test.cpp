#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "hqpipe.h"
#include "hqstream.h"
#include "hqstreamlist.h"

namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Both ends of a pipe as streams.
struct Pipe {
    Pipe()
    {
        int fd[2];
        if (pipe2(fd, O_CLOEXEC) == 0) {
            in.reset(new HqFdStream(fd[0]));
            out.reset(new HqFdStream(fd[1]));
        }
    }
    void send(const char *text)
    {
        out->print(text);
        out->flush(1000);
    }
    std::unique_ptr<HqFdStream> in, out;
};

// A bare stream that records the order of its runs.
struct Timer : HqStream {
    Timer(std::vector<std::string> *log, const char *name) : log_(log), name_(name)
    {
        setcallback([](HqStream *s, void *user) {
            auto *t = static_cast<Timer *>(user);
            t->log_->push_back(t->name_ + (s->isalarmed() ? ":alarm" : ":input"));
        }, this);
        globallist().append(this);
    }
    std::vector<std::string> *log_;
    std::string name_;
};

}  // namespace

TEST(HqSelectLoop, AlarmsFireOnceInTheirOrder)
{
    std::vector<std::string> log;
    Timer late(&log, "late"), soon(&log, "soon"), now(&log, "now");
    // Far enough apart that a loaded machine cannot merge two passes.
    late.alarm(400);
    soon.alarm(150);
    now.alarm(0);
    auto t0 = Clock::now();
    EXPECT_EQ(HqStream::runonce(1000), 1);
    // The 0 alarm runs on this pass, without waiting for the next one.
    EXPECT_EQ(log, (std::vector<std::string>{"now:alarm"}));
    EXPECT_LT(elapsed_ms(t0), 150);
    EXPECT_EQ(HqStream::runonce(1000), 1);
    EXPECT_EQ(HqStream::runonce(1000), 1);
    EXPECT_GE(elapsed_ms(t0), 398);
    EXPECT_EQ(log, (std::vector<std::string>{"now:alarm", "soon:alarm", "late:alarm"}));
    EXPECT_EQ(HqStream::runonce(20), 0);           // each alarm fired once
    late.alarm(5);
    late.alarm(-1);                                // disarmed
    EXPECT_EQ(HqStream::runonce(20), 0);
    EXPECT_EQ(log.size(), 3u);
}

TEST(HqSelectLoop, NothingToWaitForFails)
{
    EXPECT_EQ(globallist().count(), 0);
    EXPECT_EQ(HqStream::runonce(-1), -1);
    HqStream bare;
    EXPECT_EQ(bare.select(10), -1);                // no descriptor, no input ever
}

TEST(HqSelectLoop, SelectEndsWhenAMemberRanAndOnInput)
{
    std::vector<std::string> log;
    Pipe tty;
    Timer timer(&log, "t");
    timer.alarm(15);
    auto t0 = Clock::now();
    EXPECT_EQ(tty.in->select(2000), 0);            // woken by the timer, not by input
    EXPECT_GE(elapsed_ms(t0), 13);
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(tty.in->select(30), 0);              // plain time out
    tty.send("k");
    EXPECT_EQ(tty.in->select(2000), 1);
    EXPECT_TRUE(tty.in->isreadable());
    EXPECT_EQ(tty.in->select(-1), 1);              // the byte is still there
}

TEST(HqSelectLoop, ContinueSelectOutlastsRunsUntilInputOrTermination)
{
    Pipe tty;
    int ticks = 0;
    HqStream ticker;
    struct Ctx {
        int *ticks;
        HqStream *ticker;
        Pipe *tty;
    } ctx = {&ticks, &ticker, &tty};
    ticker.setcallback([](HqStream *s, void *user) {
        auto *c = static_cast<Ctx *>(user);
        if (++*c->ticks == 3)
            c->tty->send("x");                     // the third run brings input
        else
            s->alarm(5);
    }, &ctx);
    globallist().append(&ticker);
    ticker.alarm(5);
    EXPECT_EQ(tty.in->continue_select(5000), 1);
    EXPECT_EQ(ticks, 3);
    char c;
    EXPECT_EQ(tty.in->read(&c, 1), 1);

    // A callback ends the wait of the stream it was given.
    ticker.setcallback([](HqStream *, void *user) { static_cast<HqStream *>(user)->terminate_continue_select(); },
                       tty.in.get());
    ticker.alarm(10);
    auto t0 = Clock::now();
    EXPECT_EQ(tty.in->continue_select(5000), 0);
    EXPECT_LT(elapsed_ms(t0), 2000);
    EXPECT_EQ(tty.in->continue_select(20), 0);     // time out
}

TEST(HqSelectLoop, MembersWithInputRunAndMayDestroyThemselves)
{
    std::vector<std::string> log;
    Pipe feed;
    // A descriptor stream with a callback runs when its input arrives.
    feed.in->setcallback([](HqStream *s, void *user) {
        char buf[16];
        int n = s->read(buf, sizeof buf);
        static_cast<std::vector<std::string> *>(user)->push_back(
            std::string(buf, n > 0 ? static_cast<size_t>(n) : 0) + (s->isalarmed() ? ":alarm" : ":input"));
    }, &log);
    globallist().append(feed.in.get());
    feed.send("abc");
    EXPECT_EQ(HqStream::runonce(1000), 1);
    EXPECT_EQ(log, std::vector<std::string>{"abc:input"});

    // A heap stream deleted by its own callback leaves the list safely.
    auto *once = new HqStream;
    once->setcallback([](HqStream *s, void *) { delete s; }, nullptr);
    globallist().append(once);
    once->alarm(0);
    EXPECT_EQ(HqStream::runonce(1000), 1);
    EXPECT_FALSE(globallist().contains(once));
    globallist().remove(feed.in.get());
    EXPECT_EQ(globallist().count(), 0);
}

TEST(HqSelectLoop, ListSelectWaitsOnAllItsMembers)
{
    Pipe a, b;
    HqIStreamList list;
    list.append(a.in.get());
    list.append(b.in.get());
    list.append(b.in.get());
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.select(20), 0);
    b.send("z");
    EXPECT_EQ(list.select(1000), 1);
    EXPECT_FALSE(a.in->isreadable());
    EXPECT_TRUE(b.in->isreadable());
    EXPECT_TRUE(list.remove(a.in.get()));
    EXPECT_FALSE(list.remove(a.in.get()));
}

TEST(HqStreamClone, ExecutesItsOwnCallbackElseTheInnerOne)
{
    int inner_runs = 0, own_runs = 0;
    auto *inner = new HqStream;
    inner->setcallback([](HqStream *, void *n) { ++*static_cast<int *>(n); }, &inner_runs);
    HqStreamClone clone(inner);
    clone.execute();
    EXPECT_EQ(inner_runs, 1);
    clone.setcallback([](HqStream *, void *n) { ++*static_cast<int *>(n); }, &own_runs);
    clone.execute();
    EXPECT_EQ(inner_runs, 1);
    EXPECT_EQ(own_runs, 1);
}

TEST(HqFdStream, DelayedOutputWaitsForTheFlushAndDrainDropsInput)
{
    Pipe p;
    fcntl(p.out->getfd(), F_SETPIPE_SZ, 1 << 20);
    std::string big(200000, 'q');
    p.out->delay_output();
    ASSERT_EQ(p.out->write(big.data(), static_cast<unsigned>(big.size())), static_cast<int>(big.size()));
    EXPECT_FALSE(p.in->isreadable());              // held, although far above the usual limit
    ASSERT_EQ(p.out->flush(1000), 0);
    EXPECT_TRUE(p.in->isreadable());
    EXPECT_STREQ(p.in->getline(0, '\n', 10).cstr(), "qqqqqqqqqq");   // some buffered, the rest in the pipe
    EXPECT_EQ(p.in->drain(), 200000 - 10);
    EXPECT_FALSE(p.in->isreadable());
    EXPECT_EQ(p.in->drain(), 0);

    // Without the hold, a large queue is sent at once.
    p.out->write(big.data(), static_cast<unsigned>(big.size()));
    EXPECT_TRUE(p.in->isreadable());
}

TEST(HqPipe, ReadsTheChildsOutputWithAndWithoutWaiting)
{
    const char *const argv[] = {"sh", "-c", "echo one; echo two; sleep 0.2; printf late", nullptr};
    HqPipe child("/bin/sh", argv);
    ASSERT_TRUE(child.isok());
    EXPECT_STREQ(child.getline(5000, '\n', 1024).cstr(), "one");
    EXPECT_STREQ(child.getline(5000, '\n', 1024).cstr(), "two");
    EXPECT_TRUE(child.getline(0, '\n', 1024).isnull());        // not there yet
    EXPECT_STREQ(child.getline(5000, '\n', 1024).cstr(), "late");   // unterminated rest at the end
    EXPECT_TRUE(child.getline(5000, '\n', 1024).isnull());
    EXPECT_FALSE(child.isok());
    EXPECT_EQ(child.geterr(), 0);
}

TEST(HqPipe, AProgramThatCannotStartIsNotOk)
{
    const char *const argv[] = {"none", nullptr};
    HqPipe missing("/nonexistent/program", argv);
    EXPECT_FALSE(missing.isok());
    EXPECT_EQ(missing.geterr(), ENOENT);
    HqPipe empty("/bin/true", nullptr);
    EXPECT_FALSE(empty.isok());
    EXPECT_EQ(empty.geterr(), EINVAL);
}

TEST(HqPipe, ClosingEarlyNeitherBlocksNorKillsTheCaller)
{
    // The child would write much more than the pipe holds and then run on.
    const char *const argv[] = {"sh", "-c", "yes; sleep 5", nullptr};
    signal(SIGPIPE, SIG_IGN);
    auto t0 = Clock::now();
    {
        HqPipe child("/bin/sh", argv);
        ASSERT_TRUE(child.isok());
        EXPECT_STREQ(child.getline(5000, '\n', 1024).cstr(), "y");
    }
    EXPECT_LT(elapsed_ms(t0), 3000);
    signal(SIGPIPE, SIG_DFL);
}
