// CPList: the engine's doubly linked list. Nodes are carved out of chunks of
// nBlockSize nodes; a removed node goes to the list's free list and is
// reused, and all chunks are freed together when the list becomes empty.
//
//   TSTRING name("Joe");
//   CPList<TSTRING, TSTRING&> names(10);
//   void* pos = names.AddTail(name);          // the element is a copy
//   for (void* p = names.GetHeadPosition(); p != nullptr;) {
//     TSTRING& n = names.GetNext(p);          // p moves on
//     n.MakeUpper();
//   }
//   names.RemoveAt(pos);                      // destroys that element
//
// Ownership: the list owns its element values and destroys them on RemoveAt,
// RemoveAll and destruction. For pointer elements only the pointer is owned,
// never the object pointed to. No locking: one thread at a time, or under the
// owner's lock. Positions stay valid until their node is removed.
//
// Find compares with CompareElements, `==` by default (identity for
// pointers). An element type supplies its own meaning of "equal" with an
// overload or specialisation:
//   template <> inline BOOL telsor::CompareElements(const CParam* a, const CParam* b) {...}
#ifndef TELSOR_FOUNDATION_PLIST_H
#define TELSOR_FOUNDATION_PLIST_H

#include <new>

#include "foundation/chunkmemalloc.h"
#include "foundation/wintypes.h"

namespace telsor {

template <class TYPE>
inline BOOL CompareElements(const TYPE* element, const TYPE* value) {
  return *element == *value ? 1 : 0;
}

template <class TYPE, class ARG_TYPE>
class CPList {
 public:
  // A position is the address of one of these. The element lives only while
  // the node is in the list; free nodes hold raw storage.
  struct CNode {
    CNode* pNext;
    CNode* pPrev;
    union {
      TYPE data;
    };
    CNode() {}
    ~CNode() {}
  };

  explicit CPList(int nBlockSize = 10)
      : m_pNodeHead(nullptr),
        m_pNodeTail(nullptr),
        m_nCount(0),
        m_pNodeFree(nullptr),
        m_pBlocks(nullptr),
        m_nBlockSize(nBlockSize) {}
  ~CPList() { RemoveAll(); }
  CPList(const CPList&) = delete;
  CPList& operator=(const CPList&) = delete;

  int GetCount() const { return m_nCount; }
  bool IsEmpty() const { return m_nCount == 0; }
  void* GetHeadPosition() const { return m_pNodeHead; }
  void* GetTailPosition() const { return m_pNodeTail; }

  // The element at pos; pos moves to the next (previous) node, null at the end.
  TYPE& GetNext(void*& pos) { return Step(pos, true); }
  const TYPE& GetNext(void*& pos) const { return Step(pos, true); }
  TYPE& GetPrev(void*& pos) { return Step(pos, false); }
  const TYPE& GetPrev(void*& pos) const { return Step(pos, false); }
  TYPE& GetAt(void* pos) { return static_cast<CNode*>(pos)->data; }
  const TYPE& GetAt(void* pos) const { return static_cast<CNode*>(pos)->data; }

  // Each returns the new element's position. The element is default
  // constructed, then assigned from value.
  void* AddHead(ARG_TYPE value);
  void* AddTail(ARG_TYPE value);
  // Appends a copy of every element of other, head to tail (other may be
  // this list: its elements are then repeated once).
  void AddTail(CPList* other);

  // pos must be a position of this list.
  void RemoveAt(void* pos);
  void RemoveAll();

  // The first node after startAfter (from the head when null) whose element
  // equals value; null when there is none.
  void* Find(const TYPE& value, void* startAfter = nullptr) const;

  // Number of node chunks the list holds now.
  int GetChunkCount() const {
    int n = 0;
    for (CChunkMemAlloc* c = m_pBlocks; c != nullptr; c = c->pNext) ++n;
    return n;
  }

 protected:
  CNode* NewNode(CNode* prev, CNode* next);
  void FreeNode(CNode* node);

  CNode* m_pNodeHead;
  CNode* m_pNodeTail;
  int m_nCount;
  CNode* m_pNodeFree;
  CChunkMemAlloc* m_pBlocks;
  int m_nBlockSize;

 private:
  static_assert(alignof(CNode) <= alignof(CChunkMemAlloc), "over-aligned list element");

