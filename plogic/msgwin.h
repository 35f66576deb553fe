// A centred message box that waits for one key of a set.
//
//   MsgWin ask("Really reboot? (y/n)", "Reboot");
//   int key = ask.wait("yn\33");       // 'y', 'n' or 27; 0 when the terminal failed
//   // destroying the box restores the screen under it
//
// The text is split into lines at CR and LF; a run of them is one break,
// so a blank line is written as a line holding one blank.
#pragma once

#include "hqstring.h"
#include "ovlwin.h"

class MsgWin : public OvlWin {
public:
    MsgWin(const char *text, const char *title);

    void draw() override;
    // Shows the box and reads keys until one (lower-cased when 1-255) is in `keys`.
    int wait(const char *keys);

private:
    HqStringList lines;
};
