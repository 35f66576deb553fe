#include "plcells.h"

#include <cstring>

#include "plassert.h"

PlCells::PlCells(int xs, int ys) : xsize(xs > 0 ? xs : 0), ysize(ys > 0 ? ys : 0)
{
    cells.resize(static_cast<size_t>(xsize) * static_cast<size_t>(ysize));
}

PlCell *PlCells::row(int y)
{
    PL_ASSERT(y >= 0 && y < ysize);
    return cells.data() + static_cast<size_t>(y) * static_cast<size_t>(xsize);
}

const PlCell *PlCells::row(int y) const { return const_cast<PlCells *>(this)->row(y); }

PlCell &PlCells::cell(int x, int y)
{
    PL_ASSERT(x >= 0 && x < xsize);
    return row(y)[x];
}

const PlCell &PlCells::cell(int x, int y) const { return const_cast<PlCells *>(this)->cell(x, y); }

void PlCells::copyrow(int sx, int y, int ex, const PlCell *src)
{
    PL_ASSERT(sx >= 0 && sx <= ex);
    PL_ASSERT(sx < xsize && ex < xsize);
    memmove(row(y) + sx, src, static_cast<size_t>(ex - sx + 1) * sizeof(PlCell));
}

void PlCells::copyblock(int sx, int sy, int ex, int ey, const PlCells &src, int srcx, int srcy)
{
    PL_ASSERT(sy >= 0 && sy <= ey);
    PL_ASSERT(sy < ysize && ey < ysize);
    // The source rectangle must lie inside the source array too.
    PL_ASSERT(srcx >= 0 && srcx + (ex - sx) < src.xsize);
    PL_ASSERT(srcy >= 0 && srcy + (ey - sy) < src.ysize);
    for (int y = sy; y <= ey; ++y)
        copyrow(sx, y, ex, src.row(srcy + y - sy) + srcx);
}

void PlCells::clear()
{
    if (!cells.empty())
        memset(cells.data(), 0, cells.size() * sizeof(PlCell));
}

bool PlCells::operator==(const PlCells &other) const
{
    return xsize == other.xsize && ysize == other.ysize &&
           (cells.empty() || memcmp(cells.data(), other.cells.data(), cells.size() * sizeof(PlCell)) == 0);
}
