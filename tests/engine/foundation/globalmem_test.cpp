// Movable memory handles (allocation, locking, reallocation, freeing, bad
// handles) and the memory status read from /proc/meminfo.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/sysinfo.h>

#include <string>

#include "foundation/globalmem.h"
#include "foundation/win32.h"

using namespace telsor;

namespace {

TEST(MemoryHandles, AllocLockReallocFree) {
  struct Case {
    UINT flags;
    bool movable;
    bool zero;
  } cases[] = {{GMEM_FIXED, false, false}, {GPTR, false, true}, {GMEM_MOVEABLE, true, false}, {GHND, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    HGLOBAL h = GlobalAlloc(c.flags, 100);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 100u);
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p == h, !c.movable);  // a fixed block's handle is its address
    if (c.zero) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 100), std::string(100, '\0'));
    }
    memset(p, 'q', 100);
    EXPECT_EQ(GlobalUnlock(h), 0);
    HGLOBAL grown = GlobalReAlloc(h, 5000, GMEM_ZEROINIT);
    if (c.movable) {
      EXPECT_EQ(grown, h);  // a movable block keeps its handle
    } else {
      EXPECT_EQ(grown, nullptr);  // a fixed block may not move unless allowed
      grown = GlobalReAlloc(h, 5000, GMEM_MOVEABLE | GMEM_ZEROINIT);
    }
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(GlobalSize(grown), 5000u);
    p = static_cast<BYTE*>(GlobalLock(grown));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 100), std::string(100, 'q'));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p) + 100, 4900), std::string(4900, '\0'));
    GlobalUnlock(grown);
    HGLOBAL shrunk = GlobalReAlloc(grown, 10, 0);
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(GlobalSize(shrunk), 10u);
    EXPECT_EQ(GlobalFree(shrunk), nullptr);
  }
}

TEST(MemoryHandles, LockCountsAndBadHandles) {
  HGLOBAL h = LocalAlloc(LHND, 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LocalSize(h), 0u);
  EXPECT_NE(LocalLock(h), nullptr);  // an empty block still has an address
  EXPECT_NE(LocalLock(h), nullptr);
  EXPECT_EQ(LocalReAlloc(h, 64, 0), nullptr);  // locked: may not move
  EXPECT_EQ(LocalUnlock(h), 1);                // still locked once
  EXPECT_EQ(LocalUnlock(h), 0);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(LocalReAlloc(h, 64, LMEM_ZEROINIT), h);
  EXPECT_EQ(LocalFree(h), nullptr);

  EXPECT_EQ(GlobalLock(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(GlobalSize(nullptr), 0u);
  EXPECT_EQ(GlobalReAlloc(nullptr, 1, 0), nullptr);
  EXPECT_EQ(GlobalUnlock(nullptr), 0);
  int notAHandle[16] = {0};
  EXPECT_EQ(GlobalFree(&notAHandle[8]), &notAHandle[8]);
  EXPECT_EQ(GlobalAlloc(0x1000, 10), nullptr);  // unknown flag bits
}

TEST(MemoryStatus, ParsesMeminfoAndSaturates) {
  const char* big =
      "MemTotal:       16384000 kB\n"
      "MemFree:         1000000 kB\n"
      "MemAvailable:    4096000 kB\n"
      "Buffers:           10000 kB\n"
      "Cached:          2000000 kB\n"
      "SwapTotal:       1000000 kB\n"
      "SwapFree:         500000 kB\n";
  const char* small =
      "MemTotal:         1000000 kB\n"
      "MemFree:           100000 kB\n"
      "Buffers:            50000 kB\n"
      "Cached:            250000 kB\n"
      "SwapTotal:        2000000 kB\n"
      "SwapFree:         2000000 kB\n";
  struct Case {
    const char* text;
    BOOL ok;
    DWORD load, totalPhys, availPhys, totalPage, availPage;
  } cases[] = {
      {big, 1, 75, 0xFFFFFFFFu, 4194304000u, 0xFFFFFFFFu, 0xFFFFFFFFu},
      {small, 1, 60, 1024000000u, 409600000u, 3072000000u, 2457600000u},
      {"MemFree: 10 kB\n", 0, 0, 0, 0, 0, 0},
      {"", 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    MEMORYSTATUS st;
    memset(&st, 0x77, sizeof st);
    EXPECT_EQ(MemoryStatusFromMeminfo(c.text, &st), c.ok);
    EXPECT_EQ(st.dwLength, sizeof st);
    EXPECT_EQ(st.dwMemoryLoad, c.load);
    EXPECT_EQ(st.dwTotalPhys, c.totalPhys);
    EXPECT_EQ(st.dwAvailPhys, c.availPhys);
    EXPECT_EQ(st.dwTotalPageFile, c.totalPage);
    EXPECT_EQ(st.dwAvailPageFile, c.availPage);
  }
}

TEST(MemoryStatus, MatchesTheKernelsFigure) {
  struct sysinfo info;
  ASSERT_EQ(sysinfo(&info), 0);
  unsigned long long total = static_cast<unsigned long long>(info.totalram) * info.mem_unit;
  MEMORYSTATUS st;
  GlobalMemoryStatus(&st);
  EXPECT_EQ(st.dwLength, sizeof st);
  DWORD expected = total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(total);
  // /proc/meminfo counts in kB: allow the rounding.
  EXPECT_LE(expected - st.dwTotalPhys, 1024u);
  EXPECT_LE(st.dwAvailPhys, st.dwTotalPhys);
  MEMORYSTATUS again;
  GlobalMemoryStatus(&again);  // within the second: the cached figures
  EXPECT_EQ(memcmp(&st, &again, sizeof st), 0);
}

}  // namespace
