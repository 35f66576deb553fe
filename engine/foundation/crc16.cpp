// The CRC-16 table, computed by the compiler.
#include "foundation/crc16.h"

namespace telsor {

namespace {

struct tag_CRC16_TABLE {
  WORD entries[256];
};

constexpr tag_CRC16_TABLE MakeCrc16Table() {
  tag_CRC16_TABLE t{};
  for (int i = 0; i < 256; ++i) {
    unsigned crc = static_cast<unsigned>(i) << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    t.entries[i] = static_cast<WORD>(crc);
  }
  return t;
}

constexpr tag_CRC16_TABLE kCrc16 = MakeCrc16Table();
static_assert(kCrc16.entries[1] == 0x1021, "polynomial");
static_assert(kCrc16.entries[128] == 0x9188, "msb-first table");

}  // namespace

const WORD g_awCrc16Table[256] = {
#define CRC16_ROW(r)                                                                  \
  kCrc16.entries[r + 0], kCrc16.entries[r + 1], kCrc16.entries[r + 2], kCrc16.entries[r + 3], \
      kCrc16.entries[r + 4], kCrc16.entries[r + 5], kCrc16.entries[r + 6], kCrc16.entries[r + 7]
#define CRC16_ROWS(r) CRC16_ROW(r), CRC16_ROW(r + 8), CRC16_ROW(r + 16), CRC16_ROW(r + 24)
    CRC16_ROWS(0),   CRC16_ROWS(32),  CRC16_ROWS(64),  CRC16_ROWS(96),
    CRC16_ROWS(128), CRC16_ROWS(160), CRC16_ROWS(192), CRC16_ROWS(224),
#undef CRC16_ROWS
#undef CRC16_ROW
};

}  // namespace telsor
