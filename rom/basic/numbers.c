// The functions of numbers and the exact reading of decimal numbers. They are linked into the
// device ROM's free space with the floating point routines (see rom/CMakeLists.txt).
#include "basic.h"

#include <string.h>
#define zero(p, n) memset(p, 0, n)

// Whole numbers for exact reading and exact angles, in float.s: bn_n bytes each, the lowest first;
// bn_b follows bn_a.
#define BN 58
extern u8 bn_n, bn_a[BN], bn_b[BN];
void bn_mul(u8* a, u16 k_c);   // a times k (low byte) plus c (high byte), k 1-255
void bn_shl1(u8* a);           // a times 2
u16 bn_bits(const u8* a);      // how many bits a has
u8 bn_sub(u8* a, const u8* b); // a - b and 1 when a >= b, else 0
void bn_quot(void);            // bn_a over bn_b into num_m, rounded to nearest (bn_a is changed)
u8 bn_digits(const u8* s, const u8* end); // the digits of s-end into bn_a, the power of ten
extern i16 bn_e;                          // into bn_e; how many digits were kept
i16 bn_align(void);                       // bn_a 10^bn_e as num_m 2^(bn_e - the result)

// ---- Functions ----
// Each works in floats with the rounding error that matters kept apart (a reduced argument as
// a high and a low part), so that the result is within a unit of the last place of the true
// value, mostly the nearest float. The arithmetic runs as byte codes on float.s's calculator:
// slots fv[0-6] and an accumulator; K stands for the float written after the code.
extern float fv[7];
float fcalc(const u8* code);
#define LD    0x00
#define ST    0x08
#define ADD   0x10
#define SUB   0x18
#define MUL   0x20
#define DIV   0x28
#define RSUB  0x30
#define RDIV  0x38
#define K     7
#define HALF  0xFC
#define FLOOR 0xFD
#define POLY  0xFE
#define END   0xFF
#define F(v)  (u8)(v##UL), (u8)(v##UL >> 8), (u8)(v##UL >> 16), (u8)(v##UL >> 24) // a float's bits

// x times 2^n by moving its exponent: 0 below the smallest normal float, as sums and products
// are; OVERFLOW past the largest. x is normal or 0. (float.s)
float scale2(float x, i16 n);

// e^x = 2^n e^r: n = INT(x / ln 2 + 0.5), r = x - n ln 2 (ln 2 in two parts, n times the first
// exact) within +-0.35, e^r = 1 + r + r^2 (1/2! + r/3! + ... + r^6/8!).
// clang-format off
static const u8 exp_n[] = {LD | 0, MUL | K, F(0x3FB8AA3B), ADD | K, F(0x3F000000), FLOOR, END};
// clang-format on
// clang-format off
static const u8 exp_r[] = {LD | 1, MUL | K, F(0x3F318000), RSUB | 0, ST | 2, LD | 1, MUL | K,
                           F(0xB95E8083), RSUB | 2, ST | 2, POLY, 7, F(0x37D00D01), F(0x39500D01),
                           F(0x3AB60B61), F(0x3C088889), F(0x3D2AAAAB), F(0x3E2AAAAB),
                           F(0x3F000000), MUL | 2, MUL | 2, ADD | 2, ADD | K, F(0x3F800000), END};
// clang-format on
float f_exp(float x) {
    i16 n;
    if (x > 88.73f) fail(E_OVERFLOW);
    if (x < -88.0f) return 0; // below the smallest normal float
    fv[0] = x;
    fv[1] = n = (i16)fcalc(exp_n);
    return scale2(fcalc(exp_r), n);
}

// ln x = n ln 2 + ln m, m = 1 + f from 0.71 to 1.41. With s = f / (2 + f), z = s^2,
// h = f^2/2 and R = 2z/3 + 2z^2/5 + ... + 2z^4/9: ln m = f - (h - s (h + R)).
// clang-format off
static const u8 log_m[] = {LD | 0, SUB | K, F(0x3F800000), ST | 2, ADD | K, F(0x40000000), RDIV | 2,
                           ST | 3, MUL | 3, ST | 4, LD | 2, MUL | 2, HALF, ST | 5,
                           LD | 4, POLY, 4, F(0x3E638E39), F(0x3E924925),
                           F(0x3ECCCCCD), F(0x3F2AAAAB), MUL | 4, ADD | 5, MUL | 3, ST | 6, LD | 1,
                           MUL | K, F(0xB95E8083), ADD | 6, RSUB | 5, SUB | 2, ST | 6, LD | 1,
                           MUL | K, F(0x3F318000), SUB | 6, END};
