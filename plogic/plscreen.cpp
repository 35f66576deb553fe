#include "plscreen.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "plassert.h"

namespace {

std::vector<PlScreen *> &living()
{
    static std::vector<PlScreen *> *screens = new std::vector<PlScreen *>;
    return *screens;
}

// PC colour number to ANSI colour number. PC 3 (cyan) goes out as ANSI 1 and
// PC 4 (red) as ANSI 6, as the appliance's terminals have always shown them.
const int ansi_colour[8] = {0, 4, 2, 1, 6, 5, 3, 7};

const char SO = '\016';
const char SI = '\017';
const char refresh_start[] = "\017\033)0";
const char refresh_end[] = "\017\033)B\033(B";
const char cursor_hide[] = "\033[?25l";
const char cursor_show[] = "\033[?25h";

}  // namespace

PlScreen::PlScreen()
{
    const char *tty = access("/dev/tty", R_OK) == 0 ? "/dev/tty" : "/dev/ttyz";
    init(new HqFile(tty, O_RDONLY, 0666), new HqFdStream(dup(1)));
}

PlScreen::PlScreen(HqStream *ttyin, HqStream *ttyout) { init(ttyin, ttyout); }

PlScreen::PlScreen(int rfd, int wfd) { init(new HqFdStream(rfd, false), new HqFdStream(wfd, false)); }

void PlScreen::init(HqStream *ttyin, HqStream *ttyout)
{
    PL_ASSERT(ttyin);
    PL_ASSERT(ttyout);
    setclone(ttyin);
    out_.reset(ttyout);
    ttyfd_ = ttyin->getfd() >= 0 ? ttyin->getfd() : ttyout->getfd();

    int cols = 0, rows = 0;
    struct winsize ws;
    if (ttyfd_ >= 0 && ioctl(ttyfd_, TIOCGWINSZ, &ws) == 0) {
        cols = ws.ws_col;
        rows = ws.ws_row;
    }
    if (cols == 0 || rows == 0) {
        cols = 80;
        rows = 24;
    }
    back_ = PlCells(cols, rows);
    front_ = PlCells(cols, rows);
    back_.clear();
    front_.clear();

    if (ttyfd_ >= 0 && tcgetattr(ttyfd_, &saved_tio_) == 0) {
        saved_ = true;
        struct termios raw = saved_tio_;
        cfmakeraw(&raw);
        tcsetattr(ttyfd_, TCSANOW, &raw);
    }
    static unsigned serials = 0;
    serial_ = ++serials;
    living().push_back(this);
    pl_set_failure_hook(&PlScreen::restore_all);
}

PlScreen::~PlScreen()
{
    refresh();
    std::string bytes;
    put_move(bytes, 2, getysize() + 1);   // the terminal keeps it on its last row
    send(bytes);
    restore();
    send("\n");
    out_->flush(-1);
    auto &screens = living();
    screens.erase(std::remove(screens.begin(), screens.end(), this), screens.end());
    if (screens.empty())
        pl_set_failure_hook(nullptr);
    setclone(nullptr);
    out_.reset();
}

PlScreen *PlScreen::current()
{
    auto &screens = living();
    return screens.empty() ? nullptr : screens.back();
}

PlCell &PlScreen::cell(int x, int y)
{
    PL_ASSERT(x >= 0 && y >= 0);
    PL_ASSERT(x < getxsize() && y < getysize());
    return back_.cell(x, y);
}

void PlScreen::gotoxy(int x, int y)
{
    PL_ASSERT(x >= 0 && y >= 0);
    PL_ASSERT(x < getxsize() && y < getysize());
    curx_ = x;
    cury_ = y;
}

void PlScreen::print(int x, int y, const char *s, unsigned char attr)
{
    PL_ASSERT(s);
    PL_ASSERT(x+(int)strlen(s) < getxsize());
    for (; *s; ++s, ++x)
        cell(x, y) = PlCell{static_cast<unsigned char>(*s), attr};
}

void PlScreen::fill(int left, int top, int right, int bottom, unsigned char ch, unsigned char attr)
{
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            cell(x, y) = PlCell{ch, attr};
}

void PlScreen::put_move(std::string &out, int x, int y)
{
    out += "\033[" + std::to_string(y + 1) + ";" + std::to_string(x + 1) + "H";
}

void PlScreen::put_attr(std::string &out, unsigned char attr)
{
    out += "\033[0;3" + std::to_string(ansi_colour[attr & 7]) + ";4" + std::to_string(ansi_colour[(attr >> 4) & 7]);
    if (attr & 0x80)
        out += ";5";
    if (attr & 0x08)
        out += ";1";
    out += "m";
}

void PlScreen::send(const std::string &bytes)
{
    if (!bytes.empty())
        out_->write(bytes.data(), static_cast<unsigned>(bytes.size()));
}

void PlScreen::refresh(bool force)
{
    out_->delay_output();
    std::string out;
    if (force || repaint_) {
        out += "\033[2J";
        front_.clear();
        repaint_ = false;
    }
    if (back_ == front_) {
        if (curx_ != lastx_ || cury_ != lasty_) {
            put_move(out, curx_, cury_);
            lastx_ = curx_;
            lasty_ = cury_;
        }
        send(out);
        out_->flush(-1);
        return;
    }

    unsigned char attr = 0;
    put_attr(out, attr);
    out += refresh_start;
    out += cursor_hide;
    bool graphics = false;
    int tx = lastx_, ty = lasty_;   // where the terminal cursor is known to be
    for (int y = 0; y < getysize(); ++y) {
        const PlCell *b = back_.row(y);
        const PlCell *f = front_.row(y);
        for (int x = 0; x < getxsize(); ++x) {
            if (b[x].ch == f[x].ch && b[x].attr == f[x].attr)
                continue;
            if (tx != x || ty != y)
                put_move(out, x, y);
            if (b[x].attr != attr) {
                attr = b[x].attr;
                put_attr(out, attr);
            }
            unsigned char ch = b[x].ch < 32 ? ' ' : b[x].ch;
            if (((ch & 0x80) != 0) != graphics) {
                graphics = !graphics;
                out += graphics ? SO : SI;
            }
            out += static_cast<char>(ch & 0x7f);
            tx = x + 1;
            ty = y;
        }
    }
    put_move(out, curx_, cury_);
    lastx_ = curx_;
    lasty_ = cury_;
    out += cursormode_ ? cursor_show : cursor_hide;
    out += refresh_end;
    send(out);
    out_->flush(-1);
    front_ = back_;
}

void PlScreen::restore()
{
    std::string out;
    put_attr(out, 7);
    out += cursor_show;
    send(out);
    out_->flush(-1);
    if (saved_)
        tcsetattr(ttyfd_, TCSADRAIN, &saved_tio_);
}

void PlScreen::emergency_restore()
{
    // Straight to the descriptor: the stream's state may be what failed.
    std::string out = refresh_end;
    put_move(out, 2, getysize() + 1);
    put_attr(out, 7);
    out += cursor_show;
    out += "\r\n";
    int fd = out_ ? out_->getfd() : -1;
    for (size_t done = 0; fd >= 0 && done < out.size();) {
        ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (saved_)
        tcsetattr(ttyfd_, TCSANOW, &saved_tio_);
}

void PlScreen::restore_all()
{
    for (PlScreen *s : living())
        s->emergency_restore();
}
