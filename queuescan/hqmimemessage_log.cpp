// Mail logging: the logging cookie, the logging header, the auditing notices
// and the output of the message (or its alert) to the queue program.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "hqbuf.h"
#include "hqcodec.h"
#include "hqlog.h"
#include "hqmimemessage.h"
#include "hqstream.h"

namespace {

const HqLog log_output("MailQueue", 4);

const char *const kNotice[2] = {
    "\n\n--\n PRIVACY WARNING: For auditing purposes, a copy of this message has been\n saved in a "
    "permanent database.\n",
    "\n\n<br><br><pre>--\n PRIVACY WARNING: For auditing purposes, a copy of this message has been\n "
    "saved in a permanent database.\n</pre>\n",
};

// Copies `src` from `from` up to `to` (-1: its end). False when `out` took
// fewer bytes than were read; a short read just ends the copy.
bool copy_between(HqFileReader &src, long from, long to, FILE *out)
{
    bool ok = true;
    src.each(from, to < 0 ? LONG_MAX : to, [&](const char *data, size_t n) {
        size_t written = fwrite(data, 1, n, out);
        if (written != n) {
            log_output(7, "bytes read %s != %s bytes written\n", n, written);
            ok = false;
        }
        return ok;
    }, HqFileReader::kWindow);
    return ok;
}

}  // namespace

void HqMimeMessage::HqMimeMessage_init()
{
    alert_ = nullptr;
    logging_wanted_ = false;
    alert_notice_pos_ = -1;
    alert_header_pos_ = -1;
    product_name_ = HqString("");
    virus_name_ = HqString("");
    sender_ = HqString("");
    recipient_ = HqString("");
    mail_domain_ = HqString("");

    struct stat st;
    if (stat(places_.cookie_file, &st) != 0 || time(nullptr) - st.st_mtime > kCookieLifetime)
        update_logging_cookie();
    HqFile file(places_.cookie_file, O_RDONLY, 0666);
    HqString line;
    if (file.isok())
        line = file.getline(0, '\n', 1024);
    file.close();
    // An empty cookie would make any bare domain count as logged.
    cookie_ = !line ? HqString(kFallbackCookie) : line;
}

void HqMimeMessage::update_logging_cookie()
{
    std::string path(places_.temp_template);
    int fd = mkstemp(&path[0]);
    if (fd < 0)
        return;
    fchmod(fd, 0660);
    srandom(static_cast<unsigned>(time(nullptr)));
    unsigned long v[6];
    for (auto &x : v)
        x = static_cast<unsigned long>(random());
    HqString text = HqString::format("%lx%lx%lx%lx%lx%lx\n", v[0], v[1], v[2], v[3], v[4], v[5]);
    HqFile file(fd);
    bool ok = file.isok() && file.print(text) >= 0 && file.flush(1000) == 0;
    ok = file.close() == 0 && ok;
    // Only a complete cookie replaces the old file.
    if (!ok || rename(path.c_str(), places_.cookie_file) != 0)
        unlink(path.c_str());
}

bool HqMimeMessage::log_message()
{
    logging_wanted_ = true;
    return !logged_;
}

int HqMimeMessage::output_to_stream(FILE *out)
{
    if (alert_ && fflush(alert_) != 0)
        return -1;
    // The alert is read like the message: through a window, not line by line.
    std::unique_ptr<HqFileReader> alert_file;
    if (alert_)
        alert_file = std::make_unique<HqFileReader>(fileno(alert_), false);
    HqFileReader *src = alert_ ? alert_file.get() : reader_.get();
    if (!src)
        return -1;
    long pos = 0;
    if (!logged_ && logging_wanted_) {
        long cut = alert_header_pos_ >= 1 ? alert_header_pos_ : header_end_;
        if (!copy_between(*src, 0, cut, out))
            return -1;
        pos = cut;
        fprintf(out, "X-BRONTAL-Logged: %s %s\n", mail_domain_.isnull() ? "" : mail_domain_.cstr(),
                cookie_.isnull() ? "" : cookie_.cstr());
        int code = 0;
        long offset = alert_notice_pos_ >= 1 ? alert_notice_pos_ : find_tag_offset(&code);
        while (offset >= 0) {
            // Never go back: that would repeat bytes already written.
            offset = std::max(offset, pos);
            log_output("Initial push at %s to %s\n", pos, offset);
            if (!copy_between(*src, pos, offset, out))
                return -1;
            pos = offset;
            log_output("Done pushing at %s\n", pos);
            if (code == 2 || code == 3) {
                HqDynBuf in(1024, 1 << 20), encoded(1024, 1 << 20);
                in.putstr(kNotice[code & 1]);
                HqBase64Encoder().encode(in, encoded, true, true);
                HqString text = encoded.getstr();
                fprintf(out, "%s\n", text.isnull() ? "" : text.cstr());
            } else {
                fputs(kNotice[code & 1], out);
            }
            if (ferror(out))
                return -1;
            offset = alert_notice_pos_ < 1 ? find_tag_offset(&code) : -1;
        }
    }
    log_output(7, "Start of information pushing %s\n", pos);
    log_output(7, "Output at %s\n", ftell(out));
    if (!copy_between(*src, pos, -1, out))
        return -1;
    log_output(7, "Stop of information pushing %s\n", src->size());
    log_output(7, "Output at %s\n", ftell(out));
    return fflush(out) == 0 && !ferror(out) ? 0 : -1;
}
