// CRfc822PartDescriptor: one node of the structure scan, the fast pass that
// finds where every part of a message lies before the part tree is filled.
//
//   const char* msg = "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
//                     "--b\r\n\r\none\r\n--b--\r\n";
//   CRfc822PartDescriptor root(nullptr);
//   root.m_nKind = 1;                                  // the root is a message
//   HRESULT hr = root.Parse(reinterpret_cast<const unsigned char*>(msg), 64);
//   // hr == S_OK; root.m_strMediaType == "multipart/mixed";
//   // one child of kind 2 with part start 50 and part end 55 ("\r\none")
//   for (void* pos = root.m_Children.GetHeadPosition(); pos != nullptr;) {
//     CRfc822PartDescriptor* child = root.m_Children.GetNext(pos);
//     (void)child;                                     // m_dwPartStart, m_dwBodyStart, ...
//   }
//
// The scan reads bytes and records offsets; it never decodes and never
// copies a body. For every MIME part, nested message/rfc822 body and block
// hidden in text (a uuencoded or BinHex file: kind 2 with transfer
// encoding "uuencode" or "BinHex"; a pasted mail: kind 1, "message/rfc822",
// "binary") it records the part, its header block, body, preamble and
// epilogue as byte offsets, the header values that steer the structure,
// a status (the first failure of that part's scan) and anomaly flags
// (mime/anomalyflags.h). Structural faults of a message only add flags.
//
// Offsets are offsets from the root's buffer in the buffer form and
// absolute stream positions in the stream form (a stream that begins with
// the message gives the same numbers); a child's offsets lie inside its
// parent's part. Both forms give the same tree and flags; the root's status
// can differ (the buffer form does not store the result of the part's own
// dispatch there).
//
// Limits: a descriptor whose nesting level is above 255 gets no children
// (E_MIME_TOO_DEEP); the level is the depth plus one for every nested
// message scanned in place on the way down, so in-place rescans cannot
// recurse without bound either. A root may be given a level above 0 before
// Parse (a message decoded from a part of another tree, scanned anew), so
// that nesting stays bounded across such scans. A tree holds at most 2,049
// descriptors:
// once it does, no part adds further children (E_MIME_TOO_MANY_PARTS in
// the status of the part that stopped).
//
// A descriptor owns its children and its own end-of-line analysis; deleting
// one detaches it from its parent first. One tree belongs to one thread.
#ifndef TELSOR_MIME_PARTDESCRIPTOR_H
#define TELSOR_MIME_PARTDESCRIPTOR_H

#include <memory>

#include "foundation/istream.h"
#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/eolanalysis.h"
#include "mime/headerscanner.h"

namespace telsor {

class CRfcBodyParser;

class CRfc822PartDescriptor {
 public:
  // Kinds of a descriptor.
  enum { KIND_UNCLASSIFIED = 0, KIND_MESSAGE = 1, KIND_BODY_PART = 2 };
  // A descriptor above this nesting level gets no children.
  static constexpr DWORD MAX_LEVEL = 255;
  // The most descriptors one tree holds.
  static constexpr DWORD MAX_DESCRIPTORS = 2049;

  // A descriptor with that parent (null for a root); it does not link
  // itself to the parent (CreateChild does).
  explicit CRfc822PartDescriptor(CRfc822PartDescriptor* parent);
  ~CRfc822PartDescriptor();

  // Scans one part: the given bytes, or the next length bytes of the
  // stream, which stands at the part's start. m_dwPartStart must be set.
  // The result is also kept in the status when that was 0 (the buffer
  // form keeps only header-block failures there).
  [[nodiscard]] HRESULT Parse(const unsigned char* data, ULONG length);
  [[nodiscard]] HRESULT Parse(IStream* stream, ULONG length);

  // Reads one header block into the header values; returns the scanner's
  // position at its end.
  DWORD ParseHeaders(CRfc822HeadersParser& scanner);
  // The same over a buffer (returns the end inside it) or the stream's
  // next length bytes (returns the end as a stream position). Failures are
  // thrown as DWORD codes.
  const unsigned char* ParseHeaders(const unsigned char* data, ULONG length);
  DWORD ParseHeaders(IStream* stream, ULONG length);

  // Splits a multipart part (headers included) into children.
  [[nodiscard]] HRESULT ParseMultipart(const unsigned char* data, ULONG length);
  [[nodiscard]] HRESULT ParseMultipart(IStream* stream, ULONG length);
  // Scans the body of a message/rfc822 part in place as a message.
  [[nodiscard]] HRESULT ParseNestedMessage(const unsigned char* data, ULONG length);
  [[nodiscard]] HRESULT ParseNestedMessage(IStream* stream, ULONG length);
  // Makes children of the blocks hidden in a text part (headers included).
  [[nodiscard]] HRESULT CheckTextForHiddenPart(const unsigned char* data, ULONG length);
  [[nodiscard]] HRESULT CheckTextForHiddenPart(IStream* stream, ULONG length);
  // The line-end analysis of this descriptor's message, made over the
  // range when there is none yet. Failures are thrown as DWORD codes.
  CSetEOLSequence* GetEOLSequence(const unsigned char* data, ULONG length);
  CSetEOLSequence* GetEOLSequence(IStream* stream, ULONG length);

