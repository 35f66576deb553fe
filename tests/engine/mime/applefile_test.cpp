// Macintosh files: defaults, the field rules, BinHex output read back by the
// decoder, the encodings that may carry it, forks in temporary files, and
// failures of a fork or of the output returned as their codes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "codectestutil.h"
#include "common/tempdir.h"
#include "common/teststream.h"
#include "mime/applefile.h"
#include "mimetestutil.h"
#include "sessiontestutil.h"

using namespace telsor;
using codec_test::DecodeBinHexText;
using codec_test::DecodedFile;
using codec_test::MemoryStream;
using codec_test::StreamBytes;
using mime_test::FilesIn;
using mime_test::Str;
using telsor_test::ReadFileBytes;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

unsigned char* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(&s[0]); }

// The file's BinHex text through EncodeWithMIME; *result its result.
std::string Encoded(CAppleFile& file, tag_CONTENT_ENCODING encoding, HRESULT* result) {
  IStream* out = MemoryStream("");
  *result = file.EncodeWithMIME(out, encoding);
  std::string text = StreamBytes(out);
  out->Release();
  return text;
}

TEST(AppleFile, Defaults) {
  CSharedObjPtr<CAppleFile> file = new CAppleFile;
  EXPECT_EQ(file->GetFormat(), CAppleFile::FORMAT_BINHEX40);
  EXPECT_STREQ(file->GetFileType(), "");
  EXPECT_STREQ(file->GetFileCreator(), "");
  EXPECT_EQ(Str(file->GetFileName()), "");
  EXPECT_EQ(file->m_wFinderFlags, 0);
  for (LONG t : {file->GetCreateTime(), file->GetModifyTime(), file->GetBackupTime(), file->GetAccessTime()})
    EXPECT_EQ(t, static_cast<LONG>(0x80000000u));
  EXPECT_TRUE(file->DataFork().IsEmpty());
  EXPECT_TRUE(file->ResourceFork().IsEmpty());

  // A new file encodes as a block with an empty name, two empty forks and
  // their check values; readers refuse the empty name.
  HRESULT hr = E_FAIL;
  std::string text = Encoded(*file, CONTENT_ENCODING_7BIT, &hr);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(text.rfind("(This file must be converted with BinHex 4.0)", 0), 0u) << text;
  codec_test::MacFile empty;
  EXPECT_EQ(text, codec_test::EncodeBinHexFile(empty));
  EXPECT_NE(DecodeBinHexText(text).hr, S_OK);
}

TEST(AppleFile, FieldRules) {
  CAppleFile file;
  file.PutFileType("TEXTS");
  EXPECT_STREQ(file.GetFileType(), "TEXT");
  file.PutFileType("ab");
  EXPECT_STREQ(file.GetFileType(), "ab");
  file.PutFileType(nullptr);
  EXPECT_STREQ(file.GetFileType(), "");
  file.PutFileCreator("ttxtx");
  EXPECT_STREQ(file.GetFileCreator(), "ttxt");
  file.PutFileCreator(nullptr);
  EXPECT_STREQ(file.GetFileCreator(), "");

  file.PutFormat(static_cast<CAppleFile::FormatType>(3));
  EXPECT_EQ(file.GetFormat(), CAppleFile::FORMAT_BINHEX40);
  file.PutFormat(static_cast<CAppleFile::FormatType>(0xFFFFFFFFu));
  EXPECT_EQ(file.GetFormat(), CAppleFile::FORMAT_BINHEX40);
  file.PutFormat(CAppleFile::FORMAT_1);
  EXPECT_EQ(file.GetFormat(), CAppleFile::FORMAT_1);

  // Times are kept as given, whatever they are.
  file.PutCreateTime(-1);
  file.PutModifyTime(0);
  file.PutBackupTime(2147483647);
  file.PutAccessTime(12345);
  EXPECT_EQ(file.GetCreateTime(), -1);
  EXPECT_EQ(file.GetModifyTime(), 0);
  EXPECT_EQ(file.GetBackupTime(), 2147483647);
  EXPECT_EQ(file.GetAccessTime(), 12345);

  file.PutFileName("Read Me");
  EXPECT_EQ(Str(file.GetFileName()), "Read Me");
}

