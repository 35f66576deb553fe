// BinHex 4.0: the run-length and 6-bit layers, the text layout, round
// trips, damaged and hostile blocks, the preamble search, block checking,
// and both directions against Debian's macutils (binhex/hexbin) on a
// committed fixture.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "codectestutil.h"
#include "common/tempdir.h"
#include "foundation/streamreader.h"
#include "mime/binhex.h"
#include "mimetestutil.h"

using namespace telsor;
using codec_test::MemoryStream;
using codec_test::StreamBytes;
using mime_test::Show;

namespace {

const char kPreamble[] = "(This file must be converted with BinHex 4.0)";

std::string FixturePath(const std::string& name) {
  std::string dir = __FILE__;
  return dir.substr(0, dir.rfind('/')) + "/fixtures/binhex/" + name;
}

using codec_test::MacFile;
typedef codec_test::DecodedFile Decoded;

std::string EncodeFile(const MacFile& f, HRESULT* result = nullptr) { return codec_test::EncodeBinHexFile(f, result); }

Decoded DecodeText(const std::string& text, ULONG length = 0xFFFFFFFFu) {
  return codec_test::DecodeBinHexText(text, length);
}

// The bytes between the colons after 6-bit decoding only (run-length
// markers still in), through the decoder's lower layer.
std::vector<int> SixBitLayer(const std::string& text) {
  size_t colon = text.find(':');
  std::string body = text.substr(colon + 1);
  CStreamReader reader(reinterpret_cast<const unsigned char*>(body.data()), static_cast<ULONG>(body.size()));
  CBinHexDecodeCtxt ctx(reader);
  std::vector<int> bytes;
  for (int c; (c = ctx.GetChar()) >= 0;) bytes.push_back(c);
  return bytes;
}

// The text of bytes fed straight to the encoder's run-length layer.
std::string EncodeRaw(const std::vector<BYTE>& bytes) {
  IStream* out = MemoryStream("");
  {
    CBinHexEncodeCtxt ctx;
    ctx.Bind(out, 1);
    for (BYTE b : bytes) ctx.EncodeChar(b);
    ctx.Finalize();
  }
  std::string text = ":" + StreamBytes(out);
  out->Release();
  return text;
}

// Bytes in 6-bit characters without run-length compression.
std::string SixBits(const std::vector<BYTE>& bytes) {
  const char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    DWORD v = static_cast<DWORD>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<DWORD>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= bytes[i + 2];
    const size_t chars = i + 2 < bytes.size() ? 4 : i + 1 < bytes.size() ? 3 : 2;
    for (size_t k = 0; k < chars; ++k) out += kAlphabet[(v >> (18 - 6 * k)) & 63];
  }
  return out;
}

TEST(BinHex, RunLengthLayer) {
  struct {
    std::vector<BYTE> in;
    std::vector<int> out;
  } rows[] = {
      {std::vector<BYTE>(300, 'A'), {'A', 0x90, 255, 'A', 0x90, 45}},
      {std::vector<BYTE>(255, 'A'), {'A', 0x90, 255}},
      {std::vector<BYTE>(256, 'A'), {'A', 0x90, 255, 'A'}},
      {{'A', 'A'}, {'A', 'A'}},
      {{'A', 'A', 'A'}, {'A', 0x90, 3}},
      {{0x90}, {0x90, 0}},
      {{0x90, 0x90}, {0x90, 0, 0x90, 0}},
      {{0x90, 0x90, 0x90, 0x90, 0x90}, {0x90, 0, 0x90, 5}},
      {{'a', 'b', 'c'}, {'a', 'b', 'c'}},
  };
  for (const auto& row : rows) {
    std::string text = EncodeRaw(row.in);
    std::vector<int> got = SixBitLayer(text);
    // A last group of one or two bytes leaves no extra whole byte.
    ASSERT_GE(got.size(), row.out.size());
    got.resize(row.out.size());
    EXPECT_EQ(got, row.out) << Show(text);
    // And the run-length decoder gives the bytes back.
    CStreamReader reader(reinterpret_cast<const unsigned char*>(text.data()) + 1,
                         static_cast<ULONG>(text.size() - 1));
    CBinHexDecodeCtxt ctx(reader);
    std::vector<BYTE> back;
    for (size_t i = 0; i < row.in.size(); ++i) {
      int c = ctx.DecodeChar();
      ASSERT_GE(c, 0);
      back.push_back(static_cast<BYTE>(c));
    }
    EXPECT_EQ(back, row.in);
  }
}

