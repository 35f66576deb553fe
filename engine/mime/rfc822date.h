// CRfc822Date: a Date header value as an instant in UT, and back.
//
//   CRfc822Date d;                                      // zeroed
//   bool ok = d.SetDate("Tue, 1 Jul 2003 10:52:37 +0200");
//   d.GetTime();                                        // 2003-07-01 08:52:37 UT
//   char text[80];
//   d.Compose(text, sizeof text);   // the same instant in the host's zone,
//                                   // e.g. "Tue, 1 Jul 2003 09:52:37 +0100"
//
// Tolerant where mail is sloppy: any words before the day, any case in
// month names, two-digit years (2000 + year), named US zones (first letter
// as written, the rest in any case), military letters, "+hhmm", "+hh",
// "+hh:mm" and a sign apart from its digits. Strict in a few places: the
// seconds are required and the calendar date must exist. A false answer may
// still leave an instant formed (no seconds); the caller decides.
// SetDate reads at most the first 1,023 bytes and never past the given
// length. Compose uses the host's time zone (TZ) through localtime_r, so it
// is safe when many threads compose at once.
#ifndef TELSOR_MIME_RFC822DATE_H
#define TELSOR_MIME_RFC822DATE_H

#include <time.h>

#include "foundation/wintypes.h"

namespace telsor {

class CRfc822Date {
 public:
  // Bytes of a date text that are read.
  static const ULONG MAX_TEXT = 1023;

  CRfc822Date();

  // Parses an RFC 822 date-time; true only when every field passed its check
  // and the instant could be formed. A null text returns false and changes
  // nothing.
  bool SetDate(const char* text);
  bool SetDate(const char* text, ULONG length);
  // The fields := time (as UT), the instant from them; the conversion's
  // result (0 when the date does not exist).
  BOOL SetDate(const SYSTEMTIME& time);
  // "%s, %d %s %4d %02d:%02d:%02d %c%02d%02d": the instant in the host's
  // local time and the zone's offset; an empty text when the fields fail
  // IsDateValid; cut to size (always terminated); nothing for a null buffer
  // or size 0.
  void Compose(char* buffer, ULONG size) const;

  const FILETIME& GetInstant() const { return m_ftInstant; }
  const SYSTEMTIME& GetTime() const { return m_stTime; }

  // 1 when year is 1970-2999, month 1-12, day of week 0-6, hour 0-24,
  // minute and second 0-60 (day and milliseconds are not examined).
  static int IsDateValid(const SYSTEMTIME& time);
  // mktime of the fields read as local time; 0 when IsDateValid fails.
  static time_t SystemTimeToScalar(const SYSTEMTIME& time);
  // Julian day numbers (Fliegel and Van Flandern).
  static ULONG DateToJulian(ULONG year, ULONG month, ULONG day);
  // Each result is stored only when its pointer is not null; a year 0 comes
  // out as 0xFFFFFFFF.
  static void JulianToDate(ULONG julian, ULONG* year, ULONG* month, ULONG* day);

 private:
  FILETIME m_ftInstant;
  SYSTEMTIME m_stTime;
};

}  // namespace telsor

#endif  // TELSOR_MIME_RFC822DATE_H
