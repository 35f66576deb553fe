// The items of n-gram training's two caches (foundation/cachemgr.h): an
// example's n-gram vector by example index, and one Gram-matrix element by
// an unordered pair of example indexes (tag_ELEM_INDEXES).
//
//   typedef CCacheMgr<tag_ELEM_INDEXES, const tag_ELEM_INDEXES&, CGramMatrixElem,
//                     NullObjProvider<const tag_ELEM_INDEXES&, CGramMatrixElem>>
//       CElemCache;                            // training's own uses its calculator
//   CElemCache gramCache(CElemCache::AUTOMATIC_SIZE, 1);
//   tag_ELEM_INDEXES key = {3, 7};
//   CSharedObjPtr<CGramMatrixElem> e = new CGramMatrixElem(0.25);
//   gramCache.InsertIntoCache(key, e);
//   double k = gramCache.GetObject(key)->GetValue();   // 0.25
//
// Items are immutable once made and may be read on several threads.
#ifndef TELSOR_CLASSIFY_GRAMCACHE_H
#define TELSOR_CLASSIFY_GRAMCACHE_H

#include "classify/ngramsvector.h"
#include "foundation/obj.h"

namespace telsor {

// A copy of one example's n-gram vector (sharing its entries).
class CNGramCacheItem : public CSharedObj {
 public:
  explicit CNGramCacheItem(const CNGramsVector& vector) : m_vector(vector) {}
  ~CNGramCacheItem() override;
  const CNGramsVector& GetVector() const { return m_vector; }

 private:
  CNGramsVector m_vector;
};

// One Gram-matrix element: the kernel value of two examples.
class CGramMatrixElem : public CSharedObj {
 public:
  explicit CGramMatrixElem(double value) : m_dValue(value) {}
  ~CGramMatrixElem() override;
  double GetValue() const { return m_dValue; }

 private:
  double m_dValue;
};

}  // namespace telsor

#endif  // TELSOR_CLASSIFY_GRAMCACHE_H
