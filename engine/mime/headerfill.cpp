// Header filling: the header block of one entity turned into the header
// data of its part (fields, content fields) and, for a message, the
// message-level data (Subject, Priority, Message-ID, date, addresses).
//
// The filling from a structure-scan descriptor seeds the part from the
// descriptor, positions the stream at the entity and then runs the stream
// form below; everything it needs beyond that is the part's Put operations.
#include <string.h>
#include <strings.h>

#include "foundation/errorroad.h"
#include "foundation/fileasistream.h"
#include "foundation/win32.h"
#include "mime/anomalyflags.h"
#include "mime/disposition.h"
#include "mime/headerscanner.h"
#include "mime/mediatype.h"
#include "mime/message.h"
#include "mime/mimehelpers.h"
#include "mime/mimeresults.h"
#include "mime/rfc822date.h"
#include "mime/rfc822parser.h"

namespace telsor {

namespace {

enum FIELD_KIND {
  FIELD_OTHER,
  FIELD_CONTENT_TYPE,
  FIELD_CONTENT_ID,  // also Content-Location
  FIELD_CONTENT_DISPOSITION,
  FIELD_CONTENT_DESCRIPTION,
  FIELD_CONTENT_TRANSFER_ENCODING,
};

struct tag_FIELD_NAME {
  const char* name;
  int length;
  FIELD_KIND kind;
};

const tag_FIELD_NAME g_aContentFields[] = {
    {"Content-Type", 12, FIELD_CONTENT_TYPE},
    {"Content-ID", 10, FIELD_CONTENT_ID},
    {"Content-Location", 16, FIELD_CONTENT_ID},
    {"Content-Disposition", 19, FIELD_CONTENT_DISPOSITION},
    {"Content-Description", 19, FIELD_CONTENT_DESCRIPTION},
    {"Content-Transfer-Encoding", 25, FIELD_CONTENT_TRANSFER_ENCODING},
};

FIELD_KIND KindOf(const TSTRING& name) {
  for (const tag_FIELD_NAME& entry : g_aContentFields) {
    if (name.GetLength() == entry.length && strcasecmp(name.c_str(), entry.name) == 0) return entry.kind;
  }
  return FIELD_OTHER;
}

const unsigned char* Bytes(const TSTRING& text) { return reinterpret_cast<const unsigned char*>(text.c_str()); }

// Trims blanks and tabs, then removes a leading "<" and, after it, a
// trailing ">".
void StripAngleBrackets(TSTRING& text) {
  AllTrim(text, " \t");
  if (text.IsEmpty() || text[0] != '<') return;
  text.Delete(0, 1);
  int n = text.GetLength();
  if (n > 0 && text[n - 1] == '>') text.Delete(n - 1, 1);
}

// The content fields of one header field; encodingTaken: a transfer
// encoding was stored from an earlier field.
void FillContentField(CRfc822Part& part, FIELD_KIND kind, TSTRING value, bool& encodingTaken) {
  if (kind == FIELD_OTHER) return;
  if (kind == FIELD_CONTENT_TRANSFER_ENCODING && encodingTaken) return;
  value.Replace('\0', ' ');
  switch (kind) {
    case FIELD_CONTENT_TYPE: {
      CRfc2045ContentMediaType type;
      // Always S_OK: what the parse cannot read is left out of the value.
      (void)type.Parse(Bytes(value), static_cast<ULONG>(value.GetLength()));
      part.PutBoundary(type.GetBoundary().c_str());
      part.PutContentMediaType(type.GetMediaType().c_str());
      const CRfc2045ParameterList& parameters = type.GetParameters();
      if (void* pos = FindAttribute("charset", parameters)) part.PutCharset(parameters.GetAt(pos).GetValue().c_str());
      if (void* pos = FindAttribute("name", parameters)) {
        part.PutName(parameters.GetAt(pos).GetValue().c_str());
        part.PutAttachment(1);
      }
      break;
    }
    case FIELD_CONTENT_ID:
      StripAngleBrackets(value);
      part.PutContentID(value.c_str());
      break;
    case FIELD_CONTENT_DISPOSITION: {
      value.TrimLeft();
      CRfc2045DispType disposition;
      (void)disposition.Parse(Bytes(value), static_cast<ULONG>(value.GetLength()));  // always S_OK, as above
      part.PutContentDisposition(disposition.GetDispositionType().c_str());
      part.PutAttachmentName(disposition.GetFilename().c_str());
      part.PutAttachment(1);
      break;
    }
    case FIELD_CONTENT_DESCRIPTION:
      value.TrimLeft();
      part.PutContentDescription(value.c_str());
      break;
    case FIELD_CONTENT_TRANSFER_ENCODING:
      RemoveComments(value, 0);
      AllTrim(value, " \t\r\n");
      part.PutContentTransferEncoding(value.c_str());
      encodingTaken = true;
      break;
    default:
      break;
  }
}

// Calls fn(field) for each field named name of a collection sorted by
// name, first to last.
template <class Fn>
void ForEachNamed(CRfc822Fields& fields, const char* name, Fn&& fn) {
  LONG count = static_cast<LONG>(fields.GetCount());
  for (LONG i = fields.FindFirst(name); i >= 0 && i < count; ++i) {
    CRfc822Field& field = fields[i];
    if (strcasecmp(field.GetName().c_str(), name) != 0) break;
    fn(field);
  }
}

void FillMessageData(CRfc822Message& message) {
  CRfc822Fields& fields = message.GetFields(CRfc822Fields::ORDER_BY_NAME);
  message.Subject().Release();
  message.Priority().Release();
  message.MessageID().Release();
  memset(&message.ReceivedTime(), 0, sizeof(SYSTEMTIME));
  CRfc822Addresses* const lists[] = {&message.From(), &message.To(), &message.Cc(), &message.ReplyTo(),
                                     &message.Bcc()};
  static const char* const listNames[] = {"From", "To", "Cc", "Reply-To", "Bcc"};
  for (CRfc822Addresses* list : lists) list->RemoveAll();

  TSTRING& subject = message.Subject();
  ForEachNamed(fields, "Subject", [&subject](CRfc822Field& field) {
    subject.ConcatInPlace(field.GetContents().GetLength(), field.GetContents().c_str());
  });
  LONG priority = fields.FindFirst("Priority");
  if (priority >= 0) message.Priority() = fields[priority].GetContents();
  LONG id = fields.FindFirst("Message-ID");
  if (id >= 0) {
    TSTRING text = fields[id].GetContents();
    StripAngleBrackets(text);
    message.MessageID() = text;
    fields[id].PutContents(text.c_str());
  }
  LONG date = fields.FindFirst("Date");
  if (date >= 0) {
    const TSTRING& text = fields[date].GetContents();
    CRfc822Date parsed;
    SYSTEMTIME time;
    if (parsed.SetDate(text.c_str(), static_cast<ULONG>(text.GetLength()))) {
      FileTimeToSystemTime(&parsed.GetInstant(), &time);
    } else {
      GetSystemTime(&time);
      message.AddAnomalyFlags(ANOMALY_BAD_DATE);
    }
    SystemTimeToTzSpecificLocalTime(nullptr, &time, &message.ReceivedTime());
  }
  for (int i = 0; i < 5; ++i) {
    CRfc822Addresses* list = lists[i];
    ForEachNamed(fields, listNames[i], [list](CRfc822Field& field) {
      if (CRfc822Addresses* addresses = field.GetAddreses()) list->AddTail(addresses);
    });
  }
}

}  // namespace

HRESULT CRfc822Parser::FillRfc822PartHeaderInfo(IStream* stream, CRfc822Part& part, ULONG length) const {
  tag_PARSE_SCOPE scope = part.GetParseScope();
  if (scope == PARSE_SCOPE_HEADER_ONLY || scope == PARSE_SCOPE_FULL) return S_OK;
  if (stream == nullptr) return E_POINTER;
  part.PutHeaders("");
  CRfc822Fields& fields = part.GetFields(CRfc822Fields::ORDER_KEEP);
  fields.RemoveAll();
  HRESULT hr = ResultOfCall([&]() -> HRESULT {
    CRfc822HeadersParser scanner(stream, length);
    bool encodingTaken = false;
    tag_HEADER_FIELD field;
    for (;;) {
      int got = ReadHeaderField(scanner, field);
      if (got == HEADER_NAME_TOO_LONG) return E_MIME_NAME_TOO_LONG;
      if (got == HEADER_BLOCK_END) break;
      fields.Add(field.name, field.value);
      if (field.nameHadComment) part.AddAnomalyFlags(ANOMALY_NAME_COMMENT);
      FillContentField(part, KindOf(field.name), field.value, encodingTaken);
    }
    part.AddAnomalyFlags(scanner.GetAnomalyFlags());
    return S_OK;
  });
  if (hr != S_OK) return hr;
  if (part.GetContentClass() != CRfc822Part::CONTENT_CLASS_MESSAGE) return S_OK;
  return ResultOf([&] { FillMessageData(static_cast<CRfc822Message&>(part)); });
}

HRESULT CRfc822Parser::ParseHeader(const char* path, CRfc822Part& part) const {
  CStreamPtr stream;
  if (FAILED(CFileAsIStream::CreateStreamOnFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, stream.Out())))
    return ResultFromSystemError(ERROR_FILE_NOT_FOUND);
  HRESULT hr = FillRfc822PartHeaderInfo(stream, part, CStreamReader::NO_LIMIT);
  stream = nullptr;
  tag_PARSE_SCOPE scope = part.GetParseScope();
  if (scope == PARSE_SCOPE_STRUCTURE)
    part.PutParseScope(PARSE_SCOPE_HEADER_ONLY);
  else if (scope == PARSE_SCOPE_CONTENTS)
    part.PutParseScope(PARSE_SCOPE_FULL);
  return hr;
}

}  // namespace telsor