TEST(AppleFile, EncodingsThatMayCarryTheText) {
  std::string data = "data fork\r\n", rsrc(300, '\x90');
  CAppleFile file;
  file.PutFileName("Read Me");
  file.PutFileType("TEXT");
  file.PutFileCreator("ttxt");
  file.m_wFinderFlags = 0x0120;
  ASSERT_EQ(file.PutDataForkAsString(Bytes(data), static_cast<ULONG>(data.size())), S_OK);
  ASSERT_EQ(file.PutResForkAsString(Bytes(rsrc), static_cast<ULONG>(rsrc.size())), S_OK);

  struct Case {
    int encoding;
    bool written;
  } cases[] = {{0, true}, {1, true}, {2, true}, {3, true}, {7, true},
               {4, false}, {5, false}, {6, false}, {-1, false}, {8, false}};
  for (const Case& c : cases) {
    HRESULT hr = E_FAIL;
    std::string text = Encoded(file, static_cast<tag_CONTENT_ENCODING>(c.encoding), &hr);
    if (!c.written) {
      EXPECT_EQ(hr, E_NOTIMPL) << c.encoding;
      EXPECT_EQ(text, "") << c.encoding;
      continue;
    }
    ASSERT_EQ(hr, S_OK) << c.encoding;
    DecodedFile d = DecodeBinHexText(text);
    ASSERT_EQ(d.hr, S_OK) << c.encoding;
    EXPECT_EQ(d.file.name, "Read Me");
    EXPECT_EQ(d.file.type, "TEXT");
    EXPECT_EQ(d.file.creator, "ttxt");
    EXPECT_EQ(d.file.flags, 0x0120);
    EXPECT_EQ(d.file.data, data);
    EXPECT_EQ(d.file.rsrc, rsrc);
  }

  // Formats without an output form are refused under every encoding.
  for (auto format : {CAppleFile::FORMAT_0, CAppleFile::FORMAT_1}) {
    file.PutFormat(format);
    HRESULT hr = S_OK;
    EXPECT_EQ(Encoded(file, CONTENT_ENCODING_7BIT, &hr), "");
    EXPECT_EQ(hr, E_NOTIMPL);
  }
}

TEST(AppleFile, ForksInTemporaryFiles) {
  TempDir dir;
  std::string data(5000, 'd'), rsrc = "resource";
  {
    CSharedObjPtr<CAppleFile> file = new CAppleFile;
    file->PutFileName("x");
    file->DataFork().PutTempDir(dir.path().c_str());
    // A data fork held in memory only gets a file when asked for one.
    ASSERT_EQ(file->PutDataForkAsString(Bytes(data), static_cast<ULONG>(data.size())), S_OK);
    EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
    CSharedObjPtr<CSharedTmpFile> made = file->GetDataForkAsFile();
    ASSERT_TRUE(made != nullptr);
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
    EXPECT_EQ(ReadFileBytes(made->GetFileName()), data);

    // A resource fork held only in a file is streamed from the file.
    CSharedObjPtr<CSharedTmpFile> held = CSharedTmpFile::Create(dir.path().c_str(), "RES");
    WriteFileBytes(held->GetFileName(), rsrc);
    file->PutResForkAsFile(held);
    EXPECT_FALSE(file->ResourceFork().IsInMemory());

    IStream* out = MemoryStream("");
    ASSERT_EQ(file->EncodeBinHex(out), S_OK);
    DecodedFile d = DecodeBinHexText(StreamBytes(out));
    out->Release();
    ASSERT_EQ(d.hr, S_OK);
    EXPECT_EQ(d.file.data, data);
    EXPECT_EQ(d.file.rsrc, rsrc);
  }
  // The file and its forks gone, so are the temporary files.
  EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
}

TEST(AppleFile, FailuresAreReturnedAsCodes) {
  TempDir dir;
  std::string data = "some data";
  CAppleFile file;
  file.PutFileName("x");
  ASSERT_EQ(file.PutDataForkAsString(Bytes(data), static_cast<ULONG>(data.size())), S_OK);

  // An output that refuses to write.
  CTestStream refusing;
  refusing.failWrite = static_cast<HRESULT>(0x80000009u);
  EXPECT_EQ(file.EncodeBinHex(&refusing), static_cast<HRESULT>(0x80000009u));
  EXPECT_EQ(file.EncodeWithMIME(&refusing, CONTENT_ENCODING_BINARY), static_cast<HRESULT>(0x80000009u));

  // A fork whose file vanished: the open's error comes back, nothing thrown.
  std::string path = dir / "gone";
  WriteFileBytes(path, "resource bytes");
  CSharedObjPtr<CSharedTmpFile> gone = new CSharedTmpFile(path.c_str(), FALSE);
  file.PutResForkAsFile(gone);
  ASSERT_EQ(unlink(path.c_str()), 0);
  CTestStream out;
  HRESULT hr = file.EncodeBinHex(&out);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_NE(hr, E_NOTIMPL);
}

}  // namespace
