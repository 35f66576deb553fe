// BinHex 4.0 from any bytes (half of the inputs behind a preamble line and
// the opening colon, so the fuzzer works on the block itself): decoding
// succeeds or gives a BinHex error, never more; a decoded file encodes and
// decodes back to itself; the block check agrees between memory and stream
// and measures a block within the text.
#include <stdint.h>
#include <string.h>

#include <cstdlib>
#include <string>

#include "common/teststream.h"
#include "foundation/hglobalstream.h"
#include "foundation/streamreader.h"
#include "mime/binhex.h"

using namespace telsor;

namespace {

IStream* Memory(const std::string& bytes) {
  IStream* s = nullptr;
  if (CreateStreamOnHGlobal(nullptr, TRUE, &s) != S_OK) abort();
  if (!bytes.empty()) s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  return s;
}

std::string Bytes(IStream* s) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  ULARGE_INTEGER end;
  end.QuadPart = 0;
  s->Seek(zero, STREAM_SEEK_END, &end);
  s->Seek(zero, STREAM_SEEK_SET, nullptr);
  std::string out(static_cast<size_t>(end.QuadPart), '\0');
  ULONG got = 0;
  if (!out.empty()) s->Read(&out[0], static_cast<ULONG>(out.size()), &got);
  return out;
}

struct File {
  HRESULT hr;
  char name[64];
  char type[4], creator[4];
  unsigned char version;
  unsigned short flags;
  std::string data, rsrc;
};

File Decode(const std::string& text) {
  File f;
  IStream* in = Memory(text);
  IStream* data = Memory("");
  IStream* rsrc = Memory("");
  f.hr = DecodeBinHex40(data, rsrc, in, static_cast<ULONG>(text.size()), f.name, f.version, f.type, f.creator,
                        f.flags);
  f.data = Bytes(data);
  f.rsrc = Bytes(rsrc);
  in->Release();
  data->Release();
  rsrc->Release();
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (size > 0 && (data[0] & 1)) text = "(This file must be converted with BinHex 4.0)\r\n:" + text.substr(1);

  File f = Decode(text);
  if (f.hr != S_OK && f.hr != E_MIME_BINHEX_MALFORMED && f.hr != E_MIME_BINHEX_CRC) abort();
  const ULONG at = FindBinHex40Preambule(reinterpret_cast<const unsigned char*>(text.data()),
                                         static_cast<ULONG>(text.size()), nullptr);
  if (f.hr == S_OK && at != static_cast<ULONG>(-1)) {
    // A name of 1 to 63 bytes, and the file comes back through the encoder.
    const size_t n = strnlen(f.name, sizeof f.name);
    if (n < 1 || n > 63) abort();
    IStream* out = Memory("");
    IStream* d = Memory(f.data);
    IStream* r = Memory(f.rsrc);
    char type[5] = {0}, creator[5] = {0};
    memcpy(type, f.type, 4);
    memcpy(creator, f.creator, 4);
    if (EncodeBinHex40(out, f.name, f.version, type, creator, f.flags, d, static_cast<LONG>(f.data.size()), r,
                       static_cast<LONG>(f.rsrc.size())) != S_OK) {
      abort();
    }
    File back = Decode(Bytes(out));
    out->Release();
    d->Release();
    r->Release();
    if (back.hr != S_OK || strcmp(back.name, f.name) != 0 || back.data != f.data || back.rsrc != f.rsrc ||
        back.flags != f.flags || memcmp(back.type, type, 4) != 0 || memcmp(back.creator, creator, 4) != 0) {
      abort();
    }
  }
  if (at != static_cast<ULONG>(-1)) {
    CStreamReader memory(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ULONG>(text.size()));
    memory.SetPos(at);
    ULONG memoryLength = 0;
    BOOL memoryVerdict = VerifyBinHex40(memory, memoryLength);
    CTestStream stream(text);
    stream.pos = at;
    CStreamReader streamReader(&stream, 0xFFFFFFFFu);
    ULONG streamLength = 0;
    BOOL streamVerdict = VerifyBinHex40(streamReader, streamLength);
    if (memoryVerdict != streamVerdict || memoryLength != streamLength) abort();
    if (memoryVerdict && (memoryLength == 0 || at + memoryLength > text.size())) abort();
    if (!memoryVerdict && memoryLength != 0) abort();
  }
  return 0;
}
