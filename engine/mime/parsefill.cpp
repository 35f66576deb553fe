// Whole parses: the structure scan of a message, then the part tree filled
// from the scanned descriptors (header data and decoded contents), reading
// the bytes again range by range through one stream.
//
// Nesting stays bounded across the re-parses of embedded messages that had
// to be decoded first: the root scanned from a decoded body starts one
// level below the descriptor it came from, and a descriptor at the last
// level is not parsed again (E_MIME_TOO_DEEP in the part's status).
//
// The message's own bytes are read through a watch that notes the first
// failing read or seek, and a read that ends before the message's size (a
// short read: the file shrank, or the stream holds fewer bytes than it was
// said to). The scan and the filling keep such a failure in the status of
// the part that met it and go on with the rest; the entries return it, as
// a message that could not be read whole is no message.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/errorroad.h"
#include "foundation/fileasistream.h"
#include "foundation/istreamimpl.h"
#include "foundation/regularfile.h"
#include "foundation/win32.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/mimehelpers.h"
#include "mime/mimeresults.h"
#include "mime/partdescriptor.h"
#include "mime/rfc822parser.h"
#include "mime/transferencoding.h"

namespace telsor {

namespace {

// Records a result in the part's status unless a failure is there already.
void KeepStatus(CRfc822Part& part, HRESULT hr) {
  if (part.GetParseStatus() == 0) part.PutParseStatus(static_cast<DWORD>(hr));
}

// What a read that ends before the message's size gives: an I/O error.
const HRESULT SHORT_READ = ResultFromSystemError(EIO);

// A read-only view of the first size bytes of a stream that notes the first
// failure of the bytes (see the top of this file).
class CReadWatch : public CIStreamImpl {
 public:
  // One reference, the caller's; the memory exception when none can be had.
  static CReadWatch* New(IStream* stream, ULONGLONG size) {
    CReadWatch* watch = WithMemoryException([&] { return new CReadWatch(stream, size); });
    watch->AddRef();
    return watch;
  }
  // S_OK, or the first failing result or SHORT_READ.
  HRESULT Failure() const { return m_hrFailure; }

  // Reads until count bytes came, a read gives none or one fails, so the
  // readers above see whole reads from a stream that hands out pieces.
  HRESULT Read(void* buffer, ULONG count, ULONG* done) override {
    ULONG got = 0;
    HRESULT hr = S_OK;
    while (got < count) {
      ULONG n = 0;
      hr = m_pStream->Read(static_cast<BYTE*>(buffer) + got, count - got, &n);
      got += n < count - got ? n : count - got;
      if (FAILED(hr) || n == 0) break;
    }
    if (done != nullptr) *done = got;
    const ULONGLONG due = m_nAt >= m_nSize ? 0 : (m_nSize - m_nAt < count ? m_nSize - m_nAt : count);
    m_nAt += got;
    if (FAILED(hr)) return Note(hr);
    if (got < due) Note(SHORT_READ);
    return got == count ? S_OK : S_FALSE;
  }
  HRESULT Write(const void*, ULONG, ULONG* done) override {
    if (done != nullptr) *done = 0;
    return E_ACCESSDENIED;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    ULARGE_INTEGER at;
    at.QuadPart = 0;
    HRESULT hr = m_pStream->Seek(move, origin, &at);
    if (FAILED(hr)) return Note(hr);
    m_nAt = at.QuadPart;
    if (newPosition != nullptr) *newPosition = at;
    return hr;
  }
  HRESULT Stat(STATSTG* st, DWORD flags) override { return m_pStream->Stat(st, flags); }

 private:
  CReadWatch(IStream* stream, ULONGLONG size) : m_pStream(stream), m_nSize(size) {
    stream->AddRef();
    ULONGLONG at = 0;
    if (SUCCEEDED(StreamPosition(stream, &at))) m_nAt = at;
  }
  ~CReadWatch() override { m_pStream->Release(); }
  HRESULT Note(HRESULT hr) {
    if (m_hrFailure == S_OK) m_hrFailure = hr;
    return hr;
  }

