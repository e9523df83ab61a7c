// The row memory of one result: 65536-byte blocks handed out by bumping a
// position, an exact private buffer for a large request, and nothing returned
// piece by piece — all of it goes at once with mem_pool_destroy, which keeps
// the memory of a few normal blocks for the thread's next pool.
#ifndef RIZEZOVA_CLIENT_RESULTS_MEM_POOL_H
#define RIZEZOVA_CLIENT_RESULTS_MEM_POOL_H

#include <cstdint>

constexpr uint32_t kPoolBlockSize = 65536;

struct MemBlock {
  MemBlock* next;
  uint32_t block_size;  // bytes of data
  uint32_t used;        // bytes handed out
  uint32_t free;        // bytes left
  uint8_t* data;
};

struct MemPool {
  MemBlock* first;
  MemBlock* current;  // the block small requests are served from
};

// A pool with one empty block; null when the memory cannot be had.
MemPool* mem_pool_create();
// n + 1 bytes (room for a terminating zero behind n), or null. They are not
// cleared: the caller writes what it will read, the terminator included.
void* mem_pool_alloc(MemPool* pool, uint32_t n);
// The same, with the common case (the current block has room) inline.
inline void* mem_pool_take(MemPool* pool, uint32_t n) {
  MemBlock* cur = pool->current;
  if (cur->free > n) {
    uint8_t* p = cur->data + cur->used;
    cur->used += n + 1;
    cur->free -= n + 1;
    return p;
  }
  return mem_pool_alloc(pool, n);
}
// Makes a malloc'd buffer of size bytes part of the pool, to be released
// with it. False, the buffer released, when no record for it could be had.
bool mem_pool_adopt(MemPool* pool, uint8_t* buffer, uint32_t size);
void mem_pool_destroy(MemPool* pool);

// Where the pool stands, and setting it back there: what was handed out
// since is taken back. Only for requests that fit a normal block (n + 1 up
// to half of one): the pool then only ever adds normal blocks behind the
// current one.
struct MemPoolMark {
  MemBlock* block;
  MemBlock* next;
  uint32_t used;
  uint32_t free;
};
inline MemPoolMark mem_pool_mark(const MemPool* pool) {
  const MemBlock* cur = pool->current;
  return {pool->current, cur->next, cur->used, cur->free};
}
void mem_pool_rewind(MemPool* pool, const MemPoolMark& mark);
// Called with the size of an allocation that failed; does nothing.
void mem_pool_oom_hook(uint32_t size);

#endif
