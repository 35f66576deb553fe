#include "msgwin.h"

#include <cctype>
#include <cstring>

#include "plassert.h"

namespace {

HqStringList split_lines(const char *text)
{
    HqStringList lines;
    lines.split(text, "\r\n");
    return lines;
}

int widest(const HqStringList &lines)
{
    size_t w = 0;
    for (const HqString &line : lines)
        w = std::max(w, line.length());
    return static_cast<int>(w);
}

}  // namespace

MsgWin::MsgWin(const char *text, const char *t)
    : OvlWin(t, widest(split_lines(text)) + 4, split_lines(text).count() + 2, 14, 3, 15, 0),
      lines(split_lines(text))
{
}

void MsgWin::draw()
{
    PL_ASSERT(visible);
    PL_ASSERT(hasfocus);
    OvlWin::draw();
    clear_window();
    for (int i = 0; i < lines.count(); ++i) {
        if (i)
            put_string("\r\n");
        put_string(" ");
        put_string(lines[i].cstr());
    }
}

int MsgWin::wait(const char *keys)
{
    show();
    while (pl_screen().isok()) {
        int key = wait_key();
        if (key >= 1 && key <= 255)
            key = tolower(key);
        if (key >= 1 && key <= 255 && keys && strchr(keys, key))
            return key;
    }
    return 0;
}
