// Memory and ports as BASIC programs reach them (PEEK, POKE, INP, OUT), and the check that lets a
// program survive a Reset. Runs from RAM with the library routines (the _HOME area).
#include "basic.h"

// The program area, which the start-up code leaves alone: a Reset keeps the program when this
// still finds it as the BASIC stores it. 0x8000 up is RAM the ROM images never load.
u8 __at(0x8000) mem[MEM_SIZE];
u16 __at(0x8000 + MEM_SIZE) mem_sig; // PROGRAM_SIGNATURE once the BASIC has started

u8* address(float v) {
    if (v >= 32768.0f && v < 65536.0f) v = f_floor(v) - 65536.0f; // the same byte as v - 65536
    return (u8*)to_int(v);
}

// For OUT 255, the host file service, B, DE and HL are set so that it works on slot 0 (free while
// a program runs) with its own buffer at 0xF500, and names no file.
static const u8 no_name = 0;

static u8 port_in(u8 port) __naked {
    (void)port;
    __asm__("ld c, a\n"
            "in a, (c)\n"
            "ret");
}

static void port_out(u8 port, u8 value) __naked {
    (void)port;
    (void)value;
    __asm__("ld c, a\n"
            "ld a, l\n"
            "ld b, #0\n"
            "ld de, #_no_name\n"
            "ld hl, #0xF500\n"
            "out (c), a\n"
            "ret");
}

static u8 byte_value(i16 v) {
    if ((u16)v > 255) fail(E_VALUE);
    return v;
}

float inp(i16 port) {
    // A program that reads the keyboard port takes its keys itself: they do not also wait for
    // the next INPUT or command.
    if (byte_value(port) == 56) key_flush();
    return port_in(port);
}

void poke(u8 port, float a, i16 v) {
    byte_value(v);
    if (port)
        port_out(byte_value(to_int(a)), v);
    else
        *address(a) = v;
}

// A power cycle fills RAM with 0xFF, and a Reset in the middle of a change may leave a line half
// moved, so every record is checked before the program is trusted: its length (a number, some
// text and the zero byte that ends it, within the area with room for the end mark behind it), the
// text ending exactly at that zero byte, and line numbers rising from 1. Returns the end mark (the
// zero length), or 0 when the area holds no sound program.
u8* program_check(void) {
    u8 *p = mem, *t, *end;
    u16 len, n, last = 0;
    if (mem_sig != PROGRAM_SIGNATURE) return 0;
    while ((len = *(u16*)p) != 0) {
        if (len < 6 || len > LINE_MAX + 5 || len > (u16)(mem + MEM_SIZE - 2 - p)) return 0;
        n = ((u16*)p)[1];
        if (n <= last) return 0;
        last = n;
        end = p + len - 1;
        for (t = p + 4; t < end && *t; t++) {
        }
        if (t != end || *t) return 0;
        p += len;
    }
    return p;
}
