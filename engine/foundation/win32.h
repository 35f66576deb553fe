// The Win32-style system layer: the Win32 function names the engine is
// written against, implemented on libc, POSIX and /proc.
//
// Every function has C linkage and is exported by the library under its plain
// name. Nothing here throws: failures are results (0, -1, 0xFFFFFFFF, null)
// with the Win32 "last error" kept in the calling thread's errno.
//
//   FILETIME ft;
//   TimetToFileTime(0, &ft);            // 116444736000000000
//   SYSTEMTIME st;
//   FileTimeToSystemTime(&ft, &st);     // 1970-01-01, wDayOfWeek 4 (Thursday)
//
// Thread safety: everything is reentrant except _getch/_getche, which change
// the terminal settings while they wait.
#ifndef TELSOR_FOUNDATION_WIN32_H
#define TELSOR_FOUNDATION_WIN32_H

#include <time.h>

#include "foundation/wintypes.h"

extern "C" {

// Atomics: one locked instruction each, sequentially consistent.
LONG InterlockedIncrement(LONG volatile* target);
LONG InterlockedDecrement(LONG volatile* target);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);

// Characters and strings (one byte per character; "wide" text is 16-bit units).
BOOL IsBadStringPtrA(LPCSTR s, size_t max);
BOOL IsBadStringPtrW(const WCHAR* s, size_t max);
LPSTR CharNextA(LPCSTR p);
WCHAR* CharNextW(const WCHAR* p);
int lstrlenA(LPCSTR s);
int lstrlenW(const WCHAR* s);
size_t _wcslen(const WCHAR* s);
int lstrcmpA(LPCSTR a, LPCSTR b);
int lstrcmpiA(LPCSTR a, LPCSTR b);
void strlwr(char* s);
void strupr(char* s);
LPSTR CharLowerA(LPSTR s);
LPSTR CharUpperA(LPSTR s);
int _mbclen(const char* s);
char* _mbsinc(const char* s);
char* _strrev(char* s);
char* _ultoa(ULONG value, char* buffer, int radix);
char* _ltoa(LONG value, char* buffer, int radix);
char* _itoa(int value, char* buffer, int radix);

// Time.
LONG NtQuerySystemTime(LARGE_INTEGER* time);
void GetSystemTimeAsFileTime(FILETIME* time);
void GetSystemTime(SYSTEMTIME* time);
void TimetToFileTime(time_t t, FILETIME* time);
BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out);
BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out);
BOOL SystemTimeToTzSpecificLocalTime(const void* zone, const SYSTEMTIME* in, SYSTEMTIME* out);
DWORD GetTickCount(void);
void Sleep(DWORD milliseconds);

// Last error: the calling thread's errno. A Win32 number that the layer
// sets itself (8, 13, 14, 18, 87, 206) is kept for GetLastError while errno
// holds the nearest errno value (13 is EINVAL, not EACCES), so strerror
// describes it; a later system failure that changes errno is the last
// error again.
void SetLastError(DWORD code);
DWORD GetLastError(void);

// Raw console reads from the terminal of standard input; -1 on failure.
int _getch(void);
int _getche(void);

// Files and directories.
DWORD GetTempPath(DWORD size, LPSTR buffer);
UINT GetTempFileName(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR buffer);
BOOL DeleteFile(LPCSTR name);
BOOL MoveFileEx(LPCSTR oldName, LPCSTR newName, DWORD flags);
BOOL CopyFile(LPCSTR source, LPCSTR target, BOOL failIfExists);
DWORD GetFileAttributes(LPCSTR name);
HANDLE FindFirstFile(LPCSTR pattern, WIN32_FIND_DATA* data);
BOOL FindNextFile(HANDLE handle, WIN32_FIND_DATA* data);
BOOL FindClose(HANDLE handle);

// Dynamic loading.
HMODULE LoadLibrary(LPCSTR path);
void* GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
// Stores the path of the running executable without a terminating NUL;
// returns the number of bytes stored, 0 on failure.
DWORD GetModuleFileName(HMODULE module, LPSTR buffer, DWORD size);

}  // extern "C"

#endif  // TELSOR_FOUNDATION_WIN32_H
