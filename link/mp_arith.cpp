// Unsigned multi-precision arithmetic for the modular exponentiation of the login.
#include "link/mp_arith.h"

#include <bit>

namespace {

constexpr uint32_t kHalfBase = 0x10000;
constexpr uint32_t kHalfMask = 0xffff;
constexpr uint32_t kTopBit = 0x80000000;
// What a shift answers when no bits left the number.
constexpr uint32_t kNoBitsOut = 0;

// Clears digits in a way the optimiser may not drop, so that no intermediate
// value of the login's arithmetic stays behind on the stack.
void wipe_digits(uint32_t* a, uint32_t nd) {
  volatile uint32_t* p = a;
  for (uint32_t i = 0; i < nd; i++) p[i] = 0;
}

// One 16-bit step of sp_divide: w holds a window of 48 bits below d * 2^16;
// answers its quotient by d (a half digit) and leaves the remainder, below
// d, in w[0].
uint32_t half_step(uint32_t w[2], uint32_t d) {
  const uint32_t dh = d >> 16;
  const uint32_t dl = d & kHalfMask;
  const uint32_t top = (w[1] << 16) | (w[0] >> 16);
  const uint32_t next = w[0] & kHalfMask;
  uint32_t qhat = top / dh;
  uint32_t rhat = top % dh;
  // The estimate from the top halves is at most two too big; the classic
  // test against the next half takes it down to the true quotient or one
  // above it. The test runs on half digits only, so rhat must stay below 2^16.
  while (qhat >= kHalfBase || qhat * dl > ((rhat << 16) | next)) {
    qhat--;
    rhat += dh;
    if (rhat >= kHalfBase) break;
  }
  if (sp_mult_sub(w, qhat, dh, dl)) {
    // One too many: add d back; the carry out of the top cancels the wrap.
    const uint32_t low = w[0];
    w[0] += d;
    w[1] += (w[0] < low) ? 1 : 0;
    qhat--;
  }
  return qhat;
}

}  // namespace

int mp_mod_exp(uint32_t* y, const uint32_t* x, const uint32_t* e, uint32_t* m, uint32_t nd) {
  if (nd == 0 || nd > kMpMaxDigits) return MP_REFUSED;
  const uint32_t n = mp_digits_used(e, nd);
  // A zero exponent has no highest bit to start from; refuse it rather than
  // read in front of e.
  if (n == 0) return MP_REFUSED;
  const int top_bit = 31 - std::countl_zero(e[n - 1]);
  mp_copy(y, x, nd);
  // Left to right over the bits below the highest one.
  for (int64_t pos = static_cast<int64_t>(n - 1) * 32 + top_bit - 1; pos >= 0; pos--) {
    mp_mod_mult(y, y, y, m, nd);
    if ((e[pos / 32] >> (pos % 32)) & 1) mp_mod_mult(y, y, x, m, nd);
  }
  return MP_DONE;
}

int mp_mod_mult(uint32_t* a, const uint32_t* x, const uint32_t* y, uint32_t* m, uint32_t nd) {
  if (nd > kMpMaxDigits) return MP_REFUSED;
  uint32_t product[kMpWorkDigits];
  mp_multiply(product, x, y, nd);
  mp_modulo(a, product, 2 * nd, m, nd);
  wipe_digits(product, 2 * nd);
  return MP_DONE;
}

int mp_multiply(uint32_t* w, const uint32_t* u, const uint32_t* v, uint32_t nd) {
  mp_set_zero(w, 2 * nd);
  for (uint32_t j = 0; j < nd; j++) {
    if (v[j] == 0) {
      w[j + nd] = 0;
      continue;
    }
    uint32_t k = 0;
    for (uint32_t i = 0; i < nd; i++) {
      uint32_t p[2];
      sp_multiply(p, u[i], v[j]);
      p[0] += k;
      if (p[0] < k) p[1]++;
      p[0] += w[i + j];
      if (p[0] < w[i + j]) p[1]++;
      w[i + j] = p[0];
      k = p[1];
    }
    w[j + nd] = k;
  }
  return MP_DONE;
}

int mp_modulo(uint32_t* r, const uint32_t* u, uint32_t ud, uint32_t* v, uint32_t vd) {
  if (ud > kMpWorkDigits) return MP_REFUSED;
  uint32_t quot[kMpWorkDigits];
  uint32_t rem[kMpWorkDigits];
  mp_divide(quot, rem, u, ud, v, vd);
  // The remainder has at most ud digits; any further digits of r are zero.
  const uint32_t kept = vd < ud ? vd : ud;
  mp_copy(r, rem, kept);
  mp_set_zero(r + kept, vd - kept);
  wipe_digits(quot, ud);
  wipe_digits(rem, ud);
  return MP_DONE;
}

