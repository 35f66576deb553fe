// Overlapping windows on the current screen, and their geometry.
//
//   PlWin bar(PlRect(1, 1, 80, 1));   // saves nothing yet; invisible
//   bar.show();                       // keeps what was under it; takes the text state
//   put_string("hello");              // inside the window
//   bar.unfocus();                    // text state back to the outside one
//   bar.hide();                       // the screen under it comes back
//
// A window with the focus owns the text layer's window, attribute and
// cursor (conio.h); focus()/unfocus() swap them with the outside state.
// While it is hidden, its own picture is kept and shown again by show().
// Coordinates are 1-based screen positions; every point and rectangle is
// clamped to the screen when it is built.
#pragma once

#include "conio.h"
#include "plcells.h"

struct PlPoint {
    // Clamped to 1..screen width and 1..screen height.
    PlPoint(int x, int y);
    int x, y;
};

struct PlRect {
    // From two corners in any order. A rectangle sticking out at the right
    // or bottom moves in and keeps its size; then the top left is clamped to 1.
    PlRect(int x1, int y1, int x2, int y2);
    // A size centred on the screen.
    static PlRect centred(int width, int height);
    // A size centred in `outer`.
    static PlRect centred(const PlRect &outer, int width, int height);
    // Moved by origin - 1 (coordinates relative to `origin` made absolute).
    PlRect translated(const PlPoint &origin) const;
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
    int left, top, right, bottom;
};

class PlWin {
public:
    explicit PlWin(const PlRect &rect);
    // Hides the window.
    virtual ~PlWin();
    PlWin(const PlWin &) = delete;
    PlWin &operator=(const PlWin &) = delete;

    virtual void draw();
    // Moves the top left to `to`, keeping the size, and shows it again if it
    // was visible. Its own text window moves with it.
    virtual void move(const PlPoint &to);

    void show();
    void hide();
    void focus();
    void unfocus();
    bool isvisible() const { return visible; }
    bool isdrawn() const { return drawn; }
    const PlRect &getrect() const { return rect; }

protected:
    bool visible = false;
    bool drawn = false;
    bool hasfocus = false;   // takes over the text state while visible
    PlRect rect;

private:
    void grab(PlCells &dest) const;
    void put(const PlCells &src) const;
    void take_outside();
    void give_back_outside();

    bool focused_ = false;   // the text state is currently the window's own
    PlTextInfo outside_;
    PlTextInfo own_;
    PlCells background_;
    PlCells contents_;
};
