#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "msgwin.h"
#include "ovlwin.h"
#include "pipescreen.h"
#include "plframe.h"
#include "selwin.h"

namespace {

// Some picture to cover: every cell different.
void paint_background()
{
    for (int y = 1; y <= 24; ++y)
        for (int x = 1; x <= 80; ++x)
            fill_rect(x, y, x, y, 'A' + (x + y) % 26, (x * 7 + y) & 0x7F);
}

struct NoAnimation {
    NoAnimation() { OvlWin::animate = false; }
    ~NoAnimation() { OvlWin::animate = true; }
};

}  // namespace

TEST(PlGeometry, RectanglesMoveInAndKeepTheirSize)
{
    PipeScreen t;
    const struct {
        int x1, y1, x2, y2;
        int l, tp, r, b;
    } table[] = {
        {5, 6, 10, 8, 5, 6, 10, 8},
        {10, 8, 5, 6, 5, 6, 10, 8},      // corners in any order
        {75, 20, 84, 26, 71, 18, 80, 24},  // sticks out: moves in
        {-3, 0, 200, 2, 1, 1, 80, 2},    // wider than the screen: cut
    };
    for (const auto &row : table) {
        PlRect r(row.x1, row.y1, row.x2, row.y2);
        EXPECT_EQ(r.left, row.l);
        EXPECT_EQ(r.top, row.tp);
        EXPECT_EQ(r.right, row.r);
        EXPECT_EQ(r.bottom, row.b);
    }
    PlRect c = PlRect::centred(27, 12);
    EXPECT_EQ(c.left, 27);
    EXPECT_EQ(c.top, 7);
    PlRect in = PlRect::centred(PlRect(11, 3, 82, 24), 10, 4);
    EXPECT_EQ(in.left, 9 + (72 - 10) / 2);   // the outer one moved in to 9-80 first
    PlPoint p(0, 99);
    EXPECT_EQ(p.x, 1);
    EXPECT_EQ(p.y, 24);
}

TEST(PlWindows, ABoxOpensInFiveFrames)
{
    PipeScreen t;
    pl_screen().refresh();
    t.take_output();
    OvlWin box("Anim", 27, 12, 14, 3, 15, 0);    // box 27-53 x 7-18
    box.show();
    pl_screen().refresh();
    std::string out = t.take_output();
    // Each refresh that sent cells ends with the closing bytes; the upper
    // left corner of the growing box shows where each frame was.
    TermModel term(80, 24);
    std::vector<std::pair<int, int>> corners;
    size_t from = 0, end;
    while ((end = out.find(refresh_end_bytes(), from)) != std::string::npos) {
        term.feed(out.substr(from, end + refresh_end_bytes().size() - from));
        corners.push_back(term.find(PL_ULCORNER));
        from = end + refresh_end_bytes().size();
    }
    // (dx, dy) = (12, 5), (9, 4), (6, 3), (3, 2) with a pause each; (0, 1) is
    // drawn without one and covered at once by the full box.
    std::vector<std::pair<int, int>> want = {{26 + 12, 6 + 5}, {26 + 9, 6 + 4}, {26 + 6, 6 + 3}, {26 + 3, 6 + 2}, {26, 6}};
    EXPECT_EQ(corners, want);
    EXPECT_NE(term.row(6).find(" Anim "), std::string::npos);
    EXPECT_EQ(term.at(26, 6).attr, 0x3F);        // border white on cyan

    // Shown again later: no animation.
    box.hide();
    pl_screen().refresh();
    t.take_output();
    box.show();
    pl_screen().refresh();
    std::string again = t.take_output();
    size_t n = 0;
    for (size_t p = 0; (p = again.find(refresh_end_bytes(), p)) != std::string::npos; p += 1)
        ++n;
    EXPECT_EQ(n, 1u);
}

