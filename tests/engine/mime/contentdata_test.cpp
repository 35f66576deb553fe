// Part content: moving between memory and file, sharing between copies,
// and the files it makes (counted in a private folder), also when a
// conversion fails.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "common/tempdir.h"
#include "mime/contentdata.h"
#include "mime/rfc822parser.h"
#include "mimetestutil.h"
#include "sessiontestutil.h"

using namespace telsor;
using mime_test::FilesIn;
using mime_test::ScopedEnv;
using mime_test::Str;
using mime_test::ThrownCode;
using telsor_test::ReadFileBytes;
using telsor_test::TempDir;
using telsor_test::WriteFileBytes;

namespace {

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string ReadAll(IStream* stream) {
  std::string out;
  char buffer[1000];
  for (;;) {
    ULONG got = 0;
    HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
    EXPECT_GE(hr, 0);
    if (got == 0) break;
    out.append(buffer, got);
  }
  return out;
}

std::string StreamOf(const CRfc822ContentData& content) {
  IStream* s = content.GetAsStream();
  std::string out = ReadAll(s);
  s->Release();
  return out;
}

TEST(ContentData, EmptyContent) {
  TempDir dir;
  CRfc822ContentData content;
  content.PutTempDir(dir.path().c_str());
  EXPECT_TRUE(content.IsEmpty());
  EXPECT_EQ(content.PutAsString(nullptr, 5), S_OK);
  EXPECT_TRUE(content.IsEmpty());
  EXPECT_EQ(content.PutAsString(Bytes("abc"), 0), S_OK);
  EXPECT_TRUE(content.IsEmpty());
  EXPECT_EQ(content.GetSize(), 0u);
  EXPECT_EQ(static_cast<CSharedTmpFile*>(content.GetAsFile()), nullptr);
  EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
  EXPECT_EQ(StreamOf(content), "");
  ULONG n = 99;
  content.GetAsString(n);
  EXPECT_EQ(n, 0u);
}

TEST(ContentData, MemoryToFileOnceAndBack) {
  TempDir dir;
  const std::string bytes("bin\0ary\r\ncontent", 16);
  CRfc822ContentData content;
  content.PutTempDir(dir.path().c_str());
  ASSERT_EQ(content.PutAsString(Bytes(bytes), static_cast<ULONG>(bytes.size())), S_OK);
  EXPECT_EQ(content.GetSize(), bytes.size());
  EXPECT_FALSE(content.IsEmpty());
  EXPECT_FALSE(content.IsInFile());
  CSharedObjPtr<CSharedTmpFile> file = content.GetAsFile();
  ASSERT_NE(static_cast<CSharedTmpFile*>(file), nullptr);
  auto names = FilesIn(dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].substr(0, 3), "BDY");
  EXPECT_EQ(ReadFileBytes(file->GetFileName()), bytes);
  EXPECT_TRUE(content.IsInMemory());  // both forms now
  EXPECT_EQ(static_cast<CSharedTmpFile*>(content.GetAsFile()), static_cast<CSharedTmpFile*>(file));
  EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
  file = nullptr;
  EXPECT_EQ(FilesIn(dir.path()).size(), 1u);  // the content holds it
  content.Empty();
  EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
  EXPECT_EQ(Str(content.GetTempDir()), dir.path());
}

TEST(ContentData, FolderFromTheSystemWhenNoneIsSet) {
  TempDir dir;
  ScopedEnv tmp("TMP", dir.path().c_str());
  CRfc822ContentData content;
  EXPECT_EQ(content.PutAsString(Bytes("x"), 1), S_OK);
  CSharedObjPtr<CSharedTmpFile> file = content.GetAsFile();
  EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
  EXPECT_EQ(Str(content.GetTempDir()), dir.path() + "/");
}

TEST(ContentData, FileToMemoryReadsOnceAndKeepsTheFile) {
  TempDir dir;
  WriteFileBytes(dir / "part.bin", "file bytes");
  CRfc822ContentData content;
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile((dir / "part.bin").c_str(), 0);
  content.PutAsFile(file);
  EXPECT_EQ(content.GetSize(), 10u);
  EXPECT_FALSE(content.IsInMemory());
  EXPECT_EQ(StreamOf(content), "file bytes");  // from the file, not read into memory
  EXPECT_FALSE(content.IsInMemory());
  ULONG n = 0;
  const unsigned char* p = content.GetAsString(n);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), n), "file bytes");
  // The bytes are held now: the file is not read again, and the stream
  // comes from memory.
  WriteFileBytes(dir / "part.bin", "changed!!!");
  EXPECT_EQ(Str(content.GetAsString()), "file bytes");
  EXPECT_EQ(StreamOf(content), "file bytes");
  EXPECT_TRUE(content.IsInFile());
  content.Empty();
  EXPECT_EQ(ReadFileBytes(dir / "part.bin"), "changed!!!");  // a caller's file stays
}

