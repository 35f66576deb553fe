// The console's menu actions: the text viewers, the address and DHCP
// dialogs, zap, netscan, unzap, the disk-install check and reboot.
//
//   set_console_frame(&frame);                // the viewers show "[RUNNING]" there
//   view_boot_messages();                     // returns when the user closes it
//   change_ip_address(root);
//   if (zap_configuration()) ...              // the command was started: leave and wait
//
// Every question is a MsgWin; only 'y' (or 'Y') confirms. The commands run
// through the shell in the background behind a 2 s sleep, so the console
// can clear the screen before the appliance goes down.
#pragma once

#include "hqstream.h"
#include "plframe.h"
#include "ravelo.h"

// The frame whose bottom-right text the viewers set; may be null.
void set_console_frame(PlFrame *frame);
PlFrame *console_frame();

// Shows the lines of `source` as they arrive, less the first `skip`, under
// `intro`, until ESC or ENTER or until the terminal fails. The caller closes
// the source.
void view_stream(const char *title, HqStream &source, int skip, const char *intro);

// The three viewers of the menu: "/tmp/boot.log", the log service on
// "/tmp/rcmd", and the output of "/usr/bin/mirror-hqdisk installcd".
void view_boot_messages();
void view_log_messages();
void view_disk_install();

void change_ip_address(Ravelo &root);
void toggle_dhcp_server(Ravelo &root);
// True when the command was started (whatever the shell made of it).
bool zap_configuration();
bool netscan_configuration();
bool unzap_configuration();
bool reboot_server();
// True when the disk install may run.
bool disk_install_check(Ravelo &root);
