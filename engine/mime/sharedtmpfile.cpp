// Shared temporary files: unique creation and removal with the last
// reference.
#include "mime/sharedtmpfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "foundation/results.h"
#include "foundation/throwcode.h"
#include "foundation/win32.h"

namespace telsor {

namespace {

const int CREATE_ATTEMPTS = 100;

// 48 bits for a name: from the kernel's generator, or, should it fail, from
// the clock and a process-wide counter.
unsigned long long NameNumber() {
  unsigned long long n = 0;
  if (getrandom(&n, sizeof n, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof n)) {
    static std::atomic<unsigned long long> s_counter(0);
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    n = static_cast<unsigned long long>(ts.tv_nsec) ^ (static_cast<unsigned long long>(ts.tv_sec) << 20) ^
        (static_cast<unsigned long long>(getpid()) << 32) ^ (s_counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  }
  return n & 0xFFFFFFFFFFFFull;
}

bool IsRootOrEmpty(const char* directory) {
  if (directory == nullptr || *directory == '\0') return true;
  for (const char* p = directory; *p != '\0'; ++p) {
    if (*p != '/') return false;
  }
  return true;
}

}  // namespace

CSharedTmpFile::CSharedTmpFile(const char* name, BOOL deleteFile)
    : m_pszFileName(name != nullptr ? strdup(name) : nullptr), m_bDeleteFile(deleteFile ? 1 : 0) {}

CSharedTmpFile::~CSharedTmpFile() {
  if (m_bDeleteFile && m_pszFileName != nullptr && *m_pszFileName != '\0') remove(m_pszFileName);
  free(m_pszFileName);
}

int CreateUniqueTmpFile(const char* directory, const char* prefix, TSTRING& name) {
  if (IsRootOrEmpty(directory)) ThrowCode(ENOENT);
  size_t dirLength = strlen(directory);
  bool addSlash = directory[dirLength - 1] != '/';
  char head[4] = {0, 0, 0, 0};
  if (prefix != nullptr) strncpy(head, prefix, 3);
  // Directory, "/", three characters, 12 digits, ".tmp" and the NUL.
  if (dirLength + 1 + 3 + 12 + 4 + 1 > MAX_PATH) ThrowCode(ENAMETOOLONG);
  char path[MAX_PATH];
  for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
    snprintf(path, sizeof path, "%s%s%s%llx.tmp", directory, addSlash ? "/" : "", head, NameNumber());
    int fd = open(path, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
      try {
        name = path;
      } catch (...) {
        close(fd);
        unlink(path);
        throw;
      }
      return fd;
    }
    if (errno != EEXIST) ThrowCode(static_cast<DWORD>(errno));
  }
  ThrowCode(EEXIST);
}

DWORD GetSystemTempFolder(TSTRING& folder) {
  char buffer[MAX_PATH + 1];
  buffer[0] = '\0';
  SetLastError(0);
  DWORD n = GetTempPath(sizeof buffer, buffer);
  if (n == 0 || n > MAX_PATH || buffer[0] == '\0') {
    DWORD error = GetLastError();
    return error != 0 ? error : static_cast<DWORD>(ENOENT);
  }
  folder = buffer;
  return 0;
}

CSharedObjPtr<CSharedTmpFile> CSharedTmpFile::Create(const char* directory, const char* prefix) {
  TSTRING name;
  close(CreateUniqueTmpFile(directory, prefix, name));
  CSharedObjPtr<CSharedTmpFile> file;
  try {
    file = new CSharedTmpFile(name.c_str(), 1);
  } catch (...) {
    unlink(name.c_str());
    throw;
  }
  if (file->GetFileName() == nullptr) {
    unlink(name.c_str());
    ThrowCode(static_cast<DWORD>(E_OUTOFMEMORY));
  }
  return file;
}

}  // namespace telsor