int mp_divide(uint32_t* q, uint32_t* r, const uint32_t* u, uint32_t ud, uint32_t* v, uint32_t vd) {
  mp_set_zero(q, ud);
  mp_set_zero(r, ud);
  const uint32_t n = mp_digits_used(v, vd);
  const int64_t k = static_cast<int64_t>(mp_digits_used(u, ud)) - n;
  if (n == 0) return MP_REFUSED;
  if (n == 1) {
    const uint32_t rest = mp_short_div(q, u, v[0], ud);
    if (ud > 0) r[0] = rest;
    return MP_DONE;
  }
  if (k < 0) {
    mp_copy(r, u, ud);
    return MP_DONE;
  }
  if (k == 0) {
    const int cmp = mp_compare(u, v, n);
    if (cmp < 0) {
      mp_copy(r, u, ud);
      return MP_DONE;
    }
    if (cmp == 0) {
      mp_set_digit(q, 1, ud);
      return MP_DONE;
    }
  }

  // Normalise so that the divisor's top digit has its top bit set; the bits
  // shifted out of the dividend form the extra top digit t.
  const uint32_t shift = static_cast<uint32_t>(std::countl_zero(v[n - 1]));
  const uint32_t len = n + static_cast<uint32_t>(k);
  mp_shift_left(v, v, shift, n);
  uint32_t t = mp_shift_left(r, u, shift, len);
  const uint32_t vtop = v[n - 1];
  const uint32_t vnext = v[n - 2];

  for (int64_t j = k; j >= 0; j--) {
    uint32_t* window = r + j;
    uint32_t qhat = 0;
    uint32_t rhat = 0;
    bool rhat_overflow = false;
    const uint32_t top[2] = {window[n - 1], t};
    if (sp_divide(&qhat, &rhat, top, vtop) != 0) {
      qhat = 0xffffffff;
      rhat = window[n - 1] + vtop;
      rhat_overflow = rhat < vtop;
    }
    if (!rhat_overflow && qhat_too_big(qhat, rhat, vnext, window[n - 2])) {
      qhat--;
      const uint32_t before = rhat;
      rhat += vtop;
      if (rhat >= before && qhat_too_big(qhat, rhat, vnext, window[n - 2])) qhat--;
    }
    q[j] = qhat;
    if (mp_mult_sub(t, window, v, qhat, n) != 0) {
      // qhat was one too big: the window went below zero. Adding v back
      // restores it; the carry out cancels the wrap of the top digit.
      q[j]--;
      mp_add(window, window, v, n);
    }
    t = window[n - 1];
  }

  mp_set_zero(r + n, len - n);
  mp_shift_right(r, r, shift, n);
  mp_shift_right(v, v, shift, n);
  return MP_DONE;
}

uint32_t mp_mult_sub(uint32_t top, uint32_t* w, const uint32_t* v, uint32_t q, uint32_t n) {
  if (q == 0) return top;
  uint32_t borrow = 0;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t p[2];
    sp_multiply(p, q, v[i]);
    p[0] += borrow;
    if (p[0] < borrow) p[1]++;
    const uint32_t before = w[i];
    w[i] -= p[0];
    if (w[i] > before) p[1]++;
    borrow = p[1];
  }
  return top - borrow;
}

int qhat_too_big(uint32_t qhat, uint32_t rhat, uint32_t vnext, uint32_t unext) {
  uint32_t p[2];
  sp_multiply(p, qhat, vnext);
  if (p[1] != rhat) return p[1] > rhat;
  return p[0] > unext;
}

uint32_t mp_add(uint32_t* w, const uint32_t* u, const uint32_t* v, uint32_t nd) {
  uint32_t carry = 0;
  for (uint32_t i = 0; i < nd; i++) {
    const uint32_t a = u[i];
    uint32_t sum = a + carry;
    carry = sum < carry ? 1 : 0;
    sum += v[i];
    if (sum < v[i]) carry = 1;
    w[i] = sum;
  }
  return carry;
}

int mp_compare(const uint32_t* a, const uint32_t* b, uint32_t nd) {
  for (uint32_t i = nd; i-- > 0;) {
    if (a[i] > b[i]) return MP_ABOVE;
    if (a[i] < b[i]) return MP_BELOW;
  }
  return MP_EQUAL;
}

uint32_t mp_shift_left(uint32_t* a, const uint32_t* b, uint32_t s, uint32_t nd) {
  if (s >= 32) return kNoBitsOut;
  if (s == 0) {
    mp_copy(a, b, nd);
    return kNoBitsOut;
  }
  uint32_t carry = 0;
  for (uint32_t i = 0; i < nd; i++) {
    const uint32_t digit = b[i];
    a[i] = (digit << s) | carry;
    carry = digit >> (32 - s);
  }
  return carry;
}