TEST(PlWindows, HidingRestoresExactlyTheCellsUnderIt)
{
    PipeScreen t;
    NoAnimation quiet;
    paint_background();
    PlCells before = pl_screen().getcells();
    {
        OvlWin box("Shadowed", PlRect(10, 5, 30, 12), 15, 1, 7, 0);
        box.show();
        put_string(" inside");
        // The box, its title and text; the shadow darkens but keeps the characters.
        EXPECT_EQ(pl_screen().cell(9, 4).ch, PL_ULCORNER);
        EXPECT_EQ(pl_screen().cell(29, 11).ch, PL_LRCORNER);
        EXPECT_EQ(screen_text(11, 17, 6), " inside");
        EXPECT_EQ(pl_screen().cell(11, 5).attr, 0x1F);
        EXPECT_NE(screen_text(10, 30, 5).find(" Shadowed "), std::string::npos);
        for (auto xy : {std::make_pair(31, 6), std::make_pair(32, 13), std::make_pair(12, 13)}) {
            EXPECT_EQ(pl_screen().cell(xy.first - 1, xy.second - 1).attr, 8);
            EXPECT_EQ(pl_screen().cell(xy.first - 1, xy.second - 1).ch, before.cell(xy.first - 1, xy.second - 1).ch);
        }
        EXPECT_EQ(pl_screen().cell(31 - 1, 5 - 1).attr, before.cell(30, 4).attr);   // corner next to the top row
        EXPECT_EQ(pl_screen().cell(11 - 1, 13 - 1).attr, before.cell(10, 12).attr);
        box.unfocus();
        box.hide();
        EXPECT_TRUE(pl_screen().getcells() == before);

        // Shown again: its own picture comes back, without drawing it anew.
        box.show();
        EXPECT_EQ(screen_text(11, 17, 6), " inside");
        PlTextInfo ti;
        get_text_info(&ti);
        EXPECT_EQ(ti.winleft, 11);             // its own text window
        EXPECT_EQ(ti.winbottom, 11);
    }
    EXPECT_TRUE(pl_screen().getcells() == before);   // destroyed: hidden
    PlTextInfo ti;
    get_text_info(&ti);
    EXPECT_EQ(ti.winleft, 1);                  // the outside state is back
    EXPECT_EQ(ti.winright, 80);
    EXPECT_EQ(ti.attribute, 7);
}

TEST(PlWindows, FocusSwapsTheTextState)
{
    PipeScreen t;
    NoAnimation quiet;
    set_text_attr(0x4E);
    set_window(2, 2, 20, 10);
    gotoxy(3, 4);
    OvlWin a("A", PlRect(30, 5, 50, 10), 7, 1, 7, 0);
    a.show();
    PlTextInfo ti;
    get_text_info(&ti);
    EXPECT_EQ(ti.winleft, 31);
    EXPECT_EQ(ti.attribute, 0x17);
    a.unfocus();
    a.unfocus();                               // twice: still the outside state
    get_text_info(&ti);
    EXPECT_EQ(ti.winleft, 2);
    EXPECT_EQ(ti.curx, 3);
    EXPECT_EQ(ti.cury, 4);
    EXPECT_EQ(ti.attribute, 0x4E);
    a.focus();
    a.focus();
    get_text_info(&ti);
    EXPECT_EQ(ti.winleft, 31);
    a.unfocus();
    get_text_info(&ti);
    EXPECT_EQ(ti.winleft, 2);
    a.move(PlPoint(40, 12));
    EXPECT_EQ(a.getrect().left, 40);
    EXPECT_EQ(a.getrect().bottom, 12 + 6);
    EXPECT_EQ(pl_screen().cell(39, 11).ch, PL_ULCORNER);
    EXPECT_EQ(pl_screen().cell(29, 4).ch, 0);  // the old place is restored
    get_text_info(&ti);
    EXPECT_EQ(ti.winleft, 41);                 // its text window moved along
}

TEST(PlWindows, SelectionListScrollMarkAndFollowing)
{
    PipeScreen t;
    NoAnimation quiet;
    SelectionWin list("List", PlRect(10, 3, 30, 14), 0);   // 12 rows: 10 items fit
    for (int i = 0; i < 10; ++i)
        list.appendf("item %d", i);
    list.show();
    auto mark = [](int y) { return pl_screen().cell(29, y - 1).ch; };
    EXPECT_EQ(mark(4), PL_VLINE);
    EXPECT_EQ(screen_text(11, 19, 13), " item 9  ");
    list.append("item 10");                    // current is 0: only redrawn
    EXPECT_EQ(list.current(), 0);
    EXPECT_EQ(mark(4), PL_DIAMOND);
    EXPECT_EQ(mark(13), PL_DIAMOND);
    for (int y = 5; y <= 12; ++y)
        EXPECT_EQ(mark(y), PL_CHECKERBOARD) << y;
    EXPECT_EQ(pl_screen().cell(29, 3).attr, 0x1C);
    EXPECT_EQ(screen_text(11, 19, 4), " item 0  ");

    list.select(10);                           // last: the list follows new items
    EXPECT_EQ(list.gettop(), 1);
    list.append("item 11");
    EXPECT_EQ(list.current(), 11);
    EXPECT_EQ(list.gettop(), 2);
    EXPECT_EQ(screen_text(11, 19, 13), " item 11 ");
    EXPECT_EQ(pl_screen().getcurx(), 11);      // column 2 of the current row
    EXPECT_EQ(pl_screen().getcury(), 12);
    EXPECT_EQ(pl_screen().cell(12, 12).attr, 0x4F);   // selected: white on red
    EXPECT_EQ(pl_screen().cell(12, 11).attr, 0x20);   // items: black on green
}

