// CRfcBodyParser: cuts the bytes of one MIME part into layout records,
// without decoding or copying anything.
//
//   TSTRING boundary("XX"), mediaType("multipart/mixed");
//   const char* part = "Content-Type: multipart/mixed; boundary=XX\r\n\r\n"
//                      "intro\r\n--XX\r\n\r\none\r\n--XX--\r\n";
//   CRfcBodyParser parser(reinterpret_cast<const unsigned char*>(part), 74, 46, boundary, 1, mediaType);
//   parser.Parse();                                  // throws DWORD codes
//   for (const tag_PART_LAYOUT& r : parser.GetRecords()) {
//     // {46, 51, PREAMBLE} ("intro"), {59, 64, PART} ("\r\none"); no
//     // epilogue: the closing delimiter line ends the data
//     (void)r;
//   }
//
// A part with a boundary (split flag set) yields its preamble, each body
// part between two delimiter lines and its epilogue; a delimiter line owns
// the line break before it. A part without one, and a split part in which
// no delimiter is found at all, is searched for blocks hidden in its text
// (a uuencoded file, a BinHex 4.0 file, a pasted mail message; text/html
// parts for the first two only) and yields those blocks with the text
// pieces around them; nothing when nothing is hidden. Missing delimiters
// are no failures: they show in the records' status and flags.
//
// Positions are base plus offset: the buffer form counts from the buffer's
// first byte, the stream form from the stream's origin (its position at
// construction is the base). Both forms give the same records for the same
// bytes.
// Every search stops at the part's end and never runs with an empty range.
//
// Failures are thrown as DWORD codes (a boundary too long to compile:
// E_MIME_DELIMITER_TOO_LONG; a failing stream call's result; the reader's
// codes); the records found so far stay. The shared matchers are built once
// and only read; a parser belongs to one thread.
#ifndef TELSOR_MIME_BODYPARSER_H
#define TELSOR_MIME_BODYPARSER_H

#include <memory>
#include <vector>

#include "foundation/istream.h"
#include "foundation/streamreader.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/eolanalysis.h"
#include "mime/transferencoding.h"
#include "search/seeksubstr.h"

namespace telsor {

// Segment types of a layout record.
enum {
  SEGMENT_PREAMBLE = 0,
  SEGMENT_PART = 1,      // a body part between two delimiters
  SEGMENT_TEXT = 2,      // a text piece or hidden block, or the whole part
  SEGMENT_EPILOGUE = 3,
};

struct tag_PART_LAYOUT {
  DWORD begin;        // first byte
  DWORD end;          // just after the last byte
  DWORD segmentType;  // SEGMENT_*
  DWORD hiddenKind;   // a hidden block's encoding (6 uuencode, 7 BinHex, 3 a pasted mail), else 0
  DWORD status;       // 0, E_MIME_NO_DELIMITER or E_MIME_NO_CLOSING_DELIMITER
  DWORD flags;        // anomaly flags (mime/anomalyflags.h)
};

class CRfcBodyParser;

// One recognizer of hidden blocks and what it found last.
struct tag_PART_RECOGNIZER {
  int (CRfcBodyParser::*recognizer)(unsigned int start, unsigned int length, unsigned int& begin,
                                    unsigned int& end) const;
  DWORD begin;
  DWORD end;
  int found;
  tag_CONTENT_ENCODING kind;
};

class CRfcBodyParser {
 public:
  // Over length bytes at data (the whole part, header block included);
  // bodyStart: offset of the first body byte. With split nonzero the body
  // is cut at "--" + boundary. mediaType chooses the hidden-block searches.
  CRfcBodyParser(const unsigned char* data, ULONG length, ULONG bodyStart, TSTRING& boundary, int split,
                 TSTRING& mediaType);
  // The same over the next length bytes of stream (one reference held).
  CRfcBodyParser(IStream* stream, ULONG length, ULONG bodyStart, TSTRING& boundary, int split,
                 TSTRING& mediaType);
  ~CRfcBodyParser();

