// Stream reading and copying shared by the transfer codecs.
//
//   IStream* src = nullptr;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING("some body bytes", &src);
//   if (FAILED(hr)) return hr;
//   BYTE buf[4];
//   ULONGLONG remaining = 15;                 // read at most this many
//   ULONG got;
//   while (SUCCEEDED(hr = ReadChunk(src, buf, sizeof buf, remaining, &got)) && got > 0) {
//     // use buf[0 .. got); remaining went down by got
//   }
//   src->Release();
//
// Reads go on past short reads until the bytes asked for came or a Read
// delivers nothing, so a source that hands out little at a time reads like
// any other. Results: S_OK or the failing stream call's code. Reentrant.
#ifndef TELSOR_MIME_CODECIO_H
#define TELSOR_MIME_CODECIO_H

#include "foundation/istream.h"
#include "foundation/wintypes.h"

namespace telsor {

// Reads until count bytes came, a Read delivered nothing or one failed;
// *got: the bytes read.
[[nodiscard]] HRESULT ReadFully(IStream* src, BYTE* buffer, ULONG count, ULONG* got);
// The next chunk of at most size bytes of what remains, read fully;
// remaining goes down by *got.
[[nodiscard]] HRESULT ReadChunk(IStream* src, BYTE* buffer, ULONG size, ULONGLONG& remaining, ULONG* got);
// cb bytes of src copied unchanged to dst with CopyTo (nothing for cb 0 or
// no source: S_OK); CopyTo's result.
[[nodiscard]] HRESULT CopyUnchanged(IStream* dst, IStream* src, ULONGLONG cb);

}  // namespace telsor

#endif  // TELSOR_MIME_CODECIO_H