// The CRCs are CRC-16/XMODEM: a data fork of the nine digits carries the
// check value 0x31C3; an empty fork carries 0.
TEST(BinHex, ForkCrcs) {
  MacFile f;
  f.name = "n";
  f.data = "123456789";
  std::string text = EncodeFile(f);
  CStreamReader reader(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ULONG>(text.size()));
  while (reader.GetChar() != ':') {}
  CBinHexDecodeCtxt ctx(reader);
  // 1 + 1 name byte + 1 + 4 + 4 + 2 + 4 + 4 + 2 header bytes.
  for (int i = 0; i < 23; ++i) ASSERT_GE(ctx.DecodeChar(), 0);
  for (int i = 0; i < 9; ++i) ASSERT_EQ(ctx.DecodeChar(), '1' + i);
  EXPECT_EQ(ctx.DecodeChar(), 0x31);
  EXPECT_EQ(ctx.DecodeChar(), 0xC3);
  EXPECT_EQ(ctx.DecodeChar(), 0);  // the empty resource fork's CRC
  EXPECT_EQ(ctx.DecodeChar(), 0);
  EXPECT_EQ(ctx.DecodeChar(), -1);
}

TEST(BinHex, TextLayout) {
  MacFile f;
  f.name = "layout";
  std::mt19937 rng(3);
  f.data = codec_test::RandomBytes(rng, 5000, false);
  std::string text = EncodeFile(f);
  ASSERT_EQ(text.compare(0, strlen(kPreamble) + 3, std::string(kPreamble) + "\r\n:"), 0);
  std::vector<std::string> lines;
  size_t start = strlen(kPreamble) + 2;
  for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
    lines.push_back(text.substr(start, at - start));
  }
  EXPECT_EQ(start, text.size());  // the text ends with a line break
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0][0], ':');
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 64u) << i;
  EXPECT_EQ(lines.back().back(), ':');
  EXPECT_LE(lines.back().size(), 65u);
  EXPECT_EQ(lines.back().find(':'), lines.back().size() - 1);
}

// A block whose characters end exactly at a line's end gets no line break
// before its closing colon.
TEST(BinHex, NoLineBreakBeforeTheClosingColon) {
  std::mt19937 rng(4);
  bool seen = false;
  for (size_t n = 0; n < 400 && !seen; ++n) {
    MacFile f;
    f.name = "x";
    f.data = codec_test::RandomBytes(rng, n, false);
    std::string text = EncodeFile(f);
    size_t close = text.size() - 3;
    ASSERT_EQ(text.substr(close), ":\r\n");
    size_t lineStart = text.rfind("\r\n", close) + 2;
    if (close - lineStart == 64) {
      seen = true;
      EXPECT_NE(text[close - 1], '\n');
    }
  }
  EXPECT_TRUE(seen);
}

TEST(BinHex, RoundTrips) {
  std::mt19937 rng(17);
  const size_t sizes[] = {0, 1, 2, 3, 255, 256, 1023, 1024, 1025, 32768, 32769, 70000};
  for (size_t dataSize : sizes) {
    for (size_t rsrcSize : {size_t(0), size_t(1), size_t(5000)}) {
      MacFile f;
      f.name = std::string(1 + rng() % 63, 'n');
      for (auto& c : f.name) c = static_cast<char>(0x20 + rng() % 0x60);
      f.type = "TEXT";
      f.creator = "ttx";
      f.flags = static_cast<unsigned short>(rng());
      f.data = codec_test::RandomBytes(rng, dataSize, false);
      // Long runs, of 0x90 too.
      if (dataSize > 600) {
        memset(&f.data[100], 0x90, 300);
        memset(&f.data[400], 'q', 200);
      }
      f.rsrc = codec_test::RandomBytes(rng, rsrcSize, false);
      std::string text = EncodeFile(f);
      Decoded d = DecodeText("preceding text\r\n" + text + "following text\r\n");
      ASSERT_EQ(d.hr, S_OK) << dataSize << " " << rsrcSize;
      EXPECT_EQ(d.file.name, f.name);
      EXPECT_EQ(d.file.type, f.type);
      EXPECT_EQ(d.file.creator, f.creator);
      EXPECT_EQ(d.file.flags, f.flags);
      EXPECT_EQ(d.file.version, 0);
      ASSERT_EQ(d.file.data, f.data);
      ASSERT_EQ(d.file.rsrc, f.rsrc);
    }
  }
}

