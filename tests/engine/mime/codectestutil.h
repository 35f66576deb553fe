// Helpers of the codec tests: the stream codecs run over strings, through
// the in-memory test stream (which can hand out short reads) or a real
// memory stream (for the encodings that are copied with CopyTo).
#ifndef TELSOR_TESTS_ENGINE_MIME_CODECTESTUTIL_H
#define TELSOR_TESTS_ENGINE_MIME_CODECTESTUTIL_H

#include <stdint.h>

#include <random>
#include <string>

#include "common/teststream.h"
#include "foundation/hglobalstream.h"
#include "mime/streamdecoder.h"
#include "mime/streamencoder.h"

namespace codec_test {

using telsor::tag_CONTENT_ENCODING;

const ULONGLONG kAll = ~0ull;

struct Run {
  HRESULT hr;
  std::string out;
};

// Decodes or encodes all of in (or cb bytes of it); reads hand out at most
// maxChunk bytes each.
inline Run Decode(const std::string& in, tag_CONTENT_ENCODING e, ULONGLONG cb = kAll,
                  ULONG maxChunk = 0xFFFFFFFFu) {
  CTestStream src(in), dst;
  src.maxChunk = maxChunk;
  HRESULT hr = telsor::DecodeStream(&dst, &src, e, cb == kAll ? in.size() : cb);
  return {hr, dst.str()};
}

inline Run Encode(const std::string& in, tag_CONTENT_ENCODING e, ULONGLONG cb = kAll,
                  ULONG maxChunk = 0xFFFFFFFFu) {
  CTestStream src(in), dst;
  src.maxChunk = maxChunk;
  HRESULT hr = telsor::EncodeStream(&dst, &src, e, cb == kAll ? in.size() : cb);
  return {hr, dst.str()};
}

// The bytes of a memory stream made by CreateStreamOnHGlobal, from its start.
inline std::string StreamBytes(IStream* s) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER end;
  end.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_END, &end);
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  std::string out(static_cast<size_t>(end.QuadPart), '\0');
  ULONG got = 0;
  if (!out.empty()) s->Read(&out[0], static_cast<ULONG>(out.size()), &got);
  out.resize(got);
  return out;
}

// A memory stream holding bytes, positioned at its start.
inline IStream* MemoryStream(const std::string& bytes) {
  IStream* s = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &s);
  if (!bytes.empty()) s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  return s;
}

// Random bytes; text-like (printable, blanks, line breaks, dots, "=") or
// any byte value.
inline std::string RandomBytes(std::mt19937& rng, size_t n, bool textLike) {
  static const char kText[] = "abcXYZ019 .=\t\r\n-+/";
  std::string s(n, '\0');
  for (auto& c : s) {
    c = textLike ? kText[rng() % (sizeof kText - 1)] : static_cast<char>(rng() & 0xFF);
  }
  return s;
}

}  // namespace codec_test

#endif  // TELSOR_TESTS_ENGINE_MIME_CODECTESTUTIL_H
