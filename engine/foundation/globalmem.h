// Win32-style memory handles and the memory status.
//
// A handle names a block of bytes. A movable block (GMEM_MOVEABLE) is reached
// through GlobalLock, which returns its current address; a fixed block's
// handle is its address. GMEM_ZEROINIT fills new bytes with zeros.
//
//   HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100);   // 0x42
//   BYTE* p = static_cast<BYTE*>(GlobalLock(h));
//   p[0] = 1;
//   GlobalUnlock(h);
//   h = GlobalReAlloc(h, 200, GMEM_ZEROINIT);  // null on failure: h still valid
//   GlobalFree(h);                             // null on success
//
// The Local forms are the same functions under their Local names. Failures
// set the last error (8 out of memory, 87 bad handle or argument).
// Thread safety: lock counts are atomic; one block is resized or freed by one
// thread while nobody else uses it.
#ifndef TELSOR_FOUNDATION_GLOBALMEM_H
#define TELSOR_FOUNDATION_GLOBALMEM_H

#include "foundation/wintypes.h"

#define GMEM_FIXED 0x0u
#define GMEM_MOVEABLE 0x2u
#define GMEM_ZEROINIT 0x40u
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0u
#define LMEM_MOVEABLE 0x2u
#define LMEM_ZEROINIT 0x40u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)

// The memory status; byte counts saturate at 0xFFFFFFFF.
struct MEMORYSTATUS {
  DWORD dwLength;         // sizeof(MEMORYSTATUS)
  DWORD dwMemoryLoad;     // percent of physical memory in use
  DWORD dwTotalPhys;      // MemTotal
  DWORD dwAvailPhys;      // MemAvailable (MemFree + Buffers + Cached when absent)
  DWORD dwTotalPageFile;  // MemTotal + SwapTotal
  DWORD dwAvailPageFile;  // available physical + SwapFree
  DWORD dwTotalVirtual;   // the process address space: always saturated here
  DWORD dwAvailVirtual;
};

extern "C" {

// A new block of size bytes (flags: GMEM_MOVEABLE, GMEM_ZEROINIT); null with
// last error 8 when it cannot be had, 87 for unknown flag bits.
HGLOBAL GlobalAlloc(UINT flags, UINT size);
// The block's address (never null for a valid handle, also for size 0); a
// movable block's lock count goes up. Null with last error 87 for a bad handle.
LPVOID GlobalLock(HGLOBAL handle);
// Lowers a movable block's lock count; nonzero while still locked. 0 with
// last error 0 when it became unlocked (or is fixed), 87 for a bad handle.
BOOL GlobalUnlock(HGLOBAL handle);
// Frees the block; null on success, the handle (last error 87) on failure.
HGLOBAL GlobalFree(HGLOBAL handle);
// Resizes the block, keeping its bytes (GMEM_ZEROINIT zeroes the added ones).
// A movable block keeps its handle; a locked one, or a fixed one that must
// grow, moves only when flags hold GMEM_MOVEABLE (a fixed one then gets a new
// handle). Null on failure, the old handle staying valid.
HGLOBAL GlobalReAlloc(HGLOBAL handle, UINT size, UINT flags);
// The block's size in bytes; 0 for a bad handle.
UINT GlobalSize(HGLOBAL handle);

HLOCAL LocalAlloc(UINT flags, UINT size);
LPVOID LocalLock(HLOCAL handle);
BOOL LocalUnlock(HLOCAL handle);
HLOCAL LocalFree(HLOCAL handle);
HLOCAL LocalReAlloc(HLOCAL handle, UINT size, UINT flags);
UINT LocalSize(HLOCAL handle);

// Fills *status from "/proc/meminfo", read at most once a second (the
// figures are shared by all callers). When the file cannot be read the byte
// counts are 0. dwLength is set.
void GlobalMemoryStatus(MEMORYSTATUS* status);

}  // extern "C"

namespace telsor {
// The memory status computed from the text of "/proc/meminfo" ("Name: n kB"
// lines). Returns 0 when MemTotal is missing (the record is then zero).
BOOL MemoryStatusFromMeminfo(const char* text, MEMORYSTATUS* status);
}  // namespace telsor

#endif  // TELSOR_FOUNDATION_GLOBALMEM_H
