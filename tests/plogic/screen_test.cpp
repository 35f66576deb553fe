#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "pipescreen.h"
#include "plcells.h"
#include "plscreen.h"

namespace {

const std::string CLEAR = "\033[2J";
const std::string START = "\033[0;30;40m\017\033)0\033[?25l";   // attribute 0, G1 graphics, cursor hidden
const std::string END = "\033[?25h\017\033)B\033(B";             // cursor shown, ASCII again

}  // namespace

TEST(PlCells, CopiesClearsAndCompares)
{
    PlCells a(6, 3), b(6, 3), c(5, 3);
    a.clear();
    b.clear();
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);                      // other size
    a.cell(2, 1) = PlCell{'x', 0x1F};
    EXPECT_FALSE(a == b);
    EXPECT_EQ(a.row(1)[2].ch, 'x');

    PlCell src[3] = {{'a', 1}, {'b', 2}, {'c', 3}};
    b.copyrow(3, 2, 5, src);
    EXPECT_EQ(b.cell(3, 2).ch, 'a');
    EXPECT_EQ(b.cell(5, 2).attr, 3);
    EXPECT_EQ(b.cell(2, 2).ch, 0);

    // A block lands at its place from the matching source rows.
    PlCells d(6, 3);
    d.clear();
    d.copyblock(0, 0, 2, 1, b, 3, 1);
    EXPECT_EQ(d.cell(0, 1).ch, 'a');
    EXPECT_EQ(d.cell(2, 1).ch, 'c');
    EXPECT_EQ(d.cell(0, 0).ch, 0);
    d.clear();
    EXPECT_EQ(d.cell(0, 1).ch, 0);
    EXPECT_EQ(d.cell(0, 1).attr, 0);
}

TEST(PlCellsDeathTest, RefusesCoordinatesOutside)
{
    PlCells a(4, 2);
    EXPECT_DEATH(a.row(2), "PlCells::row: assertion failed: y >= 0 && y < ysize");
    EXPECT_DEATH(a.cell(4, 0), "x >= 0 && x < xsize");
    PlCell one[8] = {};
    EXPECT_DEATH(a.copyrow(1, 0, 4, one), "sx < xsize && ex < xsize");
    EXPECT_DEATH(a.copyblock(0, 1, 1, 2, a, 0, 0), "sy < ysize && ey < ysize");
    PlCells big(10, 10);
    EXPECT_DEATH(a.copyblock(0, 0, 3, 1, big, 8, 0), "srcx");   // the source would overrun
}

TEST(PlScreen, PipesGiveAnEightyByTwentyFourScreen)
{
    PipeScreen t;
    EXPECT_EQ(t.screen->getxsize(), 80);
    EXPECT_EQ(t.screen->getysize(), 24);
    EXPECT_TRUE(t.screen->isok());
    EXPECT_EQ(PlScreen::current(), t.screen.get());
}

TEST(PlScreen, FirstRefreshClearsAndSendsEveryCellThenNothing)
{
    PipeScreen t;
    PlScreen &s = *t.screen;
    s.cell(0, 0) = PlCell{'A', 7};
    s.cell(1, 0) = PlCell{'B', 7};             // adjacent: no cursor move between
    s.cell(5, 2) = PlCell{7, 0x10};            // a control character shows as a blank
    s.gotoxy(3, 1);
    s.refresh();
    EXPECT_EQ(t.take_output(), CLEAR + START + "\033[1;1H\033[0;37;40mAB\033[3;6H\033[0;30;44m \033[2;4H" + END);
    s.refresh();
    EXPECT_EQ(t.take_output(), "");            // nothing changed: only the flush
    s.gotoxy(0, 0);
    s.refresh();
    EXPECT_EQ(t.take_output(), "\033[1;1H");   // at most one cursor move
}

TEST(PlScreen, LineDrawingGoesThroughShiftOutWithTheRightAttribute)
{
    PipeScreen t;
    PlScreen &s = *t.screen;
    s.refresh();
    EXPECT_EQ(t.take_output(), CLEAR + "\033[1;1H");
    s.cell(10, 5) = PlCell{PL_HLINE, 0x1F};
    s.cell(11, 5) = PlCell{'x', 0x1F};         // back to ASCII with SI, same attribute
    s.cell(3, 6) = PlCell{'r', 0x34};          // PC red on cyan: ANSI 6 on 1
    s.setcursormode(0);
    s.refresh();
    EXPECT_EQ(t.take_output(), START + "\033[6;11H\033[0;37;44;1m\016q\017x\033[7;4H\033[0;36;41mr\033[1;1H\033[?25l"
                                       "\017\033)B\033(B");
}