TEST(PlWindows, SelectionKeysMoveTheCurrentItem)
{
    PipeScreen t;
    NoAnimation quiet;
    SelectionWin list("Keys", PlRect(10, 3, 30, 9), 0);   // 7 rows: 5 visible items
    for (int i = 0; i < 20; ++i)
        list.appendf("%c_%citem %d", 'a' + i % 3, 'A' + i, i);
    list.show();
    const struct {
        int key;
        int current;
        int top;
    } table[] = {
        {PL_KEY_DOWN, 1, 0},   {PL_KEY_PGDN, 4, 0},  {PL_KEY_PGDN, 9, 5},   {PL_KEY_UP, 8, 5},
        {PL_KEY_PGUP, 5, 5},   {PL_KEY_PGUP, 0, 0},  {PL_KEY_END, 19, 15},  {PL_KEY_HOME, 0, 0},
        {PL_KEY_CTRL_PGDN, 19, 15}, {PL_KEY_CTRL_PGUP, 0, 0}, {-997, 19, 15}, {-998, 0, 0},
        {PL_KEY_UP, 0, 0},     {'c', 0, 0},          {PL_KEY_END, 19, 15},  {PL_KEY_DOWN, 19, 15},
    };
    for (const auto &row : table) {
        EXPECT_EQ(list.handlekey(row.key), row.current) << row.key;
        EXPECT_EQ(list.gettop(), row.top) << row.key;
        EXPECT_EQ(list.lastkey(), row.key);
    }
    list.sethotkeys(true);
    EXPECT_EQ(list.handlekey('k'), 10);        // "b_Kitem 10", compared in upper case
    EXPECT_EQ(list.handlekey('C'), 2);
    EXPECT_EQ(list.handlekey('!'), 2);
    // The underscore is hidden and the hot letter coloured on other rows.
    list.handlekey(PL_KEY_HOME);
    EXPECT_EQ(screen_text(11, 19, 5), " bBitem 1");
    EXPECT_EQ(pl_screen().cell(12, 4).attr, 0x4E);    // hot letter: yellow on red
    EXPECT_EQ(list.choicestr(3).str(), "a_Ditem 3");

    t.send_keys("\x1b[B");
    EXPECT_EQ(list.handlekey(0), 1);           // reads the key itself
    t.hang_up();
    EXPECT_EQ(list.handlekey(0), 0);
    EXPECT_EQ(list.lastkey(), 0);
}

TEST(PlWindows, ListColoursHoldForEveryListBuiltAfterThem)
{
    PipeScreen t;
    NoAnimation quiet;
    const PlListColours saved = SelectionWin::colours();
    PlListColours menu = saved;
    menu.text = 7;
    menu.background = 1;
    menu.selected_text = 0;
    menu.selected_background = 4;
    menu.hotkey_text = 15;
    menu.hotkey_background = 1;
    SelectionWin::setcolours(menu);
    {
        SelectionWin list("Menu", PlRect(10, 3, 30, 9), 0);
        list.append("_One");
        list.append("_Two");
        list.sethotkeys(true);
        list.show();
        EXPECT_EQ(screen_text(11, 15, 5), " Two ");
        // Cells count from 0: the box's top left corner is cell (9, 2).
        EXPECT_EQ(pl_screen().cell(9, 2).attr, 0x1F);    // border: white on blue
        EXPECT_EQ(pl_screen().cell(10, 3).attr, 0x40);   // selected: black on red
        EXPECT_EQ(pl_screen().cell(11, 3).attr, 0x40);   // no hot colour when selected
        EXPECT_EQ(pl_screen().cell(10, 4).attr, 0x17);   // items: grey on blue
        EXPECT_EQ(pl_screen().cell(11, 4).attr, 0x1F);   // hot letter: white on blue
        EXPECT_EQ(pl_screen().cell(12, 4).attr, 0x17);
    }
    SelectionWin::setcolours(saved);
}

