#include "link/mp_arith.h"

#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "tools/standin/core/login_key.h"

namespace {

using Num = std::vector<uint32_t>;

// A slow reference that shares nothing with the code under test: numbers as
// digit vectors, division one bit at a time.

uint32_t ref_bit(const Num& a, size_t i) { return (a[i / 32] >> (i % 32)) & 1; }

int ref_compare(const Num& a, const Num& b) {
  for (size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
  }
  return 0;
}

void ref_sub(Num& a, const Num& b) {  // a -= b, same sizes, a >= b
  uint64_t borrow = 0;
  for (size_t i = 0; i < a.size(); i++) {
    const uint64_t d = uint64_t{a[i]} - b[i] - borrow;
    a[i] = static_cast<uint32_t>(d);
    borrow = (d >> 32) ? 1 : 0;
  }
}

// Quotient and remainder of u by a non-zero v, both sized like u.
std::pair<Num, Num> ref_divmod(const Num& u, Num v) {
  const size_t n = u.size() + 1;
  v.resize(n, 0);
  Num q(u.size(), 0), r(n, 0);
  for (size_t i = u.size() * 32; i-- > 0;) {
    for (size_t k = n; k-- > 1;) r[k] = (r[k] << 1) | (r[k - 1] >> 31);
    r[0] = (r[0] << 1) | ref_bit(u, i);
    if (ref_compare(r, v) >= 0) {
      ref_sub(r, v);
      q[i / 32] |= 1u << (i % 32);
    }
  }
  r.resize(u.size());
  return {q, r};
}

Num ref_mulmod(const Num& a, const Num& b, const Num& m) {
  Num p(a.size() + b.size(), 0);
  for (size_t i = 0; i < a.size(); i++) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.size(); j++) {
      const uint64_t t = uint64_t{a[i]} * b[j] + p[i + j] + carry;
      p[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    p[i + b.size()] = static_cast<uint32_t>(carry);
  }
  Num r = ref_divmod(p, m).second;
  r.resize(m.size());
  return r;
}

// x^e mod m for e >= 2 and non-zero m.
Num ref_modexp(const Num& x, const Num& e, const Num& m) {
  Num y = ref_divmod(x, m).second;
  const Num base = y;
  size_t top = e.size() * 32;
  while (!ref_bit(e, top - 1)) top--;
  for (size_t i = top - 1; i-- > 0;) {
    y = ref_mulmod(y, y, m);
    if (ref_bit(e, i)) y = ref_mulmod(y, base, m);
  }
  return y;
}

class Digits {
 public:
  explicit Digits(uint32_t seed) : rng_(seed) {}
  uint32_t any() { return static_cast<uint32_t>(rng_()); }
  uint32_t below(uint32_t n) { return any() % n; }
  // Mostly random digits, often values at the edges of a digit, which is
  // where quotient estimates go wrong.
  uint32_t edgy() {
    static constexpr uint32_t kEdges[] = {0, 1, 2, 0x7fffffff, 0x80000000, 0xfffffffe, 0xffffffff};
    return below(3) == 0 ? kEdges[below(7)] : any();
  }
  Num number(size_t nd, bool edges) {
    Num a(nd);
    for (auto& d : a) d = edges ? edgy() : any();
    return a;
  }

 private:
  std::mt19937 rng_;
};

Num mod_exp(Num x, Num e, Num m) {
  Num y(x.size(), 0xdeadbeef);
  EXPECT_EQ(mp_mod_exp(y.data(), x.data(), e.data(), m.data(), static_cast<uint32_t>(x.size())), 0);
  return y;
}

}  // namespace

