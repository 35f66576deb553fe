#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "conio.h"
#include "hqstreamlist.h"
#include "pipescreen.h"

namespace {

// Every key that the input gives, until none is left.
std::vector<int> all_keys(PipeScreen &t, const std::string &input)
{
    t.send_keys(input);
    std::vector<int> keys;
    for (int guard = 0; guard < 64 && key_pending(); ++guard)
        keys.push_back(read_key());
    return keys;
}

}  // namespace

TEST(PlKeys, TheKeyTable)
{
    const struct {
        const char *input;
        std::vector<int> keys;
    } table[] = {
        {"a", {'a'}},
        {"\r", {13}},
        {"\n", {13}},                              // mapped
        {"\x7f", {-8}},                            // DEL is backspace
        {"\b", {8}},                               // BS stays
        {"\x1b[A", {-72}}, {"\x1b[B", {-80}}, {"\x1b[C", {-77}}, {"\x1b[D", {-75}},
        {"\x1bOA", {-72}}, {"\x1bOD", {-75}}, {"\x1b[1A", {-72}},
        {"\x1b[1~", {-71}}, {"\x1b[7~", {-71}}, {"\x1b[1^", {-71}},
        {"\x1b[2~", {-82}}, {"\x1b[3~", {-83}}, {"\x1b[4~", {-79}}, {"\x1b[8~", {-79}},
        {"\x1b[5~", {-73}}, {"\x1b[5^", {-132}}, {"\x1b[6~", {-81}}, {"\x1b[6^", {-118}},
        {"\x1b[9~", {-1}},                         // unknown, consumed
        {"\x1b[99999999999999999999~x", {-1, 'x'}},   // a huge number is just unknown
        {"\x1b[1;5C", {-1, '5', 'C'}},
        {"\x1bx", {27, 'x'}},
        {"\xc8", {200}},
        {"\xc8q", {200, 'q'}},
        {"\x1b[A\x1b[B", {-72, -80}},
    };
    for (const auto &row : table) {
        PipeScreen t;
        EXPECT_EQ(all_keys(t, row.input), row.keys) << row.input + 1;
    }
}

TEST(PlKeys, ALoneEscapeWaitsBrieflyForTheRest)
{
    PipeScreen t;
    t.send_keys("\x1b");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(_getch(), 27);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(90));

    // The rest of the sequence arrives within the wait: one key.
    t.send_keys("\x1b");
    std::thread late([&t] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        t.send_keys("[D");
    });
    EXPECT_EQ(_getch(), -75);
    late.join();
    EXPECT_EQ(_getch(), -1);
}

TEST(PlKeys, AnIncompleteSequenceStaysBufferedUntilItEnds)
{
    PipeScreen t;
    t.send_keys("\x1b[2");
    EXPECT_EQ(_getch(), -1);
    EXPECT_FALSE(key_pending());
    EXPECT_EQ(_getch(), -1);
    t.send_keys("~");
    EXPECT_EQ(_getch(), -82);
    EXPECT_EQ(_getch(), -1);
}

TEST(PlKeys, CtrlLRepaintsTheWholeScreen)
{
    PipeScreen t;
    pl_screen().refresh();
    t.take_output();
    t.send_keys("\x0c");
    EXPECT_EQ(read_key(), 12);
    EXPECT_NE(t.take_output().find("\033[2J"), std::string::npos);
}

TEST(PlKeys, AFailedTerminalGivesMinusOne)
{
    PipeScreen t;
    t.send_keys("k");
    t.hang_up();
    EXPECT_EQ(wait_key(), 'k');
    EXPECT_EQ(wait_key(), -1);
    EXPECT_FALSE(pl_screen().isok());
    EXPECT_EQ(_getch(), -1);
}

TEST(PlKeys, WaitKeyServicesTheGlobalListWhileWaiting)
{
    PipeScreen t;
    HqStream timer;
    struct Ctx {
        PipeScreen *t;
        int runs;
    } ctx = {&t, 0};
    timer.setcallback([](HqStream *s, void *user) {
        auto *c = static_cast<Ctx *>(user);
        if (++c->runs == 3)
            c->t->send_keys("z");
        else
            s->alarm(5);
    }, &ctx);
    globallist().append(&timer);
    timer.alarm(5);
    EXPECT_EQ(wait_key(), 'z');
    EXPECT_EQ(ctx.runs, 3);
    globallist().remove(&timer);
}

TEST(PlKeys, MapKey)
{
    EXPECT_EQ(map_key(10), 13);
    EXPECT_EQ(map_key(127), -8);
    EXPECT_EQ(map_key(8), 8);
    EXPECT_EQ(map_key(-72), -72);
    EXPECT_EQ(map_key('a'), 'a');
}
