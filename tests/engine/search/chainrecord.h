// Packed transition table records with long default chains, as tables
// were packed before chains were bounded (or as a hostile record might
// be), for the loaders' tests.
#ifndef TELSOR_TESTS_CHAINRECORD_H
#define TELSOR_TESTS_CHAINRECORD_H

#include <string>

namespace telsor_test {

inline std::string U16(unsigned v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; }
inline std::string U32(unsigned v) { return U16(v & 0xFFFF) + U16(v >> 16); }

// A record of n states in which every state defaults to the one before
// it, so a lookup from state i walks i defaults: state i owns the entry at
// index i + 7 (base i), its move on index 7 to state i + 1 (mod n); every
// other index has no move. No dense state.
inline std::string ChainRecord(unsigned n) {
  std::string r = "\x01" + U32(n + 7) + U32(n) + U32(0) + U16(0xFFFF);
  for (unsigned i = 0; i < n; ++i) r += std::string(1, '\0') + U16(i == 0 ? 0xFFFF : i - 1) + U32(i);
  for (unsigned e = 0; e < n + 7; ++e) {
    const bool owned = e >= 7;
    r += U16(owned ? (e - 7 + 1) % n : 0xFFFF) + U16(owned ? e - 7 : 0xFFFF);
  }
  return r;
}

}  // namespace telsor_test

#endif  // TELSOR_TESTS_CHAINRECORD_H
