#include "hqcodec.h"

#include <string>

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int hex_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

HqBase64Encoder::HqBase64Encoder(int line_length) : line_length_(line_length < 4 ? 0 : line_length / 4 * 4) {}

bool HqBase64Encoder::encode(HqBuf &in, HqBuf &out, bool flush, bool finish)
{
    size_t take = in.used();
    if (!finish) {
        size_t unit = flush || !line_length_ ? 3 : static_cast<size_t>(line_length_) / 4 * 3;
        take -= take % unit;
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(in.peek());
    std::string text;
    text.reserve(take / 3 * 4 + take / 32 + 8);
    int column = column_;
    auto put = [&](char c) {
        if (line_length_ && column == line_length_) {
            text.push_back('\n');
            column = 0;
        }
        text.push_back(c);
        ++column;
    };
    for (size_t i = 0; i < take; i += 3) {
        unsigned v = static_cast<unsigned>(p[i]) << 16;
        size_t n = take - i < 3 ? take - i : 3;
        if (n > 1)
            v |= static_cast<unsigned>(p[i + 1]) << 8;
        if (n > 2)
            v |= p[i + 2];
        put(kBase64[(v >> 18) & 63]);
        put(kBase64[(v >> 12) & 63]);
        put(n > 1 ? kBase64[(v >> 6) & 63] : '=');
        put(n > 2 ? kBase64[v & 63] : '=');
    }
    if (!out.putstr(text.data(), text.size()))
        return false;
    in.get(nullptr, take);
    column_ = finish ? 0 : column;
    return true;
}

bool HqHexDecoder::flush(HqBuf &in, HqBuf &out, bool finish)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(in.peek());
    size_t n = in.used();
    std::string bytes;
    bytes.reserve(n / 2);
    size_t consumed = 0;
    int high = -1;
    for (size_t i = 0; i < n; ++i) {
        int v = hex_value(p[i]);
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<char>(high << 4 | v));
            high = -1;
            consumed = i + 1;
        }
    }
    if (high < 0 || finish)
        consumed = n;
    if (!out.putstr(bytes.data(), bytes.size()))
        return false;
    in.get(nullptr, consumed);
    return true;
}
