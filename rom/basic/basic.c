// Lunabrik's free BASIC: the ABC80 dialect with single-precision numbers, integer variables (%),
// strings ($), arrays, DATA, DEF FN and text files through the device ROM.
//
// Program lines are kept in RAM, sorted, each as: record length (2 bytes), line number (2 bytes),
// the text with keywords packed into single bytes 0x80 and above, a zero byte. A zero length
// ends the program. Variables live behind the program and are cleared when it changes.
#include <setjmp.h>
#include <stddef.h>
#include <string.h>

#include "basic.h"

#define NAMES        (26 * 11) // A-Z, A0-Z9
#define FOR_DEPTH    112
#define GOSUB_DEPTH  255
#define FN_MAX       16
#define TMP_SIZE     600
#define STR_DEFAULT  255 // room of a string variable that was not given a DIM
#define ELEM_DEFAULT 40  // room of a string array element

// Keywords in token order, each ended by a zero byte. ASC stands before AS: the first match wins.
const char keywords[] =
    "PRINT\0INPUT\0LET\0IF\0THEN\0GOTO\0GOSUB\0RETURN\0FOR\0TO\0STEP\0NEXT\0REM\0END\0STOP\0"
    "POKE\0LIST\0RUN\0NEW\0SAVE\0LOAD\0DIM\0DATA\0READ\0RESTORE\0ON\0DEF\0GET\0PREPARE\0"
    "OPEN\0CLOSE\0RANDOMIZE\0AND\0OR\0NOT\0FN\0ASC\0AS\0FILE\0TAB\0CUR\0"
    "ABS\0INT\0SGN\0SQR\0SIN\0COS\0ATN\0LOG\0EXP\0TAN\0PEEK\0LEN\0VAL\0"
    "RND\0CHR$\0LEFT$\0RIGHT$\0MID$\0NUM$\0SPACE$\0INSTR\0MOD\0CLS\0TIME\0ERROR\0ERL\0ERR\0"
    "RESUME\0INP\0OUT\0";
enum {
    T_PRINT = 0x80,
    T_INPUT,
    T_LET,
    T_IF,
    T_THEN,
    T_GOTO,
    T_GOSUB,
    T_RETURN,
    T_FOR,
    T_TO,
    T_STEP,
    T_NEXT,
    T_REM,
    T_END,
    T_STOP,
    T_POKE,
    T_LIST,
    T_RUN,
    T_NEW,
    T_SAVE,
    T_LOAD,
    T_DIM,
    T_DATA,
    T_READ,
    T_RESTORE,
    T_ON,
    T_DEF,
    T_GET,
    T_PREPARE,
    T_OPEN,
    T_CLOSE,
    T_RANDOMIZE,
    T_AND,
    T_OR,
    T_NOT,
    T_FN,
    T_ASC,
    T_AS,
    T_FILE,
    T_TAB,
    T_CUR,
    // functions of one number
    T_ABS,
    T_INT,
    T_SGN,
    T_SQR,
    T_SIN,
    T_COS,
    T_ATN,
    T_LOG,
    T_EXP,
    T_TAN,
    T_PEEK,
    // functions of one string
    T_LEN,
    T_VAL,
    T_RND,
    T_CHR,
    T_LEFT,
    T_RIGHT,
    T_MID,
    T_NUM,
    T_SPACE,
    T_INSTR,
    T_MOD,
    T_CLS,
    T_TIME,
    T_ERROR,
    T_ERL,
    T_ERR,
    T_RESUME,
    T_INP,
    T_OUT,
    T_LAST
};

static u8* prog_end; // the zero length that ends the program
static u8* heap_top; // end of the variables
static char line_buf[LINE_MAX + 1];
static u8 direct[LINE_MAX + 4];
u8 packed[LINE_MAX + 4];
u8* curline; // line being run, 0 for a direct command
u8* tp;             // next byte of text to execute
static jmp_buf on_error;

// Variables: numbers and integers in tables, strings and arrays allocated behind the program.
// A string is [room][length][text]; an array is [n1 (2)][n2 (2)][room][-] then the elements.
float nums[NAMES]; // vars.s knows these three
i16 ints[NAMES];
static u8* strs[NAMES];
u8* arrays[3][NAMES];
#define NO_PARAM 0xFFFF
static struct fn_s {
    u16 name, param; // param NO_PARAM: none
    u8 kind, pkind;  // of the result and of the parameter: 0 number, 2 string
    u8* text;
} fns[FN_MAX];
static u8 fn_count;

// ON ERROR GOTO: the handler's line (0: none), the error's number and line for ERR and ERL, and
// where RESUME goes back to: the statement that failed.
static u16 trap_line, err_line;
static u8 err_num, in_trap;
static u8 *stmt_line, *stmt_tp, *resume_line, *resume_tp;

// A loop whose start, step and limit are whole numbers of 16 bits counts in integers (whole is
// set): an integer variable directly, a number variable in count, as long as the variable still
// holds what NEXT last put there (bits).
typedef struct {
    u8 kind, whole;
    u8* addr;
    float limit, step;
    u8 *line, *text;
    i16 count, istep, ilimit;
    u32 bits;
} for_t;
u8 next_whole(for_t* f); // loop.s, which knows the offsets
typedef char loop_s_knows_for_t[sizeof(for_t) == 26 && offsetof(for_t, count) == 16 ? 1 : -1];
// The FOR stack lives in RAM that the machine leaves unused (0x7000-0x7BFF), so loops can nest
// deep without taking room from programs.
for_t __at(0x7000) fors[FOR_DEPTH];
typedef char for_stack_ends_below_the_screen[FOR_DEPTH * sizeof(for_t) <= 0xC00 ? 1 : -1];
u8 for_top; // loop.s knows it and fors
static struct { u8 *line, *text; } gosubs[GOSUB_DEPTH];
static u8 gosub_top;

static u8* data_line; // where the search for the next DATA statement starts (0: first line)
static u8* data_p;    // next item of the current DATA statement, 0 when none
static u16 rnd_state;

// 16-bit xorshift: every value but 0, each once per 65535 steps.
static u16 rnd_next(void) {
    rnd_state ^= rnd_state << 7;
    rnd_state ^= rnd_state >> 9;
    rnd_state ^= rnd_state << 8;
    return rnd_state;
}

// Expression results: a number in fac, a string as sp/sl (in a variable or the scratch area).
float fac;
i8 fac_cmp(const float* a); // float.s: -1, 0 or 1 as *a is below, equal to or above fac
static u8* sp;
static u8 sl;
static u8 tmp[TMP_SIZE];
static u16 tmp_top;

// The variable var_ref found: its kind (0 number, 1 integer, 2 string), its value's address and,
// for a string, its room.
u8 vkind, vroom;
u8* vaddr;

// The error messages in the order of the codes, each ended by a zero byte.
static const char messages[] =
    "SYNTAX ERROR\0OVERFLOW\0DIVISION BY ZERO\0NO SUCH LINE\0RETURN WITHOUT GOSUB\0"
    "NEXT WITHOUT FOR\0OUT OF MEMORY\0FILE NOT FOUND\0ILLEGAL VALUE\0TOO MANY GOSUBS\0"
    "TOO MANY FORS\0BAD FILE NAME\0BREAK\0STOP\0CANNOT SAVE\0TYPE MISMATCH\0BAD SUBSCRIPT\0"
    "OUT OF DATA\0BAD DATA\0STRING TOO LONG\0FILE NOT OPEN\0END OF FILE\0NO SUCH FN\0"
    "RESUME WITHOUT ERROR";
