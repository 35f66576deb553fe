// Memory handles over the C heap, and the memory status from /proc/meminfo.
#include "foundation/globalmem.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <mutex>

#include "foundation/win32.h"

namespace {

const DWORD BLOCK_MAGIC = 0x4B4C4247;  // "GBLK"

// Every handle points just behind one of these. A fixed block's bytes follow
// the header (the handle is their address); a movable block's bytes live in
// a separate allocation that may move.
struct tag_BLOCK_HEADER {
  DWORD magic;
  UINT flags;
  UINT size;
  LONG locks;
  void* data;
  uint64_t pad;  // keeps the bytes behind the header 16-byte aligned
};

tag_BLOCK_HEADER* HeaderOf(HGLOBAL handle) {
  if (handle == nullptr) return nullptr;
  tag_BLOCK_HEADER* h = static_cast<tag_BLOCK_HEADER*>(handle) - 1;
  return h->magic == BLOCK_MAGIC ? h : nullptr;
}

HGLOBAL BadHandle() {
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

void* Bytes(UINT size, bool zero) {
  size_t n = size == 0 ? 1 : size;  // a block always has an address
  return zero ? calloc(1, n) : malloc(n);
}

}  // namespace

extern "C" {

HGLOBAL GlobalAlloc(UINT flags, UINT size) {
  if (flags & ~(GMEM_MOVEABLE | GMEM_ZEROINIT)) return BadHandle();
  bool zero = (flags & GMEM_ZEROINIT) != 0;
  tag_BLOCK_HEADER* h;
  if (flags & GMEM_MOVEABLE) {
    h = static_cast<tag_BLOCK_HEADER*>(malloc(sizeof(tag_BLOCK_HEADER)));
    void* data = h ? Bytes(size, zero) : nullptr;
    if (data == nullptr) {
      free(h);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    h->data = data;
  } else {
    size_t total = sizeof(tag_BLOCK_HEADER) + (size == 0 ? 1 : size);
    h = static_cast<tag_BLOCK_HEADER*>(zero ? calloc(1, total) : malloc(total));
    if (h == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    h->data = h + 1;
  }
  h->magic = BLOCK_MAGIC;
  h->flags = flags & GMEM_MOVEABLE;
  h->size = size;
  h->locks = 0;
  h->pad = 0;
  return h + 1;
}

LPVOID GlobalLock(HGLOBAL handle) {
  tag_BLOCK_HEADER* h = HeaderOf(handle);
  if (h == nullptr) return BadHandle();
  if (h->flags & GMEM_MOVEABLE) InterlockedIncrement(&h->locks);
  return h->data;
}

BOOL GlobalUnlock(HGLOBAL handle) {
  tag_BLOCK_HEADER* h = HeaderOf(handle);
  if (h == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  for (;;) {
    LONG n = h->locks;
    if (n <= 0) break;
    if (InterlockedCompareExchange(&h->locks, n - 1, n) == n) {
      if (n > 1) return 1;
      break;
    }
  }
  SetLastError(0);
  return 0;
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  tag_BLOCK_HEADER* h = HeaderOf(handle);
  if (h == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return handle;
  }
  h->magic = 0;
  if (h->flags & GMEM_MOVEABLE) free(h->data);
  free(h);
  return nullptr;
}

HGLOBAL GlobalReAlloc(HGLOBAL handle, UINT size, UINT flags) {
  tag_BLOCK_HEADER* h = HeaderOf(handle);
  if (h == nullptr) return BadHandle();
  UINT old = h->size;
  bool mayMove = (flags & GMEM_MOVEABLE) != 0;
  if (h->flags & GMEM_MOVEABLE) {
    if (size > old && h->locks > 0 && !mayMove) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    void* data = realloc(h->data, size == 0 ? 1 : size);
    if (data == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    h->data = data;
  } else if (size > old) {
    if (!mayMove) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    h->magic = 0;  // a stale copy of the old handle must not pass as valid
    tag_BLOCK_HEADER* moved =
        static_cast<tag_BLOCK_HEADER*>(realloc(h, sizeof(tag_BLOCK_HEADER) + size));
    if (moved == nullptr) {
      h->magic = BLOCK_MAGIC;
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    h = moved;
    h->magic = BLOCK_MAGIC;
    h->data = h + 1;
  }
  if ((flags & GMEM_ZEROINIT) && size > old) {
    memset(static_cast<BYTE*>(h->data) + old, 0, size - old);
  }
  h->size = size;
  return h + 1;
}

UINT GlobalSize(HGLOBAL handle) {
  tag_BLOCK_HEADER* h = HeaderOf(handle);
  if (h == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return h->size;
}

HLOCAL LocalAlloc(UINT flags, UINT size) { return GlobalAlloc(flags, size); }
LPVOID LocalLock(HLOCAL handle) { return GlobalLock(handle); }
BOOL LocalUnlock(HLOCAL handle) { return GlobalUnlock(handle); }
HLOCAL LocalFree(HLOCAL handle) { return GlobalFree(handle); }
HLOCAL LocalReAlloc(HLOCAL handle, UINT size, UINT flags) {
  return GlobalReAlloc(handle, size, flags);
}
UINT LocalSize(HLOCAL handle) { return GlobalSize(handle); }

}  // extern "C"

namespace telsor {

namespace {

DWORD Saturate(uint64_t bytes) { return bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bytes); }

// The value of one "Name:   n kB" line in bytes; false when absent.
bool Field(const char* text, const char* name, uint64_t* bytes) {
  size_t len = strlen(name);
  for (const char* line = text; line != nullptr && *line != '\0';) {
    if (strncmp(line, name, len) == 0 && line[len] == ':') {
      char* end = nullptr;
      unsigned long long kb = strtoull(line + len + 1, &end, 10);
      if (end == line + len + 1) return false;
      *bytes = kb > UINT64_MAX / 1024 ? UINT64_MAX : kb * 1024;
      return true;
    }
    line = strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return false;
}

uint64_t AddSat(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

BOOL MemoryStatusFromMeminfo(const char* text, MEMORYSTATUS* status) {
  memset(status, 0, sizeof *status);
  status->dwLength = sizeof *status;
  uint64_t total = 0;
  if (text == nullptr || !Field(text, "MemTotal", &total)) return 0;
  uint64_t avail = 0;
  if (!Field(text, "MemAvailable", &avail)) {
    uint64_t part = 0;
    if (Field(text, "MemFree", &part)) avail = part;
    if (Field(text, "Buffers", &part)) avail = AddSat(avail, part);
    if (Field(text, "Cached", &part)) avail = AddSat(avail, part);
  }
  if (avail > total) avail = total;
  uint64_t swapTotal = 0;
  uint64_t swapFree = 0;
  Field(text, "SwapTotal", &swapTotal);
  Field(text, "SwapFree", &swapFree);
  status->dwMemoryLoad = total == 0 ? 0 : static_cast<DWORD>((total - avail) / (total / 100 ? total / 100 : 1));
  if (status->dwMemoryLoad > 100) status->dwMemoryLoad = 100;
  status->dwTotalPhys = Saturate(total);
  status->dwAvailPhys = Saturate(avail);
  status->dwTotalPageFile = Saturate(AddSat(total, swapTotal));
  status->dwAvailPageFile = Saturate(AddSat(avail, swapFree));
  // A 64-bit process has far more than 4 GiB of address space.
  status->dwTotalVirtual = 0xFFFFFFFFu;
  status->dwAvailVirtual = 0xFFFFFFFFu;
  return 1;
}

}  // namespace telsor

extern "C" void GlobalMemoryStatus(MEMORYSTATUS* status) {
  if (status == nullptr) return;
  static std::mutex guard;
  static MEMORYSTATUS cached;
  static struct timespec readAt;
  static bool valid = false;
  std::lock_guard<std::mutex> hold(guard);
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t ageMs = (static_cast<int64_t>(now.tv_sec) - readAt.tv_sec) * 1000 +
                  (now.tv_nsec - readAt.tv_nsec) / 1000000;
  if (!valid || ageMs >= 1000 || ageMs < 0) {
    char text[8192];
    size_t n = 0;
    FILE* f = fopen("/proc/meminfo", "r");
    if (f != nullptr) {
      n = fread(text, 1, sizeof text - 1, f);
      fclose(f);
    }
    text[n] = '\0';
    telsor::MemoryStatusFromMeminfo(text, &cached);
    readAt = now;
    valid = true;
  }
  *status = cached;
}
