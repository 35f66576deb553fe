// One chunk of raw node storage; the chunks of one owner form a chain,
// newest first, and are freed all together.
//
//   struct tag_NODE {
//     tag_NODE* next;
//     int value;
//   };
//   CChunkMemAlloc* chain = nullptr;
//   CChunkMemAlloc* chunk = CChunkMemAlloc::Create(chain, 10, sizeof(tag_NODE));
//   tag_NODE* nodes = static_cast<tag_NODE*>(chunk->data());   // room for 10
//   nodes[0].value = 1;
//   chain->FreeDataChain();                                    // every chunk at once
//
// The payload follows the header directly and is aligned for any
// fundamental type. Create throws the engine's CMemoryException* when memory
// runs out (or when count * size cannot be had at all).
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
