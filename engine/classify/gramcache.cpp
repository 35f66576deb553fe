// Items of the n-gram training caches.
#include "classify/gramcache.h"

namespace telsor {

CNGramCacheItem::~CNGramCacheItem() {}

CGramMatrixElem::~CGramMatrixElem() {}

}  // namespace telsor
