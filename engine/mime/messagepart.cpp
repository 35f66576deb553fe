// The part tree: nodes, children, walking, locating, header fields and
// content of a part.
#include "mime/messagepart.h"

#include <string.h>
#include <strings.h>

#include <memory>
#include <vector>

#include "foundation/errorroad.h"
#include "foundation/exception.h"
#include "foundation/globalmem.h"
#include "foundation/hglobalstream.h"
#include "foundation/throwcode.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

namespace telsor {

CRfc822Part::CRfc822Part()
    : m_dwParseStatus(0),
      m_dwAnomalyFlags(0),
      m_nPartNumber(0),
      m_nNextChildNumber(1),
      m_bAttachment(0),
      m_pParent(nullptr),
      m_nParseScope(PARSE_SCOPE_STRUCTURE),
      m_nDepth(0) {}

CRfc822Part::CRfc822Part(const CRfc822Part&) : CRfc822Part() {}

CRfc822Part::~CRfc822Part() { Clear(); }

CRfc822Parts* CRfc822Part::GetParts(DWORD* err) {
  if (err != nullptr) *err = 0;
  return &m_Parts;
}

int CRfc822Part::GetContentClass() const {
  if (dynamic_cast<const CRfc822Message*>(this) != nullptr) return CONTENT_CLASS_MESSAGE;
  if (dynamic_cast<const CRfc822BodyPart*>(this) != nullptr) return CONTENT_CLASS_BODY_PART;
  return CONTENT_CLASS_OTHER;
}

void CRfc822Part::Adopt(CRfc822Part* child) {
  std::unique_ptr<CRfc822Part> holder(child);
  m_Parts.AddTail(child);
  holder.release();
  child->m_nPartNumber = m_nNextChildNumber++;
  child->m_nDepth = m_nDepth + 1;
  child->m_pParent = this;
  child->m_Content.PutTempDir(m_Content.GetTempDir());
}

CRfc822Message* CRfc822Part::AddMessage(LONG) {
  CRfc822Message* child = new CRfc822Message;
  Adopt(child);
  return child;
}

CRfc822BodyPart* CRfc822Part::AddBodyPart(LONG) {
  CRfc822BodyPart* child = new CRfc822BodyPart;
  Adopt(child);
  return child;
}

CRfc822BodyPart* CRfc822Part::AddAttachment(CSharedObjPtr<CSharedTmpFile>& file) {
  CRfc822BodyPart* child = AddBodyPart(-1);
  child->PutContentAsFile(file);
  child->PutAttachment(1);
  return child;
}

void CRfc822Part::DeletePart(CRfc822Part* part) {
  if (part == nullptr || part->m_pParent == nullptr) return;
  CRfc822Parts& siblings = part->m_pParent->m_Parts;
  void* node = siblings.Find(part);
  if (node == nullptr) return;
  siblings.RemoveAt(node);
  delete part;
}

void CRfc822Part::RemoveParts() {
  // Each child leaves the list before it is deleted, so a child's
  // destructor never sees itself among its parent's children.
  while (!m_Parts.IsEmpty()) {
    void* node = m_Parts.GetHeadPosition();
    CRfc822Part* child = m_Parts.GetAt(node);
    m_Parts.RemoveAt(node);
    delete child;
  }
}

void CRfc822Part::GetPartLocator(TSTRING& locator) const {
  std::vector<ULONG> numbers;
  for (const CRfc822Part* part = this; part != nullptr; part = part->m_pParent) {
    if (part->m_nPartNumber != 0) numbers.push_back(part->m_nPartNumber);
  }
  char digits[16];
  for (auto it = numbers.rbegin(); it != numbers.rend(); ++it) {
    snprintf(digits, sizeof digits, "%u.", *it);
    locator.ConcatInPlace(static_cast<int>(strlen(digits)), digits);
  }
}

bool CRfc822Part::Holds(const CRfc822Part* part) const {
  for (; part != nullptr; part = part->m_pParent) {
    if (part == this) return true;
  }
  return false;
}

void CRfc822Part::PutContentMediaType(const char* type, const char* subtype) {
  TSTRING text(type);
  text.ConcatInPlace(1, "/");
  if (subtype != nullptr) text.ConcatInPlace(static_cast<int>(strlen(subtype)), subtype);
  m_strContentMediaType = text;
}

void CRfc822Part::PutContentDisposition(const char* disposition) {
  m_strContentDisposition = disposition;
  if (disposition != nullptr && strcasecmp(disposition, "attachment") == 0) m_bAttachment = 1;
}

HRESULT CRfc822Part::PutContentAsString(const unsigned char* data, ULONG length) {
  return m_Content.PutAsString(data, length);
}

HRESULT CRfc822Part::PutContentAsString(const char* text) {
  ULONG length = text != nullptr ? static_cast<ULONG>(strlen(text)) : 0;
  return m_Content.PutAsString(reinterpret_cast<const unsigned char*>(text), length);
}

void CRfc822Part::PutContentAsFile(CSharedObjPtr<CSharedTmpFile>& file) { m_Content.PutAsFile(file); }

const unsigned char* CRfc822Part::GetContentAsString(ULONG& length) {
  const unsigned char* bytes = m_Content.GetAsString(length);
  // A file that vanished since it was set gives no bytes while the size
  // says there are some: that is a failure, not an empty content.
  if (length == 0 && m_Content.GetSize() != 0) ThrowCode(ERROR_FILE_NOT_FOUND);
  return bytes;
}

CSharedObjPtr<CSharedTmpFile> CRfc822Part::GetContentAsFile() { return m_Content.GetAsFile(); }

CRfc822Fields& CRfc822Part::GetFields(CRfc822Fields::FIELDS_ORDER order) {
  if (m_Fields.GetCount() == 0 && !m_strHeaders.IsEmpty()) {
    HRESULT hr = CRfc822Parser::CreateFieldsCollection(m_strHeaders.c_str(), m_Fields, 0);
    if (hr == E_OUTOFMEMORY) AfxThrowMemoryException();
    if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
  }
  if (order != CRfc822Fields::ORDER_KEEP && order != m_Fields.GetOrder()) m_Fields.Sort(order);
  return m_Fields;
}

const char* CRfc822Part::GetHeaders() {
  if (!m_strHeaders.IsEmpty() || m_Fields.GetCount() == 0) return m_strHeaders.c_str();
  m_Fields.Sort(CRfc822Fields::ORDER_INSERTION);
  size_t size = 0;
  for (ULONG i = 0; i < m_Fields.GetCount(); ++i) {
    const CRfc822Field& field = m_Fields[static_cast<LONG>(i)];
    size += static_cast<size_t>(field.GetName().GetLength()) + static_cast<size_t>(field.GetContents().GetLength()) + 64;
  }
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<UINT>(size));
  if (block == nullptr) return m_strHeaders.c_str();
  CStreamPtr stream;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, stream.Out()))) {
    GlobalFree(block);
    return m_strHeaders.c_str();
  }
  // A failing stream leaves the text empty; the fields stay.
  ResultOf([&] {
    for (ULONG i = 0; i < m_Fields.GetCount(); ++i) m_Fields[static_cast<LONG>(i)].Compose(stream, 152);
    ULONGLONG written = 0;
    HRESULT hr = StreamPosition(stream, &written);
    if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
    if (written == 0) return;
    HGLOBAL current = nullptr;
    GetHGlobalFromStream(stream, &current);
    const char* bytes = static_cast<const char*>(GlobalLock(current));
    TSTRING text(bytes, static_cast<int>(written));
    GlobalUnlock(current);
    m_strHeaders = text;
  });
  return m_strHeaders.c_str();
}