static u8 err_code;

// Entry n of a list of zero-ended texts.
static const char* nth(const char* list, u8 n) {
    for (; n; n--)
        while (*list++) {
        }
    return list;
}

void fail(u8 code) {
    err_code = code;
    longjmp(on_error, 1);
}

// Ctrl-C stops whatever runs: statements, LIST and long string work alike.
// A key waiting in the port for room stays there: the program may read it later, or READY.
static void check_break(void) {
    if (break_flag & 0x80) kbd_take_pending();
    if (break_flag & 3) {
        break_flag = 0;
        key_flush();
        fail(E_BREAK);
    }
}

#define move_bytes(to, from, n) memmove(to, from, n)
#define zero(p, n)              memset(p, 0, n)

#define is_digit(c) ((u8)((c) - '0') < 10) // c is read once

// ---- Numbers ----

float chk(float v) {
    u8* b = (u8*)&v; // exponent all ones: infinite or not a number
    if ((b[3] & 0x7F) == 0x7F && (b[2] & 0x80)) fail(E_OVERFLOW);
    return v;
}

static float f_abs(float x) {
    ((u8*)&x)[3] &= 0x7F; // the sign bit
    return x;
}
static float f_sgn(float x) { return x == 0 ? 0 : ((u8*)&x)[3] & 0x80 ? -1 : 1; }
static float (*const functions[])(float) = {f_abs, f_floor, f_sgn, f_sqrt, f_sin,
                                            f_cos, f_atn,   f_log, f_exp,  f_tan};

// fac is 0 (of either sign): its exponent and fraction all zero bits.
static u8 is_zero(void) {
    u8* b = (u8*)&fac;
    return !(b[0] | b[1] | b[2] | (b[3] & 0x7F));
}

// v without its fraction (toward 0); ILLEGAL VALUE outside -32768 to 32767 (float.s).
i16 to_int(float v);

// Reads a number (digits, point, exponent) at s into fac; 0 when there is none. The digits
// gathered by scan.s are the number itself when it is whole and none were dropped; otherwise
// read_number (numbers.c) rounds the decimal number to the nearest float.
const u8* scan_number(const u8* s); // scan.s
static const u8* parse_float(const u8* s) {
    s = scan_number(s);
    if (s) {
        fac = num_m;
        if ((num_e || num_cut) && fac != 0) fac = read_number(s);
    }
    return s;
}

// Writes the decimal digits of n backwards from end; returns where they start.
static char* digits_before(char* end, u16 n) {
    do {
        *--end = '0' + n % 10;
        n /= 10;
    } while (n);
    return end;
}

// A number as PRINT shows it: a space or '-', then the digits without trailing zeros; the
// exponent form outside 0.01-9999999. Digits come from whole numbers below 2^24, which a float
// holds exactly.
static char numbuf[16];
static char* fmt_num(float v) {
    char buf[8], *d;
    char* o = numbuf + 1;
    i8 e = 0, x, nd, i, z = 0;
    u16 hi, lo;
    numbuf[0] = ' ';
    if (v < 0) {
        numbuf[0] = '-';
        v = -v;
    }
    if (!(v < 1e7f && v == f_floor(v))) {
        while (v >= 1e6f) {
            v /= 10;
            e++;
        }
        while (v < 1e5f) {
            v *= 10;
            e--;
        }
        v = f_floor(v + 0.5f);
        if (v > 999999.0f) {
            v = 100000.0f;
            e++;
        }
    }
    hi = (i16)(v / 1000); // v < 1e7: two parts below 10000 and 1000
    lo = (i16)(v - (i16)hi * 1000.0f);
    d = digits_before(buf + 8, lo);
    if (hi) {
        while (d > buf + 5)
            *--d = '0';
        d = digits_before(d, hi);
    }
    nd = buf + 8 - d;
    while (nd > 1 && d[nd - 1] == '0' && e < 0) {
        nd--;
        e++;
    }
    if (e) // not a whole number below 1e7: no zeros behind the digits
        while (nd > 1 && d[nd - 1] == '0') {
            nd--;
            e++;
        }
    x = nd + e;             // digits before the point
    if (e >= 0 && x <= 7) { // a whole number below 1e7: zeros behind the digits
        z = e;
        e = x = 0;
    } else if (x < -1 || x > 6) {
        x = 1; // exponent form: one digit before the point
    } else {
        e = 0;
        if (x <= 0) { // .05: a point and zeros before the digits
            *o++ = '.';
            while (x++ < 0)
                *o++ = '0';
            x = 0;
        }
    }
    for (i = 0; i < nd; i++) {
        *o++ = d[i];
        if (--x == 0 && i + 1 < nd) *o++ = '.';
    }
    if (e) {
        e += nd - 1;
        *o++ = 'E';
        *o++ = '+';
        if (e < 0) {
            o[-1] = '-';
            e = -e;
        }
        *o++ = '0' + e / 10;
        *o++ = '0' + e % 10;
    }
    while (z--)
        *o++ = '0';
    *o = 0;
    return numbuf;
}

// ---- Output ----

static void (*out)(u8);

static void put_text(const char* s) {
    while (*s)
        out(*s++);
}

static void put_u16(u16 n) {
    char digits[6];
    digits[5] = 0;
    put_text(digits_before(digits + 5, n));
}

// ---- Packing typed text ----

static const char bad_line_number[] = "BAD LINE NUMBER";

// Reads a line number (1-65535) at *s and moves *s behind it; 0 when it is out of range
// (pack.s).
u16 parse_line_number(const char** s);

// Packs text into packed[] (pack.s): letters outside strings become capitals, keywords become
// tokens, the rest of a REM or DATA stays as typed. Returns the length, the zero byte not counted.
u8 pack(const char* s);
typedef char pack_s_knows_the_tokens[T_PRINT == 0x80 && T_REM == 0x8C && T_DATA == 0x96 ? 1 : -1];

// ---- Program store ----

#define rec_len(line)     (*(const u16*)(line)) // the Z80 keeps words low byte first
#define line_number(line) (((const u16*)(line))[1])

// The first line numbered n or above (or the end).
static u8* find_line(u16 n) {
    u8* p = mem;
    while (rec_len(p) && line_number(p) < n)
        p += rec_len(p);
    return p;
}

static void close_all(void);

static void restore_data(void) {
    data_line = 0;
    data_p = 0;
}

// Where the GOTOs and GOSUBs of the program went: the position of the line number in the text,
// the line it names and the text behind the number. Kept until the program or its variables are
// cleared, so a jump taken again needs neither the number read nor the line looked for.
#define JUMPS 16
static struct { u8 *at, *line, *after; } jumps[JUMPS];
#define CONSTS 32
typedef struct {
    u8 *at, *after;
    float value;
} const_t;
typedef char expr_s_knows_const_t[sizeof(const_t) == 8 && CONSTS == 32 ? 1 : -1];
const_t consts[CONSTS]; // expr.s knows its layout
extern u8* next_at; // the variable of the NEXT read last, remembered by its place in the text

