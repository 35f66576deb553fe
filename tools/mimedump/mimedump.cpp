// mimedump [--stream] [--no-digest] FILE...
//
// Parses each message file with full scope and prints its part tree, one
// line per part, children indented under their parent:
//
//   == FILE result=0x00000000
//   - class=1 type=multipart/mixed enc= charset= att=0 name="" len=812 fnv=1c9d2a4b flags=0x0 status=0x0
//     1. class=2 type=text/plain enc=7bit charset=us-ascii att=0 name="" len=6 fnv=... flags=0x0 status=0x0
//
// locator ("-" for the root), content class (1 message, 2 body part),
// media type, transfer encoding, charset, attachment flag and name, content
// length, FNV-1a digest of the content (left out with --no-digest), anomaly
// flags and parse status. By default the file is read into memory and both
// passes run over that copy; --stream scans it from disk and decodes every
// body into a temporary file, which must give the same tree.
// Exit 0; 2 for bad arguments.
#include <stdio.h>
#include <string.h>

#include "foundation/errorroad.h"
#include "mime/message.h"
#include "mime/rfc822parser.h"

namespace {

using telsor::CRfc822Part;

int Usage() {
  fputs("usage: mimedump [--stream] [--no-digest] FILE...\n", stderr);
  return 2;
}

unsigned Fnv1a(const unsigned char* bytes, ULONG length) {
  unsigned hash = 2166136261u;
  for (ULONG i = 0; i < length; ++i) {
    hash ^= bytes[i];
    hash *= 16777619u;
  }
  return hash;
}

void DumpPart(CRfc822Part& part, bool digest, int indent) {
  telsor::TSTRING locator;
  part.GetPartLocator(locator);
  printf("%*s%s class=%d type=%s enc=%s charset=%s att=%d name=\"%s\" len=%lu", indent * 2, "",
         locator.IsEmpty() ? "-" : locator.c_str(), part.GetContentClass(), part.GetContentMediaType().c_str(),
         part.GetContentTransferEncoding().c_str(), part.GetCharset().c_str(), part.IsAttachment() ? 1 : 0,
         part.GetAttachmentName().c_str(), static_cast<unsigned long>(part.GetContent().GetSize()));
  if (digest) {
    unsigned hash = 0;
    HRESULT hr = telsor::ResultOf([&] {
      ULONG length = 0;
      const unsigned char* bytes = part.GetContentAsString(length);
      hash = Fnv1a(bytes, length);
    });
    if (hr == S_OK)
      printf(" fnv=%08x", hash);
    else
      printf(" fnv=error-0x%08X", static_cast<unsigned>(hr));
  }
  printf(" flags=0x%X status=0x%X\n", static_cast<unsigned>(part.GetAnomalyFlags()),
         static_cast<unsigned>(part.GetParseStatus()));
  telsor::CRfc822Parts* parts = part.GetParts(nullptr);
  for (void* pos = parts->GetHeadPosition(); pos != nullptr;) DumpPart(*parts->GetNext(pos), digest, indent + 1);
}

}  // namespace

int main(int argc, char** argv) {
  bool stream = false;
  bool digest = true;
  int first = 1;
  for (; first < argc && strncmp(argv[first], "--", 2) == 0; ++first) {
    if (strcmp(argv[first], "--stream") == 0)
      stream = true;
    else if (strcmp(argv[first], "--no-digest") == 0)
      digest = false;
    else
      return Usage();
  }
  if (first >= argc) return Usage();
  telsor::CSharedObjPtr<telsor::CRfc822Parser> parser = new telsor::CRfc822Parser;
  HRESULT opened = parser->OpenSession(nullptr);
  if (FAILED(opened)) {
    fprintf(stderr, "mimedump: no parser session (0x%08X)\n", static_cast<unsigned>(opened));
    return 1;
  }
  parser->PutMaxContentSizeInMemory(stream ? 0 : 0xFFFFFFFFu);
  for (int i = first; i < argc; ++i) {
    telsor::CRfc822Message message;
    telsor::CSharedObjPtr<telsor::CSharedTmpFile> file = new telsor::CSharedTmpFile(argv[i], FALSE);
    HRESULT hr = parser->ParseMessage(file, telsor::PARSE_SCOPE_FULL, message);
    printf("== %s result=0x%08X\n", argv[i], static_cast<unsigned>(hr));
    DumpPart(message, digest, 0);
  }
  return 0;
}
