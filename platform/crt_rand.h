// The process's small pseudo-random generator: seeded explicitly, values 0 to
// 32767. Not for anything secret; see os_random.h for that.
#ifndef RIZEZOVA_PLATFORM_CRT_RAND_H
#define RIZEZOVA_PLATFORM_CRT_RAND_H

#include <cstdint>

void crt_srand(uint32_t seed);
int crt_rand();  // 0 to 32767
// Milliseconds of processor time since the process started.
uint32_t crt_clock_ms();

constexpr int kCrtRandMax = 32767;

#endif