void CRfc822Part::Clear() {
  RemoveParts();
  m_Fields.RemoveAll();
  m_strHeaders.Release();
  m_Content.Empty();
  m_strBoundary.Release();
  m_strContentMediaType.Release();
  m_strAttachmentName.Release();
  m_strContentTransferEncoding.Release();
  m_strMimePreambule.Release();
  m_strMimeEpilog.Release();
  m_nParseScope = PARSE_SCOPE_STRUCTURE;
  m_dwAnomalyFlags = 0;
}

CRfc822Part& CRfc822Part::operator=(const CRfc822Part& source) {
  if (&source == this) return *this;
  if (Holds(&source)) {
    // The source lies in the subtree that Clear deletes: copy it aside
    // first.
    CRfc822BodyPart aside;
    aside.CRfc822Part::operator=(source);
    return *this = aside;
  }
  Clear();
  m_Fields = source.m_Fields;
  m_bAttachment = source.m_bAttachment;
  m_nParseScope = source.m_nParseScope;
  m_dwParseStatus = source.m_dwParseStatus;
  m_Content = source.m_Content;
  m_strHeaders = source.m_strHeaders;
  m_strContentMediaType = source.m_strContentMediaType;
  m_strContentTransferEncoding = source.m_strContentTransferEncoding;
  m_strAttachmentName = source.m_strAttachmentName;
  m_strBoundary = source.m_strBoundary;
  m_strMimePreambule = source.m_strMimePreambule;
  m_strMimeEpilog = source.m_strMimeEpilog;
  m_strCharset = source.m_strCharset;
  m_strName = source.m_strName;
  m_strContentID = source.m_strContentID;
  m_strContentDescription = source.m_strContentDescription;
  m_strContentDisposition = source.m_strContentDisposition;
  return *this;
}

void CRfc822Part::CloneChildren(CRfc822Part& target) const {
  const CRfc822Parts& children = m_Parts;
  for (void* pos = children.GetHeadPosition(); pos != nullptr;) {
    const CRfc822Part* child = children.GetNext(pos);
    switch (child->GetContentClass()) {
      case CONTENT_CLASS_MESSAGE:
        static_cast<const CRfc822Message*>(child)->Clone(*target.AddMessage(-1));
        break;
      case CONTENT_CLASS_BODY_PART:
        static_cast<const CRfc822BodyPart*>(child)->Clone(*target.AddBodyPart(-1));
        break;
      default:
        break;
    }
  }
}

bool ForEachPart(CRfc822Part* part, bool (*callback)(CRfc822Part*, void*), void* context) {
  if (callback == nullptr) return false;
  if (part == nullptr) return true;
  if (!callback(part, context)) return false;
  const CRfc822Parts* children = part->GetParts(nullptr);
  for (void* pos = children->GetHeadPosition(); pos != nullptr;) {
    if (!ForEachPart(children->GetNext(pos), callback, context)) return false;
  }
  return true;
}

}  // namespace telsor
