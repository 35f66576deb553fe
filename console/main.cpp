// textconsole: the recovery console on the appliance's terminal. It shows
// the server's status and settings and offers the maintenance menu.
#include <signal.h>
#include <time.h>

#include <csignal>
#include <ctime>
#include <memory>

#include "actions.h"
#include "hqlog.h"
#include "hqstreamlist.h"
#include "infowin.h"
#include "menu.h"
#include "msgwin.h"
#include "plframe.h"
#include "selwin.h"
#include "uptime.h"

#ifndef TEXTCONSOLE_VERSION
#define TEXTCONSOLE_VERSION "4.1 #18"
#endif

namespace {

// Lives across main: built before it, destroyed after it.
PlScreen screen;

volatile sig_atomic_t quit_flag = 0;

void quit_signal_handler(int sig)
{
    quit_flag = 1;
    signal(sig, SIG_DFL);   // a second signal ends the process
}

// Sleeps, ending early only when a signal asks the program to quit.
void pause_ms(long ms)
{
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && !quit_flag) {
    }
}

void discard_input()
{
    while (key_pending())
        read_key();
}

const char *const config_moniker = "cache:subtree:unix:/tmp/ravelod cfg";

const char *const startup_note =
    "NOTE: This text-mode interface is needed mainly for\n"
    "emergency recovery purposes.\n \n"
    "To set up your server, you should:\n \n"
    "  1. Find or set the server IP address here.\n \n"
    "  2. Visit the Web-based configuration interface,\n"
    "     Cordane, by pointing your web browser at\n"
    "     the Cordane URL shown in the Settings window.  \n \n"
    "             Press ENTER to continue...";

// Whole screen grey on black, cleared, the terminal in its saved mode.
void restore_screen()
{
    PlTextInfo ti;
    get_text_info(&ti);
    set_window(1, 1, ti.screenwidth, ti.screenheight);
    set_text_attr(7);
    clear_window();
    pl_screen().refresh();
    pl_screen().restore();
}

// Mounts the configuration when nothing serves it, at most every 6 s.
void keep_mounted(Ravelo &root, time_t &last_attempt)
{
    time_t now = time(nullptr);
    RaveloGen *gen = root.whichmount(RaveloKey());
    if ((gen && gen->isok()) || now - last_attempt <= 5)
        return;
    last_attempt = now;
    MsgWin wait("Reading Configuration...", "Please Wait");
    wait.show();
    pl_screen().refresh();
    if (gen)
        root.unmount(gen, false);
    root.mount(config_moniker, true);
    pause_ms(500);
}

void show_startup_note()
{
    MsgWin note(startup_note, "Use Cordane Instead");
    note.show();
    pl_screen().refresh();
    pause_ms(500);
    discard_input();
    while (!quit_flag && screen.isok() && !key_pending())
        screen.select(-1);
    discard_input();
}

}  // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);
    signal(SIGINT, quit_signal_handler);
    signal(SIGTERM, quit_signal_handler);
    auto logconsole = std::make_unique<HqLogConsole>(2, 0);
    auto root = std::make_unique<RaveloRoot>();
    // Item text grey on blue, the selected item black on red, hot-key letters white on blue.
    PlListColours list = SelectionWin::colours();
    list.text = 7;
    list.background = 1;
    list.selected_text = 0;
    list.selected_background = 4;
    list.hotkey_text = 15;
    list.hotkey_background = 1;
    SelectionWin::setcolours(list);

    int sleep_seconds = 0;
    if (screen.isok()) {
        auto frame = std::make_unique<PlFrame>(screen);
        frame->settopleftf("CALIDOR Version %s", TEXTCONSOLE_VERSION);
        frame->setbottomleft("[ENTER] Select   [ESC] Go Back");
        set_console_frame(frame.get());

        auto timer = std::make_unique<HqStream>();
        timer->setcallback(update_uptime, frame.get());
        timer->alarm(1);
        globallist().append(timer.get());

        // A 72 x 22 area in the middle; boxes in columns and rows from its top left.
        const int w = screen.getxsize(), h = screen.getysize();
        PlRect area(1 + (w - 72) / 2, 1 + (h - 22) / 2, (w - 72) / 2 + 72, (h - 22) / 2 + 22);
        auto box = [&](int l, int t, int r, int b) {
            return PlRect(area.left + l - 1, area.top + t - 1, area.left + r - 1, area.top + b - 1);
        };
        const int right = area.width() - 3, left = area.width() - 29;
        auto status = std::make_unique<OvlWin>("Status", box(left, 3, right, 6), 15, 1, 7, 0);
        auto settings = std::make_unique<OvlWin>("Settings", box(2, 3, 36, 19), 7, 1, 7, 0);
        auto menu = std::make_unique<SelectionWin>("Main Menu", box(left, 8, right, 19), 0);
        for (OvlWin *win : {status.get(), settings.get()}) {
            win->show();
            put_string(" Connecting...");
            win->unfocus();
        }
        for (const MenuEntry &entry : main_menu())
            menu->append(entry.label);
        menu->sethotkeys(true);
        menu->show();
        screen.refresh();

        time_t last_attempt = 0;
        bool noted = false;
        for (;;) {
            if (quit_flag || !screen.isok())
                break;
            keep_mounted(*root, last_attempt);
            refresh_info_windows(*root, *status, *settings);
            if (!noted) {
                noted = true;
                show_startup_note();
            }
            screen.refresh();
            if (!key_pending())
                screen.select(-1);
            int key = read_key();
            // ESC goes straight to the quit entry; other keys move the menu first.
            if (key != PL_KEY_ESC && key != 0 && key != PL_KEY_NONE)
                menu->handlekey(key);
            int chosen = menu_choice(key, menu->current());
            if (chosen < 0)
                continue;
            const MenuEntry &entry = main_menu()[static_cast<size_t>(chosen)];
            if (entry.action(*root) && entry.ends != MenuEnd::stays) {
                sleep_seconds = entry.ends == MenuEnd::after_command ? 30 : 0;
                break;
            }
        }
        menu.reset();
        settings.reset();
        status.reset();
        timer.reset();
        set_console_frame(nullptr);
        frame.reset();
    }
    restore_screen();
    if (sleep_seconds)
        pause_ms(sleep_seconds * 1000L);
    root.reset();
    logconsole.reset();
    return 0;
}