  // S_OK, E_MIME_TOO_DEEP or E_MIME_TOO_MANY_PARTS.
  [[nodiscard]] HRESULT CheckLimits() const;
  // Descriptors below this one, at every depth.
  DWORD GetChildCount() const { return m_dwDescendants; }
  // Descriptors in the whole tree.
  DWORD GetTotalCount() const;

  // A new last child (null when memory runs out).
  CRfc822PartDescriptor* CreateChild();
  // CreateChild within the tree's part limit: E_MIME_TOO_MANY_PARTS past it,
  // NO_DESCRIPTOR when memory runs out; either is also kept as the status.
  [[nodiscard]] HRESULT CreateCountedChild(CRfc822PartDescriptor*& child);
  // Unlinks child when it is one of the children; DestroyChild also
  // deletes it.
  void RemoveChild(CRfc822PartDescriptor* child);
  void DestroyChild(CRfc822PartDescriptor* child);
  // Deletes the children and resets what a scan sets, but for depth, level,
  // has boundary, encoded nested message and the line-end analysis.
  void ClearAll();

  CRfc822PartDescriptor* m_pParent;   // not owned
  std::unique_ptr<CSetEOLSequence> m_pEOL;  // made by this descriptor; null when an ancestor's applies
  CPList<CRfc822PartDescriptor*, CRfc822PartDescriptor*> m_Children;
  int32_t m_nKind;                    // KIND_*
  DWORD m_dwPartStart;                // the header block's first byte
  DWORD m_dwHeaderEnd;                // after the header block and its empty line
  DWORD m_dwBodyStart;                // the first body byte
  DWORD m_dwPartEnd;                  // after the part's last byte
  DWORD m_dwPreambleStart, m_dwPreambleEnd;
  DWORD m_dwEpilogueStart, m_dwEpilogueEnd;
  int32_t m_bHasContentType;
  int32_t m_bEncodedMessage;          // a message/rfc822 body left encoded, not scanned
  int32_t m_bHasBoundary;
  DWORD m_dwStatus;                   // 0 or the first failure of this part's scan
  DWORD m_dwAnomalyFlags;
  TSTRING m_strBoundary;
  TSTRING m_strMediaType;             // type/subtype
  TSTRING m_strContentId;             // the last Content-ID or Content-Location
  TSTRING m_strTransferEncoding;      // the first Content-Transfer-Encoding
  TSTRING m_strDisposition;           // the last Content-Disposition
  DWORD m_dwDepth;                    // 0 for a root
  DWORD m_dwDescendants;
  DWORD m_dwLevel;                    // depth plus the in-place message scans above and here

  CRfc822PartDescriptor(const CRfc822PartDescriptor&) = delete;
  CRfc822PartDescriptor& operator=(const CRfc822PartDescriptor&) = delete;

 private:
  // The bytes of one scan step: a buffer, or a stream standing at their
  // first byte.
  struct tag_RANGE {
    const unsigned char* data;
    IStream* stream;
    ULONG length;
  };
  // length bytes of r from offset in its buffer, or from the absolute
  // position in its stream (which is moved there).
  static tag_RANGE Sub(const tag_RANGE& r, DWORD offset, DWORD position, ULONG length);

  [[nodiscard]] HRESULT ParseIn(const tag_RANGE& r);
  ULONG ParseHeadersIn(const tag_RANGE& r);
  [[nodiscard]] HRESULT ParseMultipartIn(const tag_RANGE& r);
  [[nodiscard]] HRESULT ParseNestedMessageIn(const tag_RANGE& r);
  // A pasted message (one found in a text) whose own header announces a
  // message: it keeps its header block, and the body becomes its one child
  // message, scanned in place (so every byte of the text stays in a part).
  [[nodiscard]] HRESULT ParseAnnouncedMessageIn(const tag_RANGE& body);
  [[nodiscard]] HRESULT CheckTextForHiddenPartIn(const tag_RANGE& r);
  CSetEOLSequence* GetEOLSequenceIn(const tag_RANGE& r);
  // The body parser run over the whole part with this part's boundary,
  // media type and header length (failures thrown).
  std::unique_ptr<CRfcBodyParser> RunBodyParser(const tag_RANGE& r, const CSetEOLSequence* eol);
  // Adds to every ancestor's and this descriptor's descendant count.
  void AddDescendants(LONG delta);
  // Whether the transfer encoding leaves the body readable as text.
  bool IsPlainEncoding() const;
};

}  // namespace telsor

#endif  // TELSOR_MIME_PARTDESCRIPTOR_H