  IStream* m_pStream;
  ULONGLONG m_nSize;
  ULONGLONG m_nAt = 0;
  HRESULT m_hrFailure = S_OK;
};

bool StartsWith(const TSTRING& text, const char* prefix, int length) {
  return text.GetLength() >= length && strncasecmp(text.c_str(), prefix, static_cast<size_t>(length)) == 0;
}

ULONG FileSizeOf(const char* path, bool& known) {
  struct stat st;
  known = stat(path, &st) == 0;
  if (known && CRfc822Parser::s_pfnFileSized != nullptr) CRfc822Parser::s_pfnFileSized(path);
  return known ? static_cast<ULONG>(st.st_size) : 0;
}

// Structure scan of a file through a read-only stream: the scan's result,
// or the stream's failure code. unreadable := the stream's failure to open
// or the first failure of its bytes, else S_OK.
HRESULT ScanFileStream(const char* path, ULONG size, CRfc822PartDescriptor& root, HRESULT& unreadable) {
  IStream* stream = nullptr;
  unreadable = CFileAsIStream::CreateStreamOnFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, &stream);
  if (FAILED(unreadable)) return unreadable;
  unreadable = S_OK;
  CStreamPtr holder = CStreamPtr::Adopt(stream);
  return ResultOfCall([&]() -> HRESULT {
    CReadWatch* watch = CReadWatch::New(stream, size);
    CStreamPtr watchHolder = CStreamPtr::Adopt(watch);
    HRESULT hr = root.Parse(watch, size);
    unreadable = watch->Failure();
    return hr;
  });
}

// Reads the whole file (size bytes) into text: S_OK, or the failing result
// of the system error (a short read counts as an I/O error).
HRESULT ReadWholeFile(const char* path, ULONG size, TSTRING& text) {
  char* buffer = text.GetBuffer(static_cast<int>(size));
  errno = 0;
  int fd = OpenRegularFile(path);
  if (fd < 0) {
    text.ReleaseBuffer(0);
    return ResultFromErrno();
  }
  ULONG got = 0;
  HRESULT failure = S_OK;
  while (got < size) {
    errno = 0;
    ssize_t n = read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure = ResultFromErrno();
      break;
    }
    got += static_cast<ULONG>(n);
  }
  close(fd);
  text.ReleaseBuffer(static_cast<int>(got));
  return failure;
}

// Every parse starts with status and flags 0 and the content in the
// session's folder.
void StartParse(const CRfc822Parser& parser, CRfc822Message& message) {
  message.PutParseStatus(0);
  message.PutAnomalyFlags(0);
  message.GetContent().PutTempDir(parser.GetTempDir());
}

// The filling of message from root over the watched stream; a failure of
// the message's bytes met on the way is kept in its status and returned.
HRESULT FillWatched(const CRfc822Parser& parser, CRfc822PartDescriptor& root, CReadWatch& watch,
                    tag_PARSE_SCOPE scope, CRfc822Message& message) {
  HRESULT hr = parser.FillRfc822Part(root, &watch, scope, message);
  if (watch.Failure() == S_OK) return hr;
  KeepStatus(message, watch.Failure());
  return watch.Failure();
}

// The scan of the first size bytes of stream (standing at the message's
// start), unless root was already scanned from the bytes in place, then the
// filling. A scan that stopped short (at the limits of nesting or of parts)
// keeps its result in the root's status and what it scanned is filled, as
// a message file's parse does, so that the same bytes give the same tree
// from memory and from a file; a failure of the bytes themselves (or one
// thrown by the scan) is kept in the message's status and returned.
HRESULT ScanAndFill(const CRfc822Parser& parser, CRfc822PartDescriptor& root, IStream* stream, ULONG size,
                    tag_PARSE_SCOPE scope, CRfc822Message& message, bool scanned = false) {
  CReadWatch* watch = nullptr;
  HRESULT hr = ResultOf([&] { watch = CReadWatch::New(stream, size); });
  if (hr == S_OK) {
    CStreamPtr holder = CStreamPtr::Adopt(watch);
    HRESULT scan = S_OK;
    if (!scanned) hr = ResultOf([&] { scan = root.Parse(watch, size); });
    if (hr == S_OK) hr = watch->Failure();
    if (hr == S_OK) {
      if (scan != S_OK) root.m_dwStatus = static_cast<DWORD>(scan);
      return FillWatched(parser, root, *watch, scope, message);
    }
  }
  message.PutParseStatus(static_cast<DWORD>(hr));
  return hr;
}