static void clear_vars(void) {
    zero(jumps, sizeof jumps);
    zero(consts, sizeof consts);
    next_at = 0;
    zero(nums, sizeof nums);
    zero(ints, sizeof ints);
    zero(strs, sizeof strs);
    zero(arrays, sizeof arrays);
    fn_count = for_top = gosub_top = in_trap = 0;
    trap_line = 0;
    heap_top = prog_end + 2;
    restore_data();
}

static void new_program(void) {
    mem[0] = mem[1] = 0;
    prog_end = mem;
    clear_vars();
}

// Stores (or with empty text deletes) line n.
static void store_line(u16 n, const char* text) {
    u16 len, old;
    u8* p;
    while (*text == ' ')
        text++;
    len = *text ? pack(text) + 5 : 0;
    p = find_line(n);
    if (rec_len(p) && line_number(p) == n) {
        old = rec_len(p);
        move_bytes(p, p + old, prog_end + 2 - (p + old));
        prog_end -= old;
    }
    clear_vars();
    if (!len) return;
    if (prog_end + 2 + len > mem + MEM_SIZE) fail(E_MEMORY);
    move_bytes(p + len, p, prog_end + 2 - p);
    prog_end += len;
    p[0] = (u8)len;
    p[1] = len >> 8;
    p[2] = (u8)n;
    p[3] = n >> 8;
    move_bytes(p + 4, packed, len - 4);
    clear_vars();
}

static u8* alloc(u16 n) {
    u8* p = heap_top;
    if (n > (u16)(mem + MEM_SIZE - p)) fail(E_MEMORY);
    heap_top += n;
    zero(p, n);
    return p;
}

// ---- Expressions ----

// Reading the text at tp (scan.s): skip and peek_char pass spaces, peek_char gives the character
// behind them; accept takes c when it stands there; expect requires it; at_end is the end of a
// statement.
void skip(void);
u8 peek_char(void);
u8 accept(u8 c);
void expect(u8 c);
u8 at_end(void);

static u8 expression(void);
extern u8 data_end; // crt0.s

void num_expr(void) { // also for loop.s
    if (expression()) fail(E_TYPE);
}

static void str_expr(void) {
    if (!expression()) fail(E_TYPE);
}

i16 int_expr(void) {
    num_expr();
    return to_int(fac);
}

// A variable's name at tp, 0-285: A-Z (times 11), then maybe a digit (plus it and 1). A letter
// behind it is a word the BASIC does not know: SYNTAX ERROR (scan.s).
u16 var_name(void);

// The bytes of one element: a number, an integer, or a string's length byte and its room.
static u16 elem_size(u8 kind, u8 room) { return kind == 0 ? 4 : kind == 1 ? 2 : room + 1; }

static u8* dim_array(u8 kind, u16 name, u16 n1, u16 n2, u8 room) {
    u16 size = elem_size(kind, room);
    u8* a;
    if (n1 > MEM_SIZE / n2 || n1 * n2 > MEM_SIZE / size) fail(E_MEMORY); // no 16-bit overflow
    a = alloc(n1 * n2 * size + 5);                                       // checks the bytes free
    ((u16*)a)[0] = n1;
    ((u16*)a)[1] = n2;
    a[4] = room;
    arrays[kind][name] = a;
    return a;
}

// Parses a variable (with subscripts) at tp into vkind, vaddr and vroom. vars.s does this for
// numbers, integers and arrays that have their room, and comes here for the rest.
void var_ref(void);
void var_ref_slow(void) {
    u16 name = var_name();
    u8 kind = 0, *a;
    if (*tp == '%') {
        kind = 1;
        tp++;
    } else if (*tp == '$') {
        kind = 2;
        tp++;
    }
    if (*tp == '(') {
        i16 i, j = 0;
        u16 n1, n2;
        u8 two = 0;
        tp++;
        i = int_expr();
        if (accept(',')) {
            j = int_expr();
            two = 1;
        }
        expect(')');
        a = arrays[kind][name];
        if (!a) a = dim_array(kind, name, 11, two ? 11 : 1, ELEM_DEFAULT); // DIM 10 unasked
        n1 = ((u16*)a)[0];
        n2 = ((u16*)a)[1];
        if ((u16)i >= n1 || (u16)j >= n2) fail(E_SUBSCRIPT);
        vroom = a[4];
        vaddr = a + 5 + ((u16)i * n2 + j) * elem_size(kind, vroom);
    } else if (kind == 0) {
        vaddr = (u8*)&nums[name];
    } else if (kind == 1) {
        vaddr = (u8*)&ints[name];
    } else {
        a = strs[name];
        if (!a) {
            a = strs[name] = alloc(STR_DEFAULT + 2);
            a[0] = STR_DEFAULT;
        }
        vroom = a[0];
        vaddr = a + 1;
    }
    vkind = kind;
}

static void load_var(void) {
    if (vkind == 0)
        fac = *(float*)vaddr;
    else if (vkind == 1)
        fac = *(i16*)vaddr;
    else {
        sl = vaddr[0];
        sp = vaddr + 1;
    }
}

// Stores fac or sp/sl into the variable at kind/addr/room.
static void store_var(u8 kind, u8* addr, u8 room) {
    if (kind == 0)
        *(float*)addr = fac;
    else if (kind == 1)
        *(i16*)addr = to_int(fac);
    else {
        if (sl > room) fail(E_STRLEN);
        move_bytes(addr + 1, sp, sl);
        addr[0] = sl;
    }
}

static u8* tmp_alloc(u16 n) {
    u8* p = tmp + tmp_top;
    if (tmp_top + n > TMP_SIZE) fail(E_STRLEN);
    tmp_top += n;
    return p;
}

static void str_arg(void) {
    expect('(');
    str_expr();
}

static i16 int_arg(void) {
    expect(',');
    return int_expr();
}

// v as a byte, 0-255.
static u8 byte_value(i16 v) {
    if ((u16)v > 255) fail(E_VALUE);
    return v;
}

// (n) at tp, a whole number.
static i16 paren_int(void) {
    i16 v;
    expect('(');
    v = int_expr();
    expect(')');
    return v;
}

static u8 primary(void);
static u8 text_number(void);
static u8 unary(void);

static u8 power(void) {
    u8 t = primary();
    while (peek_char() == '^') {
        float a = fac;
        tp++;
        if (t || unary()) fail(E_TYPE);
        fac = f_pow(a, fac);
    }
    return t;
}

static u8 unary(void) {
    u8 c = peek_char();
    if (c == '-') {
        tp++;
        if (unary()) fail(E_TYPE);
        fac = -fac;
        return 0;
    }
    if (c == '+') {
        tp++;
        return unary();
    }
    return power();
}

// FNA and FNA$ are two functions.
static u8 find_fn(u16 name, u8 kind) {
    u8 i;
    for (i = 0; i < fn_count; i++)
        if (fns[i].name == name && fns[i].kind == kind) return i;
    return 0xFF;
}

static u8 str_kind(void) { return accept('$') ? 2 : 0; }

