#include <gtest/gtest.h>

#include <cstring>

#include "hqbuf.h"

TEST(HqBuf, AllocUnallocGetUnget)
{
    HqDynBuf buf(4, 64);
    char *room = buf.alloc(10);
    ASSERT_NE(room, nullptr);
    memcpy(room, "0123456", 7);
    buf.unalloc(3);
    EXPECT_EQ(buf.used(), 7u);
    char two[2];
    EXPECT_EQ(buf.get(two, 2), 2u);
    EXPECT_EQ(std::string(two, 2), "01");
    buf.unget(1);
    EXPECT_EQ(std::string(buf.peek(), buf.used()), "123456");
    EXPECT_TRUE(buf.putstr("ab"));
    EXPECT_EQ(buf.getstr().str(), "123456ab");
    EXPECT_EQ(buf.used(), 0u);
}

TEST(HqBuf, GrowsUpToItsMaximumOnly)
{
    HqDynBuf buf(1, 100);
    EXPECT_TRUE(buf.putstr(std::string(60, 'x').c_str()));
    EXPECT_TRUE(buf.putstr(std::string(40, 'y').c_str()));
    EXPECT_EQ(buf.alloc(1), nullptr);
    EXPECT_FALSE(buf.putstr("z"));
    EXPECT_EQ(buf.used(), 100u);
    // Space freed at the front is used again.
    EXPECT_EQ(buf.get(nullptr, 50), 50u);
    EXPECT_TRUE(buf.putstr(std::string(50, 'z').c_str()));
    EXPECT_EQ(buf.getstr().str(), std::string(10, 'x') + std::string(40, 'y') + std::string(50, 'z'));
}

TEST(HqBuf, InPlaceHasAFixedSize)
{
    HqInPlaceBuf buf(8);
    EXPECT_EQ(buf.maximum(), 8u);
    EXPECT_TRUE(buf.putstr("12345678"));
    EXPECT_FALSE(buf.putstr("9"));
    EXPECT_EQ(buf.getstr().str(), "12345678");
}
