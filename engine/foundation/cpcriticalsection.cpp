#include "foundation/cpcriticalsection.h"

namespace telsor {

CCPCriticalSection::CCPCriticalSection() { Init(); }

// The source is not read: every object owns a mutex of its own.
CCPCriticalSection::CCPCriticalSection(const CCPCriticalSection&) { Init(); }

CCPCriticalSection::~CCPCriticalSection() { pthread_mutex_destroy(&m_mutex); }

void CCPCriticalSection::Init() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  if (pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0)
    pthread_mutex_init(&m_mutex, &attr);
  else
    pthread_mutex_init(&m_mutex, nullptr);  // never leave the mutex unset
  pthread_mutexattr_destroy(&attr);
}

bool CCPCriticalSection::Lock() { return pthread_mutex_lock(&m_mutex) == 0; }

int CCPCriticalSection::Unlock() { return pthread_mutex_unlock(&m_mutex); }

}  // namespace telsor