TEST(PlScreen, AttributesFollowThePcToAnsiTable)
{
    // PC colours 0-7 go out as 0, 4, 2, 1, 6, 5, 3, 7; bit 7 blinks, bit 3 is bright.
    const struct {
        unsigned char attr;
        const char *bytes;
    } table[] = {
        {0x07, "\033[0;37;40m"}, {0x1F, "\033[0;37;44;1m"}, {0x34, "\033[0;36;41m"}, {0x43, "\033[0;31;46m"},
        {0x26, "\033[0;33;42m"}, {0x51, "\033[0;34;45m"}, {0x62, "\033[0;32;43m"}, {0xCE, "\033[0;33;46;5;1m"},
        {0x08, "\033[0;30;40;1m"}, {0x70, "\033[0;30;47m"},
    };
    for (const auto &row : table) {
        PipeScreen t;
        t.screen->refresh();
        t.take_output();
        t.screen->cell(0, 0) = PlCell{'z', row.attr};
        t.screen->refresh();
        // The cursor is known to be at the cell already: no move before it.
        EXPECT_EQ(t.take_output(), START + row.bytes + "z\033[1;1H" + END) << int(row.attr);
    }
}

TEST(PlScreen, ForcedRefreshRepaintsEverythingAndTheTerminalMatches)
{
    PipeScreen t;
    PlScreen &s = *t.screen;
    TermModel term(80, 24);
    srand(7);
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 300; ++i) {
            int x = rand() % 80, y = rand() % 24;
            unsigned char ch = static_cast<unsigned char>(rand() % 3 == 0 ? 224 + rand() % 25 : 32 + rand() % 95);
            s.cell(x, y) = PlCell{ch, static_cast<unsigned char>(rand() % 256)};
        }
        s.gotoxy(rand() % 80, rand() % 24);
        s.refresh(round == 3);
        std::string out = t.take_output();
        EXPECT_EQ(out.find(CLEAR) != std::string::npos, round == 0 || round == 3);
        term.feed(out);
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 80; ++x) {
                PlCell want = s.getcells().cell(x, y);
                if (want.ch < 32)
                    want.ch = ' ';
                ASSERT_EQ(term.at(x, y).ch, want.ch) << x << "," << y;
                if (want.ch != ' ' || want.attr != 0) {
                    ASSERT_EQ(term.at(x, y).attr, want.attr) << x << "," << y;
                }
            }
        }
        EXPECT_EQ(term.curx(), s.getcurx());
        EXPECT_EQ(term.cury(), s.getcury());
    }
}

TEST(PlScreen, PrintAndFillWriteTheBackBuffer)
{
    PipeScreen t;
    PlScreen &s = *t.screen;
    s.print(2, 3, "hey", 0x1E);
    EXPECT_EQ(s.cell(2, 3).ch, 'h');
    EXPECT_EQ(s.cell(4, 3).attr, 0x1E);
    s.fill(1, 1, 3, 2, '#', 5);                // columns 1-2 of row 1
    EXPECT_EQ(s.cell(1, 1).ch, '#');
    EXPECT_EQ(s.cell(2, 1).ch, '#');
    EXPECT_EQ(s.cell(3, 1).ch, 0);
    EXPECT_EQ(s.cell(1, 2).ch, 0);
}

TEST(PlScreenDeathTest, RefusesPositionsOutside)
{
    PipeScreen t;
    EXPECT_DEATH(t.screen->gotoxy(80, 0), "x < getxsize\\(\\) && y < getysize\\(\\)");
    EXPECT_DEATH(t.screen->cell(-1, 0), "x >= 0 && y >= 0");
    EXPECT_DEATH(t.screen->print(78, 0, "ab", 7), "x\\+\\(int\\)strlen\\(s\\) < getxsize\\(\\)");
    EXPECT_DEATH(PlScreen(nullptr, new HqFdStream(-1)), "ttyin");
}

TEST(PlScreen, DestructionLeavesTheCursorBelowAndRestores)
{
    PipeScreen t;
    t.screen->refresh();
    t.take_output();
    t.screen.reset();
    EXPECT_EQ(t.take_output(), "\033[26;3H\033[0;37;40m\033[?25h\n");
}
