// CRfc822Part: one MIME entity of a message tree (its header data, its
// content and its ordered children), and CRfc822Parts, the child list.
// The two kinds of node are CRfc822Message (mime/message.h: the root, and
// every embedded message) and CRfc822BodyPart (mime/bodypart.h).
//
//   CRfc822Message message;
//   CRfc822BodyPart* text = message.AddBodyPart(-1);     // number 1, depth 1
//   text->PutContentMediaType("text", "plain");          // "text/plain"
//   HRESULT hr = text->PutContentAsString("Hello\r\n");  // S_OK or E_OUTOFMEMORY
//   CRfc822Message* inner = message.AddMessage(-1);      // number 2
//   CRfc822BodyPart* deep = inner->AddBodyPart(-1);      // number 1 of inner
//   TSTRING where;
//   deep->GetPartLocator(where);                         // "2.1."
//   message.DeletePart(text);                            // inner stays number 2;
//                                                        // the next child is 3
//   int visited = 0;
//   bool (*count)(CRfc822Part*, void*) = [](CRfc822Part*, void* n) {
//     ++*static_cast<int*>(n);
//     return true;                                       // false stops the walk
//   };
//   ForEachPart(&message, count, &visited);              // message, inner, deep: 3
//
// Ownership: a part owns its children (deleted with it, or by DeletePart,
// RemoveParts, Clear and assignment to it), its header fields and its
// content; contents share their bytes and temporary files by reference
// count, so copies made by assignment or Clone share them, and a file the
// engine made goes with its last holder. Children are numbered 1, 2, 3 ...
// in the order they are added, never renumbered and never reused.
//
// Header fields are built from the raw header text on first demand
// (GetFields); GetHeaders composes the raw text from the fields when there
// is none. Failures: out of memory leaves as the engine's memory exception;
// content conversions throw DWORD codes (mime/contentdata.h); composition
// (mime/message.h) throws the output stream's failure as a DWORD code.
// A tree is used by one thread at a time.
#ifndef TELSOR_MIME_MESSAGEPART_H
#define TELSOR_MIME_MESSAGEPART_H

#include "foundation/istream.h"
#include "foundation/plist.h"
#include "foundation/tstring.h"
#include "foundation/wintypes.h"
#include "mime/contentdata.h"
#include "mime/headerfields.h"
#include "mime/sharedtmpfile.h"

namespace telsor {

// How far a part has been parsed (and how far a parse is asked to go).
enum tag_PARSE_SCOPE : int32_t {
  PARSE_SCOPE_STRUCTURE = 0,    // structure and header information, no contents
  PARSE_SCOPE_CONTENTS = 1,     // structure, header information and contents
  PARSE_SCOPE_HEADER_ONLY = 2,  // the top-level header only
  PARSE_SCOPE_FULL = 3,         // as 1; the header is filled as well
};

class CRfc822Part;
class CRfc822Message;
class CRfc822BodyPart;

// The children of a part, in the order they were added. The part that
// embeds the list owns them.
class CRfc822Parts : public CPList<CRfc822Part*, CRfc822Part*> {
 public:
  CRfc822Parts() : CPList<CRfc822Part*, CRfc822Part*>(10) {}
  ~CRfc822Parts() {}

  // Writes the children: under a multipart parent between delimiter lines
  // made from the parent's boundary, otherwise one after the other.
  virtual void Compose(IStream* stream) const;

  CRfc822Parts(const CRfc822Parts&) = delete;
  CRfc822Parts& operator=(const CRfc822Parts&) = delete;
};

class CRfc822Part {
 public:
  enum CONTENT_CLASS { CONTENT_CLASS_OTHER = 0, CONTENT_CLASS_MESSAGE = 1, CONTENT_CLASS_BODY_PART = 2 };

  virtual ~CRfc822Part();

  // Writing the part back as message text (mime/message.h, mime/bodypart.h).
  virtual void Compose(IStream* stream) = 0;
  virtual void ComposeHeader(IStream* stream) = 0;
  virtual void EncodeContent(IStream* stream) = 0;
  // The child list, never null; *err := 0 when err is given.
  virtual CRfc822Parts* GetParts(DWORD* err);
  virtual void ComposeContentType(IStream* stream) = 0;
  // Stores the default transfer encoding for the media type when there is
  // none, then writes its "Content-Transfer-Encoding" line unless it is
  // "7bit".
  virtual void ComposeContentTransferEncoding(IStream* stream);

