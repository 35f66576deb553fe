// CSeekMatches: whole-text wildcard match (Sieve ":matches").
//
//   CSeekMatches m;                            // capabilities 0
//   m.Compile("*@example.??", 0, 0);           // case ignored
//   DWORD len;
//   DWORD at = m.Search("Joe@EXAMPLE.de", 0, &len);   // 0, len 14
//
//   CSeekMatches c(SEEK_CAPS_BRACKETS | SEEK_CAPS_ESCAPE);
//   c.Compile("[^0-9]*\\*", 1, 0);             // not a digit, anything, '*'
//
// Pattern language:
//   *  any run of bytes (also empty);  ?  exactly one byte;
//   with SEEK_CAPS_BRACKETS: [set] one byte of the set: single bytes and
//      ranges lo-hi; ^ first negates; ] first (after ^) is a member, - first
//      or last is a member; a [ without its closing ] is a plain byte;
//   with SEEK_CAPS_ESCAPE: \c the byte c itself, also inside a set (a
//      backslash at the very end is a plain backslash).
// Everything else, and with capabilities 0 also [ and \, matches itself.
// Without regard to case the pattern is lower-cased at Compile (so ranges
// are taken over the lower-cased text) and ASCII letters of the text fold.
//
// The match runs in O(text x pattern) at worst (one backtrack point, the
// last star), never exponentially. Streams are not searched (a whole-text
// match). The record is the base record; the capabilities are the
// object's own (the script loader makes its matchers with 0).
#ifndef TELSOR_SEARCH_SEEKMATCHES_H
#define TELSOR_SEARCH_SEEKMATCHES_H

#include <vector>

#include "search/seekpattern.h"

namespace telsor {

// Capability bits of the wildcard language.
enum tag_CAPABILITIES_BIT : DWORD {
  SEEK_CAPS_NONE = 0x0,      // only * and ? are special
  SEEK_CAPS_BRACKETS = 0x1,  // [set] with ranges and ^ negation
  SEEK_CAPS_ESCAPE = 0x2,    // backslash takes the next byte literally
};
inline tag_CAPABILITIES_BIT operator|(tag_CAPABILITIES_BIT a, tag_CAPABILITIES_BIT b) {
  return static_cast<tag_CAPABILITIES_BIT>(static_cast<DWORD>(a) | static_cast<DWORD>(b));
}

class CSeekMatches : public CSeekPattern {
 public:
  explicit CSeekMatches(tag_CAPABILITIES_BIT caps = SEEK_CAPS_NONE);
  ~CSeekMatches() override;

  // Returns 0, E_SEEK_PATTERN_TOO_LONG for a pattern of 0xFFFF bytes or more (matcher
  // left empty), E_OUTOFMEMORY when memory runs out.
  HRESULT Compile(const char* pattern, int caseSensitive, DWORD len) override;
  using CSeekPattern::Search;  // streams: the base's, which matches nothing
  // 0 with *matchLen = text length when the whole text matches, else -1.
  // A matcher that holds no pattern matches nothing.
  DWORD Search(const char* text, DWORD len, DWORD* matchLen) const override;
  HRESULT Serialize(IStream* stream, int store) override;

  tag_CAPABILITIES_BIT GetCapabilities() const { return m_caps; }

 private:
  enum { TOKEN_BYTE, TOKEN_ANY, TOKEN_STAR, TOKEN_SET };
  struct tag_TOKEN {
    BYTE kind;
    BYTE value;  // TOKEN_BYTE: the byte
    WORD set;    // TOKEN_SET: index into m_sets
  };
  struct tag_BYTESET {
    BYTE bits[32];
  };

  HRESULT Tokenize();
  // Reads one set member at p[*at] (escape aware); advances *at.
  BYTE SetMember(DWORD* at) const;
  bool Matches(const BYTE* text, size_t len) const;

  tag_CAPABILITIES_BIT m_caps;
  std::vector<tag_TOKEN> m_tokens;
  std::vector<tag_BYTESET> m_sets;
};

}  // namespace telsor

#endif  // TELSOR_SEARCH_SEEKMATCHES_H
