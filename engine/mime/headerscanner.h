// CRfc822HeadersParser: reads an RFC 822 header block one field at a time
// and hands each field back as four reader positions; it copies no text.
//
//   static const char head[] = "Subject: a\r\n long one\r\nTo: b@x\r\n\r\nbody";
//   CRfc822HeadersParser scanner(reinterpret_cast<const unsigned char*>(head), sizeof head - 1);
//   ULONG ns, nl, vs, vl;                          // or (stream, limit)
//   for (;;) {
//     DWORD end = scanner.NextField(ns, nl, vs, vl);
//     if (nl == 0) break;                          // end: the block ends at `end`
//     TSTRING name, value;
//     scanner.ReadData(ns, ns + nl, name);
//     scanner.ReadData(vs, vs + vl, value);        // unfold and right-trim it
//   }
//   DWORD flags = scanner.GetAnomalyFlags();       // see mime/anomalyflags.h
//
// or, for the fields as the parser stores them, ReadHeaderField below.
//
// The scanner is tolerant. A value runs from after the colon and the white
// space after it over folded lines, and may end with its line-end bytes. A
// line that is no field (no colon, white space or a special character in
// the name) is skipped and flagged ANOMALY_MALFORMED_LINE; from then on only
// known field names (CRfc822Field::IsKnownHeader) are accepted. The block
// ends at an empty line (consumed with ReadEndOfHeaders), at the end of the
// data, at a line holding one tab inside a folded value, after malformed
// lines followed by an empty line (those lines then belong to the body), or
// where the boundary given to SetBoundary shows up inside a header line
// (ANOMALY_BOUNDARY_IN_HEADER; the block then ends two bytes before the
// boundary text).
//
// Whether a run of line-end bytes holds an empty line is decided by the
// message's end-of-line analysis when one is given (SetEOLSequence);
// without one, CR LF CR LF and LF LF hold an empty line and CR LF does not.
//
// Positions are those of CStreamReader: offsets from the block's start in
// the memory form, absolute stream positions in the stream form; both forms
// give the same fields and flags for the same bytes. Stream failures are
// thrown as DWORD codes. One thread per scanner; the analysis is only read.
#ifndef TELSOR_MIME_HEADERSCANNER_H
#define TELSOR_MIME_HEADERSCANNER_H

#include <memory>
#include <string>
#include <string_view>

#include "foundation/istream.h"
#include "foundation/streamreader.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/eolanalysis.h"

namespace telsor {

class CRfc822HeadersParser : public CStreamReader {
 public:
  // The longest field name that the parser's readers accept.
  static const ULONG MAX_NAME_LENGTH = 1023;

  // Over nothing: every NextField ends the block at once.
  CRfc822HeadersParser();
  CRfc822HeadersParser(const unsigned char* data, ULONG length);
  // From the stream's current position, at most length bytes (NO_LIMIT: to
  // its end).
  CRfc822HeadersParser(IStream* stream, ULONG length);
  ~CRfc822HeadersParser() override;

  // Uses analysis to count line ends; with copy nonzero (and a non-null
  // analysis) keeps a private copy instead of the pointer.
  void SetEOLSequence(const CSetEOLSequence* analysis, int copy);
  // Watches for boundary inside header lines from the next byte on (an
  // empty boundary switches the watch off). Only the first 32,767 bytes of
  // a boundary longer than 65,534 bytes are watched for. Throws
  // E_OUTOFMEMORY as DWORD when the matcher cannot be built.
  void SetBoundary(const TSTRING& boundary);
  // Starts matching the boundary afresh at the current position.
  void ResetBoundaryLookup();
  // Feeds the byte just read to the boundary matcher; nonzero when it
  // completes the boundary. A byte read a second time (after a put-back) is
  // not fed again.
  int SequentialCheckBoundary(unsigned char byte);

