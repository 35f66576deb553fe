// The console text layer over the current PlScreen: a text window with its
// own cursor and attribute, character output, boxes, saved rectangles, key
// input decoded into PC-style key codes, and a one-line editor.
//
//   set_window(10, 5, 40, 12);          // screen columns 10-40, rows 5-12 (1-based)
//   set_text_attr(0x1F);
//   clear_window();
//   print_format(" %s\r\n", "Hello");    // CR, LF, TAB and wrapping as on a PC console
//   int key = wait_key();               // 'a', 13 (ENTER), 27 (ESC), PL_KEY_UP, ...
//   char ip[20];
//   if (edit_line(19, ip, "10.0.0.1") == PL_KEY_ENTER_EDIT) ...
//
// Window coordinates are 1-based and relative to the window; rectangle
// operations take 1-based inclusive screen coordinates. The text state and
// the input buffer belong to the current screen and start afresh when a new
// screen is built. A cursor or rectangle outside the screen ends the program
// (plassert.h).
#pragma once

#include <functional>

#include "plscreen.h"

// Key codes that read_key() and wait_key() return besides plain bytes.
enum PlKey {
    PL_KEY_NONE = -1,      // no key waiting, or an unknown sequence
    PL_KEY_ENTER = 13,
    PL_KEY_ESC = 27,
    PL_KEY_CTRL_L = 12,    // after it has forced a full repaint
    PL_KEY_BACKSPACE = -8,
    PL_KEY_HOME = -71,
    PL_KEY_UP = -72,
    PL_KEY_PGUP = -73,
    PL_KEY_LEFT = -75,
    PL_KEY_RIGHT = -77,
    PL_KEY_END = -79,
    PL_KEY_DOWN = -80,
    PL_KEY_PGDN = -81,
    PL_KEY_INSERT = -82,
    PL_KEY_DELETE = -83,
    PL_KEY_CTRL_PGDN = -118,
    PL_KEY_CTRL_PGUP = -132,
    // What edit_line() returns for ENTER and ESC.
    PL_KEY_ENTER_EDIT = -13,
    PL_KEY_ESC_EDIT = -27,
};

struct PlTextInfo {
    int screenwidth, screenheight;
    int winleft, wintop, winright, winbottom;   // 1-based screen coordinates, inclusive
    int curx, cury;                             // 1-based, relative to the window
    unsigned char attribute;
};

// The current screen; there must be one.
PlScreen &pl_screen();

void get_text_info(PlTextInfo *ti);
void gotoxy(int x, int y);
void putch(int c);
// At most 1023 characters are put.
void print_format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void put_string(const char *text);
void clear_window();
void clear_to_eol();
void set_window(int left, int top, int right, int bottom);
void set_text_color(int colour);
void set_text_background(int colour);
void set_text_attr(int attr);
void set_cursor_visible(int mode);
int get_cursor_visible();

// Character and attribute byte pairs, row after row; `dest` holds
// 2 * width * height bytes.
void save_text(int left, int top, int right, int bottom, unsigned char *dest);
void restore_text(int left, int top, int right, int bottom, const unsigned char *src);
// `srcwidth`: cells per row of the source.
void restore_text(int left, int top, int right, int bottom, const unsigned char *src, int srcwidth);
void fill_rect(int left, int top, int right, int bottom, int ch, int attr);
void fill_attr(int left, int top, int right, int bottom, int attr);
// Line-drawing box in the current attribute; the text window must be the
// whole screen.
void draw_box(int left, int top, int right, int bottom);

// Refreshes and waits at most `ms` for terminal input; whether there is some.
bool wait_input(int ms);
// Refreshes; whether a key can be read at once.
bool key_pending();
// One key from the input, unmapped; -1 when none.
int _getch();
// LF to 13, DEL to PL_KEY_BACKSPACE.
int map_key(int key);
int read_key();
// Waits without time limit (servicing the global stream list) for a key.
int wait_key();

// Fills `buf` with `fill` up to `len` characters, or cuts it there.
void pad_string(char *buf, int len, char fill);
// Edits one line of at most `width` characters at the cursor, `buf` holding
// width + 1 bytes (`init` may be `buf` itself). The callback, when given, is
// called with a growing counter before each key is read. Returns the key
// that ended the editing: PL_KEY_ENTER_EDIT, PL_KEY_ESC_EDIT, -1 when the
// terminal failed, or a movement key (Up, Down, PgUp, PgDn and variants).
int edit_line(int width, char *buf, const char *init, const std::function<void(int)> &callback = nullptr);
