// Power series: the exponential function, the natural logarithm and the coefficients of the
// sine and the arc tangent. They are linked into the device ROM's free
// space with the compiler's floating point library (see rom/CMakeLists.txt).
#include "basic.h"

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
