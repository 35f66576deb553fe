#include "menu.h"

#include <cctype>

#include "actions.h"
#include "conio.h"
#include "msgwin.h"

namespace {

bool view_boot(Ravelo &)
{
    view_boot_messages();
    return false;
}

bool view_log(Ravelo &)
{
    view_log_messages();
    return false;
}

bool change_address(Ravelo &root)
{
    change_ip_address(root);
    return false;
}

bool toggle_dhcp(Ravelo &root)
{
    toggle_dhcp_server(root);
    return false;
}

bool zap(Ravelo &) { return zap_configuration(); }
bool netscan(Ravelo &) { return netscan_configuration(); }
bool unzap(Ravelo &) { return unzap_configuration(); }

bool disk_install(Ravelo &root)
{
    if (disk_install_check(root))
        view_disk_install();
    return false;
}

bool reboot(Ravelo &) { return reboot_server(); }

bool quit(Ravelo &)
{
    MsgWin ask("Really quit? (y/n)", "Quit");
    return ask.wait("yn\33") == 'y';
}

}  // namespace

const std::vector<MenuEntry> &main_menu()
{
    static const std::vector<MenuEntry> entries = {
        {"VIEW: _Startup Messages", 's', view_boot, MenuEnd::stays},
        {"VIEW: _Log Messages", 'l', view_log, MenuEnd::stays},
        {"_IP Address", 'i', change_address, MenuEnd::stays},
        {"_DHCP Server", 'd', toggle_dhcp, MenuEnd::stays},
        {"_ZAP", 'z', zap, MenuEnd::after_command},
        {"_NETSCAN", 'n', netscan, MenuEnd::after_command},
        {"_UNZAP", 'u', unzap, MenuEnd::after_command},
        {"Dis_k Install", 'k', disk_install, MenuEnd::stays},
        {"_Reboot", 'r', reboot, MenuEnd::after_command},
        {"_Quit", 'q', quit, MenuEnd::at_once},
    };
    return entries;
}

int menu_choice(int key, int current)
{
    const std::vector<MenuEntry> &entries = main_menu();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (key == PL_KEY_ESC && entries[i].ends == MenuEnd::at_once)
            return static_cast<int>(i);
    }
    if (key == PL_KEY_ENTER)
        return current;
    if (key >= 1 && key <= 255) {
        for (const MenuEntry &e : entries)
            if (tolower(key) == e.hotkey)
                return current;
    }
    return -1;
}
