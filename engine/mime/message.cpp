// Messages: header data, parser binding, clearing, copying and locating
// parts. Composition is in compose.cpp.
#include "mime/message.h"

#include <stdlib.h>
#include <string.h>

#include <memory>

#include "mime/bodypart.h"

namespace telsor {

namespace {

// target := copies of source's addresses, in order.
void CopyAddresses(CRfc822Addresses& target, const CRfc822Addresses& source) {
  if (&target == &source) return;
  target.RemoveAll();
  for (void* pos = source.GetHeadPosition(); pos != nullptr;) {
    CRfc822Address address(source.GetNext(pos));
    target.AddTail(address);
  }
}

}  // namespace

CRfc822Message::CRfc822Message() : m_bMimeFormatted(1) { memset(&m_stReceivedTime, 0, sizeof m_stReceivedTime); }

CRfc822Message::CRfc822Message(const CRfc822Message&) : CRfc822Message() {}

CRfc822Message::~CRfc822Message() { Clear(); }

CRfc822Parts* CRfc822Message::GetParts(DWORD* err) { return CRfc822Part::GetParts(err); }

void CRfc822Message::SetParser(CRfc822Parser* parser) {
  if (parser == nullptr || parser == m_pParser) return;
  m_pParser = parser;
}

void CRfc822Message::Clear() {
  CRfc822Part::Clear();
  m_pParser = nullptr;
  m_From.RemoveAll();
  m_ReplyTo.RemoveAll();
  m_To.RemoveAll();
  m_Cc.RemoveAll();
  m_Bcc.RemoveAll();
  m_strSubject.Release();
  m_strPriority.Release();
  m_strMessageID.Release();
  memset(&m_stReceivedTime, 0, sizeof m_stReceivedTime);
}

CRfc822Message& CRfc822Message::operator=(const CRfc822Message& source) {
  if (&source == this) return *this;
  if (Holds(&source)) {
    // Clearing this message deletes the source: copy it aside first.
    CRfc822Message aside;
    aside = source;
    aside.PutParseScope(source.GetParseScope());
    *this = aside;
    return *this;
  }
  CRfc822Part::operator=(source);
  CopyAddresses(m_From, source.m_From);
  CopyAddresses(m_ReplyTo, source.m_ReplyTo);
  CopyAddresses(m_To, source.m_To);
  CopyAddresses(m_Cc, source.m_Cc);
  CopyAddresses(m_Bcc, source.m_Bcc);
  m_strSubject = source.m_strSubject;
  m_strPriority = source.m_strPriority;
  m_strMessageID = source.m_strMessageID;
  m_stReceivedTime = source.m_stReceivedTime;
  m_bMimeFormatted = source.m_bMimeFormatted;
  m_pParser = source.m_pParser;
  // The copy holds the header data but not the tree.
  tag_PARSE_SCOPE scope = source.GetParseScope();
  PutParseScope(scope == PARSE_SCOPE_HEADER_ONLY || scope == PARSE_SCOPE_FULL ? PARSE_SCOPE_HEADER_ONLY
                                                                              : PARSE_SCOPE_STRUCTURE);
  return *this;
}

void CRfc822Message::Clone(CRfc822Message& target) const { CloneInto(*this, target); }

CRfc822Part* CRfc822Message::LocatePart(const char* locator, DWORD* err) {
  if (err != nullptr) *err = 0;
  if (locator == nullptr || *locator == '\0') return GetPartNumber() == 0 ? this : nullptr;
  CRfc822Part* current = this;
  while (current->GetParent() != nullptr) current = current->GetParent();
  const char* p = locator;
  for (;;) {
    while (*p == '.') ++p;
    if (*p == '\0') return current;
    const char* end = strchr(p, '.');
    size_t length = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
    // The piece's leading number, as strtol reads it; no digits count as 0.
    std::unique_ptr<char[]> piece(new char[length + 1]);
    memcpy(piece.get(), p, length);
    piece[length] = '\0';
    long number = strtol(piece.get(), nullptr, 10);
    p += length;
    DWORD code = 0;
    CRfc822Parts* children = current->GetParts(&code);
    if (code != 0) {
      if (err != nullptr) *err = code;
      return nullptr;
    }
    CRfc822Part* found = nullptr;
    for (void* pos = children->GetHeadPosition(); pos != nullptr;) {
      CRfc822Part* child = children->GetNext(pos);
      if (static_cast<long>(child->GetPartNumber()) == number) {
        found = child;
        break;
      }
    }
    if (found == nullptr) return nullptr;
    current = found;
  }
}

}  // namespace telsor
