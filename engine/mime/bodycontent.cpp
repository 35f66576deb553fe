// Body content filling: one byte range of a scanned message decoded into the
// content of a part, in memory or in a temporary file, with the uuencoded
// and BinHex 4.0 files unpacked on the way.
#include <string.h>
#include <strings.h>

#include "foundation/errorroad.h"
#include "foundation/fileasistream.h"
#include "foundation/globalmem.h"
#include "foundation/hglobalstream.h"
#include "foundation/throwcode.h"
#include "foundation/win32.h"
#include "mime/applefile.h"
#include "mime/binhex.h"
#include "mime/bodypart.h"
#include "mime/message.h"
#include "mime/mimeresults.h"
#include "mime/rfc822parser.h"
#include "mime/streamdecoder.h"
#include "mime/uuencode.h"

namespace telsor {

namespace {

// The stream moved to its end: its size.
ULONG SeekToEnd(IStream* stream) {
  ULONGLONG end = 0;
  ThrowIfFailed(StreamSeekToEnd(stream, &end));
  return static_cast<ULONG>(end);
}

// An empty file made by the parser, opened as a stream without sharing.
void OpenTmpFile(const CRfc822Parser& parser, const char* prefix, DWORD access,
                 CSharedObjPtr<CSharedTmpFile>& file, CStreamPtr& stream) {
  file = parser.GetTmpFile(prefix);
  if (FAILED(CFileAsIStream::CreateStreamOnFile(file->GetFileName(), access, 0, OPEN_EXISTING, stream.Out())))
    ThrowCode(ERROR_FILE_NOT_FOUND);
}

// The size bytes of a memory stream handed to store(bytes, size); nothing
// for size 0.
template <class Store>
void TakeMemory(IStream* stream, ULONG size, Store&& store) {
  HGLOBAL handle = nullptr;
  ThrowIfFailed(GetHGlobalFromStream(stream, &handle));
  if (size == 0) return;
  unsigned char* bytes = static_cast<unsigned char*>(GlobalLock(handle));
  if (bytes == nullptr) ThrowCode(GetLastError());
  HRESULT hr = store(bytes, size);
  GlobalUnlock(handle);
  ThrowIfFailed(hr);
}

}  // namespace

HRESULT CRfc822Parser::FillRfc822BodyContent(IStream* source, ULONG start, ULONG end, const char* mediaType,
                                             tag_CONTENT_ENCODING encoding, CRfc822Part& part) const {
  const tag_PARSE_SCOPE scope = part.GetParseScope();
  if (scope == PARSE_SCOPE_CONTENTS || scope == PARSE_SCOPE_FULL) return S_OK;
  if (start > end) return ERROR_INVALID_DATA;
  const int contentClass = part.GetContentClass();
  part.GetContent().PutTempDir(m_strTempDir);
  const ULONG length = end - start;
  CStreamPtr output;
  CSharedObjPtr<CSharedTmpFile> file;
  return ResultOfCall([&]() -> HRESULT {
    if (length > m_nMaxContentSizeInMemory || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, output.Out()))) {
      output = nullptr;
      OpenTmpFile(*this, contentClass == CRfc822Part::CONTENT_CLASS_MESSAGE ? "MSG" : "BDY",
                  GENERIC_READ | GENERIC_WRITE, file, output);
    }
    ThrowIfFailed(StreamSeekTo(source, start));

    if (encoding == CONTENT_ENCODING_UUENCODE) {
      part.PutAttachment(1);
      CUUencodedFile uu;
      ThrowIfFailed(uu.Decode(output, source, length));
      if (part.GetAttachmentName().IsEmpty()) part.PutAttachmentName(uu.GetName().c_str());
    } else if (mediaType != nullptr && strcasecmp(mediaType, "application/mac-binhex40") == 0 &&
               contentClass != CRfc822Part::CONTENT_CLASS_MESSAGE &&
               (encoding <= CONTENT_ENCODING_BINARY || encoding == CONTENT_ENCODING_BINHEX)) {
      return FillBodyContentMacBinHex40(output, file, source, length, part);
    } else {
      ThrowIfFailed(DecodeStream(output, source, encoding, length));
    }

    const ULONG size = SeekToEnd(output);
    if (file != nullptr) {
      output = nullptr;
      part.PutContentAsFile(file);
      return S_OK;
    }
    if (size == 0) part.GetContent().Empty();
    TakeMemory(output, size,
               [&](const unsigned char* bytes, ULONG n) { return part.PutContentAsString(bytes, n); });
    return S_OK;
  });
}

HRESULT CRfc822Parser::FillBodyContentMacBinHex40(IStream* dataOut, CSharedObjPtr<CSharedTmpFile>& dataFile,
                                                  IStream* source, ULONG length, CRfc822Part& part) const {
  if (part.GetContentClass() != CRfc822Part::CONTENT_CLASS_BODY_PART) return ERROR_INVALID_DATA;
  CStreamPtr resource;
  CSharedObjPtr<CSharedTmpFile> resourceFile;
  return ResultOfCall([&]() -> HRESULT {
    if (dataFile != nullptr || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, resource.Out()))) {
      resource = nullptr;
      OpenTmpFile(*this, "RES", GENERIC_WRITE, resourceFile, resource);
    }
    char name[64];
    char type[5];
    char creator[5];
    memset(name, 0, sizeof name);
    memset(type, 0, sizeof type);
    memset(creator, 0, sizeof creator);
    unsigned short flags = 0;
    unsigned char version = 0;
    ThrowIfFailed(DecodeBinHex40(dataOut, resource, source, length, name, version, type, creator, flags));
    name[sizeof name - 1] = '\0';
    if (name[0] != '\0' && part.GetAttachmentName().IsEmpty()) part.PutAttachmentName(name);
    const ULONG dataSize = SeekToEnd(dataOut);
    const ULONG resourceSize = SeekToEnd(resource);

    CSharedObjPtr<CAppleFile> apple = new CAppleFile;
    apple->PutFormat(CAppleFile::FORMAT_BINHEX40);
    apple->PutFileName(name);
    apple->PutFileType(type);
    apple->PutFileCreator(creator);
    apple->PutFinderFlags(flags);
    if (dataFile == nullptr) {
      TakeMemory(dataOut, dataSize,
                 [&](unsigned char* bytes, ULONG n) { return apple->PutDataForkAsString(bytes, n); });
    } else {
      apple->PutDataForkAsFile(dataFile);
    }
    if (resourceFile == nullptr) {
      TakeMemory(resource, resourceSize,
                 [&](unsigned char* bytes, ULONG n) { return apple->PutResForkAsString(bytes, n); });
    } else {
      resource = nullptr;
      apple->PutResForkAsFile(resourceFile);
    }
    resource = nullptr;
    apple->DataFork().PutTempDir(m_strTempDir);
    apple->ResourceFork().PutTempDir(m_strTempDir);
    static_cast<CRfc822BodyPart&>(part).PutAppleFile(apple);
    part.GetContent() = apple->DataFork();
    part.GetContent().PutTempDir(m_strTempDir);
    return S_OK;
  });
}

}  // namespace telsor
