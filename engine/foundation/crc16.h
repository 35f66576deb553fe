// The CRC-16 table: polynomial 0x1021, most significant bit first (entry i
// is the CRC of byte i shifted into the high byte; entry 1 is 0x1021).
//
//   const BYTE* p = reinterpret_cast<const BYTE*>("123456789");
//   WORD crc = 0;
//   for (size_t i = 0; i < 9; ++i)
//     crc = static_cast<WORD>(g_awCrc16Table[((crc >> 8) ^ p[i]) & 0xFF] ^ (crc << 8));
//   // crc is 0x31C3
//
// A constant table: safe to read from any thread.
#ifndef TELSOR_FOUNDATION_CRC16_H
#define TELSOR_FOUNDATION_CRC16_H

#include "foundation/wintypes.h"

namespace telsor {

extern const WORD g_awCrc16Table[256];

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_CRC16_H
