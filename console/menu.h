// The console's main menu as one table: what each entry shows, its hot key,
// what it does and whether it ends the program.
//
//   for (const MenuEntry &e : main_menu()) menu.append(e.label);
//   int chosen = menu_choice(key, menu.current());   // after the menu saw the key
//   if (chosen >= 0) {
//       const MenuEntry &e = main_menu()[chosen];
//       if (e.action(root) && e.ends != MenuEnd::stays) ...   // leave
//   }
#pragma once

#include <vector>

#include "ravelo.h"

// What an entry's action reporting true does.
enum class MenuEnd {
    stays,           // nothing: back to the menu
    after_command,   // the program ends; the command it started reboots the server
    at_once,         // the program ends (quit)
};

struct MenuEntry {
    const char *label;   // shown; "_" marks the hot key's letter
    char hotkey;         // lower case
    // Runs the entry. True: the command was started (or the quit confirmed).
    bool (*action)(Ravelo &root);
    MenuEnd ends;
};

// The ten entries, in menu order.
const std::vector<MenuEntry> &main_menu();

// Which entry the key runs once the menu has moved by it: ESC the quit
// entry, ENTER the `current` one, a hot key (either case) the `current` one
// too (the menu has just selected it); -1 for keys that only move.
int menu_choice(int key, int current);
