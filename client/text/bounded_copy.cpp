// Copies of texts into fixed buffers that never pass the buffer's end.
#include "client/text/bounded_copy.h"

#include <cstring>

#include "client/vmc.h"

int copy_bounded_n(char* dst, size_t cap, const char* src, size_t n) {
  if (!dst || cap == 0) return RC_TRUNCATED;
  std::memset(dst, 0, cap);
  size_t len = src ? strnlen(src, n) : 0;
  if (len < cap) {
    if (len) std::memcpy(dst, src, len);
    return RC_SUCCESS;
  }
  std::memcpy(dst, src, cap - 1);
  return RC_TRUNCATED;
}

int copy_bounded(char* dst, size_t cap, const char* src) {
  return copy_bounded_n(dst, cap, src, src ? std::strlen(src) : 0);
}

int append_bounded(char* dst, size_t cap, const char* src) {
  if (!dst || cap == 0) return RC_TRUNCATED;
  size_t used = strnlen(dst, cap);
  if (used == cap) return RC_TRUNCATED;
  return copy_bounded(dst + used, cap - used, src);
}
