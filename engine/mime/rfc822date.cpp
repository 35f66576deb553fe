// RFC 822 date-times.
#include "mime/rfc822date.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "foundation/win32.h"

namespace telsor {

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

struct NamedZone {
  const char* name;
  int minutes;
};
const NamedZone kZones[] = {{"EST", -300}, {"EDT", -240}, {"CST", -360}, {"CDT", -300},
                            {"MST", -420}, {"MDT", -360}, {"PST", -480}, {"PDT", -420}};

const char kFirstDelimiters[] = " ,\t\r\n)";
const char kDelimiters[] = " ()\t\r\n";

// 100-nanosecond steps per minute.
const long long kTicksPerMinute = 600000000LL;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal number of s as strtol reads it, held within +-10^9
// so that absurd values stay absurd without overflowing anything.
long long LeadingNumber(const char* s) {
  long long v = strtoll(s, nullptr, 10);
  if (v > 1000000000LL) return 1000000000LL;
  if (v < -1000000000LL) return -1000000000LL;
  return v;
}

// A 16-bit field from a number: too large saturates (and then fails the
// calendar check where one applies).
WORD Field(long long v) { return v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : static_cast<WORD>(v); }

// The broken-down form of the fields (to be read as UT or as local time).
struct tm BrokenDown(const SYSTEMTIME& t) {
  struct tm out;
  memset(&out, 0, sizeof out);
  out.tm_year = t.wYear - 1900;
  out.tm_mon = t.wMonth - 1;
  out.tm_mday = t.wDay;
  out.tm_hour = t.wHour;
  out.tm_min = t.wMinute;
  out.tm_sec = t.wSecond;
  return out;
}

// "A digit followed by a digit or a colon."
bool TimeFieldStarts(const char* s) { return IsDigit(s[0]) && (IsDigit(s[1]) || s[1] == ':'); }

// Offset from UT in minutes of a zone token.
long long ZoneMinutes(const char* token, char** save) {
  size_t n = strlen(token);
  if (token[0] == '+' || token[0] == '-' || IsDigit(token[0])) {
    const char* digits = token;
    if (n == 1) {
      digits = strtok_r(nullptr, " \t", save);
      if (digits == nullptr) return 0;
    }
    if (!IsDigit(digits[0]) && digits[0] != '\0') ++digits;
    long long v = LeadingNumber(digits);
    long long minutes = v < 100 ? v * 60 : v / 100 * 60 + v % 100;
    return token[0] == '-' ? -minutes : minutes;
  }
  if (n == 1) {
    char c = token[0];
    if (c >= 'A' && c <= 'I') return -60LL * (c - 'A' + 1);
    if (c >= 'K' && c <= 'M') return -60LL * (c - 'K' + 10);
    if (c >= 'N' && c <= 'Y') return 60LL * (c - 'N' + 1);
    return 0;
  }
  for (const NamedZone& zone : kZones) {
    if (token[0] == zone.name[0] && strcasecmp(token, zone.name) == 0) return zone.minutes;
  }
  return 0;
}

}  // namespace

CRfc822Date::CRfc822Date() {
  memset(&m_ftInstant, 0, sizeof m_ftInstant);
  memset(&m_stTime, 0, sizeof m_stTime);
}

bool CRfc822Date::SetDate(const char* text) {
  if (text == nullptr) return false;
  return SetDate(text, static_cast<ULONG>(strnlen(text, MAX_TEXT)));
}

