// RFC 2047 encoded words in header texts, and the "Q" and "B" word codecs.
//
//   TSTRING rawValue("Re: =?ISO-8859-1?Q?Caf=E9?=");
//   CRfc2047Text subject(rawValue);
//   subject.Parse();
//   TSTRING text = subject.GetDecodedText();  // "Re: Caf\xE9" (bytes, not converted)
//   for (void* p = subject.m_Words.GetHeadPosition(); p != nullptr;) {
//     const CRfc2047EncodedWord& w = subject.m_Words.GetNext(p);
//     TSTRING charset = w.GetCharset();       // "US-ASCII" for plain runs
//   }
//
// Charsets are recorded, never converted: a decoded text holds the bytes the
// words carried, joined byte for byte whatever their charsets. A text is a
// series of words in order, alternating plain runs (with their white space)
// and encoded words; white space between two encoded words is dropped.
// GetDecodedText puts one space between two words unless both are encoded,
// so a plain run ending in a blank followed by an encoded word gives two.
// A malformed encoded word stays text. An encoded word whose decoded bytes
// hold encoded words again is decoded again, at most 16 levels deep.
//
// Codec results are 32-bit codes: S_OK, ERROR_INVALID_DATA (13: bad Q text),
// ERROR_MORE_DATA (234: buffer too small, the size holds the length needed),
// E_POINTER, E_OUTOFMEMORY. Encoded-word and text objects throw only the
// engine's memory exception. Codecs are reentrant; an object is used by one
// thread at a time.
#ifndef TELSOR_MIME_RFC2047TEXT_H
#define TELSOR_MIME_RFC2047TEXT_H

#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/mimeresults.h"

namespace telsor {

// "Q" text to bytes: "_" is a space, "=XX" a byte (either case of hex
// digits). Stops with ERROR_INVALID_DATA at "?", at a byte that may not stand
// in Q text or at a bad "=" escape; out keeps the bytes decoded before it.
[[nodiscard]] HRESULT QWordDecode(TSTRING& out, const TSTRING& in);
// Buffer form: *size carries the capacity in (0 for a null buffer) and the
// count written or needed out; ERROR_MORE_DATA when it does not fit. Space
// gives "_"; ". _ ? \ =", controls but tab, 0x7F and 0x80-0xFF give "=XX".
[[nodiscard]] HRESULT QWordEncode(char* out, ULONG* size, const TSTRING& in);
[[nodiscard]] HRESULT QWordEncode(TSTRING& out, const TSTRING& in);
// Lenient Base64: white space and bytes outside the alphabet are skipped,
// the first "=" ends the data, missing padding is tolerated (a lone last
// character still gives one byte). S_OK or E_OUTOFMEMORY.
[[nodiscard]] HRESULT BWordDecode(TSTRING& out, const char* in, ULONG length);
[[nodiscard]] HRESULT BWordDecode(TSTRING& out, const TSTRING& in);
// Strict Base64 on one line. Buffer form: E_POINTER for a null size;
// ERROR_MORE_DATA (size := length needed) for a null or short buffer.
[[nodiscard]] HRESULT BWordEncode(char* out, ULONG* size, const TSTRING& in);
[[nodiscard]] HRESULT BWordEncode(TSTRING& out, const TSTRING& in);

// One word of a header text: an encoded word "=?charset?letter?text?=" or a
// run of plain text.
class CRfc2047EncodedWord {
 public:
  CRfc2047EncodedWord();
  explicit CRfc2047EncodedWord(const TSTRING& encodedText);  // not parsed yet
  CRfc2047EncodedWord(const CRfc2047EncodedWord& other);
  CRfc2047EncodedWord& operator=(const CRfc2047EncodedWord& other);
  ~CRfc2047EncodedWord();

  const TSTRING& GetCharset() const { return m_strCharset; }
  const TSTRING& GetEncodedText() const { return m_strEncodedText; }
  const TSTRING& GetDecodedText() const { return m_strDecodedText; }
  char GetEncodingType() const { return m_chEncoding; }
  void PutCharset(const TSTRING& charset) { m_strCharset = charset; }
  void PutEncodedText(const TSTRING& text) { m_strEncodedText = text; }
  void PutDecodedText(const TSTRING& text) { m_strDecodedText = text; }
  // Keeps "Q", "q", "B" or "b"; anything else stores 0.
  void PutEncodingType(char letter);

  // Splits the encoded text into charset, letter and text and decodes it. A
  // text that is no encoded word (or whose Q or B text does not decode) is
  // its own decoded text with charset "US-ASCII".
  void Parse();
  // When the encoded text is empty and the decoded text is not: builds the
  // encoded word from the decoded text (or copies it without a Q/B letter).
  void Compose();

 private:
  TSTRING m_strCharset;
  char m_chEncoding;
  TSTRING m_strEncodedText;
  TSTRING m_strDecodedText;
};

// The plain-word charset.
extern const char* const RFC2047_DEFAULT_CHARSET;  // "US-ASCII"

// A whole header text and its words.
class CRfc2047Text {
 public:
  // Re-decoding of words whose decoded text holds encoded words again stops
  // after this many levels.
  static const int MAX_NESTING = 16;

  CRfc2047Text();
  explicit CRfc2047Text(const TSTRING& text);  // not parsed yet
  CRfc2047Text(const CRfc2047Text& other);
  CRfc2047Text& operator=(const TSTRING& text);
  CRfc2047Text& operator=(const CRfc2047Text& other);
  ~CRfc2047Text();

  const TSTRING& GetText() const { return m_strText; }
  // Rebuilds the word list from the text (the text is not changed).
  void Parse();
  // The decoded texts of the words joined: one space between two words
  // unless both carry an encoding letter.
  TSTRING GetDecodedText() const;
  // text := one space, then the encoded texts of all words back to back
  // (each word composed first); empty for no words.
  void Compose();

  // The words in text order (public: callers walk it).
  CPList<CRfc2047EncodedWord, CRfc2047EncodedWord&> m_Words;

 private:
  void Parse(int depth);
  void CopyWords(const CRfc2047Text& other);
  void AddWord(const TSTRING& text, bool encoded, int depth);

  TSTRING m_strText;
};

// The decoded text of a header text: CRfc2047Text(text), Parse,
// GetDecodedText.
TSTRING DecodeHeaderText(const TSTRING& text);

}  // namespace telsor

#endif  // TELSOR_MIME_RFC2047TEXT_H
