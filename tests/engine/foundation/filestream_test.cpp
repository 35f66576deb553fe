// The file stream: dispositions, access, permission, and the mended write and
// seek paths (full disk, broken pipe, interrupted writes, 64-bit offsets).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "foundation/fileasistream.h"
#include "foundation/tstringasistream.h"
#include "streamtestutil.h"

using namespace telsor;
using namespace telsor_test;

namespace {

TEST(FileStream, DispositionsOneToFive) {
  TempDir dir;
  struct Case {
    DWORD disposition;
    bool exists;
    HRESULT hr;
    const char* contentAfter;  // null: the file must not exist afterwards
  } cases[] = {
      {CREATE_NEW, false, S_OK, "new"},
      {CREATE_NEW, true, E_FAIL, "old text"},
      {CREATE_ALWAYS, false, S_OK, "new"},
      {CREATE_ALWAYS, true, S_OK, "new"},
      {OPEN_EXISTING, false, E_FAIL, nullptr},
      {OPEN_EXISTING, true, S_OK, "new text"},  // overwrites the first bytes only
      {OPEN_ALWAYS, false, S_OK, "new"},
      {OPEN_ALWAYS, true, S_OK, "new"},  // truncated, not merely opened
      {TRUNCATE_EXISTING, false, E_FAIL, nullptr},
      {TRUNCATE_EXISTING, true, S_OK, "new"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "disposition " << c.disposition << (c.exists ? " existing" : " missing"));
    std::string path = dir / ("d" + std::to_string(++n));
    if (c.exists) WriteFileBytes(path, "old text");
    IStream* s = reinterpret_cast<IStream*>(&s);
    HRESULT hr = CFileAsIStream::CreateStreamOnFile(path.c_str(), GENERIC_WRITE, 0, c.disposition, &s);
    EXPECT_EQ(static_cast<DWORD>(hr), static_cast<DWORD>(c.hr));
    if (SUCCEEDED(hr)) {
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(s->Write("new", 3, nullptr), S_OK);
      EXPECT_EQ(s->Release(), 0u);
    } else {
      EXPECT_EQ(s, nullptr);
    }
    if (c.contentAfter == nullptr) {
      EXPECT_NE(access(path.c_str(), F_OK), 0);
    } else {
      EXPECT_EQ(ReadFileBytes(path), c.contentAfter);
    }
  }
}

TEST(FileStream, AccessMaskDecidesOpenModeAndFileMode) {
  TempDir dir;
  struct Case {
    DWORD access;
    bool canRead;
    bool canWrite;
    mode_t mode;
  } cases[] = {
      {GENERIC_READ, true, false, 0600},
      {STANDARD_RIGHTS_READ, true, false, 0600},
      {GENERIC_WRITE, false, true, 0600},
      {GENERIC_READ | GENERIC_WRITE, true, true, 0600},
      {GENERIC_ALL, true, true, 0600},
      {GENERIC_WRITE | GENERIC_EXECUTE, false, true, 0700},
      {GENERIC_ALL | GENERIC_EXECUTE, true, true, 0600},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.access);
    std::string path = dir / ("a" + std::to_string(++n));
    IStream* s = nullptr;
    ASSERT_EQ(CFileAsIStream::CreateStreamOnFile(path.c_str(), c.access, 0, CREATE_NEW, &s), S_OK);
    char b = 'x';
    ULONG done = 0;
    EXPECT_EQ(SUCCEEDED(s->Write(&b, 1, &done)), c.canWrite);
    s->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(SUCCEEDED(s->Read(&b, 1, &done)), c.canRead);
    STATSTG st;
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.grfMode, c.access);
    EXPECT_EQ(st.type, STGTY_STREAM);
    EXPECT_EQ(st.grfLocksSupported, 2u);
    s->Release();
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, c.mode & ~0u);
  }
}

