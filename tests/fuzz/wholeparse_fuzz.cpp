// The whole parse of untrusted bytes: structure scan and part-tree filling
// with contents. The first byte chooses the size of the pieces a stream
// hands out and the in-memory limit (small ones send bodies to temporary
// files); the rest is the message. The parse from the message's content and
// the parse from a stream handing out pieces must give the same result and
// the same tree (classes, header values, flags, statuses, the contents of
// all parts but the root), and the tree stays bounded in depth.
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "common/teststream.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

using namespace telsor;

namespace {

void Check(bool ok) {
  if (!ok) abort();
}

// One line per part, children after their parent; the depth is returned
// through deepest.
void Dump(CRfc822Part& part, int depth, int& deepest, std::string& out) {
  if (depth > deepest) deepest = depth;
  TSTRING locator;
  part.GetPartLocator(locator);
  ULONG length = 0;
  const unsigned char* bytes = part.GetContentAsString(length);
  out += std::string(locator.c_str()) + " " + std::to_string(part.GetContentClass()) + " " +
         part.GetContentMediaType().c_str() + " " + part.GetContentTransferEncoding().c_str() + " " +
         part.GetCharset().c_str() + " " + std::to_string(part.IsAttachment()) + " " +
         part.GetAttachmentName().c_str() + " " + std::to_string(part.GetAnomalyFlags()) + " " +
         std::to_string(part.GetParseStatus());
  // The root's content is the message from its content, but what the
  // filling gives it from a stream (a message scanned in place: its inner
  // message).
  if (depth > 0)
    out += " " + std::to_string(length) + ":" + std::string(reinterpret_cast<const char*>(bytes), bytes == nullptr ? 0 : length);
  out += "\n";
  CRfc822Parts* parts = part.GetParts(nullptr);
  for (void* pos = parts->GetHeadPosition(); pos != nullptr;) Dump(*parts->GetNext(pos), depth + 1, deepest, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 100000) return 0;
  const ULONG chunk = 1 + static_cast<ULONG>(data[0] & 0x1F) * 7;
  const ULONG limit = (data[0] & 0x20) ? 0xFFFFFFFFu : static_cast<ULONG>(data[0] >> 6) * 16;
  const std::string message(reinterpret_cast<const char*>(data) + 1, size - 1);
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  if (parser->OpenSession(nullptr) != S_OK) return 0;
  parser->PutMaxContentSizeInMemory(limit);

  CRfc822Message fromContent;
  Check(fromContent.PutContentAsString(reinterpret_cast<const unsigned char*>(message.data()),
                                       static_cast<ULONG>(message.size())) == S_OK);
  HRESULT contentResult = parser->ParseMessage(PARSE_SCOPE_FULL, fromContent);

  CTestStream stream(message);
  stream.maxChunk = chunk;
  CRfc822Message fromStream;
  HRESULT streamResult = parser->ParseMessage(&stream, static_cast<ULONG>(message.size()), PARSE_SCOPE_FULL,
                                              fromStream);
  Check(contentResult == streamResult);
  std::string a, b;
  int deepest = 0, deepestToo = 0;
  Dump(fromContent, 0, deepest, a);
  Dump(fromStream, 0, deepestToo, b);
  Check(a == b);
  Check(deepest == deepestToo && deepest <= 258);
  return 0;
}
