// Temporary files, copying, attributes and directory search of the system
// layer. Failures leave the C library's errno as the last error.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <new>

#include "foundation/win32.h"

namespace {

const size_t kCopyBufferSize = 16384;

// A find handle is one malloc'd block: this header, then the directory text
// and the name pattern, each with its NUL. The fourth word is never used.
struct tag_FindHandle {
  DIR* dir;
  char* pattern;
  char* directory;
  void* reserved;
};

bool IsInvalidHandle(HANDLE handle) {
  return handle == nullptr || handle == INVALID_HANDLE_VALUE;
}

// Closes a descriptor without losing the errno of an earlier failure.
void CloseKeepingError(int fd) {
  int saved = errno;
  close(fd);
  errno = saved;
}

bool WriteAll(int fd, const char* data, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool CopyData(int from, int to, char* buffer) {
  for (;;) {
    ssize_t n = read(from, buffer, kCopyBufferSize);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    if (!WriteAll(to, buffer, static_cast<size_t>(n))) return false;
  }
}

int HexDigits(UINT value) {
  int digits = 1;
  while (value >>= 4) ++digits;
  return digits;
}

}  // namespace

extern "C" {

DWORD GetTempPath(DWORD size, LPSTR buffer) {
  char cwd[4096];
  const char* dir = getenv("TMP");
  if (dir == nullptr || *dir == '\0') dir = getenv("TEMP");
  if (dir == nullptr || *dir == '\0') {
    if (access("/var/tmp/", R_OK | W_OK) == 0)
      dir = "/var/tmp/";
    else if (getcwd(cwd, sizeof cwd) != nullptr)
      dir = cwd;
    else
      return 0;
  }
  size_t n = strlen(dir);
  if (n > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  // The text is handed out only whole, with its closing "/" and NUL; a
  // buffer too small for that receives nothing.
  bool addSlash = dir[n - 1] != '/';
  size_t needed = n + (addSlash ? 1 : 0);
  if (n == 0 || buffer == nullptr || needed >= size) return static_cast<DWORD>(n);
  memcpy(buffer, dir, n);
  if (addSlash) buffer[n] = '/';
  buffer[needed] = '\0';
  return static_cast<DWORD>(needed);
}

UINT GetTempFileName(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR buffer) {
  if (directory == nullptr || prefix == nullptr || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t dirLength = strlen(directory);
  bool addSlash = dirLength == 0 || directory[dirLength - 1] != '/';
  size_t prefixLength = strnlen(prefix, 3);
  size_t base = dirLength + (addSlash ? 1 : 0) + prefixLength;
  UINT u = unique & 0xFFFF;
  // The whole name, with at most four hex digits, ".tmp" and the NUL, must
  // fit the MAX_PATH-byte buffer the caller provides.
  size_t digits = u != 0 ? static_cast<size_t>(HexDigits(u)) : 4;
  if (base + digits + 4 + 1 > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  memcpy(buffer, directory, dirLength);
  size_t pos = dirLength;
  if (addSlash) buffer[pos++] = '/';
  memcpy(buffer + pos, prefix, prefixLength);
  pos += prefixLength;
  char* name = buffer + pos;
  size_t room = MAX_PATH - pos;

  if (u != 0) {
    snprintf(name, room, "%x.tmp", u);
    return u;
  }

  struct timeval tv;
  gettimeofday(&tv, nullptr);
  UINT start = static_cast<UINT>((static_cast<ULONGLONG>(tv.tv_sec) * 1000u +
                                  static_cast<ULONGLONG>(tv.tv_usec) / 1000u) &
                                 0xFFFF);
  if (start == 0) start = 1;
  UINT n = start;
  do {
    snprintf(name, room, "%x.tmp", n);
    int fd = open(buffer, O_CREAT | O_EXCL | O_RDWR, 0664);
    if (fd >= 0) {
      close(fd);
      return n;
    }
    if (errno != EEXIST && errno != EACCES && errno != ETXTBSY) return 0;
    n = n >= 0xFFFF ? 1 : n + 1;
  } while (n != start);
  return 0;
}

BOOL DeleteFile(LPCSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return unlink(name) == 0 ? 1 : 0;
}

BOOL MoveFileEx(LPCSTR oldName, LPCSTR newName, DWORD) {
  if (oldName == nullptr || newName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return rename(oldName, newName) == 0 ? 1 : 0;
}

BOOL CopyFile(LPCSTR source, LPCSTR target, BOOL failIfExists) {
  if (source == nullptr || target == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char* buffer = static_cast<char*>(malloc(kCopyBufferSize));
  if (buffer == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  BOOL ok = 0;
  int from = open(source, O_RDONLY);
  struct stat st;
  if (from >= 0 && fstat(from, &st) == 0) {
    // Truncation waits until the target is known to be another file than
    // the source, so copying a file onto itself cannot empty it.
    int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : 0);
    int to = open(target, flags, st.st_mode & 07777);
    if (to >= 0) {
      struct stat tst;
      if (fstat(to, &tst) != 0) {
        // errno set by fstat
      } else if (tst.st_dev == st.st_dev && tst.st_ino == st.st_ino) {
        SetLastError(ERROR_INVALID_PARAMETER);
      } else if ((failIfExists || ftruncate(to, 0) == 0) && CopyData(from, to, buffer)) {
        ok = 1;
      }
      if (!ok)
        CloseKeepingError(to);
      else if (close(to) != 0)
        ok = 0;  // a failed close may be the first sign of lost data
    }
  }
  if (from >= 0) CloseKeepingError(from);
  int saved = errno;
  free(buffer);
  errno = saved;
  return ok;
}

DWORD GetFileAttributes(LPCSTR name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st;
  if (stat(name, &st) != 0) return INVALID_FILE_ATTRIBUTES;
  DWORD attributes = 0;
  if ((st.st_mode & 0222) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  if (st.st_mode & 0x4000) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (st.st_mode & 0xF000) attributes |= FILE_ATTRIBUTE_SYSTEM;
  return attributes;
}

HANDLE FindFirstFile(LPCSTR pattern, WIN32_FIND_DATA* data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_DATA);
    return INVALID_HANDLE_VALUE;
  }
  const char* slash = strrchr(pattern, '/');
  const char* directory = "./";
  size_t dirLength = 2;
  const char* namePattern = pattern;
  if (slash != nullptr) {
    directory = pattern;
    dirLength = static_cast<size_t>(slash - pattern) + 1;
    namePattern = slash + 1;
  }
  size_t patternLength = strlen(namePattern);

  size_t size = sizeof(tag_FindHandle) + dirLength + 1 + patternLength + 1;
  tag_FindHandle* handle = static_cast<tag_FindHandle*>(malloc(size));
  if (handle == nullptr) {
    SetLastError(ERROR_OUTOFMEMORY);
    return INVALID_HANDLE_VALUE;
  }
  char* text = reinterpret_cast<char*>(handle + 1);
  handle->directory = text;
  memcpy(text, directory, dirLength);
  text[dirLength] = '\0';
  handle->pattern = text + dirLength + 1;
  memcpy(handle->pattern, namePattern, patternLength + 1);
  handle->reserved = nullptr;
  handle->dir = opendir(handle->directory);
  if (handle->dir == nullptr) {
    int saved = errno;
    free(handle);
    errno = saved;
    return INVALID_HANDLE_VALUE;
  }
  if (!FindNextFile(handle, data)) {
    // The caller learns why the search found nothing, not FindClose's 0.
    const DWORD saved = GetLastError();
    FindClose(handle);
    SetLastError(saved);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

BOOL FindNextFile(HANDLE h, WIN32_FIND_DATA* data) {
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_DATA);
    return 0;
  }
  if (IsInvalidHandle(h)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  tag_FindHandle* handle = static_cast<tag_FindHandle*>(h);
  memset(data, 0, sizeof *data);
  struct stat st;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(handle->dir);
    if (entry == nullptr) {
      // A read error ends the search like the end does, keeping its errno.
      if (errno == 0) SetLastError(ERROR_NO_MORE_FILES);
      return 0;
    }
    if (fnmatch(handle->pattern, entry->d_name,
                FNM_PATHNAME | FNM_NOESCAPE | FNM_PERIOD | FNM_CASEFOLD) != 0)
      continue;
    if (fstatat(dirfd(handle->dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    size_t length = strnlen(entry->d_name, sizeof data->cFileName - 1);
    memcpy(data->cFileName, entry->d_name, length);
    data->cFileName[length] = '\0';
    break;
  }
  TimetToFileTime(st.st_ctime, &data->ftCreationTime);
  TimetToFileTime(st.st_atime, &data->ftLastAccessTime);
  TimetToFileTime(st.st_mtime, &data->ftLastWriteTime);
  data->nFileSizeLow = static_cast<DWORD>(st.st_size);
  DWORD attributes;
  if (S_ISDIR(st.st_mode))
    attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL;
  else if (S_ISREG(st.st_mode))
    attributes = FILE_ATTRIBUTE_NORMAL;
  else
    attributes = FILE_ATTRIBUTE_SYSTEM;
  if ((st.st_mode & 0222) == 0)
    attributes = (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY;
  data->dwFileAttributes = attributes;
  return 1;
}

BOOL FindClose(HANDLE h) {
  if (IsInvalidHandle(h)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  tag_FindHandle* handle = static_cast<tag_FindHandle*>(h);
  closedir(handle->dir);
  free(handle);
  SetLastError(0);
  return 1;
}

}  // extern "C"
