// CHTMLTokenizer: cuts HTML text into typed tokens for the HTML-to-clean-text
// converter (html2cleantext.h). It is tolerant: it rejects nothing, knows
// nothing of element nesting, and only tells text from tags, comments,
// quoted attribute values, the raw bodies of script and style elements and
// character entities (decoded to UTF-8).
//
//   static const char html[] = "<b>Hi</b> there";
//   CHTMLTokenizer tok(reinterpret_cast<const unsigned char*>(html), sizeof html - 1);
//   tag_HTML_TOKEN t;
//   ULONG words = 0;
//   while (tok.GetNextToken(t)) {      // 0 and HTML_EOF at the end, every time after
//     if (t.nKind == HTML_WORD) ++words;
//   }
//
// "<p class=x>" gives HTML_TAG_OPEN "<", HTML_TAG_NAME "p", HTML_SPACE " ",
// HTML_WORD "class", HTML_EQUAL "=", HTML_WORD "x", HTML_TAG_CLOSE ">".
// Between tags ">" and "=" are word characters; inside a tag "<", quotes and
// "/" are. End-tag names begin with "/" ("</ b>" gives "/b"). Entities are
// "&#" with 0 to 7 decimal digits and ";", or "&", one to eight characters
// of any kind and ";"; a name outside the table reads as a space (code 32),
// and codes 160 and 32 give the text " ". Hexadecimal references
// ("&#x41;") are not entities.
//
// Comments opened by "<!--" end at a ">" after two dashes (white space
// between them allowed, an odd number of dashes does not close). One that
// does not close ends after its first ">" or, without one, runs to the end
// of the input. All comments together cost time linear in the input: once
// a comment has been seen to run to the end unclosed, later ones need not
// look past their first reset character.
//
// Script and style bodies run up to "<", white space, "/", white space, the
// element name in any case, white space and ">"; quotes do not hide it, and
// a backslash inside quotes escapes the next character.
//
// Ownership: the memory form does not copy the bytes; they must stay alive
// and unchanged while tokens are taken. The stream form (nothing in the
// engine uses it) throws the stream's failures as DWORD (ThrowCode). Out of
// memory throws CMemoryException*. One thread at a time; the entity table is
// shared read-only data.
#ifndef TELSOR_MIME_HTMLTOKENIZER_H
#define TELSOR_MIME_HTMLTOKENIZER_H

#include <memory>

#include "foundation/streamreader.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

enum TYPE_HTML_TOKEN {
  HTML_WORD = 0,        // non-white characters; empty for a tag name that cannot be read
  HTML_SPACE = 1,       // a run of white space, as in the input
  HTML_ENTITY = 2,      // a character entity: its UTF-8 text, " " for codes 160 and 32
  HTML_DQ_STRING = 3,   // a value in double quotes inside a tag, without them, entities decoded
  HTML_SQ_STRING = 4,   // the same in single quotes
  HTML_TAG_OPEN = 5,    // "<"
  HTML_TAG_NAME = 6,    // the name as written; end tags begin with "/"
  HTML_TAG_CLOSE = 7,   // ">"
  HTML_COMMENT = 8,     // the input after "<!--" up to the comment's end
  HTML_EQUAL = 9,       // "=" inside a tag
  HTML_SCRIPT = 10,     // the raw body of a script element, possibly empty
  HTML_STYLE = 11,      // the raw body of a style element, possibly empty
  HTML_EOF = 12,        // the end of the input, ""
};

// One token. The caller owns it and hands the same record to every call.
struct tag_HTML_TOKEN {
  int nKind;     // a TYPE_HTML_TOKEN
  TSTRING strText;
  ULONG dwCode;  // code point of an HTML_ENTITY; other tokens leave it alone

  tag_HTML_TOKEN() : nKind(HTML_WORD), dwCode(0) {}
};

// A growable byte buffer reused from token to token: it doubles as it
// grows, so collecting n bytes costs O(n). Out of memory throws
// CMemoryException*.
class CByteScratch {
 public:
  CByteScratch() : m_nUsed(0), m_nRoom(0) {}
  void Put(char c) {
    if (m_nUsed == m_nRoom) Grow(1);
    m_pBytes[m_nUsed++] = c;
  }
  void Put(const char* p, ULONG n);
  ULONG Size() const { return m_nUsed; }
  const char* Data() const { return m_pBytes.get(); }
  void Clear() { m_nUsed = 0; }
  void Truncate(ULONG n) { if (n < m_nUsed) m_nUsed = n; }
  // text := the bytes (its buffer reused when it can); the scratch is emptied.
  void MoveTo(TSTRING& text);

  CByteScratch(const CByteScratch&) = delete;
  CByteScratch& operator=(const CByteScratch&) = delete;