// clang-format on
float f_log(float x) {
    u8* b = (u8*)&x;
    i16 n;
    if (x <= 0) fail(E_VALUE);
    n = (b[3] << 1 | b[2] >> 7) - 127;
    b[3] = 0x3F; // the exponent of 1
    b[2] |= 0x80;
    if (((u16*)b)[1] >= 0x3FB5) { // from sqrt 2 on: the exponent of 1/2
        b[2] &= 0x7F;
        n++;
    }
    fv[0] = x;
    fv[1] = n;
    return fcalc(log_m);
}

// A guess from e^(ln x / 2), then a step of Newton's rule: (g + x/g) / 2.
// clang-format off
static const u8 sqr_step[] = {LD | 0, DIV | 1, ADD | 1, HALF, END};
// clang-format on
float f_sqrt(float x) {
    if (x < 0) fail(E_VALUE);
    if (x == 0) return 0;
    fv[1] = f_exp(f_log(x) * 0.5f); // (they use the slots too)
    fv[0] = x;
    return fcalc(sqr_step);
}

// ---- Sine, cosine, tangent ----
// The argument less q quarter turns is r = fv[4] + fv[5] (a high and a low part) within +-pi/4.

// fv[2] + fv[3] as fv[4] + fv[5], exactly: the sum and what its rounding lost (fv[2] is the
// larger).
// clang-format off
static const u8 two_sum[] = {LD | 2, ADD | 3, ST | 4, SUB | 2, RSUB | 3, ST | 5, END};
// clang-format on

// sin r = hi + (hi z (-1/3! + z/5! - ...) + lo (1 - z/2)), z = hi^2; the part in parentheses
// is left in fv[0]
// clang-format off
static const u8 sin_r[] = {LD | 4, MUL | 4, ST | 6, HALF, RSUB | K, F(0x3F800000),
                           MUL | 5, ST | 3, LD | 6, POLY, 4, F(0x3638EF1D), F(0xB9500D01),
                           F(0x3C088889), F(0xBE2AAAAB), MUL | 6, MUL | 4, ADD | 3, ST | 0,
                           ADD | 4, END};
// clang-format on
// cos r = w + (((1 - w) - z/2) + (z^2 (1/4! - z/6! + ...) - hi lo)), w = 1 - z/2; w is left
// in fv[2], the part in parentheses in fv[3]
// clang-format off
static const u8 cos_r[] = {LD | 4, MUL | 4, ST | 6, HALF, ST | 3, RSUB | K,
                           F(0x3F800000), ST | 2, RSUB | K, F(0x3F800000), SUB | 3, ST | 3, LD | 6,
                           POLY, 4, F(0xB493F27E), F(0x37D00D01), F(0xBAB60B61), F(0x3D2AAAAB),
                           MUL | 6, MUL | 6, ST | 1, LD | 4, MUL | 5, RSUB | 1, ADD | 3, ST | 3,
                           ADD | 2, END};
// clang-format on

// From pi/4 on, exactly (bn_angle in float.s): on the Z80 the long division by pi/2 in whole
// numbers takes less time than a reduction in floats that is exact enough.
u8 bn_angle(float x);
extern i16 bn_f;
extern u8 bn_neg;

// Bytes i, i-1, i-2 of bn_a as a float times 2^(8 (i - 2) - bn_f).
static float take3(u8 i) {
    return scale2((float)(*(u32*)(bn_a + i - 2) & 0xFFFFFFUL), 8 * (i - 2) - bn_f);
}

static u8 reduce_big(float x) {
    u8 q = bn_angle(x), j = (bn_bits(bn_a) - 1) >> 3; // the top byte
    if (j < 5) j = 5;
    fv[2] = take3(j);
    fv[3] = take3(j - 3);
    fcalc(two_sum);
    if (bn_neg) {
        ((u8*)fv)[19] ^= 0x80;
        ((u8*)fv)[23] ^= 0x80;
    }
    return q;
}

// q for x, not negative, and r in fv[4] + fv[5].
static u8 reduce(float x) {
    if (((u16*)&x)[1] < 0x3F49) { // below pi/4: as it is
        fv[4] = x;
        fv[5] = 0;
        return 0;
    }
    return reduce_big(x);
}

// sin x, or cos x (c 1) as the sine a quarter turn on.
static float sin_cos(float x, u8 c) {
    u8 neg = !c && ((u8*)&x)[3] >> 7, q;
    ((u8*)&x)[3] &= 0x7F;
    q = reduce(x) + c;
    x = fcalc(q & 1 ? cos_r : sin_r);
    if ((q >> 1 ^ neg) & 1) ((u8*)&x)[3] ^= 0x80;
    return x;
}

