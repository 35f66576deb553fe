// Base64 and quoted-printable decoding against GMime 3's decoders on the
// same buffers: DecodeStream from a memory stream into a memory stream
// (the engine's way: a body range of a message stream into a content
// stream) against g_mime_encoding_*_decode_step from a buffer into a
// buffer.
//
// Base64: random bytes in 76-character lines with CR LF, as mail carries
// attachments. Quoted-printable: mail-like text with accented letters and
// long lines, encoded by the engine's own encoder. Sizes 4 KiB, 256 KiB and
// 4 MiB of encoded text. Before any timing a gate checks that both decoders
// give the same bytes.
//
//   bash bench/setup.sh && bash tools/build.sh normal -DQOR_BENCH=ON
//   build/normal/bin/transfercodec_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <gmime/gmime.h>
#include <string.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "foundation/hglobalstream.h"
#include "foundation/tstringasistream.h"
#include "mime/streamdecoder.h"
#include "mime/streamencoder.h"
#include "gmimemain.h"

using namespace telsor;

namespace {

const size_t kSizes[] = {4 << 10, 256 << 10, 4 << 20};

IStream* MemoryStream(const std::string& bytes) {
  IStream* s = nullptr;
  if (CreateStreamOnHGlobal(nullptr, TRUE, &s) != S_OK) abort();
  if (!bytes.empty()) s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  return s;
}

void Rewind(IStream* s) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
}

std::string Bytes(IStream* s, size_t n) {
  Rewind(s);
  std::string out(n, '\0');
  ULONG got = 0;
  s->Read(&out[0], static_cast<ULONG>(n), &got);
  out.resize(got);
  return out;
}

std::string EncodeWith(tag_CONTENT_ENCODING e, const std::string& data) {
  IStream* in = MemoryStream(data);
  Rewind(in);
  IStream* out = MemoryStream("");
  if (EncodeStream(out, in, e, data.size()) != S_OK) abort();
  ULARGE_INTEGER end;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  out->Seek(zero, STREAM_SEEK_CUR, &end);
  std::string text = Bytes(out, static_cast<size_t>(end.QuadPart));
  in->Release();
  out->Release();
  return text;
}

// Base64 text of about size bytes: random data, 76-character lines.
std::string Base64Text(size_t size) {
  std::mt19937 rng(1);
  std::string data(size / 4 * 3, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve(size + size / 38 + 8);
  size_t column = 0;
  for (size_t i = 0; i + 3 <= data.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(data[i]) << 16 | static_cast<unsigned char>(data[i + 1]) << 8 |
                 static_cast<unsigned char>(data[i + 2]);
    for (int k = 3; k >= 0; --k) text += kAlphabet[(v >> (6 * k)) & 63];
    column += 4;
    if (column == 76) {
      text += "\r\n";
      column = 0;
    }
  }
  return text;
}

// Mail-like text with accented letters, long lines and some "=".
std::string QuotedPrintableText(size_t size) {
  static const char* words[] = {"the", "meeting", "r\xe9sum\xe9", "please", "caf\xe9", "attached", "na\xefve",
                                "offer", "price=12", "shipping", "\xfc" "ber", "update", "document", "write"};
  std::mt19937 rng(2);
  std::string data;
  while (data.size() < size * 2 / 3) {
    size_t line = 0, width = 40 + rng() % 80;
    while (line < width) {
      std::string w = words[rng() % 14];
      data += w + " ";
      line += w.size() + 1;
    }
    data += "\r\n";
  }
  std::string text = EncodeWith(CONTENT_ENCODING_QUOTED_PRINTABLE, data);
  return text.substr(0, std::min(text.size(), size));
}

std::string GMimeDecode(bool base64, const std::string& text) {
  std::string out(text.size() + 4, '\0');
  int state = 0;
  guint32 save = 0;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text.data());
  unsigned char* o = reinterpret_cast<unsigned char*>(&out[0]);
  size_t n = base64 ? g_mime_encoding_base64_decode_step(in, text.size(), o, &state, &save)
                    : g_mime_encoding_quoted_decode_step(in, text.size(), o, &state, &save);
  out.resize(n);
  return out;
}

struct Workload {
  std::string text;
  IStream* source;
  IStream* target;
  std::vector<unsigned char> buffer;
};

Workload& Get(bool base64, size_t size) {
  static std::vector<Workload*> cache(6, nullptr);
  size_t slot = (base64 ? 0 : 3) + (size == kSizes[0] ? 0 : size == kSizes[1] ? 1 : 2);
  if (cache[slot] == nullptr) {
    auto* w = new Workload;
    w->text = base64 ? Base64Text(size) : QuotedPrintableText(size);
    w->source = MemoryStream(w->text);
    w->target = MemoryStream(std::string(w->text.size(), '\0'));
    w->buffer.resize(w->text.size() + 4);
    // The gate: both decoders give the same bytes.
    Rewind(w->source);
    Rewind(w->target);
    const tag_CONTENT_ENCODING e = base64 ? CONTENT_ENCODING_BASE64 : CONTENT_ENCODING_QUOTED_PRINTABLE;
    if (DecodeStream(w->target, w->source, e, w->text.size()) != S_OK) abort();
    ULARGE_INTEGER end;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    w->target->Seek(zero, STREAM_SEEK_CUR, &end);
    std::string ours = Bytes(w->target, static_cast<size_t>(end.QuadPart));
    if (ours != GMimeDecode(base64, w->text)) {
      fprintf(stderr, "decoders disagree on %s of %zu bytes\n", base64 ? "base64" : "quoted-printable", size);
      abort();
    }
    cache[slot] = w;
  }
  return *cache[slot];
}

void Ours(benchmark::State& state, bool base64) {
  Workload& w = Get(base64, static_cast<size_t>(state.range(0)));
  const tag_CONTENT_ENCODING e = base64 ? CONTENT_ENCODING_BASE64 : CONTENT_ENCODING_QUOTED_PRINTABLE;
  for (auto _ : state) {
    Rewind(w.source);
    Rewind(w.target);
    if (DecodeStream(w.target, w.source, e, w.text.size()) != S_OK) abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(w.text.size()));
}

void Peer(benchmark::State& state, bool base64) {
  Workload& w = Get(base64, static_cast<size_t>(state.range(0)));
  const unsigned char* in = reinterpret_cast<const unsigned char*>(w.text.data());
  for (auto _ : state) {
    int st = 0;
    guint32 save = 0;
    size_t n = base64 ? g_mime_encoding_base64_decode_step(in, w.text.size(), w.buffer.data(), &st, &save)
                      : g_mime_encoding_quoted_decode_step(in, w.text.size(), w.buffer.data(), &st, &save);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(w.text.size()));
}

void Base64Ours(benchmark::State& s) { Ours(s, true); }
void Base64GMime(benchmark::State& s) { Peer(s, true); }
void QpOurs(benchmark::State& s) { Ours(s, false); }
void QpGMime(benchmark::State& s) { Peer(s, false); }

void Sizes(benchmark::internal::Benchmark* b) {
  for (size_t size : kSizes) b->Arg(static_cast<int64_t>(size));
}

BENCHMARK(Base64Ours)->Name("base64_decode/ours")->Apply(Sizes);
BENCHMARK(Base64GMime)->Name("base64_decode/gmime")->Apply(Sizes);
BENCHMARK(QpOurs)->Name("qp_decode/ours")->Apply(Sizes);
BENCHMARK(QpGMime)->Name("qp_decode/gmime")->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) { return bench::RunWithGMime(argc, argv); }
