// Read-write lock: many readers or one writer.
//
//   CRWMonitor m_monitor;                // guards m_cache
//   m_monitor.BeginRead();  lookup in m_cache;  m_monitor.EndRead();
//   m_monitor.BeginWrite(); change m_cache;     m_monitor.EndWrite();
//
// A writer must not re-enter, and a reader must not upgrade to writing (both
// deadlock). Results are 0 or a POSIX error number. Copying gives a fresh,
// unlocked lock; assignment changes nothing.
#ifndef TELSOR_FOUNDATION_RWMONITOR_H
#define TELSOR_FOUNDATION_RWMONITOR_H

#include <pthread.h>

namespace telsor {

class CRWMonitor {
 public:
  CRWMonitor();
  CRWMonitor(const CRWMonitor&);
  CRWMonitor& operator=(const CRWMonitor&) { return *this; }
  ~CRWMonitor();

  int BeginRead();
  int EndRead();
  int BeginWrite();
  int EndWrite();

 private:
  void Init();

  pthread_rwlock_t m_lock;
  pthread_rwlockattr_t m_attr;
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_RWMONITOR_H
