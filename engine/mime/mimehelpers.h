// Stream and text helpers shared by the MIME layer.
//
//   IStream* out = nullptr;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &out);
//   if (FAILED(hr)) return hr;
//   WriteString(out, "Subject: ", 0);           // 0: up to the NUL; throws a DWORD code
//   IStream* in = out;
//   TSTRING head;
//   ReadString(in, 0, 512, head);               // "Subject: "; position of in unchanged
//   ULONGLONG size;
//   GetStreamLenghWithoutEndDot(in, size);      // less a final "\r\n.\r\n"
//   out->Release();
//   TSTRING v("Hello\r\n World");
//   UnfoldLine(v);                              // "HelloWorld"
//   RemoveComments(v, 1);                       // "(a \) b)" removed whole
//
// The stream helpers throw only DWORD codes (ThrowCode): the failing stream
// call's result, or E_OUTOFMEMORY. Success codes other than S_OK (short
// reads) are not failures. The text helpers report nothing; they raise the
// string's memory exception only when the buffer cannot be had. All work on
// the whole length of a TSTRING, NUL bytes included. Reentrant.
#ifndef TELSOR_MIME_MIMEHELPERS_H
#define TELSOR_MIME_MIMEHELPERS_H

#include <string>

#include "foundation/istream.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

// Writes length bytes of text (0: its C-string length); nothing for a null
// or empty text.
void WriteString(IStream* stream, const char* text, ULONG length);
// text := the bytes [offset, offset + count) of the stream (fewer at its
// end); the stream's position is restored. count 0 touches nothing.
void ReadString(IStream* stream, ULONG offset, ULONG count, TSTRING& text);
// length := the stream's size less a final CR LF "." CR LF (5 bytes) or a
// final CR LF "." (3 bytes); a null stream gives 0. The position is restored.
void GetStreamLenghWithoutEndDot(IStream* stream, ULONGLONG& length);

// Removes every run of CR and LF bytes together with the byte after it (the
// blank that starts a folded line) unless that byte is a backslash. A
// backslash before CR LF keeps the break and is dropped; before a bare LF
// both go; before a lone CR and a byte only the byte stays; before anything
// else it stays with the byte. A trailing break or backslash disappears.
void UnfoldLine(TSTRING& text);
// Removes parenthesised comments (nested). Outside comments a backslash is
// dropped and the next byte kept whatever it is; inside, with quotedPairs
// nonzero a backslash also swallows the next byte. An unclosed comment runs
// to the end. Returns 0 (text unchanged) when the text holds no "(", else 1.
int RemoveComments(TSTRING& text, int quotedPairs);
// True for the empty text and for whole CR LF pairs only.
bool IsValidEOL(const TSTRING& text);
// Counts words up to limit: true when the text holds fewer. Separators are
// the C-locale white space, NUL and  \:;,.!?%&^@#$*-+=_/"'|~<>()[]  ; a word
// that is only the text's last byte is not counted.
bool IsWordsCountLess(const TSTRING& text, ULONG limit);

// Appends the whole of text (NUL bytes included) to a builder.
inline void AppendText(std::string& to, const TSTRING& text) {
  to.append(text.c_str(), static_cast<size_t>(text.GetLength()));
}

}  // namespace telsor

#endif  // TELSOR_MIME_MIMEHELPERS_H
