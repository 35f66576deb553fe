// Scanning parts with kavdaemon, and where the auditing notices go.
#include <unistd.h>

#include <algorithm>
#include <string>

#include "hqlog.h"
#include "hqmimepart.h"
#include "hqvirusscan.h"

namespace {

const HqLog log_scan("mail queue", 7);

}  // namespace

int HqMimePart::vscan_file(const HqFastString &path, HqString *virus_name, const HqQueuePlaces &places)
{
    int state = -2;
    for (int attempt = 0; attempt < 3; ++attempt) {
        HqVirusScan scan(places.scanner_socket);
        if (scan.isok()) {
            scan.sync_scan(path);
            state = scan.get_scan_result(virus_name);
        } else {
            state = -2;
            log_scan(1, "Scanner not ok. Is kavdaemon running?\n");
        }
        if (state >= 0)
            break;
        sleep(places.scan_retry_seconds);
    }
    if (state < 0)
        return state == -2 ? -2 : 0;
    if (virus_name && !virus_name->isnull()) {
        const std::string &text = virus_name->str();
        *virus_name = HqString(text.substr(0, text.find_first_of(" \n")));
    }
    if (state == 2)
        infected_ = true;
    else if (state == 1)
        suspicious_ = true;
    return state == 1 || state == 2 ? 2 : 0;
}

int HqMimePart::vscan(HqString *virus_name, const HqQueuePlaces &places)
{
    // Decided by the tree as built, as decoding is: a part kept whole (no
    // children) is scanned as one leaf rather than skipped.
    if (!children_.empty()) {
        int result = 0;
        for (auto &child : children_)
            result = std::max(result, child->vscan(virus_name, places));
        return result;
    }
    if (message_child_)
        return std::max(0, message_child_->vscan(virus_name, places));
    if (decoded_path_.isnull())
        decode_data(nullptr);
    return vscan_file(decoded_path_, virus_name, places);
}

long HqMimePart::find_tag_offset(int *code)
{
    if (content_type_ != CONTENT_TYPE_MULTIPART) {
        long offset = end_;
        *code = encoding_ * 2;
        if (content_type_ == CONTENT_TYPE_TEXT && content_subtype_ == CONTENT_SUBTYPE_HTML) {
            *code = encoding_ * 2 + 1;
            log_scan(7, "Sub type is HTML\n");
            offset = search("</BODY>", header_end_, true);
        }
        if (offset < 0 || offset > end_) {
            if (*code & 1)
                log_scan(7, "</BODY> not found in HTML message\n");
            offset = end_;
        }
        if (notice_counter_++ > 0)
            return -1;
        if (content_type_ != CONTENT_TYPE_TEXT ||
            (content_subtype_ != CONTENT_SUBTYPE_PLAIN && content_subtype_ != CONTENT_SUBTYPE_HTML))
            return -1;
        log_scan(4, "Offset: %s\nEncoding %s\n", offset, *code);
        return offset;
    }

    // The counter is the number of children already finished: selected,
    // not eligible, or multipart with no place left. Each call goes on after
    // them, so a whole output pass looks at every child once.
    HqMimePart *selected = nullptr;
    for (size_t i = static_cast<size_t>(notice_counter_); i < children_.size(); ++i) {
        HqMimePart *child = children_[i].get();
        int number = static_cast<int>(i) + 1;
        log_scan(8, "content disposition is %s\n", child->attachment_ ? "attachment" : "inline");
        log_scan(8, "tag offset %s, partnum %s\n", notice_counter_, number);
        log_scan(8, "Content Type %s, text is %s\n", static_cast<int>(child->content_type_),
                 static_cast<int>(child->content_subtype_));
        if (child->content_type_ == CONTENT_TYPE_TEXT && !child->attachment_ &&
            (child->content_subtype_ == CONTENT_SUBTYPE_PLAIN || child->content_subtype_ == CONTENT_SUBTYPE_HTML)) {
            notice_counter_ = number;
            selected = child;
            break;
        }
        if (child->content_type_ == CONTENT_TYPE_MULTIPART) {
            long offset = child->find_tag_offset(code);
            if (offset > 0)
                return offset;
        }
        notice_counter_ = number;
    }
    if (!selected) {
        log_scan(8, "End of mime part\n");
        return -1;
    }
    long offset = selected->end_;
    *code = selected->encoding_ * 2;
    if (selected->content_subtype_ == CONTENT_SUBTYPE_HTML) {
        log_scan(7, "Sub type is HTML\n");
        *code = selected->encoding_ * 2 + 1;
        offset = selected->search("</BODY>", selected->header_end_, true);
        if (offset < 0 || offset > selected->end_) {
            log_scan(7, "</BODY> not found in HTML message\n");
            offset = selected->end_;
        }
    }
    log_scan(8, "End offset is %s\n", selected->end_);
    log_scan(7, "Offset found to be: %s\nEncoding: %s\n", offset, *code);
    return offset;
}
