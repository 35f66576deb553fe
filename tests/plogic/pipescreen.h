// Test support: a PlScreen over two pipes, and a small VT100 model that
// turns the screen's output back into cells, as a terminal would show them.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "plscreen.h"

// What a VT100 shows: characters (128 + c for the graphics set) and PC
// attributes, decoded from the escape sequences the screen sends.
class TermModel {
public:
    TermModel(int w, int h) : w_(w), h_(h), cells_(static_cast<size_t>(w * h), PlCell{' ', 0}) {}

    void feed(const std::string &bytes)
    {
        for (size_t i = 0; i < bytes.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(bytes[i]);
            if (c == 016) {
                shifted_ = true;
            } else if (c == 017) {
                shifted_ = false;
            } else if (c == 033) {
                i = escape(bytes, i);
            } else if (c == '\n') {
                y_ = y_ + 1 < h_ ? y_ + 1 : y_;
            } else if (c == '\r') {
                x_ = 0;
            } else {
                if (x_ < w_ && y_ < h_)
                    cells_[static_cast<size_t>(y_ * w_ + x_)] =
                        PlCell{static_cast<unsigned char>(shifted_ && g1_graphics_ ? c | 0x80 : c), attr_};
                if (x_ < w_)
                    ++x_;
            }
        }
    }
    const PlCell &at(int x, int y) const { return cells_[static_cast<size_t>(y * w_ + x)]; }
    std::string row(int y) const
    {
        std::string s;
        for (int x = 0; x < w_; ++x)
            s += static_cast<char>(at(x, y).ch);
        return s;
    }
    int curx() const { return x_; }
    int cury() const { return y_; }
    bool cursor_shown() const { return cursor_; }
    // Where a character first appears, row by row; -1, -1 when nowhere.
    std::pair<int, int> find(unsigned char ch) const
    {
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x)
                if (at(x, y).ch == ch)
                    return {x, y};
        return {-1, -1};
    }

private:
    size_t escape(const std::string &b, size_t i)
    {
        if (i + 1 >= b.size())
            return i;
        char k = b[i + 1];
        if (k == ')' || k == '(') {
            if (k == ')' && i + 2 < b.size())
                g1_graphics_ = b[i + 2] == '0';
            return i + 2;
        }
        if (k != '[')
            return i + 1;
        size_t j = i + 2;
        std::string params;
        while (j < b.size() && (isdigit(static_cast<unsigned char>(b[j])) || b[j] == ';' || b[j] == '?'))
            params += b[j++];
        char final = j < b.size() ? b[j] : 0;
        std::vector<int> n;
        size_t p = 0;
        std::string digits = params[0] == '?' ? params.substr(1) : params;
        while (p <= digits.size()) {
            size_t q = digits.find(';', p);
            if (q == std::string::npos)
                q = digits.size();
            n.push_back(q > p ? std::stoi(digits.substr(p, q - p)) : 0);
            p = q + 1;
        }
        if (final == 'J' && n[0] == 2) {
            for (auto &c : cells_)
                c = PlCell{' ', 0};
        } else if (final == 'H') {
            y_ = std::min(std::max(n[0], 1), h_) - 1;
            x_ = std::min(std::max(n.size() > 1 ? n[1] : 1, 1), w_) - 1;
        } else if (final == 'm') {
            // "0;3f;4b[;5][;1]" back to a PC attribute.
            static const int pc[8] = {0, 3, 2, 6, 1, 5, 4, 7};
            int a = 0;
            for (int v : n) {
                if (v >= 30 && v <= 37)
                    a |= pc[v - 30];
                else if (v >= 40 && v <= 47)
                    a |= pc[v - 40] << 4;
                else if (v == 5)
                    a |= 0x80;
                else if (v == 1)
                    a |= 0x08;
            }
            attr_ = static_cast<unsigned char>(a);
        } else if (final == 'l' && params == "?25") {
            cursor_ = false;
        } else if (final == 'h' && params == "?25") {
            cursor_ = true;
        }
        return j;
    }

    int w_, h_;
    std::vector<PlCell> cells_;
    int x_ = 0, y_ = 0;
    unsigned char attr_ = 0;
    bool shifted_ = false, g1_graphics_ = false, cursor_ = true;
};

// A screen whose terminal is two pipes: keys go in through send_keys(),
// output comes back through take_output().
class PipeScreen {
public:
    PipeScreen()
    {
        if (pipe2(keys_, O_CLOEXEC) != 0 || pipe2(out_, O_CLOEXEC) != 0)
            abort();
        fcntl(out_[1], F_SETPIPE_SZ, 1 << 20);
        fcntl(out_[0], F_SETFL, O_NONBLOCK);
        screen.reset(new PlScreen(keys_[0], out_[1]));
    }
    ~PipeScreen()
    {
        screen.reset();
        for (int fd : {keys_[0], keys_[1], out_[0], out_[1]})
            if (fd >= 0)
                close(fd);
    }
    void send_keys(const std::string &keys)
    {
        if (write(keys_[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
            abort();
    }
    // The terminal hangs up: input ends.
    void hang_up()
    {
        close(keys_[1]);
        keys_[1] = -1;
    }
    // Everything the screen has written since the last call.
    std::string take_output()
    {
        std::string all;
        char buf[65536];
        ssize_t n;
        while ((n = read(out_[0], buf, sizeof buf)) > 0)
            all.append(buf, static_cast<size_t>(n));
        return all;
    }
    std::unique_ptr<PlScreen> screen;

private:
    int keys_[2];
    int out_[2];
};

// The characters of screen row y (1-based) from column l to r; "." for 0.
inline std::string screen_text(int l, int r, int y)
{
    std::string s;
    for (int x = l; x <= r; ++x) {
        unsigned char c = PlScreen::current()->cell(x - 1, y - 1).ch;
        s += static_cast<char>(c ? c : '.');
    }
    return s;
}

// The closing bytes of every refresh that sent cells.
inline const std::string &refresh_end_bytes()
{
    static const std::string end = "\017\033)B\033(B";
    return end;
}
