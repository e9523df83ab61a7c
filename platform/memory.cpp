// Zero-filled heap memory.
#include "platform/memory.h"

#include <cstdlib>

void* alloc_zeroed(size_t n) {
  // calloc refuses an empty block on some platforms; a record is never empty,
  // but a zero-length text buffer can be asked for.
  constexpr size_t kOneByte = 1;
  return std::calloc(n == 0 ? kOneByte : n, kOneByte);
}
