// BinHex 4.0: Macintosh files (name, type, creator, Finder flags, data and
// resource fork) as text.
//
//   IStream* data = nullptr;
//   IStream* out = nullptr;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING("Hello\r", &data);
//   if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &out);
//   if (FAILED(hr)) return hr;
//   // Writing: the preamble line, then ":" and 64-character lines, then ":".
//   hr = EncodeBinHex40(out, "Read Me", 0, "TEXT", "ttxt", 0, data, 6, nullptr, 0);
//   // Reading a block found somewhere in the next length bytes of in:
//   IStream* in = out;
//   ULARGE_INTEGER end;
//   LARGE_INTEGER zero = {};
//   in->Seek(zero, STREAM_SEEK_CUR, &end);       // the text's length
//   in->Seek(zero, STREAM_SEEK_SET, nullptr);
//   IStream* dataOut = nullptr;
//   CreateStreamOnHGlobal(nullptr, TRUE, &dataOut);
//   char name[64];
//   char type[4], creator[4];
//   BYTE version;
//   WORD flags;
//   hr = DecodeBinHex40(dataOut, nullptr, in, static_cast<ULONG>(end.QuadPart), name, version, type,
//                       creator, flags);           // the resource fork checked, not kept
//   // Telling a real block in text and measuring it (the reader stands at
//   // the preamble):
//   static const char text[] = "(This file must be converted with BinHex 4.0)\r\n:...:";
//   CStreamReader reader(reinterpret_cast<const unsigned char*>(text), sizeof text - 1);
//   ULONG blockLength;
//   bool real = VerifyBinHex40(reader, blockLength);   // FALSE: the CRCs are wrong
//   dataOut->Release();
//   out->Release();
//   data->Release();
//
// The stream of bytes inside the colons: name length (1 to 63), name,
// version, type (4), creator (4), flags (2), data length (4), resource
// length (4), header CRC (2), data fork, data CRC (2), resource fork,
// resource CRC (2); numbers big-endian; CRC-16/XMODEM (foundation/crc16.h).
// It is run-length compressed (0x90 n: the byte before repeated n times in
// all; 0x90 0: a literal 0x90) and written 6 bits per character in the
// BinHex alphabet. Line breaks, blanks and NUL bytes between the colons are
// ignored when reading.
//
// Results: S_OK; E_MIME_BINHEX_MALFORMED (a character outside the
// alphabet, a bad run-length marker, a name length outside 1 to 63, data
// that ends early, no room after the preamble); E_MIME_BINHEX_CRC (a CRC
// differs); E_FAIL when a fork stream delivers fewer bytes than the length
// given to the encoder; the failure code of a stream call as it stands.
// The encoder's writes throw a failing Write's code as a DWORD (as
// WriteString does). What was written before a failure stays written.
// The preamble matcher is built once and only read; all calls are
// reentrant.
#ifndef TELSOR_MIME_BINHEX_H
#define TELSOR_MIME_BINHEX_H

#include <memory>

#include "foundation/istream.h"
#include "foundation/streamreader.h"
#include "foundation/wintypes.h"
#include "mime/mimeresults.h"

namespace telsor {

// The longest name the format holds.
const ULONG BINHEX_MAX_NAME = 63;

// The encoder's state: run-length compression, 6-bit groups and lines.
class CBinHexEncodeCtxt {
 public:
  CBinHexEncodeCtxt();
  // Releases the output (text not yet written by Finalize is dropped).
  ~CBinHexEncodeCtxt();

  // Writes to out from now on (one reference held); column: characters
  // already on the current line.
  void Bind(IStream* out, ULONG column);
  // One character of text; a line break first when the line holds 64.
  void PutChar(unsigned char c);
  // One byte of the stream: run-length compressed, then encoded.
  void EncodeChar(unsigned char b);
  // Closes the run, encodes the last 1 or 2 bytes as 2 or 3 characters and
  // writes what is buffered.
  void Finalize();

  CBinHexEncodeCtxt(const CBinHexEncodeCtxt&) = delete;
  CBinHexEncodeCtxt& operator=(const CBinHexEncodeCtxt&) = delete;

 private:
  void Emit(unsigned char b);
  void EmitLiteral(unsigned char b);
  void CloseRun();
  void FlushText();

