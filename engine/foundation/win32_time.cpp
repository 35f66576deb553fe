// Time functions of the system layer. FILETIME counts 100-nanosecond units
// since 1601-01-01 00:00 UTC; day numbers are Julian day numbers, with
// 2305814 being 1601-01-01 of the Gregorian calendar.
#include <errno.h>
#include <sys/time.h>
#include <time.h>

#include "foundation/results.h"
#include "foundation/win32.h"

namespace {

const LONGLONG kEpochDifference = 116444736000000000LL;  // 1601 -> 1970 in 100 ns
const LONGLONG kTicksPerSecond = 10000000LL;
const LONGLONG kFirstDay = 2305814;  // Julian day number of 1601-01-01

LONGLONG DayNumber(LONGLONG year, LONGLONG month, LONGLONG day) {
  LONGLONG a = (14 - month) / 12;
  LONGLONG y = year + 4800 - a;
  LONGLONG m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void CivilDate(LONGLONG jdn, LONGLONG* year, LONGLONG* month, LONGLONG* day) {
  LONGLONG a = jdn + 32044;
  LONGLONG b = (4 * a + 3) / 146097;
  LONGLONG c = a - 146097 * b / 4;
  LONGLONG d = (4 * c + 3) / 1461;
  LONGLONG e = c - 1461 * d / 4;
  LONGLONG m = (5 * e + 2) / 153;
  *day = e - (153 * m + 2) / 5 + 1;
  *month = m + 3 - 12 * (m / 10);
  *year = 100 * b + d - 4800 + m / 10;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

extern "C" {

LONG NtQuerySystemTime(LARGE_INTEGER* time) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  time->QuadPart = static_cast<LONGLONG>(tv.tv_sec) * kTicksPerSecond + kEpochDifference +
                   static_cast<LONGLONG>(tv.tv_usec) * 10;
  return 0;
}

void GetSystemTimeAsFileTime(FILETIME* time) {
  LARGE_INTEGER now;
  NtQuerySystemTime(&now);
  time->dwLowDateTime = static_cast<DWORD>(now.QuadPart);
  time->dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(now.QuadPart) >> 32);
}

void GetSystemTime(SYSTEMTIME* out) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  time_t secs = tv.tv_sec;
  gmtime_r(&secs, &tm);
  out->wYear = static_cast<WORD>(tm.tm_year + 1900);
  out->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  out->wDay = static_cast<WORD>(tm.tm_mday);
  out->wHour = static_cast<WORD>(tm.tm_hour);
  out->wMinute = static_cast<WORD>(tm.tm_min);
  out->wSecond = static_cast<WORD>(tm.tm_sec);
  out->wMilliseconds = static_cast<WORD>(tv.tv_usec / 1000);
}

void TimetToFileTime(time_t t, FILETIME* time) {
  ULONGLONG v = static_cast<ULONGLONG>(static_cast<LONGLONG>(t)) *
                    static_cast<ULONGLONG>(kTicksPerSecond) +
                static_cast<ULONGLONG>(kEpochDifference);
  time->dwLowDateTime = static_cast<DWORD>(v);
  time->dwHighDateTime = static_cast<DWORD>(v >> 32);
}

BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out) {
  LONGLONG v = static_cast<LONGLONG>((static_cast<ULONGLONG>(in->dwHighDateTime) << 32) |
                                     in->dwLowDateTime);
  out->wMilliseconds = static_cast<WORD>((v % kTicksPerSecond) / 10000);
  LONGLONG s = v / kTicksPerSecond;
  LONGLONG days = s / 86400;
  LONGLONG r = s % 86400;
  out->wHour = static_cast<WORD>(r / 3600);
  out->wMinute = static_cast<WORD>((r % 3600) / 60);
  out->wSecond = static_cast<WORD>(r % 60);
  out->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
  LONGLONG year, month, day;
  CivilDate(days + kFirstDay, &year, &month, &day);
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(day);
  return 1;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out) {
  // Only real Gregorian dates from 1601-01-01 up to the last year a FILETIME
  // can hold are accepted; the time-of-day fields are added unchecked.
  if (in->wYear < 1601 || in->wYear > 30827 || in->wMonth < 1 || in->wMonth > 12 ||
      in->wDay < 1 || in->wDay > DaysInMonth(in->wYear, in->wMonth)) {
    SetLastError(ERROR_INVALID_DATA);
    return 0;
  }
  LONGLONG jdn = DayNumber(in->wYear, in->wMonth, in->wDay);
  LONGLONG seconds = (jdn - kFirstDay) * 86400 + static_cast<LONGLONG>(in->wHour) * 3600 +
                     static_cast<LONGLONG>(in->wMinute) * 60 + in->wSecond;
  ULONGLONG v = static_cast<ULONGLONG>(seconds) * static_cast<ULONGLONG>(kTicksPerSecond) +
                static_cast<ULONGLONG>(in->wMilliseconds) * 10000u;
  out->dwLowDateTime = static_cast<DWORD>(v);
  out->dwHighDateTime = static_cast<DWORD>(v >> 32);
  return 1;
}

BOOL SystemTimeToTzSpecificLocalTime(const void*, const SYSTEMTIME* in, SYSTEMTIME* out) {
  *out = *in;
  return 0;
}

DWORD GetTickCount(void) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<DWORD>(static_cast<ULONGLONG>(tv.tv_sec) * 1000u +
                            static_cast<ULONGLONG>(tv.tv_usec) / 1000u);
}

void Sleep(DWORD milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  nanosleep(&ts, nullptr);
}

}  // extern "C"

namespace {
// The Win32 number last set on this thread and the errno value that stood
// for it.
thread_local DWORD t_lastWin32 = 0;
thread_local int t_lastWin32Errno = 0;

// The errno value nearest to a Win32 number the layer sets; 0 for any
// other number, which is an errno value itself.
int ErrnoOfWin32(DWORD code) {
  switch (code) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_DATA:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_NO_MORE_FILES:
      return ENODATA;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return 0;
  }
}
}  // namespace

extern "C" {

void SetLastError(DWORD code) {
  const int mapped = ErrnoOfWin32(code);
  t_lastWin32 = mapped != 0 ? code : 0;
  t_lastWin32Errno = mapped;
  errno = mapped != 0 ? mapped : static_cast<int>(code);
}

DWORD GetLastError(void) {
  if (t_lastWin32 != 0 && errno == t_lastWin32Errno) return t_lastWin32;
  return static_cast<DWORD>(errno);
}

}  // extern "C"