TEST(BinHex, NamesAtTheLimit) {
  MacFile f;
  f.name = std::string(63, 'a');
  Decoded d = DecodeText(EncodeFile(f));
  EXPECT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.file.name, f.name);
  // A longer name is cut to 63 bytes; its length byte never wraps.
  f.name = std::string(64, 'b');
  d = DecodeText(EncodeFile(f));
  EXPECT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.file.name, std::string(63, 'b'));
  f.name = std::string(256 + 5, 'c');
  d = DecodeText(EncodeFile(f));
  EXPECT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.file.name, std::string(63, 'c'));
}

// Name lengths the format does not hold: 0 (what the encoder writes for an
// empty name) and 64 and over.
TEST(BinHex, NameLengthsOutsideTheFormat) {
  MacFile f;
  Decoded d = DecodeText(EncodeFile(f));
  EXPECT_EQ(d.hr, E_MIME_BINHEX_MALFORMED);
  for (int n : {64, 200, 255}) {
    std::vector<BYTE> raw(1, static_cast<BYTE>(n));
    raw.insert(raw.end(), static_cast<size_t>(n) + 30, 'z');
    d = DecodeText(std::string(kPreamble) + "\r\n" + EncodeRaw(raw) + ":\r\n");
    EXPECT_EQ(d.hr, E_MIME_BINHEX_MALFORMED) << n;
  }
}

TEST(BinHex, TypeCreatorAndForksWithoutStreams) {
  IStream* out = MemoryStream("");
  IStream* data = MemoryStream("abc");
  // A null resource stream with a length writes an empty fork.
  ASSERT_EQ(EncodeBinHex40(out, "f", 0, "TEXTLONG", nullptr, 0x4100, data, 3, nullptr, 1000), S_OK);
  Decoded d = DecodeText(StreamBytes(out));
  EXPECT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.file.type, "TEXT");
  EXPECT_EQ(d.file.creator, "");
  EXPECT_EQ(d.file.flags, 0x4100);
  EXPECT_EQ(d.file.data, "abc");
  EXPECT_EQ(d.file.rsrc, "");
  // A negative length is an empty fork.
  out->Release();
  out = MemoryStream("");
  ASSERT_EQ(EncodeBinHex40(out, "f", 0, "", "", 0, data, -5, nullptr, 0), S_OK);
  d = DecodeText(StreamBytes(out));
  EXPECT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.file.data, "");
  out->Release();
  data->Release();
}

// A fork stream that delivers fewer bytes than its length fails the
// encoding instead of writing undefined bytes.
TEST(BinHex, ForkShorterThanItsLength) {
  IStream* out = MemoryStream("");
  CTestStream data("abc");
  data.maxChunk = 1;
  EXPECT_EQ(EncodeBinHex40(out, "f", 0, "TEXT", "ttxt", 0, &data, 10, nullptr, 0), E_FAIL);
  CTestStream rsrc("xyz");
  CTestStream data2(std::string(10, 'd'));
  EXPECT_EQ(EncodeBinHex40(out, "f", 0, "TEXT", "ttxt", 0, &data2, 10, &rsrc, 4), E_FAIL);
  CTestStream failing(std::string(100, 'd'));
  failing.failReadAt = 50;
  EXPECT_EQ(EncodeBinHex40(out, "f", 0, "TEXT", "ttxt", 0, &failing, 100, nullptr, 0), E_FAIL);
  failing.pos = 0;
  failing.failure = static_cast<HRESULT>(0x80000009u);
  EXPECT_EQ(EncodeBinHex40(out, "f", 0, "TEXT", "ttxt", 0, &failing, 100, nullptr, 0),
            static_cast<HRESULT>(0x80000009u));
  EXPECT_EQ(EncodeBinHex40(nullptr, "f", 0, "TEXT", "ttxt", 0, nullptr, 0, nullptr, 0), E_POINTER);
  out->Release();
  // A failing write is thrown as its code.
  CTestStream full;
  full.failWrite = static_cast<HRESULT>(0x80000008u);
  try {
    HRESULT hr = EncodeBinHex40(&full, "f", 0, "TEXT", "ttxt", 0, nullptr, 0, nullptr, 0);
    ADD_FAILURE() << "no throw, result 0x" << std::hex << static_cast<DWORD>(hr);
  } catch (DWORD code) {
    EXPECT_EQ(code, 0x80000008u);
  }
}

