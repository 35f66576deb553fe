// Uuencoded files: the "begin" line read and written around the codec, and
// the block check that tells uuencoded files in text, in its memory and
// stream forms.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codectestutil.h"
#include "foundation/streamreader.h"
#include "mime/uuencode.h"
#include "mimetestutil.h"

using namespace telsor;
using codec_test::MemoryStream;
using codec_test::StreamBytes;
using mime_test::Show;
using mime_test::Str;

namespace {

struct FileRun {
  HRESULT hr;
  std::string out, name;
  WORD mode;
};

// Decodes text from offset start, count bytes (all by default).
FileRun DecodeFile(const std::string& text, size_t start = 0, ULONGLONG count = ~0ull) {
  CTestStream in(text), out;
  in.pos = start;
  CUUencodedFile file;
  HRESULT hr = file.Decode(&out, &in, count == ~0ull ? text.size() - start : count);
  const TSTRING& name = file;
  return {hr, out.str(), Str(name), file.GetMode()};
}

TEST(UUencodedFile, DecodeTable) {
  struct {
    std::string in;
    HRESULT hr;
    std::string out, name;
    WORD mode;
  } rows[] = {
      {"begin 644 file.txt\r\n#86)C\r\n`\r\nend\r\n", S_OK, "abc", "file.txt", 0644},
      {"\r\n\r\n  begin 600 a\n#86)C\n", S_OK, "abc", "a", 0600},
      {"begin file.txt\r\n#86)C\r\n", S_OK, "abc", "file.txt", 0},
      {"begin\t755\t\tmy file.doc\r\n#86)C\r\n", S_OK, "abc", "my file.doc", 0755},
      {"begin 644 name. . \r\n#86)C\r\n", S_OK, "abc", "name", 0644},
      {"begin 644x.dat\r\n#86)C\r\n", S_OK, "abc", "x.dat", 0644},  // the mode ends at "x"
      {"begin 644\r\n#86)C\r\n", S_OK, "abc", "", 0644},
      {"begin\r\n#86)C\r\n", S_OK, "abc", "", 0},
      {std::string("begin 644 a\0b\r\n#86)C\r\n", 20), S_OK, "abc", "a b", 0644},  // NUL reads as a blank
      {"\r\n #86)C\r\n", S_OK, "abc", "", 0},      // no begin line: from the first non-blank
      {"bogus 644 x\r\n#86)C\r\n", ERROR_INVALID_DATA, "", "", 0},
      {"be", S_OK, "", "", 0},                      // the data ends in the keyword
      {"begin 644 name", S_OK, "", "", 0644},       // and in the name: all decoded as data
      {"", S_OK, "", "", 0},
  };
  for (const auto& row : rows) {
    FileRun r = DecodeFile(row.in);
    EXPECT_EQ(r.hr, row.hr) << Show(row.in);
    EXPECT_EQ(r.out, row.out) << Show(row.in);
    EXPECT_EQ(r.name, row.name) << Show(row.in);
    EXPECT_EQ(r.mode, row.mode) << Show(row.in);
  }
}

TEST(UUencodedFile, DecodeFromAPositionWithinACount) {
  const std::string block = "begin 644 f\r\n#86)C\r\n`\r\nend\r\n";
  const std::string text = "preamble text\r\n" + block + "#86)C\r\n";
  FileRun r = DecodeFile(text, 15, block.size());
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.out, "abc");
  EXPECT_EQ(r.name, "f");
  // Without the end line the count alone stops it.
  const std::string open = "begin 644 f\r\n#86)C\r\n";
  r = DecodeFile("xx" + open + "#86)C\r\n", 2, open.size());
  EXPECT_EQ(r.out, "abc");
}

TEST(UUencodedFile, EncodeWritesTheFraming) {
  CTestStream in("abc"), out;
  CUUencodedFile file;
  file.PutName(" my\tfile\r\n.txt ");
  EXPECT_EQ(file.Encode(&out, &in, 3), S_OK);
  EXPECT_EQ(out.str(), "begin 777 myfile.txt\r\n#86)C\r\n`\r\nend\r\n");
  EXPECT_EQ(Str(file.GetName()), "myfile.txt");  // the object keeps the stripped name

  CTestStream in2(""), out2;
  CUUencodedFile unnamed;
  EXPECT_EQ(unnamed.Encode(&out2, &in2, 0), S_OK);
  EXPECT_EQ(out2.str(), "begin 777 \r\n`\r\nend\r\n");
  EXPECT_EQ(unnamed.GetMode(), 0777);
}

TEST(UUencodedFile, RoundTrips) {
  std::mt19937 rng(11);
  for (size_t size : {0, 1, 44, 45, 46, 3599, 3600, 3601, 20000}) {
    const std::string data = codec_test::RandomBytes(rng, size, false);
    CTestStream in(data), out;
    CUUencodedFile file;
    file.PutName("data.bin");
    ASSERT_EQ(file.Encode(&out, &in, data.size()), S_OK);
    FileRun r = DecodeFile(out.str());
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.name, "data.bin");
    EXPECT_EQ(r.mode, 0777);
    ASSERT_EQ(r.out, data) << size;
  }
}

