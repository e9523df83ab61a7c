// The row memory of one result, handed out from 65536-byte blocks.
#include "client/results/mem_pool.h"

#include <sanitizer/asan_interface.h>

#include <cstdlib>
#include <cstring>

#include "client/handles/conn.h"

namespace {

// The memory of released normal blocks, kept for the next pool of the same
// thread. A result read through a server cursor releases its block of rows
// before each FETCH and takes as many blocks again for the next one; handed
// back to the system, the same pages would be faulted in anew for every
// block of rows. A kept block is poisoned for the address sanitizer, so that
// a read of a released result is still caught.
constexpr int kSpareBlocksMost = 64;

struct SpareBlocks {
  uint8_t* data[kSpareBlocksMost];
  int count = 0;
  ~SpareBlocks() {
    while (count > 0) {
      uint8_t* p = data[--count];
      ASAN_UNPOISON_MEMORY_REGION(p, kPoolBlockSize);
      std::free(p);
    }
  }
};
thread_local SpareBlocks t_spare;

// The memory of a normal block, or null. It is not cleared: whoever takes a
// piece of it writes every byte it reads back, terminators included.
uint8_t* take_block_memory() {
  if (t_spare.count == 0) return static_cast<uint8_t*>(std::malloc(kPoolBlockSize));
  uint8_t* p = t_spare.data[--t_spare.count];
  ASAN_UNPOISON_MEMORY_REGION(p, kPoolBlockSize);
  return p;
}

void release_block_memory(uint8_t* p, uint32_t size) {
  if (p && size == kPoolBlockSize && t_spare.count < kSpareBlocksMost) {
    ASAN_POISON_MEMORY_REGION(p, kPoolBlockSize);
    t_spare.data[t_spare.count++] = p;
    return;
  }
  std::free(p);
}

MemBlock* new_block(uint32_t size) {
  auto* block = static_cast<MemBlock*>(alloc_zeroed(sizeof(MemBlock)));
  if (!block) return nullptr;
  block->data = size == kPoolBlockSize ? take_block_memory() : static_cast<uint8_t*>(std::malloc(size));
  if (!block->data) {
    std::free(block);
    return nullptr;
  }
  block->block_size = size;
  block->free = size;
  return block;
}

// Links a new record behind the current block and makes it current.
void link_after_current(MemPool* pool, MemBlock* block) {
  block->next = pool->current->next;
  pool->current->next = block;
  pool->current = block;
}

}  // namespace

MemPool* mem_pool_create() {
  auto* pool = static_cast<MemPool*>(alloc_zeroed(sizeof(MemPool)));
  if (!pool) return nullptr;
  pool->first = pool->current = new_block(kPoolBlockSize);
  if (!pool->first) {
    mem_pool_oom_hook(kPoolBlockSize);
    std::free(pool);
    return nullptr;
  }
  return pool;
}

void* mem_pool_alloc(MemPool* pool, uint32_t n) {
  if (!pool || n == UINT32_MAX) return nullptr;  // n + 1 must be representable
  MemBlock* cur = pool->current;
  const uint32_t need = n + 1;
  if (cur->free > n) {
    uint8_t* p = cur->data + cur->used;
    cur->used += need;
    cur->free -= need;
    return p;
  }
  constexpr uint32_t kHalf = kPoolBlockSize / 2;
  if (need <= kPoolBlockSize && (need <= kHalf || cur->free <= kHalf)) {
    MemBlock* block = new_block(kPoolBlockSize);
    if (!block) {
      mem_pool_oom_hook(kPoolBlockSize);
      return nullptr;
    }
    link_after_current(pool, block);
    block->used = need;
    block->free = kPoolBlockSize - need;
    return block->data;
  }
  // A large request: the partly used memory moves on to a new record that
  // stays current for small requests, and the old record keeps an exact buffer.
  auto* buffer = static_cast<uint8_t*>(std::malloc(need));
  auto* moved = static_cast<MemBlock*>(alloc_zeroed(sizeof(MemBlock)));
  if (!buffer || !moved) {
    std::free(buffer);
    std::free(moved);
    mem_pool_oom_hook(need);
    return nullptr;
  }
  moved->data = cur->data;
  moved->block_size = cur->block_size;
  moved->used = cur->used;
  moved->free = cur->free;
  link_after_current(pool, moved);
  cur->data = buffer;
  cur->block_size = cur->used = need;
  cur->free = 0;
  return buffer;
}

bool mem_pool_adopt(MemPool* pool, uint8_t* buffer, uint32_t size) {
  auto* block = static_cast<MemBlock*>(alloc_zeroed(sizeof(MemBlock)));
  if (!block) {
    std::free(buffer);
    return false;
  }
  block->data = buffer;
  block->block_size = block->used = size;
  // Behind the current block, which stays current for small requests.
  block->next = pool->current->next;
  pool->current->next = block;
  return true;
}

void mem_pool_rewind(MemPool* pool, const MemPoolMark& mark) {
  MemBlock* block = mark.block->next;
  while (block != mark.next) {
    MemBlock* next = block->next;
    release_block_memory(block->data, block->block_size);
    std::free(block);
    block = next;
  }
  mark.block->next = mark.next;
  mark.block->used = mark.used;
  mark.block->free = mark.free;
  pool->current = mark.block;
}

void mem_pool_destroy(MemPool* pool) {
  if (!pool) return;
  MemBlock* block = pool->first;
  while (block) {
    MemBlock* next = block->next;
    release_block_memory(block->data, block->block_size);
    std::free(block);
    block = next;
  }
  std::free(pool);
}

void mem_pool_oom_hook(uint32_t /*size*/) {}