bool CRfc822Date::SetDate(const char* text, ULONG length) {
  if (text == nullptr) return false;
  char work[MAX_TEXT + 1];
  size_t n = length < MAX_TEXT ? length : MAX_TEXT;
  memcpy(work, text, n);
  work[n] = '\0';

  memset(&m_ftInstant, 0, sizeof m_ftInstant);
  memset(&m_stTime, 0, sizeof m_stTime);
  long long offset = 0;
  bool ok = true;
  char* save = nullptr;
  char* token = strtok_r(work, kFirstDelimiters, &save);
  // Leading words, whatever they say.
  while (token != nullptr && !IsDigit(token[0])) token = strtok_r(nullptr, kDelimiters, &save);
  if (token == nullptr) return false;

  // The day.
  long long day = LeadingNumber(token);
  if (day == 0) ok = false;
  m_stTime.wDay = Field(day);
  // The month, by its first three letters.
  token = strtok_r(nullptr, kDelimiters, &save);
  if (token != nullptr) {
    int month = 0;
    for (int i = 0; i < 12 && month == 0; ++i)
      if (strncasecmp(token, kMonths[i], 3) == 0) month = i + 1;
    if (month == 0) ok = false;
    m_stTime.wMonth = static_cast<WORD>(month);
    // The year.
    token = strtok_r(nullptr, kDelimiters, &save);
  }
  if (token != nullptr) {
    if (!IsDigit(token[0]) || !IsDigit(token[1])) ok = false;
    long long year = LeadingNumber(token);
    if (year >= 0 && year < 100) year += 2000;
    m_stTime.wYear = Field(year);
    // The time: hours, minutes and seconds, all required.
    token = strtok_r(nullptr, kDelimiters, &save);
  }
  if (token != nullptr) {
    if (!TimeFieldStarts(token)) ok = false;
    m_stTime.wHour = Field(LeadingNumber(token));
    const char* colon = strchr(token, ':');
    if (colon == nullptr) {
      ok = false;
    } else {
      if (!TimeFieldStarts(colon + 1)) ok = false;
      m_stTime.wMinute = Field(LeadingNumber(colon + 1));
      colon = strchr(colon + 1, ':');
      if (colon == nullptr) {
        ok = false;
      } else {
        if (!TimeFieldStarts(colon + 1)) ok = false;
        m_stTime.wSecond = Field(LeadingNumber(colon + 1));
      }
    }
    // The zone; anything after it is ignored.
    token = strtok_r(nullptr, kDelimiters, &save);
    if (token != nullptr) offset = ZoneMinutes(token, &save);
  }

  if (!SystemTimeToFileTime(&m_stTime, &m_ftInstant)) return false;
  if (offset != 0) {
    unsigned long long instant =
        static_cast<unsigned long long>(m_ftInstant.dwHighDateTime) << 32 | m_ftInstant.dwLowDateTime;
    unsigned long long delta = static_cast<unsigned long long>(offset < 0 ? -offset : offset) * kTicksPerMinute;
    if (offset > 0) {
      if (delta > instant) return false;
      instant -= delta;
    } else {
      instant += delta;
    }
    // Beyond the last instant a FILETIME stands for (the year 30828).
    if (instant > 0x7FFFFFFFFFFFFFFFull) return false;
    m_ftInstant.dwLowDateTime = static_cast<DWORD>(instant);
    m_ftInstant.dwHighDateTime = static_cast<DWORD>(instant >> 32);
    if (!FileTimeToSystemTime(&m_ftInstant, &m_stTime)) return false;
  }
  return ok;
}

BOOL CRfc822Date::SetDate(const SYSTEMTIME& time) {
  m_stTime = time;
  return SystemTimeToFileTime(&m_stTime, &m_ftInstant);
}

void CRfc822Date::Compose(char* buffer, ULONG size) const {
  if (buffer == nullptr || size == 0) return;
  buffer[0] = '\0';
  if (!IsDateValid(m_stTime)) return;
  struct tm ut = BrokenDown(m_stTime);
  time_t instant = timegm(&ut);
  struct tm local;
  if (localtime_r(&instant, &local) == nullptr) return;
  long offset = local.tm_gmtoff / 60;
  char sign = offset >= 0 ? '+' : '-';
  if (offset < 0) offset = -offset;
  snprintf(buffer, size, "%s, %d %s %4d %02d:%02d:%02d %c%02d%02d", kDays[local.tm_wday], local.tm_mday,
           kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, sign,
           static_cast<int>(offset / 60 % 24), static_cast<int>(offset % 60));
}

int CRfc822Date::IsDateValid(const SYSTEMTIME& t) {
  return t.wYear >= 1970 && t.wYear <= 2999 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDayOfWeek <= 6 &&
                 t.wHour <= 24 && t.wMinute <= 60 && t.wSecond <= 60
             ? 1
             : 0;
}

time_t CRfc822Date::SystemTimeToScalar(const SYSTEMTIME& t) {
  if (!IsDateValid(t)) return 0;
  struct tm local = BrokenDown(t);
  local.tm_isdst = -1;
  return mktime(&local);
}

ULONG CRfc822Date::DateToJulian(ULONG year, ULONG month, ULONG day) {
  long long y = year, m = month, d = day;
  long long a = (m - 14) / 12;
  return static_cast<ULONG>((1461 * (y + 4800 + a)) / 4 + (367 * (m - 2 - 12 * a)) / 12 -
                            (3 * ((y + 4900 + a) / 100)) / 4 + d - 32075);
}

void CRfc822Date::JulianToDate(ULONG julian, ULONG* year, ULONG* month, ULONG* day) {
  ULONG l = julian + 68569u;
  ULONG n = (4u * l) / 146097u;
  l = l - (146097u * n + 3u) / 4u;
  ULONG i = (4000u * (l + 1u)) / 1461001u;
  l = l - (1461u * i) / 4u + 31u;
  ULONG j = (80u * l) / 2447u;
  ULONG d = l - (2447u * j) / 80u;
  l = j / 11u;
  ULONG m = j + 2u - 12u * l;
  ULONG y = 100u * n + i + l - 4900u;
  if (y == 0) y = 0u - 1u;  // there is no year 0
  if (year != nullptr) *year = y;
  if (month != nullptr) *month = m;
  if (day != nullptr) *day = d;
}

}  // namespace telsor