// The parse from the message's content, its root scanned at level.
HRESULT ParseContent(const CRfc822Parser& parser, tag_PARSE_SCOPE scope, CRfc822Message& message, DWORD level) {
  CRfc822PartDescriptor root(nullptr);
  root.m_nKind = CRfc822PartDescriptor::KIND_MESSAGE;
  root.m_dwLevel = level;
  StartParse(parser, message);
  IStream* stream = nullptr;
  ULONG size = 0;
  bool scanned = false;
  HRESULT hr = ResultOf([&] {
    CRfc822ContentData& content = message.GetContent();
    size = content.GetSize();
    stream = content.GetAsStream();
    if (!content.IsInMemory()) return;
    // Bytes held in memory are scanned in place (the same tree as through
    // the stream, without its window copies); the filling reads the stream.
    // A scan that stopped short is kept in the root's status (ScanAndFill).
    ULONG length = 0;
    const unsigned char* bytes = content.GetAsString(length);
    scanned = true;
    const HRESULT scan = root.Parse(bytes, length < size ? length : size);
    if (scan != S_OK) root.m_dwStatus = static_cast<DWORD>(scan);
  });
  CStreamPtr holder = CStreamPtr::Adopt(stream);
  if (hr != S_OK) {
    message.PutParseStatus(static_cast<DWORD>(hr));
    return hr;
  }
  return ScanAndFill(parser, root, stream, size, scope, message, scanned);
}

// The preamble or epilogue [start, end) of stream, NUL bytes made spaces.
TSTRING ReadRange(IStream* stream, DWORD start, DWORD end) {
  TSTRING text;
  ReadString(stream, start, end - start, text);
  text.Replace('\0', ' ');
  return text;
}

// The content step of a message part: its own text when it has none, and
// the single child of a message without parts. The running status.
HRESULT FillMessageContent(const CRfc822Parser& parser, CRfc822PartDescriptor& d, IStream* stream,
                           tag_PARSE_SCOPE scope, tag_CONTENT_ENCODING encoding, CRfc822Part& part) {
  const char* mediaType = d.m_strMediaType.c_str();
  if (part.GetContent().IsEmpty()) {
    HRESULT hr = parser.FillRfc822BodyContent(stream, d.m_dwPartStart, d.m_dwPartEnd, mediaType,
                                              CONTENT_ENCODING_BINARY, part);
    if (hr != S_OK) return hr;
  }
  if (!d.m_Children.IsEmpty()) return S_OK;
  if (StartsWith(d.m_strMediaType, "message/", 8)) {
    // The body is a message of its own: it is parsed from the child's
    // content, and the part keeps its whole text.
    CRfc822Message* child = WithMemoryException([&] { return part.AddMessage(-1); });
    HRESULT hr;
    if (d.m_dwLevel >= CRfc822PartDescriptor::MAX_LEVEL) {
      hr = E_MIME_TOO_DEEP;
    } else {
      hr = parser.FillRfc822BodyContent(stream, d.m_dwBodyStart, d.m_dwPartEnd, mediaType, encoding, *child);
      if (hr == S_OK) hr = ParseContent(parser, PARSE_SCOPE_FULL, *child, d.m_dwLevel + 1);
    }
    child->PutParseScope(PARSE_SCOPE_FULL);
    KeepStatus(*child, hr);
    return hr;
  }
  CRfc822BodyPart* child = WithMemoryException([&] { return part.AddBodyPart(-1); });
  child->PutContentMediaType(part.GetContentMediaType().c_str());
  child->PutContentTransferEncoding(part.GetContentTransferEncoding().c_str());
  child->PutAttachmentName(part.GetAttachmentName().c_str());
  child->PutCharset(part.GetCharset().c_str());
  child->PutContentID(part.GetContentID().c_str());
  child->PutContentDescription(part.GetContentDescription().c_str());
  child->PutContentDisposition(part.GetContentDisposition().c_str());
  HRESULT hr = parser.FillRfc822BodyContent(stream, d.m_dwBodyStart, d.m_dwPartEnd, mediaType, encoding, *child);
  KeepStatus(*child, hr);
  child->PutParseScope(scope);
  return hr;
}

}  // namespace

void (*CRfc822Parser::s_pfnFileSized)(const char* path) = nullptr;

