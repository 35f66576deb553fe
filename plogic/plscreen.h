// The terminal screen: a back buffer that the program draws into and a
// front buffer that mirrors the terminal; refresh() sends only the cells
// that differ, as ANSI/VT100 output with the DEC special graphics set for
// line drawing. The terminal is in raw mode while the screen lives.
//
//   PlScreen screen;                          // "/dev/tty" (or "/dev/ttyz") and standard output
//   screen.cell(0, 0) = PlCell{'A', 0x1F};    // bright white on blue
//   screen.gotoxy(1, 0);
//   screen.refresh();                         // sends what changed, in one write
//   if (screen.select(-1) > 0) ...            // the screen is a stream: terminal input
//
// Tests and other terminals pass their own streams (owned by the screen) or
// descriptors (not owned). The size is the terminal's at construction, 80 x 24
// when it reports none. The most recently built screen that still lives is
// current() (the text layer draws on it); a failed check (plassert.h)
// restores the terminal of every living screen before the program ends.
#pragma once

#include <termios.h>

#include <memory>

#include "hqstream.h"
#include "plcells.h"

class PlScreen : public HqStreamClone {
public:
    // Input from "/dev/tty", or "/dev/ttyz" when that is not readable; output
    // on a duplicate of descriptor 1. Not ok when no terminal can be opened.
    PlScreen();
    // Both streams are required and owned.
    PlScreen(HqStream *ttyin, HqStream *ttyout);
    // Streams over the caller's descriptors, which stay open afterwards.
    PlScreen(int rfd, int wfd);
    ~PlScreen() override;

    static PlScreen *current();
    // Distinguishes this screen from every other built in the process.
    unsigned getserial() const { return serial_; }

    int getxsize() const { return back_.getxsize(); }
    int getysize() const { return back_.getysize(); }
    // The back buffer, which the window layer copies rectangles out of and into.
    PlCells &getcells() { return back_; }
    PlCell &cell(int x, int y);
    // Where the terminal cursor goes at the next refresh.
    void gotoxy(int x, int y);
    int getcurx() const { return curx_; }
    int getcury() const { return cury_; }
    // 0 hides the cursor, any other value shows it.
    void setcursormode(int mode) { cursormode_ = mode; }
    int getcursormode() const { return cursormode_; }
    // The text from (x, y) on; it must end before the last column.
    void print(int x, int y, const char *s, unsigned char attr);
    // Columns left..right - 1 of rows top..bottom - 1.
    void fill(int left, int top, int right, int bottom, unsigned char ch, unsigned char attr);

    // Sends the differences; `force` clears the terminal and sends everything.
    void refresh(bool force = false);
    // Grey on black, cursor shown, the terminal settings found at start.
    void restore();

private:
    void init(HqStream *ttyin, HqStream *ttyout);
    void emergency_restore();
    static void restore_all();
    static void put_move(std::string &out, int x, int y);
    static void put_attr(std::string &out, unsigned char attr);
    void send(const std::string &bytes);

    std::unique_ptr<HqStream> out_;
    PlCells back_{0, 0};
    PlCells front_{0, 0};
    int cursormode_ = 1;
    int curx_ = 0, cury_ = 0;
    int lastx_ = -1, lasty_ = -1;
    bool repaint_ = true;
    unsigned serial_ = 0;
    int ttyfd_ = -1;
    bool saved_ = false;
    struct termios saved_tio_;
};
