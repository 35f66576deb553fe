// BinHex 4.0 from any bytes (half of the inputs behind a preamble line and
// the opening colon, so the fuzzer works on the block itself): decoding
// succeeds or gives a BinHex error, never more; a decoded file encodes and
// decodes back to itself; the block check agrees between memory and stream
// and measures a block within the text.
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "engine/mime/codectestutil.h"
#include "foundation/streamreader.h"

using namespace telsor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (size > 0 && (data[0] & 1)) text = "(This file must be converted with BinHex 4.0)\r\n:" + text.substr(1);

  const codec_test::DecodedFile f = codec_test::DecodeBinHexText(text);
  if (f.hr != S_OK && f.hr != E_MIME_BINHEX_MALFORMED && f.hr != E_MIME_BINHEX_CRC) abort();
  const ULONG at = FindBinHex40Preambule(reinterpret_cast<const unsigned char*>(text.data()),
                                         static_cast<ULONG>(text.size()), nullptr);
  if (f.hr == S_OK && at != static_cast<ULONG>(-1)) {
    // A name of 1 to 63 bytes (up to a NUL in it), and the file comes back
    // through the encoder.
    if (f.file.name.size() > 63) abort();
    HRESULT hr = E_FAIL;
    const std::string again = codec_test::EncodeBinHexFile(f.file, &hr);
    if (hr != S_OK) abort();
    const codec_test::DecodedFile back = codec_test::DecodeBinHexText(again);
    if (f.file.name.empty()) {
      if (back.hr != E_MIME_BINHEX_MALFORMED) abort();
    } else if (back.hr != S_OK || back.file.name != f.file.name || back.file.type != f.file.type ||
               back.file.creator != f.file.creator || back.file.flags != f.file.flags ||
               back.file.version != f.file.version || back.file.data != f.file.data ||
               back.file.rsrc != f.file.rsrc) {
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
