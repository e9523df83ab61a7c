// The process's small pseudo-random generator.
#include "platform/crt_rand.h"

#include <ctime>

namespace {
uint32_t g_state = 1;
}

void crt_srand(uint32_t seed) { g_state = seed; }

int crt_rand() {
  // The classic linear congruential step, keeping bits 16 to 30.
  g_state = g_state * 214013u + 2531011u;
  return static_cast<int>((g_state >> 16) & 0x7fff);
}

uint32_t crt_clock_ms() {
  std::clock_t c = std::clock();
  constexpr uint32_t kNoClock = 0;
  if (c == static_cast<std::clock_t>(-1)) return kNoClock;
  return static_cast<uint32_t>(static_cast<unsigned long long>(c) * 1000ull / CLOCKS_PER_SEC);
}