TEST(PlWindows, LongItemsAreCutInsideTheBox)
{
    PipeScreen t;
    NoAnimation quiet;
    SelectionWin list("Cut", PlRect(10, 3, 20, 8), 1);   // width 11: texts of 7
    list.append("0123456789");
    list.append("");
    list.show();
    EXPECT_EQ(screen_text(10, 20, 4), std::string(1, static_cast<char>(PL_VLINE)) + " 0123456 " +
                                          std::string(1, static_cast<char>(PL_VLINE)));
    EXPECT_EQ(screen_text(11, 19, 5), "         ");
}

TEST(PlWindowsDeathTest, ChoiceBeyondTheListEndsTheProgram)
{
    PipeScreen t;
    SelectionWin list("x", 20, 6, 0);
    list.append("one");
    EXPECT_DEATH(list.choicestr(1), "which >= 0 && which < \\(int\\)sels.size\\(\\)");
    EXPECT_DEATH(list.draw(), "visible");
}

TEST(PlWindows, MessageBoxSizeTextAndKeys)
{
    PipeScreen t;
    NoAnimation quiet;
    paint_background();
    PlCells before = pl_screen().getcells();
    {
        MsgWin box("First line\r\n\r\nthird, the widest\n", "Ask");
        t.send_keys("xY");
        EXPECT_EQ(box.wait("yn\33"), 'y');
        PlRect b = box.getbox();
        EXPECT_EQ(b.width(), 17 + 4);
        EXPECT_EQ(b.height(), 2 + 2);
        EXPECT_EQ(b.left, (80 - 21) / 2 + 1);
        EXPECT_EQ(screen_text(b.left + 1, b.left + 11, b.top + 1), " First line");
        EXPECT_EQ(screen_text(b.left + 1, b.left + 18, b.top + 2), " third, the widest");
        EXPECT_EQ(pl_screen().cell(b.left, b.top).attr, 0x3E);   // yellow on cyan
        EXPECT_NE(screen_text(b.left, b.right, b.top).find(" Ask "), std::string::npos);
        t.send_keys("\x1b");
        EXPECT_EQ(box.wait("yn\33"), 27);
        t.hang_up();
        EXPECT_EQ(box.wait("yn\33"), 0);
    }
    EXPECT_TRUE(pl_screen().getcells() == before);
}

TEST(PlFrame, BarsTextsAndTheirCuts)
{
    PipeScreen t;
    PlCells before = pl_screen().getcells();
    {
        PlFrame frame(pl_screen());
        EXPECT_EQ(get_cursor_visible(), 0);
        EXPECT_EQ(pl_screen().cell(40, 12).ch, PL_CHECKERBOARD);
        EXPECT_EQ(pl_screen().cell(40, 12).attr, 1);
        EXPECT_EQ(pl_screen().cell(40, 0).attr, 0x40);
        EXPECT_EQ(pl_screen().cell(40, 23).ch, ' ');

        frame.settopleftf("CALIDOR Version %s", "4.1 #18");
        frame.settopright("UpTime: 1 day + 1:01:01");
        EXPECT_EQ(screen_text(1, 80, 1), " CALIDOR Version 4.1 #18" + std::string(32, ' ') + "UpTime: 1 day + 1:01:01 ");
        // A left text longer than the bar is cut; the right one keeps its length.
        frame.settopleft(std::string(100, 'L').c_str());
        EXPECT_EQ(screen_text(1, 80, 1), " " + std::string(78 - 23, 'L') + "UpTime: 1 day + 1:01:01 ");
        // A right text longer than the bar: each gets half.
        frame.setbottomleft("left");
        frame.setbottomright(std::string(90, 'R').c_str());
        EXPECT_EQ(screen_text(1, 80, 24), " left" + std::string(35, ' ') + std::string(39, 'R') + " ");
        frame.setbottomright(nullptr);
        EXPECT_EQ(screen_text(1, 80, 24), " left" + std::string(75, ' '));

        PlTextInfo ti;
        get_text_info(&ti);
        EXPECT_EQ(ti.winbottom, 24);           // setters leave the text state alone
        EXPECT_EQ(ti.wintop, 1);
    }
    EXPECT_EQ(get_cursor_visible(), 1);
    EXPECT_EQ(pl_screen().cell(40, 0).ch, PL_CHECKERBOARD);   // what was under the bars
}
