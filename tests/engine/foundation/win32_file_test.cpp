// Temporary files, copying, attributes and directory search, checked against
// stat and the file system inside a private temporary directory.
#include <gtest/gtest.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/tempdir.h"
#include "foundation/win32.h"

namespace {

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.empty()); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::string& data, mode_t mode = 0644) const {
    int fd = open(Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
    chmod(Path(name).c_str(), mode);
  }
  static std::string Read(const std::string& path) { return telsor_test::ReadFileBytes(path); }
  size_t CountEntries() const {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(dir_)) {
      (void)e;
      ++n;
    }
    return n;
  }
  telsor_test::TempDir tmp_;
  const std::string dir_ = tmp_.path();
};

// Sets or clears an environment variable for one scope.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

TEST(GetTempPath, EnvironmentAndBufferSizes) {
  struct Case {
    const char* tmp;
    const char* temp;
    DWORD size;
    DWORD result;
    const char* text;  // null: the buffer is left as it was
  } cases[] = {
      {"/tmp", nullptr, 100, 5, "/tmp/"},
      {"/tmp", nullptr, 6, 5, "/tmp/"},
      {"/tmp", nullptr, 5, 4, nullptr},
      {"/tmp", nullptr, 0, 4, nullptr},
      {"/tmp/", nullptr, 6, 5, "/tmp/"},
      {"/tmp/", nullptr, 5, 5, nullptr},
      {"", "/var", 100, 5, "/var/"},
      {nullptr, "/data/x/", 100, 8, "/data/x/"},
      {"/a", "/b", 100, 3, "/a/"},
  };
  for (const Case& c : cases) {
    EnvVar tmp("TMP", c.tmp);
    EnvVar temp("TEMP", c.temp);
    char buf[128];
    memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetTempPath(c.size, buf), c.result) << c.size;
    if (c.text)
      EXPECT_STREQ(buf, c.text);
    else
      EXPECT_EQ(buf[0], '#');
  }
}

TEST(GetTempPath, FallsBackToVarTmpAndRejectsOverlongText) {
  {
    EnvVar tmp("TMP", nullptr);
    EnvVar temp("TEMP", nullptr);
    char buf[MAX_PATH];
    DWORD n = GetTempPath(sizeof buf, buf);
    if (access("/var/tmp/", R_OK | W_OK) == 0) {
      EXPECT_EQ(n, 9u);
      EXPECT_STREQ(buf, "/var/tmp/");
    } else {
      ASSERT_GT(n, 0u);
      EXPECT_EQ(buf[n - 1], '/');
    }
  }
  std::string longDir(MAX_PATH + 1, 'd');
  EnvVar tmp("TMP", longDir.c_str());
  char buf[16] = "";
  SetLastError(0);
  EXPECT_EQ(GetTempPath(sizeof buf, buf), 0u);
  EXPECT_EQ(GetLastError(), 206u);
}

TEST_F(TempDir, TempFileNameWithGivenNumberCreatesNothing) {
  struct Case {
    std::string directory;
    const char* prefix;
    UINT unique;
    UINT result;
    std::string name;
  } cases[] = {
      {"/tmp", "abcd", 0x1234, 0x1234, "/tmp/abc1234.tmp"},
      {"/tmp/", "ab", 0xFF, 0xFF, "/tmp/abff.tmp"},
      {"", "", 0x10001, 1, "/1.tmp"},
      {dir_, "x", 0xBEEF0abc, 0xabc, dir_ + "/xabc.tmp"},
  };
  for (const Case& c : cases) {
    char buf[MAX_PATH];
    EXPECT_EQ(GetTempFileName(c.directory.c_str(), c.prefix, c.unique, buf), c.result);
    EXPECT_EQ(std::string(buf), c.name);
  }
  EXPECT_EQ(CountEntries(), 0u);
}

TEST_F(TempDir, TempFileNameCreatesDistinctFiles) {
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    char buf[MAX_PATH];
    UINT n = GetTempFileName(dir_.c_str(), "tst", 0, buf);
    ASSERT_NE(n, 0u);
    char expected[64];
    snprintf(expected, sizeof expected, "/tst%x.tmp", n);
    EXPECT_EQ(std::string(buf), dir_ + expected);
    struct stat st;
    ASSERT_EQ(stat(buf, &st), 0);
    EXPECT_EQ(st.st_size, 0);
    names.insert(buf);
  }
  EXPECT_EQ(names.size(), 20u);
  EXPECT_EQ(CountEntries(), 20u);
}

