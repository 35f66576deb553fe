// Part decoding into files of their own, and copies of a part with or
// without its flagged parts.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hqcodec.h"
#include "hqmimepart.h"

namespace {

// Index in the base64 alphabet, 64 for the end mark '=', -1 for other bytes.
int base64_index(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return 64;
    return -1;
}

enum { QP_TEXT, QP_ESCAPE, QP_ESCAPE_DIGIT, QP_SOFT_BREAK };

const char kAllInfected[] = "All subparts of this MIME message are infected with a virus.";

}  // namespace

bool HqMimePart::copy_range(long from, long to, FILE *out)
{
    return from >= to || (reader_ && reader_->copy(from, to, out));
}

int HqMimePart::decode_data(const char *path)
{
    if (!children_.empty()) {
        for (auto &child : children_)
            child->decode_data(nullptr);
        return 0;
    }
    if (message_child_) {
        message_child_->decode_data(nullptr);
        return 0;
    }
    FILE *out = nullptr;
    if (path) {
        out = fopen(path, "wb+");
    } else {
        std::string name = decoded_template_.str();
        int fd = mkstemp(&name[0]);
        if (fd < 0)
            return 0;
        decoded_path_ = HqString(name);
        out = fdopen(fd, "w");
        if (!out)
            close(fd);
    }
    if (!out)
        return 0;
    decoded_out_ = out;
    switch (encoding_) {
    case ENCODING_BASE64:
        decode_base64();
        break;
    case ENCODING_QUOTED_PRINTABLE:
        decode_quoted();
        break;
    default:
        decode_text();
        break;
    }
    fflush(decoded_out_);
    int r = fclose(decoded_out_);
    decoded_out_ = nullptr;
    return r;
}

int HqMimePart::decode_text()
{
    FILE *out = decoded_out_;
    return copy_range(body_start(), end_, out) ? 0 : -1;
}

int HqMimePart::decode_base64_part(const char *block, int length, int *carried, unsigned char *carry)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(static_cast<size_t>(length) / 4 * 3 + 3);
    bool ended = false;
    for (int i = 0; i < length && !ended; ++i) {
        int v = base64_index(static_cast<unsigned char>(block[i]));
        if (v < 0)
            continue;   // line ends and other bytes outside the alphabet
        if (v == 64) {
            // The end mark completes a group of two or three characters;
            // anywhere else it carries nothing.
            if (*carried < 2)
                continue;
            bytes.push_back(static_cast<unsigned char>(carry[0] << 2 | carry[1] >> 4));
            if (*carried == 3)
                bytes.push_back(static_cast<unsigned char>(carry[1] << 4 | carry[2] >> 2));
            *carried = 0;
            ended = true;
            break;
        }
        carry[(*carried)++] = static_cast<unsigned char>(v);
        if (*carried == 4) {
            bytes.push_back(static_cast<unsigned char>(carry[0] << 2 | carry[1] >> 4));
            bytes.push_back(static_cast<unsigned char>(carry[1] << 4 | carry[2] >> 2));
            bytes.push_back(static_cast<unsigned char>(carry[2] << 6 | carry[3]));
            *carried = 0;
        }
    }
    if (!bytes.empty() && decoded_out_)
        fwrite(bytes.data(), 1, bytes.size(), decoded_out_);
    return ended ? -1 : static_cast<int>(bytes.size());
}

int HqMimePart::decode_base64()
{
    int carried = 0;
    unsigned char carry[4] = {0, 0, 0, 0};
    bool ended = false;
    if (reader_) {
        reader_->each(body_start(), end_, [&](const char *data, size_t n) {
            ended = decode_base64_part(data, static_cast<int>(n), &carried, carry) < 0;
            return !ended;
        });
    }
    // A last group that lost its end marks still carries whole bytes.
    if (!ended && carried >= 2)
        decode_base64_part("==", 4 - carried, &carried, carry);
    return 0;
}