TEST(FileStream, PermissionDeniedIsItsOwnCode) {
  TempDir dir;
  std::string path = dir / "secret";
  WriteFileBytes(path, "x");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  int code = RunUnprivileged([&] {
    if (geteuid() == 0) return 98;
    IStream* s = nullptr;
    HRESULT hr = CFileAsIStream::CreateStreamOnFile(path.c_str(), GENERIC_READ, 1, OPEN_EXISTING, &s);
    return hr == E_ACCESSDENIED && s == nullptr ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
}

TEST(FileStream, WriteOnFullDiskReportsFailure) {
  IStream* s = nullptr;
  ASSERT_EQ(CFileAsIStream::CreateStreamOnFile("/dev/full", GENERIC_WRITE, 0, OPEN_EXISTING, &s), S_OK);
  ULONG done = 99;
  EXPECT_EQ(static_cast<DWORD>(s->Write("abc", 3, &done)), static_cast<DWORD>(E_FAIL));
  EXPECT_EQ(done, 0u);
  ULONG empty = 99;
  EXPECT_EQ(s->Write("", 0, &empty), S_OK);
  EXPECT_EQ(empty, 0u);
  s->Release();
}

TEST(FileStream, SeekUsesSixtyFourBitOffsets) {
  TempDir dir;
  IStream* s = nullptr;
  ASSERT_EQ(CFileAsIStream::CreateStreamOnFile((dir / "sparse").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               CREATE_NEW, &s),
            S_OK);
  const LONGLONG far = (6ll << 30) + 5;  // low half 5: a 32-bit seek would land at 5
  ULARGE_INTEGER at;
  ASSERT_EQ(s->Seek(Move(far), STREAM_SEEK_SET, &at), S_OK);
  EXPECT_EQ(at.QuadPart, static_cast<ULONGLONG>(far));
  ASSERT_EQ(s->Write("Z", 1, nullptr), S_OK);
  ASSERT_EQ(s->Seek(Move(-1), STREAM_SEEK_END, &at), S_OK);
  EXPECT_EQ(at.QuadPart, static_cast<ULONGLONG>(far));
  char c = 0;
  ULONG got = 0;
  EXPECT_EQ(s->Read(&c, 1, &got), S_OK);
  EXPECT_EQ(c, 'Z');
  ASSERT_EQ(s->Seek(Move(-far - 2), STREAM_SEEK_CUR, &at), E_FAIL);
  EXPECT_EQ(PosOf(s), static_cast<ULONGLONG>(far) + 1);
  s->Release();
  struct stat info;
  ASSERT_EQ(stat((dir / "sparse").c_str(), &info), 0);
  EXPECT_EQ(static_cast<ULONGLONG>(info.st_size), static_cast<ULONGLONG>(far) + 1);
}

TEST(FileStream, CopyToMovesBytesInChunks) {
  TempDir dir;
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  WriteFileBytes(dir / "src", data);
  IStream* s = nullptr;
  ASSERT_EQ(CFileAsIStream::CreateStreamOnFile((dir / "src").c_str(), GENERIC_READ, 1, OPEN_EXISTING, &s), S_OK);
  struct Case {
    ULONGLONG count;
    ULONGLONG copied;
  } cases[] = {{0, 0}, {10, 10}, {32768, 32768}, {70000, 70000}, {1ull << 40, 100000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    s->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    IStream* target = nullptr;
    ASSERT_EQ(CTstringAsIStream::CreateStreamOnTSTRING("", &target), S_OK);
    ULARGE_INTEGER read, written;
    EXPECT_EQ(s->CopyTo(target, Size(c.count), &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, c.copied);
    EXPECT_EQ(written.QuadPart, c.copied);
    target->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    std::string back(c.copied, '\0');
    ULONG got = 0;
    target->Read(&back[0], static_cast<ULONG>(c.copied), &got);
    EXPECT_TRUE(back == data.substr(0, c.copied));
    target->Release();
  }
  s->Release();
}

TEST(FileStream, StatReportsTheFileTimes) {
  TempDir dir;
  WriteFileBytes(dir / "t", "12345");
  struct timeval times[2] = {{1000000000, 0}, {1200000000, 0}};  // access, modification
  ASSERT_EQ(utimes((dir / "t").c_str(), times), 0);
  IStream* s = nullptr;
  ASSERT_EQ(CFileAsIStream::CreateStreamOnFile((dir / "t").c_str(), GENERIC_READ, 1, OPEN_EXISTING, &s), S_OK);
  STATSTG st;
  ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
  FILETIME access, modified;
  TimetToFileTime(1000000000, &access);
  TimetToFileTime(1200000000, &modified);
  EXPECT_EQ(st.cbSize.QuadPart, 5u);
  EXPECT_EQ(st.atime.dwLowDateTime, access.dwLowDateTime);
  EXPECT_EQ(st.atime.dwHighDateTime, access.dwHighDateTime);
  EXPECT_EQ(st.mtime.dwLowDateTime, modified.dwLowDateTime);
  EXPECT_EQ(st.mtime.dwHighDateTime, modified.dwHighDateTime);
  EXPECT_EQ(st.pwcsName, nullptr);
  s->Release();
}

}  // namespace
