// Transfer-encoding names, the stream decoder and the stream encoder: case
// tables, round trips of random data across every chunk size the codecs
// use, short-reading sources, and failing streams.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codectestutil.h"
#include "mime/transferencoding.h"
#include "mimetestutil.h"

using namespace telsor;
using codec_test::Decode;
using codec_test::Encode;
using mime_test::Show;

namespace {

const tag_CONTENT_ENCODING B64 = CONTENT_ENCODING_BASE64;
const tag_CONTENT_ENCODING QP = CONTENT_ENCODING_QUOTED_PRINTABLE;
const tag_CONTENT_ENCODING UU = CONTENT_ENCODING_UUENCODE;

TEST(TransferEncoding, NamesToValues) {
  struct {
    const char* name;
    tag_CONTENT_ENCODING value;
  } rows[] = {
      {nullptr, CONTENT_ENCODING_7BIT},
      {"", CONTENT_ENCODING_7BIT},
      {"7bit", CONTENT_ENCODING_7BIT},
      {"7bitx", CONTENT_ENCODING_7BIT},  // only the start counts
      {"8BIT", CONTENT_ENCODING_8BIT},
      {"binary", CONTENT_ENCODING_BINARY},
      {"quoted-printable;", QP},
      {"Quoted-Printable", QP},
      {"BASE64", B64},
      {"base64; x", B64},
      {"x-uuencode", UU},
      {"UUencode", UU},
      {"binhex40", CONTENT_ENCODING_BINHEX},
      {"7 bit", CONTENT_ENCODING_UNKNOWN},
      {" base64", CONTENT_ENCODING_UNKNOWN},  // leading blanks are not skipped
      {"base6", CONTENT_ENCODING_UNKNOWN},    // shorter than the name
      {"x-gzip", CONTENT_ENCODING_UNKNOWN},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(GetEncodingType(row.name), row.value) << (row.name ? row.name : "(null)");
  }
}

TEST(TransferEncoding, ValuesToNames) {
  EXPECT_STREQ(GetEncodingTypeAsString(CONTENT_ENCODING_UUENCODE), "uuencode");
  EXPECT_STREQ(GetEncodingTypeAsString(CONTENT_ENCODING_BINHEX), "BinHex");
  EXPECT_STREQ(GetEncodingTypeAsString(QP), "quoted-printable");
  EXPECT_STREQ(GetEncodingTypeAsString(CONTENT_ENCODING_UNKNOWN), "");
  EXPECT_STREQ(GetEncodingTypeAsString(static_cast<tag_CONTENT_ENCODING>(9)), "");
  EXPECT_STREQ(GetEncodingTypeAsString(static_cast<tag_CONTENT_ENCODING>(-1)), "");
  // Every name maps back to its value.
  for (int v = 1; v <= 7; ++v) {
    auto e = static_cast<tag_CONTENT_ENCODING>(v);
    EXPECT_EQ(GetEncodingType(GetEncodingTypeAsString(e)), e) << v;
  }
}

struct Row {
  std::string in, out;
};

void ExpectDecodes(tag_CONTENT_ENCODING e, const std::vector<Row>& rows) {
  for (const auto& row : rows) {
    auto r = Decode(row.in, e);
    EXPECT_EQ(r.hr, S_OK) << Show(row.in);
    EXPECT_EQ(r.out, row.out) << Show(row.in);
    // Read one byte at a time: the same bytes come out.
    auto slow = Decode(row.in, e, codec_test::kAll, 1);
    EXPECT_EQ(slow.out, row.out) << "short reads: " << Show(row.in);
  }
}

TEST(StreamDecoder, Base64Table) {
  ExpectDecodes(B64, {
                         {"QUJD", "ABC"},
                         {"QUI=", "AB"},
                         {"QQ==", "A"},
                         {"QUJD\r\nREVG", "ABCDEF"},
                         {"=QUJD", "ABC"},      // an "=" before any data is ignored
                         {"QUJD=REVG", "ABC"},  // the first "=" after data ends it
                         {"QU=JD", "A"},
                         {"Q!U#J*D", "ABC"},    // invalid bytes are skipped
                         {"\x80QU\xffJD\x0c", "ABC"},
                         {"Q", ""},             // a lone sextet gives nothing
                         {"QU", "A"},
                         {"QUJ", "AB"},
                         {" Q U J D ", "ABC"},
                         {"", ""},
                         {"////", "\xff\xff\xff"},
                     });
}

TEST(StreamDecoder, QuotedPrintableTable) {
  ExpectDecodes(QP, {
                        {"a=3Db", "a=b"},
                        {"a=3db", "a=b"},
                        {"abc   \r\nx", "abc\r\nx"},  // trailing white space dropped
                        {"abc \t\nx", "abc\nx"},
                        {"ab=\r\ncd", "abcd"},        // soft break
                        {"ab=  \r\ncd", "abcd"},      // soft break with white space
                        {"ab=\ncd", "abcd"},
                        {"a=G1", "a=G1"},             // no escape: text
                        {"x=4", "x=4"},
                        {"x=", "x"},
                        {"x==41", "x==41"},
                        {"=4\r\n", "=4\r\n"},
                        {"..a", ".a"},                // a stuffed dot at a line start
                        {"x\r\n..a", "x\r\n.a"},
                        {"x\n...", "x\n.."},
                        {".\r\n", ".\r\n"},
                        {"x\r\n.", "x\r\n"},          // a lone final dot is dropped
                        {"a.b..c", "a.b..c"},         // dots in mid-line are text
                        {"trailing  ", "trailing"},
                        {"a =\r\nb", "a b"},
                        {"a \x80=20\r\n", "a \x80 \r\n"},
                        {"\t\tx", "\t\tx"},
                        {"=E9t=E9", "\xe9t\xe9"},
                        {"", ""},
                    });
}

// A decoded "=XX" leaves the decoder in mid-line, and a soft break with a
// bare LF (or a lone CR) is followed by an ordinary line: an escape or a
// stuffed dot after it decodes as on any other line.
TEST(StreamDecoder, QuotedPrintableSoftBreaksAndEscapesKeepTheirLine) {
  ExpectDecodes(QP, {
                        {"=41..", "A.."},
                        {"=41.\r\n", "A.\r\n"},
                        {"ab=\n=41", "abA"},
                        {"ab=\r=41", "abA"},       // "=" and a lone CR
                        {"ab=\n=\ncd", "abcd"},
                        {"ab=\n..x", "ab.x"},
                        {"ab=\n \r\nx", "ab\r\nx"},
                        {"ab=\r\r\nx", "ab\r\nx"},
                    });
}

std::string UuLines(const std::string& body) { return "begin 644 f\r\n" + body + "`\r\nend\r\n"; }

TEST(StreamDecoder, UuencodeTable) {
  ExpectDecodes(UU, {
                        {"#86)C\r\n", "abc"},
                        {"#86)C", "abc"},
                        {UuLines("#86)C\r\n"), "abc"},  // the begin line is skipped
                        {"!80``\r\n", "a"},
                        {"\"86(`\r\n", "ab"},
                        {"#86)CXYZ junk\r\n", "abc"},     // the rest of a line is ignored
                        {"#86)C\n# 6)C\n", "abc"},        // a blank where a group begins
                        {" #86)C\r\n", ""},               // a blank length character
                        {"#86)C\r\nend\r\n!80``\r\n", "abc"},   // "end" stops
                        {"#86)C\r\nend  \t\n!80``\r\n", "abc"},
                        {"#86)C\r\nended\r\n!80``\r\n", "abca"},  // not an end line
                        {"#86)C\r\nend", "abc"},
                        {"end\r\n#86)C\r\n", "abc"},      // first, "end" is a broken line
                        {"#86)\r\nend\r\n", "ab"},        // a broken line before "end" counts
                        {"#86)\r\n!80``\r\n", "a"},       // and is dropped before a new line
                        {"#86)\r\n", "ab"},               // and counts at the end of the data
                        {"#86", "a"},
                        {"-----BEGIN PGP SIGNED MESSAGE-----\r\n#86)C\r\n", "abc"},
                        {"-----BegiN pGP sIGned message\r\n", ""},  // letter case aside
                        {std::string("#86)C\r\n\0\0\r\n", 11), "abc"},  // NUL reads as a blank
                        {"`\r\n", ""},
                        {"", ""},
                    });
}

// The 13 bytes of a line that starts like a signature line are written
// after all when the rest differs.
TEST(StreamDecoder, UuencodeSignatureLookalike) {
  auto plain = Decode("-----BEGIN PGP SIGNXYZ\r\n", UU);
  auto expected = Decode("-----BEGIN PGP SIGN\r\n", UU);
  EXPECT_EQ(plain.out.size(), 13u);
  EXPECT_EQ(plain.out, expected.out);
}

// A length character up to 0xFF announces up to 223 bytes; such a line is
// decoded in full (the sanitizer build checks the line buffers).
TEST(StreamDecoder, UuencodeLongestLines) {
  for (int len = 0x21; len <= 0xFF; ++len) {
    if (len == 0x60) continue;
    const size_t n = static_cast<size_t>(len - 0x20);
    const size_t chars = 4 * (n / 3) + (n % 3 == 1 ? 2 : n % 3 == 2 ? 3 : 0);
    std::string line(1, static_cast<char>(len));
    line += std::string(chars, '!');  // every character 1: bytes 0x04 0x10 0x41 ...
    auto r = Decode(line + "\r\n", UU);
    ASSERT_EQ(r.out.size(), n) << len;
    EXPECT_EQ(static_cast<unsigned char>(r.out[0]), 0x04);
  }
}

TEST(StreamDecoder, CopiedEncodings) {
  IStream* src = codec_test::MemoryStream("abcdef");
  IStream* dst = codec_test::MemoryStream("");
  EXPECT_EQ(DecodeStream(dst, src, CONTENT_ENCODING_8BIT, 0), S_OK);
  EXPECT_EQ(codec_test::StreamBytes(dst), "");
  src->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(DecodeStream(dst, src, CONTENT_ENCODING_BINHEX, 4), S_OK);
  EXPECT_EQ(codec_test::StreamBytes(dst), "abcd");
  EXPECT_EQ(DecodeStream(dst, nullptr, CONTENT_ENCODING_BINARY, 4), S_OK);
  src->Release();
  dst->Release();
}

TEST(StreamDecoder, CountLimitsTheInput) {
  EXPECT_EQ(Decode("QUJDREVG", B64, 4).out, "ABC");
  EXPECT_EQ(Decode("QUJDREVG", B64, 6).out, "ABCD");
  EXPECT_EQ(Decode("a=3Db", QP, 2).out, "a");  // "=" at the end of the count
  EXPECT_EQ(Decode("QUJD", B64, 100).out, "ABC");  // a count past the data
}

TEST(StreamDecoder, Failures) {
  CTestStream src("QUJD");
  EXPECT_EQ(DecodeStream(nullptr, &src, B64, 4), E_POINTER);
  EXPECT_EQ(src.pos, 0u);  // nothing read

  // A failing read returns its code; what was decoded before stays written.
  std::string big(5000, 'A');
  for (auto e : {B64, QP, UU}) {
    CTestStream in(big), out;
    in.failReadAt = 2000;
    in.failure = static_cast<HRESULT>(0x80000009u);
    EXPECT_EQ(DecodeStream(&out, &in, e, big.size()), static_cast<HRESULT>(0x80000009u)) << e;
  }
  {
    CTestStream in(big), out;
    in.maxChunk = 1024;
    in.failReadAt = 3000;
    EXPECT_EQ(DecodeStream(&out, &in, B64, big.size()), E_FAIL);
    EXPECT_EQ(out.str().size(), 3u * 2048 / 4);
  }
  // A failing write returns its code.
  for (auto e : {B64, QP, UU}) {
    CTestStream in(e == UU ? std::string("#86)C\r\n") : std::string("QUJD")), out;
    out.failWrite = static_cast<HRESULT>(0x80000002u);
    EXPECT_EQ(DecodeStream(&out, &in, e, 100), E_OUTOFMEMORY) << e;
  }
  // No source is empty data.
  CTestStream out;
  EXPECT_EQ(DecodeStream(&out, nullptr, B64, 100), S_OK);
  EXPECT_EQ(out.str(), "");
}

TEST(StreamEncoder, Base64Table) {
  EXPECT_EQ(Encode("ABC", B64).out, "QUJD\r\n");
  EXPECT_EQ(Encode("AB", B64).out, "QUI=\r\n");
  EXPECT_EQ(Encode("A", B64).out, "QQ==\r\n");
  EXPECT_EQ(Encode("", B64).out, "");
  // 54 bytes: one line of 72 characters and one CR LF.
  auto one = Encode(std::string(54, 'x'), B64).out;
  EXPECT_EQ(one.size(), 74u);
  EXPECT_EQ(one.substr(72), "\r\n");
  EXPECT_EQ(one.find('\r'), 72u);
  auto two = Encode(std::string(55, 'x'), B64).out;
  EXPECT_EQ(two.substr(72, 2), "\r\n");
  EXPECT_EQ(two.substr(74), "eA==\r\n");
}

TEST(StreamEncoder, QuotedPrintableTable) {
  struct {
    std::string in, out;
  } rows[] = {
      {"a=b", "a=3Db"},
      {"x \r\ny", "x=20\r\ny"},
      {"x\t\r\ny", "x=09\r\ny"},
      {"x ", "x=20"},
      {"x y", "x y"},
      {".x\r\n.y", "=2Ex\r\n=2Ey"},
      {"a.b", "a.b"},
      {"\n", "=0A"},
      {"\r", "=0D"},
      {"a\rb\nc", "a=0Db=0Ac"},
      {"\xe9", "=E9"},
      {std::string("\0\x7f", 2), "=00=7F"},
      {"\r\n\r\n", "\r\n\r\n"},
      {std::string(100, 'a'), std::string(73, 'a') + "=\r\n" + std::string(27, 'a')},
      {std::string(73, 'a') + "\r\nb", std::string(73, 'a') + "\r\nb"},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(Encode(row.in, QP).out, row.out) << Show(row.in);
  // Escapes at the line limit: no line is longer than 76 characters.
  std::string out = Encode(std::string(300, '\xe9'), QP).out;
  size_t start = 0;
  for (size_t at; (at = out.find("\r\n", start)) != std::string::npos; start = at + 2) {
    EXPECT_LE(at - start, 76u);
    EXPECT_EQ(out[at - 1], '=');
  }
}

TEST(StreamEncoder, UuencodeTable) {
  EXPECT_EQ(Encode("abc", UU).out, "#86)C\r\n`\r\n");
  EXPECT_EQ(Encode("a", UU).out, "!80``\r\n`\r\n");
  EXPECT_EQ(Encode("ab", UU).out, "\"86(`\r\n`\r\n");
  EXPECT_EQ(Encode("", UU).out, "`\r\n");
  std::string out = Encode(std::string(46, '\0'), UU).out;
  EXPECT_EQ(out, "M" + std::string(60, '`') + "\r\n!````\r\n`\r\n");
  CTestStream dst;
  EXPECT_EQ(EncodeStream(&dst, nullptr, UU, 100), S_OK);
  EXPECT_EQ(dst.str(), "`\r\n");
}

TEST(StreamEncoder, SourceShorterThanCount) {
  EXPECT_EQ(Encode("ABC", B64, 1000).out, "QUJD\r\n");
  EXPECT_EQ(Encode("a b", QP, 1000).out, "a b");
  EXPECT_EQ(Encode("abc", UU, 1000).out, "#86)C\r\n`\r\n");
  EXPECT_EQ(Encode("ABCDEF", B64, 3).out, "QUJD\r\n");
}

TEST(StreamEncoder, Failures) {
  CTestStream src("abc");
  for (auto e : {B64, QP, UU, CONTENT_ENCODING_7BIT}) EXPECT_EQ(EncodeStream(nullptr, &src, e, 3), E_POINTER);
  for (auto e : {B64, QP, UU}) {
    CTestStream in(std::string(10000, 'a')), out;
    in.failReadAt = 5000;
    EXPECT_EQ(EncodeStream(&out, &in, e, 10000), E_FAIL) << e;
    CTestStream in2(std::string(10000, 'a')), out2;
    out2.failWrite = static_cast<HRESULT>(0x80000009u);
    EXPECT_EQ(EncodeStream(&out2, &in2, e, 10000), static_cast<HRESULT>(0x80000009u)) << e;
  }
}

// Random data of every size around the codecs' chunk sizes, in one read
// and in short reads, encodes and decodes back to itself; the encoded
// lines keep their limits.
TEST(TransferCodecs, RandomRoundTrips) {
  std::mt19937 rng(20261210);
  const size_t sizes[] = {0,    1,    2,    3,    53,   54,   55,    1023,  1024,  1025,  2159,
                          2160, 2161, 3599, 3600, 3601, 4094, 4095,  4096,  4097,  4098,  8192,
                          32767, 32768, 32769, 65537, 100003};
  const ULONG chunks[] = {0xFFFFFFFFu, 1000, 7, 1};
  for (size_t size : sizes) {
    for (bool textLike : {false, true}) {
      const std::string data = codec_test::RandomBytes(rng, size, textLike);
      for (ULONG chunk : chunks) {
        if (chunk == 1 && size > 10000) continue;  // keeps the test quick
        for (auto e : {B64, QP, UU}) {
          auto enc = Encode(data, e, codec_test::kAll, chunk);
          ASSERT_EQ(enc.hr, S_OK);
          if (chunk != 0xFFFFFFFFu) {
            ASSERT_EQ(enc.out, Encode(data, e).out);
          }
          auto dec = Decode(enc.out, e, codec_test::kAll, chunk);
          ASSERT_EQ(dec.hr, S_OK);
          ASSERT_EQ(dec.out, data) << "encoding " << e << ", " << size << " bytes, reads of " << chunk;
          // Encoded lines: base64 72, quoted-printable at most 76, uuencode 61.
          const size_t limit = e == B64 ? 72 : e == QP ? 76 : 61;
          size_t start = 0;
          for (size_t at; (at = enc.out.find("\r\n", start)) != std::string::npos; start = at + 2) {
            ASSERT_LE(at - start, limit) << e;
            if (e == B64 && at + 2 < enc.out.size()) {
              ASSERT_EQ(at - start, 72u);
            }
          }
        }
      }
    }
  }
}

}  // namespace
