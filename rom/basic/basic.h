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
i16 to_int(float v); // v without its fraction (toward 0); ILLEGAL VALUE outside -32768 to 32767

// memory.c
#define LINE_MAX          255
#define MEM_SIZE          20000 // for the program and its variables; the banner says so
#define PROGRAM_SIGNATURE 0x4C42
extern u8 __at(0x8000) mem[MEM_SIZE]; // the program, then variables, kept across a Reset
extern u16 __at(0x8000 + MEM_SIZE) mem_sig;
u8* address(float v); // PEEK's and POKE's address: 0-65535, or -32768 to -1 for the upper half
float inp(i16 port);
void poke(u8 port, float a, i16 v); // OUT a,v (port 1) or POKE a,v (port 0)
u8* program_check(void);

#endif