float f_sin(float x) { return sin_cos(x, 0); }
float f_cos(float x) { return sin_cos(x, 1); }
// tan r = s / c for the sine s = S + Sl and the cosine c = C + Cl, each a sum rounded and what
// its rounding lost (sin_r and cos_r leave their parts); then t = S / C rounded, corrected by
// (Sl - t Cl) / C, so that the error of two roundings of s and c does not add to the quotient's.
// A quarter turn on it is -c / s.
// clang-format off
static const u8 tan_parts[] = {LD | 2, ADD | 3, ST | 1, SUB | 2, RSUB | 3, ST | 3, LD | 4, ADD | 0,
                               ST | 2, SUB | 4, RSUB | 0, ST | 0, END};
static const u8 tan_even[] = {LD | 2, DIV | 1, ST | 4, MUL | 3, RSUB | 0, DIV | 1, ADD | 4, END};
static const u8 tan_odd[] = {LD | 1, DIV | 2, ST | 4, MUL | 0, RSUB | 3, DIV | 2, ADD | 4, END};
// clang-format on
float f_tan(float x) {
    u8 neg = ((u8*)&x)[3] >> 7, q;
    ((u8*)&x)[3] &= 0x7F;
    q = reduce(x);
    fcalc(sin_r);
    fcalc(cos_r);
    fcalc(tan_parts);
    x = fcalc(q & 1 ? tan_odd : tan_even);
    if ((q ^ neg) & 1) ((u8*)&x)[3] ^= 0x80;
    return chk(x);
}

// ---- Reading numbers ----

static const float pow10_c[] = {1,    10,   100,  1e3f, 1e4f, 1e5f,
                                1e6f, 1e7f, 1e8f, 1e9f, 1e10f}; // exact

// The decimal number s-end (digits, point, exponent; no sign) as the nearest float, ties to
// even: the quotient of two whole numbers, digits times 5^e over 1 or digits over 5^-e, worked
// out to 27 bits and a remainder. Digits past 120 count only as not being 0: a number halfway
// between two floats has fewer. Above the largest float is an OVERFLOW; below the smallest
// normal one is 0, as sums and products are.
static float read_exact(const u8* s, const u8* end) {
    u8 nd = bn_digits(s, end);
    i16 e = bn_e, sh;
    if (nd + e > 39) fail(E_OVERFLOW); // 10^39 or more
    if (nd + e < -37) return 0;        // below 10^-38
    sh = bn_align();
    return scale2(num_m, e - sh);
}

// The number scan.s gathered from num_s-end. A whole number below 2^23 times or over a power of
// ten up to 10^10 is both exact, so one rounding gives the nearest float: the usual case, and
// fast. (The product is below 2^57: finite.)
float read_number(const u8* end) {
    i16 e = num_e;
    if (!num_cut && ((u8*)&num_m)[3] < 0x4B && (u16)(e + 10) <= 20) // below 2^23, 10^-10 to 10^10
        return e < 0 ? num_m / pow10_c[-e] : num_m * pow10_c[e];
    return read_exact(num_s, end);
}

// atan x = pi/2 - atan(1/x) above 1; atan x = pi/6 + atan((x sqrt 3 - 1) / (x + sqrt 3)) above
// 2 - sqrt 3; then x - x^3/3 + x^5/5 - ... + x^13/13.
// clang-format off
static const u8 atn_r[] = {LD | 0, MUL | 0, POLY, 7, F(0x3D9D89D9), F(0xBDBA2E8C), F(0x3DE38E39),
                           F(0xBE124925), F(0x3E4CCCCD), F(0xBEAAAAAB), F(0x3F800000), MUL | 0,
                           ADD | 1, END};
// clang-format on
float f_atn(float x) {
    u8 neg = 0, inv = 0;
    fv[1] = 0;
    if (x < 0) {
        x = -x;
        neg = 1;
    }
    if (x > 1) {
        x = 1 / x;
        inv = 1;
    }
    if (x > 0.267949192f) {
        x = (x * 1.73205081f - 1) / (x + 1.73205081f);
        fv[1] = 0.523598776f;
    }
    fv[0] = x;
    x = fcalc(atn_r);
    if (inv) x = 1.57079633f - x;
    return neg ? -x : x;
}

float f_pow(float a, float b) {
    float r = 1;
    i16 n;
    if (b == f_floor(b) && b > -1000 && b < 1000) { // whole powers by multiplying: exact results
        for (n = (i16)b; n; n += n < 0 ? 1 : -1)
            r = chk(r * a);
        return b < 0 ? chk(1 / r) : r;
    }
    if (a < 0) fail(E_VALUE);
    if (a == 0) return 0;
    return f_exp(b * f_log(a));
}
