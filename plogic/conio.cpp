#include "conio.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "hqbuf.h"
#include "plassert.h"

namespace {

struct TextState {
    unsigned serial = 0;   // the screen this state belongs to; 0 unset
    PlTextInfo ti;
    HqDynBuf in{1024, 1 << 20};
    bool incomplete = false;
};

TextState &state()
{
    static TextState *st = new TextState;
    PlScreen &s = pl_screen();
    if (st->serial != s.getserial()) {
        st->serial = s.getserial();
        st->ti.screenwidth = s.getxsize();
        st->ti.screenheight = s.getysize();
        st->ti.winleft = 1;
        st->ti.wintop = 1;
        st->ti.winright = s.getxsize();
        st->ti.winbottom = s.getysize();
        st->ti.curx = 1;
        st->ti.cury = 1;
        st->ti.attribute = 7;
        st->in.clear();
        st->incomplete = false;
    }
    return *st;
}

int win_width(const PlTextInfo &ti) { return ti.winright - ti.winleft + 1; }
int win_height(const PlTextInfo &ti) { return ti.winbottom - ti.wintop + 1; }

// The screen's cursor follows the text cursor, kept inside the window.
void place_cursor(const PlTextInfo &ti)
{
    int x = std::min(ti.curx, win_width(ti));
    int y = std::min(ti.cury, win_height(ti));
    pl_screen().gotoxy(ti.winleft + x - 2, ti.wintop + y - 2);
}

void check_rect(const PlTextInfo &ti, int left, int top, int right, int bottom)
{
    PL_ASSERT(left >= 1 && left <= right && right <= ti.screenwidth);
    PL_ASSERT(top >= 1 && top <= bottom && bottom <= ti.screenheight);
}

// Reads what the terminal has, without waiting.
void take_input(TextState &st)
{
    PlScreen &s = pl_screen();
    if (!s.isreadable())
        return;
    char *room = st.in.alloc(2048);
    if (!room)
        return;
    int n = s.read(room, 2048);
    st.in.unalloc(static_cast<size_t>(2048 - std::max(n, 0)));
}

int whole_key_buffered(const TextState &st) { return st.in.used() && !st.incomplete; }

// Key of an escape sequence by its final byte and number (-1 when none).
int sequence_key(char final, long n)
{
    switch (final) {
    case 'A': return PL_KEY_UP;
    case 'B': return PL_KEY_DOWN;
    case 'C': return PL_KEY_RIGHT;
    case 'D': return PL_KEY_LEFT;
    case '~':
    case '^':
        switch (n) {
        case 1:
        case 7: return PL_KEY_HOME;
        case 2: return PL_KEY_INSERT;
        case 3: return PL_KEY_DELETE;
        case 4:
        case 8: return PL_KEY_END;
        case 5: return final == '~' ? PL_KEY_PGUP : PL_KEY_CTRL_PGUP;
        case 6: return final == '~' ? PL_KEY_PGDN : PL_KEY_CTRL_PGDN;
        default: return PL_KEY_NONE;
        }
    default: return PL_KEY_NONE;
    }
}

void put_text(const std::string &text)
{
    for (char c : text)
        putch(static_cast<unsigned char>(c));
}

}  // namespace

PlScreen &pl_screen()
{
    PlScreen *s = PlScreen::current();
    PL_ASSERT(s);
    return *s;
}

void get_text_info(PlTextInfo *ti) { *ti = state().ti; }

void gotoxy(int x, int y)
{
    PlTextInfo &ti = state().ti;
    int xsize = win_width(ti), ysize = win_height(ti);
    PL_ASSERT(x >= 1 && x <= xsize+1);
    PL_ASSERT(y >= 1 && y <= ysize);
    ti.curx = x;
    ti.cury = y;
    place_cursor(ti);
}