MacFile Sample() {
  MacFile f;
  f.name = "sample";
  f.type = "APPL";
  f.creator = "MACS";
  f.data = "The data fork of the sample file, long enough for a few lines of text. "
           "More and more characters follow so that there are several lines.";
  f.rsrc = "rsrc";
  return f;
}

TEST(BinHex, BlanksBetweenTheColonsAreIgnored) {
  std::string text = EncodeFile(Sample());
  size_t open = text.find(':');
  std::string spaced = text.substr(0, open + 1);
  std::mt19937 rng(5);
  static const char kBlanks[] = {' ', '\t', '\r', '\n', '\0'};
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (rng() % 3 == 0) spaced += kBlanks[rng() % 5];
    spaced += text[i];
  }
  Decoded d = DecodeText(spaced);
  EXPECT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.file.data, Sample().data);
}

TEST(BinHex, DamagedBlocks) {
  const std::string text = EncodeFile(Sample());
  const size_t open = text.find(':');
  // Every character of the body changed in turn to another alphabet
  // character: a CRC error or a malformed block, or, where only the unused
  // low bits of the last group change, the same file.
  const char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
  int crc = 0, malformed = 0;
  for (size_t i = open + 1; i + 3 < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') continue;
    std::string bad = text;
    const char* at = strchr(kAlphabet, text[i]);
    ASSERT_NE(at, nullptr);
    bad[i] = kAlphabet[(at - kAlphabet + 1) % 64];
    Decoded d = DecodeText(bad);
    if (d.hr == E_MIME_BINHEX_CRC) {
      ++crc;
    } else if (d.hr == S_OK) {
      EXPECT_EQ(d.file.data, Sample().data) << i;
      EXPECT_EQ(d.file.rsrc, Sample().rsrc) << i;
      EXPECT_GT(i, text.size() - 7) << i;
    } else {
      ASSERT_EQ(d.hr, E_MIME_BINHEX_MALFORMED) << i;
      ++malformed;
    }
  }
  EXPECT_GT(crc, 0);
  // A character outside the alphabet, a cut block, a bad run marker.
  std::string bad = text;
  bad[open + 10] = '7';
  EXPECT_EQ(DecodeText(bad).hr, E_MIME_BINHEX_MALFORMED);
  // A cut block ends early. Cut inside a group of four characters, the
  // group's last byte comes out partial, which a CRC check may catch first.
  for (size_t cut = open + 1; cut < text.size() - 3; ++cut) {
    size_t kept = 0;  // characters before the cut
    for (size_t i = open + 1; i < cut; ++i) kept += text[i] != '\r' && text[i] != '\n';
    for (const std::string& end : {std::string(), std::string(":\r\n")}) {
      Decoded d = DecodeText(text.substr(0, cut) + end);
      if (d.hr == S_OK) {
        // Only the zero bits at the very end were cut.
        EXPECT_EQ(d.file.rsrc, Sample().rsrc) << cut;
        EXPECT_NE(kept % 4, 0u) << cut;
        continue;
      }
      EXPECT_TRUE(d.hr == E_MIME_BINHEX_MALFORMED || (d.hr == E_MIME_BINHEX_CRC && kept % 4 != 0))
          << cut << " " << d.hr;
    }
  }
  // Run-length markers followed by 1 or by nothing, or before any byte.
  for (std::vector<BYTE> raw : {std::vector<BYTE>{1, 'a', 'a', 0x90, 1}, std::vector<BYTE>{0x90, 3},
                                std::vector<BYTE>{1, 'a', 'a', 0x90}}) {
    EXPECT_EQ(DecodeText(std::string(kPreamble) + "\r\n:" + SixBits(raw) + ":\r\n").hr, E_MIME_BINHEX_MALFORMED);
  }
}

