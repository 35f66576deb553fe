// The screen frame: a checkerboard background with a bar on the top and the
// bottom row, each with a left and a right text.
//
//   PlFrame frame(screen);
//   frame.settopleftf("CALIDOR Version %s", "4.1 #18");
//   frame.setbottomleft("[ENTER] Select   [ESC] Go Back");
//
// A text too long for its bar is cut; the right text keeps its length as
// long as it fits. Destroying the frame shows the cursor again and puts back
// what was under the bars.
#pragma once

#include <memory>

#include "hqstring.h"
#include "plscreen.h"
#include "win.h"

class PlFrame {
public:
    explicit PlFrame(PlScreen &screen);
    ~PlFrame();
    PlFrame(const PlFrame &) = delete;
    PlFrame &operator=(const PlFrame &) = delete;

    void settopleft(const char *text);
    void settopleftf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    void settopright(const char *text);
    void settoprightf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    void setbottomleft(const char *text);
    void setbottomleftf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    void setbottomright(const char *text);
    void setbottomrightf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));

private:
    void redrawtop();
    void redrawbottom();
    void drawbar(PlWin &bar, const HqString &left, const HqString &right);

    PlScreen &screen;
    std::unique_ptr<PlWin> topbar;
    std::unique_ptr<PlWin> bottombar;
    HqString topleft, topright, bottomleft, bottomright;
};
