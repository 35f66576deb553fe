// The structure scan: part descriptors with their offsets, header values,
// status and anomaly flags.
#include "mime/partdescriptor.h"

#include <strings.h>

#include <memory>
#include <new>

#include "foundation/errorroad.h"
#include "foundation/streamreader.h"
#include "foundation/throwcode.h"
#include "foundation/win32.h"
#include "mime/anomalyflags.h"
#include "mime/bodyparser.h"
#include "mime/mediatype.h"
#include "mime/mimehelpers.h"
#include "mime/mimeresults.h"
#include "mime/rfc2045parameter.h"
#include "mime/rfc2045tokenizer.h"
#include "mime/transferencoding.h"

namespace telsor {

namespace {

// Out of memory for a new descriptor (the Win32 number, as a failing result).
const HRESULT NO_DESCRIPTOR = ResultFromSystemError(ERROR_NOT_ENOUGH_MEMORY);

const char kTrailingBlanks[] = " \t\r\n";

bool HasPrefix(const TSTRING& text, const char* prefix, int length) {
  return text.GetLength() >= length && strncasecmp(text.c_str(), prefix, static_cast<size_t>(length)) == 0;
}

void Throw(HRESULT hr) { ThrowCode(static_cast<DWORD>(hr)); }

void SeekTo(IStream* stream, ULONGLONG position) {
  HRESULT hr = StreamSeekTo(stream, position);
  if (FAILED(hr)) Throw(hr);
}

}  // namespace

CRfc822PartDescriptor::CRfc822PartDescriptor(CRfc822PartDescriptor* parent)
    : m_pParent(parent),
      m_Children(10),
      m_nKind(KIND_UNCLASSIFIED),
      m_dwPartStart(0),
      m_dwHeaderEnd(0),
      m_dwBodyStart(0),
      m_dwPartEnd(0),
      m_dwPreambleStart(0),
      m_dwPreambleEnd(0),
      m_dwEpilogueStart(0),
      m_dwEpilogueEnd(0),
      m_bHasContentType(0),
      m_bEncodedMessage(0),
      m_bHasBoundary(0),
      m_dwStatus(0),
      m_dwAnomalyFlags(0),
      m_dwDepth(0),
      m_dwDescendants(0),
      m_dwLevel(0) {}

CRfc822PartDescriptor::~CRfc822PartDescriptor() {
  if (m_pParent != nullptr) m_pParent->RemoveChild(this);
  while (!m_Children.IsEmpty()) {
    void* head = m_Children.GetHeadPosition();
    delete m_Children.GetAt(head);  // unlinks itself
  }
}

DWORD CRfc822PartDescriptor::GetTotalCount() const {
  const CRfc822PartDescriptor* root = this;
  while (root->m_pParent != nullptr) root = root->m_pParent;
  return root->m_dwDescendants + 1;
}

HRESULT CRfc822PartDescriptor::CheckLimits() const {
  if (m_dwLevel > MAX_LEVEL || m_dwDepth > MAX_LEVEL) return E_MIME_TOO_DEEP;
  if (GetTotalCount() >= MAX_DESCRIPTORS) return E_MIME_TOO_MANY_PARTS;
  return S_OK;
}

void CRfc822PartDescriptor::AddDescendants(LONG delta) {
  for (CRfc822PartDescriptor* p = this; p != nullptr; p = p->m_pParent) {
    p->m_dwDescendants = static_cast<DWORD>(static_cast<LONG>(p->m_dwDescendants) + delta);
  }
}

CRfc822PartDescriptor* CRfc822PartDescriptor::CreateChild() {
  CRfc822PartDescriptor* child = new (std::nothrow) CRfc822PartDescriptor(this);
  if (child == nullptr) return nullptr;
  child->m_dwDepth = m_dwDepth + 1;
  child->m_dwLevel = m_dwLevel + 1;
  if (FAILED(ResultOf([&] { m_Children.AddTail(child); }))) {
    child->m_pParent = nullptr;
    delete child;
    return nullptr;
  }
  AddDescendants(1);
  return child;
}

HRESULT CRfc822PartDescriptor::CreateCountedChild(CRfc822PartDescriptor*& child) {
  HRESULT hr = S_OK;
  if (GetTotalCount() >= MAX_DESCRIPTORS)
    hr = E_MIME_TOO_MANY_PARTS;
  else if ((child = CreateChild()) == nullptr)
    hr = NO_DESCRIPTOR;
  if (hr != S_OK) m_dwStatus = static_cast<DWORD>(hr);
  return hr;
}

void CRfc822PartDescriptor::RemoveChild(CRfc822PartDescriptor* child) {
  void* pos = m_Children.Find(child);
  if (pos == nullptr) return;
  m_Children.RemoveAt(pos);
  AddDescendants(-static_cast<LONG>(child->m_dwDescendants + 1));
  child->m_pParent = nullptr;
}

void CRfc822PartDescriptor::DestroyChild(CRfc822PartDescriptor* child) {
  if (m_Children.Find(child) == nullptr) return;
  delete child;  // unlinks itself
}

void CRfc822PartDescriptor::ClearAll() {
  while (!m_Children.IsEmpty()) {
    void* head = m_Children.GetHeadPosition();
    delete m_Children.GetAt(head);
  }
  m_nKind = KIND_UNCLASSIFIED;
  m_dwPartStart = m_dwHeaderEnd = m_dwBodyStart = m_dwPartEnd = 0;
  m_dwPreambleStart = m_dwPreambleEnd = m_dwEpilogueStart = m_dwEpilogueEnd = 0;
  m_bHasContentType = 0;
  m_dwStatus = 0;
  m_dwAnomalyFlags = 0;
  m_strBoundary = "";
  m_strMediaType = "";
  m_strContentId = "";
  m_strTransferEncoding = "";
  m_strDisposition = "";
}

bool CRfc822PartDescriptor::IsPlainEncoding() const {
  tag_CONTENT_ENCODING e = GetEncodingType(m_strTransferEncoding.IsEmpty() ? nullptr : m_strTransferEncoding.c_str());
  return e == CONTENT_ENCODING_7BIT || e == CONTENT_ENCODING_8BIT || e == CONTENT_ENCODING_BINARY;
}

CRfc822PartDescriptor::tag_RANGE CRfc822PartDescriptor::Sub(const tag_RANGE& r, DWORD offset, DWORD position,
                                                            ULONG length) {
  tag_RANGE s = r;
  s.length = length;
  if (r.data != nullptr) {
    if (offset > r.length) offset = r.length;
    if (length > r.length - offset) s.length = r.length - offset;
    s.data = r.data + offset;
  }
  if (r.stream != nullptr) SeekTo(r.stream, position);
  return s;
}

// ---- public twins ----

HRESULT CRfc822PartDescriptor::Parse(const unsigned char* data, ULONG length) {
  return ParseIn(tag_RANGE{data, nullptr, data == nullptr ? 0 : length});
}

HRESULT CRfc822PartDescriptor::Parse(IStream* stream, ULONG length) {
  if (stream == nullptr) return E_POINTER;
  return ParseIn(tag_RANGE{nullptr, stream, length});
}

const unsigned char* CRfc822PartDescriptor::ParseHeaders(const unsigned char* data, ULONG length) {
  return data + ParseHeadersIn(tag_RANGE{data, nullptr, data == nullptr ? 0 : length});
}

DWORD CRfc822PartDescriptor::ParseHeaders(IStream* stream, ULONG length) {
  ULONGLONG start = 0;
  HRESULT hr = StreamPosition(stream, &start);
  if (FAILED(hr)) Throw(hr);
  return static_cast<DWORD>(start) + ParseHeadersIn(tag_RANGE{nullptr, stream, length});
}

HRESULT CRfc822PartDescriptor::ParseMultipart(const unsigned char* data, ULONG length) {
  return ParseMultipartIn(tag_RANGE{data, nullptr, data == nullptr ? 0 : length});
}

HRESULT CRfc822PartDescriptor::ParseMultipart(IStream* stream, ULONG length) {
  return ParseMultipartIn(tag_RANGE{nullptr, stream, length});
}

HRESULT CRfc822PartDescriptor::ParseNestedMessage(const unsigned char* data, ULONG length) {
  return ParseNestedMessageIn(tag_RANGE{data, nullptr, data == nullptr ? 0 : length});
}

HRESULT CRfc822PartDescriptor::ParseNestedMessage(IStream* stream, ULONG length) {
  return ParseNestedMessageIn(tag_RANGE{nullptr, stream, length});
}

HRESULT CRfc822PartDescriptor::CheckTextForHiddenPart(const unsigned char* data, ULONG length) {
  return CheckTextForHiddenPartIn(tag_RANGE{data, nullptr, data == nullptr ? 0 : length});
}

HRESULT CRfc822PartDescriptor::CheckTextForHiddenPart(IStream* stream, ULONG length) {
  return CheckTextForHiddenPartIn(tag_RANGE{nullptr, stream, length});
}

CSetEOLSequence* CRfc822PartDescriptor::GetEOLSequence(const unsigned char* data, ULONG length) {
  return GetEOLSequenceIn(tag_RANGE{data, nullptr, data == nullptr ? 0 : length});
}

CSetEOLSequence* CRfc822PartDescriptor::GetEOLSequence(IStream* stream, ULONG length) {
  return GetEOLSequenceIn(tag_RANGE{nullptr, stream, length});
}

// ---- the scan ----

HRESULT CRfc822PartDescriptor::ParseIn(const tag_RANGE& r) {
  m_dwStatus = 0;
  m_dwHeaderEnd = m_dwBodyStart = m_dwPartEnd = m_dwPartStart;
  m_dwPreambleStart = m_dwPreambleEnd = m_dwEpilogueStart = m_dwEpilogueEnd = m_dwPartStart;
  const bool stream = r.stream != nullptr;
  HRESULT hr = S_OK;
  ULONG headerLength = 0;
  try {
    headerLength = ParseHeadersIn(r);
  } catch (...) {
    hr = ResultOfCurrentException();
  }
  if (!stream && hr != S_OK) {
    if (m_dwStatus == 0) m_dwStatus = static_cast<DWORD>(hr);
    return hr;
  }
  if (hr == S_OK) {
    // The range never reaches past the last 32-bit position.
    ULONG length = r.length > 0xFFFFFFFFu - m_dwPartStart ? 0xFFFFFFFFu - m_dwPartStart : r.length;
    if (headerLength > length) headerLength = length;
    m_dwHeaderEnd = m_dwBodyStart = m_dwPreambleStart = m_dwPreambleEnd = m_dwPartStart + headerLength;
    m_dwPartEnd = m_dwEpilogueStart = m_dwEpilogueEnd = m_dwPartStart + length;
    if (!stream && r.length == 0) return S_OK;
    hr = ResultOfCall([&]() -> HRESULT {
      if (stream) SeekTo(r.stream, m_dwPartStart);
      if (HasPrefix(m_strMediaType, "multipart/", 10)) return ParseMultipartIn(r);
      if (HasPrefix(m_strMediaType, "message/rfc822", 14)) {
        const tag_RANGE body = Sub(r, headerLength, m_dwBodyStart, length - headerLength);
        // A pasted message is a hidden part of a text scanned as a message.
        const bool pasted = m_pParent != nullptr && m_nKind == KIND_MESSAGE && (m_dwAnomalyFlags & ANOMALY_HIDDEN_PART) != 0;
        return pasted ? ParseAnnouncedMessageIn(body) : ParseNestedMessageIn(body);
      }
      if (m_strMediaType.IsEmpty() || HasPrefix(m_strMediaType, "text/", 5)) return CheckTextForHiddenPartIn(r);
      return S_OK;
    });
    if (!stream) return hr;
  }
  if (m_dwStatus == 0) m_dwStatus = static_cast<DWORD>(hr);
  return hr;
}

CSetEOLSequence* CRfc822PartDescriptor::GetEOLSequenceIn(const tag_RANGE& r) {
  if (m_pEOL != nullptr) return m_pEOL.get();
  if (m_nKind != KIND_MESSAGE) {
    for (CRfc822PartDescriptor* p = m_pParent; p != nullptr; p = p->m_pParent) {
      if (p->m_pEOL != nullptr) return p->m_pEOL.get();
      if (p->m_nKind == KIND_MESSAGE) break;
    }
  }
  std::unique_ptr<CSetEOLSequence> eol(WithMemoryException([] { return new CSetEOLSequence; }));
  HRESULT hr = r.stream != nullptr ? eol->Analyze(r.stream, r.length) : eol->Analyze(r.data, r.length);
  if (FAILED(hr)) Throw(hr);
  if (eol->HasInvalidEOL()) m_dwAnomalyFlags |= ANOMALY_BAD_EOL;
  if (eol->HasControlChars()) m_dwAnomalyFlags |= ANOMALY_CONTROL_CHARS;
  m_pEOL = std::move(eol);
  return m_pEOL.get();
}

ULONG CRfc822PartDescriptor::ParseHeadersIn(const tag_RANGE& r) {
  CSetEOLSequence* eol = GetEOLSequenceIn(r);
  if (r.stream == nullptr) {
    CRfc822HeadersParser scanner(r.data, r.length);
    scanner.SetEOLSequence(eol, 0);
    return ParseHeaders(scanner);
  }
  ULONGLONG start = 0;
  HRESULT hr = StreamPosition(r.stream, &start);
  if (FAILED(hr)) Throw(hr);
  CRfc822HeadersParser scanner(r.stream, r.length);
  scanner.SetEOLSequence(eol, 0);
  DWORD end = ParseHeaders(scanner);
  return end > start ? static_cast<ULONG>(end - start) : 0;
}

DWORD CRfc822PartDescriptor::ParseHeaders(CRfc822HeadersParser& scanner) {
  bool transferEncodingSeen = false;
  for (;;) {
    ULONG nameStart = 0, nameLength = 0, valueStart = 0, valueLength = 0;
    DWORD end = scanner.NextField(nameStart, nameLength, valueStart, valueLength);
    if (nameLength == 0 || nameLength > CRfc822HeadersParser::MAX_NAME_LENGTH) {
      m_dwAnomalyFlags |= scanner.GetAnomalyFlags();
      return end;
    }
    const CFieldName name(scanner, nameStart, nameLength);
    if (name.HadComment()) m_dwAnomalyFlags |= ANOMALY_NAME_COMMENT;
    auto value = [&]() {
      TSTRING v;
      HRESULT read = scanner.ReadData(valueStart, valueStart + valueLength, v);
      if (FAILED(read)) Throw(read);
      return v;
    };
    const int length = name.GetLength();
    if (length == 12 && lstrcmpiA(name.c_str(), "Content-Type") == 0) {
      TSTRING v = value();
      UnfoldLine(v);
      if (!m_strMediaType.IsEmpty()) m_dwAnomalyFlags |= ANOMALY_SECOND_CONTENT_TYPE;
      if (m_bHasBoundary) {
        // A Content-Type after the boundary: the header block ends before it.
        m_dwAnomalyFlags |= ANOMALY_BOUNDARY_IN_HEADER;
        return scanner.SetPos(nameStart);
      }
      CRfc2045ContentMediaType mediaType;
      // Always S_OK: what the parse cannot read is left out of the value.
      (void)mediaType.Parse(reinterpret_cast<const unsigned char*>(v.c_str()), static_cast<ULONG>(v.GetLength()));
      m_strMediaType = mediaType.GetMediaType();
      void* pos = FindAttribute("boundary", mediaType.GetParameters());
      if (pos != nullptr) {
        m_strBoundary = mediaType.GetParameters().GetAt(pos).GetValue();
        if (!m_strBoundary.IsEmpty()) {
          m_bHasBoundary = 1;
          scanner.SetBoundary(m_strBoundary);
        } else {
          m_dwAnomalyFlags |= ANOMALY_EMPTY_BOUNDARY;
        }
      }
      m_bHasContentType = 1;
    } else if ((length == 10 && lstrcmpiA(name.c_str(), "Content-ID") == 0) ||
               (length == 16 && lstrcmpiA(name.c_str(), "Content-Location") == 0)) {
      m_strContentId = value();
      UnfoldLine(m_strContentId);
      m_strContentId.TrimRight(kTrailingBlanks);
    } else if (length == 19 && lstrcmpiA(name.c_str(), "Content-Disposition") == 0) {
      m_strDisposition = value();
      UnfoldLine(m_strDisposition);
      m_strDisposition.TrimRight(kTrailingBlanks);
    } else if (length == 25 && !transferEncodingSeen && lstrcmpiA(name.c_str(), "Content-Transfer-Encoding") == 0) {
      transferEncodingSeen = true;
      TSTRING v = value();
      v.Remove('\0');
      UnfoldLine(v);
      RemoveComments(v, 0);
      v.TrimLeft(kTrailingBlanks);
      v.TrimRight(kTrailingBlanks);
      m_strTransferEncoding = v;
    }
  }
}

std::unique_ptr<CRfcBodyParser> CRfc822PartDescriptor::RunBodyParser(const tag_RANGE& r,
                                                                    const CSetEOLSequence* eol) {
  const ULONG headerLength = m_dwHeaderEnd > m_dwPartStart ? m_dwHeaderEnd - m_dwPartStart : 0;
  std::unique_ptr<CRfcBodyParser> parser(WithMemoryException([&] {
    return r.stream != nullptr ? new CRfcBodyParser(r.stream, r.length, headerLength, m_strBoundary,
                                                    m_bHasBoundary, m_strMediaType)
                               : new CRfcBodyParser(r.data, r.length, headerLength, m_strBoundary,
                                                    m_bHasBoundary, m_strMediaType);
  }));
  parser->SetEOLSequence(eol, 0);
  parser->Parse();
  return parser;
}

HRESULT CRfc822PartDescriptor::ParseMultipartIn(const tag_RANGE& r) {
  const bool stream = r.stream != nullptr;
  std::unique_ptr<CRfcBodyParser> parser;
  HRESULT hr = ResultOf([&] {
    CSetEOLSequence* eol = GetEOLSequenceIn(r);
    if (!m_bHasBoundary || m_strBoundary.IsEmpty()) m_dwAnomalyFlags |= ANOMALY_NO_BOUNDARY;
    parser = RunBodyParser(r, eol);
  });
  if (hr != S_OK) {
    if (stream) m_dwStatus = static_cast<DWORD>(hr);
    return hr;
  }
  const std::vector<tag_PART_LAYOUT>& records = parser->GetRecords();
  if (!records.empty()) {
    hr = CheckLimits();
    if (hr != S_OK) {
      m_dwStatus = static_cast<DWORD>(hr);
      return hr;
    }
  }
  const DWORD offset = stream ? 0 : m_dwPartStart;
  for (const tag_PART_LAYOUT& record : records) {
    if (record.end < record.begin || record.end - record.begin == m_dwPartEnd - m_dwPartStart) continue;
    CRfc822PartDescriptor* child = nullptr;
    hr = CreateCountedChild(child);
    if (hr != S_OK) return hr;
    child->m_dwAnomalyFlags |= record.flags;
    child->m_nKind = KIND_BODY_PART;
    child->m_dwPartStart = record.begin + offset;
    const ULONG length = record.end - record.begin;
    if (record.segmentType == SEGMENT_PREAMBLE || record.segmentType == SEGMENT_EPILOGUE) {
      child->m_dwHeaderEnd = child->m_dwBodyStart = child->m_dwPartStart;
      child->m_dwPartEnd = record.end + offset;
      child->m_dwPreambleStart = child->m_dwPreambleEnd = child->m_dwPartStart;
      child->m_dwEpilogueStart = child->m_dwEpilogueEnd = child->m_dwPartEnd;
      if (record.segmentType == SEGMENT_PREAMBLE) {
        m_dwPreambleStart = child->m_dwPartStart;
        m_dwPreambleEnd = child->m_dwPartEnd;
      } else {
        m_dwEpilogueStart = child->m_dwPartStart;
        m_dwEpilogueEnd = child->m_dwPartEnd;
      }
      // The holder stays only when the text hides a part.
      HRESULT search = ResultOfCall(
          [&] { return child->CheckTextForHiddenPartIn(Sub(r, record.begin, record.begin, length)); });
      if (search != S_OK || child->m_Children.IsEmpty()) DestroyChild(child);
      continue;
    }
    tag_RANGE part = {};
    HRESULT seek = ResultOf([&] { part = Sub(r, record.begin, record.begin, length); });
    if (seek != S_OK) {
      child->m_dwStatus = static_cast<DWORD>(seek);
      return seek;
    }
    HRESULT result = child->ParseIn(part);
    if (child->m_dwStatus == 0) child->m_dwStatus = static_cast<DWORD>(result);
  }
  return S_OK;
}

HRESULT CRfc822PartDescriptor::ParseNestedMessageIn(const tag_RANGE& r) {
  m_nKind = KIND_MESSAGE;
  // A message scanned in place counts as one more level of nesting.
  if (m_dwLevel > MAX_LEVEL) {
    m_dwStatus = static_cast<DWORD>(E_MIME_TOO_DEEP);
    return E_MIME_TOO_DEEP;
  }
  ++m_dwLevel;
  const bool plain = IsPlainEncoding();
  // Leading white space of the body.
  ULONG skipped = 0;
  if (r.stream == nullptr) {
    while (skipped < r.length && IsHeaderSpace(r.data[skipped])) ++skipped;
  } else {
    HRESULT hr = ResultOf([&] {
      ULONGLONG start = 0;
      HRESULT at = StreamPosition(r.stream, &start);
      if (FAILED(at)) Throw(at);
      CStreamReader reader(r.stream, r.length);
      for (;;) {
        int c = reader.GetChar();
        if (c < 0 || !IsHeaderSpace(static_cast<BYTE>(c))) break;
        ++skipped;
      }
      SeekTo(r.stream, start + skipped);
    });
    if (hr != S_OK) {
      m_dwStatus = static_cast<DWORD>(hr);
      return hr;
    }
  }
  m_dwBodyStart += skipped;
  if (skipped >= r.length) return S_OK;
  if (!plain) {
    m_bEncodedMessage = 1;
    return S_OK;
  }
  m_dwPartStart = m_dwHeaderEnd = m_dwBodyStart;
  m_strMediaType = "text/plain";
  tag_RANGE rest = {r.data == nullptr ? nullptr : r.data + skipped, r.stream, r.length - skipped};
  HRESULT hr = ParseIn(rest);
  m_bEncodedMessage = 0;
  return hr;
}

HRESULT CRfc822PartDescriptor::ParseAnnouncedMessageIn(const tag_RANGE& body) {
  CRfc822PartDescriptor* child = nullptr;
  HRESULT hr = CreateCountedChild(child);
  if (hr != S_OK) return hr;
  child->m_nKind = KIND_MESSAGE;
  child->m_dwPartStart = child->m_dwHeaderEnd = child->m_dwBodyStart = m_dwBodyStart;
  child->m_dwPartEnd = m_dwPartEnd;
  child->m_dwPreambleStart = child->m_dwPreambleEnd = m_dwBodyStart;
  child->m_dwEpilogueStart = child->m_dwEpilogueEnd = m_dwPartEnd;
  hr = ResultOf([&] {
    child->m_strMediaType = m_strMediaType;
    child->m_strTransferEncoding = m_strTransferEncoding;
  });
  child->m_bHasContentType = 1;
  if (hr == S_OK) hr = child->ParseNestedMessageIn(body);
  if (child->m_dwStatus == 0) child->m_dwStatus = static_cast<DWORD>(hr);
  return hr;
}

HRESULT CRfc822PartDescriptor::CheckTextForHiddenPartIn(const tag_RANGE& r) {
  if (!IsPlainEncoding()) return S_OK;
  const bool stream = r.stream != nullptr;
  const DWORD offset = stream ? 0 : m_dwPartStart;
  HRESULT hr = ResultOfCall([&]() -> HRESULT {
    std::unique_ptr<CRfcBodyParser> parser = RunBodyParser(r, GetEOLSequenceIn(r));
    const std::vector<tag_PART_LAYOUT>& records = parser->GetRecords();
    if (!records.empty()) {
      HRESULT limits = CheckLimits();
      if (limits != S_OK) return limits;
    }
    bool hidden = false;
    for (const tag_PART_LAYOUT& record : records) {
      if (record.hiddenKind == CONTENT_ENCODING_UUENCODE || record.hiddenKind == CONTENT_ENCODING_BINHEX ||
          record.hiddenKind == CONTENT_ENCODING_BINARY) {
        hidden = true;
      }
    }
    if (!hidden) return S_OK;
    m_dwAnomalyFlags |= ANOMALY_HIDDEN_PART;
    for (const tag_PART_LAYOUT& record : records) {
      if (record.end < record.begin) continue;
      if (GetTotalCount() >= MAX_DESCRIPTORS) return E_MIME_TOO_MANY_PARTS;
      CRfc822PartDescriptor* child = CreateChild();
      if (child == nullptr) Throw(NO_DESCRIPTOR);
      child->m_dwAnomalyFlags |= record.flags;
      child->m_dwHeaderEnd = record.begin + offset;
      child->m_dwPartEnd = record.end + offset;
      const DWORD begin = record.begin + offset;
      switch (record.hiddenKind) {
        case CONTENT_ENCODING_UUENCODE:
        case CONTENT_ENCODING_BINHEX: {
          const bool uu = record.hiddenKind == CONTENT_ENCODING_UUENCODE;
          child->m_nKind = KIND_BODY_PART;
          child->m_dwPartStart = child->m_dwBodyStart = begin;
          child->m_strMediaType = uu ? "application/octet-stream" : "application/mac-binhex40";
          child->m_strTransferEncoding =
              GetEncodingTypeAsString(uu ? CONTENT_ENCODING_UUENCODE : CONTENT_ENCODING_BINHEX);
          child->m_bHasContentType = 1;
          child->m_dwAnomalyFlags |= ANOMALY_HIDDEN_PART;
          break;
        }
        case CONTENT_ENCODING_BINARY: {
          child->m_nKind = KIND_MESSAGE;
          child->m_dwPartStart = child->m_dwBodyStart = begin;
          child->m_strMediaType = "message/rfc822";
          child->m_strTransferEncoding = GetEncodingTypeAsString(CONTENT_ENCODING_BINARY);
          child->m_dwAnomalyFlags |= ANOMALY_HIDDEN_PART;
          child->m_bHasContentType = 1;
          child->m_dwPreambleStart = child->m_dwPreambleEnd = begin;
          child->m_dwEpilogueStart = child->m_dwEpilogueEnd = child->m_dwPartEnd;
          HRESULT result;
          tag_RANGE block = {};
          HRESULT seek = ResultOf([&] { block = Sub(r, record.begin, record.begin, record.end - record.begin); });
          if (seek != S_OK) {
            result = seek;
            child->m_dwStatus = static_cast<DWORD>(seek);
          } else {
            result = child->ParseNestedMessageIn(block);
          }
          if (child->m_dwStatus == 0) child->m_dwStatus = static_cast<DWORD>(result);
          break;
        }
        default:
          child->m_nKind = KIND_BODY_PART;
          if (begin < m_dwHeaderEnd) {
            // The first piece begins with this part's own header block.
            child->m_dwPartStart = child->m_dwHeaderEnd = child->m_dwBodyStart = m_dwHeaderEnd;
            if (child->m_dwHeaderEnd >= child->m_dwPartEnd) {
              DestroyChild(child);
              continue;
            }
          } else {
            child->m_dwPartStart = child->m_dwBodyStart = begin;
          }
          child->m_strMediaType = m_strMediaType.IsEmpty() ? TSTRING("text/plain") : m_strMediaType;
          child->m_strTransferEncoding = m_strTransferEncoding;
          break;
      }
      if (child->m_nKind != KIND_MESSAGE) {
        child->m_dwPreambleStart = child->m_dwPreambleEnd = child->m_dwBodyStart;
        child->m_dwEpilogueStart = child->m_dwEpilogueEnd = child->m_dwPartEnd;
      }
    }
    return S_OK;
  });
  if (hr != S_OK) m_dwStatus = static_cast<DWORD>(hr);
  return hr;
}

}  // namespace telsor
