// Object roots: shared objects, the counted pointer, run-time class records.
#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

#include "foundation/exception.h"
#include "foundation/obj.h"
#include "foundation/throwcode.h"

using namespace telsor;

namespace {

int g_alive = 0;

class CNode : public CSharedObj {
 public:
  CNode() { ++g_alive; }
  ~CNode() override { --g_alive; }
};

TEST(SharedObj, CountsAndDeletesAtZero) {
  g_alive = 0;
  CNode* n = new CNode;
  EXPECT_EQ(n->AddRef(), 1);
  EXPECT_EQ(n->AddRef(), 2);
  EXPECT_EQ(n->Release(), 1);
  EXPECT_EQ(g_alive, 1);
  EXPECT_EQ(n->Release(), 0);
  EXPECT_EQ(g_alive, 0);
}

TEST(SharedObjPtr, HoldsOneReferenceEach) {
  g_alive = 0;
  {
    CSharedObjPtr<CNode> a = new CNode;
    CNode* raw = a;
    EXPECT_EQ(raw->AddRef(), 2);  // a holds one
    raw->Release();
    CSharedObjPtr<CNode> b(a);
    CSharedObjPtr<CNode> c;
    EXPECT_EQ(static_cast<CNode*>(c), nullptr);
    c = b;
    c = c;  // self: unchanged
    EXPECT_EQ(raw->AddRef(), 4);
    raw->Release();
    b = raw;  // the object already held: must survive
    EXPECT_EQ(raw->AddRef(), 4);
    raw->Release();
    a = nullptr;
    c = nullptr;
    EXPECT_EQ(g_alive, 1);
    b = new CNode;  // the last holder moves on: the first node goes
    EXPECT_EQ(g_alive, 1);
    std::vector<CSharedObjPtr<CNode>> list(5, b);
    EXPECT_EQ(b->AddRef(), 7);
    b->Release();
  }
  EXPECT_EQ(g_alive, 0);
}

// ---- run-time class records ----

class CTestThing : public CObj {
 public:
  static CRTTI classCTestThing;
  CRTTI* GetRuntimeClass() const override { return &classCTestThing; }
  int value = 42;
};
CObj* MakeThing() { return new CTestThing; }
CObj* MakeFailingFile() { AfxThrowFileException(CFileException::fileNotFound, 2, "x"); }
CObj* MakeFailingCode() { ThrowCode(static_cast<DWORD>(E_FAIL)); }

CRTTI CTestThing::classCTestThing = {"CTestThing", sizeof(CTestThing), 0xFFFF, &MakeThing,
                                     &CObj::classCObj, nullptr};
CRTTI classCTestAbstract = {"CTestAbstract", sizeof(CObj), 0xFFFF, nullptr, &CObj::classCObj,
                            nullptr};
CRTTI classCTestFailing = {"CTestFailing", sizeof(CObj), 0xFFFF, &MakeFailingFile,
                           &CObj::classCObj, nullptr};
CRTTI classCTestFailingCode = {"CTestFailingCode", sizeof(CObj), 0xFFFF, &MakeFailingCode,
                               &CObj::classCObj, nullptr};
CRTTI classDupOld = {"CTestDup", 1, 0xFFFF, nullptr, nullptr, nullptr};
CRTTI classDupNew = {"CTestDup", 2, 0xFFFF, nullptr, nullptr, nullptr};

CClassInit _init_CTestThing(&CTestThing::classCTestThing);
CClassInit _init_CTestAbstract(&classCTestAbstract);
CClassInit _init_CTestFailing(&classCTestFailing);
CClassInit _init_CTestFailingCode(&classCTestFailingCode);
CClassInit _init_DupOld(&classDupOld);
CClassInit _init_DupNew(&classDupNew);

TEST(RuntimeClass, LookupByExactName) {
  CRTTI* r = GetRTTI("CTestThing");
  ASSERT_EQ(r, &CTestThing::classCTestThing);
  CObj* obj = r->CreateObject();
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->GetRuntimeClass(), r);
  EXPECT_EQ(static_cast<CTestThing*>(obj)->value, 42);
  delete obj;

  struct Case {
    const char* name;
    CRTTI* want;
  } cases[] = {
      {"ctestthing", nullptr},  // case-sensitive
      {"CObj", nullptr},        // not registered
      {"", nullptr},
      {nullptr, nullptr},
      {"CTestAbstract", &classCTestAbstract},
      {"CTestDup", &classDupNew},  // the newest registration first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    EXPECT_EQ(GetRTTI(c.name), c.want);
  }
}

TEST(RuntimeClass, CreateObjectFailuresGiveNull) {
  EXPECT_EQ(classCTestAbstract.CreateObject(), nullptr);
  EXPECT_EQ(classCTestFailing.CreateObject(), nullptr);  // its exception is released
  EXPECT_EQ(classCTestFailingCode.CreateObject(), nullptr);

  CObj plain;
  CRTTI* root = plain.GetRuntimeClass();
  EXPECT_EQ(root, &CObj::classCObj);
  EXPECT_STREQ(root->m_lpszClassName, "CObj");
  EXPECT_EQ(root->m_wSchema, 0xFFFFu);
  EXPECT_EQ(root->m_pfnCreateObject, nullptr);
  EXPECT_EQ(root->m_pBaseClass, nullptr);
}

TEST(ObjAllocation, FailureThrowsTheEngineMemoryException) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime reports impossible allocations itself";
#endif
  try {
    void* p = CObj::operator new(SIZE_MAX / 2);
    CObj::operator delete(p);
    ADD_FAILURE() << "allocation succeeded";
  } catch (CMemoryException* e) {
    EXPECT_EQ(e, &_simpleMemoryException);
    e->Delete();
  }
}

}  // namespace