typedef struct fn_s fn_t;

// FNx(arg): the parameter's variable stands for the argument while the body runs.
static u8 call_fn(void) {
    u16 name = var_name();
    u8 i = find_fn(name, str_kind()), *save, *old_str = 0;
    fn_t* f = &fns[i];
    u16 p = f->param;
    float old = 0;
    if (i == 0xFF) fail(E_FN);
    if (p != NO_PARAM) {
        expect('(');
        if (expression() != (f->pkind == 2)) fail(E_TYPE);
        expect(')');
        old = nums[p];
        old_str = strs[p];
        if (f->pkind) { // a string: a copy as [room][length][text]
            u8* t = tmp_alloc(sl + 2);
            t[0] = t[1] = sl;
            move_bytes(t + 2, sp, sl);
            strs[p] = t;
        } else
            nums[p] = fac;
    }
    save = tp;
    tp = f->text;
    if (expression() != (f->kind == 2)) fail(E_TYPE);
    tp = save;
    if (p != NO_PARAM) {
        nums[p] = old;
        strs[p] = old_str;
    }
    return f->kind == 2;
}

// TIME: seconds since the start, from the 50 Hz tick count.
static u8 time_now(void) {
    u16 lo, hi;
    do {
        hi = ticks_high;
        lo = read_ticks();
    } while (hi != ticks_high);
    fac = (i32)((u32)hi << 16 | lo) / 50.0f;
    return 0;
}

