// The Turing stream cipher: key set-up, IV loading and keystream generation
// over the published tables.
#ifndef RIZEZOVA_LINK_TURING_H
#define RIZEZOVA_LINK_TURING_H

#include <cstdint>

constexpr int kTuringBlockBytes = 340;  // one turing_gen call

struct TuringState {
  int key_len;        // key length in 32-bit words, 0 to 8
  uint32_t K[8];      // transformed key words
  uint32_t R[17];     // the shift register
  uint32_t S0[256];   // key-dependent byte-to-word tables
  uint32_t S1[256];
  uint32_t S2[256];
  uint32_t S3[256];
};

extern const uint8_t Sbox[256];
extern const uint32_t Qbox[256];
extern const uint32_t Multab[256];

// len above 32 counts as 32; any other is rounded down to a multiple of 4.
void turing_set_key(TuringState* st, const uint8_t* key, uint32_t len);
// len must be a multiple of 4 with len + 4 * key words at most 48.
void turing_set_iv(TuringState* st, const uint8_t* iv, uint32_t len);
// Writes 340 keystream bytes; answers 340.
int turing_gen(TuringState* st, uint8_t out[kTuringBlockBytes]);
void turing_mix_words(uint32_t* w, int n);
uint32_t turing_fixed_s(uint32_t w);

#endif
