// CRfc2045Tokenizer: the lexical scanner under every structured header value
// (Content-Type, Content-Disposition, address lists). It cuts a value into
// atoms, single special characters, quoted strings, comments and domain
// literals, skipping white space and control characters between them.
//
//   static const char value[] = "text/plain; charset=\"us-ascii\"";
//   CRfc2045Tokenizer t(reinterpret_cast<const unsigned char*>(value), sizeof value - 1);
//   // the bytes are not copied
//   std::vector<TSTRING> tokens;
//   int kind;
//   while ((kind = t.NextToken()) != CRfc2045Tokenizer::TOKEN_END) {
//     if (kind == CRfc2045Tokenizer::TOKEN_QUOTED) t.StripDelimiters();
//     tokens.push_back(t.Token());  // text / plain ; charset = us-ascii
//   }
//
// Tokens end at RFC 2045 tspecials, so "/", "=" and "?" are single special
// tokens while the full stop belongs to atoms ("a.b.c" is one atom); bytes
// 0x80-0xFF are atom characters. A backslash takes the next byte literally
// in atoms, quoted strings, domain literals and (flag BACKSLASH_IN_COMMENTS,
// on by default) comments; token texts keep their backslashes and
// delimiters. A quoted string, comment or domain literal that the input ends
// inside comes back as TOKEN_UNTERMINATED; an unterminated quoted string
// covers only its first word (up to its first space, control or special
// character), and scanning resumes there.
//
// The memory form reads the caller's bytes in place, never past length; the
// stream form reads at most limit bytes and throws a failing stream call's
// code as DWORD. One thread per tokenizer; g_aCharMap is read-only.
#ifndef TELSOR_MIME_RFC2045TOKENIZER_H
#define TELSOR_MIME_RFC2045TOKENIZER_H

#include "foundation/istream.h"
#include "foundation/streamreader.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

// Character classes of g_aCharMap, one byte per byte value.
enum : BYTE {
  CHAR_CONTROL = 1,   // 0x00-0x1F and 0x7F
  CHAR_SPACE = 2,     // space, tab, LF, CR (the last three are controls too)
  CHAR_SPECIAL = 4,   // RFC 822 specials: . " ( ) , : ; < > @ [ \ ]
  CHAR_TSPECIAL = 8,  // RFC 2045 tspecials: the specials but ".", plus / = ?
};

// The 256-entry character-class table (read-only, shared by all threads).
extern const BYTE* const g_aCharMap;

inline bool IsHeaderSpace(BYTE c) { return (g_aCharMap[c] & CHAR_SPACE) != 0; }

class CRfc2045Tokenizer : public CStreamReader {
 public:
  enum {
    TOKEN_UNTERMINATED = -1,  // quoted string, comment or literal not closed
    TOKEN_END = 0,
    TOKEN_SPECIAL = 1,        // one tspecial: ) , : ; < > @ ] / = ?
    TOKEN_COMMENT = 2,        // "(" to its matching ")"
    TOKEN_QUOTED = 3,         // double quote to double quote
    TOKEN_LITERAL = 4,        // "[" to "]"
    TOKEN_ATOM = 5,
  };
  // Flag bit: a backslash inside a comment escapes the next byte.
  static const ULONG BACKSLASH_IN_COMMENTS = 1;

  CRfc2045Tokenizer(const unsigned char* data, ULONG length);
  CRfc2045Tokenizer(IStream* stream, ULONG limit);
  ~CRfc2045Tokenizer() override;

  // Scans the next token and returns its kind; TOKEN_END from then on at the
  // end of the input.
  int NextToken();
  // The token as written (delimiters, backslashes included).
  const TSTRING& Token() const { return m_strToken; }
  // The token preceded by the white space and controls skipped before it.
  const TSTRING& ExtendToken() const { return m_strExtToken; }
  int Type() const { return m_nType; }
  ULONG SetFlags(ULONG flags) {
    ULONG old = m_dwFlags;
    m_dwFlags = flags;
    return old;
  }
  ULONG GetFlags() const { return m_dwFlags; }
  // Removes the opening and the closing delimiter of a quoted string,
  // comment or domain literal of at least two characters, each only when
  // present. Escapes inside stay; the extended text keeps its delimiters.
  void StripDelimiters();

 protected:
  void ParseToken();
  void ParseQuotedString();
  void ParseComment();
  void ParseDomainLiteral();
  void ParseAtom();

 private:
  // Token text := the input from the token start to the current position;
  // the extended text likewise from the scan start when bytes were skipped.
  void Finish();
  // text := the input bytes [from, to). The memory form copies them into
  // the string's own buffer, which is reused from token to token.
  void CopyInput(DWORD from, DWORD to, TSTRING& text);

  const unsigned char* m_pInput;  // the memory form's bytes; null for a stream

  TSTRING m_strToken;
  TSTRING m_strExtToken;
  int m_nType;
  DWORD m_dwTokenStart;
  DWORD m_dwScanStart;
  ULONG m_dwFlags;
};

}  // namespace telsor

#endif  // TELSOR_MIME_RFC2045TOKENIZER_H
