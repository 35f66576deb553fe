// The CRC-16 table (polynomial 0x1021, most significant bit first) against
// its bitwise definition and the standard check values.
#include <gtest/gtest.h>

#include "foundation/crc16.h"

using namespace telsor;

namespace {

TEST(Crc16, TableAndCheckValue) {
  EXPECT_EQ(g_awCrc16Table[0], 0);
  EXPECT_EQ(g_awCrc16Table[1], 0x1021);
  EXPECT_EQ(g_awCrc16Table[128], 0x9188);
  // Every entry against the bitwise definition.
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i << 8;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
    ASSERT_EQ(g_awCrc16Table[i], crc) << i;
  }
  struct Case {
    const char* text;
    WORD crc;
  } cases[] = {{"123456789", 0x31C3}, {"", 0}, {"A", 0x58E5}};
  for (const Case& c : cases) {
    WORD crc = 0;
    for (const char* p = c.text; *p; ++p) {
      crc = static_cast<WORD>(g_awCrc16Table[((crc >> 8) ^ static_cast<BYTE>(*p)) & 0xFF] ^ (crc << 8));
    }
    EXPECT_EQ(crc, c.crc) << c.text;
  }
}

}  // namespace
