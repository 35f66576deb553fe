// HqMimeMessage: the root of the part tree over the message copy, with what
// the filter keeps for one run: the virus alert that may replace the message,
// the logging cookie and the envelope's sender and recipient text.
//
//   HqMimeMessage message(copy, copy_name, &conf);   // cookie, then the tree
//   message.set_sender("alice@example.com");
//   message.set_recipient("bob@example.org");
//   if (message.log_message()) ...                     // add the logging recipient
//   int found = message.vscan_email(&conf);            // nonzero: alert built
//   message.output_to_stream(queue_in);                // message or alert
//
// The message does not own the copy's stream it was built over (it reads a
// duplicate of its descriptor). It owns the alert stream, a nameless
// temporary file, and closes it when destroyed. Single-threaded.
#pragma once

#include <cstdio>

#include "hqconfemu.h"
#include "hqmimepart.h"
#include "hqplaces.h"
#include "hqstring.h"

class HqMimeMessage : public HqMimePart {
public:
    static constexpr const char *kDefaultDomain = "localhost.localdomain";
    static constexpr const char *kDefaultProduct = "Sandrel";
    static constexpr const char *kFallbackCookie = "505918273640071829364";
    static constexpr const char *kBoundaryBase = "------Virus_Scanned_/**()^#$)(@@*A#*&&/";
    // A cookie file older than this many seconds is renewed.
    static constexpr long kCookieLifetime = 900;

    explicit HqMimeMessage(const HqQueuePlaces &places = HqQueuePlaces());
    HqMimeMessage(FILE *copy, const HqFastString &name, HqConfEmu *conf,
                  const HqQueuePlaces &places = HqQueuePlaces());
    ~HqMimeMessage() override;

    // Empties the run's values and reads (or first renews) the logging cookie.
    void HqMimeMessage_init();
    // Builds the tree over the whole of `copy`, through a stream of its own.
    void parse_file(FILE *copy, HqConfEmu *conf);

    // Scans the message file and, when that finds something or fails, every
    // part; builds the alert when a virus was found. 0: no alert; otherwise
    // the part result, or 2. A nonzero result without alert() means the
    // alert could not be written.
    int vscan_email(HqConfEmu *conf);

    // Writes a new cookie file (through a temporary file and a rename).
    void update_logging_cookie();
    // Logging is wanted from now on; true when the message is not logged yet.
    bool log_message();
    // Writes the alert, or the message, to `out`, with the logging header and
    // notices when logging is wanted and the message is not logged yet.
    // 0, or -1 when `out` failed (nothing more is written then).
    int output_to_stream(FILE *out);

    void set_sender(const HqFastString &sender) { sender_ = sender; }
    void set_recipient(const HqFastString &recipient) { recipient_ = recipient; }
    const HqString &sender() const { return sender_; }
    const HqString &recipient() const { return recipient_; }
    const HqString &file_name() const { return file_name_; }
    const HqString &mail_domain() const { return mail_domain_; }
    const HqString &product_name() const { return product_name_; }
    const HqString &cookie() const { return cookie_; }
    // The message carries the logging header with the current cookie.
    bool is_logged() const { return logged_; }
    const HqString &virus_name() const { return virus_name_; }
    FILE *alert() const { return alert_; }
    long alert_header_position() const { return alert_header_pos_; }
    long alert_notice_position() const { return alert_notice_pos_; }
    bool logging_wanted() const { return logging_wanted_; }

protected:
    void logging_header(const std::string &value) override;

private:
    bool build_alert(bool whole_infected, HqConfEmu *conf);
    void write_virus_log();

    HqString file_name_;           // the message copy
    HqString mail_domain_;
    HqString cookie_;
    bool logged_ = false;

    FILE *alert_ = nullptr;
    bool logging_wanted_ = false;
    long alert_notice_pos_ = -1;
    long alert_header_pos_ = -1;
    HqString product_name_;
    HqString virus_name_;
    HqString sender_;
    HqString recipient_;
    HqQueuePlaces places_;
};
