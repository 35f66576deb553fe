// DecodeStream: a transfer-encoded byte range of one stream decoded into
// another.
//
//   static const char message[] = "Content-Transfer-Encoding: base64\r\n\r\nSGVsbG8=\r\n";
//   const ULONGLONG bodyStart = 37, bodyLength = 10;   // as the parser found them
//   IStream* src = nullptr;
//   IStream* dst = nullptr;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING(message, &src);
//   if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &dst);
//   if (SUCCEEDED(hr)) {
//     LARGE_INTEGER at;
//     at.QuadPart = bodyStart;
//     src->Seek(at, STREAM_SEEK_SET, nullptr);
//     hr = DecodeStream(dst, src, GetEncodingType("base64"), bodyLength);   // dst: "Hello"
//   }
//   if (dst) dst->Release();
//   if (src) src->Release();
//
// base64, quoted-printable and uuencode are decoded; every other encoding
// (unknown, 7bit, 8bit, binary, BinHex) is copied unchanged with CopyTo.
// Reads at most cb bytes from src's position and writes at dst's position.
// Malformed input never fails; the rules below decide what comes out:
//
//  base64   Characters outside the alphabet are skipped. An "=" after the
//           first alphabet character ends the data (one before it is
//           ignored); a last group of 2 or 3 characters gives 1 or 2 bytes,
//           a lone character nothing.
//  quoted-  White space before a line break (CR, LF) or at the end of the
//  printable data is dropped; "=" with optional white space and a line break
//           is a soft break; "=XX" (either case) is a byte; an "=" that
//           starts no escape is text together with the byte after it. A
//           line that begins with ".." loses one dot, and a lone "." ending
//           the data is dropped (text saved with SMTP's dot-stuffing).
//  uuencode Lines are a length character and groups of four characters; a
//           line whose length character is a blank or control, or whose
//           groups break early or start with a byte outside "!" to "`", is
//           skipped (so is the "begin" line). An "end" line after a line
//           break stops decoding. A "-----BEGIN PGP SIGNED MESSAGE" line is
//           not data. NUL bytes read as spaces.
//
// Results: S_OK; E_POINTER for a null dst; E_OUTOFMEMORY when the working
// buffer (1 KiB to 32 KiB by cb) cannot be had; the failure code of a Read
// or Write as it stands (what was written before stays); for the copied
// encodings whatever CopyTo returns. A null src is empty data. Short reads
// are not the end of the data: reading goes on until cb bytes came or a
// Read delivers nothing. Reentrant.
#ifndef TELSOR_MIME_STREAMDECODER_H
#define TELSOR_MIME_STREAMDECODER_H

#include "foundation/istream.h"
#include "foundation/wintypes.h"
#include "mime/transferencoding.h"

namespace telsor {

[[nodiscard]] HRESULT DecodeStream(IStream* pDst, IStream* pSrc, tag_CONTENT_ENCODING encoding, ULONGLONG cb);

}  // namespace telsor

#endif  // TELSOR_MIME_STREAMDECODER_H
