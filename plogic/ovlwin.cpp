#include "ovlwin.h"

#include <algorithm>
#include <string>

#include "plassert.h"

bool OvlWin::animate = true;

OvlWin::OvlWin(const char *t, const PlRect &box, int tc, int bg, int bc, int noshadow)
    : PlWin(PlRect(box.left, box.top, box.right + 2, box.bottom + 1)),
      textcolor(tc), bgcolor(bg), bordercolor(bc), shadow(noshadow == 0), title(t)
{
}

OvlWin::OvlWin(const char *t, int cols, int rows, int tc, int bg, int bc, int noshadow)
    : OvlWin(t, PlRect::centred(cols, rows), tc, bg, bc, noshadow)
{
}

PlRect OvlWin::getbox() const
{
    return PlRect(rect.left, rect.top, std::max(rect.left, rect.right - 2), std::max(rect.top, rect.bottom - 1));
}

void OvlWin::settextcolor(int colour)
{
    textcolor = colour;
    set_text_color(colour);
}

void OvlWin::setbgcolor(int colour)
{
    bgcolor = colour;
    set_text_background(colour);
}

void OvlWin::setattr(int attr)
{
    textcolor = attr & 0x0F;
    bgcolor = (attr >> 4) & 0x07;
    set_text_attr(attr & 0x7F);
}

void OvlWin::draw()
{
    PL_ASSERT(visible);
    bool drawn_before = drawn;
    PlWin::draw();
    PlScreen &screen = pl_screen();
    set_window(1, 1, screen.getxsize(), screen.getysize());
    set_text_color(bordercolor);
    set_text_background(bgcolor);
    PlTextInfo ti;
    get_text_info(&ti);
    const PlRect box = getbox();
    const int bw = box.width(), bh = box.height();

    if (!drawn_before && animate) {
        int dx = std::max(bw / 2 - 1, 0), dy = std::max(bh / 2 - 1, 0);
        do {
            fill_rect(box.left + dx, box.top + dy, box.right - dx, box.bottom - dy, ' ', ti.attribute);
            draw_box(box.left + dx, box.top + dy, box.right - dx, box.bottom - dy);
            dx = dx > 2 ? dx - 3 : 0;
            dy = dy > 0 ? dy - 1 : 0;
            if (dx || dy) {
                screen.refresh();
                wait_input(10);
            }
        } while (dx || dy);
    }
    fill_rect(box.left, box.top, box.right, box.bottom, ' ', ti.attribute);
    draw_box(box.left, box.top, box.right, box.bottom);

    if (!!title) {
        // Cut so that the blanks around it stay inside the corners.
        std::string t = title.str().substr(0, static_cast<size_t>(std::max(bw - 4, 0)));
        if (!t.empty()) {
            gotoxy(box.left - 1 + (bw - static_cast<int>(t.size())) / 2, box.top);
            put_string((" " + t + " ").c_str());
        }
    }

    if (shadow) {
        set_text_color(8);
        set_text_background(0);
        if (rect.right > box.right && box.top + 1 <= rect.bottom)
            fill_attr(box.right + 1, box.top + 1, rect.right, rect.bottom, 8);
        if (rect.bottom > box.bottom && box.left + 2 <= rect.right)
            fill_attr(box.left + 2, box.bottom + 1, rect.right, rect.bottom, 8);
    }

    set_text_color(textcolor);
    set_text_background(bgcolor);
    get_text_info(&ti);
    if (bw >= 3 && bh >= 3) {
        set_window(box.left + 1, box.top + 1, box.right - 1, box.bottom - 1);
        fill_attr(box.left + 1, box.top + 1, box.right - 1, box.bottom - 1, ti.attribute);
    } else {
        set_window(box.left, box.top, box.right, box.bottom);
    }
}
