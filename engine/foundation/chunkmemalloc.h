// One chunk of raw node storage; the chunks of one owner form a chain,
// newest first, and are freed all together.
//
//   CChunkMemAlloc* chain = nullptr;
//   CChunkMemAlloc* chunk = CChunkMemAlloc::Create(chain, 10, sizeof(Node));
//   Node* nodes = static_cast<Node*>(chunk->data());   // room for 10
//   ...
//   if (chain) chain->FreeDataChain();                  // every chunk at once
//
// The payload follows the header directly and is aligned for any
// fundamental type. Create throws std::bad_alloc when memory runs out.
#ifndef TELSOR_FOUNDATION_CHUNKMEMALLOC_H
#define TELSOR_FOUNDATION_CHUNKMEMALLOC_H

#include <stddef.h>

namespace telsor {

struct alignas(alignof(max_align_t)) CChunkMemAlloc {
  CChunkMemAlloc* pNext;  // the chunk allocated before this one

  void* data() { return this + 1; }

  // Allocates count * size bytes of payload, links the chunk in front of
  // chain and stores it there.
  static CChunkMemAlloc* Create(CChunkMemAlloc*& chain, unsigned count, unsigned size);
  // Frees this chunk and every older one. Call it on a non-null chain only.
  void FreeDataChain();
};

}  // namespace telsor

#endif  // TELSOR_FOUNDATION_CHUNKMEMALLOC_H
