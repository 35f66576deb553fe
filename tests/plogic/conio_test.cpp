#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "conio.h"
#include "pipescreen.h"

TEST(PlText, StartsWithTheWholeScreenInGrey)
{
    PipeScreen t;
    PlTextInfo ti;
    get_text_info(&ti);
    EXPECT_EQ(ti.winleft, 1);
    EXPECT_EQ(ti.wintop, 1);
    EXPECT_EQ(ti.winright, 80);
    EXPECT_EQ(ti.winbottom, 24);
    EXPECT_EQ(ti.attribute, 7);
    EXPECT_EQ(ti.curx, 1);
    EXPECT_EQ(ti.screenwidth, 80);
}

TEST(PlText, PutchWrapsAndNeverScrolls)
{
    PipeScreen t;
    set_window(11, 6, 15, 7);                  // 5 x 2
    set_text_attr(0x1E);
    put_string("abcdefg");
    EXPECT_EQ(screen_text(11, 15, 6), "abcde");
    EXPECT_EQ(screen_text(11, 15, 7), "fg...");
    EXPECT_EQ(pl_screen().cell(10, 5).attr, 0x1E);
    PlTextInfo ti;
    get_text_info(&ti);
    EXPECT_EQ(ti.curx, 3);
    EXPECT_EQ(ti.cury, 2);
    EXPECT_EQ(pl_screen().getcurx(), 12);      // screen follows, 0-based
    EXPECT_EQ(pl_screen().getcury(), 6);
    put_string("hij");                         // fills the row: the column stands past the width
    get_text_info(&ti);
    EXPECT_EQ(ti.curx, 6);
    EXPECT_EQ(pl_screen().getcurx(), 14);      // capped at the last column
    put_string("XY");                          // the last row is written over
    EXPECT_EQ(screen_text(11, 15, 7), "XYhij");
    EXPECT_EQ(screen_text(11, 15, 8), ".....");

    // CR and LF; LF below the last row leaves the next character on it.
    put_string("\r\n\n");
    get_text_info(&ti);
    EXPECT_EQ(ti.curx, 1);
    EXPECT_EQ(ti.cury, 3);
    EXPECT_EQ(pl_screen().getcury(), 6);
    putch('Z');
    EXPECT_EQ(screen_text(11, 15, 7), "ZYhij");
}

TEST(PlText, TabsStopEveryEightColumns)
{
    PipeScreen t;
    const struct {
        int column;
        int blanks;
    } table[] = {{1, 0}, {2, 7}, {7, 2}, {8, 1}, {9, 0}, {10, 7}};
    for (const auto &row : table) {
        set_window(1, 1, 80, 24);
        clear_window();
        gotoxy(row.column, 3);
        putch('\t');
        PlTextInfo ti;
        get_text_info(&ti);
        EXPECT_EQ(ti.curx, row.column + row.blanks) << row.column;
        int written = 0;
        for (int x = 1; x <= 80; ++x)
            written += pl_screen().cell(x - 1, 2).ch == ' ' && x >= row.column && x < row.column + row.blanks;
        EXPECT_EQ(written, row.blanks);
    }
}

TEST(PlText, SaveAndRestoreRectangles)
{
    PipeScreen t;
    for (int y = 1; y <= 5; ++y)
        for (int x = 1; x <= 10; ++x)
            fill_rect(x, y, x, y, 'a' + x, y);
    unsigned char saved[2 * 4 * 2];
    save_text(3, 2, 6, 3, saved);
    EXPECT_EQ(saved[0], 'a' + 3);
    EXPECT_EQ(saved[1], 2);
    EXPECT_EQ(saved[2 * 4], 'a' + 3);
    EXPECT_EQ(saved[2 * 4 + 1], 3);
    fill_rect(1, 1, 10, 5, ' ', 0);
    restore_text(5, 4, 8, 5, saved);           // elsewhere
    EXPECT_EQ(screen_text(5, 8, 4), "defg");
    EXPECT_EQ(pl_screen().cell(4, 4).attr, 3);

    // A narrower rectangle out of wider rows.
    restore_text(1, 1, 2, 2, saved, 4);
    EXPECT_EQ(screen_text(1, 2, 1), "de");
    EXPECT_EQ(screen_text(1, 2, 2), "de");
    EXPECT_EQ(pl_screen().cell(0, 1).attr, 3);

    fill_attr(1, 1, 2, 1, 0x4F);
    EXPECT_EQ(pl_screen().cell(1, 0).attr, 0x4F);
    EXPECT_EQ(pl_screen().cell(1, 0).ch, 'e');
}

TEST(PlText, BoxesClearsAndPadding)
{
    PipeScreen t;
    set_text_attr(0x17);
    draw_box(2, 2, 6, 4);
    EXPECT_EQ(pl_screen().cell(1, 1).ch, PL_ULCORNER);
    EXPECT_EQ(pl_screen().cell(5, 1).ch, PL_URCORNER);
    EXPECT_EQ(pl_screen().cell(5, 3).ch, PL_LRCORNER);
    EXPECT_EQ(pl_screen().cell(1, 3).ch, PL_LLCORNER);
    EXPECT_EQ(pl_screen().cell(3, 1).ch, PL_HLINE);
    EXPECT_EQ(pl_screen().cell(3, 3).ch, PL_HLINE);
    EXPECT_EQ(pl_screen().cell(1, 2).ch, PL_VLINE);
    EXPECT_EQ(pl_screen().cell(5, 2).attr, 0x17);
    EXPECT_EQ(pl_screen().cell(3, 2).ch, 0);

    set_window(20, 5, 29, 5);
    put_string("0123456789");
    gotoxy(4, 1);
    clear_to_eol();
    EXPECT_EQ(screen_text(20, 29, 5), "012       ");
    PlTextInfo ti;
    get_text_info(&ti);
    EXPECT_EQ(ti.curx, 4);

    char buf[16] = "abc";
    pad_string(buf, 6, '.');
    EXPECT_STREQ(buf, "abc...");
    pad_string(buf, 2, '.');
    EXPECT_STREQ(buf, "ab");

    set_text_color(0x0C);
    set_text_background(0x09);                 // 8 and above sets blink
    get_text_info(&ti);
    EXPECT_EQ(ti.attribute, 0x9C);
}

