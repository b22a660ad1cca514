// Screen driver, keyboard queue and line editor.
#include <string.h>

#include "machine.h"

u8 cur_row, cur_col;
static u8 cursor_saved; // the cell's own byte while the cursor shows on it
static u8 scrolled;     // rows scrolled since the line editor last looked

static u8* cell(u8 row, u8 col) {
    return (u8*)(0x7C00 + ((u16)(row & 7) << 7) + (u8)((row >> 3) * 40) + col);
}

static void clear_row(u8 row) { memset(cell(row, 0), ' ', COLUMNS); }

void scr_clear(void) {
    u8 r;
    for (r = 0; r < ROWS; r++)
        clear_row(r);
    cur_row = cur_col = 0;
}

static void scroll(void) {
    u8 r;
    for (r = 0; r < ROWS - 1; r++)
        memcpy(cell(r, 0), cell(r + 1, 0), COLUMNS);
    clear_row(ROWS - 1);
    scrolled++;
}

void scr_newline(void) {
    cur_col = 0;
    if (cur_row == ROWS - 1)
        scroll();
    else
        cur_row++;
}

// Codes 8 (back), 10 and 13 (new line) and 12 (clear) move the cursor; every other byte is
// stored as it is, so the mosaic control codes and the blink bit reach the screen.
void scr_putc(u8 c) {
    switch (c) {
    case 8:
        if (cur_col) cur_col--;
        return;
    case 10:
    case 13: scr_newline(); return;
    case 12: scr_clear(); return;
    }
    *cell(cur_row, cur_col) = c;
    if (++cur_col == COLUMNS) scr_newline();
}

void scr_puts(const char* s) {
    while (*s)
        scr_putc(*s++);
}

u16 read_ticks(void) {
    u16 a, b;
    do {
        a = ticks;
        b = ticks;
    } while (a != b);
    return a;
}

// Drops the keys typed ahead, one waiting in the port included.
void key_flush(void) {
    kbd_tail = kbd_head;
    kbd_take_pending();
    kbd_tail = kbd_head;
}

// Waits for the next key press with the blinking cursor shown.
u8 key_wait(void) {
    u8 c;
    u8* p = cell(cur_row, cur_col);
    cursor_saved = *p;
    *p = cursor_saved | 0x80;
    while (kbd_head == kbd_tail) {
        if (kbd_pending) kbd_take_pending();
    }
    c = kbd_buf[kbd_tail];
    kbd_tail++;
    *p = cursor_saved;
    return c;
}

// Line editor state: the text starts at screen position (ed_row, ed_col).
static u8 ed_row, ed_col;

static void ed_place(u8 i) {
    u16 pos = ed_col + i;
    cur_row = ed_row + (u8)(pos / COLUMNS);
    cur_col = (u8)(pos % COLUMNS);
}

// Redraws buf[from..len) and erases one cell behind it.
static void ed_redraw(const char* buf, u8 from, u8 len) {
    ed_place(from);
    scrolled = 0;
    while (from < len)
        scr_putc(buf[from++]);
    scr_putc(' ');
    ed_row -= scrolled;
}

u8 edit_line(char* buf, u8 max) {
    u8 len = 0, at = 0, c, i;
    ed_row = cur_row;
    ed_col = cur_col;
    for (;;) {
        ed_place(at);
        c = key_wait();
        if (c == 13) break;
        if (c == 3) {
            len = 0;
            break;
        }
        if (c == 0x7F) { // Ctrl-<: back over the line without changing it
            if (at) at--;
        } else if (c == 9) { // right arrow: on over the line without changing it
            if (at < len) at++;
        } else if (c == 8) { // Backspace (the left arrow shares its code): deletes to the left
            if (at) {
                at--;
                len--;
                for (i = at; i < len; i++)
                    buf[i] = buf[i + 1];
                ed_redraw(buf, at, len);
            }
        } else if (c >= 0x20 && c < 0x7F && len < max) {
            for (i = len; i > at; i--)
                buf[i] = buf[i - 1];
            buf[at] = c;
            len++;
            ed_redraw(buf, at, len);
            at++;
        }
    }
    buf[len] = 0;
    ed_place(len);
    scr_newline();
    return c == 3 ? 3 : 0;
}