HRESULT CRfc822Parser::ParseMessage(CSharedObjPtr<CSharedTmpFile>& file, tag_PARSE_SCOPE scope,
                                    CRfc822Message& message) const {
  CRfc822PartDescriptor root(nullptr);
  root.m_nKind = CRfc822PartDescriptor::KIND_MESSAGE;
  StartParse(*this, message);
  message.PutContentAsFile(file);
  if (file == nullptr || file->GetFileName() == nullptr) {
    message.PutParseScope(scope);
    return S_OK;
  }
  const char* path = file->GetFileName();
  if (scope == PARSE_SCOPE_HEADER_ONLY) {
    HRESULT hr = ParseHeader(path, message);
    message.PutParseScope(PARSE_SCOPE_HEADER_ONLY);
    return hr;
  }
  bool known = false;
  const ULONG size = FileSizeOf(path, known);
  if (!known) return ResultFromSystemError(ERROR_FILE_NOT_FOUND);
  // A file that cannot be opened or read whole is no message.
  HRESULT unreadable = S_OK;
  if (size > m_nMaxContentSizeInMemory) {
    root.m_dwStatus = static_cast<DWORD>(ScanFileStream(path, size, root, unreadable));
  } else {
    TSTRING bytes;
    HRESULT hr = ResultOfCall([&] { return ReadWholeFile(path, size, bytes); });
    if (hr == E_OUTOFMEMORY) {
      message.PutParseScope(scope);
      message.PutParseStatus(static_cast<DWORD>(E_OUTOFMEMORY));
      return E_OUTOFMEMORY;
    }
    if (hr == S_OK) hr = message.GetContent().PutData(file, bytes);
    if (hr != S_OK) {
      unreadable = hr;
      root.m_dwStatus = static_cast<DWORD>(hr);
    } else {
      root.m_dwStatus = static_cast<DWORD>(root.Parse(reinterpret_cast<const unsigned char*>(bytes.c_str()), size));
    }
  }
  HRESULT hr = ParseMessage(root, scope, message);
  if (unreadable == S_OK) return hr;
  // The first failure: what the filling met afterwards follows from it.
  message.PutParseStatus(static_cast<DWORD>(unreadable));
  return unreadable;
}

HRESULT CRfc822Parser::ParseMessage(tag_PARSE_SCOPE scope, CRfc822Message& message) const {
  return ParseContent(*this, scope, message, 0);
}

HRESULT CRfc822Parser::ParseMessage(IStream* stream, ULONG size, tag_PARSE_SCOPE scope,
                                    CRfc822Message& message) const {
  CRfc822PartDescriptor root(nullptr);
  root.m_nKind = CRfc822PartDescriptor::KIND_MESSAGE;
  StartParse(*this, message);
  if (stream == nullptr) {
    message.PutParseStatus(static_cast<DWORD>(E_POINTER));
    return E_POINTER;
  }
  return ScanAndFill(*this, root, stream, size, scope, message);
}

HRESULT CRfc822Parser::ParseMessage(CRfc822PartDescriptor& root, tag_PARSE_SCOPE scope,
                                    CRfc822Message& message) const {
  StartParse(*this, message);
  IStream* stream = nullptr;
  CReadWatch* watch = nullptr;
  HRESULT hr = ResultOf([&] {
    stream = message.GetContent().GetAsStream();
    watch = CReadWatch::New(stream, message.GetContent().GetSize());
  });
  CStreamPtr holder = CStreamPtr::Adopt(stream);
  CStreamPtr watchHolder = CStreamPtr::Adopt(watch);
  if (hr != S_OK) {
    message.PutParseStatus(static_cast<DWORD>(hr));
    return hr;
  }
  return FillWatched(*this, root, *watch, scope, message);
}

HRESULT CRfc822Parser::GetMIMEStructOfMsg(const char* path, CRfc822PartDescriptor& root) const {
  root.ClearAll();
  root.m_nKind = CRfc822PartDescriptor::KIND_MESSAGE;
  bool known = false;
  const ULONG size = path != nullptr ? FileSizeOf(path, known) : 0;
  if (!known) return ResultFromSystemError(ERROR_FILE_NOT_FOUND);
  HRESULT hr;
  if (size > m_nMaxContentSizeInMemory) {
    HRESULT unreadable;
    hr = ScanFileStream(path, size, root, unreadable);
    if (unreadable != S_OK) hr = unreadable;
  } else {
    // Read, not mapped: a file cut after its size was taken reads short
    // (a read failure) where a mapping would fault.
    TSTRING bytes;
    hr = ResultOfCall([&] { return ReadWholeFile(path, size, bytes); });
    if (hr == S_OK) hr = ResultOfCall(
        [&] { return root.Parse(reinterpret_cast<const unsigned char*>(bytes.c_str()), static_cast<ULONG>(bytes.GetLength())); });
  }
  if (root.m_dwStatus == 0) root.m_dwStatus = static_cast<DWORD>(hr);
  return hr;
}

