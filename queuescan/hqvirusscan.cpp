#include "hqvirusscan.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <string>

#include "hqunix.h"

HqVirusScan::HqVirusScan(const char *socket_path)
    : log_("Virus Scanner", 9), socket_path_(socket_path ? socket_path : kSocketPath)
{
    setclone(new HqUnixConn(HqUnixAddr(socket_path_.cstr())));
}

HqVirusScan::~HqVirusScan()
{
    terminate_continue_select();
    close();
}

void HqVirusScan::reset()
{
    close();
    setclone(new HqUnixConn(HqUnixAddr(socket_path_.cstr())));
}

int HqVirusScan::fail(int code, int result)
{
    result_ = result;
    notify();
    return code;
}

int HqVirusScan::start_scan(const HqFastString &path)
{
    virus_name_ = HqString("");
    result_ = 0;
    file_name_ = path;
    if (!isok()) {
        log_(1, "Can't start scan: not okay!\n");
        return fail(-1, -2);
    }
    if (in_progress_) {
        log_(1, "Trying to start a scan while in progress!\n");
        return fail(-2, -2);
    }
    struct stat st;
    if (path.isnull() || stat(path.cstr(), &st) != 0) {
        log_(2, "Tried to scan non-existent file: '%s'\n", path);
        return fail(-3, -1);
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        log_(2, "Tried to scan a non-file: '%s'\n", path);
        return fail(-4, -1);
    }
    if (send_path() < 0) {
        log_(1, "Can't start scan: not okay!\n");
        return fail(-1, -2);
    }
    return 0;
}

int HqVirusScan::send_path()
{
    time_t now = time(nullptr);
    char stamp[32];
    if (!ctime_r(&now, stamp))
        return -1;
    // "Www Mmm dd hh:mm:ss yyyy\n": the month, day and time.
    HqString request = HqString::format("%.15s:%s", stamp + 4, backslash_escape(file_name_).cstr());
    log_("%s\n", request);
    in_progress_ = true;
    int r = write(request.cstr(), static_cast<unsigned>(request.length()));
    if (r >= 0 && flush(-1) < 0)
        r = -1;
    return r;
}

unsigned HqVirusScan::readblob(bool continued, void *buffer, unsigned count)
{
    log_("(read %s)...", count);
    unsigned got = 0;
    char *p = static_cast<char *>(buffer);
    while (isok() && got < count) {
        if ((continued ? continue_select(-1) : select(-1)) < 0)
            break;
        int n = read(p + got, count - got);
        if (n < 0)
            break;
        got += static_cast<unsigned>(n);
    }
    return got;
}

int HqVirusScan::get_result(bool continued)
{
    unsigned char status[2];
    if (readblob(continued, status, 2) < 2) {
        log_(2, "Can't read the return code from kavdaemon.\n");
        return -2;
    }
    if (status[1] == 1) {
        unsigned char len[4];
        if (readblob(continued, len, 4) < 4) {
            log_(2, "Can't read the content length from kavdaemon.\n");
            close();
            return -1;
        }
        uint32_t length = static_cast<uint32_t>(len[0]) | static_cast<uint32_t>(len[1]) << 8 |
                          static_cast<uint32_t>(len[2]) << 16 | static_cast<uint32_t>(len[3]) << 24;
        log_("Got content length = %s.\n", length);
        if (length) {
            std::string text;
            if (length <= kMaxReplyText) {
                text.assign(length, '\0');
                if (readblob(continued, &text[0], length) < length)
                    text.clear();
            }
            if (text.empty()) {
                log_(1, "Error reading response data from the kavdaemon.\n");
                close();
                return -1;
            }
            text = text.c_str();   // the text ends at a NUL byte
            log_("Content: '%s'\n", text);
            size_t marker = text.find("infected: ");
            if (marker != std::string::npos)
                virus_name_ = trim_string(HqString(text.substr(marker + 10)));
        }
    }
    int code = status[0] & 0x0f;
    switch (code) {
    case 0:
        return 0;
    case 1:
        log_(1, "kavdaemon said it was interrupted!\n");
        return -2;
    case 2:
    case 3:
        return 1;
    case 4:
    case 5:
    case 6:
        return 2;
    case 7:
    case 8:
        log_(1, "kavdaemon said scanner/file is corrupted!\n");
        return -2;
    default:
        log_(1, "Unhandled virus scanner return code: %s\n", code);
        return 0;
    }
}

int HqVirusScan::sync_scan(const HqFastString &path)
{
    int r = start_scan(path);
    if (r != 0)
        return r;
    result_ = get_result(false);
    return result_;
}

int HqVirusScan::get_scan_result(HqString *virus_name)
{
    if (virus_name)
        *virus_name = virus_name_;
    return result_;
}

int HqVirusScan::async_scan(const HqFastString &path)
{
    int r = start_scan(path);
    if (r == 0)
        alarm(0);
    return r;
}

int HqVirusScan::async_scan(HqStream *wake, const HqFastString &path)
{
    set_scan_callback(
        [](HqStream *, void *user) {
            if (user)
                static_cast<HqStream *>(user)->alarm(0);
        },
        wake);
    return async_scan(path);
}

void HqVirusScan::execute()
{
    if (!isalarmed()) {
        HqStreamClone::execute();
        return;
    }
    HqStream::execute();
    result_ = get_result(true);
    notify();
}

void HqVirusScan::set_scan_callback(const HqCallback &callback, void *user)
{
    callback_ = callback;
    user_ = user;
}

void HqVirusScan::notify()
{
    if (callback_)
        callback_(this, user_);
    callback_.clear();
    user_ = nullptr;
    in_progress_ = false;
}
