// Bytes from the operating system's cryptographic random source.
#ifndef RIZEZOVA_PLATFORM_OS_RANDOM_H
#define RIZEZOVA_PLATFORM_OS_RANDOM_H

#include <cstddef>

// Fills buf with n random bytes; false when the source could not deliver.
bool os_random_bytes(void* buf, size_t n);

#endif
