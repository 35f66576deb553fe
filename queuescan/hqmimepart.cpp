#include "hqmimepart.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "hqlog.h"

namespace {

const HqLog log_part("mail queue", 7);

const char *const kHeaderNames[] = {
    "Content-Type:",        "Content-Transfer-Encoding:", "Content-Disposition:", "Content-Description:",
    "Content-Location:",    "Content-Md5:",                "Content-Id:",          "X-BRONTAL-Logged:",
};
const int kHeaderCount = sizeof kHeaderNames / sizeof kHeaderNames[0];

const size_t kBlock = 8192;

std::string trim_blanks(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

HqMimePart::HqMimePart() { initvars(); }

HqMimePart::HqMimePart(FILE *stream, long start, long end, const char *decoded_template)
{
    initvars();
    if (stream)
        reader_ = std::make_shared<HqFileReader>(stream);
    start_ = start;
    end_ = end;
    decoded_template_ = HqString(decoded_template ? decoded_template : kDecodedTemplate);
}

void HqMimePart::initvars()
{
    decoded_out_ = nullptr;
    decoded_path_ = HqString();
    boundary_ = HqString();
    closing_boundary_ = HqString();
    delimiter_.clear();
    reader_.reset();
    start_ = end_ = header_end_ = 0;
    encoding_ = ENCODING_OTHER;
    content_type_ = CONTENT_TYPE_TEXT;
    content_subtype_ = CONTENT_SUBTYPE_PLAIN;
    attachment_ = false;
    notice_counter_ = 0;
    suspicious_ = infected_ = false;
    decoded_template_ = HqString(kDecodedTemplate);
    depth_ = 0;
    leaf_only_ = false;
    qp_state_ = 0;
    qp_high_ = 0;
}

HqMimePart::~HqMimePart()
{
    if (decoded_out_)
        fclose(decoded_out_);
    if (!decoded_path_.isnull())
        unlink(decoded_path_.cstr());
    message_child_.reset();
    children_.clear();
}

long HqMimePart::fstrfind(FILE *stream, const char *pattern, long from, bool nocase)
{
    size_t len = pattern ? strlen(pattern) : 0;
    if (!stream || len == 0 || len >= kBlock)
        return -1;
    HqFileReader file(fileno(stream), false);
    return file.find(pattern, len, from, end_, nocase);
}

long HqMimePart::search(const char *pattern, long from, bool nocase)
{
    size_t len = pattern ? strlen(pattern) : 0;
    if (!reader_ || len == 0 || len >= kBlock)
        return -1;
    return reader_->find(pattern, len, from, end_, nocase);
}

long HqMimePart::find_delimiter(long from, bool closing, long *length)
{
    if (!reader_ || delimiter_.empty())
        return -1;
    std::string text = closing ? delimiter_ + "--" : delimiter_;
    for (long at = from;;) {
        long pos = reader_->find(text.data(), text.size(), at, end_, false);
        if (pos < 0)
            return -1;
        long p = pos + static_cast<long>(text.size());
        int c;
        while ((c = reader_->byte_at(p)) == ' ' || c == '\t')
            ++p;
        if (c == '\r' && reader_->byte_at(p + 1) == '\n')
            c = reader_->byte_at(++p);
        if (c == '\n') {
            *length = p + 1 - pos;
            return pos;
        }
        at = pos + 1;
    }
}

int HqMimePart::byte_at(long offset) { return reader_ ? reader_->byte_at(offset) : -1; }

long HqMimePart::find_header_end()
{
    if (start_ >= end_) {
        header_end_ = end_;
        return header_end_;
    }
    int first = byte_at(start_);
    if (first == '\n' || (first == '\r' && start_ + 1 < end_ && byte_at(start_ + 1) == '\n')) {
        header_end_ = start_;
        return header_end_;
    }
    // The earlier blank line counts, whichever line ends the message uses.
    long lf = search("\n\n", start_, false);
    long crlf = reader_ ? reader_->find("\n\r\n", 3, start_, lf < 0 ? end_ : lf, false) : -1;
    long pos = lf < 0 ? crlf : crlf < 0 ? lf : std::min(lf, crlf);
    header_end_ = pos < 0 ? end_ : std::min(pos + 1, end_);
    return header_end_;
}

long HqMimePart::body_start()
{
    if (header_end_ >= end_)
        return end_;
    return header_end_ + (byte_at(header_end_) == '\r' ? 2 : 1);
}

const char *HqMimePart::line_end()
{
    return header_end_ < end_ && byte_at(header_end_) == '\r' ? "\r\n" : "\n";
}

int HqMimePart::find_header_index(long offset)
{
    if (!reader_)
        return -1;
    char line[32];
    size_t n = reader_->read(offset, line, sizeof line);
    for (int i = 0; i < kHeaderCount; ++i) {
        size_t len = strlen(kHeaderNames[i]);
        if (n >= len && static_cast<long>(len) <= header_end_ - offset &&
            strncasecmp(line, kHeaderNames[i], len) == 0)
            return i;
    }
    return -1;
}

void HqMimePart::strip_tab_newline(char *text)
{
    char *out = text;
    for (char *p = text; *p; ++p) {
        if (*p == '\n' || *p == '\r')
            continue;
        *out++ = *p == '\t' ? ' ' : *p;
    }
    *out = '\0';
}

std::string HqMimePart::strtrim(const char *text)
{
    std::string s(text ? text : "");
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

void HqMimePart::parse_headers()
{
    long pos = start_;
    while (pos < header_end_) {
        int index = find_header_index(pos);
        if (index < 0) {
            long nl = search("\n", pos, false);
            pos = nl < 0 || nl >= header_end_ ? header_end_ : nl + 1;
            continue;
        }
        long value_start = pos + static_cast<long>(strlen(kHeaderNames[index]));
        long value_end;
        long from = value_start;
        for (;;) {
            long nl = search("\n", from, false);
            if (nl < 0 || nl > header_end_) {
                value_end = header_end_;
                break;
            }
            // A line that starts with white space continues the value.
            int next = byte_at(nl + 1);
            if (next == ' ' || next == '\t') {
                from = nl + 2;
                continue;
            }
            value_end = nl;
            break;
        }
        size_t size = static_cast<size_t>(std::min<long>(std::max<long>(value_end - value_start, 0), 8192));
        std::string raw(size, '\0');
        if (size && reader_->read(value_start, &raw[0], size) != size)
            raw.clear();
        raw = raw.c_str();   // a NUL byte ends the value
        strip_tab_newline(&raw[0]);
        raw = raw.c_str();
        std::string value = strtrim(raw.c_str());

        switch (index) {
        case 0:
            parse_content_type(&raw[0]);
            break;
        case 1:
            encoding_ = strcasecmp(value.c_str(), "base64") == 0             ? ENCODING_BASE64
                        : strcasecmp(value.c_str(), "quoted-printable") == 0 ? ENCODING_QUOTED_PRINTABLE
                                                                            : ENCODING_OTHER;
            log_part(7, "The encoding is %s(%s)\n", value, encoding_);
            break;
        case 2: {
            std::string disposition = trim_blanks(value.substr(0, value.find(';')));
            if (strcasecmp(disposition.c_str(), "attachment") == 0)
                attachment_ = true;
            break;
        }
        case 7:
            logging_header(value);
            break;
        default:
            break;
        }
        pos = value_end + 1;
    }
}

void HqMimePart::parse_content_type(char *value)
{
    const char *p = value + strspn(value, " \t");
    size_t type_len = strcspn(p, "/;");
    std::string type = trim_blanks(std::string(p, type_len));
    std::string subtype;
    p += type_len;
    if (*p == '/') {
        ++p;
        size_t n = strcspn(p, ";");
        subtype = trim_blanks(std::string(p, n));
        p += n;
    }
    log_part(8, "The type is %s\nThe subtype is %s\n", type, subtype);

    const char *s = subtype.c_str();
    content_subtype_ = strcasecmp(s, "html") == 0       ? CONTENT_SUBTYPE_HTML
                       : strcasecmp(s, "plain") == 0    ? CONTENT_SUBTYPE_PLAIN
                       : strcasecmp(s, "calendar") == 0 ? CONTENT_SUBTYPE_CALENDAR
                                                        : CONTENT_SUBTYPE_OTHER;
    const char *t = type.c_str();
    content_type_ = strcasecmp(t, "multipart") == 0     ? CONTENT_TYPE_MULTIPART
                    : strcasecmp(t, "text") == 0        ? CONTENT_TYPE_TEXT
                    : strcasecmp(t, "application") == 0 ? CONTENT_TYPE_APPLICATION
                    : strcasecmp(t, "message") == 0     ? CONTENT_TYPE_MESSAGE
                                                        : CONTENT_TYPE_OTHER;

    while (*p == ';') {
        p += strspn(p, "; \t");
        size_t n = strcspn(p, "=");
        std::string name = trim_blanks(std::string(p, n));
        p += n;
        if (strcasecmp(name.c_str(), "boundary") != 0 || *p != '=') {
            p += strcspn(p, ";");
            continue;
        }
        p += strspn(p, "= \t");
        std::string boundary;
        if (*p == '"') {
            ++p;
            boundary.assign(p, strcspn(p, "\""));
        } else {
            boundary = trim_blanks(std::string(p, strcspn(p, ";")));
        }
        // An empty boundary would make every "--" line a boundary.
        if (!boundary.empty()) {
            boundary_ = HqString::format("--%s\n", boundary.c_str());
            closing_boundary_ = HqString::format("--%s--\n", boundary.c_str());
            delimiter_ = "--" + boundary;
        }
        break;
    }
}

void HqMimePart::logging_header(const std::string &) {}

std::unique_ptr<HqMimePart> HqMimePart::make_child(long from, long to)
{
    auto child = std::make_unique<HqMimePart>();
    child->start_ = from;
    child->end_ = to;
    child->decoded_template_ = decoded_template_;
    child->reader_ = reader_;
    child->depth_ = depth_ + 1;
    if (child->depth_ > kMaxDepth) {
        log_part(2, "MIME part at %s kept whole (nested too deep)\n", from);
        child->leaf_only_ = true;
    }
    child->process_part();
    return child;
}

long HqMimePart::process_part()
{
    find_header_end();
    parse_headers();
    if (leaf_only_)
        return header_end_;
    if (content_type_ == CONTENT_TYPE_MULTIPART && !boundary_.isnull()) {
        children_.clear();
        long line = 0;
        long c = find_delimiter(header_end_, false, &line);
        while (c > 0 && c < end_) {
            long from = c + line;
            long next_line = 0;
            long b = find_delimiter(from, false, &next_line);
            bool last = b < 0 || b >= end_;
            if (last) {
                long closing_line = 0;
                b = find_delimiter(from, true, &closing_line);
                b = b < 0 ? end_ : std::min(b, end_);
            }
            children_.push_back(make_child(from, b));
            if (last)
                break;
            c = b;
            line = next_line;
        }
    } else if (content_type_ == CONTENT_TYPE_MESSAGE && header_end_ < end_) {
        // Without a blank line there is no body to hold a message; a child
        // over the part's own bytes would repeat this part without end.
        message_child_ = make_child(body_start(), end_);
    }
    return header_end_;
}
