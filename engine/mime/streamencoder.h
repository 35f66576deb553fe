// EncodeStream: a byte range of one stream written to another in a
// transfer encoding, ready to stand in a composed message.
//
//   IStream* content = nullptr;
//   IStream* out = nullptr;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING("GIF89a...", &content);
//   if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &out);
//   if (SUCCEEDED(hr)) hr = EncodeStream(out, content, CONTENT_ENCODING_BASE64, 9);   // "R0lGODlhLi4u" CR LF
//   if (out) out->Release();
//   if (content) content->Release();
//
//  base64   Lines of 72 characters, each ended by CR LF; the last line too.
//           Nothing at all for no bytes.
//  quoted-  CR LF pairs are line breaks; every other control byte, "=",
//  printable 0x7F and bytes from 0x80 are "=XX" (upper case); a blank
//           before CR LF or at the end of the data is "=20"/"=09"; a "." that
//           begins a line is "=2E". Lines longer than 72 characters get a
//           soft break "=" CR LF. No line break is added at the end.
//  uuencode Lines of 45 bytes: the length character, groups of four
//           characters (0 written as "`"), CR LF; then the line "`" CR LF
//           that ends the data, also for no bytes. The "begin" and "end"
//           lines are CUUencodedFile's (mime/uuencode.h).
// Every other encoding is copied unchanged with CopyTo.
//
// Reads at most cb bytes from src's position (a source that reads short is
// read again until cb bytes came or a Read delivers nothing) and appends the
// text to dst. Results: S_OK (or the last Write's success code); E_POINTER
// for a null dst; the failure code of a Read or Write at once (what was
// written stays); for the copied encodings whatever CopyTo returns. A null
// src writes nothing but the uuencode end line. A failing last line break
// of base64 is thrown as a DWORD code, as WriteString throws. Reentrant.
#ifndef TELSOR_MIME_STREAMENCODER_H
#define TELSOR_MIME_STREAMENCODER_H

#include "foundation/istream.h"
#include "foundation/wintypes.h"
#include "mime/transferencoding.h"

namespace telsor {

[[nodiscard]] HRESULT EncodeStream(IStream* pDst, IStream* pSrc, tag_CONTENT_ENCODING encoding, ULONGLONG cb);

}  // namespace telsor

#endif  // TELSOR_MIME_STREAMENCODER_H
