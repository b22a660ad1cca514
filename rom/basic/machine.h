// The free BASIC's view of the machine: screen, keyboard queue, clock and the device ROM.
#ifndef MACHINE_H
#define MACHINE_H

typedef unsigned char u8;
typedef unsigned int u16;
typedef int i16;

// Screen memory: 24 rows of 40 cells, row r at 0x7C00 + 128 * (r % 8) + 40 * (r / 8). Bit 7 of a
// cell blinks it; the cursor is shown that way.
#define ROWS    24
#define COLUMNS 40

// Filled by the handlers in crt0.s.
extern volatile u16 ticks;      // 20 ms ticks since start, low 16 bits
extern volatile u16 ticks_high; // and the high 16 bits
extern volatile u8 kbd_head;    // keyboard ring: written by the interrupt handler
extern volatile u8 kbd_tail;    // read position
extern volatile u8 kbd_buf[256]; // key codes, bit 7 cleared
extern volatile u8 break_flag;   // 3 when Ctrl-C was pressed; bit 7: a key waits, ring full
extern volatile u8 kbd_pending;  // a key waits in port 56 for room in the ring
void kbd_take_pending(void);     // reads it into the ring once there is room (see crt0.s)

// Device ROM bridge: entry 0x6000 + dos_op with B, DE, HL; returns A and HL.
extern u8 dos_op, dos_b, dos_a;
extern u16 dos_de, dos_hl;
void dos_do(void);
#define DOS_NAME  0x00
#define DOS_OPENR 0x03
#define DOS_OPENW 0x06
#define DOS_READ  0x09
#define DOS_WRITE 0x0C
#define DOS_CLOSE 0x0F

extern u8 cur_row, cur_col;
void scr_clear(void);
void scr_putc(u8 c);
void scr_puts(const char* s);
void scr_newline(void);
u8 key_wait(void);
void key_flush(void);
u16 read_ticks(void);

// Reads a line of at most max characters into buf (zero-ended). Returns 0, or 3 when Ctrl-C
// cancelled it.
u8 edit_line(char* buf, u8 max);

#endif