  // The next field: the positions and lengths of its name and value, and
  // the position after the field. All four are 0 when the block has ended;
  // the result is then the end of the block.
  DWORD NextField(ULONG& nameStart, ULONG& nameLength, ULONG& valueStart, ULONG& valueLength);
  // Consumes the line ends of the empty line that ends the block: CR LF CR
  // LF, LF LF, CR LF LF, a run of CRs with one LF after it; CR LF followed by
  // text only that CR LF.
  void ReadEndOfHeaders();
  // How many line ends run stands for (adds ANOMALY_BAD_EOL when the run is
  // not a whole number of CR LF pairs).
  DWORD CountEquivalentEOL(const TSTRING& run);
  DWORD CountEquivalentEOL(std::string_view run);

  // The flags collected over every field read so far; never cleared.
  DWORD GetAnomalyFlags() const { return m_dwAnomalyFlags; }

 private:
  // Feeds byte, read to reach position after, to the boundary matcher.
  int FeedBoundaryAt(DWORD after, unsigned char byte);
  // Feeds the next n bytes p[0..n) as if read one by one (without moving):
  // how many were read when the last of them completed the boundary, else 0.
  ULONG FeedBoundary(const BYTE* p, ULONG n);

  // The stages of NextField (see headerscanner.cpp), over one call's scan.
  struct tag_FIELD_SCAN;
  bool PassPlainBytes(tag_FIELD_SCAN& s);
  void EndAtBoundary(tag_FIELD_SCAN& s);
  void AcceptColon(tag_FIELD_SCAN& s);
  void ReadNameByte(tag_FIELD_SCAN& s, int c);
  void AfterValueLineEnd(tag_FIELD_SCAN& s, int c);
  void ReadValueByte(tag_FIELD_SCAN& s, int c);
  void SkipLineByte(tag_FIELD_SCAN& s, int c);

  const CSetEOLSequence* m_pEOL = nullptr;  // the analysis in use: the caller's or m_ownEOL
  std::unique_ptr<CSetEOLSequence> m_ownEOL;
  DWORD m_dwAnomalyFlags = 0;
  TSTRING m_strBoundary;
  DWORD m_dwLastFed;                       // reader position after the last byte fed
  std::unique_ptr<WORD[]> m_pFailure;      // failure function, length + 1 entries
  WORD m_wBoundaryLength = 0;              // 0: no boundary
  WORD m_wMatched = 0;
  DWORD m_dwRangeStart;                    // first position of the data
  std::string m_run;                       // a run of line ends being read
};

// A field name with its comments removed, read to be compared: a short
// name inside the scanner's window without "(" is copied into the object,
// any other is read into a string (RemoveComments(name, 1)). Throws the
// scanner's stream failures as DWORD codes.
//   CFieldName name(scanner, ns, nl);
//   bool type = name.GetLength() == 12 && lstrcmpiA(name.c_str(), "Content-Type") == 0;
class CFieldName {
 public:
  CFieldName(CRfc822HeadersParser& scanner, ULONG start, ULONG length);
  const char* c_str() const { return m_pText; }
  int GetLength() const { return m_nLength; }
  // The name held a comment that was removed.
  bool HadComment() const { return m_bHadComment; }

  CFieldName(const CFieldName&) = delete;
  CFieldName& operator=(const CFieldName&) = delete;

 private:
  char m_szShort[64];
  TSTRING m_strLong;
  const char* m_pText;
  int m_nLength;
  bool m_bHadComment;
};

// One field of a header block as the parser stores it.
struct tag_HEADER_FIELD {
  TSTRING name;          // without comments
  TSTRING value;         // unfolded, white space removed at its right end
  BOOL nameHadComment;   // the name held an opening parenthesis
  DWORD end;             // reader position after the field, or the block's end
};

enum {
  HEADER_NAME_TOO_LONG = -1,  // a name over MAX_NAME_LENGTH bytes: the reading stops
  HEADER_BLOCK_END = 0,       // no more fields; field.end is the block's end
  HEADER_FIELD_READ = 1,
};

// Reads the next field of the block into field. Stream failures are thrown
// as DWORD codes.
int ReadHeaderField(CRfc822HeadersParser& scanner, tag_HEADER_FIELD& field);

}  // namespace telsor

#endif  // TELSOR_MIME_HEADERSCANNER_H
