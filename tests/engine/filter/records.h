// Building compiled-script bytes by hand for record tests: little-endian
// fields, record heads, and containers sealed with a checksum computed here
// bit by bit (independently of the engine's table).
#ifndef TESTS_ENGINE_FILTER_RECORDS_H
#define TESTS_ENGINE_FILTER_RECORDS_H

#include <stdint.h>

#include <string>

#include "common/teststream.h"
#include "filter/sievescript.h"

namespace rec {

inline std::string U8(unsigned v) { return std::string(1, static_cast<char>(v)); }
inline std::string U16(unsigned v) { return U8(v & 0xFF) + U8((v >> 8) & 0xFF); }
inline std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
inline std::string U64(uint64_t v) { return U32(static_cast<uint32_t>(v)) + U32(static_cast<uint32_t>(v >> 32)); }
inline std::string Head(unsigned type, uint32_t line = 0) { return U16(type) + U32(line); }
inline std::string Str(const std::string& s) { return U32(static_cast<uint32_t>(s.size())) + s; }
// A string array of the texts.
inline std::string Array(std::initializer_list<std::string> texts) {
  std::string body;
  uint32_t total = 0;
  for (const std::string& t : texts) {
    body += U16(static_cast<unsigned>(t.size())) + t;
    total += static_cast<uint32_t>(t.size()) + 1;
  }
  return U16(static_cast<unsigned>(texts.size())) + U32(total) + body;
}
// A command list record holding the records given.
inline std::string Commands(std::initializer_list<std::string> children, uint32_t line = 0) {
  std::string r = Head(17, line) + U32(static_cast<uint32_t>(children.size()));
  for (const std::string& c : children) r += c;
  return r;
}

// CRC-16/XMODEM, one bit at a time.
inline uint16_t Crc16(const std::string& bytes) {
  uint16_t crc = 0;
  for (unsigned char b : bytes) {
    crc ^= static_cast<uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// "TELSOR_SIEVE", checksum, version, length, then the root record.
inline std::string Container(const std::string& root, unsigned version = 6) {
  std::string rest = U16(version) + U32(static_cast<uint32_t>(root.size() + 8)) + root;
  return "TELSOR_SIEVE" + U16(Crc16(rest)) + rest;
}

// The root record of a container (after its 20-byte header).
inline std::string RootOf(const std::string& container) { return container.substr(20); }

inline std::string Stored(const telsor::CSieveScript& script) {
  CTestStream s;
  if (const_cast<telsor::CSieveScript&>(script).Serialize(&s, 1) != S_OK) return "(store failed)";
  return s.str();
}

inline HRESULT Load(const std::string& bytes, telsor::CSieveScript& script) {
  CTestStream s(bytes);
  return script.Serialize(&s, 0);
}

}  // namespace rec

#endif  // TESTS_ENGINE_FILTER_RECORDS_H
