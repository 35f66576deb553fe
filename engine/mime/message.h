// CRfc822Message: a whole message, the root of every part tree and the node
// of every embedded message. To the part (mime/messagepart.h) it adds the
// message-level header data (five address lists, Subject, Priority,
// Message-ID, the time of the Date field), the MIME-formatted flag that
// steers composition, and one reference to the parser session bound to it.
//
//   CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile("/home/ann/report.pdf", FALSE);
//   CRfc822Message message;
//   message.From() = "Ann <ann@example.org>";
//   message.To() = "bob@example.org";
//   message.Subject() = "Report";
//   CRfc822BodyPart* text = message.AddBodyPart(-1);
//   text->PutContentMediaType("text/plain");
//   HRESULT hr = text->PutContentAsString("See attachment.\r\n");
//   message.AddAttachment(file)->PutAttachmentName("report.pdf");
//   if (SUCCEEDED(hr)) hr = message.ComposeToFile("/tmp/out.eml");
//   // Date, From, Subject, To, MIME-Version, "Content-Type: multipart/mixed;"
//   // with a new boundary, the preamble line, the two parts between
//   // delimiter lines; S_OK, or the failure's code
//
//   CRfc822Message copy;
//   message.Clone(copy);                      // the whole tree, sharing contents
//   copy.LocatePart("2", nullptr);            // the attachment ("2." works too)
//
// Composition: a message that holds its own bytes (a parsed one) is written
// exactly as stored; otherwise it is written from the model, which it
// changes as it goes (media type, boundary, chosen transfer encodings). The
// boundary counter is process-wide and atomic; a tree is composed by one
// thread at a time. Compose throws the stream's failure code as DWORD;
// ComposeToFile turns every failure into its result: memory 8
// (ERROR_NOT_ENOUGH_MEMORY), a file exception its system error, a DWORD
// code itself, anything else E_COMPOSE_FILE_FAILED.
#ifndef TELSOR_MIME_MESSAGE_H
#define TELSOR_MIME_MESSAGE_H

#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/tstring.h"
#include "foundation/win32.h"
#include "foundation/wintypes.h"
#include "mime/messagepart.h"
#include "mime/rfc822address.h"
#include "mime/rfc822parser.h"

namespace telsor {

class CRfc822Message : public CRfc822Part {
 public:
  CRfc822Message();
  // An empty message: copies are made with operator= or Clone.
  CRfc822Message(const CRfc822Message&);
  ~CRfc822Message() override;

  // Header data, filled by the header filling; modifiable.
  TSTRING& MessageID() { return m_strMessageID; }  // without angle brackets
  CRfc822Addresses& From() { return m_From; }
  TSTRING& Subject() { return m_strSubject; }
  CRfc822Addresses& To() { return m_To; }
  CRfc822Addresses& Cc() { return m_Cc; }
  CRfc822Addresses& Bcc() { return m_Bcc; }
  CRfc822Addresses& ReplyTo() { return m_ReplyTo; }
  TSTRING& Priority() { return m_strPriority; }
  SYSTEMTIME& ReceivedTime() { return m_stReceivedTime; }  // UTC; all 0 without a Date

  int GetMimeFormatted() const { return m_bMimeFormatted; }
  void PutMimeFormatted(int flag) { m_bMimeFormatted = flag; }
  // Binds parser (one reference); null or the bound one: nothing.
  void SetParser(CRfc822Parser* parser);
  CRfc822Parser* GetParser() const { return m_pParser; }
  // file becomes the content, then parser (bound first; null: the bound
  // one) parses it. E_POINTER when no parser is bound.
  [[nodiscard]] HRESULT Parse(CSharedObjPtr<CSharedTmpFile>& file, CRfc822Parser* parser, tag_PARSE_SCOPE scope);

  // CRfc822Part::Clear, the parser let go, the header data emptied; the
  // MIME-formatted flag stays.
  void Clear();
  // Copies the message's own data and its parser binding, not its children
  // (the target's are deleted). The target's scope is at most header-only:
  // 2 when the source's is 2 or 3, else 0.
  CRfc822Message& operator=(const CRfc822Message& source);
  // target := a deep copy of this message and its tree, scope included;
  // contents are shared, parts renumbered from target's next number,
  // anomaly flags 0. Into this message itself or into a part of its own
  // subtree: nothing.
  void Clone(CRfc822Message& target) const;
  // The part that locator names ("2.1." or "2.1", from the root of the
  // tree that holds this message), or null; null or "" name this message
  // when it is a root. *err := 0 when err is given.
  CRfc822Part* LocatePart(const char* locator, DWORD* err);

  CRfc822Parts* GetParts(DWORD* err) override;

  // The whole message: its stored bytes (less a final "." line), or the
  // model's header and parts.
  void Compose(IStream* stream) override;
  // Compose into the file at path, created or truncated. S_OK, E_POINTER
  // for a null path, the file stream's code, or the failure's (above).
  [[nodiscard]] HRESULT ComposeToFile(const char* path);
  // The message header block, ending with the blank line.
  void ComposeMessageHeader(IStream* stream);
  // The MIME content lines of the message header (MIME-formatted only).
  void ComposeContentType(IStream* stream) override;
  // The part header of the message inside a multipart: Content-Type
  // message/rfc822 and its transfer encoding.
  void ComposeHeader(IStream* stream) override;
  // Nothing: a message writes its body through Compose.
  void EncodeContent(IStream* stream) override;

 private:
  int m_bMimeFormatted;
  CSharedObjPtr<CRfc822Parser> m_pParser;
  SYSTEMTIME m_stReceivedTime;
  CRfc822Addresses m_From;
  CRfc822Addresses m_ReplyTo;
  CRfc822Addresses m_To;
  CRfc822Addresses m_Cc;
  CRfc822Addresses m_Bcc;
  TSTRING m_strSubject;
  TSTRING m_strPriority;
  TSTRING m_strMessageID;
};

}  // namespace telsor

#endif  // TELSOR_MIME_MESSAGE_H
