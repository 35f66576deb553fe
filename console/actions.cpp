#include "actions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "hqip.h"
#include "hqpipe.h"
#include "hqstreamlist.h"
#include "hqunix.h"
#include "msgwin.h"
#include "selwin.h"

namespace {

PlFrame *frame_ptr = nullptr;

void set_running_text(const char *text)
{
    if (frame_ptr)
        frame_ptr->setbottomright(text);
}

// The key of a question box: 'y', 'n', 27, or 0 when the terminal failed.
int ask(const char *text, const char *title, const char *keys)
{
    MsgWin box(text, title);
    return box.wait(keys);
}

bool run_confirmed(const char *text, const char *title, const char *command)
{
    if (ask(text, title, "yn\33") != 'y')
        return false;
    // Backgrounded behind a sleep, so this returns at once; its result says
    // nothing about the command.
    int ignored = system(command);
    (void)ignored;
    return true;
}

}  // namespace

void set_console_frame(PlFrame *frame) { frame_ptr = frame; }
PlFrame *console_frame() { return frame_ptr; }

void view_stream(const char *title, HqStream &source, int skip, const char *intro)
{
    PlScreen &screen = pl_screen();
    SelectionWin list(title, screen.getxsize() - 4, screen.getysize() - 4, 1);
    list.append(intro);
    list.append("");
    list.select(2);
    list.show();
    set_running_text("[RUNNING]");

    HqIStreamList wanted;
    wanted.append(&screen);
    wanted.append(&source);
    bool ended = false;
    while (screen.isok()) {
        screen.refresh();
        if (!key_pending())
            wanted.select(-1);
        HqString line = source.getline(0, '\n', 1024);
        if (!line.isnull()) {
            if (skip > 0)
                --skip;
            else
                list.append(line.cstr());
        } else if (!ended && !source.isok()) {
            // An ended source stays "ready": off the list, or every wait returns at once.
            ended = true;
            wanted.remove(&source);
            if (source.geterr())
                list.appendf("Error: %s", source.errstr());
            list.append("");
            list.append("** Press ESC to close this window.");
            set_running_text("");
        }
        if (key_pending()) {
            int key = read_key();
            if (key == PL_KEY_ESC || key == PL_KEY_ENTER)
                break;
            if (key != PL_KEY_NONE && key != 0)
                list.handlekey(key);
        }
    }
    set_running_text("");
}

void view_boot_messages()
{
    HqFile log("/tmp/boot.log", O_RDONLY, 0666);
    view_stream("Boot Messages", log, 0, "Messages produced at system boot time:");
    log.close();
}

void view_log_messages()
{
    HqUnixConn conn(HqUnixAddr("/tmp/rcmd"));
    if (conn.isok()) {
        conn.print("debug 5\n");
        conn.flush(5000);
    }
    view_stream("System Log", conn, 2, "Log messages currently being produced:");
    conn.close();
}

void view_disk_install()
{
    const char *const argv[] = {"/usr/bin/mirror-hqdisk", "installcd", nullptr};
    HqPipe child("/usr/bin/mirror-hqdisk", argv);
    view_stream("HD Install Messages", child, 0, "Results of Hard Drive Install:");
    child.close();
}

void change_ip_address(Ravelo &root)
{
    HqIPNet current(HqIPAddr(root.xget(RaveloKey("eth0/ipaddr"), "0.0.0.0").cstr()),
                    HqIPAddr(root.xget(RaveloKey("eth0/netmask"), "255.255.255.0").cstr()));
    char field[20];
    snprintf(field, sizeof field, "%s/%d", current.base().text().cstr(), current.bits());
    int result;
    {
        OvlWin box("New IP Address", 40, 5, 14, 3, 15, 0);
        box.show();
        put_string(" Enter a new primary IP address with\r\n the netmask (e.g. 192.168.1.100/24):\r\n         ");
        set_text_attr(0x0F);
        PlTextInfo at;
        get_text_info(&at);
        do {
            gotoxy(at.curx, at.cury);
            result = edit_line(19, field, field);
        } while (result != PL_KEY_ENTER_EDIT && result != PL_KEY_ESC_EDIT && result != PL_KEY_NONE);
    }
    if (result != PL_KEY_ENTER_EDIT)
        return;
    HqIPNet net(field, 24);
    net.normalize();
    HqString question = HqString::format("Really change the address to %s/%d? (y/n)", net.base().text().cstr(), net.bits());
    if (ask(question.cstr(), "Change IP Address", "yn\33") != 'y')
        return;
    root[RaveloKey("eth0/ipaddr")].setme(net.base().text());
    root[RaveloKey("eth0/netmask")].setme(net.netmask().text());
    root[RaveloKey("eth0/auto adjust")].setmeint(0);
}

