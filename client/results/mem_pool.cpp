// The row memory of one result, handed out from 65536-byte blocks.
#include "client/results/mem_pool.h"

#include <cstdlib>

#include "client/handles/conn.h"

namespace {

MemBlock* new_block(uint32_t size) {
  auto* block = static_cast<MemBlock*>(alloc_zeroed(sizeof(MemBlock)));
  if (!block) return nullptr;
  block->data = static_cast<uint8_t*>(alloc_zeroed(size));
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
  auto* buffer = static_cast<uint8_t*>(alloc_zeroed(need));
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

void mem_pool_destroy(MemPool* pool) {
  if (!pool) return;
  MemBlock* block = pool->first;
  while (block) {
    MemBlock* next = block->next;
    std::free(block->data);
    std::free(block);
    block = next;
  }
  std::free(pool);
}

void mem_pool_oom_hook(uint32_t /*size*/) {}
