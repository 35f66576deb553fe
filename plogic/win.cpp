#include "win.h"

#include <algorithm>

#include "plassert.h"

namespace {

int clamp(int v, int lo, int hi) { return std::max(lo, std::min(v, hi)); }

}  // namespace

PlPoint::PlPoint(int px, int py)
    : x(clamp(px, 1, pl_screen().getxsize())), y(clamp(py, 1, pl_screen().getysize()))
{
}

PlRect::PlRect(int x1, int y1, int x2, int y2)
{
    int w = pl_screen().getxsize(), h = pl_screen().getysize();
    left = std::min(x1, x2);
    right = std::max(x1, x2);
    top = std::min(y1, y2);
    bottom = std::max(y1, y2);
    int r = clamp(right, 1, w), b = clamp(bottom, 1, h);
    left -= right - r;
    top -= bottom - b;
    right = r;
    bottom = b;
    left = clamp(left, 1, right);
    top = clamp(top, 1, bottom);
}

PlRect PlRect::centred(int width, int height)
{
    int left = (pl_screen().getxsize() - width) / 2 + 1;
    int top = (pl_screen().getysize() - height) / 2 + 1;
    return PlRect(left, top, left + width - 1, top + height - 1);
}

PlRect PlRect::centred(const PlRect &outer, int width, int height)
{
    int l = outer.left + (outer.width() - width) / 2;
    int t = outer.top + (outer.height() - height) / 2;
    return PlRect(l, t, l + width - 1, t + height - 1);
}

PlRect PlRect::translated(const PlPoint &origin) const
{
    return PlRect(left + origin.x - 1, top + origin.y - 1, right + origin.x - 1, bottom + origin.y - 1);
}

PlWin::PlWin(const PlRect &r)
    : rect(r), background_(r.width(), r.height()), contents_(r.width(), r.height())
{
    get_text_info(&outside_);
    set_window(rect.left, rect.top, rect.right, rect.bottom);
    visible = true;
    hasfocus = true;
    focused_ = true;
    unfocus();   // keeps the picture under it as its contents and its own state
    visible = false;
}

PlWin::~PlWin() { hide(); }

void PlWin::grab(PlCells &dest) const
{
    dest.copyblock(0, 0, rect.width() - 1, rect.height() - 1, pl_screen().getcells(), rect.left - 1, rect.top - 1);
}

void PlWin::put(const PlCells &src) const
{
    pl_screen().getcells().copyblock(rect.left - 1, rect.top - 1, rect.right - 1, rect.bottom - 1, src, 0, 0);
}

void PlWin::take_outside() { get_text_info(&outside_); }

void PlWin::give_back_outside()
{
    set_window(outside_.winleft, outside_.wintop, outside_.winright, outside_.winbottom);
    set_text_attr(outside_.attribute);
    int height = outside_.winbottom - outside_.wintop + 1;
    gotoxy(outside_.curx, std::min(outside_.cury, height));
}

void PlWin::show()
{
    if (!visible) {
        take_outside();
        grab(background_);
        put(contents_);
        visible = true;
        focus();
    }
    if (!drawn)
        draw();
}

void PlWin::hide()
{
    if (!visible)
        return;
    unfocus();
    put(background_);
    visible = false;
}

void PlWin::focus()
{
    PL_ASSERT(!hasfocus || visible);
    // Taking the focus twice would lose the outside state.
    if (!hasfocus || focused_)
        return;
    take_outside();
    set_window(own_.winleft, own_.wintop, own_.winright, own_.winbottom);
    set_text_attr(own_.attribute);
    focused_ = true;
}

void PlWin::unfocus()
{
    PL_ASSERT(!hasfocus || visible);
    if (!hasfocus)
        return;
    grab(contents_);
    // Giving it up twice would take the outside state as the window's own.
    if (!focused_)
        return;
    get_text_info(&own_);
    give_back_outside();
    focused_ = false;
}

void PlWin::move(const PlPoint &to)
{
    bool was_visible = visible;
    hide();
    PlRect moved(to.x, to.y, to.x + rect.width() - 1, to.y + rect.height() - 1);
    if (moved.width() == rect.width() && moved.height() == rect.height()) {
        int dx = moved.left - rect.left, dy = moved.top - rect.top;
        own_.winleft += dx;
        own_.winright += dx;
        own_.wintop += dy;
        own_.winbottom += dy;
        rect = moved;
    }
    if (was_visible)
        show();
}

void PlWin::draw() { drawn = true; }