 private:
  void Grow(ULONG more);

  std::unique_ptr<char[]> m_pBytes;
  ULONG m_nUsed;
  ULONG m_nRoom;
};

// Writes the UTF-8 form of code (reduced modulo 0x110000) and a NUL into out (room for 5
// bytes); returns the bytes written before the NUL (code 0 gives none).
int UnicodeToUTF8(ULONG code, char* out);

class CHTMLTokenizer : public CStreamReader {
 public:
  CHTMLTokenizer(const unsigned char* data, ULONG length);
  // At most length bytes of stream from its current position.
  CHTMLTokenizer(IStream* stream, ULONG length);
  ~CHTMLTokenizer() override;

  // Fills token with the next token and returns 1; at the end of the input
  // fills it with HTML_EOF and returns 0, on this and every later call.
  int GetNextToken(tag_HTML_TOKEN& token);
  // Where the next token starts.
  DWORD GetPos() { return Pos(); }

  CHTMLTokenizer(const CHTMLTokenizer&) = delete;
  CHTMLTokenizer& operator=(const CHTMLTokenizer&) = delete;

 private:
  enum MODE {
    MODE_TEXT,         // between tags
    MODE_TAG_START,    // after the "<" of a tag, before its name
    MODE_IN_TAG,       // after the name (or a quoted value in its place)
    MODE_SCRIPT_TAG,   // inside a start tag named "script"
    MODE_SCRIPT_BODY,  // after the ">" of a script start tag
    MODE_STYLE_TAG,    // inside a start tag named "style"
    MODE_STYLE_BODY,   // after the ">" of a style start tag
  };

  // After an "&": whether an entity follows. The reader is back after the
  // "&" whatever the answer; at most 9 characters are looked at.
  bool IsNextCharEntity();
  // From after the "&" through the ";": the entity's code.
  ULONG ReadEntityCode();
  void GetCharEntity(tag_HTML_TOKEN& token);
  void GetWordToken(tag_HTML_TOKEN& token);
  void GetSpaceToken(tag_HTML_TOKEN& token);
  void GetNameHtmlTag(tag_HTML_TOKEN& token);
  void GetAttributeValue(TSTRING& value, int doubleQuoted);
  void GetComment(tag_HTML_TOKEN& token);
  void GetScriptToken(tag_HTML_TOKEN& token);
  void GetStyleToken(tag_HTML_TOKEN& token);
  // The body of a script or style element up to its end tag.
  void GetElementBody(tag_HTML_TOKEN& token, const char* name);

  // Reads the characters of the word rule (collected when over a stream).
  void ReadWord();
  // Over a stream, adds c to the token being collected; over memory the
  // token is taken from the input afterwards (TakeRaw).
  void Keep(char c);
  // text := the raw input from start up to end (over memory), or the bytes
  // collected (over a stream).
  void TakeRaw(DWORD start, DWORD end, TSTRING& text);

  // The reader. Over memory the bytes are read here directly (the common
  // case, byte by byte in the hot loops); over a stream through the base.
  int Next() {
    if (m_pMem == nullptr) return GetChar();
    return m_nMemPos < m_nMemLen ? m_pMem[m_nMemPos++] : -1;
  }
  int Peek() {
    if (m_pMem == nullptr) return CheckChar();
    return m_nMemPos < m_nMemLen ? m_pMem[m_nMemPos] : -1;
  }
  void Back() {
    if (m_pMem == nullptr) {
      PutBackChar();
    } else if (m_nMemPos != 0) {
      --m_nMemPos;
    }
  }
  DWORD Pos() { return m_pMem == nullptr ? CStreamReader::GetPos() : m_nMemPos; }
  void Seek(DWORD pos) {
    if (m_pMem == nullptr) {
      SetPos(pos);
    } else if (pos <= m_nMemLen) {
      m_nMemPos = pos;
    }
  }
  BOOL MatchText(const char* literal);
  // out := the bytes from from up to to.
  [[nodiscard]] HRESULT Text(DWORD from, DWORD to, TSTRING& out);

  const unsigned char* m_pMem;  // the bytes of the memory form; null for a stream
  ULONG m_nMemLen;
  ULONG m_nMemPos;
  int m_nMode;
  CByteScratch m_scratch;  // the text of the token being read
  // Known after a comment ran to the end unclosed: no comment starting at
  // or after m_nNoCloseFrom closes after its first reset character, and the
  // dash count at the end of the input is m_nEndDashes.
  bool m_bNoClose;
  DWORD m_nNoCloseFrom;
  int m_nEndDashes;
};

}  // namespace telsor

#endif  // TELSOR_MIME_HTMLTOKENIZER_H