void putch(int c)
{
    PlTextInfo &ti = state().ti;
    int xsize = win_width(ti), ysize = win_height(ti);
    if (c == '\r') {
        ti.curx = 1;
    } else if (c == '\n') {
        if (ti.cury <= ysize)
            ++ti.cury;
    } else if (c == '\t') {
        while ((ti.curx - 1) % 8 != 0)
            putch(' ');
        return;
    } else {
        if (ti.curx > xsize) {
            ti.curx = 1;
            ++ti.cury;
        }
        if (ti.cury > ysize)
            ti.cury = ysize;   // no scrolling: the last row is written over
        PlCell &cell = pl_screen().cell(ti.winleft + ti.curx - 2, ti.wintop + ti.cury - 2);
        cell = PlCell{static_cast<unsigned char>(c), ti.attribute};
        ++ti.curx;
    }
    place_cursor(ti);
}

void print_format(const char *fmt, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    for (const char *p = text; *p; ++p)
        putch(static_cast<unsigned char>(*p));
}

void put_string(const char *text) { print_format("%s", text ? text : ""); }

void clear_window()
{
    PlTextInfo &ti = state().ti;
    fill_rect(ti.winleft, ti.wintop, ti.winright, ti.winbottom, ' ', ti.attribute);
    gotoxy(1, 1);
}

void clear_to_eol()
{
    PlTextInfo &ti = state().ti;
    int y = ti.wintop + std::min(ti.cury, win_height(ti)) - 1;
    int x = ti.winleft + ti.curx - 1;
    if (x <= ti.winright)
        fill_rect(x, y, ti.winright, y, ' ', ti.attribute);
}

void set_window(int left, int top, int right, int bottom)
{
    PlTextInfo &ti = state().ti;
    check_rect(ti, left, top, right, bottom);
    ti.winleft = left;
    ti.wintop = top;
    ti.winright = right;
    ti.winbottom = bottom;
    gotoxy(1, 1);
}

void set_text_color(int colour)
{
    PlTextInfo &ti = state().ti;
    ti.attribute = static_cast<unsigned char>((ti.attribute & 0xF0) | (colour & 0x0F));
}

void set_text_background(int colour)
{
    PlTextInfo &ti = state().ti;
    ti.attribute = static_cast<unsigned char>((ti.attribute & 0x0F) | ((colour << 4) & 0xF0));
}

void set_text_attr(int attr) { state().ti.attribute = static_cast<unsigned char>(attr); }

void set_cursor_visible(int mode) { pl_screen().setcursormode(mode); }

int get_cursor_visible() { return pl_screen().getcursormode(); }

void save_text(int left, int top, int right, int bottom, unsigned char *dest)
{
    check_rect(state().ti, left, top, right, bottom);
    PlScreen &s = pl_screen();
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) {
            const PlCell &c = s.cell(x - 1, y - 1);
            *dest++ = c.ch;
            *dest++ = c.attr;
        }
}

void restore_text(int left, int top, int right, int bottom, const unsigned char *src)
{
    restore_text(left, top, right, bottom, src, right - left + 1);
}

void restore_text(int left, int top, int right, int bottom, const unsigned char *src, int srcwidth)
{
    check_rect(state().ti, left, top, right, bottom);
    PL_ASSERT(srcwidth >= right - left + 1);
    PlScreen &s = pl_screen();
    for (int y = top; y <= bottom; ++y) {
        const unsigned char *p = src + 2 * static_cast<size_t>(srcwidth) * static_cast<size_t>(y - top);
        for (int x = left; x <= right; ++x, p += 2)
            s.cell(x - 1, y - 1) = PlCell{p[0], p[1]};
    }
}

void fill_rect(int left, int top, int right, int bottom, int ch, int attr)
{
    check_rect(state().ti, left, top, right, bottom);
    PlScreen &s = pl_screen();
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x)
            s.cell(x - 1, y - 1) = PlCell{static_cast<unsigned char>(ch), static_cast<unsigned char>(attr)};
}