  TYPE& Step(void*& pos, bool forward) const {
    CNode* node = static_cast<CNode*>(pos);
    pos = forward ? node->pNext : node->pPrev;
    return node->data;
  }
  // Assigns value to a new node's element; a throwing assignment returns
  // the node before the exception leaves.
  void Store(CNode* node, ARG_TYPE value) {
    try {
      node->data = value;
    } catch (...) {
      FreeNode(node);
      throw;
    }
  }
};

template <class TYPE, class ARG_TYPE>
typename CPList<TYPE, ARG_TYPE>::CNode* CPList<TYPE, ARG_TYPE>::NewNode(CNode* prev,
                                                                      CNode* next) {
  if (m_pNodeFree == nullptr) {
    unsigned count = m_nBlockSize > 0 ? static_cast<unsigned>(m_nBlockSize) : 1u;
    CChunkMemAlloc* chunk = CChunkMemAlloc::Create(m_pBlocks, count, sizeof(CNode));
    // Pushed last to first, so the free list hands out ascending addresses.
    CNode* nodes = static_cast<CNode*>(chunk->data());
    for (unsigned i = count; i-- > 0;) {
      CNode* node = new (&nodes[i]) CNode;
      node->pNext = m_pNodeFree;
      m_pNodeFree = node;
    }
  }
  CNode* node = m_pNodeFree;
  new (static_cast<void*>(&node->data)) TYPE();  // may throw: the node stays free
  m_pNodeFree = node->pNext;
  node->pPrev = prev;
  node->pNext = next;
  ++m_nCount;
  return node;
}

template <class TYPE, class ARG_TYPE>
void CPList<TYPE, ARG_TYPE>::FreeNode(CNode* node) {
  // The list owns the element: it ends here, before the node is reused.
  node->data.~TYPE();
  node->pNext = m_pNodeFree;
  m_pNodeFree = node;
  if (--m_nCount == 0) RemoveAll();
}

template <class TYPE, class ARG_TYPE>
void* CPList<TYPE, ARG_TYPE>::AddHead(ARG_TYPE value) {
  CNode* node = NewNode(nullptr, m_pNodeHead);
  Store(node, value);
  if (m_pNodeHead != nullptr)
    m_pNodeHead->pPrev = node;
  else
    m_pNodeTail = node;
  m_pNodeHead = node;
  return node;
}

template <class TYPE, class ARG_TYPE>
void* CPList<TYPE, ARG_TYPE>::AddTail(ARG_TYPE value) {
  CNode* node = NewNode(m_pNodeTail, nullptr);
  Store(node, value);
  if (m_pNodeTail != nullptr)
    m_pNodeTail->pNext = node;
  else
    m_pNodeHead = node;
  m_pNodeTail = node;
  return node;
}

template <class TYPE, class ARG_TYPE>
void CPList<TYPE, ARG_TYPE>::AddTail(CPList* other) {
  // Counted, not walked to the end, so appending a list to itself stops.
  CNode* node = other->m_pNodeHead;
  for (int n = other->m_nCount; n > 0; --n, node = node->pNext) AddTail(node->data);
}

template <class TYPE, class ARG_TYPE>
void CPList<TYPE, ARG_TYPE>::RemoveAt(void* pos) {
  CNode* node = static_cast<CNode*>(pos);
  if (node == m_pNodeHead)
    m_pNodeHead = node->pNext;
  else
    node->pPrev->pNext = node->pNext;
  if (node == m_pNodeTail)
    m_pNodeTail = node->pPrev;
  else
    node->pNext->pPrev = node->pPrev;
  FreeNode(node);
}

template <class TYPE, class ARG_TYPE>
void CPList<TYPE, ARG_TYPE>::RemoveAll() {
  // The list is emptied before any element destructor runs, so one that
  // reaches back into the list finds it consistent.
  CNode* node = m_pNodeHead;
  CChunkMemAlloc* blocks = m_pBlocks;
  m_pNodeHead = m_pNodeTail = m_pNodeFree = nullptr;
  m_nCount = 0;
  m_pBlocks = nullptr;
  for (; node != nullptr; node = node->pNext) node->data.~TYPE();
  if (blocks != nullptr) blocks->FreeDataChain();
}

template <class TYPE, class ARG_TYPE>
void* CPList<TYPE, ARG_TYPE>::Find(const TYPE& value, void* startAfter) const {
  CNode* node = startAfter != nullptr ? static_cast<CNode*>(startAfter)->pNext : m_pNodeHead;
  for (; node != nullptr; node = node->pNext)
    if (CompareElements(&node->data, &value)) return node;
  return nullptr;
}

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_PLIST_H