// Announced lengths far beyond the data end the decoding at the data's end
// with a bounded buffer.
TEST(BinHex, HugeAnnouncedLengths) {
  std::vector<BYTE> raw = {1, 'n', 0, 'T', 'E', 'X', 'T', 't', 't', 'x', 't', 0, 0,
                           0xFF, 0xFF, 0xFF, 0xF0, 0x7F, 0xFF, 0xFF, 0xFF};
  // The header CRC, as the encoder computes it: XMODEM.
  WORD crc = 0;
  for (BYTE b : raw) {
    crc ^= static_cast<WORD>(b << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<WORD>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  raw.push_back(static_cast<BYTE>(crc >> 8));
  raw.push_back(static_cast<BYTE>(crc));
  raw.insert(raw.end(), 100, 'd');
  Decoded d = DecodeText(std::string(kPreamble) + "\r\n" + EncodeRaw(raw) + ":\r\n");
  EXPECT_EQ(d.hr, E_MIME_BINHEX_MALFORMED);
  EXPECT_EQ(d.file.name, "n");
}

TEST(BinHex, PreambleSearch) {
  const std::string text = EncodeFile(Sample());
  const std::string body = text.substr(strlen(kPreamble));
  for (const char* preamble : {"(THIS FILE MUST BE CONVERTED WITH BINHEX 4.0)",
                               "(this file must be converted with binhex 5.0)",
                               "(This file must be converted with BinHex 4.0)"}) {
    Decoded d = DecodeText(std::string("junk ") + preamble + body);
    EXPECT_EQ(d.hr, S_OK) << preamble;
    EXPECT_EQ(d.file.data, Sample().data);
  }
  // macutils' own preamble line is not the standard one.
  EXPECT_EQ(FindBinHex40Preambule(reinterpret_cast<const unsigned char*>("(This file must be converted; you knew that already.)"), 54, nullptr),
            static_cast<DWORD>(-1));
  // The buffer form and the stream form.
  const std::string s = "xx" + text;
  ULONG len = 0;
  EXPECT_EQ(FindBinHex40Preambule(reinterpret_cast<const unsigned char*>(s.data()), static_cast<ULONG>(s.size()), &len), 2u);
  EXPECT_EQ(len, 41u);
  IStream* in = MemoryStream(s);
  LARGE_INTEGER one;
  one.QuadPart = 1;
  in->Seek(one, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(FindBinHex40Preambule(in, static_cast<ULONG>(s.size() - 1), &len), 2u);
  // An empty range finds nothing, and neither does a range that ends inside.
  EXPECT_EQ(FindBinHex40Preambule(reinterpret_cast<const unsigned char*>(s.data()), 0, &len), static_cast<DWORD>(-1));
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(FindBinHex40Preambule(reinterpret_cast<const unsigned char*>(s.data()), 42, &len), static_cast<DWORD>(-1));
  in->Release();
  // A preamble that ends at the end of the range leaves nothing to decode.
  EXPECT_EQ(DecodeText(s, 2 + 41).hr, E_MIME_BINHEX_MALFORMED);
  EXPECT_EQ(DecodeText(s, 2 + 45).hr, E_MIME_BINHEX_MALFORMED);
}

TEST(BinHex, TextWithoutAPreambleIsCopied) {
  Decoded d = DecodeText("just text, no block");
  EXPECT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.file.data, "just text, no block");
  EXPECT_EQ(d.file.name, "");
  EXPECT_EQ(d.file.type, "");
  EXPECT_EQ(d.file.flags, 0);
  d = DecodeText("just text, no block", 4);
  EXPECT_EQ(d.file.data, "just");
  unsigned char version = 1;
  unsigned short flags = 1;
  char name[64], type[4], creator[4];
  EXPECT_EQ(DecodeBinHex40(nullptr, nullptr, nullptr, 10, name, version, type, creator, flags), E_POINTER);
}

TEST(BinHex, VerifyMeasuresTheBlock) {
  const std::string block = EncodeFile(Sample());  // ends with ":\r\n"
  const std::string after = "Text after the block.\r\n";
  const std::string text = block + after;
  CStreamReader reader(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ULONG>(text.size()));
  ULONG length = 0;
  ASSERT_TRUE(VerifyBinHex40(reader, length));
  EXPECT_EQ(length, block.size() - 2);  // up to and including the closing colon
  // Through a stream reader, from a later position.
  IStream* in = MemoryStream("abc" + text);
  LARGE_INTEGER at;
  at.QuadPart = 3;
  in->Seek(at, STREAM_SEEK_SET, nullptr);
  CStreamReader streamReader(in, 0xFFFFFFFFu);
  length = 0;
  ASSERT_TRUE(VerifyBinHex40(streamReader, length));
  EXPECT_EQ(length, block.size() - 2);
  in->Release();
  // Blanks before the closing colon count.
  std::string spaced = block.substr(0, block.size() - 3) + "\r\n \t:" + after;
  CStreamReader r2(reinterpret_cast<const unsigned char*>(spaced.data()), static_cast<ULONG>(spaced.size()));
  ASSERT_TRUE(VerifyBinHex40(r2, length));
  EXPECT_EQ(length, block.size() - 3 + 5);
  // A damaged block is no block.
  std::string bad = text;
  bad[block.find(':') + 20] ^= 1;
  CStreamReader r3(reinterpret_cast<const unsigned char*>(bad.data()), static_cast<ULONG>(bad.size()));
  length = 7;
  EXPECT_FALSE(VerifyBinHex40(r3, length));
  EXPECT_EQ(length, 0u);
  CStreamReader r4(reinterpret_cast<const unsigned char*>("no colon"), 8);
  EXPECT_FALSE(VerifyBinHex40(r4, length));
}

// When the last group of characters is short the decoder takes the colon;
// the block still ends right after it and the next text keeps its first
// character.
TEST(BinHex, VerifyWithAShortLastGroup) {
  bool seen = false;
  for (size_t n = 0; n < 6; ++n) {
    MacFile f = Sample();
    f.data += std::string(n, '.');
    const std::string block = EncodeFile(f);
    const std::string text = block + "Next";
    CStreamReader reader(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ULONG>(text.size()));
    ULONG length = 0;
    ASSERT_TRUE(VerifyBinHex40(reader, length));
    const size_t characters = block.size() - 3 - block.find(':') - 1;
    if (characters % 4 != 0) seen = true;
    EXPECT_EQ(length, block.size() - 2) << n;
  }
  EXPECT_TRUE(seen);
}

// macutils -> engine: binhex's text of the committed fixture decodes to the
// committed forks. macutils writes its own preamble line, which the
// preamble search does not take for BinHex 4.0, so the block is decoded
// from its opening colon, and again behind the standard preamble.
TEST(BinHexMacutils, DecodesTheFixtureMadeByBinhex) {
  const std::string hqx = telsor_test::ReadFileBytes(FixturePath("macutils.hqx"));
  const std::string data = telsor_test::ReadFileBytes(FixturePath("fixture.data"));
  const std::string rsrc = telsor_test::ReadFileBytes(FixturePath("fixture.rsrc"));
  ASSERT_FALSE(hqx.empty());
  ASSERT_EQ(data.size(), 588u);
  ASSERT_EQ(rsrc.size(), 66u);

  const size_t colon = hqx.find(':');
  IStream* in = MemoryStream(hqx.substr(colon + 1));
  IStream* dataOut = MemoryStream("");
  IStream* rsrcOut = MemoryStream("");
  char name[64], type[4], creator[4];
  unsigned char version = 9;
  unsigned short flags = 9;
  {
    CBinHexDecodeCtxt ctx(in, 0xFFFFFFFFu);
    ASSERT_EQ(DecodeBinHex40Body(dataOut, rsrcOut, ctx, 0, name, version, type, creator, flags), S_OK);
  }
  EXPECT_STREQ(name, "Fixture File");
  EXPECT_EQ(std::string(type, 4), "TEXT");
  EXPECT_EQ(std::string(creator, 4), "ttxt");
  EXPECT_EQ(version, 0);
  EXPECT_EQ(StreamBytes(dataOut), data);
  EXPECT_EQ(StreamBytes(rsrcOut), rsrc);
  in->Release();
  dataOut->Release();
  rsrcOut->Release();

  Decoded d = DecodeText(std::string(kPreamble) + hqx.substr(hqx.find('\n')));
  EXPECT_EQ(d.hr, S_OK);
  EXPECT_EQ(d.file.name, "Fixture File");
  EXPECT_EQ(d.file.data, data);
  EXPECT_EQ(d.file.rsrc, rsrc);
}

bool HaveTool(const char* tool) {
  std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return system(command.c_str()) == 0;
}

// engine -> macutils: hexbin turns the engine's text of the fixture back
// into the same forks, name, type and creator.
TEST(BinHexMacutils, HexbinReadsTheEnginesText) {
  if (!HaveTool("hexbin")) GTEST_SKIP() << "macutils' hexbin is not installed (tools/install-deps.sh)";
  MacFile f;
  f.name = "Fixture File";
  f.type = "TEXT";
  f.creator = "ttxt";
  f.data = telsor_test::ReadFileBytes(FixturePath("fixture.data"));
  f.rsrc = telsor_test::ReadFileBytes(FixturePath("fixture.rsrc"));
  ASSERT_FALSE(f.data.empty());
  telsor_test::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  telsor_test::WriteFileBytes(dir / "engine.hqx", EncodeFile(f));
  std::string command = "cd '" + dir.path() + "' && hexbin -3 engine.hqx >/dev/null 2>&1";
  ASSERT_EQ(system(command.c_str()), 0);
  // hexbin names its files after the Macintosh name, blanks as "_".
  EXPECT_EQ(telsor_test::ReadFileBytes(dir / "Fixture_File.data"), f.data);
  EXPECT_EQ(telsor_test::ReadFileBytes(dir / "Fixture_File.rsrc"), f.rsrc);
  const std::string info = telsor_test::ReadFileBytes(dir / "Fixture_File.info");
  ASSERT_EQ(info.size(), 128u);  // a MacBinary header
  EXPECT_EQ(info[1], 12);
  EXPECT_EQ(info.substr(2, 12), "Fixture File");
  EXPECT_EQ(info.substr(65, 8), "TEXTttxt");
}

// Both ways with random forks when the tools are there: binhex's text of a
// MacBinary file decodes to its forks, and hexbin reads ours.
TEST(BinHexMacutils, RandomFilesBothWays) {
  if (!HaveTool("hexbin") || !HaveTool("binhex")) GTEST_SKIP() << "macutils is not installed";
  std::mt19937 rng(99);
  for (int round = 0; round < 4; ++round) {
    MacFile f;
    f.name = "random" + std::to_string(round);
    f.type = "BINA";
    f.creator = "CWIE";
    f.data = codec_test::RandomBytes(rng, 1 + rng() % 3000, round % 2 == 0);
    f.data += std::string(rng() % 400, static_cast<char>(0x90));
    f.rsrc = codec_test::RandomBytes(rng, rng() % 700, false);
    telsor_test::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    // A MacBinary file for binhex: the header, then each fork padded to 128.
    std::string mb(128, '\0');
    mb[1] = static_cast<char>(f.name.size());
    mb.replace(2, f.name.size(), f.name);
    mb.replace(65, 8, f.type + f.creator);
    for (int i = 0; i < 4; ++i) {
      mb[83 + i] = static_cast<char>(f.data.size() >> (24 - 8 * i));
      mb[87 + i] = static_cast<char>(f.rsrc.size() >> (24 - 8 * i));
    }
    auto pad = [](std::string s) { return s + std::string((128 - s.size() % 128) % 128, '\0'); };
    telsor_test::WriteFileBytes(dir / "in.bin", mb + pad(f.data) + pad(f.rsrc));
    std::string command = "cd '" + dir.path() + "' && binhex in.bin > theirs.hqx 2>/dev/null";
    ASSERT_EQ(system(command.c_str()), 0);
    const std::string theirs = telsor_test::ReadFileBytes(dir / "theirs.hqx");
    Decoded d = DecodeText(std::string(kPreamble) + theirs.substr(theirs.find('\n')));
    ASSERT_EQ(d.hr, S_OK) << round;
    EXPECT_EQ(d.file.name, f.name);
    EXPECT_EQ(d.file.type, f.type);
    EXPECT_EQ(d.file.creator, f.creator);
    EXPECT_EQ(d.file.data, f.data);
    EXPECT_EQ(d.file.rsrc, f.rsrc);

    telsor_test::WriteFileBytes(dir / "ours.hqx", EncodeFile(f));
    command = "cd '" + dir.path() + "' && hexbin -3 ours.hqx >/dev/null 2>&1";
    ASSERT_EQ(system(command.c_str()), 0);
    EXPECT_EQ(telsor_test::ReadFileBytes(dir / (f.name + ".data")), f.data);
    EXPECT_EQ(telsor_test::ReadFileBytes(dir / (f.name + ".rsrc")), f.rsrc);
  }
}

}  // namespace
