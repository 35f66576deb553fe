// The process-wide logger: level filter, record queue, batched writing.
#include "foundation/logsystem.h"

#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <new>

#include "foundation/cpcriticalsection.h"
#include "foundation/errorroad.h"
#include "foundation/plist.h"
#include "foundation/strhelpers.h"
#include "foundation/tstring.h"
#include "foundation/win32.h"

namespace telsor {

namespace {

typedef CPList<CLogMsgStorage*, CLogMsgStorage*> CLogQueue;

// Logger state. The lock and the queue exist exactly while the logger is
// open; the lock guards everything here except the mask (atomic).
TSTRING s_strLogFile;
CCPCriticalSection* s_pLock = nullptr;
LPLOGREPORTEVENT s_pfnReport = nullptr;
LONG s_nLevelMask = 0;
FILE* s_pStream = nullptr;
CLogQueue* s_pQueue = nullptr;
DWORD s_dwThreshold = 0;
time_t s_tLastOpenFailure = 0;

// Seconds between two reports of an unopenable log file.
const time_t kOpenFailureQuiet = 60;

void WriteLine(FILE* out, const CLogMsgStorage& rec) {
  struct tm local;
  if (localtime_r(&rec.m_time, &local) == nullptr) memset(&local, 0, sizeof local);
  // Write errors are ignored: there is nowhere left to report them.
  fprintf(out, "(%-8.8s:%05lu) %d/%d/%d %d:%02d:%02d %s \n", LogLvl2Str(rec.m_dwLevel),
          static_cast<unsigned long>(rec.m_dwThread), local.tm_mon + 1, local.tm_mday,
          local.tm_year - 100, local.tm_hour, local.tm_min, local.tm_sec, rec.m_pszText);
}

// Caller holds the lock.
void FlushLocked() {
  if (s_pQueue->IsEmpty()) return;
  FILE* file = nullptr;
  if (!s_strLogFile.IsEmpty()) {
    file = fopen(s_strLogFile.c_str(), "at");
    if (file == nullptr) {
      int err = errno;
      time_t now = time(nullptr);
      if (now > s_tLastOpenFailure + kOpenFailureQuiet) {
        s_tLastOpenFailure = now;
        char message[4352];
        snprintf(message, sizeof message, "Cannot open log file \"%s\" [%s].",
                 s_strLogFile.c_str(), strerror(err));
        if (s_pfnReport != nullptr) s_pfnReport(1, message);
      }
    }
  }
  // Drained from the head one by one: the report above may have logged, and
  // a nested flush may already have taken records.
  while (!s_pQueue->IsEmpty()) {
    void* head = s_pQueue->GetHeadPosition();
    std::unique_ptr<CLogMsgStorage> rec(s_pQueue->GetAt(head));
    s_pQueue->RemoveAt(head);
    if (s_pStream != nullptr) WriteLine(s_pStream, *rec);
    if (file != nullptr) WriteLine(file, *rec);
  }
  if (file != nullptr) fclose(file);
}

}  // namespace

CLogMsgStorage::CLogMsgStorage(DWORD level, const char* text)
    : m_time(time(nullptr)), m_dwLevel(level), m_dwThread(0), m_dwLength(0), m_pszText(m_szBuffer) {
  size_t length = strlen(text);
  if (length >= sizeof m_szBuffer) {
    char* heap = new (std::nothrow) char[length + 1];
    if (heap != nullptr)
      m_pszText = heap;
    else
      length = sizeof m_szBuffer - 1;  // short of memory: keep what fits inline
  }
  memcpy(m_pszText, text, length);
  m_pszText[length] = '\0';
  m_dwLength = static_cast<DWORD>(length);
}

CLogMsgStorage::~CLogMsgStorage() {
  if (m_pszText != m_szBuffer) delete[] m_pszText;
}

int OpenLogSystem(DWORD threshold) {
  if (s_pLock != nullptr) return 0;
  std::unique_ptr<CLogQueue> queue(new CLogQueue(10));
  s_pLock = new CCPCriticalSection;
  s_pQueue = queue.release();
  s_dwThreshold = threshold;
  return 1;
}

void CloseLogSystem() {
  if (s_pLock == nullptr) return;
  {
    CCPLockGuard lock(*s_pLock);
    FlushLocked();
  }
  delete s_pLock;
  s_pLock = nullptr;
  delete s_pQueue;  // empty after the flush
  s_pQueue = nullptr;
}

void FlushLogSystem() {
  if (s_pLock == nullptr) return;
  CCPLockGuard lock(*s_pLock);
  FlushLocked();
}

DWORD SetLogLevel(DWORD mask) {
  return static_cast<DWORD>(InterlockedExchange(&s_nLevelMask, static_cast<LONG>(mask)));
}

void SetOutLogStream(FILE* stream) {
  if (s_pLock == nullptr) return;
  CCPLockGuard lock(*s_pLock);
  s_pStream = stream;
}

void SetOutLogFile(const char* path) {
  if (s_pLock == nullptr) return;
  CCPLockGuard lock(*s_pLock);
  s_strLogFile.Release();
  if (path != nullptr) s_strLogFile = path;
}

LPLOGREPORTEVENT SetExternReportEvent(LPLOGREPORTEVENT callback) {
  if (s_pLock == nullptr) return nullptr;
  CCPLockGuard lock(*s_pLock);
  LPLOGREPORTEVENT old = s_pfnReport;
  s_pfnReport = callback;
  return old;
}

void LogMessage(DWORD level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogMessageV(level, format, args);
  va_end(args);
}

void LogMessageV(DWORD level, const char* format, va_list args) {
  DWORD mask = static_cast<DWORD>(__atomic_load_n(&s_nLevelMask, __ATOMIC_RELAXED));
  if ((level & mask) == 0) return;
  if (format == nullptr) format = "";

  // A message that cannot be given memory is dropped: logging never throws.
  va_list probe;
  va_copy(probe, args);
  int bound = GetFormatMaxLength(format, probe);
  va_end(probe);
  size_t bufferSize = static_cast<size_t>(bound) + 1;
  std::unique_ptr<char[]> text(new (std::nothrow) char[bufferSize]);
  std::unique_ptr<char[]> cformat(new (std::nothrow) char[strlen(format) + 1]);
  if (!text || !cformat) return;
  TranslateFormat(format, cformat.get());
  text[0] = '\0';
  text[bound] = '\0';
  va_list expand;
  va_copy(expand, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  // A longer or failed expansion keeps what was written, cut at the bound.
  vsnprintf(text.get(), bufferSize, cformat.get(), expand);
#pragma GCC diagnostic pop
  va_end(expand);

  if (s_pLock == nullptr) return;

  DWORD thread = static_cast<DWORD>(static_cast<uintptr_t>(pthread_self()));
  std::unique_ptr<CLogMsgStorage> rec(new (std::nothrow) CLogMsgStorage(level, text.get()));
  if (!rec) return;

  LPLOGREPORTEVENT report;
  DWORD count;
  DWORD threshold;
  {
    CCPLockGuard lock(*s_pLock);
    rec->m_dwThread = thread;
    report = s_pfnReport;
    if (FAILED(ResultOf([&] { s_pQueue->AddTail(rec.get()); }))) return;
    rec.release();
    count = static_cast<DWORD>(s_pQueue->GetCount());
    threshold = s_dwThreshold;
  }
  if (report != nullptr) report(level, text.get());
  if (count >= threshold) FlushLogSystem();
}

const char* LogLvl2Str(DWORD level) {
  switch (level) {
    case 1: return "Error";
    case 2: return "CRITICAL";
    case 4: return "Warning";
    case 8: return "Info";
    case 16: return "Debug";
    default: return "";
  }
}

}  // namespace telsor
