// The structure scan over untrusted bytes. The first byte chooses the size
// of the pieces the stream hands out; the rest is the message. The scan
// from an exact-size buffer and the scan from the stream must give the same
// tree (offsets, kinds, header values, flags, statuses but the root's),
// and every tree keeps its invariants: offsets inside the message and in
// order, children inside their parents, depths and counts consistent, at
// most 2,049 descriptors and nesting bounded.
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "engine/mime/structscanutil.h"

using namespace structscan_test;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 200000) return 0;
  const ULONG chunk = 1 + static_cast<ULONG>(data[0]) * 13;
  const std::string message(reinterpret_cast<const char*>(data) + 1, size - 1);
  Scans s = ScanBoth(message, chunk);
  if (DumpTree(*s.memory, false) != DumpTree(*s.stream, false)) abort();
  const unsigned long length = static_cast<unsigned long>(message.size());
  if (!Invariants(*s.memory, length).empty() || !Invariants(*s.stream, length).empty()) abort();
  if (s.memory->m_dwPartEnd != length) abort();
  return 0;
}
