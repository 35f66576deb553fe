// CTstringAsIStream: an IStream over a private copy of a TSTRING.
//
//   IStream* s = nullptr;
//   CTstringAsIStream::CreateStreamOnTSTRING("abcdef", &s);
//   LARGE_INTEGER at;
//   at.QuadPart = 4;
//   s->Seek(at, STREAM_SEEK_SET, nullptr);
//   s->Write("XY", 2, nullptr);         // the text is now "abcdXY"
//   at.QuadPart = 2;
//   s->Seek(at, STREAM_SEEK_SET, nullptr);
//   s->Write("Z", 1, nullptr);          // "abZ": a write cuts off what lay beyond
//   s->Release();
//
// The caller's string never changes (copy-on-write). Positions are 64-bit and
// may lie past the end; a write there leaves a zero-filled gap. The text never
// grows past the largest TSTRING (INT_MAX bytes): such a Write or SetSize
// returns E_OUTOFMEMORY and changes nothing. Ownership and threads: see
// istreamimpl.h.
#ifndef TELSOR_FOUNDATION_TSTRINGASISTREAM_H
#define TELSOR_FOUNDATION_TSTRINGASISTREAM_H

#include "foundation/istreamimpl.h"
#include "foundation/tstring.h"

namespace telsor {

class CTstringAsIStream : public CIStreamImpl {
 public:
  // 0 with *out holding one reference; E_POINTER for a null out;
  // E_OUTOFMEMORY without memory.
  static HRESULT CreateStreamOnTSTRING(const TSTRING& text, IStream** out);

  // Up to count bytes from the position: 0 when all came, 1 when fewer (also
  // for a null buffer or a position at or past the end).
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override;
  // Puts count bytes at the position and cuts the text after them (a source
  // inside the text itself is allowed). 0, or E_OUTOFMEMORY / E_POINTER with
  // *done 0 and nothing changed.
  HRESULT Write(const void* buffer, ULONG count, ULONG* done) override;
  // Always 0: origin 1 and 2 clamp at 0, origin 0 takes the low 32 bits.
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  // The length becomes size (added bytes zero); the position does not move.
  HRESULT SetSize(ULARGE_INTEGER size) override;
  // Onto another stream: one Write of the bytes at the position. Onto this
  // stream itself: the bytes are doubled in place (ab, count 2 -> abab).
  HRESULT CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                 ULARGE_INTEGER* written) override;

  ~CTstringAsIStream() override;

 private:
  CTstringAsIStream() : m_nPos(0), m_nCapacity(0) {}
  // Unshared room for count characters, grown geometrically; throws the
  // engine's memory exception.
  char* Room(int count);
  // Bytes readable at the position (0 when it is at or past the end).
  ULONG Available(ULONGLONG count) const;

  TSTRING m_strData;
  ULONGLONG m_nPos;
  int m_nCapacity;  // capacity known to be held privately; 0 until the first write
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_TSTRINGASISTREAM_H
