// Small unsigned multi-precision arithmetic on 32-bit digits, least
// significant digit first, for the modular exponentiation of the encrypted
// login. Nothing is allocated; work arrays are cleared after use.
#ifndef RIZEZOVA_LINK_MP_ARITH_H
#define RIZEZOVA_LINK_MP_ARITH_H

#include <cstdint>

constexpr uint32_t kMpMaxDigits = 51;        // for mp_mod_exp and mp_mod_mult
constexpr uint32_t kMpWorkDigits = 2 * kMpMaxDigits;

// What the operations that can refuse answer.
enum MpOutcome : int {
  MP_DONE = 0,
  MP_REFUSED = -1,
};
// What mp_compare answers.
enum MpOrder : int {
  MP_BELOW = -1,
  MP_EQUAL = 0,
  MP_ABOVE = 1,
};
// What sp_divide answers for a divisor whose top bit is not set.
constexpr uint32_t kSpNotNormalised = 0xffffffff;

// Numbers as the link carries them: nd digits of 4 little-endian bytes each,
// least significant first.
void mp_from_le_bytes(uint32_t* a, const uint8_t* bytes, uint32_t nd);
void mp_to_le_bytes(uint8_t* bytes, const uint32_t* a, uint32_t nd);

// y = x^e mod m over nd digits: MP_DONE. With e = 1, y is x unreduced.
// Refused with MP_REFUSED and y untouched: nd of 0 or above kMpMaxDigits, e of zero.
// y must not share storage with x, e or m. m is normalised in place while the
// call runs and holds its value again on return.
int mp_mod_exp(uint32_t* y, const uint32_t* x, const uint32_t* e, uint32_t* m, uint32_t nd);
// a = x * y mod m (0 when m is zero); a may be x or y: MP_DONE. MP_REFUSED
// and a untouched when nd is above kMpMaxDigits.
int mp_mod_mult(uint32_t* a, const uint32_t* x, const uint32_t* y, uint32_t* m, uint32_t nd);
// w (2 * nd digits) = u * v; w must not share storage with u or v.
int mp_multiply(uint32_t* w, const uint32_t* u, const uint32_t* v, uint32_t nd);
// r (vd digits) = u (ud digits) mod v (vd digits), 0 when v is zero:
// MP_DONE. MP_REFUSED and r untouched when ud is above kMpWorkDigits.
int mp_modulo(uint32_t* r, const uint32_t* u, uint32_t ud, uint32_t* v, uint32_t vd);
// q = u div v, r = u mod v (q and r of ud digits, apart from each other and
// from u): MP_DONE; MP_REFUSED with q and r zero when v is zero. v is normalised in place
// while the call runs and holds its value again on return.
int mp_divide(uint32_t* q, uint32_t* r, const uint32_t* u, uint32_t ud, uint32_t* v, uint32_t vd);
// w (n digits) -= q * v; answers the top digit less the final borrow.
uint32_t mp_mult_sub(uint32_t top, uint32_t* w, const uint32_t* v, uint32_t q, uint32_t n);
int qhat_too_big(uint32_t qhat, uint32_t rhat, uint32_t vnext, uint32_t unext);
uint32_t mp_add(uint32_t* w, const uint32_t* u, const uint32_t* v, uint32_t nd);
int mp_compare(const uint32_t* a, const uint32_t* b, uint32_t nd);
uint32_t mp_shift_left(uint32_t* a, const uint32_t* b, uint32_t s, uint32_t nd);
uint32_t mp_shift_right(uint32_t* a, const uint32_t* b, uint32_t s, uint32_t nd);
void mp_copy(uint32_t* a, const uint32_t* b, uint32_t nd);
void mp_set_zero(uint32_t* a, uint32_t nd);
void mp_set_digit(uint32_t* a, uint32_t d, uint32_t nd);
uint32_t mp_digits_used(const uint32_t* a, uint32_t nd);
uint32_t mp_short_div(uint32_t* q, const uint32_t* u, uint32_t d, uint32_t nd);
// Double digits are {low, high}.
// p = x * y.
int sp_multiply(uint32_t p[2], uint32_t x, uint32_t y);
// For d with its top bit set: q = low 32 bits of u / d, r = u mod d, answers
// the quotient's 33rd bit. Otherwise q = r = 0 and answers kSpNotNormalised.
uint32_t sp_divide(uint32_t* q, uint32_t* r, const uint32_t u[2], uint32_t d);
// u -= qhat * (vhigh * 2^16 + vlow) for half digits qhat, vhigh and vlow;
// answers 1 when that went below zero (u then holds the wrapped value).
int sp_mult_sub(uint32_t u[2], uint32_t qhat, uint32_t vhigh, uint32_t vlow);

#endif