TEST(MpSingleDigit, MultiplyAndDivideAgreeWithNativeArithmetic) {
  Digits rnd(1);
  for (int i = 0; i < 20000; i++) {
    const uint32_t x = rnd.edgy(), y = rnd.edgy();
    uint32_t p[2];
    sp_multiply(p, x, y);
    ASSERT_EQ((uint64_t{p[1]} << 32) | p[0], uint64_t{x} * y) << x << " * " << y;

    const uint32_t d = rnd.edgy() | 0x80000000;
    const uint32_t u[2] = {rnd.edgy(), rnd.edgy()};
    const uint64_t whole = (uint64_t{u[1]} << 32) | u[0];
    uint32_t q = 0, r = 0;
    const uint32_t bit33 = sp_divide(&q, &r, u, d);
    ASSERT_EQ((uint64_t{bit33} << 32) | q, whole / d) << std::hex << whole << " / " << d;
    ASSERT_EQ(r, whole % d);
  }
  // Divisors whose halves make the first estimate two too big.
  for (const uint32_t d : {0x8000ffffu, 0x80000000u, 0xffffffffu, 0x8001fffeu}) {
    const uint32_t u[2] = {0xffffffff, d - 1};
    const uint64_t whole = (uint64_t{u[1]} << 32) | u[0];
    uint32_t q = 0, r = 0;
    EXPECT_EQ(sp_divide(&q, &r, u, d), 0u);
    EXPECT_EQ(q, whole / d);
    EXPECT_EQ(r, whole % d);
  }
}

TEST(MpSingleDigit, DivideRefusesADivisorWithoutItsTopBit) {
  const uint32_t u[2] = {5, 1};
  uint32_t q = 7, r = 7;
  EXPECT_EQ(sp_divide(&q, &r, u, 0x7fffffff), 0xffffffffu);
  EXPECT_EQ(q, 0u);
  EXPECT_EQ(r, 0u);
}

TEST(MpHelpers, ShiftsByZeroCopyAndByThirtyTwoChangeNothing) {
  const uint32_t b[3] = {0x80000001, 0xf000000f, 0x12345678};
  uint32_t a[3] = {9, 9, 9};
  EXPECT_EQ(mp_shift_left(a, b, 0, 3), 0u);
  EXPECT_EQ(mp_compare(a, b, 3), 0);
  uint32_t c[3] = {9, 9, 9};
  EXPECT_EQ(mp_shift_right(c, b, 0, 3), 0u);
  EXPECT_EQ(mp_compare(c, b, 3), 0);

  const uint32_t nines[3] = {9, 9, 9};
  for (const uint32_t s : {32u, 33u, 0xffffffffu}) {
    uint32_t d[3] = {9, 9, 9};
    EXPECT_EQ(mp_shift_left(d, b, s, 3), 0u);
    EXPECT_EQ(mp_shift_right(d, b, s, 3), 0u);
    EXPECT_EQ(mp_compare(d, nines, 3), 0);
  }
}

TEST(MpHelpers, ShiftsHandBackTheBitsThatFallOut) {
  const uint32_t b[2] = {0x80000001, 0xf000000f};
  uint32_t a[2];
  EXPECT_EQ(mp_shift_left(a, b, 4, 2), 0xfu);
  EXPECT_EQ(a[0], 0x00000010u);
  EXPECT_EQ(a[1], 0x000000f8u);
  EXPECT_EQ(mp_shift_right(a, b, 4, 2), 0x10000000u);
  EXPECT_EQ(a[0], 0xf8000000u);
  EXPECT_EQ(a[1], 0x0f000000u);
  // In place, as the division uses them.
  uint32_t c[2] = {0x80000001, 0xf000000f};
  EXPECT_EQ(mp_shift_left(c, c, 31, 2), 0x78000007u);
  EXPECT_EQ(mp_shift_right(c, c, 31, 2), 0u);
  EXPECT_EQ(c[0], 0x80000001u);
  EXPECT_EQ(c[1], 1u);
}

TEST(MpHelpers, CompareOverNoDigitsAndMultSubByZero) {
  const uint32_t a[3] = {5, 0, 7};
  const uint32_t b[3] = {6, 0, 6};
  EXPECT_EQ(mp_compare(a, b, 0), 0);
  EXPECT_EQ(mp_compare(a, b, 3), 1);
  EXPECT_EQ(mp_compare(a, b, 2), -1);

  const uint32_t ones[2] = {0xffffffff, 0xffffffff};
  uint32_t w[2] = {3, 4};
  EXPECT_EQ(mp_mult_sub(7, w, ones, 0, 2), 7u);
  EXPECT_EQ(w[0], 3u);
  EXPECT_EQ(w[1], 4u);
  // Taking too much shows in the top digit.
  EXPECT_EQ(mp_mult_sub(0, w, ones, 1, 2), 0xffffffffu);
}

