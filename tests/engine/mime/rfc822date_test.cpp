// RFC 822 dates: a table of Date texts and the UT instant each gives (with
// the answer), composing under fixed time zones, the calendar helpers.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <string>

#include "foundation/win32.h"
#include "mime/rfc822date.h"
#include "mimetestutil.h"

using namespace telsor;
using mime_test::ExactBytes;

namespace {

struct Ut {
  int year, month, day, hour, minute, second;
  bool operator==(const Ut& o) const {
    return year == o.year && month == o.month && day == o.day && hour == o.hour && minute == o.minute &&
           second == o.second;
  }
};

std::ostream& operator<<(std::ostream& os, const Ut& u) {
  return os << u.year << "-" << u.month << "-" << u.day << " " << u.hour << ":" << u.minute << ":" << u.second;
}

// The instant as UT fields (all zero for an instant of 0).
Ut InstantOf(const CRfc822Date& d) {
  const FILETIME& ft = d.GetInstant();
  if (ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0) return {0, 0, 0, 0, 0, 0};
  SYSTEMTIME st;
  FileTimeToSystemTime(&ft, &st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

struct Row {
  std::string text;
  bool ok;
  Ut ut;
};

TEST(Rfc822Date, ParseTable) {
  const Ut none = {0, 0, 0, 0, 0, 0};
  const Row rows[] = {
      {"Tue, 1 Jul 2003 10:52:37 +0200", true, {2003, 7, 1, 8, 52, 37}},
      {"1 Jul 2003 10:52:37 +0200", true, {2003, 7, 1, 8, 52, 37}},
      {"Date: Tue, 1 Jul 2003 10:52:37 +0200", true, {2003, 7, 1, 8, 52, 37}},
      {"Tuesday,1 Jul 2003 10:52:37 +0200", true, {2003, 7, 1, 8, 52, 37}},
      // Only the first word ends at a comma: "Tue,1" is one word here.
      {"Date: Tue,1 Jul 2003 10:52:37", false, none},
      {"Thu, 13 Feb 97 12:00:00 GMT", true, {2097, 2, 13, 12, 0, 0}},
      {"13 Feb 04 12:00:00 UT", true, {2004, 2, 13, 12, 0, 0}},
      {"Mon, 12 Jan 2004 10:30 +0000", false, {2004, 1, 12, 10, 30, 0}},  // no seconds: formed but false
      {"12 Jan 2004", true, {2004, 1, 12, 0, 0, 0}},
      {"12 Jan 2004 10:00:00", true, {2004, 1, 12, 10, 0, 0}},
      {"31 Feb 2004 10:00:00 +0000", false, none},
      {"12 Foo 2004 10:00:00", false, none},
      {"29 Feb 2004 10:00:00 +0000", true, {2004, 2, 29, 10, 0, 0}},
      {"29 Feb 2003 10:00:00 +0000", false, none},
      {"12 Jan 2004 10:00:00 EST", true, {2004, 1, 12, 15, 0, 0}},
      {"12 Jan 2004 10:00:00 Est", true, {2004, 1, 12, 15, 0, 0}},
      {"12 Jan 2004 10:00:00 est", true, {2004, 1, 12, 10, 0, 0}},  // first letter must match exactly
      {"12 Jan 2004 10:00:00 PDT", true, {2004, 1, 12, 17, 0, 0}},
      {"12 Jan 2004 10:00:00 (EST)", true, {2004, 1, 12, 15, 0, 0}},
      {"12 Jan 2004 10:00:00 + 0500", true, {2004, 1, 12, 5, 0, 0}},
      {"12 Jan 2004 10:00:00 +05", true, {2004, 1, 12, 5, 0, 0}},
      {"12 Jan 2004 10:00:00 +01:00", true, {2004, 1, 12, 9, 0, 0}},
      {"12 Jan 2004 10:00:00 -0430", true, {2004, 1, 12, 14, 30, 0}},
      {"12 Jan 2004 10:00:00 0200", true, {2004, 1, 12, 8, 0, 0}},
      {"12 Jan 2004 10:00:00 -", true, {2004, 1, 12, 10, 0, 0}},
      {"12 Jan 2004 10:00:00 A", true, {2004, 1, 12, 11, 0, 0}},
      {"12 Jan 2004 10:00:00 I", true, {2004, 1, 12, 19, 0, 0}},
      {"12 Jan 2004 10:00:00 K", true, {2004, 1, 12, 20, 0, 0}},
      {"12 Jan 2004 10:00:00 M", true, {2004, 1, 12, 22, 0, 0}},
      {"12 Jan 2004 10:00:00 N", true, {2004, 1, 12, 9, 0, 0}},
      {"12 Jan 2004 10:00:00 Y", true, {2004, 1, 11, 22, 0, 0}},
      {"12 Jan 2004 10:00:00 Z", true, {2004, 1, 12, 10, 0, 0}},
      {"12 Jan 2004 10:00:00 J", true, {2004, 1, 12, 10, 0, 0}},
      {"12 Jan 2004 10:00:00 a", true, {2004, 1, 12, 10, 0, 0}},
      {"12 Jan 2004 10:00:00 +0000 and more words", true, {2004, 1, 12, 10, 0, 0}},
      {"12 jan 2004 23:59:60 +0000", true, {2004, 1, 13, 0, 0, 0}},
      {"12 January 2004 24:00:00 +0000", true, {2004, 1, 13, 0, 0, 0}},
      {"1 Jan 2000 00:30:00 +0100", true, {1999, 12, 31, 23, 30, 0}},
      {"12 Jan 104 10:00:00", false, none},  // three-digit years stay and fail
      {"12 Jan 2004 10:30:5", false, {2004, 1, 12, 10, 30, 5}},
      {"12 Jan 2004 1:2:03", true, {2004, 1, 12, 1, 2, 3}},
      {"12 Jan 2004 1:2:3", false, {2004, 1, 12, 1, 2, 3}},
      {"0 Jan 2004 10:00:00", false, none},
      {"12 Jan 2x04 10:00:00", false, {2002, 1, 12, 10, 0, 0}},
      {"10:00:00 12 Jan 2004", false, none},
      {"Tuesday", false, none},
      {"", false, none},
      {"1 Jan 1601 00:00:00 +0100", false, none},  // before the first instant
      {"31 Dec 30827 23:00:00 -1000000000", false, {30827, 12, 31, 23, 0, 0}},  // past the last one
      {"99999 Jan 2004 10:00:00", false, none},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    ExactBytes in(row.text);
    CRfc822Date d;
    EXPECT_EQ(d.SetDate(in.chars(), in.size()), row.ok);
    EXPECT_EQ(InstantOf(d), row.ut);
    CRfc822Date z;
    EXPECT_EQ(z.SetDate(row.text.c_str()), row.ok);
  }
}

TEST(Rfc822Date, ZoneMoveFillsTheDayOfWeek) {
  CRfc822Date d;
  ASSERT_TRUE(d.SetDate("Tue, 1 Jul 2003 10:52:37 +0200"));
  EXPECT_EQ(d.GetTime().wDayOfWeek, 2);
  EXPECT_EQ(d.GetTime().wHour, 8);
  // Without an offset the fields stay as parsed.
  ASSERT_TRUE(d.SetDate("Tue, 1 Jul 2003 24:00:00 +0000"));
  EXPECT_EQ(d.GetTime().wHour, 24);
  EXPECT_EQ(d.GetTime().wDayOfWeek, 0);
}

TEST(Rfc822Date, NullTextChangesNothing) {
  CRfc822Date d;
  ASSERT_TRUE(d.SetDate("1 Jul 2003 10:52:37"));
  EXPECT_FALSE(d.SetDate(nullptr));
  EXPECT_FALSE(d.SetDate(nullptr, 10));
  EXPECT_EQ(InstantOf(d), (Ut{2003, 7, 1, 10, 52, 37}));
}

TEST(Rfc822Date, OnlyTheFirst1023BytesAreRead) {
  std::string pad(1000, ' ');
  CRfc822Date d;
  EXPECT_TRUE(d.SetDate((pad + "1 Jul 2003 10:52:37 +0200" + std::string(975, 'x')).c_str()));
  EXPECT_EQ(InstantOf(d), (Ut{2003, 7, 1, 8, 52, 37}));
  // The zone lies past byte 1023: read as UT.
  std::string late = std::string(1004, ' ') + "1 Jul 2003 10:52:37 +0200" + std::string(971, 'x');
  EXPECT_EQ(late.size(), 2000u);
  EXPECT_TRUE(d.SetDate(late.c_str()));
  EXPECT_EQ(InstantOf(d), (Ut{2003, 7, 1, 10, 52, 37}));
  EXPECT_FALSE(d.SetDate((std::string(1030, ' ') + "1 Jul 2003 10:52:37").c_str()));
}

// Sets TZ for one test and restores the previous value afterwards.
class ZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("TZ");
    m_hadZone = old != nullptr;
    if (m_hadZone) m_oldZone = old;
  }
  void TearDown() override {
    if (m_hadZone) setenv("TZ", m_oldZone.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  static void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  static std::string Composed(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, ULONG size = 80) {
    SYSTEMTIME st = {y, mo, 0, d, h, mi, s, 0};
    CRfc822Date date;
    EXPECT_TRUE(date.SetDate(st) || y >= 3000);
    char buffer[80];
    memset(buffer, '#', sizeof buffer);
    date.Compose(buffer, size);
    return buffer;
  }

 private:
  bool m_hadZone = false;
  std::string m_oldZone;
};

TEST_F(ZoneTest, ComposeOneHourEast) {
  Zone("<+01>-1");
  EXPECT_EQ(Composed(2026, 12, 9, 8, 45, 10), "Wed, 9 Dec 2026 09:45:10 +0100");
  EXPECT_EQ(Composed(2026, 12, 31, 23, 30, 0), "Fri, 1 Jan 2027 00:30:00 +0100");
  EXPECT_EQ(Composed(2026, 12, 9, 24, 0, 0), "Thu, 10 Dec 2026 01:00:00 +0100");
}

TEST_F(ZoneTest, ComposeUnderDaylightSavingRules) {
  Zone("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(Composed(2026, 12, 9, 8, 45, 10), "Wed, 9 Dec 2026 03:45:10 -0500");
  EXPECT_EQ(Composed(2026, 7, 9, 8, 45, 10), "Thu, 9 Jul 2026 04:45:10 -0400");
  EXPECT_EQ(Composed(1970, 1, 1, 0, 0, 0), "Wed, 31 Dec 1969 19:00:00 -0500");
}

TEST_F(ZoneTest, ComposeHalfHourZoneAndLimits) {
  Zone("<+0530>-5:30");
  EXPECT_EQ(Composed(2026, 12, 9, 8, 45, 10), "Wed, 9 Dec 2026 14:15:10 +0530");
  EXPECT_EQ(Composed(2026, 12, 9, 8, 45, 10, 10), "Wed, 9 De");
  EXPECT_EQ(Composed(1969, 12, 31, 0, 0, 0), "");
  EXPECT_EQ(Composed(3000, 1, 1, 0, 0, 0), "");
  CRfc822Date zero;
  char buffer[4] = {'x', 'x', 'x', 'x'};
  zero.Compose(buffer, 0);
  EXPECT_EQ(buffer[0], 'x');
  zero.Compose(nullptr, 10);
  zero.Compose(buffer, 4);
  EXPECT_EQ(buffer[0], '\0');
}

TEST_F(ZoneTest, ParsedDateComposesBackInTheSameInstant) {
  Zone("EST5EDT,M3.2.0,M11.1.0");
  CRfc822Date d;
  ASSERT_TRUE(d.SetDate("Tue, 1 Jul 2003 10:52:37 +0200"));
  char text[80];
  d.Compose(text, sizeof text);
  EXPECT_STREQ(text, "Tue, 1 Jul 2003 04:52:37 -0400");
  CRfc822Date back;
  ASSERT_TRUE(back.SetDate(text));
  EXPECT_EQ(InstantOf(back), InstantOf(d));
}

TEST_F(ZoneTest, SystemTimeToScalarReadsLocalTime) {
  Zone("<+01>-1");
  SYSTEMTIME st = {2026, 12, 3, 9, 9, 45, 10, 0};
  struct tm ut = {};
  ut.tm_year = 126;
  ut.tm_mon = 11;
  ut.tm_mday = 9;
  ut.tm_hour = 8;
  ut.tm_min = 45;
  ut.tm_sec = 10;
  EXPECT_EQ(CRfc822Date::SystemTimeToScalar(st), timegm(&ut));
  st.wYear = 1969;
  EXPECT_EQ(CRfc822Date::SystemTimeToScalar(st), 0);
}

TEST(Rfc822Date, IsDateValidTable) {
  struct {
    SYSTEMTIME t;
    int valid;
  } rows[] = {
      {{1970, 1, 0, 1, 0, 0, 0, 0}, 1},    {{2999, 12, 6, 31, 24, 60, 60, 999}, 1},
      {{1969, 12, 0, 31, 0, 0, 0, 0}, 0},  {{3000, 1, 0, 1, 0, 0, 0, 0}, 0},
      {{2000, 0, 0, 1, 0, 0, 0, 0}, 0},    {{2000, 13, 0, 1, 0, 0, 0, 0}, 0},
      {{2000, 1, 7, 1, 0, 0, 0, 0}, 0},    {{2000, 1, 0, 1, 25, 0, 0, 0}, 0},
      {{2000, 1, 0, 1, 0, 61, 0, 0}, 0},   {{2000, 1, 0, 1, 0, 0, 61, 0}, 0},
      {{2000, 2, 0, 99, 0, 0, 0, 0}, 1},  // the day is not examined
  };
  for (const auto& row : rows) EXPECT_EQ(CRfc822Date::IsDateValid(row.t), row.valid) << row.t.wYear;
}

TEST(Rfc822Date, JulianDays) {
  EXPECT_EQ(CRfc822Date::DateToJulian(2000, 1, 1), 2451545u);
  EXPECT_EQ(CRfc822Date::DateToJulian(1970, 1, 1), 2440588u);
  EXPECT_EQ(CRfc822Date::DateToJulian(1600, 2, 29), 2305507u);
  // Round trips and consecutive days over four centuries.
  ULONG previous = CRfc822Date::DateToJulian(1799, 12, 31);
  for (ULONG y = 1800; y <= 2200; ++y) {
    for (ULONG m = 1; m <= 12; ++m) {
      static const ULONG kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      ULONG days = kDays[m - 1] + (m == 2 && (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0)) ? 1 : 0);
      for (ULONG d = 1; d <= days; ++d) {
        ULONG j = CRfc822Date::DateToJulian(y, m, d);
        ASSERT_EQ(j, previous + 1) << y << "-" << m << "-" << d;
        previous = j;
        ULONG yy = 0, mm = 0, dd = 0;
        CRfc822Date::JulianToDate(j, &yy, &mm, &dd);
        ASSERT_EQ(yy, y);
        ASSERT_EQ(mm, m);
        ASSERT_EQ(dd, d);
      }
    }
  }
  ULONG year = 0;
  CRfc822Date::JulianToDate(2451545u, &year, nullptr, nullptr);
  EXPECT_EQ(year, 2000u);
  // A day of the year 1 BC (year 0 in this reckoning) reports all bits set.
  CRfc822Date::JulianToDate(CRfc822Date::DateToJulian(0, 6, 1), &year, nullptr, nullptr);
  EXPECT_EQ(year, 0xFFFFFFFFu);
}

}  // namespace
