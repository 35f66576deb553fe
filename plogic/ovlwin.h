// A bordered window with a title on its top border and a shadow.
//
//   OvlWin box("New IP Address", 40, 5, 14, 3, 15, 0);   // centred, yellow on cyan, white border
//   box.show();                  // opens with a short animation the first time
//   put_string(" Enter a new primary IP address\r\n");   // inside the border
//
// The window's rectangle is the box plus 2 columns to the right and 1 row
// below, room for the shadow, which darkens the cells there but keeps their
// characters.
#pragma once

#include "hqstring.h"
#include "win.h"

class OvlWin : public PlWin {
public:
    OvlWin(const char *title, const PlRect &box, int textcolor, int bgcolor, int bordercolor, int noshadow);
    // The box of that size centred on the screen.
    OvlWin(const char *title, int cols, int rows, int textcolor, int bgcolor, int bordercolor, int noshadow);

    void draw() override;

    // The box without the room for the shadow.
    PlRect getbox() const;
    void settextcolor(int colour);
    void setbgcolor(int colour);
    void setbordercolor(int colour) { bordercolor = colour; }
    // Text colour from the low four bits, background from bits 4-6.
    void setattr(int attr);

    // The first drawing of every box opens it in a few frames.
    static bool animate;

protected:
    int textcolor;
    int bgcolor;
    int bordercolor;
    bool shadow;
    HqString title;
};
