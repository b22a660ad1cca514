// The functions of numbers: power series for the exponential function, the natural logarithm, the
// sine and the arc tangent, and what is built on them. They are linked into the device ROM's free
// space with the floating point routines (see rom/CMakeLists.txt).
#include "basic.h"

#include <string.h>
#define zero(p, n) memset(p, 0, n)

// Horner's rule over n coefficients, highest power first.
float poly(float x, const float* c, u8 n) {
    float r = 0;
    while (n--)
        r = r * x + *c++;
    return r;
}

const float exp_c[] = {1.98412698e-4f,
                       1.38888889e-3f,
                       8.33333333e-3f,
                       4.16666667e-2f,
                       1.66666667e-1f,
                       0.5f,
                       1,
                       1};                                                               // 1/k!
const float log_c[] = {0.181818182f, 0.222222222f, 0.285714286f, 0.4f, 0.666666667f, 2}; // 2/(2k+1)
const float sin_c[] = {1.60590438e-10f,
                       -2.50521084e-8f,
                       2.75573192e-6f,
                       -1.98412698e-4f,
                       8.33333333e-3f,
                       -1.66666667e-1f,
                       1}; // (-1)^k/(2k+1)!
const float atn_c[] = {0.0769230769f,
                       -0.0909090909f,
                       0.111111111f,
                       -0.142857143f,
                       0.2f,
                       -0.333333333f,
                       1}; // (-1)^k/(2k+1)

// ---- Reading numbers ----

static const float pow10_c[] = {1, 10, 100, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f}; // exact

// Whole numbers for the exact reading, in float.s: bn_n bytes each, the lowest first.
#define BN 58
extern u8 bn_n, bn_a[BN], bn_b[BN];
void bn_mul(u8* a, u16 k_c);  // a times k (low byte) plus c (high byte), k 1-255
void bn_shl1(u8* a);          // a times 2
u16 bn_bits(const u8* a);     // how many bits a has
void bn_quot(void);           // bn_a over bn_b into num_m, rounded to nearest (bn_a is changed)

// The decimal number s-end (digits, point, exponent; no sign) as the nearest float, ties to
// even: the quotient of two whole numbers, digits times 5^e over 1 or digits over 5^-e, worked
// out to 27 bits and a remainder. Digits past 120 count only as not being 0: a number halfway
// between two floats has fewer. Above the largest float is an OVERFLOW; below the smallest
// normal one is 0, as sums and products are.
static float read_exact(const u8* s, const u8* end) {
    u8 c, nd = 0, cut = 0, dot = 0, *b;
    i16 e = 0, x = 0, sh;
    bn_n = 1;
    zero(bn_a, BN);
    zero(bn_b, BN);
    for (; s < end; s++) {
        c = *s;
        if (c == '.') {
            dot = 1;
            continue;
        }
        if (c == 'E') break;
        c -= '0';
        if (nd < 120) {
            if (nd || c) {
                bn_mul(bn_a, 10 | c << 8);
                nd++;
            }
            e -= dot;
        } else {
            cut |= c;
            e += !dot;
        }
    }
    if (cut) { // a 1 behind the digits stands for the rest
        bn_mul(bn_a, 10 | 1 << 8);
        nd++;
        e--;
    }
    if (s < end) { // the exponent: scan.s made sure it has one or two digits
        c = *++s;
        if (c == '+' || c == '-') s++;
        while (s < end)
            x = x * 10 + *s++ - '0';
        e += c == '-' ? -x : x;
    }
    if (nd + e > 39) fail(E_OVERFLOW); // 10^39 or more
    if (nd + e < -37) return 0;       // below 10^-38
    bn_b[0] = 1;
    for (x = e < 0 ? -e : e; x; x--)
        bn_mul(e < 0 ? bn_b : bn_a, 5);
    sh = bn_bits(bn_b) + 26 - bn_bits(bn_a); // a over b from 2^25 to 2^27
    for (x = sh; x > 0; x--)
        bn_shl1(bn_a);
    for (x = sh < 0 ? 26 - sh : 26; x; x--)
        bn_shl1(bn_b);
    bn_quot();
    b = (u8*)&num_m; // the quotient times 2^(e - sh): its exponent moves
    e += (b[3] << 1 | b[2] >> 7) - sh;
    if (e >= 255) fail(E_OVERFLOW);
    if (e <= 0) return 0;
    b[3] = e >> 1;
    b[2] = (b[2] & 0x7F) | (u8)(e << 7);
    return num_m;
}

// The number scan.s gathered from s-end. A whole number below 2^24 times or over a power of ten
// up to 10^10 is both exact, so one rounding gives the nearest float: the usual case, and fast.
float read_number(const u8* s, const u8* end) {
    float m = num_m;
    i16 e = num_e;
    if (!num_cut && m < 16777216.0f) {
        for (; e > 10 && m < 1677721.6f; e--)
            m *= 10;
        if (e >= 0 && e <= 10) return chk(m * pow10_c[e]);
        if (e < 0 && e >= -10) return m / pow10_c[-e];
    }
    return read_exact(s, end);
}

float f_exp(float x) {
    i16 n;
    if (x > 88.7f) fail(E_OVERFLOW);
    if (x < -86.0f) return 0;
    n = (i16)f_floor(x * 1.44269504f + 0.5f);
    x = x - n * 0.693359375f + n * 2.12194440e-4f; // ln 2 in two parts keeps the rest exact
    x = poly(x, exp_c, 8);
    for (; n > 0; n--)
        x *= 2;
    for (; n < 0; n++)
        x *= 0.5f;
    return x;
}

float f_log(float x) {
    fbits b;
    i16 e;
    if (x <= 0) fail(E_VALUE);
    b.f = x;
    e = (i16)((b.l >> 23) & 255) - 127;
    b.l = (b.l & 0x7FFFFFUL) | 0x3F800000UL;
    if (b.f > 1.41421356f) {
        b.f *= 0.5f;
        e++;
    }
    x = (b.f - 1) / (b.f + 1);
    return x * poly(x * x, log_c, 6) + e * 0.693147181f;
}

float f_sqrt(float x) {
    float g;
    if (x < 0) fail(E_VALUE);
    if (x == 0) return 0;
    g = f_exp(f_log(x) * 0.5f);
    return (g + x / g) * 0.5f;
}

float f_sin(float x) {
    x -= f_floor(x * 0.159154943f + 0.5f) * 6.28318531f;
    if (x > 1.57079633f)
        x = 3.14159265f - x;
    else if (x < -1.57079633f)
        x = -3.14159265f - x;
    return x * poly(x * x, sin_c, 7);
}

float f_atn(float x) {
    float r = 0;
    u8 neg = 0, inv = 0;
    if (x < 0) {
        x = -x;
        neg = 1;
    }
    if (x > 1) {
        x = 1 / x;
        inv = 1;
    }
    if (x > 0.267949192f) { // atan x = pi/6 + atan((x sqrt 3 - 1) / (x + sqrt 3))
        x = (x * 1.73205081f - 1) / (x + 1.73205081f);
        r = 0.523598776f;
    }
    x = x * poly(x * x, atn_c, 7) + r;
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

float f_cos(float x) { return f_sin(x + 1.57079633f); }
float f_tan(float x) { return chk(f_sin(x) / f_cos(x)); }
