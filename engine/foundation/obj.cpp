// Object roots and the process-wide list of run-time class records.
#include "foundation/obj.h"

#include <new>

#include "foundation/errorroad.h"
#include "foundation/exception.h"

namespace telsor {

namespace {
// Head of the registered records, newest first; filled while the library loads.
CRTTI* g_pFirstClass = nullptr;
}  // namespace

CRTTI CObj::classCObj = {"CObj", static_cast<int>(sizeof(CObj)), 0xFFFF, nullptr, nullptr,
                         nullptr};

CObj::~CObj() {}

CRTTI* CObj::GetRuntimeClass() const { return &classCObj; }

void CObj::Serialize(CObjArchive&) {}

void* CObj::operator new(size_t size) {
  void* p = ::operator new(size, std::nothrow);
  if (p == nullptr) AfxThrowMemoryException();
  return p;
}

void CObj::operator delete(void* p) { ::operator delete(p); }

CSharedObj::~CSharedObj() {}

CObj* CRTTI::CreateObject() const {
  if (m_pfnCreateObject == nullptr) return nullptr;
  CObj* obj = nullptr;
  ResultOf([&] { obj = m_pfnCreateObject(); });  // a failure is released: null
  return obj;
}

CClassInit::CClassInit(CRTTI* record) {
  record->m_pNextClass = g_pFirstClass;
  g_pFirstClass = record;
}

CRTTI* GetRTTI(const char* name) {
  if (name == nullptr) return nullptr;
  for (CRTTI* r = g_pFirstClass; r != nullptr; r = r->m_pNextClass)
    if (lstrcmpA(r->m_lpszClassName, name) == 0) return r;
  return nullptr;
}

}  // namespace telsor
