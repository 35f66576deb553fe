// Time functions of the system layer, checked against the C library's timegm.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>
#include <time.h>

#include "foundation/results.h"
#include "foundation/win32.h"

namespace {

ULONGLONG Value(const FILETIME& ft) {
  return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME Make(ULONGLONG v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

SYSTEMTIME Date(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0, int ms = 0) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(hh);
  st.wMinute = static_cast<WORD>(mm);
  st.wSecond = static_cast<WORD>(ss);
  st.wMilliseconds = static_cast<WORD>(ms);
  return st;
}

TEST(FileTime, ZeroIsMonday1601) {
  FILETIME ft = Make(0);
  SYSTEMTIME st;
  EXPECT_EQ(FileTimeToSystemTime(&ft, &st), 1);
  EXPECT_EQ(st.wYear, 1601);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 1);
  EXPECT_EQ(st.wHour + st.wMinute + st.wSecond + st.wMilliseconds, 0);
}

TEST(FileTime, UnixEpochIsThursday1970) {
  FILETIME ft;
  TimetToFileTime(0, &ft);
  EXPECT_EQ(Value(ft), 116444736000000000ULL);
  SYSTEMTIME st;
  FileTimeToSystemTime(&ft, &st);
  EXPECT_EQ(st.wYear, 1970);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 4);
}

// Round trips over many dates, against timegm/gmtime_r of the C library.
TEST(FileTime, RoundTripAgainstTimegm) {
  for (time_t t = -5000000000LL; t < 32503680000LL; t += 86399LL * 37 + 12345) {
    struct tm tm;
    gmtime_r(&t, &tm);
    FILETIME ft;
    TimetToFileTime(t, &ft);
    SYSTEMTIME st;
    FileTimeToSystemTime(&ft, &st);
    ASSERT_EQ(st.wYear, tm.tm_year + 1900) << t;
    ASSERT_EQ(st.wMonth, tm.tm_mon + 1) << t;
    ASSERT_EQ(st.wDay, tm.tm_mday) << t;
    ASSERT_EQ(st.wDayOfWeek, tm.tm_wday) << t;
    ASSERT_EQ(st.wHour, tm.tm_hour) << t;
    ASSERT_EQ(st.wMinute, tm.tm_min) << t;
    ASSERT_EQ(st.wSecond, tm.tm_sec) << t;
    FILETIME back;
    ASSERT_EQ(SystemTimeToFileTime(&st, &back), 1);
    ASSERT_EQ(Value(back), Value(ft)) << t;
  }
}

TEST(SystemTime, FirstDayIsZeroAndMillisecondsCount) {
  SYSTEMTIME st = Date(1601, 1, 1);
  FILETIME ft = Make(123);
  EXPECT_EQ(SystemTimeToFileTime(&st, &ft), 1);
  EXPECT_EQ(Value(ft), 0u);
  st = Date(1601, 1, 1, 0, 0, 1, 250);
  SystemTimeToFileTime(&st, &ft);
  EXPECT_EQ(Value(ft), 12500000u);
}

TEST(SystemTime, TimeOfDayIsAddedUnchecked) {
  SYSTEMTIME st = Date(2000, 1, 1, 30);  // an hour of 30 adds 30 hours
  FILETIME a, b;
  ASSERT_EQ(SystemTimeToFileTime(&st, &a), 1);
  st = Date(2000, 1, 2, 6);
  ASSERT_EQ(SystemTimeToFileTime(&st, &b), 1);
  EXPECT_EQ(Value(a), Value(b));
}

TEST(SystemTime, InvalidDatesFailWithInvalidData) {
  const SYSTEMTIME bad[] = {
      Date(1600, 12, 31), Date(2023, 2, 29), Date(1900, 2, 29), Date(2024, 13, 1),
      Date(2024, 0, 1),   Date(2024, 4, 31), Date(2024, 1, 0),  Date(2024, 1, 32),
      Date(0, 1, 1),
  };
  for (const SYSTEMTIME& st : bad) {
    FILETIME ft = Make(77);
    SetLastError(0);
    EXPECT_EQ(SystemTimeToFileTime(&st, &ft), 0) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    EXPECT_EQ(GetLastError(), 13u);
    EXPECT_EQ(Value(ft), 77u);  // untouched
  }
  SYSTEMTIME leap = Date(2000, 2, 29);
  FILETIME ft;
  EXPECT_EQ(SystemTimeToFileTime(&leap, &ft), 1);
}

TEST(SystemTime, TzConversionCopiesUnchanged) {
  SYSTEMTIME in = Date(2026, 12, 10, 12, 30, 5, 9), out{};
  EXPECT_EQ(SystemTimeToTzSpecificLocalTime(nullptr, &in, &out), 0);
  EXPECT_EQ(memcmp(&in, &out, sizeof in), 0);
}

TEST(SystemTime, NowAgreesWithFileTimeNow) {
  SYSTEMTIME st;
  GetSystemTime(&st);
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  SYSTEMTIME st2;
  FileTimeToSystemTime(&ft, &st2);
  EXPECT_EQ(st.wYear, st2.wYear);
  EXPECT_EQ(st.wMonth, st2.wMonth);
  EXPECT_EQ(st.wDay, st2.wDay);
}

TEST(LastError, IsErrno) {
  SetLastError(EEXIST);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(EEXIST));
  errno = 2;
  EXPECT_EQ(GetLastError(), 2u);
}

// The layer's own Win32 numbers read back as set, while errno holds the
// nearest errno value, so that strerror describes them.
TEST(LastError, TheLayersOwnNumbersKeepTheirMeaningInErrno) {
  const struct {
    DWORD code;
    int errnoValue;
  } rows[] = {
      {ERROR_NOT_ENOUGH_MEMORY, ENOMEM}, {ERROR_INVALID_DATA, EINVAL},       {ERROR_OUTOFMEMORY, ENOMEM},
      {ERROR_NO_MORE_FILES, ENODATA},     {ERROR_INVALID_PARAMETER, EINVAL}, {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    SetLastError(row.code);
    EXPECT_EQ(GetLastError(), row.code);
    EXPECT_EQ(errno, row.errnoValue);
    EXPECT_STREQ(strerror(errno), strerror(row.errnoValue));
  }
  SetLastError(ERROR_INVALID_DATA);
  EXPECT_STRNE(strerror(errno), strerror(EACCES));
  // A system failure afterwards is the last error again.
  errno = EBADF;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
  SetLastError(0);
  EXPECT_EQ(GetLastError(), 0u);
}

}  // namespace
