#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "hqip.h"

TEST(HqIP, AddressesParseAsInetPtonDoes)
{
    const char *texts[] = {"0.0.0.0", "10.0.0.5", "255.255.255.255", "192.168.1.100", "1.2.3", "1.2.3.4.5",
                           "256.1.1.1", "a.b.c.d", "", "1..2.3", "01.2.3.4x"};
    for (const char *t : texts) {
        struct in_addr oracle;
        bool ok = inet_pton(AF_INET, t, &oracle) == 1;
        HqIPAddr a(t);
        EXPECT_EQ(a.isvalid(), ok) << t;
        EXPECT_EQ(a.value(), ok ? ntohl(oracle.s_addr) : 0u) << t;
        if (ok) {
            EXPECT_STREQ(a.text().cstr(), t);
        }
    }
    EXPECT_TRUE(HqIPAddr(" 10.0.0.1 ").isvalid());
    EXPECT_LT(HqIPAddr("9.255.255.255"), HqIPAddr("10.0.0.0"));
}

TEST(HqIP, NetworksFromTextAndFromAMask)
{
    const struct {
        const char *text;
        const char *base;
        int bits;
        const char *mask;
    } table[] = {
        {"10.1.2.3/16", "10.1.2.3", 16, "255.255.0.0"},     // host bits are kept
        {"10.0.0.5", "10.0.0.5", 24, "255.255.255.0"},      // the default length
        {"10.0.0.5/", "10.0.0.5", 24, "255.255.255.0"},
        {"10.0.0.5/x", "10.0.0.5", 24, "255.255.255.0"},
        {"10.0.0.5/0", "10.0.0.5", 0, "0.0.0.0"},
        {"10.0.0.5/32", "10.0.0.5", 32, "255.255.255.255"},
        {"10.0.0.5/99", "10.0.0.5", 32, "255.255.255.255"},  // normalized
        {"10.0.0.5/255.255.252.0", "10.0.0.5", 22, "255.255.252.0"},
        {"garbage", "0.0.0.0", 24, "255.255.255.0"},
    };
    for (const auto &row : table) {
        HqIPNet net(row.text, 24);
        net.normalize();
        EXPECT_STREQ(net.base().text().cstr(), row.base) << row.text;
        EXPECT_EQ(net.bits(), row.bits) << row.text;
        EXPECT_STREQ(net.netmask().text().cstr(), row.mask) << row.text;
    }
    // The prefix length of every contiguous mask, and of no mask at all.
    for (int bits = 0; bits <= 32; ++bits) {
        HqIPNet net(HqIPAddr("192.168.7.20"), HqIPNet(HqIPAddr(), bits).netmask());
        EXPECT_EQ(net.bits(), bits);
        EXPECT_STREQ(net.text().cstr(), ("192.168.7.20/" + std::to_string(bits)).c_str());
    }
    EXPECT_EQ(HqIPNet(HqIPAddr(), HqIPAddr("")).bits(), 0);
}