int HqMimePart::decode_quoted_part(HqBuf &block, bool finish)
{
    HqInPlaceBuf out(block.used() + 2);
    std::string bytes;
    bytes.reserve(block.used() + 2);
    const char *p = block.peek();
    size_t n = block.used();
    for (size_t i = 0; i < n; ++i) {
        int c = static_cast<unsigned char>(p[i]);
        switch (qp_state_) {
        case QP_TEXT:
            if (c == '=')
                qp_state_ = QP_ESCAPE;
            else
                bytes.push_back(static_cast<char>(c));
            break;
        case QP_ESCAPE:
            if (c == '\n') {
                qp_state_ = QP_TEXT;   // soft line break
            } else if (c == '\r') {
                qp_state_ = QP_SOFT_BREAK;
            } else if (c == '=') {
                bytes.push_back('=');
                qp_state_ = QP_TEXT;
            } else if (hq_hex_value(c) >= 0) {
                qp_high_ = c;
                qp_state_ = QP_ESCAPE_DIGIT;
            } else {
                bytes.push_back('=');
                bytes.push_back(static_cast<char>(c));
                qp_state_ = QP_TEXT;
            }
            break;
        case QP_ESCAPE_DIGIT:
            if (hq_hex_value(c) >= 0) {
                bytes.push_back(static_cast<char>(hq_hex_value(qp_high_) << 4 | hq_hex_value(c)));
                qp_state_ = QP_TEXT;
            } else {
                // Not an escape: both bytes stand for themselves.
                bytes.push_back('=');
                bytes.push_back(static_cast<char>(qp_high_));
                qp_state_ = QP_TEXT;
                --i;   // look at this byte again as text
            }
            break;
        case QP_SOFT_BREAK:
            if (c == '\n')
                qp_state_ = QP_TEXT;
            break;
        }
    }
    block.get(nullptr, n);
    if (finish) {
        if (qp_state_ == QP_ESCAPE_DIGIT) {
            bytes.push_back('=');
            bytes.push_back(static_cast<char>(qp_high_));
        }
        qp_state_ = QP_TEXT;
    }
    out.putstr(bytes.data(), bytes.size());
    size_t size = out.used();
    if (size && decoded_out_ && fwrite(out.peek(), 1, size, decoded_out_) != size)
        return -1;
    return static_cast<int>(size);
}

int HqMimePart::decode_quoted()
{
    qp_state_ = QP_TEXT;
    HqDynBuf buf(1024, 1 << 20);
    bool ok = !reader_ || reader_->each(body_start(), end_, [&](const char *data, size_t n) {
        if (!buf.putstr(data, n))
            return false;
        decode_quoted_part(buf, false);
        return true;
    });
    return decode_quoted_part(buf, true) < 0 || !ok ? -1 : 0;
}

int HqMimePart::dump_to_file(FILE *out, bool skip_flagged)
{
    if (skip_flagged && (suspicious_ || infected_))
        return 0;
    // The copy keeps the part's own line ends.
    const std::string eol = line_end();
    if (!children_.empty()) {
        copy_range(start_, header_end_, out);
        fputs((eol + eol).c_str(), out);
        int written = 0;
        for (auto &child : children_) {
            if (skip_flagged && (child->suspicious_ || child->infected_))
                continue;
            fputs((eol + delimiter_ + eol).c_str(), out);
            child->dump_to_file(out, skip_flagged);
            ++written;
        }
        if (written)
            fputs((eol + eol + delimiter_ + "--" + eol + eol).c_str(), out);
        else
            fputs((eol + kAllInfected + eol).c_str(), out);
    } else if (message_child_) {
        // The header block and its blank line, then the embedded message
        // from its first byte.
        copy_range(start_, message_child_->start_, out);
        message_child_->dump_to_file(out, skip_flagged);
    } else {
        copy_range(start_, end_, out);
    }
    return ferror(out) ? -1 : 0;
}
