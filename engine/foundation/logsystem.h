// The engine's process-wide logger.
//
// The host opens and configures it; engine code only logs and flushes:
//
//   OpenLogSystem(10);                 // flush every 10 messages
//   SetLogLevel(1 | 2 | 4);            // Error, CRITICAL, Warning
//   SetOutLogStream(stderr);
//   SetOutLogFile("/var/log/qor.log"); // appended to at each flush
//   LONGLONG left = 4096;
//   LogMessage(4, "%I64d bytes left", left);
//   CloseLogSystem();                  // writes what is still queued
//
// Each written line is
//   "(%-8.8s:%05lu) %d/%d/%d %d:%02d:%02d %s \n"
// level name, thread id, month/day/year-2000 hour:min:sec of the moment of
// logging (local time), text.
//
// Levels are bits: 1 "Error", 2 "CRITICAL", 4 "Warning", 8 "Info",
// 16 "Debug". A message is taken when its level shares a bit with the mask
// (0 at load: nothing is logged). While the logger is closed nothing is
// queued and the report callback is not called.
//
// Threads: any thread may log and flush; one recursive mutex guards the
// queue and the settings. OpenLogSystem and CloseLogSystem create and
// destroy that mutex: call them only while no other thread logs.
#ifndef TELSOR_FOUNDATION_LOGSYSTEM_H
#define TELSOR_FOUNDATION_LOGSYSTEM_H

#include <stdarg.h>
#include <stdio.h>
#include <time.h>

#include "foundation/wintypes.h"

namespace telsor {

// Receives every message at the moment it is logged (in the logging thread,
// no lock held), and the "Cannot open log file" report at level 1 (in the
// flushing thread, under the logger's lock; logging from it is allowed).
typedef void (*LPLOGREPORTEVENT)(DWORD level, const char* text);

// One queued message. The text lives in the inline buffer up to 255
// characters, else in a heap copy owned by the record.
class CLogMsgStorage {
 public:
  CLogMsgStorage(DWORD level, const char* text);
  ~CLogMsgStorage();
  CLogMsgStorage(const CLogMsgStorage&) = delete;
  CLogMsgStorage& operator=(const CLogMsgStorage&) = delete;

  time_t m_time;      // time(NULL) when logged
  DWORD m_dwLevel;    // as given by the caller
  DWORD m_dwThread;   // the logging thread's id, low 32 bits
  DWORD m_dwLength;   // text length without the NUL
  char* m_pszText;    // m_szBuffer or a heap array
  char m_szBuffer[256];
};

// 1 when opened, 0 when it already was open (nothing changes then).
int OpenLogSystem(DWORD threshold);
// Flushes and closes. Path, stream, callback, mask and threshold are kept
// for the next OpenLogSystem.
void CloseLogSystem();
// Writes the queued messages now; nothing when closed.
void FlushLogSystem();

// Works open or closed; returns the previous mask.
DWORD SetLogLevel(DWORD mask);
// These three do nothing while the logger is closed. The stream is not
// owned: it must stay open while it is set.
void SetOutLogStream(FILE* stream);
void SetOutLogFile(const char* path);
// Returns the previous callback (null when closed).
LPLOGREPORTEVENT SetExternReportEvent(LPLOGREPORTEVENT callback);

// printf-style, with "%I64d", "%I64u" and "%I64x" for 64-bit integers.
// (No format attribute: the compiler would read "%I64d" as an int.)
void LogMessage(DWORD level, const char* format, ...);
void LogMessageV(DWORD level, const char* format, va_list args);

// The level's name; "" for any value that is not a single known bit.
const char* LogLvl2Str(DWORD level);

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_LOGSYSTEM_H