HRESULT CRfc822Parser::FillRfc822PartHeaderInfo(CRfc822PartDescriptor& descriptor, IStream* stream,
                                                CRfc822Part& part) const {
  const tag_PARSE_SCOPE scope = part.GetParseScope();
  if (scope == PARSE_SCOPE_HEADER_ONLY || scope == PARSE_SCOPE_FULL) return S_OK;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(descriptor.m_dwPartStart);
  HRESULT hr = stream->Seek(at, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  part.PutContentMediaType(descriptor.m_strMediaType.c_str());
  part.PutContentTransferEncoding(descriptor.m_strTransferEncoding.c_str());
  part.PutContentDisposition(descriptor.m_strDisposition.c_str());
  part.AddAnomalyFlags(descriptor.m_dwAnomalyFlags);
  const ULONG length = descriptor.m_dwHeaderEnd >= descriptor.m_dwPartStart
                           ? descriptor.m_dwHeaderEnd - descriptor.m_dwPartStart
                           : CStreamReader::NO_LIMIT;
  return FillRfc822PartHeaderInfo(stream, part, length);
}

HRESULT CRfc822Parser::FillRfc822Part(CRfc822PartDescriptor& d, IStream* stream, tag_PARSE_SCOPE scope,
                                      CRfc822Part& part) const {
  const tag_CONTENT_ENCODING encoding =
      d.m_strTransferEncoding.IsEmpty() ? CONTENT_ENCODING_7BIT : GetEncodingType(d.m_strTransferEncoding.c_str());
  const bool isMessage = part.GetContentClass() == CRfc822Part::CONTENT_CLASS_MESSAGE;
  const bool withContents = scope == PARSE_SCOPE_CONTENTS || scope == PARSE_SCOPE_FULL;
  part.RemoveParts();
  part.AddAnomalyFlags(d.m_dwAnomalyFlags);
  HRESULT status = static_cast<HRESULT>(d.m_dwStatus);

  HRESULT hr = ResultOf([&] {
    if (d.m_dwPreambleEnd > d.m_dwPreambleStart)
      part.PutMimePreambule(ReadRange(stream, d.m_dwPreambleStart, d.m_dwPreambleEnd).c_str());
    if (d.m_dwEpilogueEnd > d.m_dwEpilogueStart)
      part.PutMimeEpilog(ReadRange(stream, d.m_dwEpilogueStart, d.m_dwEpilogueEnd).c_str());
  });
  if (status == S_OK) status = hr;

  if (status == S_OK) {
    if (d.m_nKind == CRfc822PartDescriptor::KIND_MESSAGE && isMessage && d.m_bEncodedMessage && d.m_pParent != nullptr) {
      // An embedded message that is transfer-encoded: the part becomes the
      // message decoded from its body. (A root keeps its own text and gets
      // the decoded message as its child, below.)
      CRfc822Message& message = static_cast<CRfc822Message&>(part);
      if (d.m_dwLevel >= CRfc822PartDescriptor::MAX_LEVEL) {
        hr = E_MIME_TOO_DEEP;
      } else {
        hr = FillRfc822BodyContent(stream, d.m_dwBodyStart, d.m_dwPartEnd, d.m_strMediaType.c_str(), encoding, part);
        if (hr == S_OK) hr = ParseContent(*this, PARSE_SCOPE_FULL, message, d.m_dwLevel + 1);
      }
      KeepStatus(part, hr);
      return hr;
    }
    status = FillRfc822PartHeaderInfo(d, stream, part);
    if (status == S_OK && withContents) {
      if (d.m_nKind == CRfc822PartDescriptor::KIND_MESSAGE && isMessage) {
        status = ResultOfCall([&] { return FillMessageContent(*this, d, stream, scope, encoding, part); });
        if (status == E_OUTOFMEMORY && part.GetParts(nullptr)->IsEmpty()) {
          KeepStatus(part, E_OUTOFMEMORY);
          return E_OUTOFMEMORY;
        }
      } else if (!StartsWith(d.m_strMediaType, "multipart/", 10)) {
        status = FillRfc822BodyContent(stream, d.m_dwBodyStart, d.m_dwPartEnd, d.m_strMediaType.c_str(), encoding,
                                       part);
      }
    }
  }
  KeepStatus(part, status);
  part.PutParseScope(scope);

  for (void* pos = d.m_Children.GetHeadPosition(); pos != nullptr;) {
    CRfc822PartDescriptor* childDescriptor = d.m_Children.GetNext(pos);
    CRfc822Part* child = nullptr;
    if (FAILED(ResultOf([&] {
          if (childDescriptor->m_nKind == CRfc822PartDescriptor::KIND_MESSAGE)
            child = part.AddMessage(-1);
          else
            child = part.AddBodyPart(-1);
        })))
      return E_OUTOFMEMORY;
    hr = FillRfc822Part(*childDescriptor, stream, scope, *child);
    child->PutParseScope(scope);
    KeepStatus(*child, hr);
  }
  return S_OK;
}

HRESULT CRfc822Message::Parse(CSharedObjPtr<CSharedTmpFile>& file, CRfc822Parser* parser, tag_PARSE_SCOPE scope) {
  PutContentAsFile(file);
  SetParser(parser);
  if (m_pParser == nullptr) return E_POINTER;
  return m_pParser->ParseMessage(file, scope, *this);
}

}  // namespace telsor
