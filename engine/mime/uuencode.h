// Uuencoded files: the "begin"/"end" framing around the uuencode transfer
// codec, and the check that tells a real uuencoded block in text.
//
//   static const char body[] = "begin 644 a.txt\r\n#86)C\r\n`\r\nend\r\n";
//   IStream* in = nullptr;
//   IStream* out = nullptr;
//   HRESULT hr = CTstringAsIStream::CreateStreamOnTSTRING(body, &in);
//   if (SUCCEEDED(hr)) hr = CreateStreamOnHGlobal(nullptr, TRUE, &out);
//   if (FAILED(hr)) return hr;
//   CUUencodedFile file;
//   hr = file.Decode(out, in, sizeof body - 1);     // out: "abc"
//   TSTRING name = file;                            // "a.txt"; file.GetMode() == 0644
//   CUUencodedFile part;
//   part.PutName("report 1.pdf");
//   in->Seek(LARGE_INTEGER(), STREAM_SEEK_SET, nullptr);
//   hr = part.Encode(out, in, 3);   // "begin 777 report1.pdf" CR LF, lines, "`", "end" CR LF
//   CStreamReader reader(reinterpret_cast<const unsigned char*>(body), sizeof body - 1);
//   reader.SetPos(0);                               // where "begin" starts
//   ULONG length = 0;
//   if (VerifyUUencode(reader, length)) { /* a block of length bytes */ }
//   out->Release();
//   in->Release();
//
// Decode reads the "begin" line (octal mode and file name; leading blank
// lines skipped; no "begin" line at all is fine) and decodes what follows
// with DecodeStream (mime/streamdecoder.h). Results: S_OK; 13
// (ERROR_INVALID_DATA) when the first word starts with "b" but is not
// "begin" (nothing decoded); a failing Seek's or read's code; DecodeStream's
// code. Encode writes the lines with WriteString, whose failure is thrown as
// a DWORD code; it returns EncodeStream's result.
// One object per thread; VerifyUUencode is reentrant.
#ifndef TELSOR_MIME_UUENCODE_H
#define TELSOR_MIME_UUENCODE_H

#include "foundation/istream.h"
#include "foundation/streamreader.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"

namespace telsor {

class CUUencodedFile {
 public:
  // An empty name and mode 0777.
  CUUencodedFile();
  ~CUUencodedFile();

  // Writes "begin 777 ", the name without its blanks (which the object keeps
  // from then on), CR LF; count bytes of in from its position through
  // EncodeStream; then "end" CR LF.
  [[nodiscard]] HRESULT Encode(IStream* out, IStream* in, ULONGLONG count);
  // Reads the "begin" line from in's position (within count bytes) into the
  // name and mode, then decodes the rest of the count into out. The name is
  // the rest of the line after the mode, less trailing blanks, line breaks
  // and dots.
  [[nodiscard]] HRESULT Decode(IStream* out, IStream* in, ULONGLONG count);

  const TSTRING& GetName() const { return m_strName; }
  operator const TSTRING&() const { return m_strName; }  // NOLINT: the file's name
  void PutName(const TSTRING& name) { m_strName = name; }
  WORD GetMode() const { return m_wMode; }

  CUUencodedFile(const CUUencodedFile&) = delete;
  CUUencodedFile& operator=(const CUUencodedFile&) = delete;

 private:
  TSTRING m_strName;
  WORD m_wMode;
};

// Whether the text from the reader's position is a uuencoded block: a
// "begin" line (after any line breaks) with a name, at least one good data
// line, and a mode or an "end" line. Lines that are no data lines are
// skipped. On acceptance length := the block's length: up to the reader's
// position after the "end" line and the line breaks after it, or, without
// an "end" line, to the end of the line breaks after the last good data
// line. On rejection length is left as it was. The reader's position is
// left wherever the scan stopped.
BOOL VerifyUUencode(CStreamReader& reader, ULONG& length);

// What one verification saw, for a search that tries many "begin" lines of
// one text: the block's lines are the same lines for every begin line
// above them, so one scan tells about the later ones too.
struct tag_UU_SCAN {
  BOOL headerOnly = FALSE;  // in: stop after the "begin" line
  BOOL header = FALSE;      // the "begin" line was read whole
  BOOL modeRead = FALSE;    // it carried a mode
  BOOL endSeen = FALSE;     // an "end" line ended the scan
  ULONG goodLines = 0;      // good data lines after the "begin" line
  DWORD lastGoodLine = 0;   // reader position where the last of them starts
  DWORD stop = 0;           // reader position where the scan of the lines ended
};
// The same, filling scan (may be null) as it goes; lines are read only when
// the "begin" line is whole and headerOnly is not set.
BOOL VerifyUUencode(CStreamReader& reader, ULONG& length, tag_UU_SCAN* scan);

}  // namespace telsor

#endif  // TELSOR_MIME_UUENCODE_H