TEST(ContentData, PutAsFileRules) {
  TempDir dir;
  WriteFileBytes(dir / "a", "aaaa");
  CSharedObjPtr<CSharedTmpFile> file = new CSharedTmpFile((dir / "a").c_str(), 0);
  CRfc822ContentData content;
  content.PutAsFile(file);
  content.GetAsString();
  content.PutAsFile(file);  // the same file: nothing changes
  EXPECT_TRUE(content.IsInMemory());
  CRfc822ContentData none;
  EXPECT_EQ(none.PutAsString(Bytes("x"), 1), S_OK);
  CSharedObjPtr<CSharedTmpFile> null;
  none.PutAsFile(null);  // a null file replaces the content
  EXPECT_TRUE(none.IsEmpty());
  none.PutAsFile(null);  // null while null: emptied again
  EXPECT_TRUE(none.IsEmpty());
  CSharedObjPtr<CSharedTmpFile> missing = new CSharedTmpFile((dir / "missing").c_str(), 0);
  content.PutAsFile(missing);  // cannot be examined: empty, though held
  EXPECT_TRUE(content.IsEmpty());
  EXPECT_TRUE(content.IsInFile());
  EXPECT_EQ(Str(content.GetAsString()), "");
}

TEST(ContentData, CopiesShareTheTemporaryFile) {
  TempDir dir;
  CSharedObjPtr<CRfc822Parser> parser = new CRfc822Parser;
  EXPECT_EQ(parser->OpenSession(dir.path().c_str()), S_OK);
  CRfc822ContentData* first = new CRfc822ContentData;
  first->PutAsFile(parser->GetTmpFile("MSG"));
  CRfc822ContentData second(*first);
  CRfc822ContentData third;
  third = second;
  third = third;
  EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
  delete first;
  EXPECT_EQ(second.PutAsString(Bytes("other"), 5), S_OK);  // lets go of the file
  EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
  third.Empty();
  EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
}

TEST(ContentData, StreamIsOverACopy) {
  CRfc822ContentData content;
  EXPECT_EQ(content.PutAsString(Bytes("original"), 8), S_OK);
  IStream* s = content.GetAsStream();
  ULONG done = 0;
  EXPECT_EQ(s->Write("XYZ", 3, &done), S_OK);
  s->Release();
  EXPECT_EQ(Str(content.GetAsString()), "original");
  TSTRING shared("text");
  EXPECT_EQ(content.PutAsString(shared), S_OK);
  EXPECT_EQ(content.GetSize(), 4u);
  EXPECT_EQ(StreamOf(content), "text");
}

TEST(ContentData, ShortenedFileGivesWhatWasRead) {
  TempDir dir;
  WriteFileBytes(dir / "f", std::string(100, 'z'));
  CRfc822ContentData content;
  content.PutAsFile(new CSharedTmpFile((dir / "f").c_str(), 0));
  EXPECT_EQ(content.GetSize(), 100u);
  ASSERT_EQ(truncate((dir / "f").c_str(), 40), 0);
  ULONG n = 0;
  content.GetAsString(n);
  EXPECT_EQ(n, 40u);
  EXPECT_EQ(content.GetSize(), 40u);
}

TEST(ContentData, UnreadableFileThrowsAndHoldsNoBytes) {
  TempDir dir;
  CRfc822ContentData content;
  // A folder can be examined and opened, but not read.
  content.PutAsFile(new CSharedTmpFile(dir.path().c_str(), 0));
  ASSERT_FALSE(content.IsEmpty());
  EXPECT_EQ(ThrownCode([&] { content.GetAsString(); }), static_cast<DWORD>(EISDIR));
  EXPECT_FALSE(content.IsInMemory());
}

TEST(ContentData, FailedConversionLeavesNoFile) {
  TempDir dir;
  CRfc822ContentData content;
  content.PutTempDir((dir / "missing").c_str());
  EXPECT_EQ(content.PutAsString(Bytes("data"), 4), S_OK);
  EXPECT_EQ(ThrownCode([&] { content.GetAsFile(); }), static_cast<DWORD>(ENOENT));
  EXPECT_TRUE(content.IsInMemory());
  EXPECT_FALSE(content.IsInFile());

  // A write that cannot complete (the file-size limit): the new file goes.
  content.PutTempDir(dir.path().c_str());
  EXPECT_EQ(content.PutAsString(Bytes(std::string(5000, 'w')), 5000), S_OK);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 100;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  DWORD code = ThrownCode([&] { content.GetAsFile(); });
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(code, static_cast<DWORD>(EFBIG));
  EXPECT_EQ(FilesIn(dir.path()).size(), 0u);
  EXPECT_FALSE(content.IsInFile());
  // And it works once the limit is gone.
  EXPECT_NE(static_cast<CSharedTmpFile*>(content.GetAsFile()), nullptr);
  EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
}

TEST(ContentData, PutDataHoldsBoth) {
  TempDir dir;
  WriteFileBytes(dir / "m", "from file");
  CRfc822ContentData content;
  EXPECT_EQ(content.PutData(new CSharedTmpFile((dir / "m").c_str(), 0), TSTRING("in memory")), S_OK);
  EXPECT_EQ(content.GetSize(), 9u);
  EXPECT_TRUE(content.IsInFile());
  EXPECT_EQ(StreamOf(content), "in memory");
}

}  // namespace