TEST(UUencodedFile, Failures) {
  CTestStream in("abc"), out;
  out.failWrite = static_cast<HRESULT>(0x80000009u);
  CUUencodedFile file;
  try {
    EXPECT_EQ(file.Encode(&out, &in, 3), S_OK);
    ADD_FAILURE() << "no throw";
  } catch (DWORD code) {
    EXPECT_EQ(code, 0x80000009u);
  }
  CTestStream failing(std::string(10000, 'M'));
  failing.failReadAt = 100;
  CTestStream sink;
  EXPECT_EQ(file.Decode(&sink, &failing, 10000), E_FAIL);
  CTestStream seekless("begin 644 f\r\n#86)C\r\n");
  seekless.seeksUntilFailure = 0;
  EXPECT_EQ(file.Decode(&sink, &seekless, 20), E_FAIL);
  EXPECT_EQ(file.Decode(nullptr, &seekless, 20), E_POINTER);
}

struct Verdict {
  BOOL accepted;
  ULONG length;
};

// Memory and stream forms of the check, which must agree.
Verdict Verify(const std::string& text, size_t start = 0) {
  CStreamReader memory(reinterpret_cast<const unsigned char*>(text.data()), static_cast<ULONG>(text.size()));
  memory.SetPos(static_cast<DWORD>(start));
  ULONG length = 12345;
  BOOL accepted = VerifyUUencode(memory, length);

  IStream* s = MemoryStream(text);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(start);
  s->Seek(at, STREAM_SEEK_SET, nullptr);
  CStreamReader stream(s, 0xFFFFFFFFu);
  ULONG streamLength = 12345;
  BOOL streamAccepted = VerifyUUencode(stream, streamLength);
  s->Release();
  EXPECT_EQ(accepted, streamAccepted) << Show(text);
  EXPECT_EQ(length, streamLength) << Show(text);
  return {accepted, length};
}

TEST(VerifyUUencode, Table) {
  const std::string line = "#86)C\r\n";
  struct {
    std::string text;
    BOOL accepted;
    size_t length;  // when accepted
  } rows[] = {
      // Mode, name, one good line, no end line: up to the line's breaks.
      {"begin 644 f.txt\r\n" + line + "text after", TRUE, 17 + 7},
      {"begin 644 f.txt\r\n" + line + "\r\n\r\ntext after", TRUE, 17 + 7 + 4},
      // A name without a mode needs the end line.
      {"begin f.txt\r\n" + line + "text", FALSE, 0},
      {"begin f.txt\r\n" + line + "end\r\ntext", TRUE, 13 + 7 + 5},
      {"begin f.txt\r\n" + line + "end \t\r\n\r\ntext", TRUE, 13 + 7 + 9},
      // A mode without a name, no name at all, a control character.
      {"begin 644\r\n" + line + "end\r\n", FALSE, 0},
      {"begin 644 \r\n" + line + "end\r\n", FALSE, 0},
      {"begin\r\n" + line + "end\r\n", FALSE, 0},
      {"begin 644 a\x01z\r\n" + line + "end\r\n", FALSE, 0},
      {"begin 644 f\r\n", FALSE, 0},               // no data line
      {"begin 644 f\r\n`\r\n", TRUE, 13 + 3},       // "`" is a good line of no bytes
      {"begins 644 f\r\n" + line, FALSE, 0},        // "s" starts the name: no mode
      {"begin 644x f\r\n" + line, FALSE, 0},        // "x" cancels the mode
      {"Begin 644 f\r\n" + line, FALSE, 0},         // the keyword is case-sensitive
      {"\r\n\nbegin 644 f\r\n" + line, TRUE, 3 + 13 + 7},
      {" begin 644 f\r\n" + line, FALSE, 0},
      // Lines that are no data lines are skipped: the block ends after the
      // last good line unless the end line follows.
      {"begin 644 f\r\n" + line + "hello world\r\n" + line + "bye\r\n", TRUE, 13 + 7 + 13 + 7},
      {"begin 644 f\r\n" + line + "hello world\r\nend\r\n", TRUE, 13 + 7 + 13 + 5},
      {"begin 644 f\r\n#86)\r\n", FALSE, 0},        // announces more than it carries
      {"begin 644 f\r\n#86)CXX\r\nrest", TRUE, 13 + 9},  // carries more: good
      {"begin 644 f\r\n# 6)C\r\n", FALSE, 0},       // a blank where a group begins
      {"begin 644 f\r\n" + line + "endless\r\n", TRUE, 13 + 7},
      {"begin 644 f\r\n" + line + "end", TRUE, 13 + 7},  // no line break: no end line
      {std::string("begin 644 f\r\n#86)C\0\0\r\n", 20), TRUE, 20},
  };
  for (const auto& row : rows) {
    Verdict v = Verify(row.text);
    EXPECT_EQ(v.accepted, row.accepted) << Show(row.text);
    EXPECT_EQ(v.length, row.accepted ? row.length : 12345u) << Show(row.text);
  }
}

TEST(VerifyUUencode, FromAPositionAndOnEncodedFiles) {
  std::mt19937 rng(12);
  const std::string data = codec_test::RandomBytes(rng, 5000, false);
  CTestStream in(data), out;
  CUUencodedFile file;
  file.PutName("x.bin");
  ASSERT_EQ(file.Encode(&out, &in, data.size()), S_OK);
  const std::string block = out.str();
  const std::string text = "Some text before\r\n" + block + "and after\r\n";
  Verdict v = Verify(text, 18);
  EXPECT_TRUE(v.accepted);
  EXPECT_EQ(v.length, block.size());
  // The measured block decodes to the file.
  FileRun r = DecodeFile(text, 18, v.length);
  EXPECT_EQ(r.out, data);
}

}  // namespace