TEST(MpDivide, MatchesTheBitwiseReferenceAndRestoresTheDivisor) {
  Digits rnd(2);
  for (int i = 0; i < 3000; i++) {
    const uint32_t ud = 1 + rnd.below(12);
    const uint32_t vd = 1 + rnd.below(ud + 2);
    const bool edges = rnd.below(2) == 0;
    Num u = rnd.number(ud, edges);
    Num v = rnd.number(vd, edges);
    // Vary the length actually used on both sides.
    for (uint32_t k = rnd.below(vd); k > 0; k--) v[vd - k] = 0;
    if (rnd.below(4) == 0) u[ud - 1] = 0;
    if (mp_digits_used(v.data(), vd) == 0) v[0] = 3;
    const Num v_before = v;
    Num q(ud, 0xaaaaaaaa), r(ud, 0xaaaaaaaa);
    ASSERT_EQ(mp_divide(q.data(), r.data(), u.data(), ud, v.data(), vd), 0);
    Num vv = v_before;
    vv.resize(std::max(ud, vd), 0);
    Num uu = u;
    uu.resize(vv.size(), 0);
    auto [eq, er] = ref_divmod(uu, vv);
    eq.resize(ud);
    er.resize(ud);
    ASSERT_EQ(q, eq) << "case " << i;
    ASSERT_EQ(r, er) << "case " << i;
    ASSERT_EQ(v, v_before) << "case " << i;
  }
}

TEST(MpDivide, QuotientDigitsThatNeedCorrecting) {
  struct Case {
    Num u, v, q, r;
  };
  // The first two have a quotient digit whose estimate survives the two-digit
  // test and is still one too big, so it must be added back; the last one's
  // estimate fails that test twice.
  const Case cases[] = {
      {{0, 0, 0x80000000, 0x7fffffff}, {1, 0, 0x80000000}, {0xfffffffe, 0, 0, 0}, {2, 0xffffffff, 0x7fffffff, 0}},
      {{2, 0, 0xfffffffe, 0x80000000, 1},
       {0xffffffff, 0, 1},
       {0x7fffffff, 0x7fffffff, 1, 0, 0},
       {0x80000001, 0, 1, 0, 0}},
      {{0x80000000, 1, 0, 1}, {0xe3e874ee, 0x80000000}, {0xfffffffc, 1, 0, 0}, {0xfa1d3b8, 0x382f1629, 0, 0}},
  };
  for (const Case& c : cases) {
    Num v = c.v;
    Num q(c.u.size(), 1), r(c.u.size(), 1);
    const auto ud = static_cast<uint32_t>(c.u.size());
    ASSERT_EQ(mp_divide(q.data(), r.data(), c.u.data(), ud, v.data(), static_cast<uint32_t>(v.size())), 0);
    EXPECT_EQ(q, c.q);
    EXPECT_EQ(r, c.r);
    EXPECT_EQ(v, c.v);
    auto [eq, er] = ref_divmod(c.u, c.v);
    EXPECT_EQ(q, eq);
    EXPECT_EQ(r, er);
  }
}

