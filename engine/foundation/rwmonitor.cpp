#include "foundation/rwmonitor.h"

namespace telsor {

CRWMonitor::CRWMonitor() { Init(); }

// The source is not read: every object owns a lock of its own.
CRWMonitor::CRWMonitor(const CRWMonitor&) { Init(); }

CRWMonitor::~CRWMonitor() {
  pthread_rwlock_destroy(&m_lock);
  pthread_rwlockattr_destroy(&m_attr);
}

void CRWMonitor::Init() {
  pthread_rwlockattr_init(&m_attr);
  pthread_rwlock_init(&m_lock, nullptr);
}

int CRWMonitor::BeginRead() { return pthread_rwlock_rdlock(&m_lock); }
int CRWMonitor::EndRead() { return pthread_rwlock_unlock(&m_lock); }
int CRWMonitor::BeginWrite() { return pthread_rwlock_wrlock(&m_lock); }
int CRWMonitor::EndWrite() { return pthread_rwlock_unlock(&m_lock); }

}  // namespace telsor