void toggle_dhcp_server(Ravelo &root)
{
    long long value = root.xgetint(RaveloKey("eth0/dhcpd"), 0);
    bool enabled = value != 0;
    HqString question = HqString::format("The DHCP server is currently %s.\r\n \r\n      %s DHCP server? (y/n)",
                                         enabled ? "ENABLED" : "DISABLED", enabled ? "Disable" : "Enable");
    int key = ask(question.cstr(), "Change DHCP Server Setting", "yn\33");
    if (key == 'y')
        root[RaveloKey("eth0/dhcpd")].setmeint(enabled ? 0 : 1);
    else if (key == 'n')
        root[RaveloKey("eth0/dhcpd")].setmeint(value);
}

bool zap_configuration()
{
    return run_confirmed("This option will restore your server to factory default settings.\r\n"
                         "ALL CONFIGURATION INFORMATION WILL BE LOST!!\r\n \r\n"
                         "Your server will be REBOOTED after the zap.\r\n \r\n"
                         "                       Really zap? (y/n)",
                         "Zap Configuration", "(sleep 2; /usr/bin/zap -f) &");
}

bool netscan_configuration()
{
    return run_confirmed("This option will delete all network address and routing-related\r\n"
                         "information from your server, replacing network settings with\r\n"
                         "the factory defaults.\r\n \r\n"
                         "Your server will be REBOOTED after the netscan.\r\n \r\n"
                         "                     Really netscan? (y/n)",
                         "Netscan - Clear Network Configuration", "(sleep 2; /usr/bin/netscan -f) &");
}

bool unzap_configuration()
{
    if (access("/bootdisk/hqdorsk/ini.old", R_OK) != 0 && access("/disk/ini.old", R_OK) != 0) {
        ask("Sorry, unzap is impossible: no old configuration exists!", "Can't Unzap", "\r\33");
        return false;
    }
    return run_confirmed("This option will reverse a previous 'zap' or 'netscan'\r\n"
                         "operation, returning your configuration to the way it\r\n"
                         "was before it was erased.\r\n \r\n"
                         "Your server will be REBOOTED after the unzap.\r\n \r\n"
                         "                 Really unzap? (y/n)",
                         "Unzap Configuration", "(sleep 2; /usr/bin/unzap -f) &");
}

bool reboot_server() { return run_confirmed("Really reboot? (y/n)", "Reboot", "(sleep 2; /bin/reboot) &"); }

bool disk_install_check(Ravelo &root)
{
    if (ask("This option should only be used to update the Calidor OS already\r\n"
            "installed on the hard disk(s).  This option will not perform\r\n"
            "the initial disk configuration and installation.\r\n \r\n"
            "Initial installation of Calidor to the disks is done automatically\r\n"
            "when disks are configured using the Web Administrative interface.\r\n \r\n"
            "This option will force the installation of the currently running\r\n"
            "Calidor OS image to the hard disk(s).\r\n \r\n"
            "NOTE: If the disk(s) were configured using a version of Calidor\r\n"
            "older than 4.0 you cannot perform a disk install.\r\n \r\n"
            "Install currently running version across disk(s)? (y/n)",
            "Disk Install", "yn\33") != 'y')
        return false;
    if (root.xgetint(RaveloKey("global/Have Disk"), 0) == 0) {
        ask("Please configure your disk(s) in Cordane first.", "Disk(s) Not Configured", "\r\33");
        return false;
    }
    struct stat st;
    if (stat("/tmp/bootcd", &st) == 0)
        return true;
    ask("Please boot from CD before attempting a disk install.", "Boot CD Not Detected", "\r\33");
    return false;
}
