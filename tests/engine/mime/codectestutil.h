// Helpers of the codec tests: the stream codecs run over strings, through
// the in-memory test stream (which can hand out short reads) or a real
// memory stream (for the encodings that are copied with CopyTo).
#ifndef TELSOR_TESTS_ENGINE_MIME_CODECTESTUTIL_H
#define TELSOR_TESTS_ENGINE_MIME_CODECTESTUTIL_H

#include <stdint.h>
#include <string.h>

#include <random>
#include <string>

#include "common/teststream.h"
#include "foundation/hglobalstream.h"
#include "mime/binhex.h"
#include "mime/streamdecoder.h"
#include "mime/streamencoder.h"

namespace codec_test {

using telsor::tag_CONTENT_ENCODING;

const ULONGLONG kAll = ~0ull;

struct Run {
  HRESULT hr;
  std::string out;
};

// Decodes (or encodes) all of in, or cb bytes of it; reads hand out at
// most maxChunk bytes each.
inline Run Code(bool decode, const std::string& in, tag_CONTENT_ENCODING e, ULONGLONG cb = kAll,
                ULONG maxChunk = 0xFFFFFFFFu) {
  CTestStream src(in), dst;
  src.maxChunk = maxChunk;
  const ULONGLONG count = cb == kAll ? in.size() : cb;
  HRESULT hr = decode ? telsor::DecodeStream(&dst, &src, e, count) : telsor::EncodeStream(&dst, &src, e, count);
  return {hr, dst.str()};
}

inline Run Decode(const std::string& in, tag_CONTENT_ENCODING e, ULONGLONG cb = kAll,
                  ULONG maxChunk = 0xFFFFFFFFu) {
  return Code(true, in, e, cb, maxChunk);
}

inline Run Encode(const std::string& in, tag_CONTENT_ENCODING e, ULONGLONG cb = kAll,
                  ULONG maxChunk = 0xFFFFFFFFu) {
  return Code(false, in, e, cb, maxChunk);
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

// A Macintosh file's fields as BinHex carries them.
struct MacFile {
  std::string name, type, creator;  // type and creator without padding
  unsigned short flags = 0;
  unsigned char version = 0;
  std::string data, rsrc;
};

struct DecodedFile {
  HRESULT hr;
  MacFile file;
};

// EncodeBinHex40 of the file; *result (when given) its result.
inline std::string EncodeBinHexFile(const MacFile& f, HRESULT* result = nullptr) {
  IStream* out = MemoryStream("");
  IStream* data = MemoryStream(f.data);
  IStream* rsrc = MemoryStream(f.rsrc);
  HRESULT hr = telsor::EncodeBinHex40(out, f.name.c_str(), f.version, f.type.c_str(), f.creator.c_str(), f.flags,
                                      data, static_cast<LONG>(f.data.size()), rsrc, static_cast<LONG>(f.rsrc.size()));
  if (result != nullptr) *result = hr;
  std::string text = StreamBytes(out);
  out->Release();
  data->Release();
  rsrc->Release();
  return text;
}

// DecodeBinHex40 over the first length bytes of text (all of it by default).
inline DecodedFile DecodeBinHexText(const std::string& text, ULONG length = 0xFFFFFFFFu) {
  IStream* in = MemoryStream(text);
  IStream* data = MemoryStream("");
  IStream* rsrc = MemoryStream("");
  char name[64];
  char type[4], creator[4];
  memset(name, 'x', sizeof name);
  DecodedFile d;
  d.hr = telsor::DecodeBinHex40(data, rsrc, in, length == 0xFFFFFFFFu ? static_cast<ULONG>(text.size()) : length,
                                name, d.file.version, type, creator, d.file.flags);
  d.file.name = std::string(name, strnlen(name, sizeof name));
  d.file.type = std::string(type, strnlen(type, 4));
  d.file.creator = std::string(creator, strnlen(creator, 4));
  d.file.data = StreamBytes(data);
  d.file.rsrc = StreamBytes(rsrc);
  in->Release();
  data->Release();
  rsrc->Release();
  return d;
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