  // 1 for a CRfc822Message, 2 for a CRfc822BodyPart, 0 otherwise.
  int GetContentClass() const;

  // A new empty child at the end of the list (position is not used).
  CRfc822Message* AddMessage(LONG position);
  CRfc822BodyPart* AddBodyPart(LONG position);
  // A new body part holding file as its content, marked as an attachment.
  CRfc822BodyPart* AddAttachment(CSharedObjPtr<CSharedTmpFile>& file);
  // Removes part from its parent's list and deletes it with its subtree;
  // part may lie anywhere. Null, a part without a parent, or a part that
  // its parent does not hold: nothing.
  void DeletePart(CRfc822Part* part);
  // Deletes every child with its subtree.
  void RemoveParts();
  // Appends the numbers on the path from the root, each followed by ".",
  // to locator ("1.3." for the third child of the first child; nothing for
  // a root).
  void GetPartLocator(TSTRING& locator) const;

  // Header data.
  DWORD GetParseStatus() const { return m_dwParseStatus; }
  void PutParseStatus(DWORD status) { m_dwParseStatus = status; }
  DWORD GetAnomalyFlags() const { return m_dwAnomalyFlags; }
  void AddAnomalyFlags(DWORD flags) { m_dwAnomalyFlags |= flags; }
  void PutAnomalyFlags(DWORD flags) { m_dwAnomalyFlags = flags; }
  ULONG GetPartNumber() const { return m_nPartNumber; }
  ULONG GetNextChildNumber() const { return m_nNextChildNumber; }
  ULONG GetDepth() const { return m_nDepth; }
  CRfc822Part* GetParent() const { return m_pParent; }
  tag_PARSE_SCOPE GetParseScope() const { return m_nParseScope; }
  void PutParseScope(tag_PARSE_SCOPE scope) { m_nParseScope = scope; }
  BOOL IsAttachment() const { return m_bAttachment; }
  void PutAttachment(BOOL attachment) { m_bAttachment = attachment; }

  const TSTRING& GetContentMediaType() const { return m_strContentMediaType; }
  const TSTRING& GetContentTransferEncoding() const { return m_strContentTransferEncoding; }
  const TSTRING& GetAttachmentName() const { return m_strAttachmentName; }
  const TSTRING& GetBoundary() const { return m_strBoundary; }
  const TSTRING& GetCharset() const { return m_strCharset; }
  const TSTRING& GetName() const { return m_strName; }
  const TSTRING& GetContentID() const { return m_strContentID; }
  const TSTRING& GetContentDescription() const { return m_strContentDescription; }
  const TSTRING& GetContentDisposition() const { return m_strContentDisposition; }
  const TSTRING& GetMimePreambule() const { return m_strMimePreambule; }
  const TSTRING& GetMimeEpilog() const { return m_strMimeEpilog; }

  // Each stores a copy of the text (null: empty).
  void PutContentMediaType(const char* type) { m_strContentMediaType = type; }
  // type "/" subtype.
  void PutContentMediaType(const char* type, const char* subtype);
  void PutContentTransferEncoding(const char* encoding) { m_strContentTransferEncoding = encoding; }
  void PutAttachmentName(const char* name) { m_strAttachmentName = name; }
  void PutBoundary(const char* boundary) { m_strBoundary = boundary; }
  void PutCharset(const char* charset) { m_strCharset = charset; }
  void PutName(const char* name) { m_strName = name; }
  void PutContentID(const char* id) { m_strContentID = id; }
  void PutContentDescription(const char* description) { m_strContentDescription = description; }
  // "attachment" (any case) also marks the part as an attachment; another
  // value leaves the mark as it is.
  void PutContentDisposition(const char* disposition);
  void PutHeaders(const char* headers) { m_strHeaders = headers; }
  void PutMimePreambule(const char* preamble) { m_strMimePreambule = preamble; }
  void PutMimeEpilog(const char* epilogue) { m_strMimeEpilog = epilogue; }

  // Whether the media type begins with "multipart/" (any case).
  bool IsMultipart() const;
  // A new boundary "=_Part_<time high>_<time low>_<counter>" in upper-case
  // hexadecimal: the current time as a FILETIME and a process-wide counter.
  static TSTRING CreateBoundary();

