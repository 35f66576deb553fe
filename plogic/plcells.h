// Character cells and cell arrays of the console screen.
//
//   PlCells buf(80, 24);            // cells not initialised
//   buf.clear();                    // character 0 on attribute 0 everywhere
//   buf.cell(5, 2) = PlCell{'A', 0x1F};
//   copy.copyblock(0, 0, 9, 3, buf, 5, 2);   // 10 x 4 cells from (5, 2)
//
// An attribute: bits 0-3 foreground (bit 3 bright), bits 4-6 background,
// bit 7 blink, in PC colours (0 black, 1 blue, 2 green, 3 cyan, 4 red,
// 5 magenta, 6 brown, 7 grey). A character of 128 or more is one of the DEC
// special graphics set (code - 128 is the byte sent in that set); below 32
// shows as a blank. Coordinates count from 0; any outside the array end the
// program (plassert.h).
#pragma once

#include <cstddef>
#include <vector>

struct PlCell {
    unsigned char ch;
    unsigned char attr;
};

// Line-drawing and fill characters of the graphics set.
enum : unsigned char {
    PL_DIAMOND = 224,
    PL_CHECKERBOARD = 225,
    PL_LRCORNER = 234,
    PL_URCORNER = 235,
    PL_ULCORNER = 236,
    PL_LLCORNER = 237,
    PL_HLINE = 241,
    PL_VLINE = 248,
};

class PlCells {
public:
    PlCells(int xsize, int ysize);

    int getxsize() const { return xsize; }
    int getysize() const { return ysize; }
    PlCell *row(int y);
    const PlCell *row(int y) const;
    PlCell &cell(int x, int y);
    const PlCell &cell(int x, int y) const;
    // Copies ex - sx + 1 cells from `src` into row y from column sx.
    void copyrow(int sx, int y, int ex, const PlCell *src);
    // The rectangle sx..ex, sy..ey (inclusive) from `src`, whose matching
    // cells start at column srcx of row srcy.
    void copyblock(int sx, int sy, int ex, int ey, const PlCells &src, int srcx, int srcy);
    void clear();
    bool operator==(const PlCells &other) const;
    bool operator!=(const PlCells &other) const { return !(*this == other); }

private:
    int xsize;
    int ysize;
    std::vector<PlCell> cells;
};