static const float digit_values[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

// A number written in the program text at tp into fac, tp behind it. A running program's
// constants are remembered by where they stand (until the program or its variables are cleared),
// so one read again costs a look in consts[] instead of its digits read and scaled.
u8 constant(void) { // also for expr.s
    u8* at = tp;
    const_t* k = &consts[(u8)(u16)at & (CONSTS - 1)];
    if (curline && k->at == at) {
        fac = k->value;
        tp = k->after;
        return 0;
    }
    tp = (u8*)parse_float(at);
    if (!tp) fail(E_SYNTAX);
    if (curline) {
        k->at = at;
        k->after = tp;
        k->value = fac;
    }
    return 0;
}

static u8 primary(void) {
    u8 c = peek_char();
    if (is_digit(c) || c == '.') {
        u8 next = tp[1];
        if (c != '.' && !is_digit(next) && next != '.' && next != 'E') { // 0-9: from a table
            fac = digit_values[c - '0'];
            tp++;
            return 0;
        }
        return constant();
    }
    if (c == '"') {
        sp = ++tp;
        while (*tp && *tp != '"')
            tp++;
        sl = tp - sp;
        if (*tp) tp++;
        return 1;
    }
    if (c >= 'A' && c <= 'Z') {
        var_ref();
        load_var();
        return vkind == 2;
    }
    tp++;
    if (c == '(') {
        c = expression();
        expect(')');
        return c;
    }
    if (c >= T_ABS && c <= T_PEEK) {
        expect('(');
        num_expr();
        expect(')');
        fac = c == T_PEEK ? *address(fac) : functions[c - T_ABS](fac);
        return 0;
    }
    switch (c) {
    case '-':
    case '+': tp--; return unary();
    case T_LEN:
    case T_VAL:
    case T_ASC:
        str_arg();
        expect(')');
        if (c == T_LEN)
            fac = sl;
        else if (c == T_ASC) {
            if (!sl) fail(E_VALUE);
            fac = *sp;
        } else
            text_number();
        return 0;
    case T_RND:
        if (peek_char() == '(') { // the argument is taken and ignored
            tp++;
            num_expr();
            expect(')');
        }
        fac = (i32)rnd_next() * (1.0f / 65536);
        return 0;
    case T_CHR: {
        u8 v = byte_value(paren_int());
        sp = tmp_alloc(1);
        *sp = v;
        sl = 1;
        return 1;
    }
    case T_LEFT:
    case T_RIGHT:
    case T_MID: {
        i16 n, m = 255;
        str_arg();
        n = int_arg();
        if (c == T_MID && accept(',')) m = int_expr();
        expect(')');
        if ((n | m) < 0) fail(E_VALUE);
        if (c == T_LEFT) {
            if (n < sl) sl = n;
        } else if (c == T_RIGHT) {
            if (n < sl) {
                sp += sl - n;
                sl = n;
            }
        } else {
            if (!n) n = 1;
            if (n > sl) n = sl + 1;
            sp += n - 1;
            sl -= n - 1;
            if (m < sl) sl = m;
        }
        return 1;
    }
    case T_NUM: {
        char* s;
        expect('(');
        num_expr();
        expect(')');
        s = fmt_num(fac);
        sl = 0;
        while (s[sl])
            sl++;
        sp = tmp_alloc(sl);
        move_bytes(sp, (u8*)s, sl);
        return 1;
    }
    case T_SPACE: {
        u8 n = byte_value(paren_int());
        sp = tmp_alloc(n);
        for (sl = 0; sl < n; sl++)
            sp[sl] = ' ';
        return 1;
    }
    case T_INSTR: {
        u16 start = 1;
        u8 *a, al, i;
        expect('(');
        if (!expression()) { // a start position first
            start = to_int(fac);
            if ((i16)start < 0) fail(E_VALUE);
            expect(',');
            str_expr();
        }
        a = sp;
        al = sl;
        expect(',');
        str_expr();
        expect(')');
        fac = 0;
        for (start = start ? start : 1; start + sl <= al + 1; start++) {
            check_break();
            for (i = 0; i < sl && a[start - 1 + i] == sp[i]; i++) {
            }
            if (i == sl) {
                fac = (i16)start;
                break;
            }
        }
        return 0;
    }
    case T_INP: fac = inp(paren_int()); return 0;
    case T_FN: return call_fn();
    case T_TIME: return time_now();
    case T_ERR: fac = err_num; return 0;
    case T_ERL: fac = (i32)err_line; return 0;
    }
    fail(E_SYNTAX);
    return 0;
}

// The binary operators' levels: OR 1, AND 2, comparisons 4, + and - 5, *, / and MOD 6; NOT (3)
// is a prefix that binds below the comparisons and above AND. 0: not an operator.
static const u8 sign_levels['>' - '*' + 1] = {6, 5, 0, 5, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0, 0, 0, 0, 4, 4, 4}; // '*' to '>'
static u8 level(u8 c) {
    u8 i = c - '*';
    if (i <= '>' - '*') return sign_levels[i];
    return c == T_OR ? 1 : c == T_AND ? 2 : c == T_MOD ? 6 : 0;
}

// An expression whose operators are of level min or above, read by precedence climbing: one call
// per operator rather than one per level. Comparisons give -1 for true and 0 for false, so AND, OR
// and NOT work on them bitwise, and do not chain. X MOD Y is the remainder of whole numbers
// (-32768 to 32767), with the sign of X.
static u8 expression_from(u8 min) {
    u8 t, op, lv, compared = 0;
    if (&t < &data_end + 512) fail(E_MEMORY); // nested too deep: the stack nears the data
    op = peek_char();
    if (op == T_NOT && min <= 3) {
        tp++;
        if (expression_from(3)) fail(E_TYPE);
        fac = ~to_int(fac);
        t = 0;
    } else if (op == '-' || op == '+')
        t = unary();
    else
        t = power();
    for (;;) {
        float a;
        u8 *s, l;
        op = *tp; // the operand's reading ended at a character that is not a space
        lv = level(op);
        if (lv < min || (lv == 4 && compared)) return t;
        a = fac;
        s = sp;
        l = sl;
        if (lv == 4) {
            u8 rel = 0;
            i8 cmp;
            for (;; tp++) {
                op = peek_char();
                if (op == '<')
                    rel |= 1;
                else if (op == '=')
                    rel |= 2;
                else if (op == '>')
                    rel |= 4;
                else
                    break;
            }
            if (rel == 7 || expression_from(5) != t) fail(rel == 7 ? E_SYNTAX : E_TYPE);
            if (t) {
                u8 i = 0;
                while (i < l && i < sl && s[i] == sp[i])
                    i++;
                cmp = i < l && i < sl ? (s[i] < sp[i] ? -1 : 1) : l < sl ? -1 : l > sl;
            } else
                cmp = fac_cmp(&a);
            fac = rel & (cmp < 0 ? 1 : cmp ? 4 : 2) ? -1.0f : 0.0f;
            t = 0;
            compared = 1;
            continue;
        }
        tp++;
        if (expression_from(lv + 1) != t) fail(E_TYPE);
        if (t) { // strings: only joined
            u8* r;
            if (op != '+') fail(E_TYPE);
            if (l + sl > 255) fail(E_STRLEN);
            r = tmp_alloc(l + sl);
            move_bytes(r, s, l);
            move_bytes(r + l, sp, sl);
            sp = r;
            sl += l;
            continue;
        }
        switch (op) {
        case T_OR: fac = to_int(a) | to_int(fac); break;
        case T_AND: fac = to_int(a) & to_int(fac); break;
        case '+': fac = chk(a + fac); break;
        case '-': fac = chk(a - fac); break;
        case '*': fac = chk(a * fac); break;
        default: // '/' and MOD
            if (is_zero()) fail(E_DIV0);
            fac = op == '/' ? chk(a / fac) : to_int(a) % to_int(fac);
        }
    }
}

// expr.s reads the expressions loops compute most, and knows these operators only by this table.
u8 fast_expr(void);
const u8 operator_tokens[3] = {T_AND, T_OR, T_MOD};
static u8 expression(void) { return fast_expr() ? 0 : expression_from(1); }

// ---- Files ----
// Channel 0 serves SAVE and LOAD, channels 1-7 the files a program opens; each uses the device
// slot of its number and that slot's 256-byte buffer. The text is UTF-8 with LF line ends.

enum { M_CLOSED, M_READ, M_WRITE, M_VERIFY };
typedef struct {
    u8 mode, eof, bad;
    u16 pos; // next byte in the block; 256: a new block is due
    u8* buf;
} channel_t;
static channel_t ch[8];
static channel_t* cp; // the channel in use, number cur_ch
static u8 cur_ch;

static void use_channel(u8 n) {
    cur_ch = n;
    cp = &ch[n];
}
static u8 name_record[11];
static char name_text[40];

// ABC80 codes of the letters written as two-byte UTF-8 (0xC3 and the byte below): Ä Ö Å ä ö å
// É é Ü ü. The currency sign 0x24 stays '$'; C2 A4 (¤) is read as 0x24 too.
static const u8 swedish[10] = {0x5B, 0x5C, 0x5D, 0x7B, 0x7C, 0x7D, 0x40, 0x60, 0x5E, 0x7E};
static const u8 utf8[10] = {0x84, 0x96, 0x85, 0xA4, 0xB6, 0xA5, 0x89, 0xA9, 0x9C, 0xBC};

static void dos_call(u8 op) {
    dos_op = op;
    dos_b = cur_ch;
    dos_de = (u16)name_record;
    dos_hl = (u16)cp->buf;
    dos_do();
}

// Sets name_record from a string expression at tp; data files default to .DAT.
static void file_name(u8 data) {
    u8 i, dot = 0;
    str_expr();
    if (sl >= sizeof name_text) fail(E_NAME);
    for (i = 0; i < sl; i++)
        if ((name_text[i] = sp[i]) == '.') dot = 1;
    name_text[sl] = 0;
    dos_op = DOS_NAME;
    dos_hl = (u16)name_text;
    dos_de = (u16)name_record;
    dos_do();
    if (dos_a) fail(E_NAME);
    if (data && !dot) {
        name_record[8] = 'D';
        name_record[9] = 'A';
        name_record[10] = 'T';
    }
}

static void ch_byte(u8 c) {
    if (cp->pos == 256) {
        cp->pos = 0;
        if (cp->mode == M_VERIFY) {
            dos_call(DOS_READ);
            if (dos_a) cp->bad = 1;
        }
    }
    if (cp->mode == M_VERIFY) {
        if (cp->buf[cp->pos] != c) cp->bad = 1;
    } else {
        cp->buf[cp->pos] = c;
    }
    if (++cp->pos == 256 && cp->mode == M_WRITE) dos_call(DOS_WRITE);
}

static void ch_putc(u8 c) {
    u8 i;
    if (c == 13) c = '\n';
    for (i = 0; i < 10; i++)
        if (swedish[i] == c) {
            ch_byte(0xC3);
            c = utf8[i];
            break;
        }
    ch_byte(c);
}

// The next byte of a file being read, -1 at its end (a zero byte or a block the host left
// untouched).
static i16 ch_get(void) {
    u8 c;
    if (cp->eof) return -1;
    if (cp->pos == 256) {
        cp->pos = 0;
        dos_call(DOS_READ);
        if (dos_a) cp->eof = 1;
    }
    c = cp->buf[cp->pos];
    if (!c) {
        cp->eof = 1;
        return -1;
    }
    cp->pos++;
    return c;
}

// Reads a text line into line_buf (UTF-8 or 7-bit codes, LF or CRLF). Returns -1 at the end of
// the file, else 0, with 1 added for a line too long and 2 for a character it cannot take.
static i16 ch_getline(void) {
    i16 c;
    u8 flags = 0, len = 0, i;
    c = ch_get();
    if (c < 0) return -1;
    for (; c >= 0 && c != '\n'; c = ch_get()) {
        if (c == '\r') continue;
        if (c == '\t') c = ' ';
        if (c >= 0x80) {
            i16 c2 = ch_get();
            u8 code = 0;
            if (c == 0xC2 && c2 == 0xA4) code = '$';
            if (c == 0xC3)
                for (i = 0; i < 10; i++)
                    if (utf8[i] == c2) code = swedish[i];
            if (!code) {
                flags |= 2;
                if (c2 < 0 || c2 == '\n') break;
                continue;
            }
            c = code;
        } else if (c < 0x20)
            continue; // control codes are dropped
        if (len == LINE_MAX)
            flags |= 1;
        else
            line_buf[len++] = c;
    }
    line_buf[len] = 0;
    return flags;
}

// Pads the last block with spaces and a line end, so the file holds only text, and writes it;
// when verifying, compares the padding and checks that nothing follows.
static void ch_finish(void) {
    u16 pos = cp->pos;
    if (pos && pos < 256) {
        while (cp->pos < 255)
            ch_byte(' ');
        ch_byte('\n');
    }
    if (cp->mode == M_VERIFY) {
        cp->pos = 256;
        dos_call(DOS_READ);
        if (!dos_a) cp->bad = 1;
    }
}

static void ch_close(u8 n) {
    use_channel(n);
    if (cp->mode) {
        if (cp->mode == M_WRITE) ch_finish();
        dos_call(DOS_CLOSE);
    }
    cp->mode = M_CLOSED;
}

static void close_all(void) {
    u8 i;
    for (i = 0; i < 8; i++)
        ch_close(i);
}

// Opens channel n on name_record for reading or writing.
static void ch_open(u8 n, u8 op) {
    ch_close(n);
    dos_call(op);
    if (dos_a) fail(op == DOS_OPENR ? E_NOFILE : E_SAVE);
    cp->buf = (u8*)dos_hl;
    cp->mode = op == DOS_OPENR ? M_READ : M_WRITE;
    cp->pos = op == DOS_OPENR ? 256 : 0;
    cp->eof = cp->bad = 0;
}

// A file number 1-7 at tp.
static u8 file_number(void) {
    i16 n = int_expr();
    if (n < 1 || n > 7) fail(E_VALUE);
    return n;
}

// "#n," at tp: the channel, which must be open in the given mode.
static void channel(u8 mode) {
    tp++;
    use_channel(file_number());
    if (cp->mode != mode) fail(E_NOTOPEN);
    if (!at_end()) expect(',');
}

// Reads the next line of the current channel for INPUT #; the padding after the last line
// (only spaces before the end of the file) is the end too.
static void file_line(void) {
    const char* s = line_buf;
    if (ch_getline() < 0) fail(E_EOF);
    while (*s == ' ')
        s++;
    if (!*s) {
        if (ch_get() < 0) fail(E_EOF);
        cp->pos--;
    }
}

// ---- Listing ----

static void list_range(u16 from, u16 to) {
    u8* p = find_line(from);
    for (; rec_len(p) && line_number(p) <= to; p += rec_len(p)) {
        u8* t = p + 4;
        check_break();
        put_u16(line_number(p));
        out(' ');
        for (; *t; t++) {
            if (*t >= 0x80 && *t < T_LAST) {
                put_text(nth(keywords, *t - 0x80));
            } else {
                out(*t);
            }
        }
        out('\n');
    }
}

static u16 list_number(void) {
    const char* s = (const char*)tp;
    u16 n;
    skip();
    s = (const char*)tp;
    if (!is_digit(*s)) fail(E_SYNTAX);
    n = parse_line_number(&s);
    tp = (u8*)s;
    if (!n) fail(E_LINE);
    return n;
}

static void do_list(void) {
    u16 from = 1, to = 65535u;
    if (!at_end()) { // LIST n, LIST n-m, LIST n-, LIST -m
        if (peek_char() != '-') from = to = list_number();
        if (accept('-')) to = at_end() ? 65535u : list_number();
    }
    list_range(from, to);
}

// Writes the program as the text LIST shows, then reads the file back and compares: a full
// disk or a failing host shows up as a difference.
static void do_save(void) {
    file_name(0);
    ch_open(0, DOS_OPENW);
    out = ch_putc;
    list_range(1, 65535u);
    ch_close(0);
    ch_open(0, DOS_OPENR);
    cp->mode = M_VERIFY;
    list_range(1, 65535u);
    ch_finish();
    ch_close(0);
    if (cp->bad) fail(E_SAVE); // what the file holds is not what was written
}

// Reads a text file in place of the program; every line it cannot take is reported with its
// line number in the file.
static void do_load(void) {
    u16 fline = 0;
    i16 r;
    file_name(0);
    close_all();
    ch_open(0, DOS_OPENR); // a file that is not there leaves the program as it was
    out = scr_putc;
    new_program();
    while ((r = ch_getline()) >= 0) {
        const char* s = line_buf;
        const char* msg = 0;
        u16 n;
        check_break(); // the lines read so far stay
        fline++;
        while (*s == ' ')
            s++;
        if (r & 1)
            msg = "LINE TOO LONG";
        else if (r & 2)
            msg = "BAD CHARACTER";
        else if (*s) {
            n = parse_line_number(&s);
            if (!n)
                msg = bad_line_number;
            else
                store_line(n, s);
        }
        if (msg) {
            scr_puts(msg);
            scr_puts(" IN FILE LINE ");
            put_u16(fline);
            scr_newline();
        }
        use_channel(0);
    }
    ch_close(0);
}

// ---- Statements ----

// Line n, which must be there.
static u8* line_at(u16 n) {
    u8* p = find_line(n);
    if (!rec_len(p) || line_number(p) != n) fail(E_LINE);
    return p;
}

static void enter(u8* line) {
    curline = line;
    tp = line + 4;
}

static void go_to(u16 n) { enter(line_at(n)); }

// The line named by the number at tp (a GOTO's or GOSUB's), tp behind it; a running program's
// jumps are remembered in jumps[].
static u8* jump_line(void) {
    u8 *at, *p;
    skip();
    at = tp;
    if (curline) {
        u8 i = (u8)(u16)at & (JUMPS - 1);
        if (jumps[i].at == at) {
            tp = jumps[i].after;
            return jumps[i].line;
        }
        p = line_at(list_number());
        jumps[i].at = at;
        jumps[i].line = p;
        jumps[i].after = tp;
        return p;
    }
    return line_at(list_number());
}

void to_line_end(void); // scan.s

// To the end of the statement (':' outside quotes, or the line end).
static void to_statement_end(void) {
    u8 q = 0;
    while (*tp && (q || *tp != ':')) {
        if (*tp == '"') q ^= 1;
        tp++;
    }
}

static void print_string(void) {
    u8 i;
    for (i = 0; i < sl; i++)
        out(sp[i]);
}

static void do_print(void) {
    u8 newline = 1, c;
    out = scr_putc;
    if (peek_char() == '#') {
        channel(M_WRITE);
        out = ch_putc;
    }
    while (!at_end()) {
        c = *tp;
        newline = 1;
        if (c == ';') {
            tp++;
            newline = 0;
        } else if (c == ',') {
            tp++;
            newline = 0;
            if (out != scr_putc)
                out(',');
            else if (cur_col >= 30)
                scr_newline();
            else
                do
                    scr_putc(' ');
                while (cur_col % 10);
        } else if (c == T_TAB) {
            i16 v;
            tp++;
            expect('(');
            v = int_expr();
            expect(')');
            if ((u16)v >= COLUMNS) fail(E_VALUE);
            while (cur_col < (u8)v)
                scr_putc(' ');
        } else if (c == T_CUR) {
            i16 r, k;
            tp++;
            expect('(');
            r = int_expr();
            k = int_arg();
            expect(')');
            if ((u16)r >= ROWS || (u16)k >= COLUMNS) fail(E_VALUE);
            cur_row = r;
            cur_col = k;
        } else {
            u8 constant = c == '"';
            c = expression();
            // Behind an item other than a string constant: a separator, a string constant or the
            // end; checked before the item shows.
            if (!constant && !at_end() && *tp != ';' && *tp != ',' && *tp != '"') fail(E_SYNTAX);
            if (c)
                print_string();
            else
                put_text(fmt_num(fac));
        }
    }
    if (newline) out('\n');
}

// One field of an input line or a DATA list at s into sp/sl: quoted, or up to a comma (the last
// field of an input line takes the rest), spaces around it dropped. Returns the position after it.
static u8* field(u8* s, u8 last) {
    u8* e;
    while (*s == ' ')
        s++;
    if (*s == '"') {
        e = ++s;
        while (*e && *e != '"')
            e++;
        sp = s;
        sl = e - s;
        if (*e) e++;
        while (*e == ' ')
            e++;
        return e;
    }
    sp = e = s;
    while (*e && (last || *e != ','))
        e++;
    s = e;
    while (e > sp && e[-1] == ' ')
        e--;
    sl = e - sp;
    return s;
}

// The text sp/sl as a number in fac (0 when it does not start with one); 1 when it is all number.
static u8 text_number(void) {
    u8* t = tmp_alloc(sl + 1);
    const u8* e;
    u8 neg = 0;
    move_bytes(t, sp, sl);
    t[sl] = 0;
    while (*t == ' ')
        t++;
    if (*t == '-' || *t == '+') neg = *t++ == '-';
    e = parse_float(t);
    if (!e) fac = 0;
    if (neg) fac = -fac;
    return e && !*e;
}

// Takes one field of an input line at s into the variable; returns the position after it (at
// ',' or the end), or 0 when it does not fit the variable.
static u8* take_field(u8* s, u8 kind, u8* addr, u8 room, u8 last) {
    s = field(s, last && kind == 2);
    if (kind != 2 && (!text_number() || (kind == 1 && (fac < -32768.0f || fac >= 32768.0f))))
        return 0;
    if (*s && *s != ',') return 0;
    store_var(kind, addr, room);
    return s;
}

static void do_input(void) {
    u8* s;
    u8 *start, file = 0, *prompt = 0, plen = 0;
    if (peek_char() == '#') {
        channel(M_READ);
        file = 1;
    } else if (peek_char() == '"') {
        primary();
        prompt = sp;
        plen = sl;
        if (!accept(';')) expect(',');
    }
    start = tp;
    do
        var_ref();
    while (accept(','));
    if (!at_end()) fail(E_SYNTAX);
    out = scr_putc;
    for (sp = prompt, sl = prompt ? plen : 0; sl; sl--)
        out(*sp++);
retry:
    tp = start;
    if (!file) scr_puts("? ");
    s = 0;
    for (;;) {
        u8 kind, room, *addr, last;
        var_ref();
        kind = vkind;
        room = vroom;
        addr = vaddr;
        last = at_end();
        if (!s || !*s) {
            if (file)
                file_line();
            else {
                if (s) scr_puts("?? ");
                if (edit_line(line_buf, LINE_MAX)) {
                    key_flush();
                    fail(E_BREAK);
                }
            }
            s = (u8*)line_buf;
        }
        s = take_field(s, kind, addr, room, last);
        if (!s) {
            if (file) fail(E_BADDATA);
            scr_puts("RETYPE\r");
            goto retry;
        }
        if (*s) s++;
        if (last) return;
        expect(',');
    }
}

// The next DATA item into sp/sl (text) after searching the program for DATA statements.
static void next_data(void) {
    u8 *e, q;
    while (!data_p || !*data_p) {
        u8* p = data_line ? data_line : mem;
        if (!rec_len(p)) fail(E_DATA);
        data_line = p + rec_len(p);
        for (q = 0, e = p + 4; *e; e++) {
            if (*e == '"') q ^= 1;
            if (*e == T_DATA && !q) {
                data_p = e + 1;
                break;
            }
        }
    }
    data_p = field(data_p, 0);
    if (*data_p == ',')
        data_p++;
    else if (*data_p)
        fail(E_BADDATA);
    else
        data_p = 0;
}

static void do_read(void) {
    do {
        var_ref();
        next_data();
        if (vkind != 2 && !text_number()) fail(E_BADDATA);
        store_var(vkind, vaddr, vroom);
    } while (accept(','));
}

static void do_dim(void) {
    do {
        u16 name = var_name();
        u8 kind = 0;
        i16 n1, n2 = 0, room = ELEM_DEFAULT;
        if (accept('%'))
            kind = 1;
        else if (accept('$'))
            kind = 2;
        if (kind == 2 && accept('=')) { // DIM A$=n: every string variable holds 255 already
            if ((u16)int_expr() > 255) fail(E_VALUE);
            continue;
        }
        expect('(');
        n1 = int_expr();
        if (accept(',')) n2 = int_expr();
        expect(')');
        if (kind == 2 && accept('=')) {
            room = int_expr();
            if ((u16)(room - 1) > 254) fail(E_VALUE);
        }
        if (n1 < 0 || n2 < 0) fail(E_VALUE);
        dim_array(kind, name, n1 + 1, n2 + 1, room);
    } while (accept(','));
}

// FOR (loop.s), which knows these tokens.
void do_for(void);
const u8 for_tokens[2] = {T_TO, T_STEP};
typedef char loop_s_knows_the_depth[FOR_DEPTH == 112 ? 1 : -1];

// NEXT in floating point: 1 when the loop goes round again.
u8 step_float(for_t* f) { // for loop.s
    float v;
    load_var();
    v = fac = chk(fac + f->step);
    if (f->step >= 0 ? v > f->limit : v < f->limit) return 0;
    store_var(vkind, vaddr, 0);
    return 1;
}

// NEXT (loop.s): for each variable named (or the innermost loop), next_whole or step_float, then
// back behind its FOR, or on when it is done.
void do_next(void);

static void do_gosub(u8* line) {
    if (gosub_top == GOSUB_DEPTH) fail(E_GOSUBS);
    gosubs[gosub_top].line = curline;
    gosubs[gosub_top].text = tp;
    gosub_top++;
    enter(line);
}

static void do_on(void) {
    i16 n;
    u8 op;
    u16 target = 0;
    if (accept(T_ERROR)) { // ON ERROR GOTO line; 0 turns it off
        expect(T_GOTO);
        trap_line = 0;
        if (!accept('0')) trap_line = list_number();
        return;
    }
    n = int_expr();
    op = peek_char();
    if (op != T_GOTO && op != T_GOSUB) fail(E_SYNTAX);
    tp++;
    do {
        u16 line = list_number();
        if (--n == 0) target = line;
    } while (accept(','));
    if (!target) return; // out of the list: on with the next statement
    if (op == T_GOTO)
        go_to(target);
    else
        do_gosub(line_at(target));
}

static void do_def(void) {
    u16 name;
    u8 kind, i;
    expect(T_FN);
    name = var_name();
    kind = str_kind();
    i = find_fn(name, kind);
    if (i == 0xFF) {
        if (fn_count == FN_MAX) fail(E_MEMORY);
        i = fn_count++;
        fns[i].name = name;
        fns[i].kind = kind;
    }
    fns[i].param = NO_PARAM;
    if (accept('(')) {
        fns[i].param = var_name();
        fns[i].pkind = str_kind();
        expect(')');
    }
    name = i;
    expect('=');
    fns[name].text = tp;
    to_statement_end();
    if (!curline) { // a direct command's text is gone after it: keep a copy
        u16 n = tp - fns[name].text;
        u8* copy = alloc(n + 1);
        move_bytes(copy, fns[name].text, n);
        fns[name].text = copy;
    }
}

// OPEN and PREPARE: "NAME" AS FILE n.
static void do_open(u8 op) {
    file_name(1);
    expect(T_AS);
    expect(T_FILE);
    ch_open(file_number(), op);
}

static void do_run(void) {
    close_all();
    clear_vars();
    if (!at_end()) {
        go_to(list_number());
        return;
    }
    if (!rec_len(mem)) {
        to_line_end();
        return;
    }
    curline = mem;
    tp = mem + 4;
}

static void end_program(void) {
    close_all();
    curline = 0;
    tp = direct;
    *tp = 0;
}

static void do_let(void) {
    u8 kind, room, *addr;
    var_ref();
    kind = vkind;
    room = vroom;
    addr = vaddr;
    expect('=');
    if (expression() != (kind == 2)) fail(E_TYPE);
    if (!kind) // a number, the most common: at once
        *(float*)addr = fac;
    else
        store_var(kind, addr, room);
    if (!at_end()) fail(E_SYNTAX);
}

static void do_if(void) {
    num_expr();
    if (!is_zero()) {
        u8 c = peek_char();
        if (c == T_THEN || c == T_GOTO) {
            tp++;
            if (is_digit(peek_char())) enter(jump_line());
            return; // a statement follows: the main loop runs it
        }
        fail(E_SYNTAX);
    }
    to_line_end();
}

static void do_return(void) {
    if (!gosub_top) fail(E_RETURN);
    gosub_top--;
    curline = gosubs[gosub_top].line;
    tp = gosubs[gosub_top].text;
    to_statement_end();
}

static void other_statement(u8 c);

// The statements that loops run most often are told apart first; the rest by a longer search.
static void statement(u8 c) { // c: the character at tp
    if (c >= 'A' && c <= 'Z') {
        do_let();
        return;
    }
    tp++;
    if (c == T_NEXT)
        do_next();
    else if (c == T_IF)
        do_if();
    else if (c == T_GOSUB)
        do_gosub(jump_line());
    else if (c == T_RETURN)
        do_return();
    else if (c == T_GOTO)
        enter(jump_line());
    else
        other_statement(c);
}

static void other_statement(u8 c) {
    switch (c) {
    case T_LET: do_let(); return;
    case T_PRINT: do_print(); break;
    case T_INPUT: do_input(); break;
    case T_FOR: do_for(); break;
    case T_REM:
    case T_DATA: to_line_end(); return;
    case T_END: end_program(); return;
    case T_STOP: fail(E_STOP);
    case T_POKE:
    case T_OUT: {
        float a;
        num_expr();
        a = fac;
        poke(c == T_OUT, a, int_arg());
        break;
    }
    case T_LIST:
        out = scr_putc;
        do_list();
        break;
    case T_RUN: do_run(); return;
    case T_NEW:
        close_all();
        new_program();
        end_program();
        return;
    case T_SAVE: do_save(); break;
    case T_LOAD:
        do_load();
        end_program();
        return;
    case T_DIM: do_dim(); break;
    case T_READ: do_read(); break;
    case T_RESTORE:
        restore_data();
        if (!at_end()) data_line = find_line(list_number());
        break;
    case T_ON: do_on(); return;
    case T_DEF: do_def(); return;
    case T_GET: { // one key: a string of it, or its code into a number
        u8 k;
        var_ref();
        k = key_wait();
        if (k == 3) {
            key_flush();
            fail(E_BREAK);
        }
        sp = &k;
        sl = 1;
        fac = k;
        store_var(vkind, vaddr, vroom);
        break;
    }
    case T_CLS: scr_clear(); break;
    case T_RESUME: // to the statement that failed, the one after it (NEXT), or a line
        if (!in_trap) fail(E_RESUME);
        in_trap = 0;
        if (is_digit(peek_char())) {
            go_to(list_number());
            return;
        }
        c = accept(T_NEXT);
        curline = resume_line;
        tp = resume_tp;
        if (c) to_statement_end();
        return;
    case T_PREPARE: do_open(DOS_OPENW); break;
    case T_OPEN: do_open(DOS_OPENR); break;
    case T_CLOSE:
        if (at_end())
            close_all();
        else
            ch_close(file_number());
        break;
    case T_RANDOMIZE: rnd_state = read_ticks() | 1; break;
    default: fail(E_SYNTAX);
    }
    if (!at_end()) fail(E_SYNTAX);
}

// Runs from tp until the direct command or the program ends.
static void execute(void) {
    for (;;) {
        u8 c;
        if (break_flag) check_break();
        tmp_top = 0;
        c = peek_char();
        if (c == ':') {
            tp++;
        } else if (c) {
            stmt_line = curline;
            stmt_tp = tp;
            statement(c);
        } else {
            if (!curline) return;
            curline += rec_len(curline);
            if (!rec_len(curline)) {
                end_program();
                return;
            }
            tp = curline + 4;
        }
    }
}

static void report_error(void) {
    if (cur_col) scr_newline();
    scr_puts(nth(messages, err_code));
    if (curline) {
        scr_puts(" IN ");
        put_u16(line_number(curline));
    }
    scr_newline();
}

void main(void) {
    scr_clear();
    rnd_state = 0x2545;
    out = scr_putc;
    prog_end = program_check();
    if (prog_end) { // a Reset: the program stays, its variables go
        clear_vars();
    } else {
        scr_puts("LUNABRIK FREE BASIC 2.0\r20000 BYTES FREE\r"); // MEM_SIZE
        new_program();
        mem_sig = PROGRAM_SIGNATURE;
    }
    if (setjmp(on_error)) {
        out = scr_putc;
        if (trap_line && curline && !in_trap && err_code != E_BREAK && err_code != E_STOP) {
            err_num = err_code + 1; // ON ERROR GOTO: on in the handler
            err_line = line_number(stmt_line);
            resume_line = stmt_line;
            resume_tp = stmt_tp;
            in_trap = 1;
            go_to(trap_line);
            goto run;
        }
        close_all();
        report_error();
    }
    for (;;) {
        const char* s;
        curline = 0;
        out = scr_putc;
        if (cur_col) scr_newline(); // after PRINT ...;
        scr_puts("READY\r");
        for (;;) {
            u16 n;
            if (edit_line(line_buf, LINE_MAX)) continue;
            s = line_buf;
            while (*s == ' ')
                s++;
            if (!*s) continue;
            if (!is_digit(*s)) break;
            n = parse_line_number(&s);
            if (n)
                store_line(n, s);
            else {
                scr_puts(bad_line_number);
                scr_newline();
            }
        }
        move_bytes(direct, packed, pack(s) + 1);
        tp = direct;
        // A Ctrl-C that ended a line is spent; a key waiting in the port is not. One instruction
        // per bit, so that the keyboard handler cannot come between a read and a write.
        __asm__("ld hl, #_break_flag\n res 0, (hl)\n res 1, (hl)");
    run:
        execute();
    }
}
