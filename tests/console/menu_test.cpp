#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "conio.h"
#include "menu.h"

TEST(ConsoleMenu, EachHotKeyIsTheMarkedLetterOfItsLabelAndUnique)
{
    std::set<char> keys;
    for (const MenuEntry &e : main_menu()) {
        const char *mark = strchr(e.label, '_');
        ASSERT_NE(mark, nullptr) << e.label;
        EXPECT_EQ(tolower(static_cast<unsigned char>(mark[1])), e.hotkey) << e.label;
        EXPECT_TRUE(keys.insert(e.hotkey).second) << "hot key used twice: " << e.hotkey;
        EXPECT_NE(e.action, nullptr) << e.label;
    }
    EXPECT_EQ(keys.size(), 10u);
}

TEST(ConsoleMenu, WhichKeysRunWhichEntry)
{
    const auto &menu = main_menu();
    int quit = -1;
    for (size_t i = 0; i < menu.size(); ++i)
        if (menu[i].ends == MenuEnd::at_once)
            quit = static_cast<int>(i);
    ASSERT_EQ(quit, 9);
    EXPECT_STREQ(menu[static_cast<size_t>(quit)].label, "_Quit");
    const struct {
        int key;
        int current;
        int runs;
    } table[] = {
        {PL_KEY_ESC, 3, 9},   // whatever is selected
        {PL_KEY_ENTER, 3, 3},
        {'k', 7, 7},          // the menu has selected the entry of its hot key
        {'K', 7, 7},
        {'q', 9, 9},
        {'x', 2, -1},         // no hot key: moves nothing, runs nothing
        {'1', 2, -1},
        {PL_KEY_DOWN, 4, -1},
        {PL_KEY_NONE, 0, -1}, // a pass woken by the clock
        {0, 0, -1},
    };
    for (const auto &t : table)
        EXPECT_EQ(menu_choice(t.key, t.current), t.runs) << "key " << t.key;
}
