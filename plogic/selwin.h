// A scrolling list in a box, with optional hot keys.
//
//   SelectionWin menu("Main Menu", PlRect(43, 8, 69, 19), 0);
//   menu.append("VIEW: _Startup Messages");   // "_" marks the hot key 'S'
//   menu.sethotkeys(true);
//   menu.show();
//   int chosen = menu.handlekey(0);           // reads a key; arrows, PgUp/PgDn, Home/End, hot keys
//
// When the last item is the current one (and is not the first), appending
// makes the new item current, so the list follows new lines. A scroll mark
// on the right border shows when there are more items than rows.
#pragma once

#include <vector>

#include "hqstring.h"
#include "ovlwin.h"

// The colours of every selection list, as attribute colour numbers.
struct PlListColours {
    unsigned char border = 15;
    unsigned char text = 0;
    unsigned char background = 2;
    unsigned char selected_text = 15;
    unsigned char selected_background = 4;
    unsigned char hotkey_text = 14;   // the letter after "_"
    unsigned char hotkey_background = 4;
};

class SelectionWin : public OvlWin {
public:
    SelectionWin(const char *title, const PlRect &box, int noshadow);
    SelectionWin(const char *title, int cols, int rows, int noshadow);

    void append(const char *text);
    void appendf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    HqString choicestr(int which) const;
    int count() const { return static_cast<int>(sels.size()); }
    int current() const { return cur; }
    int gettop() const { return top; }
    int lastkey() const { return lastkey_; }
    void sethotkeys(bool on) { hotkeys = on; }
    // Makes `index` current (clamped to the list) and scrolls it into view.
    void select(int index);
    // Moves by `key` (0: reads one with wait_key()); the current index.
    int handlekey(int key);
    void draw() override;

    // The colours of all lists; a new list takes them when it is built, and
    // every list draws its items with them.
    static const PlListColours &colours() { return colortable; }
    static void setcolours(const PlListColours &colours) { colortable = colours; }

    // Pseudo keys that select the first and the last item.
    enum { KEY_FIRST = -998, KEY_LAST = -997 };

private:
    static PlListColours colortable;
    std::vector<HqString> sels;
    int cur = 0;
    int top = 0;
    int lastkey_ = 0;
    bool hotkeys = false;
};