  // Content. S_OK, or E_OUTOFMEMORY with the content left empty.
  [[nodiscard]] HRESULT PutContentAsString(const unsigned char* data, ULONG length);
  [[nodiscard]] HRESULT PutContentAsString(const char* text);
  void PutContentAsFile(CSharedObjPtr<CSharedTmpFile>& file);
  // The bytes (read from the file first when only it holds them); valid
  // until the content changes. Throws the system error number as DWORD
  // when the file cannot be read, also when it vanished since it was set.
  const unsigned char* GetContentAsString(ULONG& length);
  // The content's file, written from the bytes first when only they hold
  // it; null for an empty content. Throws the system error as DWORD.
  CSharedObjPtr<CSharedTmpFile> GetContentAsFile();
  CRfc822ContentData& GetContent() { return m_Content; }
  const CRfc822ContentData& GetContent() const { return m_Content; }

  // The header fields, built from the raw header text while the collection
  // is empty, then put in order (ORDER_KEEP: as they are); the order chosen
  // stays.
  CRfc822Fields& GetFields(CRfc822Fields::FIELDS_ORDER order);
  // The raw header text, composed from the fields (in insertion order,
  // lines folded at 152) when there is none; valid until it changes.
  const char* GetHeaders();

  // Deletes the children and empties the header, the content and the
  // structure texts (boundary, media type, attachment name, transfer
  // encoding, preamble, epilogue); scope and anomaly flags 0. Charset,
  // name, Content-ID, description, disposition, the attachment mark, the
  // parse status and the place in the tree stay.
  void Clear();
  // Copies this one node (its fields, content, texts, attachment mark,
  // scope and status), not its children, which the target loses; the
  // target keeps its place in the tree and its anomaly flags become 0.
  CRfc822Part& operator=(const CRfc822Part& source);

 protected:
  CRfc822Part();
  // An empty part: copies are made with operator= or Clone.
  CRfc822Part(const CRfc822Part&);

  // True when part is this part or lies in its subtree.
  bool Holds(const CRfc822Part* part) const;
  // Re-creates each child in order at the end of target's children, each
  // a Clone of the child (message or body part; other kinds are skipped).
  void CloneChildren(CRfc822Part& target) const;
  // The deep copy of either node kind: target := source and copies of its
  // children. Into source's own subtree: nothing; into an ancestor of
  // source (whose clearing would delete source): through a copy aside.
  template <class Part>
  static void CloneInto(const Part& source, Part& target) {
    const CRfc822Part& from = source;
    const CRfc822Part& to = target;
    if (from.Holds(&to)) return;
    if (to.Holds(&from)) {
      Part aside;
      CloneInto(source, aside);
      CloneInto(static_cast<const Part&>(aside), target);
      return;
    }
    target.Clear();
    target = source;
    target.PutParseScope(source.GetParseScope());
    from.CloneChildren(target);
  }

 private:
  friend class CRfc822Parts;
  // Links a new child at the end of the list.
  void Adopt(CRfc822Part* child);

  DWORD m_dwParseStatus;
  DWORD m_dwAnomalyFlags;
  ULONG m_nPartNumber;
  ULONG m_nNextChildNumber;
  TSTRING m_strContentMediaType;
  TSTRING m_strContentTransferEncoding;
  TSTRING m_strAttachmentName;
  TSTRING m_strBoundary;
  TSTRING m_strCharset;
  TSTRING m_strName;
  TSTRING m_strContentID;
  TSTRING m_strContentDescription;
  TSTRING m_strContentDisposition;
  BOOL m_bAttachment;
  CRfc822Fields m_Fields;
  TSTRING m_strHeaders;
  CRfc822Part* m_pParent;
  tag_PARSE_SCOPE m_nParseScope;
  CRfc822ContentData m_Content;
  ULONG m_nDepth;
  TSTRING m_strMimePreambule;
  TSTRING m_strMimeEpilog;
  CRfc822Parts m_Parts;
};

// Pre-order walk: callback(part), then each child's walk in order. Stops
// and returns false as soon as a callback returns false; false without a
// call for a null callback; true when every part was visited.
bool ForEachPart(CRfc822Part* part, bool (*callback)(CRfc822Part*, void*), void* context);

}  // namespace telsor

#endif  // TELSOR_MIME_MESSAGEPART_H
