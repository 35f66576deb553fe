// The message root: construction over the message copy, the scan of the
// whole message and its parts, the virus alert and the virus log.
#include "hqmimemessage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "hqlog.h"
#include "hqtime.h"
#include "hqtmpfile.h"

namespace {

const HqLog log_message_src("mail queue", 7);

// The text of a value that may be unset; unset prints as nothing.
const char *text_of(const HqString &s) { return s.isnull() ? "" : s.cstr(); }

}  // namespace

HqMimeMessage::HqMimeMessage(const HqQueuePlaces &places) : places_(places)
{
    HqMimeMessage_init();
}

HqMimeMessage::HqMimeMessage(FILE *copy, const HqFastString &name, HqConfEmu *conf, const HqQueuePlaces &places)
    : places_(places)
{
    HqMimeMessage_init();
    parse_file(copy, conf);
    file_name_ = name;
}

HqMimeMessage::~HqMimeMessage()
{
    if (alert_)
        fclose(alert_);
}

void HqMimeMessage::parse_file(FILE *copy, HqConfEmu *conf)
{
    decoded_template_ = HqString(places_.decoded_template);
    mail_domain_ = conf ? conf->get("Main", "Mail Domain", kDefaultDomain) : HqString(kDefaultDomain);
    product_name_ = conf ? conf->get("Main", "Product Name", kDefaultProduct) : HqString(kDefaultProduct);
    if (!copy)
        return;
    int fd = fcntl(fileno(copy), F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        return;
    auto file = std::make_shared<HqFileReader>(fd, true);
    long size = file->size();
    if (size < 0)
        return;
    reader_ = file;
    start_ = 0;
    end_ = size;
    process_part();
}

void HqMimeMessage::logging_header(const std::string &value)
{
    std::string expected = mail_domain_.isnull() ? cookie_.str() : mail_domain_.str() + " " + cookie_.str();
    if (value == expected)
        logged_ = true;
}

int HqMimeMessage::vscan_email(HqConfEmu *conf)
{
    if (!reader_)
        return 0;
    int whole = vscan_file(file_name_, &virus_name_, places_);
    bool whole_infected = infected_;
    infected_ = suspicious_ = false;
    if (whole == 0)
        return 0;
    int parts = vscan(&virus_name_, places_);
    if (whole == -2 && parts != 2)
        return 0;   // the scanner failed throughout: pass the message on
    if (parts != 2)
        infected_ = true;
    build_alert(infected_ && whole_infected, conf);
    return parts != 0 ? parts : 2;
}

bool HqMimeMessage::build_alert(bool whole_infected, HqConfEmu *conf)
{
    FILE *f = my_tmpfile(places_.temp_template);
    if (!f) {
        log_message_src(1, "Can't create the virus alert: %s\n", strerror(errno));
        return false;
    }
    srandom(static_cast<unsigned>(time(nullptr)));
    unsigned long r1 = static_cast<unsigned long>(random());
    unsigned long r2 = static_cast<unsigned long>(random());
    HqString boundary = HqString::format("%s%lu%lu", kBoundaryBase, r1, r2);
    const char *b = boundary.cstr();
    HqString domain = conf ? conf->get("Main", "Mail Domain", kDefaultDomain) : mail_domain_;

    fprintf(f, "Date: %s\n", text_of(rfc822_date(-1)));
    fprintf(f, "From: Virus Scanner <%s@%s>\n", "postmaster", text_of(domain));
    fprintf(f, "Subject: %s Virus Alert\n", text_of(product_name_));
    fputs("MIME-Version: 1.0\n", f);
    fprintf(f, "Content-type: multipart/mixed;\n boundary=\"%s\"\n", b);
    alert_header_pos_ = ftell(f);
    fputs("\n\n", f);
    fputs("This is a multi-part message in MIME format.\n\n", f);
    fprintf(f, "--%s\n", b);
    fputs("Content-Type: text/plain; charset=us-ascii; format=flowed\n", f);
    fputs("Content-Transfer-Encoding: 7bit\n\n", f);
    if (!virus_name_)
        fprintf(f,
                "Warning: an unknown virus or suspicious attachment was detected and removed from the "
                "following message from %s to %s.\nSome of the content may still be readable.\n",
                text_of(sender_), text_of(recipient_));
    else
        fprintf(f,
                "WARNING: a virus (probably %s) or suspicious attachment was detected and removed from "
                "the following message from %s to %s.\nSome of the content may still be readable.\n",
                text_of(virus_name_), text_of(sender_), text_of(recipient_));
    write_virus_log();
    alert_notice_pos_ = ftell(f);
    fprintf(f, "\n--%s\n", b);
    fputs("Content-Type: message/rfc822; ", f);
    fputs(" name=original.eml\n", f);
    fputs("Content-Disposition: inline; ", f);
    fputs(" filename=original.eml\n\n", f);
    if (whole_infected)
        fputs("Sorry, the whole message was infected.\n", f);
    else
        dump_to_file(f, true);
    fprintf(f, "--%s--\n\n", b);
    if (fflush(f) != 0 || ferror(f)) {
        // A truncated alert must not stand in for the message.
        log_message_src(1, "Can't write the virus alert: %s\n", strerror(errno));
        fclose(f);
        alert_header_pos_ = alert_notice_pos_ = -1;
        return false;
    }
    alert_ = f;
    return true;
}

void HqMimeMessage::write_virus_log()
{
    time_t now = time(nullptr);
    struct tm tm;
    char date[64] = "";
    char zone[16] = "";
    if (localtime_r(&now, &tm)) {
        strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S", &tm);
        strftime(zone, sizeof zone, "%z", &tm);
    }
    // The record carries the offset with its sign inverted.
    if (zone[0] == '-')
        zone[0] = '+';
    else if (zone[0] == '+')
        zone[0] = '-';
    std::string record = std::string(text_of(sender_)) + "\n" + text_of(recipient_) + "\n" +
                         text_of(virus_name_) + "\n" + date + " " + zone + "\n";
    // Never through a link: the folder is shared with other programs.
    int fd = open(places_.virus_log, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0660);
    if (fd < 0) {
        log_message_src(1, "Can't open the virus log %s: %s\n", places_.virus_log, strerror(errno));
        return;
    }
    // One write per record, so records of runs at the same time do not mix.
    size_t done = 0;
    while (done < record.size()) {
        ssize_t n = write(fd, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            log_message_src(1, "Can't write the virus log %s: %s\n", places_.virus_log, strerror(errno));
            break;
        }
        done += static_cast<size_t>(n);
    }
    fchmod(fd, 0660);
    close(fd);
}