TEST(PlTextDeathTest, RefusesCursorsAndWindowsOutside)
{
    PipeScreen t;
    set_window(1, 1, 10, 2);
    EXPECT_DEATH(gotoxy(12, 1), "x >= 1 && x <= xsize\\+1");
    EXPECT_DEATH(gotoxy(1, 3), "y >= 1 && y <= ysize");
    EXPECT_DEATH(set_window(1, 1, 81, 2), "right <= ti.screenwidth");
    EXPECT_DEATH(fill_rect(1, 0, 2, 2, ' ', 0), "top >= 1");
}

// edit_line through the input pipe: the keys are written first, the editor
// reads them as a person would type them.
struct EditCase {
    const char *name;
    int width;
    const char *initial;
    const char *keys;
    const char *text;
    int result;
};

TEST(PlEditLine, EditsAsTyped)
{
    const EditCase table[] = {
        {"typing first replaces", 19, "10.0.0.1", "1\r", "1", -13},
        {"left then typing inserts", 19, "10.0.0.1", "\x1b[D" "5\r", "10.0.0.51", -13},
        {"home, overwrite", 19, "10.0.0.1", "\x1b[1~\x1b[2~" "99\r", "99.0.0.1", -13},
        {"overwrite extends at the end", 10, "ab", "\x1b[C\x1b[2~" "cd\r", "abcd", -13},
        {"insert into a full field is ignored", 4, "abcd", "\x1b[Dx\r", "abcd", -13},
        {"overwrite past the width is ignored", 4, "abcd", "\x1b[4~\x1b[2~x\r", "abcd", -13},
        {"the offered text is cut to the width", 4, "abcdef", "\r", "abcd", -13},
        {"backspace and delete", 19, "hello", "\x7f\x1b[1~\x1b[3~\b\r", "ell", -13},
        {"escape keeps the text", 19, "keep", "\x1b" "x", "keep", -27},
        {"control keys are ignored", 19, "", "a\x01\x02" "b\r", "ab", -13},
        {"up ends the editing", 19, "x", "\x1b[A", "x", -72},
        {"pgdn ends the editing", 19, "x", "\x1b[6~", "x", -81},
        {"right stops after the text", 19, "ab", "\x1b[C\x1b[C\x1b[C" "c\r", "abc", -13},
        {"left stops at the start", 19, "ab", "\x1b[D\x1b[D\x1b[D" "c\r", "cab", -13},
    };
    for (const auto &c : table) {
        PipeScreen t;
        gotoxy(10, 3);
        set_text_attr(0x0F);
        t.send_keys(c.keys);
        char buf[32];
        memset(buf, 'z', sizeof buf);
        EXPECT_EQ(edit_line(c.width, buf, c.initial), c.result) << c.name;
        EXPECT_STREQ(buf, c.text) << c.name;
        // The field shows the text in the caller's attribute; the state is back.
        EXPECT_EQ(screen_text(10, 9 + static_cast<int>(strlen(c.text)), 3), c.text) << c.name;
        PlTextInfo ti;
        get_text_info(&ti);
        EXPECT_EQ(ti.curx, 10) << c.name;
        EXPECT_EQ(ti.cury, 3) << c.name;
        EXPECT_EQ(ti.winright, 80) << c.name;
        EXPECT_EQ(ti.attribute, 0x0F) << c.name;
    }
}

TEST(PlEditLine, OffersTheTextInverseAndEndsOnAFailedTerminal)
{
    PipeScreen t;
    gotoxy(5, 2);
    set_text_attr(0x1E);                       // yellow on blue: inverse is blue on brown
    set_cursor_visible(0);
    std::vector<int> calls;
    unsigned char seen_attr = 0;
    char seen[4] = {};
    t.send_keys("q");
    t.hang_up();
    char buf[20] = "init";
    int r = edit_line(19, buf, buf, [&](int n) {
        calls.push_back(n);
        if (n == 0) {
            seen_attr = pl_screen().cell(4, 1).attr;
            for (int i = 0; i < 3; ++i)
                seen[i] = static_cast<char>(pl_screen().cell(4 + i, 1).ch);
        }
    });
    EXPECT_EQ(r, -1);
    EXPECT_STREQ(buf, "q");
    EXPECT_EQ(seen_attr, 0x61);
    EXPECT_STREQ(seen, "ini");
    EXPECT_EQ(calls, (std::vector<int>{0, 1}));
    EXPECT_EQ(get_cursor_visible(), 0);         // the caller's mode is back
    EXPECT_EQ(pl_screen().cell(4, 1).attr, 0x1E);
}

TEST(PlEditLine, InsertTogglesTheCursorShape)
{
    PipeScreen t;
    std::vector<int> modes;
    t.send_keys("\x1b[2~\x1b[2~\x1b[2~\r");
    char buf[8];
    edit_line(5, buf, "", [&](int) { modes.push_back(get_cursor_visible()); });
    EXPECT_EQ(modes, (std::vector<int>{1, 2, 1, 2}));
}