void fill_attr(int left, int top, int right, int bottom, int attr)
{
    check_rect(state().ti, left, top, right, bottom);
    PlScreen &s = pl_screen();
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x)
            s.cell(x - 1, y - 1).attr = static_cast<unsigned char>(attr);
}

void draw_box(int left, int top, int right, int bottom)
{
    PlTextInfo &ti = state().ti;
    unsigned char a = ti.attribute;
    fill_rect(left, top, right, top, PL_HLINE, a);
    fill_rect(left, bottom, right, bottom, PL_HLINE, a);
    fill_rect(left, top, left, bottom, PL_VLINE, a);
    fill_rect(right, top, right, bottom, PL_VLINE, a);
    // The corners go through the cursor, relative to the (whole-screen) window.
    const struct {
        int x, y;
        unsigned char ch;
    } corners[] = {{left, top, PL_ULCORNER}, {right, top, PL_URCORNER},
                   {right, bottom, PL_LRCORNER}, {left, bottom, PL_LLCORNER}};
    for (const auto &c : corners) {
        gotoxy(c.x - ti.winleft + 1, c.y - ti.wintop + 1);
        putch(c.ch);
    }
}

bool wait_input(int ms)
{
    TextState &st = state();
    PlScreen &s = pl_screen();
    s.refresh();
    if (whole_key_buffered(st))
        return true;
    return s.continue_select(ms) > 0;
}

bool key_pending()
{
    TextState &st = state();
    PlScreen &s = pl_screen();
    s.refresh();
    return whole_key_buffered(st) || s.isreadable();
}

int _getch()
{
    TextState &st = state();
    HqDynBuf &in = st.in;
    if (in.used() == 0 || st.incomplete) {
        size_t before = in.used();
        take_input(st);
        if (st.incomplete && in.used() == before && in.used() + 2048 > in.maximum()) {
            // An endless sequence that fills the whole buffer: drop it as unknown.
            in.clear();
            st.incomplete = false;
            return PL_KEY_NONE;
        }
        st.incomplete = false;
    }
    if (in.used() == 1 && in.peek()[0] == '\033') {
        // A sequence may arrive in two parts: give the rest a moment.
        pl_screen().continue_select(100);
        take_input(st);
    }
    size_t n = in.used();
    if (n == 0)
        return PL_KEY_NONE;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(in.peek());
    if (n == 1 || p[0] != '\033' || (p[1] != '[' && p[1] != 'O')) {
        unsigned char c;
        in.get(&c, 1);
        return c;
    }
    size_t i = 2;
    long number = 0;
    while (i < n && isdigit(p[i])) {
        number = std::min(number * 10 + (p[i] - '0'), 1000000L);
        ++i;
    }
    if (i == n) {
        st.incomplete = true;
        return PL_KEY_NONE;
    }
    char final = static_cast<char>(p[i]);
    in.get(nullptr, i + 1);
    return sequence_key(final, number);
}

int map_key(int key)
{
    if (key == '\n')
        return PL_KEY_ENTER;
    if (key == 127)
        return PL_KEY_BACKSPACE;
    return key;
}

int read_key()
{
    PlScreen &s = pl_screen();
    s.refresh();
    int key = map_key(_getch());
    if (key == PL_KEY_CTRL_L)
        s.refresh(true);
    return key;
}

int wait_key()
{
    TextState &st = state();
    PlScreen &s = pl_screen();
    s.refresh();
    if (!whole_key_buffered(st))
        s.continue_select(-1);
    return read_key();
}

void pad_string(char *buf, int len, char fill)
{
    if (len < 0)
        return;
    int n = static_cast<int>(strnlen(buf, static_cast<size_t>(len)));
    for (; n < len; ++n)
        buf[n] = fill;
    buf[len] = '\0';
}

