// Body parts: construction, copying and the Macintosh file. Composition is
// in compose.cpp.
#include "mime/bodypart.h"

#include "mime/message.h"

namespace telsor {

CRfc822BodyPart::CRfc822BodyPart() {}

CRfc822BodyPart::CRfc822BodyPart(const CRfc822BodyPart&) : CRfc822Part() {}

CRfc822BodyPart::~CRfc822BodyPart() { Clear(); }

void CRfc822BodyPart::Clear() {
  CRfc822Part::Clear();
  m_pAppleFile = nullptr;
}

CRfc822BodyPart& CRfc822BodyPart::operator=(const CRfc822BodyPart& source) {
  if (&source == this) return *this;
  // Hold the Macintosh file first: the part assignment may delete the
  // source when it lies in this part's subtree (it copies it aside then).
  CSharedObjPtr<CAppleFile> appleFile = source.m_pAppleFile;
  CRfc822Part::operator=(source);
  m_pAppleFile = appleFile;
  return *this;
}

void CRfc822BodyPart::Clone(CRfc822BodyPart& target) const { CloneInto(*this, target); }

}  // namespace telsor
