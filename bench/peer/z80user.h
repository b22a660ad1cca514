/* Memory and port access of the generic Z80 interpreter that bench/peer_z80emu.sh compares our
 * processor loop with (it replaces the interpreter's own z80user.h). The fastest setting it
 * allows: a flat 64 KB of RAM in one global array, read and written in place; ports read 0xFF
 * and writes go nowhere, as in our workloads, which use none. */
#ifndef LUNABRIK_PEER_Z80USER_H
#define LUNABRIK_PEER_Z80USER_H

#ifdef __cplusplus
extern "C" {
#endif

extern unsigned char PeerMemory[0x10000];

#define Z80_READ_BYTE(address, x)                                                                  \
    { (x) = PeerMemory[(address)&0xffff]; }

#define Z80_FETCH_BYTE(address, x) Z80_READ_BYTE((address), (x))

#define Z80_READ_WORD(address, x)                                                                  \
    { (x) = PeerMemory[(address)&0xffff] | (PeerMemory[((address) + 1) & 0xffff] << 8); }

#define Z80_FETCH_WORD(address, x) Z80_READ_WORD((address), (x))

#define Z80_WRITE_BYTE(address, x)                                                                 \
    { PeerMemory[(address)&0xffff] = (x); }

#define Z80_WRITE_WORD(address, x)                                                                 \
    {                                                                                              \
        PeerMemory[(address)&0xffff] = (x);                                                        \
        PeerMemory[((address) + 1) & 0xffff] = (x) >> 8;                                           \
    }

#define Z80_WRITE_WORD_INTERRUPT(address, x) Z80_WRITE_WORD((address), (x))

#define Z80_INPUT_BYTE(port, x)                                                                    \
    {                                                                                              \
        (void)(port);                                                                              \
        (x) = 0xff;                                                                                \
    }

#define Z80_OUTPUT_BYTE(port, x)                                                                   \
    {                                                                                              \
        (void)(port);                                                                              \
        (void)(x);                                                                                 \
    }

#ifdef __cplusplus
}
#endif

#endif