int edit_line(int width, char *buf, const char *init, const std::function<void(int)> &callback)
{
    PlTextInfo saved;
    get_text_info(&saved);
    const unsigned char a = saved.attribute;
    const int saved_mode = get_cursor_visible();
    std::string text = init ? init : "";
    if (width < 0)
        width = 0;
    if (static_cast<int>(text.size()) > width)
        text.resize(static_cast<size_t>(width));

    // The field: one row from the cursor's screen column, width + 1 cells
    // (the cursor may stand after the last character), kept on the screen.
    int sx = saved.winleft + std::min(saved.curx, win_width(saved)) - 1;
    int sy = saved.wintop + std::min(saved.cury, win_height(saved)) - 1;
    set_window(sx, sy, std::min(sx + width, saved.screenwidth), sy);
    PlTextInfo field;
    get_text_info(&field);
    const int cells = win_width(field);
    clear_window();
    memset(buf, 0, static_cast<size_t>(width));

    auto draw_from = [&](int p) {
        // The text from position p on, and a blank after it for a removed character.
        if (p > cells)
            return;
        gotoxy(p, 1);
        std::string rest = text.substr(static_cast<size_t>(p - 1));
        rest += ' ';
        rest.resize(std::min(rest.size(), static_cast<size_t>(cells - p + 1)));
        put_text(rest);
    };
    auto place = [&](int p) { gotoxy(std::min(p, cells), 1); };

    set_text_attr(((a >> 4) & 0x07) | ((a & 0x07) << 4));
    put_text(text);
    set_text_attr(a);
    set_cursor_visible(1);
    int p = static_cast<int>(text.size()) + 1;
    bool insert = true;
    bool untouched = true;
    place(p);

    int counter = 0;
    int result;
    for (;;) {
        int key;
        do {
            if (callback)
                callback(counter++);
            key = wait_key();
            if (key == 8 || key == 13 || key == 27)
                key = -key;
            else if (key >= 1 && key <= 31)
                key = PL_KEY_NONE;
        } while (key == PL_KEY_NONE && pl_screen().isok());
        if (key == PL_KEY_NONE) {
            result = PL_KEY_NONE;
            break;
        }
        int len = static_cast<int>(text.size());
        if (key > 0) {
            if (untouched) {
                text.clear();
                clear_window();
                p = 1;
                len = 0;
                untouched = false;
            }
            if (insert) {
                if (len < width) {
                    text.insert(static_cast<size_t>(p - 1), 1, static_cast<char>(key));
                    draw_from(p);
                    ++p;
                }
            } else if (p <= width) {
                if (p <= len)
                    text[static_cast<size_t>(p - 1)] = static_cast<char>(key);
                else
                    text += static_cast<char>(key);
                gotoxy(p, 1);
                putch(key);
                ++p;
            }
            place(p);
            continue;
        }
        if (untouched) {
            clear_window();
            put_text(text);
            untouched = false;
        }
        bool done = false;
        switch (key) {
        case PL_KEY_DELETE:
            if (p <= len) {
                text.erase(static_cast<size_t>(p - 1), 1);
                draw_from(p);
            }
            break;
        case PL_KEY_INSERT:
            insert = !insert;
            set_cursor_visible(insert ? 1 : 2);
            break;
        case PL_KEY_END: p = len + 1; break;
        case PL_KEY_RIGHT: p = std::min(p + 1, len + 1); break;
        case PL_KEY_LEFT: p = std::max(p - 1, 1); break;
        case PL_KEY_HOME: p = 1; break;
        case PL_KEY_BACKSPACE:
            if (p > 1) {
                text.erase(static_cast<size_t>(p - 2), 1);
                --p;
                draw_from(p);
            }
            break;
        default: done = true; break;
        }
        if (done) {
            result = key;
            break;
        }
        place(p);
    }
    memcpy(buf, text.data(), text.size());
    buf[text.size()] = '\0';
    set_window(saved.winleft, saved.wintop, saved.winright, saved.winbottom);
    set_text_attr(a);
    set_cursor_visible(saved_mode);
    gotoxy(saved.curx, std::min(saved.cury, win_height(saved)));
    return result;
}
