// CRfc822BodyPart: every MIME entity of a message tree that is not a
// message: a CRfc822Part (mime/messagepart.h) that can carry a Macintosh
// file and writes itself back out as MIME text.
//
//   static const unsigned char bytes[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0};
//   IStream* out = nullptr;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &out);
//   if (FAILED(hr)) return hr;
//   CRfc822Message message;
//   CRfc822BodyPart* gif = message.AddBodyPart(-1);   // owned by message
//   gif->PutContentMediaType("image/gif");
//   gif->PutAttachment(TRUE);
//   gif->PutAttachmentName("logo.gif");
//   hr = gif->PutContentAsString(bytes, sizeof bytes);  // S_OK or E_OUTOFMEMORY
//   if (SUCCEEDED(hr)) gif->Compose(out);             // failures thrown as DWORD codes
//   // Content-Type: image/gif
//   // Content-Transfer-Encoding: base64        (chosen and stored)
//   // Content-Disposition: attachment;
//   //         filename="logo.gif"
//   //
//   // R0lGODlh...                               (72 characters a line)
//   out->Release();
//
// A part with an empty content writes its children instead (between
// delimiter lines made from its boundary, which it makes when it has none);
// a part with neither writes its header lines only. Composing stores what
// it chose (transfer encoding, boundary), so a second composition writes
// the same. Failures are thrown as DWORD codes: the output's, the
// content's, the encoders' (E_NOTIMPL when the Macintosh file cannot be
// written in the part's transfer encoding). One thread at a time.
#ifndef TELSOR_MIME_BODYPART_H
#define TELSOR_MIME_BODYPART_H

#include "foundation/istream.h"
#include "foundation/obj.h"
#include "foundation/wintypes.h"
#include "mime/applefile.h"
#include "mime/messagepart.h"

namespace telsor {

class CRfc822BodyPart : public CRfc822Part {
 public:
  CRfc822BodyPart();
  // An empty body part: copies are made with operator= or Clone.
  CRfc822BodyPart(const CRfc822BodyPart&);
  ~CRfc822BodyPart() override;

  // The part's own data (CRfc822Part::operator=) and a share of the
  // Macintosh file; the target's children are deleted, none are copied.
  CRfc822BodyPart& operator=(const CRfc822BodyPart& source);
  // target := a deep copy of this part and its subtree (contents and
  // Macintosh files shared). Into this part itself or into a part of its
  // own subtree: nothing.
  void Clone(CRfc822BodyPart& target) const;
  // CRfc822Part::Clear, and the Macintosh file is let go.
  void Clear();

  void PutAppleFile(CSharedObjPtr<CAppleFile>& file) { m_pAppleFile = file; }
  CSharedObjPtr<CAppleFile> GetAppleFile() const { return m_pAppleFile; }

  // ComposeHeader, then EncodeContent.
  void Compose(IStream* stream) override;
  // Content-ID, Content-Type, Content-Transfer-Encoding, for an attachment
  // Content-Disposition and Content-Description, then the extension fields
  // of the header; no blank line.
  void ComposeHeader(IStream* stream) override;
  // The blank line and the content in the transfer encoding; for an empty
  // content the children instead.
  void EncodeContent(IStream* stream) override;
  // The "Content-Type" line with its charset or boundary parameter; nothing
  // without a media type.
  void ComposeContentType(IStream* stream) override;

  // EncodeContent, with (TRUE) or without the blank line that ends a part
  // header (without: the content follows a header that ended itself).
  void WriteContent(IStream* stream, BOOL blankLine);

 private:
  CSharedObjPtr<CAppleFile> m_pAppleFile;
};

}  // namespace telsor

#endif  // TELSOR_MIME_BODYPART_H
