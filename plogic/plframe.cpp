#include "plframe.h"

#include <cstdarg>
#include <cstdio>

namespace {

HqString vformat(const char *fmt, va_list ap)
{
    char text[1024];
    int n = vsnprintf(text, sizeof text, fmt, ap);
    return HqString(n < 0 ? "" : text);
}

}  // namespace

// Each setter keeps the text and redraws its bar; the formatted forms format first.
#define PL_FRAME_SETTER(name, field, redraw)         \
    void PlFrame::name(const char *text)             \
    {                                                \
        field = HqString(text);                      \
        redraw();                                    \
    }                                                \
    void PlFrame::name##f(const char *fmt, ...)      \
    {                                                \
        va_list ap;                                  \
        va_start(ap, fmt);                           \
        HqString text = vformat(fmt, ap);            \
        va_end(ap);                                  \
        name(text.cstr());                           \
    }

PL_FRAME_SETTER(settopleft, topleft, redrawtop)
PL_FRAME_SETTER(settopright, topright, redrawtop)
PL_FRAME_SETTER(setbottomleft, bottomleft, redrawbottom)
PL_FRAME_SETTER(setbottomright, bottomright, redrawbottom)

void PlFrame::redrawtop() { drawbar(*topbar, topleft, topright); }
void PlFrame::redrawbottom() { drawbar(*bottombar, bottomleft, bottomright); }

PlFrame::PlFrame(PlScreen &s) : screen(s)
{
    const int w = screen.getxsize(), h = screen.getysize();
    topbar.reset(new PlWin(PlRect(1, 1, w, 1)));
    bottombar.reset(new PlWin(PlRect(1, h, w, h)));
    set_cursor_visible(0);
    fill_rect(1, 1, w, h, PL_CHECKERBOARD, 1);
    for (PlWin *bar : {topbar.get(), bottombar.get()}) {
        bar->show();
        set_text_attr(0x40);
        clear_window();
        bar->unfocus();
    }
}

PlFrame::~PlFrame()
{
    set_cursor_visible(1);
    bottombar.reset();
    topbar.reset();
}

void PlFrame::drawbar(PlWin &bar, const HqString &left, const HqString &right)
{
    const int llen = static_cast<int>(left.length()), rlen = static_cast<int>(right.length());
    const int w = bar.getrect().width() - 2;
    if (w <= 0)
        return;
    int l = llen, r;
    if (w < llen + rlen)
        l = w - rlen;
    if (w < rlen) {
        l = w / 2;
        r = w / 2;
    } else {
        r = w - l;
    }
    bar.focus();
    gotoxy(2, 1);
    print_format("%-*.*s%*.*s", l, l, left.cstr() ? left.cstr() : "", r, r, right.cstr() ? right.cstr() : "");
    bar.unfocus();
}