TEST(GetTempFileName, BadArgumentsAndOverlongDirectory) {
  char buf[MAX_PATH];
  struct Case {
    const char* directory;
    const char* prefix;
    char* buffer;
    DWORD error;
  } cases[] = {
      {nullptr, "a", buf, 87},
      {"/tmp", nullptr, buf, 87},
      {"/tmp", "a", nullptr, 87},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(GetTempFileName(c.directory, c.prefix, 1, c.buffer), 0u);
    EXPECT_EQ(GetLastError(), c.error);
  }
  // Directory plus "/", three prefix characters, digits, ".tmp" and the NUL
  // must fit in MAX_PATH bytes.
  struct Fit {
    size_t dirLength;
    UINT unique;
    bool fits;
  } fits[] = {
      {MAX_PATH - 1 - 3 - 1 - 4 - 1, 0xF, true},
      {MAX_PATH - 1 - 3 - 1 - 4, 0xF, false},
      {MAX_PATH - 1 - 3 - 4 - 4 - 1, 0xFFFF, true},
      {MAX_PATH - 1 - 3 - 4 - 4, 0xFFFF, false},
      {MAX_PATH * 2, 1, false},
  };
  for (const Fit& f : fits) {
    std::string dir(f.dirLength, 'd');
    std::vector<char> out(MAX_PATH + 64, '#');
    SetLastError(0);
    UINT r = GetTempFileName(dir.c_str(), "pre", f.unique, out.data());
    if (f.fits) {
      EXPECT_EQ(r, f.unique);
      EXPECT_EQ(strlen(out.data()), MAX_PATH - 1u);
    } else {
      EXPECT_EQ(r, 0u);
      EXPECT_EQ(GetLastError(), 206u);
    }
    EXPECT_EQ(out[MAX_PATH], '#');  // nothing written beyond the buffer
  }
}

