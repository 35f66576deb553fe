// Object roots of the engine and the run-time class records.
//
// Every long-lived engine object derives from CObj. Objects that are handed
// around derive from CSharedObj (an atomic reference count that starts at 0)
// and are held through CSharedObjPtr:
//
//   class CNode : public CSharedObj {};
//   CSharedObjPtr<CNode> a = new CNode;  // count 1: the first holder's reference
//   CSharedObjPtr<CNode> b = a;          // count 2
//   a = nullptr;                          // count 1; b's release deletes the node
//
// Classes whose objects are stored by class name register a CRTTI record with
// a static CClassInit while the library loads; GetRTTI finds the record by name
// and CreateObject makes an empty object of the class:
//
//   CRTTI* rec = GetRTTI("CMemMatrix");
//   CObj* obj = rec ? rec->CreateObject() : nullptr;   // null: bad record
#ifndef TELSOR_FOUNDATION_OBJ_H
#define TELSOR_FOUNDATION_OBJ_H

#include <stddef.h>

#include "foundation/win32.h"
#include "foundation/wintypes.h"

namespace telsor {

class CObj;
class CObjArchive;  // named in Serialize's signature only

// One static record per registered class, named class<ClassName>.
struct CRTTI {
  const char* m_lpszClassName;  // class name without namespace
  int m_nObjectSize;
  UINT m_wSchema;               // 0xFFFF in every record
  CObj* (*m_pfnCreateObject)();  // null for abstract classes
  CRTTI* m_pBaseClass;          // null for CObj
  CRTTI* m_pNextClass;          // set at registration

  // A new default-constructed object, or null for an abstract class or a
  // factory that throws (an engine exception thrown by it is released here).
  CObj* CreateObject() const;
};

// Registers one record at load time: the newest registration is found first.
// The list is written only while the library loads and read without a lock.
class CClassInit {
 public:
  explicit CClassInit(CRTTI* record);
};

// The registered record whose class name equals name exactly, or null.
CRTTI* GetRTTI(const char* name);

class CObj {
 public:
  CObj() {}
  virtual ~CObj();
  virtual CRTTI* GetRuntimeClass() const;
  virtual void Serialize(CObjArchive& archive);

  // Engine objects come from the ordinary heap; a failed allocation throws
  // the engine's out-of-memory exception (CMemoryException*), never bad_alloc.
  static void* operator new(size_t size);
  static void operator delete(void* p);

  static CRTTI classCObj;
};

// A CObj with an atomic reference count. Created with count 0: the creator
// takes the first reference. The Release that brings the count to 0 deletes
// the object, on whichever thread makes it.
class CSharedObj : public CObj {
 public:
  CSharedObj() : m_nRefCount(0) {}
  ~CSharedObj() override;

  LONG AddRef() const { return InterlockedIncrement(&m_nRefCount); }
  LONG Release() const {
    LONG n = InterlockedDecrement(&m_nRefCount);
    if (n == 0) delete this;
    return n;
  }

 private:
  mutable LONG m_nRefCount;
};

// Holds one reference to a CSharedObj descendant, or to any object with
// AddRef and Release such as an IStream (or nothing). A reference that a
// function hands out through T** is taken over with Out(), and one the
// holder gives away with Detach():
//
//   CSharedObjPtr<IStream> stream;
//   HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.Out());  // adopted, count 1
//   if (FAILED(hr)) return hr;
//   *out = stream.Detach();                                         // the caller's now
template <class T>
class CSharedObjPtr {
 public:
  CSharedObjPtr() : m_p(nullptr) {}
  CSharedObjPtr(T* p) : m_p(p) {  // NOLINT: implicit like a plain pointer
    if (m_p) m_p->AddRef();
  }
  CSharedObjPtr(const CSharedObjPtr& other) : m_p(other.m_p) {
    if (m_p) m_p->AddRef();
  }
  ~CSharedObjPtr() {
    if (m_p) m_p->Release();
  }

  // The new object gains its reference before the old one is released, so
  // assigning the object already held never deletes it on the way.
  CSharedObjPtr& operator=(T* p) {
    if (p) p->AddRef();
    T* old = m_p;
    m_p = p;
    if (old) old->Release();
    return *this;
  }
  CSharedObjPtr& operator=(const CSharedObjPtr& other) {
    if (m_p == other.m_p) return *this;
    return *this = other.m_p;
  }

  // Takes over a reference already held (no AddRef): the holder releases it.
  static CSharedObjPtr Adopt(T* p) {
    CSharedObjPtr held;
    held.m_p = p;
    return held;
  }
  // Releases what is held; the address of the now empty pointer, for a
  // function that hands out a reference through T**.
  T** Out() {
    *this = nullptr;
    return &m_p;
  }
  // Gives the reference away unreleased; the holder is left empty.
  T* Detach() {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }

  T* operator->() const { return m_p; }
  T& operator*() const { return *m_p; }
  operator T*() const { return m_p; }  // also the null test

 private:
  T* m_p;
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_OBJ_H
