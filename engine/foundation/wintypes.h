// Win32-style fundamental types, records and result codes of the engine.
//
// The engine is written against Win32 vocabulary. On Linux x86_64 every
// 32-bit quantity keeps its width: DWORD, ULONG and UINT are uint32_t, LONG
// and HRESULT are int32_t, so -1 is 0xFFFFFFFF everywhere. Handles are
// pointer-sized.
//
//   DWORD all = 0xFFFFFFFF;
//   LONG minusOne = static_cast<LONG>(all);   // -1: every 32-bit type keeps 32 bits
//   HRESULT hr = E_FAIL;
//   if (FAILED(hr)) return hr;                // bit 31 set means failure
//
// Result codes are the engine's own values (not the usual platform ones);
// see foundation/results.h.
#ifndef TELSOR_FOUNDATION_WINTYPES_H
#define TELSOR_FOUNDATION_WINTYPES_H

#include <stddef.h>
#include <stdint.h>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef int32_t HRESULT;
typedef int32_t BOOL;
typedef int32_t INT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef uint16_t WCHAR;

typedef void* HANDLE;
typedef void* HGLOBAL;
typedef void* HLOCAL;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define MAX_PATH 4096

// 64-bit count of 100-nanosecond units since 1601-01-01 00:00 UTC.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// Field order is the Win32 one: LARGE_INTEGER and ULARGE_INTEGER hold one
// 64-bit value; the halves are the little-endian words of it.
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};

struct SYSTEMTIME {
  WORD wYear;        // full year
  WORD wMonth;       // 1-12
  WORD wDayOfWeek;   // 0 = Sunday
  WORD wDay;         // 1-31
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct WIN32_FIND_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

// File attribute bits.
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_SYSTEM 0x4u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u

// Result codes (S_OK, E_FAIL ...) and the Win32 error numbers live in
// foundation/results.h, which every user of these types gets with them.
#include "foundation/results.h"

#endif  // TELSOR_FOUNDATION_WINTYPES_H
