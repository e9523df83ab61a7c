// The Turing stream cipher: key set-up, IV loading, keystream generation.
#include "link/turing.h"

#include <bit>
#include <cstdlib>
#include <utility>

namespace {

constexpr int kRegisterWords = 17;
constexpr uint32_t kMaxKeyIvBytes = 48;

// Byte i of a word counts from the most significant (byte 0 = bits 31..24).
inline uint32_t byte_of(uint32_t w, int i) { return (w >> (24 - 8 * i)) & 0xFF; }

inline uint32_t replace_byte(uint32_t w, int i, uint32_t b) {
  const int shift = 24 - 8 * i;
  return (w & ~(0xFFu << shift)) | (b << shift);
}

inline uint32_t word_from_bytes(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void word_to_bytes(uint32_t w, uint8_t* p) {
  p[0] = static_cast<uint8_t>(w >> 24);
  p[1] = static_cast<uint8_t>(w >> 16);
  p[2] = static_cast<uint8_t>(w >> 8);
  p[3] = static_cast<uint8_t>(w);
}

// The keyed S-box: one lookup per byte, starting the table rotation at byte r.
inline uint32_t keyed_s(const TuringState* st, uint32_t w, int r) {
  return st->S0[byte_of(w, r & 3)] ^ st->S1[byte_of(w, (r + 1) & 3)] ^
         st->S2[byte_of(w, (r + 2) & 3)] ^ st->S3[byte_of(w, (r + 3) & 3)];
}

// Pseudo-Hadamard transform over the five words of a round.
inline void pht(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e) {
  e += a + b + c + d;
  a += e;
  b += e;
  c += e;
  d += e;
}

// Register index i seen from a round starting at z; both are small constants,
// so this folds away in the unrolled rounds.
constexpr int off(int z, int i) { return (z + i) % kRegisterWords; }

template <int Z>
inline void lfsr_step(uint32_t* R) {
  const uint32_t r0 = R[off(Z, 0)];
  R[off(Z, 0)] = R[off(Z, 15)] ^ R[off(Z, 4)] ^ (r0 << 8) ^ Multab[r0 >> 24];
}

// One round writes 20 keystream bytes and advances the register five steps;
// the register stays in place and Z names where it currently begins.
template <int Z>
inline void turing_round(TuringState* st, uint8_t* out) {
  uint32_t* R = st->R;
  lfsr_step<Z>(R);
  uint32_t a = R[off(Z, 0)];
  uint32_t b = R[off(Z, 14)];
  uint32_t c = R[off(Z, 7)];
  uint32_t d = R[off(Z, 2)];
  uint32_t e = R[off(Z, 1)];
  pht(a, b, c, d, e);
  a = keyed_s(st, a, 0);
  b = keyed_s(st, b, 1);
  c = keyed_s(st, c, 2);
  d = keyed_s(st, d, 3);
  e = keyed_s(st, e, 0);
  pht(a, b, c, d, e);
  lfsr_step<Z + 1>(R);
  lfsr_step<Z + 2>(R);
  lfsr_step<Z + 3>(R);
  a += R[off(Z, 1)];
  b += R[off(Z, 16)];
  c += R[off(Z, 12)];
  d += R[off(Z, 5)];
  e += R[off(Z, 4)];
  word_to_bytes(a, out);
  word_to_bytes(b, out + 4);
  word_to_bytes(c, out + 8);
  word_to_bytes(d, out + 12);
  word_to_bytes(e, out + 16);
  lfsr_step<Z + 4>(R);
}

// Round k starts 5k steps on; 17 rounds bring the register back to where it began.
template <size_t... K>
inline void all_rounds(TuringState* st, uint8_t* out, std::index_sequence<K...>) {
  (turing_round<static_cast<int>((5 * K) % kRegisterWords)>(st, out + 20 * K), ...);
}

}  // namespace

uint32_t turing_fixed_s(uint32_t w) {
  for (int r = 0; r < 4; ++r) {
    const uint32_t b = Sbox[byte_of(w, r)];
    w = replace_byte(w ^ std::rotl(Qbox[b], 8 * r), r, b);
  }
  return w;
}

void turing_mix_words(uint32_t* w, int n) {
  if (n <= 0) return;
  uint32_t sum = 0;
  for (int i = 0; i < n - 1; ++i) sum += w[i];
  w[n - 1] += sum;
  const uint32_t last = w[n - 1];
  for (int i = 0; i < n - 1; ++i) w[i] += last;
}

void turing_set_key(TuringState* st, const uint8_t* key, uint32_t len) {
  len = len > 32 ? 32 : len & ~3u;
  const int words = static_cast<int>(len / 4);
  for (int i = 0; i < words; ++i) st->K[i] = turing_fixed_s(word_from_bytes(key + 4 * i));
  st->key_len = words;
  turing_mix_words(st->K, words);

  uint32_t* tables[4] = {st->S0, st->S1, st->S2, st->S3};
  for (int t = 0; t < 4; ++t) {
    for (uint32_t j = 0; j < 256; ++j) {
      uint32_t k = j;
      uint32_t w = 0;
      for (int i = 0; i < words; ++i) {
        k = Sbox[byte_of(st->K[i], t) ^ k];
        w ^= std::rotl(Qbox[k], i + 8 * t);
      }
      tables[t][j] = replace_byte(w, t, k);
    }
  }
}

void turing_set_iv(TuringState* st, const uint8_t* iv, uint32_t len) {
  // Such lengths would overrun the register; callers never pass them.
  if ((len & 3) != 0 || len > kMaxKeyIvBytes || st->key_len < 0 || st->key_len > 8 ||
      len + 4 * static_cast<uint32_t>(st->key_len) > kMaxKeyIvBytes) {
    std::abort();
  }
  uint32_t* R = st->R;
  int j = 0;
  for (uint32_t i = 0; i < len; i += 4) R[j++] = turing_fixed_s(word_from_bytes(iv + i));
  for (int i = 0; i < st->key_len; ++i) R[j++] = st->K[i];
  R[j++] = (static_cast<uint32_t>(st->key_len) << 4) | (len >> 2) | 0x01020300u;
  for (int i = 0; j < kRegisterWords; ++i, ++j) R[j] = keyed_s(st, R[i] + R[j - 1], 0);
  turing_mix_words(R, kRegisterWords);
}

int turing_gen(TuringState* st, uint8_t out[kTuringBlockBytes]) {
  all_rounds(st, out, std::make_index_sequence<kRegisterWords>{});
  return kTuringBlockBytes;
}
