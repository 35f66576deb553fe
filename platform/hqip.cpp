#include "hqip.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// One decimal number 0..limit at `p`; advances past it.
bool take_number(const char *&p, long limit, long *out)
{
    if (!isdigit(static_cast<unsigned char>(*p)))
        return false;
    long v = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
        v = v * 10 + (*p++ - '0');
        if (v > limit)
            return false;
    }
    *out = v;
    return true;
}

bool parse_quad(const char *p, const char *end, uint32_t *value)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        long part;
        if (!take_number(p, 255, &part))
            return false;
        v = (v << 8) | static_cast<uint32_t>(part);
        if (i < 3 && *p++ != '.')
            return false;
    }
    if (p != end)
        return false;
    *value = v;
    return true;
}

std::string trimmed(const char *text)
{
    std::string s = text ? text : "";
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

HqIPAddr::HqIPAddr(const char *text)
{
    std::string s = trimmed(text);
    valid_ = parse_quad(s.c_str(), s.c_str() + s.size(), &value_);
    if (!valid_)
        value_ = 0;
}

HqString HqIPAddr::text() const
{
    return HqString::format("%u.%u.%u.%u", value_ >> 24, (value_ >> 16) & 0xFF, (value_ >> 8) & 0xFF, value_ & 0xFF);
}

HqIPNet::HqIPNet(const HqIPAddr &base, const HqIPAddr &netmask) : base_(base)
{
    uint32_t m = netmask.value();
    while (bits_ < 32 && (m & (0x80000000u >> bits_)))
        ++bits_;
}

HqIPNet::HqIPNet(const char *text, int defbits) : bits_(defbits)
{
    std::string s = trimmed(text);
    size_t slash = s.find('/');
    base_ = HqIPAddr(s.substr(0, slash).c_str());
    if (slash == std::string::npos)
        return;
    std::string rest = trimmed(s.c_str() + slash + 1);
    if (rest.find('.') != std::string::npos) {
        HqIPAddr mask(rest.c_str());
        if (mask.isvalid())
            *this = HqIPNet(base_, mask);
        return;
    }
    const char *p = rest.c_str();
    long n;
    if (take_number(p, 1000000, &n) && *p == '\0')
        bits_ = static_cast<int>(n);
}

HqIPAddr HqIPNet::netmask() const
{
    if (bits_ <= 0)
        return HqIPAddr(0u);
    if (bits_ >= 32)
        return HqIPAddr(0xFFFFFFFFu);
    return HqIPAddr(~(0xFFFFFFFFu >> bits_));
}

void HqIPNet::normalize()
{
    if (bits_ < 0)
        bits_ = 0;
    if (bits_ > 32)
        bits_ = 32;
}

HqString HqIPNet::text() const { return HqString::format("%s/%d", base_.text().cstr(), bits_); }
