#include "foundation/chunkmemalloc.h"

#include <stdint.h>

#include <new>

#include "foundation/exception.h"

namespace telsor {

CChunkMemAlloc* CChunkMemAlloc::Create(CChunkMemAlloc*& chain, unsigned count, unsigned size) {
  size_t payload = static_cast<size_t>(count) * size;  // cannot overflow 64 bits
  if (payload > SIZE_MAX - sizeof(CChunkMemAlloc)) AfxThrowMemoryException();
  unsigned char* block = new (std::nothrow) unsigned char[sizeof(CChunkMemAlloc) + payload];
  if (block == nullptr) AfxThrowMemoryException();
  CChunkMemAlloc* chunk = new (block) CChunkMemAlloc;
  chunk->pNext = chain;
  chain = chunk;
  return chunk;
}

void CChunkMemAlloc::FreeDataChain() {
  CChunkMemAlloc* chunk = this;
  while (chunk != nullptr) {
    CChunkMemAlloc* next = chunk->pNext;
    delete[] reinterpret_cast<unsigned char*>(chunk);
    chunk = next;
  }
}

}  // namespace telsor