  // Counts line ends with analysis (copy nonzero: a private copy).
  void SetEOLSequence(const CSetEOLSequence* analysis, int copy);
  BOOL IsDataNull() const;
  // Fills the records afresh.
  void Parse();
  const std::vector<tag_PART_LAYOUT>& GetRecords() const { return m_records; }

  // How many line ends a run of CR and LF bytes stands for.
  DWORD CountEquivalentEOL(const TSTRING& run) const;

  // The next delimiter line at or after start: [begin, end), closing set
  // for the closing one. Nonzero when found.
  int FindBoundary(unsigned int start, unsigned int& begin, unsigned int& end, int& closing) const;
  // The first hidden block of a kind within [start, start + length).
  int FindUUencode(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;
  int FindBinHex40(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;
  int FindMailMsg(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;

  // Appends the text pieces and hidden blocks of [record.begin,
  // record.end); nonzero when a block was found. record is scratch.
  int CheckHiddenParts(tag_PART_LAYOUT& record);
  int CheckHiddenParts(tag_PART_LAYOUT& record, tag_PART_RECOGNIZER* rows, int count);
  // qsort order of recognizer rows: found first, then by begin.
  static int CmpHiddendPart(const void* a, const void* b);

  // Reads the header block of a pasted message from the reader's position;
  // returns the reader position where the block ends. boundary and
  // hasBoundary: its Content-Type's boundary.
  static DWORD GetEmbeddedBoundary(CStreamReader& reader, TSTRING& boundary, int& hasBoundary);

  CRfcBodyParser(const CRfcBodyParser&) = delete;
  CRfcBodyParser& operator=(const CRfcBodyParser&) = delete;

  // The part's bytes as the searches read them (defined with the parser).
  class CData;

 private:
  class CMemoryData;
  class CStreamData;

  void Init(ULONG length, ULONG bodyStart, TSTRING& boundary, int split, TSTRING& mediaType);
  DWORD DataEnd() const { return m_dwBase + m_dwDataLength; }
  void Append(DWORD begin, DWORD end, DWORD type, DWORD kind, DWORD status, DWORD flags);

  int FindBoundaryIn(const CData& data, unsigned int start, unsigned int& begin, unsigned int& end,
                     int& closing) const;
  int FindUUencodeIn(const CData& data, unsigned int start, unsigned int length, unsigned int& begin,
                     unsigned int& end) const;
  int FindBinHex40In(const CData& data, unsigned int start, unsigned int length, unsigned int& begin,
                     unsigned int& end) const;
  int FindMailMsgIn(const CData& data, unsigned int start, unsigned int length, unsigned int& begin,
                    unsigned int& end) const;

  int FindBoundaryInMemory(unsigned int start, unsigned int& begin, unsigned int& end, int& closing) const;
  int FindBoundaryInStream(unsigned int start, unsigned int& begin, unsigned int& end, int& closing) const;
  int FindUUencodeInMemory(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;
  int FindUUencodeInStream(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;
  int FindBinHex40InMemory(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;
  int FindBinHex40InStream(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;
  int FindMailMsgInMemory(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;
  int FindMailMsgInStream(unsigned int start, unsigned int length, unsigned int& begin, unsigned int& end) const;

  TSTRING m_strDelimiter;
  TSTRING m_strMediaType;
  DWORD m_dwDataLength;
  DWORD m_dwBodyStart;
  DWORD m_dwBase;
  const CSetEOLSequence* m_pEOL;                   // the caller's or m_pOwnedEOL
  std::unique_ptr<const CSetEOLSequence> m_pOwnedEOL;  // the parser's copy, or null
  int m_bSplit;
  int m_nDataKind;  // 0 buffer, 1 stream
  const unsigned char* m_pData;
  CStreamPtr m_pStream;
  std::vector<tag_PART_LAYOUT> m_records;
  mutable DWORD m_dwCloseSearchBudget;  // bytes the pasted messages' closing searches may still read
  CSeekSubstr m_Delimiter;
};

// Builds the shared matchers of pasted mail and uuencode (otherwise built
// at first use); safe to call more than once and from several threads.
void InitMailMsgSeekers();

}  // namespace telsor

#endif  // TELSOR_MIME_BODYPARSER_H
