// Little-endian byte strings for building and checking the learning core's
// records in tests, and a helper that stores an object into a string.
#ifndef TELSOR_TESTS_ENGINE_CLASSIFY_RECORDBYTES_H
#define TELSOR_TESTS_ENGINE_CLASSIFY_RECORDBYTES_H

#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <string>

#include "common/teststream.h"

inline std::string U16(unsigned v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; }
inline std::string U32(unsigned v) { return U16(v & 0xFFFF) + U16(v >> 16); }
inline std::string U64(unsigned long long v) {
  return U32(static_cast<unsigned>(v)) + U32(static_cast<unsigned>(v >> 32));
}
inline std::string F64(double d) {
  unsigned long long bits;
  memcpy(&bits, &d, 8);
  return U64(bits);
}
inline std::string F32(float f) {
  unsigned bits;
  memcpy(&bits, &f, 4);
  return U32(bits);
}

// The bytes written by store into a fresh stream; the store must succeed.
inline std::string Stored(const std::function<HRESULT(CTestStream&)>& store) {
  CTestStream s;
  EXPECT_EQ(S_OK, store(s));
  return s.str();
}

#endif  // TELSOR_TESTS_ENGINE_CLASSIFY_RECORDBYTES_H