  CStreamPtr m_pOut;
  ULONG m_nColumn;
  ULONG m_nRunCount;  // occurrences of the last byte in the current run
  LONG m_nLastByte;   // -1 before the first byte
  BYTE m_abPending[8];
  ULONG m_nPending;
  char m_achText[4096];
  size_t m_nText;
};

// The decoder's state over a reader: 6-bit groups, then run lengths.
class CBinHexDecodeCtxt {
 public:
  // A reader of its own over at most length bytes of stream from its
  // position (throws the reader's DWORD codes).
  CBinHexDecodeCtxt(IStream* stream, ULONG length);
  // Reads through reader, which the caller keeps.
  explicit CBinHexDecodeCtxt(CStreamReader& reader);
  ~CBinHexDecodeCtxt();

  // The next byte after 6-bit decoding, or -1 (at a colon or the end of the
  // data, or an invalid character, which also sets the error).
  int GetChar();
  // The next byte after run-length expansion, or -1 (a bad marker also
  // sets the error).
  int DecodeChar();
  // S_OK, or E_MIME_BINHEX_MALFORMED once a bad character or marker came.
  [[nodiscard]] HRESULT GetError() const { return m_hrError; }
  // Whether GetChar has read a colon (the closing one, after the data).
  BOOL ReachedColon() const { return m_bColon; }

  CBinHexDecodeCtxt(const CBinHexDecodeCtxt&) = delete;
  CBinHexDecodeCtxt& operator=(const CBinHexDecodeCtxt&) = delete;

 private:
  std::unique_ptr<CStreamReader> m_pOwned;
  CStreamReader* m_pReader;
  LONG m_nLastByte;
  BYTE m_abDecoded[4];
  ULONG m_nNext;
  ULONG m_nLeft;
  ULONG m_nRepeat;
  HRESULT m_hrError;
  bool m_bColon;
};

// Writes the preamble line, then the block. A null name is empty; a name
// over 63 bytes is cut to 63 (an empty one gives a block that readers
// refuse); type and creator are at most 4 bytes each, padded with zero
// bytes (null: four zero bytes). A null stream or a length of 0 or less is
// an empty fork. Each fork stream is read from its position for exactly
// its length: E_FAIL when it ends early.
[[nodiscard]] HRESULT EncodeBinHex40(IStream* out, const char* name, unsigned char version, const char* type,
                                     const char* creator, unsigned short flags, IStream* data, LONG dataLength,
                                     IStream* resource, LONG resourceLength);

// Finds the preamble in the next length bytes of in and decodes the block
// after it: the forks to data and resource (either may be null: that fork
// is checked but not kept), the header to the rest (name: 64 bytes, NUL
// ended; type and creator: 4 bytes each, not ended). Without a preamble the
// length bytes are copied to data unchanged (when given) and the header
// fields are zero. E_POINTER for a null in.
[[nodiscard]] HRESULT DecodeBinHex40(IStream* data, IStream* resource, IStream* in, ULONG length, char* name,
                                     unsigned char& version, char* type, char* creator, unsigned short& flags);

// Decodes header and forks from a context that stands after the opening
// colon; the context's reader limits the data (length is not used).
[[nodiscard]] HRESULT DecodeBinHex40Body(IStream* data, IStream* resource, CBinHexDecodeCtxt& ctx, ULONG length,
                                         char* name, unsigned char& version, char* type, char* creator,
                                         unsigned short& flags);

// The position of the first "(This file must be converted with BinHex "
// (any letter case) in the next length bytes of the stream (absolute) or of
// the block (offset); -1 when there is none or length is 0. *matchLength
// (may be null): 41 on a match, else 0.
DWORD FindBinHex40Preambule(IStream* stream, ULONG length, ULONG* matchLength);
DWORD FindBinHex40Preambule(const unsigned char* block, ULONG length, ULONG* matchLength);

// Whether a valid block (all three CRCs right) starts at the reader's
// position; length := its length in characters up to and including the
// closing colon (blank characters before the colon included: space, tab,
// backspace, CR, LF, NUL), or 0 when it is not valid. Without a closing
// colon the block ends before the first character that is not blank. The
// reader is left after the block.
BOOL VerifyBinHex40(CStreamReader& reader, ULONG& length);

}  // namespace telsor

#endif  // TELSOR_MIME_BINHEX_H