TEST(MpDivide, ZeroDivisorEqualAndSmallerDividends) {
  uint32_t u[3] = {1, 2, 3};
  uint32_t zero[2] = {0, 0};
  uint32_t q[3] = {7, 7, 7}, r[3] = {7, 7, 7};
  EXPECT_EQ(mp_divide(q, r, u, 3, zero, 2), -1);
  EXPECT_EQ(mp_digits_used(q, 3), 0u);
  EXPECT_EQ(mp_digits_used(r, 3), 0u);

  uint32_t same[3] = {1, 2, 3};
  EXPECT_EQ(mp_divide(q, r, u, 3, same, 3), 0);
  EXPECT_EQ(q[0], 1u);
  EXPECT_EQ(mp_digits_used(q, 3), 1u);
  EXPECT_EQ(mp_digits_used(r, 3), 0u);

  // Smaller with as many digits, and with fewer digits.
  for (uint32_t top : {4u, 0u}) {
    uint32_t bigger[3] = {0, 0, top};
    if (top == 0) bigger[1] = 9;
    uint32_t smaller[3] = {5, top == 0 ? 0u : 5u, top == 0 ? 0u : 3u};
    EXPECT_EQ(mp_divide(q, r, smaller, 3, bigger, 3), 0);
    EXPECT_EQ(mp_digits_used(q, 3), 0u);
    EXPECT_EQ(mp_compare(r, smaller, 3), 0);
  }
}

TEST(MpDivide, OneDigitDivisorGoesThroughShortDivision) {
  const uint32_t u[3] = {0x89abcdef, 0x01234567, 0xfedcba98};
  uint32_t v[3] = {10, 0, 0};
  uint32_t q[3], r[3];
  ASSERT_EQ(mp_divide(q, r, u, 3, v, 3), 0);
  uint32_t sq[3];
  const uint32_t rest = mp_short_div(sq, u, 10, 3);
  EXPECT_EQ(mp_compare(q, sq, 3), 0);
  EXPECT_EQ(r[0], rest);
  EXPECT_EQ(mp_digits_used(r, 3), r[0] ? 1u : 0u);
  auto [eq, er] = ref_divmod(Num(u, u + 3), Num(v, v + 3));
  EXPECT_EQ(Num(q, q + 3), eq);
  EXPECT_EQ(Num(r, r + 3), er);
  EXPECT_EQ(v[0], 10u);

  // The low 64 bits against native arithmetic, for divisors of every width.
  Digits rnd(3);
  for (int i = 0; i < 2000; i++) {
    const uint32_t w[2] = {rnd.edgy(), rnd.edgy()};
    const uint32_t d = rnd.edgy() >> rnd.below(32);
    if (d == 0) continue;
    const uint64_t whole = (uint64_t{w[1]} << 32) | w[0];
    uint32_t wq[2];
    ASSERT_EQ(mp_short_div(wq, w, d, 2), whole % d);
    ASSERT_EQ((uint64_t{wq[1]} << 32) | wq[0], whole / d);
  }

  uint32_t untouched[1] = {5};
  EXPECT_EQ(mp_short_div(untouched, u, 0, 1), 0u);
  EXPECT_EQ(mp_short_div(untouched, u, 3, 0), 0u);
  EXPECT_EQ(untouched[0], 5u);
}

TEST(MpDivide, EmptyDividendWritesNothing) {
  // A dividend of no digits leaves no room for a remainder digit either.
  uint32_t u[1] = {0};
  uint32_t v[1] = {7};
  uint32_t guard[2] = {0x5a5a5a5a, 0x5a5a5a5a};
  EXPECT_EQ(mp_divide(guard, guard + 1, u, 0, v, 1), 0);
  EXPECT_EQ(guard[0], 0x5a5a5a5au);
  EXPECT_EQ(guard[1], 0x5a5a5a5au);
}

TEST(MpModulo, RefusesADividendBeyondItsWorkArrays) {
  std::vector<uint32_t> u(kMpWorkDigits + 1, 0xffffffff);
  uint32_t v[2] = {0x12345, 1};
  uint32_t r[2] = {9, 9};
  EXPECT_EQ(mp_modulo(r, u.data(), kMpWorkDigits + 1, v, 2), -1);
  EXPECT_EQ(r[0], 9u);
  EXPECT_EQ(r[1], 9u);
  // The largest dividend it takes, and a modulus longer than the dividend.
  EXPECT_EQ(mp_modulo(r, u.data(), kMpWorkDigits, v, 2), 0);
  auto expected = ref_divmod(Num(u.begin(), u.end() - 1), Num(v, v + 2)).second;
  EXPECT_EQ(r[0], expected[0]);
  EXPECT_EQ(r[1], expected[1]);
  uint32_t wide[4] = {1, 2, 3, 4};
  uint32_t wr[4] = {9, 9, 9, 9};
  const uint32_t small[2] = {6, 5};
  EXPECT_EQ(mp_modulo(wr, small, 2, wide, 4), 0);
  EXPECT_EQ(Num(wr, wr + 4), (Num{6, 5, 0, 0}));
}

