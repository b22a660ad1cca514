// What the BASIC's units share.
#ifndef BASIC_H
#define BASIC_H

#include "machine.h"

typedef long i32;
typedef unsigned long u32;
typedef signed char i8;

typedef union {
    float f;
    u32 l;
} fbits;

enum {
    E_SYNTAX,
    E_OVERFLOW,
    E_DIV0,
    E_LINE,
    E_RETURN,
    E_NEXT,
    E_MEMORY,
    E_NOFILE,
    E_VALUE,
    E_GOSUBS,
    E_FORS,
    E_NAME,
    E_BREAK,
    E_STOP,
    E_SAVE,
    E_TYPE,
    E_SUBSCRIPT,
    E_DATA,
    E_BADDATA,
    E_STRLEN,
    E_NOTOPEN,
    E_EOF,
    E_FN,
    E_RESUME
};

void fail(u8 code);     // reports the error and returns to the prompt
float chk(float v);     // v, or fails with OVERFLOW when it is not finite
float f_floor(float x); // float.s
float f_exp(float x);
float f_log(float x);
extern float num_m;               // scan.s: the digits of the number last scanned,
extern i16 num_e;                 // its power of ten
extern u8 num_cut;                // nonzero when a digit other than 0 was dropped
extern const u8* num_s;           // and where it starts
float read_number(const u8* end); // the decimal number num_s-end rounded to nearest
float f_sqrt(float x);
float f_sin(float x);
float f_cos(float x);
float f_tan(float x);
float f_atn(float x);
float f_pow(float a, float b);

#endif
