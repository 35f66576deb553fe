// Recursive mutex of the engine.
//
//   static CCPCriticalSection s_lock;
//   s_lock.Lock();
//   s_lock.Lock();          // the owning thread may lock again...
//   s_lock.Unlock();
//   s_lock.Unlock();        // ...and unlocks as often
//
// Copying gives a fresh, unlocked mutex; assignment leaves both objects'
// mutexes as they were. Destroy it only when no thread holds it.
#ifndef TELSOR_FOUNDATION_CPCRITICALSECTION_H
#define TELSOR_FOUNDATION_CPCRITICALSECTION_H

#include <pthread.h>

namespace telsor {

class CCPCriticalSection {
 public:
  CCPCriticalSection();
  CCPCriticalSection(const CCPCriticalSection&);
  CCPCriticalSection& operator=(const CCPCriticalSection&) { return *this; }
  ~CCPCriticalSection();

  // True when the calling thread now holds the mutex.
  bool Lock();
  // 0, or the error number of pthread_mutex_unlock.
  int Unlock();

 private:
  void Init();

  pthread_mutex_t m_mutex;
};

// Holds a CCPCriticalSection for one scope, released also when an exception
// leaves it.
class CCPLockGuard {
 public:
  explicit CCPLockGuard(CCPCriticalSection& lock) : m_lock(lock) { m_lock.Lock(); }
  ~CCPLockGuard() { m_lock.Unlock(); }
  CCPLockGuard(const CCPLockGuard&) = delete;
  CCPLockGuard& operator=(const CCPLockGuard&) = delete;

 private:
  CCPCriticalSection& m_lock;
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_CPCRITICALSECTION_H
