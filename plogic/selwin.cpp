#include "selwin.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "plassert.h"

PlListColours SelectionWin::colortable;

SelectionWin::SelectionWin(const char *t, const PlRect &box, int noshadow)
    : OvlWin(t, box, colortable.text, colortable.background, colortable.border, noshadow)
{
}

SelectionWin::SelectionWin(const char *t, int cols, int rows, int noshadow)
    : OvlWin(t, cols, rows, colortable.text, colortable.background, colortable.border, noshadow)
{
}

void SelectionWin::append(const char *text)
{
    bool follow = cur == count() - 1 && cur != 0;
    sels.emplace_back(text ? text : "");
    if (follow)
        select(count() - 1);
    else if (visible)
        draw();
}

void SelectionWin::appendf(const char *fmt, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    append(n < 0 ? "" : text);
}

HqString SelectionWin::choicestr(int which) const
{
    PL_ASSERT(which >= 0 && which < (int)sels.size());
    return sels[static_cast<size_t>(which)];
}

void SelectionWin::select(int index)
{
    const int h = getbox().height();
    const int oldtop = top, oldcur = cur;
    if (index < top)
        top = index;
    else if (index > top + h - 3)
        top = index - h + 3;
    if (top + h - 3 > count() - 1)
        top = count() + 2 - h;
    if (top < 0)
        top = 0;
    cur = std::max(std::min(index, count() - 1), 0);
    if ((top != oldtop || cur != oldcur) && visible)
        draw();
}

int SelectionWin::handlekey(int key)
{
    if (key == 0) {
        key = wait_key();
        if (key == PL_KEY_NONE) {
            lastkey_ = 0;
            return 0;
        }
    }
    const int h = getbox().height();
    int index = -1;
    bool moves = true;
    switch (key) {
    case PL_KEY_HOME:
    case PL_KEY_CTRL_PGUP:
    case KEY_FIRST: index = 0; break;
    case PL_KEY_END:
    case PL_KEY_CTRL_PGDN:
    case KEY_LAST: index = count() - 1; break;
    case PL_KEY_PGDN: index = cur < top + h - 3 ? top + h - 3 : top + 2 * h - 5; break;
    case PL_KEY_PGUP: index = cur > top ? top : top - h + 2; break;
    case PL_KEY_DOWN: index = cur + 1; break;
    case PL_KEY_UP: index = cur - 1; break;
    default:
        moves = false;
        if (hotkeys && key >= 1 && key <= 255) {
            for (int i = 0; i < count(); ++i) {
                const char *mark = strchr(sels[static_cast<size_t>(i)].cstr(), '_');
                if (mark && mark[1] && toupper(static_cast<unsigned char>(mark[1])) == toupper(key)) {
                    index = i;
                    moves = true;
                    break;
                }
            }
        }
    }
    if (moves)
        select(index);
    lastkey_ = key;
    return cur;
}

void SelectionWin::draw()
{
    OvlWin::draw();
    const PlRect box = getbox();
    const int w = box.width(), h = box.height();
    const int rows = h - 2;
    if (count() > rows && h >= 4) {
        fill_rect(box.right, box.top + 1, box.right, box.top + 1, PL_DIAMOND, 0x1C);
        fill_rect(box.right, box.bottom - 1, box.right, box.bottom - 1, PL_DIAMOND, 0x1C);
        if (h >= 5)
            fill_rect(box.right, box.top + 2, box.right, box.bottom - 2, PL_CHECKERBOARD, 0x1C);
    }
    const int cells = w - 2;       // one row of the interior
    const int longest = w - 4;     // a blank before, at least one after
    for (int row = 1; row <= rows && top + row - 1 < count(); ++row) {
        const int i = top + row - 1;
        const bool selected = i == cur;
        const int fg = selected ? colortable.selected_text : colortable.text;
        const int bg = selected ? colortable.selected_background : colortable.background;
        gotoxy(1, row);
        set_text_color(fg);
        set_text_background(bg);
        putch(' ');
        int shown = 0;
        bool marked = false;
        for (const char *p = sels[static_cast<size_t>(i)].cstr(); *p && shown < longest; ++p) {
            if (hotkeys && !marked && *p == '_' && p[1]) {
                marked = true;
                ++p;
                if (!selected) {
                    set_text_color(colortable.hotkey_text);
                    set_text_background(colortable.hotkey_background);
                }
                putch(static_cast<unsigned char>(*p));
                set_text_color(fg);
                set_text_background(bg);
            } else {
                putch(static_cast<unsigned char>(*p));
            }
            ++shown;
        }
        for (int n = 1 + shown; n < cells; ++n)
            putch(' ');
    }
    if (count() > 0 && cur >= top && cur - top + 1 <= rows)
        gotoxy(std::min(2, cells + 1), cur - top + 1);
}