TEST_F(TempDir, CopyFileBothWaysKeepsModeAndBytes) {
  mode_t mask = umask(0);
  umask(mask);
  std::string big;
  for (int i = 0; i < 70000; ++i) big += static_cast<char>((i * 7919) >> 3);
  Write("src", big, 0640);
  Write("ro", "old", 0444);
  Write("exists", "previous contents that are longer", 0600);

  struct Case {
    const char* target;
    BOOL failIfExists;
    BOOL result;
    std::string contents;
  } cases[] = {
      {"new1", 1, 1, big},
      {"new2", 0, 1, big},
      {"exists", 1, 0, "previous contents that are longer"},
      {"exists", 0, 1, big},
      {"src", 0, 0, big},  // onto itself: refused, nothing lost
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CopyFile(Path("src").c_str(), Path(c.target).c_str(), c.failIfExists), c.result)
        << c.target;
    EXPECT_TRUE(Read(Path(c.target)) == c.contents) << c.target;
  }
  struct stat st;
  ASSERT_EQ(stat(Path("new1").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u & ~mask);
  SetLastError(0);
  EXPECT_EQ(CopyFile(Path("src").c_str(), Path("exists").c_str(), 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(EEXIST));
  EXPECT_EQ(CopyFile(Path("missing").c_str(), Path("t").c_str(), 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
  EXPECT_NE(access(Path("t").c_str(), F_OK), 0);
  EXPECT_EQ(CopyFile(nullptr, Path("t").c_str(), 0), 0);
  EXPECT_EQ(GetLastError(), 87u);
}

TEST_F(TempDir, DeleteAndMove) {
  Write("a", "1");
  EXPECT_EQ(MoveFileEx(Path("a").c_str(), Path("b").c_str(), 0), 1);
  EXPECT_EQ(Read(Path("b")), "1");
  EXPECT_EQ(DeleteFile(Path("b").c_str()), 1);
  EXPECT_EQ(DeleteFile(Path("b").c_str()), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
  EXPECT_EQ(MoveFileEx(Path("b").c_str(), Path("c").c_str(), 0), 0);
  EXPECT_EQ(CountEntries(), 0u);
}

TEST_F(TempDir, FileAttributes) {
  Write("rw", "x", 0644);
  Write("ro", "x", 0444);
  ASSERT_EQ(mkdir(Path("d").c_str(), 0755), 0);
  ASSERT_EQ(symlink("ro", Path("link").c_str()), 0);
  struct Case {
    const char* name;
    DWORD attributes;
  } cases[] = {
      {"rw", 0x4}, {"ro", 0x5}, {"d", 0x14}, {"link", 0x5}, {"missing", 0xFFFFFFFF},
  };
  for (const Case& c : cases) EXPECT_EQ(GetFileAttributes(Path(c.name).c_str()), c.attributes) << c.name;
  EXPECT_EQ(GetFileAttributes(nullptr), 0xFFFFFFFFu);
}

std::map<std::string, WIN32_FIND_DATA> FindAll(const std::string& pattern, DWORD* lastError) {
  std::map<std::string, WIN32_FIND_DATA> found;
  WIN32_FIND_DATA data;
  HANDLE h = FindFirstFile(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    *lastError = GetLastError();
    return found;
  }
  do {
    EXPECT_EQ(found.count(data.cFileName), 0u) << data.cFileName;
    found[data.cFileName] = data;
  } while (FindNextFile(h, &data));
  *lastError = GetLastError();
  EXPECT_EQ(FindClose(h), 1);
  EXPECT_EQ(GetLastError(), 0u);
  return found;
}

TEST_F(TempDir, FindMatchesCaseFoldedPatternsAndSkipsHiddenNames) {
  Write("a.txt", "hello");
  Write("B.Txt", "");
  Write(".hidden.txt", "h");
  Write("c.dat", "c");
  ASSERT_EQ(mkdir(Path("sub.txt").c_str(), 0755), 0);
  struct Case {
    std::string pattern;
    std::set<std::string> names;
  } cases[] = {
      {Path("*.TXT"), {"a.txt", "B.Txt", "sub.txt"}},
      {Path(".*.txt"), {".hidden.txt"}},
      {Path("?.*"), {"a.txt", "B.Txt", "c.dat"}},
      {Path("c.dat"), {"c.dat"}},
  };
  for (const Case& c : cases) {
    DWORD error = 0;
    auto found = FindAll(c.pattern, &error);
    std::set<std::string> names;
    for (auto& kv : found) names.insert(kv.first);
    EXPECT_EQ(names, c.names) << c.pattern;
    EXPECT_EQ(error, 18u);
  }
  WIN32_FIND_DATA data;
  SetLastError(0);
  EXPECT_EQ(FindFirstFile(Path("*.none").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 18u);
  EXPECT_EQ(FindFirstFile(Path("nodir/*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
  EXPECT_EQ(FindFirstFile(nullptr, &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 13u);
  EXPECT_EQ(FindFirstFile("*", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 13u);
}

TEST_F(TempDir, FindWithoutDirectorySearchesWorkingDirectory) {
  Write("a.txt", "x");
  char old[MAX_PATH];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  DWORD error = 0;
  auto found = FindAll("*.TXT", &error);
  ASSERT_EQ(chdir(old), 0);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.begin()->first, "a.txt");
}

TEST_F(TempDir, FindFillsAttributesSizeAndTimes) {
  Write("file", std::string(12345, 'z'), 0644);
  Write("readonly", "abc", 0444);
  ASSERT_EQ(mkdir(Path("dir").c_str(), 0755), 0);
  ASSERT_EQ(symlink("file", Path("link").c_str()), 0);
  struct Case {
    const char* name;
    DWORD attributes;
  } cases[] = {
      {"file", 0x80}, {"readonly", 0x1}, {"dir", 0x90}, {"link", 0x4},
  };
  DWORD error = 0;
  auto found = FindAll(Path("*"), &error);
  EXPECT_EQ(found.size(), 4u);
  for (const Case& c : cases) {
    ASSERT_EQ(found.count(c.name), 1u) << c.name;
    const WIN32_FIND_DATA& d = found[c.name];
    EXPECT_EQ(d.dwFileAttributes, c.attributes) << c.name;
    struct stat st;
    ASSERT_EQ(lstat(Path(c.name).c_str(), &st), 0);
    EXPECT_EQ(d.nFileSizeLow, static_cast<DWORD>(st.st_size));
    EXPECT_EQ(d.nFileSizeHigh, 0u);
    FILETIME ft;
    TimetToFileTime(st.st_mtime, &ft);
    EXPECT_EQ(memcmp(&ft, &d.ftLastWriteTime, sizeof ft), 0);
    TimetToFileTime(st.st_atime, &ft);
    EXPECT_EQ(memcmp(&ft, &d.ftLastAccessTime, sizeof ft), 0);
    TimetToFileTime(st.st_ctime, &ft);
    EXPECT_EQ(memcmp(&ft, &d.ftCreationTime, sizeof ft), 0);
  }
  EXPECT_EQ(found["file"].nFileSizeLow, 12345u);
}

// A failing directory read ends the search with its errno instead of
// retrying forever. The handle's first word is the directory stream; its
// descriptor is closed underneath to make the next read fail.
TEST_F(TempDir, FindEndsOnDirectoryReadError) {
  Write("a", "");
  Write("b", "");
  WIN32_FIND_DATA data;
  HANDLE h = FindFirstFile(Path("*").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DIR* stream = *static_cast<DIR**>(h);
  ASSERT_EQ(close(dirfd(stream)), 0);
  int more = 0;
  while (FindNextFile(h, &data) && more < 100) ++more;
  EXPECT_LT(more, 100);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
  EXPECT_EQ(FindClose(h), 1);
}

TEST(FindHandle, InvalidHandlesAreRefused) {
  WIN32_FIND_DATA data;
  SetLastError(0);
  EXPECT_EQ(FindNextFile(INVALID_HANDLE_VALUE, &data), 0);
  EXPECT_EQ(GetLastError(), 87u);
  EXPECT_EQ(FindClose(INVALID_HANDLE_VALUE), 0);
  EXPECT_EQ(FindNextFile(nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), 13u);
}

}  // namespace
