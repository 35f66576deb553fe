// Read-write lock: many readers or one writer.
//
//   CRWMonitor monitor;                  // guards cache
//   std::vector<int> cache;
//   monitor.BeginRead();
//   size_t seen = cache.size();          // any number of readers at once
//   monitor.EndRead();
//   monitor.BeginWrite();
//   cache.push_back(1);                  // one writer, no readers
//   monitor.EndWrite();
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
