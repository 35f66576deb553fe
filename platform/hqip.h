// IPv4 addresses and networks, as the console reads and writes them.
//
//   HqIPNet net("10.1.2.3/16", 24);      // prefix length 24 when the text gives none
//   net.normalize();                     // a prefix length past 32 becomes 32
//   net.base().text();                   // "10.1.2.3" (host bits are kept)
//   net.netmask().text();                // "255.255.0.0"
//   HqIPNet eth(HqIPAddr("10.0.0.5"), HqIPAddr("255.255.255.0"));   // bits() == 24
//
// Values are plain copies; addresses are kept in host byte order.
#pragma once

#include <cstdint>

#include "hqstring.h"

class HqIPAddr {
public:
    HqIPAddr() = default;                       // 0.0.0.0
    explicit HqIPAddr(uint32_t value) : value_(value) {}
    // Dotted quad "a.b.c.d" (white space around allowed); 0.0.0.0 and not
    // valid when the text is not one.
    explicit HqIPAddr(const char *text);

    bool isvalid() const { return valid_; }
    uint32_t value() const { return value_; }
    HqString text() const;

    bool operator==(const HqIPAddr &o) const { return value_ == o.value_; }
    bool operator!=(const HqIPAddr &o) const { return value_ != o.value_; }
    bool operator<(const HqIPAddr &o) const { return value_ < o.value_; }

private:
    uint32_t value_ = 0;
    bool valid_ = true;
};

class HqIPNet {
public:
    HqIPNet() = default;                        // 0.0.0.0/0
    HqIPNet(const HqIPAddr &base, int bits) : base_(base), bits_(bits) {}
    // The prefix length is the count of leading one bits of `netmask`.
    HqIPNet(const HqIPAddr &base, const HqIPAddr &netmask);
    // "a.b.c.d/n", "a.b.c.d/m.m.m.m" or "a.b.c.d"; `defbits` when nothing
    // (or no number) follows the address.
    explicit HqIPNet(const char *text, int defbits = 32);

    const HqIPAddr &base() const { return base_; }
    int bits() const { return bits_; }
    HqIPAddr netmask() const;
    // Keeps the prefix length within 0..32.
    void normalize();
    // "a.b.c.d/n"
    HqString text() const;

    bool operator==(const HqIPNet &o) const { return base_ == o.base_ && bits_ == o.bits_; }
    bool operator!=(const HqIPNet &o) const { return !(*this == o); }

private:
    HqIPAddr base_;
    int bits_ = 0;
};
