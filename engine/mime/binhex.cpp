// BinHex 4.0 codec.
#include "mime/binhex.h"

#include <string.h>

#include <new>

#include "foundation/crc16.h"
#include "foundation/errorroad.h"
#include "foundation/throwcode.h"
#include "mime/mimehelpers.h"
#include "mime/codecio.h"
#include "search/seeksubstr.h"

namespace telsor {

namespace {

constexpr char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
const char kPreamble[] = "(This file must be converted with BinHex 4.0)";
// What the matcher looks for: the preamble up to the version.
const char kPreambleStart[] = "(This file must be converted with BinHex ";
const ULONG kLineLength = 64;
const BYTE kRunMarker = 0x90;

enum : BYTE { BH_SKIP = 0x40, BH_COLON = 0x41, BH_INVALID = 0x42 };

struct ReverseTable {
  BYTE value[256];
};

constexpr ReverseTable MakeReverseTable() {
  ReverseTable t{};
  for (int i = 0; i < 256; ++i) t.value[i] = BH_INVALID;
  for (int i = 0; i < 64; ++i) t.value[static_cast<BYTE>(kAlphabet[i])] = static_cast<BYTE>(i);
  t.value[0] = BH_SKIP;
  t.value[9] = BH_SKIP;
  t.value[10] = BH_SKIP;
  t.value[13] = BH_SKIP;
  t.value[32] = BH_SKIP;
  t.value[static_cast<BYTE>(':')] = BH_COLON;
  return t;
}

constexpr ReverseTable kReverse = MakeReverseTable();

inline WORD Crc(WORD crc, BYTE b) {
  return static_cast<WORD>(g_awCrc16Table[((crc >> 8) ^ b) & 0xFF] ^ (crc << 8));
}

// The process-wide preamble matcher, compiled once, then only searched.
class CPreambleMatcher : public CSeekSubstr {
 public:
  CPreambleMatcher() { Compile(kPreambleStart, 0, 0); }
};

const CPreambleMatcher& Preamble() {
  static const CPreambleMatcher matcher;
  return matcher;
}

// Feeds bytes to the encoder and to a CRC.
class CCrcFeed {
 public:
  explicit CCrcFeed(CBinHexEncodeCtxt& ctx) : m_ctx(ctx), m_wCrc(0) {}
  void Byte(BYTE b) {
    m_wCrc = Crc(m_wCrc, b);
    m_ctx.EncodeChar(b);
  }
  void Word(WORD w) {
    Byte(static_cast<BYTE>(w >> 8));
    Byte(static_cast<BYTE>(w));
  }
  void Long(DWORD d) {
    Word(static_cast<WORD>(d >> 16));
    Word(static_cast<WORD>(d));
  }
  // The CRC itself, high byte first, outside any CRC.
  void End() {
    m_ctx.EncodeChar(static_cast<BYTE>(m_wCrc >> 8));
    m_ctx.EncodeChar(static_cast<BYTE>(m_wCrc));
  }