uint32_t mp_shift_right(uint32_t* a, const uint32_t* b, uint32_t s, uint32_t nd) {
  if (s >= 32) return kNoBitsOut;
  if (s == 0) {
    mp_copy(a, b, nd);
    return kNoBitsOut;
  }
  uint32_t carry = 0;
  for (uint32_t i = nd; i-- > 0;) {
    const uint32_t digit = b[i];
    a[i] = (digit >> s) | carry;
    carry = digit << (32 - s);
  }
  return carry;
}

void mp_copy(uint32_t* a, const uint32_t* b, uint32_t nd) {
  for (uint32_t i = 0; i < nd; i++) a[i] = b[i];
}

void mp_set_zero(uint32_t* a, uint32_t nd) {
  for (uint32_t i = 0; i < nd; i++) a[i] = 0;
}

void mp_set_digit(uint32_t* a, uint32_t d, uint32_t nd) {
  if (nd == 0) return;
  mp_set_zero(a, nd);
  a[0] = d;
}

uint32_t mp_digits_used(const uint32_t* a, uint32_t nd) {
  while (nd > 0 && a[nd - 1] == 0) nd--;
  return nd;
}

uint32_t mp_short_div(uint32_t* q, const uint32_t* u, uint32_t d, uint32_t nd) {
  if (nd == 0 || d == 0) return kNoBitsOut;
  const uint32_t shift = static_cast<uint32_t>(std::countl_zero(d));
  d <<= shift;
  uint32_t rest = mp_shift_left(q, u, shift, nd);
  for (uint32_t j = nd; j-- > 0;) {
    const uint32_t pair[2] = {q[j], rest};
    sp_divide(&q[j], &rest, pair, d);
  }
  return rest >> shift;
}

int sp_multiply(uint32_t p[2], uint32_t x, uint32_t y) {
  const uint32_t xl = x & kHalfMask, xh = x >> 16;
  const uint32_t yl = y & kHalfMask, yh = y >> 16;
  uint32_t low = xl * yl;
  uint32_t high = xh * yh;
  const uint32_t cross1 = xl * yh;
  const uint32_t cross2 = xh * yl;
  // Each cross product adds its low half to the top of low and its high
  // half to high.
  const uint32_t crosses[2] = {cross1, cross2};
  for (const uint32_t cross : crosses) {
    const uint32_t shifted = cross << 16;
    low += shifted;
    if (low < shifted) high++;
    high += cross >> 16;
  }
  p[0] = low;
  p[1] = high;
  return MP_DONE;
}

uint32_t sp_divide(uint32_t* q, uint32_t* r, const uint32_t u[2], uint32_t d) {
  if ((d & kTopBit) == 0) {
    *q = 0;
    *r = 0;
    return kSpNotNormalised;
  }
  uint32_t high = u[1];
  const uint32_t low = u[0];
  uint32_t bit33 = 0;
  if (high >= d) {
    bit33 = 1;
    high -= d;
  }
  // Two rounds on 16-bit halves: first the top 48 bits, then the remainder
  // with the low half of u appended.
  uint32_t w[2] = {(high << 16) | (low >> 16), high >> 16};
  const uint32_t qh = half_step(w, d);
  w[1] = w[0] >> 16;
  w[0] = (w[0] << 16) | (low & kHalfMask);
  const uint32_t ql = half_step(w, d);
  *q = (qh << 16) | ql;
  *r = w[0];
  return bit33;
}

int sp_mult_sub(uint32_t u[2], uint32_t qhat, uint32_t vhigh, uint32_t vlow) {
  // qhat, vhigh and vlow are half digits, so both partial products fit.
  const uint32_t plow = qhat * vlow;
  const uint32_t phigh = qhat * vhigh;
  uint32_t borrow = u[0] < plow ? 1 : 0;
  u[0] -= plow;
  const uint32_t mid = phigh << 16;
  borrow += u[0] < mid ? 1 : 0;
  u[0] -= mid;
  const uint32_t sub_high = (phigh >> 16) + borrow;
  const uint32_t wrapped = u[1] < sub_high ? 1 : 0;
  u[1] -= sub_high;
  return static_cast<int>(wrapped);
}

void mp_from_le_bytes(uint32_t* a, const uint8_t* bytes, uint32_t nd) {
  for (uint32_t i = 0; i < nd; ++i) {
    const uint8_t* p = bytes + 4 * i;
    a[i] = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }
}

void mp_to_le_bytes(uint8_t* bytes, const uint32_t* a, uint32_t nd) {
  for (uint32_t i = 0; i < nd; ++i)
    for (uint32_t b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<uint8_t>(a[i] >> (8 * b));
}
