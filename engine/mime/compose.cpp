// Composition: a part tree written back out as RFC 822 / MIME text.
#include <string.h>
#include <strings.h>

#include <new>

#include "foundation/exception.h"
#include "foundation/fileasistream.h"
#include "foundation/throwcode.h"
#include "foundation/win32.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/mimehelpers.h"
#include "mime/mimeresults.h"
#include "mime/rfc822date.h"
#include "mime/streamencoder.h"
#include "mime/transferencoding.h"
#include "mime/uuencode.h"

namespace telsor {

namespace {

// The process-wide boundary counter.
LONG volatile g_nBoundaryCounter = 0;

const ULONG kLineLimit = 76;

bool BeginsWith(const TSTRING& text, const char* prefix) {
  size_t n = strlen(prefix);
  return static_cast<size_t>(text.GetLength()) >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

void WriteText(IStream* stream, const TSTRING& text) {
  if (!text.IsEmpty()) WriteString(stream, text.c_str(), static_cast<ULONG>(text.GetLength()));
}

void Append(TSTRING& text, const char* more) { text.ConcatInPlace(static_cast<int>(strlen(more)), more); }

void Append(TSTRING& text, const TSTRING& more) { text.ConcatInPlace(more.GetLength(), more.c_str()); }

// "; name=" or ";" CR LF TAB "name=", then the value in double quotes.
void AppendParameter(TSTRING& line, const char* lead, const TSTRING& value) {
  Append(line, lead);
  Append(line, "\"");
  Append(line, value);
  Append(line, "\"");
}

// The header of a message ended with its own blank line: a body part that
// follows it directly writes its content without another one.
void WriteChildContent(CRfc822Part* child, IStream* stream, BOOL blankLine) {
  CRfc822BodyPart* body = dynamic_cast<CRfc822BodyPart*>(child);
  if (body != nullptr)
    body->WriteContent(stream, blankLine);
  else
    child->EncodeContent(stream);
}

}  // namespace

// ---------------------------------------------------------------------------
// Parts and children.

bool CRfc822Part::IsMultipart() const { return BeginsWith(m_strContentMediaType, "multipart/"); }

TSTRING CRfc822Part::CreateBoundary() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  FILETIME time;
  SystemTimeToFileTime(&now, &time);
  DWORD counter = static_cast<DWORD>(InterlockedIncrement(&g_nBoundaryCounter));
  TSTRING boundary;
  boundary.Format("=_Part_%X_%X_%X", time.dwHighDateTime, time.dwLowDateTime, counter);
  return boundary;
}

void CRfc822Part::ComposeContentTransferEncoding(IStream* stream) {
  if (m_strContentTransferEncoding.IsEmpty()) {
    const char* encoding;
    if (BeginsWith(m_strContentMediaType, "message/rfc822"))
      encoding = "8bit";
    else if (BeginsWith(m_strContentMediaType, "text/"))
      encoding = "quoted-printable";
    else if (BeginsWith(m_strContentMediaType, "multipart/"))
      encoding = "7bit";
    else if (strcasecmp(m_strContentMediaType.c_str(), "application/mac-binhex40") == 0)
      encoding = "binary";
    else
      encoding = "base64";
    PutContentTransferEncoding(encoding);
  }
  if (strcasecmp(m_strContentTransferEncoding.c_str(), "7bit") != 0)
    CRfc822Field::ComposeHeader("Content-Transfer-Encoding", m_strContentTransferEncoding.c_str(), stream,
                                kLineLimit);
}

void CRfc822Parts::Compose(IStream* stream) const {
  if (IsEmpty()) return;
  CRfc822Part* parent = GetAt(GetHeadPosition())->GetParent();
  const bool multipart = parent != nullptr && parent->IsMultipart();
  TSTRING delimiter;
  if (multipart) {
    delimiter = "\r\n--";
    Append(delimiter, parent->GetBoundary());
    Append(delimiter, "\r\n");
    WriteText(stream, delimiter);
  }
  // A message's header ends with its own blank line.
  const BOOL blankLine = parent == nullptr || parent->GetContentClass() != CRfc822Part::CONTENT_CLASS_MESSAGE;
  const bool digest = multipart && BeginsWith(parent->GetContentMediaType(), "multipart/digest");
  bool first = true;
  for (void* pos = GetHeadPosition(); pos != nullptr;) {
    CRfc822Part* child = GetNext(pos);
    if (child->IsMultipart() && child->GetParts(nullptr)->IsEmpty()) continue;
    const bool message = child->GetContentClass() == CRfc822Part::CONTENT_CLASS_MESSAGE;
    if (!multipart) {
      if (message)
        child->Compose(stream);
      else
        WriteChildContent(child, stream, blankLine);
      continue;
    }
    if (!first) WriteText(stream, delimiter);
    first = false;
    if (message) {
      if (digest)
        WriteString(stream, "\r\n", 2);
      else
        WriteString(stream, "Content-Type: message/rfc822\r\nContent-Transfer-Encoding: 8bit\r\n\r\n", 0);
    }
    child->Compose(stream);
  }
  if (multipart) {
    TSTRING closing("\r\n--");
    Append(closing, parent->GetBoundary());
    Append(closing, "--\r\n");
    WriteText(stream, closing);
  }
}

// ---------------------------------------------------------------------------
// Body parts.

void CRfc822BodyPart::Compose(IStream* stream) {
  ComposeHeader(stream);
  EncodeContent(stream);
}

void CRfc822BodyPart::ComposeHeader(IStream* stream) {
  const TSTRING& id = GetContentID();
  if (!id.IsEmpty()) {
    // The identifier is stored without its angle brackets.
    TSTRING value;
    if (id[0] != '<') Append(value, "<");
    Append(value, id);
    if (id[0] != '<') Append(value, ">");
    CRfc822Field::ComposeHeader("Content-ID", value.c_str(), stream, kLineLimit);
  }
  ComposeContentType(stream);
  ComposeContentTransferEncoding(stream);
  if (IsAttachment()) {
    TSTRING value("attachment");
    if (!GetAttachmentName().IsEmpty()) AppendParameter(value, ";\r\n\tfilename=", GetAttachmentName());
    CRfc822Field::ComposeHeader("Content-Disposition", value.c_str(), stream, kLineLimit);
    if (!GetContentDescription().IsEmpty())
      CRfc822Field::ComposeHeader("Content-Description", GetContentDescription().c_str(), stream, kLineLimit);
  }
  GetFields(CRfc822Fields::ORDER_BY_NAME).ComposeExtensionHeaders(stream);
}

void CRfc822BodyPart::ComposeContentType(IStream* stream) {
  if (GetContentMediaType().IsEmpty()) return;
  TSTRING line("Content-Type: ");
  Append(line, GetContentMediaType());
  if (BeginsWith(GetContentMediaType(), "text/") && !GetCharset().IsEmpty())
    AppendParameter(line, "; charset=", GetCharset());
  if (IsMultipart()) {
    if (GetBoundary().IsEmpty()) PutBoundary(CreateBoundary().c_str());
    AppendParameter(line, ";\r\n\tboundary=", GetBoundary());
  }
  Append(line, "\r\n");
  WriteText(stream, line);
}

void CRfc822BodyPart::EncodeContent(IStream* stream) { WriteContent(stream, TRUE); }

void CRfc822BodyPart::WriteContent(IStream* stream, BOOL blankLine) {
  if (GetContent().IsEmpty()) {
    GetParts(nullptr)->Compose(stream);
    return;
  }
  CStreamPtr content = CStreamPtr::Adopt(GetContent().GetAsStream());
  if (blankLine) WriteString(stream, "\r\n", 2);
  tag_CONTENT_ENCODING encoding = GetEncodingType(GetContentTransferEncoding().c_str());
  ULONGLONG length = ~0ull;
  if (BeginsWith(GetContentMediaType(), "message/rfc822")) GetStreamLenghWithoutEndDot(content, length);
  HRESULT hr;
  if (encoding == CONTENT_ENCODING_UUENCODE) {
    CUUencodedFile file;
    // A "begin" line needs a name: the attachment's when the type has none.
    file.PutName(!GetName().IsEmpty() ? GetName() : GetAttachmentName());
    hr = file.Encode(stream, content, length);
  } else if (m_pAppleFile != nullptr && (strcasecmp(GetContentMediaType().c_str(), "application/mac-binhex40") == 0 ||
                                         strcasecmp(GetContentMediaType().c_str(), "application/applefile") == 0)) {
    content = nullptr;
    hr = m_pAppleFile->EncodeWithMIME(stream, encoding);
  } else {
    hr = EncodeStream(stream, content, encoding, length);
  }
  ThrowIfFailed(hr);
}

// ---------------------------------------------------------------------------
// Messages.

void CRfc822Message::EncodeContent(IStream*) {}

void CRfc822Message::Compose(IStream* stream) {
  if (!GetContent().IsEmpty()) {
    // A message that holds its bytes is written as stored.
    CStreamPtr content = CStreamPtr::Adopt(GetContent().GetAsStream());
    ULONGLONG length = 0;
    GetStreamLenghWithoutEndDot(content, length);
    ThrowIfFailed(EncodeStream(stream, content, CONTENT_ENCODING_8BIT, length));
    return;
  }
  ComposeMessageHeader(stream);
  CRfc822Parts* parts = GetParts(nullptr);
  if (m_bMimeFormatted) {
    if (IsMultipart()) WriteString(stream, "This is a multi-part message in MIME format.\r\n", 0);
    parts->Compose(stream);
    return;
  }
  // A plain RFC 822 message: the first plain child is the body, the
  // attachments follow it uuencoded.
  for (void* pos = parts->GetHeadPosition(); pos != nullptr;) {
    CRfc822Part* child = parts->GetNext(pos);
    if (child->IsAttachment() || child->GetContentClass() == CONTENT_CLASS_MESSAGE) continue;
    if (BeginsWith(child->GetContentMediaType(), "multipart/") || BeginsWith(child->GetContentMediaType(), "message/"))
      continue;
    child->PutContentTransferEncoding("7bit");
    WriteChildContent(child, stream, FALSE);
    break;
  }
  for (void* pos = parts->GetHeadPosition(); pos != nullptr;) {
    CRfc822Part* child = parts->GetNext(pos);
    if (!child->IsAttachment() || child->GetContentClass() == CONTENT_CLASS_MESSAGE) continue;
    child->PutContentTransferEncoding("uuencode");
    child->EncodeContent(stream);
  }
}

HRESULT CRfc822Message::ComposeToFile(const char* path) {
  if (path == nullptr) return E_POINTER;
  CStreamPtr file;
  HRESULT hr = CFileAsIStream::CreateStreamOnFile(path, GENERIC_WRITE, 0, OPEN_ALWAYS, file.Out());
  if (FAILED(hr)) return hr;
  ULARGE_INTEGER zero;
  zero.QuadPart = 0;
  hr = file->SetSize(zero);
  if (FAILED(hr)) return hr;
  // This boundary keeps more than a result code: the system error of a
  // file exception, and its own codes for memory and unknown failures.
  try {
    Compose(file);
    return S_OK;
  } catch (CMemoryException* e) {
    e->Delete();
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (CFileException* e) {
    LONG error = e->m_lOsError;
    e->Delete();
    return error != 0 ? static_cast<HRESULT>(error) : E_COMPOSE_FILE_FAILED;
  } catch (DWORD code) {
    return code != 0 ? static_cast<HRESULT>(code) : E_COMPOSE_FILE_FAILED;
  } catch (CException* e) {
    e->Delete();
    return E_COMPOSE_FILE_FAILED;
  } catch (...) {
    return E_COMPOSE_FILE_FAILED;
  }
}

void CRfc822Message::ComposeMessageHeader(IStream* stream) {
  CRfc822Fields& fields = GetFields(CRfc822Fields::ORDER_KEEP);
  fields.ComposeHeadersByName("Return-Path", stream, kLineLimit);
  fields.ComposeHeadersByName("Received", stream, kLineLimit);
  if (!m_strMessageID.IsEmpty()) {
    fields.ComposeHeadersByName("Resent-Message-ID", stream, kLineLimit);
    TSTRING id("<");
    Append(id, m_strMessageID);
    Append(id, ">");
    CRfc822Field::ComposeHeader("Message-ID", id.c_str(), stream, kLineLimit);
  }
  fields.ComposeHeadersByName("Resent-Date", stream, kLineLimit);
  LONG date = fields.FindFirst("Date");
  if (date >= 0) {
    CRfc822Field::ComposeHeader("Date", fields[date].GetContents().c_str(), stream, kLineLimit);
  } else {
    SYSTEMTIME now;
    GetSystemTime(&now);
    CRfc822Date composer;
    composer.SetDate(now);
    char text[80];
    composer.Compose(text, sizeof text);
    CRfc822Field::ComposeHeader("Date", text, stream, kLineLimit);
  }
  // An address list as one field, when it holds an address.
  auto addressLine = [stream](const char* name, const CRfc822Addresses& list) {
    TSTRING assembled = list.Assemble();
    if (!assembled.IsEmpty()) CRfc822Field::ComposeHeader(name, assembled.c_str(), stream, kLineLimit);
  };
  fields.ComposeHeadersByName("Resent-From", stream, kLineLimit);
  addressLine("From", m_From);
  CRfc822Field::ComposeHeader("Subject", m_strSubject.c_str(), stream, kLineLimit);
  fields.ComposeHeadersByName("Resent-Sender", stream, kLineLimit);
  fields.ComposeHeadersByName("Sender", stream, kLineLimit);
  fields.ComposeHeadersByName("Resent-To", stream, kLineLimit);
  addressLine("To", m_To);
  fields.ComposeHeadersByName("Resent-Cc", stream, kLineLimit);
  addressLine("Cc", m_Cc);
  fields.ComposeHeadersByName("Resent-Bcc", stream, kLineLimit);
  addressLine("Bcc", m_Bcc);
  addressLine("Reply-To", m_ReplyTo);
  if (!m_strPriority.IsEmpty()) CRfc822Field::ComposeHeader("Priority", m_strPriority.c_str(), stream, kLineLimit);
  // Written by name above although the known-header table lacks them.
  static const char* const written[] = {"Resent-Sender", "Resent-Bcc"};
  fields.ComposeExtensionHeaders(stream, written, 2);
  if (m_bMimeFormatted) {
    CRfc822Field::ComposeHeader("MIME-Version", "1.0", stream, kLineLimit);
    ComposeContentType(stream);
  }
  WriteString(stream, "\r\n", 2);
}

void CRfc822Message::ComposeContentType(IStream* stream) {
  if (!m_bMimeFormatted) return;
  CRfc822Parts* parts = GetParts(nullptr);
  const int count = parts->GetCount();
  CRfc822Part* only = count == 1 ? parts->GetAt(parts->GetHeadPosition()) : nullptr;
  bool multipart = IsMultipart();
  if (count >= 2 || (only != nullptr && only->IsMultipart())) {
    if (!multipart) PutContentMediaType("multipart/mixed");
    multipart = true;
  } else if (only != nullptr && BeginsWith(only->GetContentMediaType(), "message/")) {
    PutContentMediaType("message/rfc822");
    PutContentTransferEncoding("");
    PutContentDescription("");
    PutContentDisposition("");
  } else if (only != nullptr &&
             strcasecmp(GetContentMediaType().c_str(), only->GetContentMediaType().c_str()) != 0) {
    // The one child's content lines stand for the message's.
    PutContentMediaType(only->GetContentMediaType().c_str());
    PutName(only->GetName().c_str());
    PutContentDescription(only->GetContentDescription().c_str());
    PutContentDisposition(only->GetContentDisposition().c_str());
    PutContentTransferEncoding(only->GetContentTransferEncoding().c_str());
    only->ComposeHeader(stream);
    return;
  }
  if (multipart && GetBoundary().IsEmpty()) PutBoundary(CreateBoundary().c_str());
  if (!GetContentMediaType().IsEmpty()) {
    // Built in one growable line, not folded by the field writer.
    TSTRING line("Content-Type: ");
    Append(line, GetContentMediaType());
    if (multipart) {
      AppendParameter(line, ";\r\n\tboundary=", GetBoundary());
    } else if (BeginsWith(GetContentMediaType(), "text/") && !GetCharset().IsEmpty() &&
               strcasecmp(GetCharset().c_str(), "US-ASCII") != 0) {
      AppendParameter(line, ";\r\n\tcharset=", GetCharset());
    } else if (!GetName().IsEmpty()) {
      AppendParameter(line, ";\r\n\tname=", GetName());
    }
    Append(line, "\r\n");
    WriteText(stream, line);
  }
  if (multipart) return;
  if (!GetContentDescription().IsEmpty())
    CRfc822Field::ComposeHeader("Content-Description", GetContentDescription().c_str(), stream, kLineLimit);
  if (!GetContentDisposition().IsEmpty())
    CRfc822Field::ComposeHeader("Content-Disposition", GetContentDisposition().c_str(), stream, kLineLimit);
  if (!GetContentTransferEncoding().IsEmpty() &&
      GetEncodingType(GetContentTransferEncoding().c_str()) != CONTENT_ENCODING_7BIT)
    CRfc822Field::ComposeHeader("Content-Transfer-Encoding", GetContentTransferEncoding().c_str(), stream,
                                kLineLimit);
}

void CRfc822Message::ComposeHeader(IStream* stream) {
  CRfc822Field::ComposeHeader("Content-Type", "message/rfc822", stream, kLineLimit);
  tag_CONTENT_ENCODING encoding = GetEncodingType(GetContentTransferEncoding().c_str());
  const char* name = encoding == CONTENT_ENCODING_7BIT || encoding == CONTENT_ENCODING_8BIT ||
                             encoding == CONTENT_ENCODING_BINARY
                         ? GetEncodingTypeAsString(encoding)
                         : "8bit";
  CRfc822Field::ComposeHeader("Content-Transfer-Encoding", name, stream, kLineLimit);
}

}  // namespace telsor