 private:
  CBinHexEncodeCtxt& m_ctx;
  WORD m_wCrc;
};

// Reads exactly length bytes of a fork into the encoder.
HRESULT EncodeFork(CBinHexEncodeCtxt& ctx, IStream* fork, DWORD length) {
  CCrcFeed feed(ctx);
  BYTE buf[4096];
  ULONGLONG left = length;
  while (left > 0) {
    ULONG got = 0;
    HRESULT hr = ReadChunk(fork, buf, sizeof buf, left, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) return E_FAIL;  // the fork holds fewer bytes than announced
    for (ULONG i = 0; i < got; ++i) feed.Byte(buf[i]);
  }
  feed.End();
  return S_OK;
}

// Up to 4 bytes of a text, padded with zero bytes.
void PutCode(CCrcFeed& feed, const char* code) {
  size_t n = code != nullptr ? strnlen(code, 4) : 0;
  for (size_t i = 0; i < 4; ++i) feed.Byte(i < n ? static_cast<BYTE>(code[i]) : 0);
}

void ClearHeader(char* name, unsigned char& version, char* type, char* creator, unsigned short& flags) {
  memset(name, 0, BINHEX_MAX_NAME + 1);
  memset(type, 0, 4);
  memset(creator, 0, 4);
  version = 0;
  flags = 0;
}

// Decodes one fork of length bytes, writing it through a bounded buffer, and
// checks its CRC.
HRESULT DecodeFork(CBinHexDecodeCtxt& ctx, IStream* out, DWORD length, BYTE* buf, size_t size) {
  WORD crc = 0;
  size_t held = 0;
  for (DWORD i = 0; i < length; ++i) {
    int c = ctx.DecodeChar();
    if (c < 0) return E_MIME_BINHEX_MALFORMED;
    crc = Crc(crc, static_cast<BYTE>(c));
    buf[held++] = static_cast<BYTE>(c);
    if (held == size) {
      if (out != nullptr) {
        HRESULT hr = out->Write(buf, static_cast<ULONG>(held), nullptr);
        if (FAILED(hr)) return hr;
      }
      held = 0;
    }
  }
  if (held > 0 && out != nullptr) {
    HRESULT hr = out->Write(buf, static_cast<ULONG>(held), nullptr);
    if (FAILED(hr)) return hr;
  }
  int hi = ctx.DecodeChar();
  int lo = hi < 0 ? -1 : ctx.DecodeChar();
  if (lo < 0) return E_MIME_BINHEX_MALFORMED;
  if (static_cast<WORD>(hi << 8 | lo) != crc) return E_MIME_BINHEX_CRC;
  return S_OK;
}

}  // namespace

// ------------------------------------------------------------- encoder

CBinHexEncodeCtxt::CBinHexEncodeCtxt()
    : m_nColumn(0), m_nRunCount(1), m_nLastByte(-1), m_abPending(), m_nPending(0),
      m_achText(), m_nText(0) {}

CBinHexEncodeCtxt::~CBinHexEncodeCtxt() = default;

void CBinHexEncodeCtxt::Bind(IStream* out, ULONG column) {
  m_pOut = out;
  m_nColumn = column;
}

void CBinHexEncodeCtxt::PutChar(unsigned char c) {
  if (m_nText + 3 > sizeof m_achText) FlushText();
  if (m_nColumn == kLineLength) {
    m_achText[m_nText++] = '\r';
    m_achText[m_nText++] = '\n';
    m_nColumn = 0;
  }
  m_achText[m_nText++] = static_cast<char>(c);
  ++m_nColumn;
}

void CBinHexEncodeCtxt::FlushText() {
  if (m_nText == 0) return;
  size_t n = m_nText;
  m_nText = 0;
  if (m_pOut == nullptr) return;
  HRESULT hr = m_pOut->Write(m_achText, static_cast<ULONG>(n), nullptr);
  if (FAILED(hr)) ThrowCode(static_cast<DWORD>(hr));
}

void CBinHexEncodeCtxt::Emit(unsigned char b) {
  m_abPending[m_nPending++] = b;
  while (m_nPending >= 3) {
    const BYTE b0 = m_abPending[0], b1 = m_abPending[1], b2 = m_abPending[2];
    PutChar(static_cast<unsigned char>(kAlphabet[b0 >> 2]));
    PutChar(static_cast<unsigned char>(kAlphabet[(b0 & 3) << 4 | b1 >> 4]));
    PutChar(static_cast<unsigned char>(kAlphabet[(b1 & 15) << 2 | b2 >> 6]));
    PutChar(static_cast<unsigned char>(kAlphabet[b2 & 63]));
    m_nPending -= 3;
    memmove(m_abPending, m_abPending + 3, m_nPending);
  }
}

// A data byte: 0x90 stands as 0x90 0x00.
void CBinHexEncodeCtxt::EmitLiteral(unsigned char b) {
  Emit(b);
  if (b == kRunMarker) Emit(0);
}

void CBinHexEncodeCtxt::CloseRun() {
  if (m_nLastByte < 0) return;
  if (m_nRunCount == 2) {
    EmitLiteral(static_cast<unsigned char>(m_nLastByte));
  } else if (m_nRunCount >= 3) {
    Emit(kRunMarker);
    Emit(static_cast<unsigned char>(m_nRunCount));
  }
  m_nRunCount = 1;
}

void CBinHexEncodeCtxt::EncodeChar(unsigned char b) {
  if (static_cast<LONG>(b) == m_nLastByte && m_nRunCount < 255) {
    ++m_nRunCount;
    return;
  }
  CloseRun();
  EmitLiteral(b);
  m_nLastByte = b;
  m_nRunCount = 1;
}

void CBinHexEncodeCtxt::Finalize() {
  CloseRun();
  m_nLastByte = -1;
  if (m_nPending > 0) {
    const BYTE b0 = m_abPending[0];
    const BYTE b1 = m_nPending > 1 ? m_abPending[1] : 0;
    PutChar(static_cast<unsigned char>(kAlphabet[b0 >> 2]));
    PutChar(static_cast<unsigned char>(kAlphabet[(b0 & 3) << 4 | b1 >> 4]));
    if (m_nPending > 1) PutChar(static_cast<unsigned char>(kAlphabet[(b1 & 15) << 2]));
    m_nPending = 0;
  }
  FlushText();
}

HRESULT EncodeBinHex40(IStream* out, const char* name, unsigned char version, const char* type,
                       const char* creator, unsigned short flags, IStream* data, LONG dataLength,
                       IStream* resource, LONG resourceLength) {
  if (out == nullptr) return E_POINTER;
  // A fork without a stream is empty, whatever its length says.
  const DWORD dataBytes = data != nullptr && dataLength > 0 ? static_cast<DWORD>(dataLength) : 0;
  const DWORD resourceBytes = resource != nullptr && resourceLength > 0 ? static_cast<DWORD>(resourceLength) : 0;
  const size_t nameLength = name != nullptr ? strnlen(name, BINHEX_MAX_NAME) : 0;

  WriteString(out, kPreamble, 0);
  WriteString(out, "\r\n:", 3);
  CBinHexEncodeCtxt ctx;
  ctx.Bind(out, 1);  // the colon is the line's first character
  {
    CCrcFeed header(ctx);
    header.Byte(static_cast<BYTE>(nameLength));
    for (size_t i = 0; i < nameLength; ++i) header.Byte(static_cast<BYTE>(name[i]));
    header.Byte(version);
    PutCode(header, type);
    PutCode(header, creator);
    header.Word(flags);
    header.Long(dataBytes);
    header.Long(resourceBytes);
    header.End();
  }
  HRESULT hr = EncodeFork(ctx, data, dataBytes);
  if (FAILED(hr)) return hr;
  hr = EncodeFork(ctx, resource, resourceBytes);
  if (FAILED(hr)) return hr;
  ctx.Finalize();
  WriteString(out, ":\r\n", 3);
  return S_OK;
}

// ------------------------------------------------------------- decoder

CBinHexDecodeCtxt::CBinHexDecodeCtxt(IStream* stream, ULONG length)
    : m_pOwned(new CStreamReader(stream, length)), m_pReader(m_pOwned.get()), m_nLastByte(-1),
      m_abDecoded(), m_nNext(0), m_nLeft(0), m_nRepeat(1), m_hrError(S_OK), m_bColon(false) {}

CBinHexDecodeCtxt::CBinHexDecodeCtxt(CStreamReader& reader)
    : m_pReader(&reader), m_nLastByte(-1), m_abDecoded(), m_nNext(0), m_nLeft(0), m_nRepeat(1),
      m_hrError(S_OK), m_bColon(false) {}

CBinHexDecodeCtxt::~CBinHexDecodeCtxt() {}

int CBinHexDecodeCtxt::GetChar() {
  if (m_nLeft > 0) {
    --m_nLeft;
    return m_abDecoded[m_nNext++];
  }
  DWORD bits = 0;
  int k = 0;
  while (k < 4) {
    int c = m_pReader->GetChar();
    if (c < 0) break;
    BYTE v = kReverse.value[c];
    if (v == BH_SKIP) continue;
    if (v == BH_COLON) {
      m_bColon = true;
      break;
    }
    if (v == BH_INVALID) {
      m_hrError = E_MIME_BINHEX_MALFORMED;
      return -1;
    }
    bits = bits << 6 | v;
    ++k;
  }
  if (k == 0) return -1;
  bits <<= 6 * (4 - k);  // the missing low bits are zero
  m_abDecoded[0] = static_cast<BYTE>(bits >> 16);
  m_abDecoded[1] = static_cast<BYTE>(bits >> 8);
  m_abDecoded[2] = static_cast<BYTE>(bits);
  m_nNext = 1;
  m_nLeft = static_cast<ULONG>(k < 3 ? k : 3) - 1;
  return m_abDecoded[0];
}

int CBinHexDecodeCtxt::DecodeChar() {
  if (m_nRepeat > 1) {
    --m_nRepeat;
    return static_cast<int>(m_nLastByte);
  }
  int c = GetChar();
  if (c < 0) return -1;
  if (c != kRunMarker) {
    m_nLastByte = c;
    return c;
  }
  int n = GetChar();
  if (n == 0) {
    m_nLastByte = kRunMarker;
    return kRunMarker;
  }
  if (n < 0 || n == 1 || m_nLastByte < 0) {
    m_hrError = E_MIME_BINHEX_MALFORMED;
    return -1;
  }
  m_nRepeat = static_cast<ULONG>(n) - 1;
  return static_cast<int>(m_nLastByte);
}

HRESULT DecodeBinHex40Body(IStream* data, IStream* resource, CBinHexDecodeCtxt& ctx, ULONG /*length*/,
                           char* name, unsigned char& version, char* type, char* creator,
                           unsigned short& flags) {
  ClearHeader(name, version, type, creator, flags);
  WORD crc = 0;
  bool ended = false;
  auto next = [&]() -> BYTE {
    int c = ctx.DecodeChar();
    if (c < 0) {
      ended = true;
      return 0;
    }
    crc = Crc(crc, static_cast<BYTE>(c));
    return static_cast<BYTE>(c);
  };
  const BYTE nameLength = next();
  if (ended || nameLength < 1 || nameLength > BINHEX_MAX_NAME) return E_MIME_BINHEX_MALFORMED;
  for (BYTE i = 0; i < nameLength; ++i) name[i] = static_cast<char>(next());
  name[nameLength] = '\0';
  version = next();
  for (int i = 0; i < 4; ++i) type[i] = static_cast<char>(next());
  for (int i = 0; i < 4; ++i) creator[i] = static_cast<char>(next());
  flags = static_cast<WORD>(next() << 8);
  flags = static_cast<WORD>(flags | next());
  DWORD lengths[2] = {0, 0};
  for (DWORD& n : lengths) {
    for (int i = 0; i < 4; ++i) n = n << 8 | next();
  }
  if (ended) return E_MIME_BINHEX_MALFORMED;
  const WORD computed = crc;
  int hi = ctx.DecodeChar();
  int lo = hi < 0 ? -1 : ctx.DecodeChar();
  if (lo < 0) return E_MIME_BINHEX_MALFORMED;
  if (static_cast<WORD>(hi << 8 | lo) != computed) return E_MIME_BINHEX_CRC;

  // A bounded work buffer, whatever the lengths announce.
  DWORD larger = lengths[0] > lengths[1] ? lengths[0] : lengths[1];
  size_t size = larger < 1024 ? 1024 : larger > 32768 ? 32768 : larger;
  std::unique_ptr<BYTE[]> buf(new (std::nothrow) BYTE[size]);
  if (!buf) return E_OUTOFMEMORY;
  HRESULT hr = DecodeFork(ctx, data, lengths[0], buf.get(), size);
  if (hr != S_OK) return hr;
  return DecodeFork(ctx, resource, lengths[1], buf.get(), size);
}

HRESULT DecodeBinHex40(IStream* data, IStream* resource, IStream* in, ULONG length, char* name,
                       unsigned char& version, char* type, char* creator, unsigned short& flags) {
  if (in == nullptr) return E_POINTER;
  ULONGLONG noted = 0;
  HRESULT hr = StreamPosition(in, &noted);
  if (FAILED(hr)) return hr;
  return ResultOfCall([&]() -> HRESULT {
    ULONG matchLength = 0;
    const DWORD at = FindBinHex40Preambule(in, length, &matchLength);
    if (at == static_cast<DWORD>(-1)) {
      // Not BinHex: the bytes as they are.
      ClearHeader(name, version, type, creator, flags);
      HRESULT seek = StreamSeekTo(in, noted);
      if (FAILED(seek) || data == nullptr) return seek;
      return CopyUnchanged(data, in, length);
    }
    const ULONGLONG consumed = static_cast<ULONGLONG>(at) + matchLength - noted;
    if (consumed >= length) return E_MIME_BINHEX_MALFORMED;
    HRESULT seek = StreamSeekTo(in, static_cast<ULONGLONG>(at) + matchLength);
    if (FAILED(seek)) return seek;
    // The rest of the preamble line, up to and including the opening colon.
    ULONG left = length - static_cast<ULONG>(consumed);
    while (left > 0) {
      char c = 0;
      ULONG got = 0;
      HRESULT read = in->Read(&c, 1, &got);
      if (FAILED(read)) return read;
      if (got == 0) return E_MIME_BINHEX_MALFORMED;
      --left;
      if (c == ':') break;
    }
    CBinHexDecodeCtxt ctx(in, left);
    return DecodeBinHex40Body(data, resource, ctx, left, name, version, type, creator, flags);
  });
}

DWORD FindBinHex40Preambule(IStream* stream, ULONG length, ULONG* matchLength) {
  if (matchLength != nullptr) *matchLength = 0;
  if (stream == nullptr || length == 0) return static_cast<DWORD>(-1);
  return Preamble().Search(stream, length, matchLength);
}

DWORD FindBinHex40Preambule(const unsigned char* block, ULONG length, ULONG* matchLength) {
  if (matchLength != nullptr) *matchLength = 0;
  if (block == nullptr || length == 0) return static_cast<DWORD>(-1);
  return Preamble().Search(reinterpret_cast<const char*>(block), length, matchLength);
}

BOOL VerifyBinHex40(CStreamReader& reader, ULONG& length) {
  length = 0;
  const DWORD start = reader.GetPos();
  for (;;) {
    int c = reader.GetChar();
    if (c < 0) return FALSE;
    if (c == ':') break;
  }
  char name[BINHEX_MAX_NAME + 1];
  char type[4], creator[4];
  unsigned char version = 0;
  unsigned short flags = 0;
  CBinHexDecodeCtxt ctx(reader);
  if (DecodeBinHex40Body(nullptr, nullptr, ctx, 0, name, version, type, creator, flags) != S_OK) {
    return FALSE;
  }
  // The block ends after its closing colon. When the last group of
  // characters was short the decoder has taken it already; otherwise blank
  // characters may stand before it. Anything else is the next text.
  while (!ctx.ReachedColon()) {
    int c = reader.GetChar();
    if (c < 0) break;
    if (c == ' ' || c == '\t' || c == 8 || c == '\r' || c == '\n' || c == 0) continue;
    if (c != ':') reader.PutBackChar();
    break;
  }
  length = reader.GetPos() - start;
  return TRUE;
}

}  // namespace telsor
