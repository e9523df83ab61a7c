// Zero-filled heap memory, the one allocation helper every layer shares.
#ifndef RIZEZOVA_PLATFORM_MEMORY_H
#define RIZEZOVA_PLATFORM_MEMORY_H

#include <cstddef>

// n zero-filled bytes, or null when they cannot be had.
void* alloc_zeroed(size_t n);

#endif