TEST(MpModMult, RefusesMoreDigitsThanItsWorkArrayHoldsAndAllowsAliasing) {
  std::vector<uint32_t> x(kMpMaxDigits + 1, 3), m(kMpMaxDigits + 1, 0xffffffff);
  std::vector<uint32_t> a(kMpMaxDigits + 1, 9);
  EXPECT_EQ(mp_mod_mult(a.data(), x.data(), x.data(), m.data(), kMpMaxDigits + 1), -1);
  EXPECT_EQ(a, std::vector<uint32_t>(kMpMaxDigits + 1, 9));

  Digits rnd(4);
  Num p = rnd.number(kMpMaxDigits, false), s = rnd.number(kMpMaxDigits, false);
  Num mod = rnd.number(kMpMaxDigits, false);
  const Num expected = ref_mulmod(p, s, mod);
  EXPECT_EQ(mp_mod_mult(p.data(), p.data(), s.data(), mod.data(), kMpMaxDigits), 0);
  EXPECT_EQ(p, expected);
}

TEST(MpModExp, KnownValues) {
  struct Case {
    Num x, e, m, y;
  };
  // Computed independently with arbitrary-precision integers.
  const Case cases[] = {
      {{0x73cf256d, 0xdda1494c, 0x8f4d3e27, 0xdb5b5fab, 0xec99108d, 0xc7fde805, 0x7734d7c1, 0x73ab4876},
       {0x8201e2bd, 0xdae44550, 0x965eda32, 0x309d6b79, 0x2f45e678, 0xcdcc6929, 0x830c71c2, 0x79cb9e86},
       {0xa13ffe79, 0x9d2c67ed, 0xcb008853, 0x2fa91425, 0x18187993, 0x7253edc6, 0x4dabb481, 0xa44caf9c},
       {0xa7a9899d, 0xfbdb0d11, 0x41a3cb82, 0xd6af4977, 0x64084831, 0x4d7f67fb, 0x66971793, 0x9f58a127}},
      {{0x17362f25, 0x89e7d15f, 0xcf44dd3f, 0xe3eff9c0, 0xb1852f27, 0xa26b7f62, 0x0ab8ab67, 0x986e86cb},
       {0xfb710734, 0x656abd72, 0xf6fa5db8, 0x73f778aa, 0xa7677796, 0xbd299753, 0x9d95847e, 0xa66b0d38},
       {0x28518867, 0x9f8558a6, 0x03d71684, 0xd4ea65d0, 0x8743feb6, 0x102b938b, 0x0f3ebdd3, 0x89208a65},
       {0xf20554c5, 0x8441d19a, 0xc8ea56b7, 0x16962cb5, 0x92de425a, 0xa9d6c81c, 0x2b931199, 0x163f6791}},
      {{0xff666589, 0x8d1fe1da, 0xfee5a5b2, 0xee82ec3f, 0xd7185dda, 0x154cd2aa, 0xb53302fc, 0x4105cca7},
       {0x50b601fc, 0xc20ba2c2, 0x3acb6266, 0x834c687a, 0x49fe85b0, 0x079dd25a, 0x00000011, 0},
       {0x902a174f, 0xc42b7170, 0x1ba1192e, 0x66809a11, 0x0006e63e, 0, 0, 0},
       {0xe58a32bd, 0x961dae42, 0x96216fd3, 0x46a2126f, 0x00059e4d, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Num m = c.m;
    EXPECT_EQ(mod_exp(c.x, c.e, m), c.y);
    EXPECT_EQ(m, c.m) << "the modulus must come back as it was";
    EXPECT_EQ(ref_modexp(c.x, c.e, c.m), c.y) << "reference";
  }
}

TEST(MpModExp, RandomBlocksMatchTheReference) {
  Digits rnd(5);
  for (int i = 0; i < 24; i++) {
    Num x = rnd.number(8, i % 3 == 0);
    Num e = rnd.number(8, false);
    Num m = rnd.number(8, i % 3 == 0);
    if (i % 4 == 1) {
      // A modulus of fewer digits, the block then far above it.
      for (uint32_t k = 1 + rnd.below(7); k > 0; k--) m[8 - k] = 0;
    } else {
      m[7] |= rnd.below(2) ? 0x80000000 : 1;
    }
    if (i % 5 == 2) e.assign({0x10001, 0, 0, 0, 0, 0, 0, 0});
    if (mp_digits_used(m.data(), 8) == 0) m[0] = 0x1234567;
    ASSERT_EQ(mod_exp(x, e, m), ref_modexp(x, e, m)) << "case " << i;
  }
}

TEST(MpModExp, StandinKeyPairRoundTrips) {
  Digits rnd(6);
  Num m(standin::kLoginModulus, standin::kLoginModulus + 8);
  const Num e(standin::kLoginExponent, standin::kLoginExponent + 8);
  const Num d(standin::kLoginPrivate, standin::kLoginPrivate + 8);
  for (int i = 0; i < 8; i++) {
    Num x = rnd.number(8, false);
    x[7] &= 0x7fffffff;
    EXPECT_EQ(mod_exp(mod_exp(x, e, m), d, m), x);
  }
}

TEST(MpModExp, SmallExponentsAndTheTopBit) {
  Num m = {0xfffffffb, 0xffffffff, 0, 0};
  const Num x = {0xffffffff, 0xffffffff, 0xffffffff, 5};  // far above m
  // e = 1 hands the block back unreduced.
  EXPECT_EQ(mod_exp(x, {1, 0, 0, 0}, m), x);
  EXPECT_EQ(mod_exp(x, {2, 0, 0, 0}, m), ref_mulmod(x, x, m));

  // Only the top bit of a 256-bit exponent: 255 squarings.
  Num m8 = {0x2d, 0, 0, 0, 0, 0, 0, 0x80000000};
  const Num x8 = {3, 0, 0, 0, 0, 0, 0, 0};
  Num expected = x8;
  for (int i = 0; i < 255; i++) expected = ref_mulmod(expected, expected, m8);
  EXPECT_EQ(mod_exp(x8, {0, 0, 0, 0, 0, 0, 0, 0x80000000}, m8), expected);

  // A zero modulus reduces everything to zero.
  EXPECT_EQ(mod_exp(x, {3, 0, 0, 0}, {0, 0, 0, 0}), (Num{0, 0, 0, 0}));
}

TEST(MpModExp, RefusesWhatItCannotComputeWithoutWriting) {
  Num x = {2, 0}, m = {7, 0};
  Num y = {0x11, 0x22};
  const Num e = {3, 0};
  EXPECT_EQ(mp_mod_exp(y.data(), x.data(), e.data(), m.data(), 0), -1);
  const Num zero = {0, 0};
  EXPECT_EQ(mp_mod_exp(y.data(), x.data(), zero.data(), m.data(), 2), -1);
  EXPECT_EQ(y, (Num{0x11, 0x22}));

  const uint32_t wide = kMpMaxDigits + 1;
  Num bx(wide, 2), be(wide, 0), bm(wide, 0xffffffff), by(wide, 0x33);
  be[0] = 3;
  EXPECT_EQ(mp_mod_exp(by.data(), bx.data(), be.data(), bm.data(), wide), -1);
  EXPECT_EQ(by, Num(wide, 0x33));
  // The widest accepted size still works.
  EXPECT_EQ(mp_mod_exp(by.data(), bx.data(), be.data(), bm.data(), kMpMaxDigits), 0);
  Num sx(bx.begin(), bx.end() - 1), se(be.begin(), be.end() - 1), sm(bm.begin(), bm.end() - 1);
  EXPECT_EQ(Num(by.begin(), by.end() - 1), ref_modexp(sx, se, sm));
}
