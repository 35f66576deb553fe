#include "infowin.h"

#include <fcntl.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "hqip.h"

const char *const console_default_domain = "localdomain";

HqString center_text(const HqFastString &text, int width)
{
    std::string t = text.isnull() ? std::string() : text.str();
    int pad = static_cast<int>(t.size()) < width ? (width - static_cast<int>(t.size())) / 2 : 0;
    return HqString(std::string(static_cast<size_t>(pad), ' ') + t);
}

void print_highlighted(const char *text)
{
    set_text_color(15);
    put_string(text);
    set_text_color(7);
}

void print_highlighted_format(const char *fmt, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (n >= 0)
        print_highlighted(text);
}

namespace {

void refresh_status(OvlWin &status)
{
    status.focus();
    clear_window();
    const int width = status.getbox().width() - 2;
    HqFile lcd("/etc/lcdfile", O_RDONLY, 0);
    for (int i = 0; i < 2; ++i) {
        HqString line = lcd.isok() || lcd.inputready() ? lcd.getline(-1, '\n', 1024) : HqString();
        if (i)
            put_string("\r\n");
        put_string(center_text(line, width).cstr());
    }
    status.unfocus();
    lcd.close();
}

void refresh_settings(Ravelo &root, OvlWin &settings)
{
    settings.focus();
    clear_window();
    put_string(" Server Name:\r\n");
    HqString host = root.xget(RaveloKey("global/hostname"), "dorsk");
    HqString domain = root.xget(RaveloKey("global/domain"), console_default_domain);
    print_highlighted_format("   %s.%s", host.cstr(), domain.cstr());
    put_string("\r\n\r\n Cordane:\r\n");
    HqIPAddr address(root.xget(RaveloKey("eth0/ipaddr"), "").cstr());
    if (address.value() == 0)
        print_highlighted("   (Configure eth0 first!)");
    else
        print_highlighted_format("   https://%s:8043", address.text().cstr());
    put_string("\r\n\r\n DHCP Server: ");
    print_highlighted(root.xgetint(RaveloKey("eth0/dhcpd"), 0) ? "ENABLED (eth0)" : "DISABLED");
    put_string("\r\n\r\n IP Addresses:\r\n");
    for (int i = 0; i < 6; ++i) {
        print_format("   eth%d: ", i);
        std::string eth = "eth" + std::to_string(i);
        if (root.xgetint(RaveloKey(eth.c_str(), "exists"), 0) == 0) {
            put_string("N/A");
        } else {
            HqIPNet net(HqIPAddr(root.xget(RaveloKey(eth.c_str(), "ipaddr"), "").cstr()),
                        HqIPAddr(root.xget(RaveloKey(eth.c_str(), "netmask"), "").cstr()));
            print_highlighted_format("%s/%d", net.base().text().cstr(), net.bits());
        }
        put_string("\r\n");
    }
    settings.unfocus();
}

}  // namespace

void refresh_info_windows(Ravelo &root, OvlWin &status, OvlWin &settings)
{
    refresh_status(status);
    refresh_settings(root, settings);
}
