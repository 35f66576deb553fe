// Helpers of the structure-scan tests and fuzz target: a message scanned
// from an exact-size buffer and from a stream that hands out small pieces,
// a text dump of a descriptor tree, and the invariants every tree keeps.
#ifndef TELSOR_TESTS_ENGINE_MIME_STRUCTSCANUTIL_H
#define TELSOR_TESTS_ENGINE_MIME_STRUCTSCANUTIL_H

#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "common/teststream.h"
#include "mime/partdescriptor.h"

namespace structscan_test {

using telsor::CRfc822PartDescriptor;

inline std::string S(const telsor::TSTRING& s) { return std::string(s.c_str(), static_cast<size_t>(s.GetLength())); }

// One line per descriptor, children indented below their parent:
// kind [part start, header end, body start, part end] pre[..] epi[..]
// media type, transfer encoding, flags, status (not for the root when
// withRootStatus is false), e1 for an encoded nested message.
inline void Dump(const CRfc822PartDescriptor& d, int indent, bool withStatus, std::string& out) {
  char line[256];
  snprintf(line, sizeof line, "%*sk%d [%u %u %u %u] pre[%u %u] epi[%u %u] f=%X", indent * 2, "",
           static_cast<int>(d.m_nKind), d.m_dwPartStart, d.m_dwHeaderEnd, d.m_dwBodyStart, d.m_dwPartEnd,
           d.m_dwPreambleStart, d.m_dwPreambleEnd, d.m_dwEpilogueStart, d.m_dwEpilogueEnd, d.m_dwAnomalyFlags);
  out += line;
  out += " t=" + S(d.m_strMediaType) + " e=" + S(d.m_strTransferEncoding);
  if (withStatus) {
    snprintf(line, sizeof line, " s=%X", d.m_dwStatus);
    out += line;
  }
  if (d.m_bEncodedMessage) out += " e1";
  out += "\n";
  for (void* pos = d.m_Children.GetHeadPosition(); pos != nullptr;) {
    Dump(*d.m_Children.GetNext(pos), indent + 1, true, out);
  }
}

inline std::string DumpTree(const CRfc822PartDescriptor& root, bool withRootStatus = true) {
  std::string out;
  Dump(root, 0, withRootStatus, out);
  return out;
}

// "" when the tree is sound, else what is wrong.
inline std::string Invariants(const CRfc822PartDescriptor& d, unsigned long size, unsigned long* count,
                              unsigned long* maxDepth) {
  char why[200];
  auto inside = [&](DWORD x) { return x <= size; };
  if (!(inside(d.m_dwPartStart) && inside(d.m_dwHeaderEnd) && inside(d.m_dwBodyStart) && inside(d.m_dwPartEnd) &&
        inside(d.m_dwPreambleStart) && inside(d.m_dwPreambleEnd) && inside(d.m_dwEpilogueStart) &&
        inside(d.m_dwEpilogueEnd))) {
    return "an offset outside the message";
  }
  if (!(d.m_dwPartStart <= d.m_dwHeaderEnd && d.m_dwHeaderEnd <= d.m_dwBodyStart && d.m_dwBodyStart <= d.m_dwPartEnd)) {
    snprintf(why, sizeof why, "offsets out of order [%u %u %u %u]", d.m_dwPartStart, d.m_dwHeaderEnd,
             d.m_dwBodyStart, d.m_dwPartEnd);
    return why;
  }
  if (d.m_dwPreambleStart > d.m_dwPreambleEnd || d.m_dwEpilogueStart > d.m_dwEpilogueEnd) return "a reversed range";
  if (d.m_nKind != 1 && d.m_nKind != 2 && d.m_pParent != nullptr) return "a child without a kind";
  if (d.m_dwDepth > 256 || d.m_dwLevel > 256 || d.m_dwLevel < d.m_dwDepth) return "nested too deep";
  ++*count;
  if (d.m_dwDepth > *maxDepth) *maxDepth = d.m_dwDepth;
  DWORD below = 0;
  for (void* pos = d.m_Children.GetHeadPosition(); pos != nullptr;) {
    const CRfc822PartDescriptor* c = d.m_Children.GetNext(pos);
    if (c->m_pParent != &d || c->m_dwDepth != d.m_dwDepth + 1) return "a child with the wrong parent or depth";
    if (c->m_dwPartStart < d.m_dwPartStart || c->m_dwPartEnd > d.m_dwPartEnd) {
      snprintf(why, sizeof why, "a child [%u %u] outside its parent [%u %u]", c->m_dwPartStart, c->m_dwPartEnd,
               d.m_dwPartStart, d.m_dwPartEnd);
      return why;
    }
    std::string inner = Invariants(*c, size, count, maxDepth);
    if (!inner.empty()) return inner;
    below += c->GetChildCount() + 1;
  }
  if (below != d.GetChildCount()) return "a wrong descendant count";
  return "";
}

inline std::string Invariants(const CRfc822PartDescriptor& root, unsigned long size) {
  unsigned long count = 0, depth = 0;
  std::string why = Invariants(root, size, &count, &depth);
  if (!why.empty()) return why;
  if (count != root.GetTotalCount()) return "a wrong total count";
  if (count > CRfc822PartDescriptor::MAX_DESCRIPTORS) return "too many descriptors";
  return "";
}

// A message scanned both ways, each from a root of kind 1.
struct Scans {
  std::unique_ptr<CRfc822PartDescriptor> memory{new CRfc822PartDescriptor(nullptr)};
  std::unique_ptr<CRfc822PartDescriptor> stream{new CRfc822PartDescriptor(nullptr)};
  HRESULT memoryResult = 0;
  HRESULT streamResult = 0;
};

inline Scans ScanBoth(const std::string& message, ULONG chunk = 0xFFFFFFFFu) {
  Scans s;
  // Exactly the message's bytes, so that a read past them is caught.
  std::unique_ptr<unsigned char[]> exact(new unsigned char[message.size()]);
  if (!message.empty()) memcpy(exact.get(), message.data(), message.size());
  s.memory->m_nKind = 1;
  s.memoryResult = s.memory->Parse(exact.get(), static_cast<ULONG>(message.size()));
  CTestStream stream(message);
  stream.maxChunk = chunk;
  s.stream->m_nKind = 1;
  s.streamResult = s.stream->Parse(&stream, static_cast<ULONG>(message.size()));
  return s;
}

}  // namespace structscan_test

#endif  // TELSOR_TESTS_ENGINE_MIME_STRUCTSCANUTIL_H
