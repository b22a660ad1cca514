// Lunabrik's free BASIC: a small integer BASIC (16-bit signed numbers, variables A-Z and A0-Z9).
//
// Program lines are kept in RAM, sorted, each as: length byte (whole record), line number (2
// bytes), the text with keywords packed into single bytes 0x80 and above, a zero byte. A zero
// length byte ends the program. Lines are executed straight from that form.
#include <setjmp.h>

#include "machine.h"

#define LINE_MAX    119
#define PROG_SIZE   26000
#define FOR_DEPTH   8
#define GOSUB_DEPTH 16
#define VARS        (26 * 11)

// Keywords in token order, each ended by a zero byte.
static const char keywords[] = "PRINT\0INPUT\0LET\0IF\0THEN\0GOTO\0GOSUB\0RETURN\0FOR\0TO\0STEP\0"
                               "NEXT\0REM\0END\0STOP\0CLS\0POKE\0LIST\0RUN\0NEW\0SAVE\0LOAD\0"
                               "PEEK\0CHR$\0RND\0TIME\0ABS\0TAB\0AND\0OR\0NOT\0MOD\0";
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
    T_CLS,
    T_POKE,
    T_LIST,
    T_RUN,
    T_NEW,
    T_SAVE,
    T_LOAD,
    T_PEEK,
    T_CHR,
    T_RND,
    T_TIME,
    T_ABS,
    T_TAB,
    T_AND,
    T_OR,
    T_NOT,
    T_MOD,
    T_LAST
};

static u8 prog[PROG_SIZE];
static u8* prog_end; // the zero length byte that ends the program
static i16 vars[VARS];
static char line_buf[LINE_MAX + 1]; // what the editor or a file delivers
static u8 direct[LINE_MAX * 2 + 4]; // a direct command, packed
static u8* curline;                 // line being run, 0 for a direct command
static u8* tp;                      // next byte of text to execute
static u16 rnd_state;
static jmp_buf on_error;
static u8 file_open; // slot 0 holds a file; an error closes it

static struct {
    u8 var;
    i16 limit, step;
    u8 *line, *text;
} fors[FOR_DEPTH];
static u8 for_top;
static struct { u8 *line, *text; } gosubs[GOSUB_DEPTH];
static u8 gosub_top;

static const char* const messages[] = {"SYNTAX ERROR",
                                       "OVERFLOW",
                                       "DIVISION BY ZERO",
                                       "NO SUCH LINE",
                                       "RETURN WITHOUT GOSUB",
                                       "NEXT WITHOUT FOR",
                                       "OUT OF MEMORY",
                                       "FILE NOT FOUND",
                                       "ILLEGAL VALUE",
                                       "TOO MANY GOSUBS",
                                       "TOO MANY FORS",
                                       "BAD FILE NAME",
                                       "BREAK",
                                       "STOP",
                                       "CANNOT SAVE"};
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
    E_SAVE
};
static u8 err_code;

static void fail(u8 code) {
    err_code = code;
    longjmp(on_error, 1);
}

// ---- Output ----

static void put_num(i16 n) {
    char digits[6];
    u8 i = 0;
    u16 u = n;
    if (n < 0) {
        scr_putc('-');
        u = 0u - (u16)n;
    }
    do {
        digits[i++] = '0' + u % 10;
        u /= 10;
    } while (u);
    while (i)
        scr_putc(digits[--i]);
}

static void put_keyword(u8 token) {
    const char* k = keywords;
    for (token -= 0x80; token; token--)
        while (*k++) {
        }
    scr_puts(k);
}

// ---- Packing typed text ----

static u8 upper(u8 c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// Reads a line number (1-32767) at *s and moves *s behind it; 0 when it is out of range.
static u16 parse_line_number(const char** s) {
    u16 n = 0;
    while (**s >= '0' && **s <= '9') {
        if (n > 3276)
            n = 32768;
        else
            n = n * 10 + (*(*s)++ - '0');
        if (n > 32767) {
            while (**s >= '0' && **s <= '9')
                (*s)++;
            return 0;
        }
    }
    return n;
}

// Packs text into out: letters outside strings become capitals, keywords become tokens, the rest
// of a REM stays as typed. Returns the length, the zero byte not counted.
static u8 pack(const char* s, u8* out) {
    u8* o = out;
    while (*s) {
        u8 c = *s;
        if (c == '"') {
            do
                *o++ = *s++;
            while (*s && *s != '"');
            if (*s) *o++ = *s++;
            continue;
        }
        if (c == '?') {
            *o++ = T_PRINT;
            s++;
            continue;
        }
        if (upper(c) >= 'A' && upper(c) <= 'Z') {
            const char* k = keywords;
            u8 token = 0x80;
            while (*k) {
                u8 i = 0;
                while (k[i] && upper(s[i]) == k[i])
                    i++;
                if (!k[i]) break;
                while (*k++) {
                }
                token++;
            }
            if (*k) {
                while (*k++)
                    s++;
                *o++ = token;
                if (token == T_REM)
                    while (*s)
                        *o++ = *s++;
                continue;
            }
        }
        *o++ = upper(c);
        s++;
    }
    *o = 0;
    return o - out;
}

// ---- Program store ----

static u16 line_number(const u8* line) { return line[1] | (u16)line[2] << 8; }

// The first line numbered n or above (or the end).
static u8* find_line(u16 n) {
    u8* p = prog;
    while (*p && line_number(p) < n)
        p += *p;
    return p;
}

static void move_bytes(u8* to, const u8* from, u16 n) {
    if (to < from)
        while (n--)
            *to++ = *from++;
    else {
        to += n;
        from += n;
        while (n--)
            *--to = *--from;
    }
}

static void clear_run_state(void) { for_top = gosub_top = 0; }

static void clear_vars(void) {
    u16 i;
    for (i = 0; i < VARS; i++)
        vars[i] = 0;
    clear_run_state();
}

static void new_program(void) {
    prog[0] = 0;
    prog_end = prog;
    clear_vars();
}

// Stores (or with empty text deletes) line n.
static void store_line(u16 n, const char* text) {
    u8 packed[LINE_MAX * 2 + 4];
    u8 len, *p;
    while (*text == ' ')
        text++;
    len = *text ? pack(text, packed) + 4 : 0;
    clear_run_state();
    p = find_line(n);
    if (*p && line_number(p) == n) {
        u8 old = *p;
        move_bytes(p, p + old, prog_end + 1 - (p + old));
        prog_end -= old;
    }
    if (!len) return;
    if (prog_end + 1 + len > prog + PROG_SIZE) fail(E_MEMORY);
    move_bytes(p + len, p, prog_end + 1 - p);
    prog_end += len;
    p[0] = len;
    p[1] = (u8)n;
    p[2] = n >> 8;
    move_bytes(p + 3, packed, len - 3);
}

// ---- Expressions ----

static void skip(void) {
    while (*tp == ' ')
        tp++;
}

static u8 peek_char(void) {
    skip();
    return *tp;
}

static void expect(u8 c) {
    if (peek_char() != c) fail(E_SYNTAX);
    tp++;
}

static u8 at_end(void) {
    u8 c = peek_char();
    return c == 0 || c == ':';
}

// A variable name at tp: its index, or fails.
static u8 variable(void) {
    u8 c = peek_char(), v;
    if (c < 'A' || c > 'Z') fail(E_SYNTAX);
    v = (c - 'A') * 11;
    c = *++tp;
    if (c >= '0' && c <= '9') {
        v += c - '0' + 1;
        tp++;
    }
    return v;
}

static i16 expression(void);

static i16 paren(void) {
    i16 v;
    expect('(');
    v = expression();
    expect(')');
    return v;
}

static i16 check(i16 v, u8 overflowed) {
    if (overflowed) fail(E_OVERFLOW);
    return v;
}

static i16 primary(void) {
    u8 c = peek_char();
    if (c >= '0' && c <= '9') {
        u16 v = 0;
        while (*tp >= '0' && *tp <= '9') {
            if (v > 3276 || (v == 3276 && *tp > '7')) fail(E_OVERFLOW);
            v = v * 10 + (*tp++ - '0');
        }
        return v;
    }
    if (c >= 'A' && c <= 'Z') return vars[variable()];
    tp++;
    switch (c) {
    case '(': {
        i16 v = expression();
        expect(')');
        return v;
    }
    case '-': {
        i16 v = primary();
        return check(-v, v == (i16)0x8000);
    }
    case '+': return primary();
    case T_PEEK: return *(u8*)paren();
    case T_ABS: {
        i16 v = paren();
        return v < 0 ? check(-v, v == (i16)0x8000) : v;
    }
    case T_RND: {
        i16 n = paren();
        if (n <= 0) fail(E_VALUE);
        rnd_state ^= rnd_state << 7;
        rnd_state ^= rnd_state >> 9;
        rnd_state ^= rnd_state << 8;
        return (rnd_state % (u16)n) + 1;
    }
    case T_TIME: return read_ticks() & 0x7FFF;
    }
    fail(E_SYNTAX);
    return 0;
}

static i16 term(void) {
    i16 a = primary();
    for (;;) {
        u8 op = peek_char();
        i16 b;
        if (op != '*' && op != '/' && op != T_MOD) return a;
        tp++;
        b = primary();
        if (op == '*') {
            long p = (long)a * b;
            a = check((i16)p, p > 32767 || p < -32768);
        } else {
            if (!b) fail(E_DIV0);
            if (a == (i16)0x8000 && b == -1) fail(E_OVERFLOW);
            a = op == '/' ? a / b : a % b;
        }
    }
}

static i16 sum(void) {
    i16 a = term();
    for (;;) {
        u8 op = peek_char();
        i16 b, r;
        if (op != '+' && op != '-') return a;
        tp++;
        b = term();
        if (op == '+') {
            r = (u16)a + (u16)b;
            a = check(r, ((a ^ r) & (b ^ r)) < 0);
        } else {
            r = (u16)a - (u16)b;
            a = check(r, ((a ^ b) & (a ^ r)) < 0);
        }
    }
}

// Comparisons give -1 for true and 0 for false, so AND, OR and NOT work on them bitwise.
static i16 comparison(void) {
    i16 a = sum(), b;
    u8 rel = 0, c;
    for (;;) {
        c = peek_char();
        if (c == '<')
            rel |= 1;
        else if (c == '=')
            rel |= 2;
        else if (c == '>')
            rel |= 4;
        else
            break;
        tp++;
    }
    if (!rel) return a;
    if (rel == 7) fail(E_SYNTAX);
    b = sum();
    return ((rel & 1) && a < b) || ((rel & 2) && a == b) || ((rel & 4) && a > b) ? -1 : 0;
}

static i16 negation(void) {
    if (peek_char() == T_NOT) {
        tp++;
        return ~negation();
    }
    return comparison();
}

static i16 conjunction(void) {
    i16 a = negation();
    while (peek_char() == T_AND) {
        tp++;
        a &= negation();
    }
    return a;
}

static i16 expression(void) {
    i16 a = conjunction();
    while (peek_char() == T_OR) {
        tp++;
        a |= conjunction();
    }
    return a;
}

// ---- Statements ----

static void go_to(u16 n) {
    u8* p = find_line(n);
    if (!*p || line_number(p) != n) fail(E_LINE);
    curline = p;
    tp = p + 3;
}

static void to_line_end(void) {
    while (*tp)
        tp++;
}

static void do_print(void) {
    u8 newline = 1;
    while (!at_end()) {
        u8 c = *tp;
        newline = 1;
        if (c == ';') {
            tp++;
            newline = 0;
        } else if (c == ',') {
            tp++;
            newline = 0;
            if (cur_col >= 30)
                scr_newline();
            else
                do
                    scr_putc(' ');
                while (cur_col % 10);
        } else if (c == '"') {
            tp++;
            while (*tp && *tp != '"')
                scr_putc(*tp++);
            if (*tp) tp++;
        } else if (c == T_CHR) {
            i16 v;
            tp++;
            v = paren();
            if ((u16)v > 255) fail(E_VALUE);
            scr_putc((u8)v);
        } else if (c == T_TAB) {
            i16 v;
            tp++;
            v = paren();
            if ((u16)v >= COLUMNS) fail(E_VALUE);
            while (cur_col < (u8)v)
                scr_putc(' ');
        } else {
            i16 v = expression();
            if (v >= 0) scr_putc(' ');
            put_num(v);
        }
    }
    if (newline) scr_newline();
}

// Reads a signed number from text s; returns the position after it, or 0 when there is none.
static const char* read_number(const char* s, i16* out) {
    u8 negative = 0;
    u16 v = 0;
    while (*s == ' ')
        s++;
    if (*s == '-' || *s == '+') negative = *s++ == '-';
    if (*s < '0' || *s > '9') return 0;
    while (*s >= '0' && *s <= '9') {
        if (v > 3277) return 0;
        v = v * 10 + (*s++ - '0');
        if (v > 32767u + negative) return 0;
    }
    while (*s == ' ')
        s++;
    *out = negative ? -(i16)v : (i16)v;
    return s;
}

static void do_input(void) {
    const char* s;
    u8* start;
    u8 c = peek_char();
    if (c == '"') {
        tp++;
        while (*tp && *tp != '"')
            scr_putc(*tp++);
        if (*tp) tp++;
        c = peek_char();
        if (c != ';' && c != ',') fail(E_SYNTAX);
        tp++;
    }
    start = tp;
retry:
    scr_puts("? ");
    s = 0; // nothing typed yet
    tp = start;
    for (;;) {
        u8 v = variable();
        i16 n;
        if (!s || !*s) {
            if (s) scr_puts("?? ");
            if (edit_line(line_buf, LINE_MAX)) {
                key_flush();
                fail(E_BREAK);
            }
            s = line_buf;
        }
        s = read_number(s, &n);
        if (!s || (*s && *s != ',')) {
            scr_puts("RETYPE\r");
            goto retry;
        }
        vars[v] = n;
        if (*s) s++;
        if (at_end()) return;
        expect(',');
    }
}

static void do_for(void) {
    u8 v = variable(), i;
    i16 limit, step = 1;
    expect('=');
    vars[v] = expression();
    expect(T_TO);
    limit = expression();
    if (peek_char() == T_STEP) {
        tp++;
        step = expression();
    }
    for (i = 0; i < for_top; i++)
        if (fors[i].var == v) {
            for_top = i;
            break;
        }
    if (for_top == FOR_DEPTH) fail(E_FORS);
    fors[for_top].var = v;
    fors[for_top].limit = limit;
    fors[for_top].step = step;
    fors[for_top].line = curline;
    fors[for_top].text = tp;
    for_top++;
}

static void do_next(void) {
    u8 i = for_top;
    i16 v, step, r;
    if (!at_end()) {
        u8 var = variable();
        while (i && fors[i - 1].var != var)
            i--;
    }
    if (!i) fail(E_NEXT);
    for_top = i--;
    step = fors[i].step;
    v = vars[fors[i].var];
    r = (u16)v + (u16)step;
    if (((v ^ r) & (step ^ r)) < 0) { // past the end of the number range: the loop is done
        for_top = i;
        return;
    }
    vars[fors[i].var] = r;
    if (step >= 0 ? r > fors[i].limit : r < fors[i].limit) {
        for_top = i;
        return;
    }
    curline = fors[i].line;
    tp = fors[i].text;
}

static void list_range(u16 from, u16 to, void (*put)(u8));

static u16 list_number(void) {
    u16 n;
    skip();
    if (*tp < '0' || *tp > '9') fail(E_SYNTAX);
    n = parse_line_number((const char**)&tp);
    if (!n) fail(E_LINE);
    return n;
}

static void put_screen(u8 c) { scr_putc(c == '\n' ? 13 : c); }

static void do_list(void) {
    u16 from = 0, to = 0x7FFF;
    if (!at_end()) {
        if (peek_char() != '-') from = to = list_number();
        if (peek_char() == '-') {
            tp++;
            to = at_end() ? 0x7FFF : list_number();
        }
    }
    list_range(from, to, put_screen);
}

// ---- Files ----

static u8 name_record[11];
static u8* block;
static u16 block_used;

static void dos(u8 op) {
    dos_op = op;
    dos_b = 0;
    dos_de = (u16)name_record;
    dos_hl = (u16)block;
    dos_do();
}

static void file_close(void) {
    if (file_open) dos(DOS_CLOSE);
    file_open = 0;
}

static void open_named(u8 op) {
    u8* start;
    if (peek_char() != '"') fail(E_SYNTAX);
    start = ++tp;
    while (*tp && *tp != '"')
        tp++;
    if (*tp) tp++;
    if (!at_end()) fail(E_SYNTAX);
    dos_op = DOS_NAME;
    dos_hl = (u16)start;
    dos_de = (u16)name_record;
    dos_do();
    if (dos_a) fail(E_NAME);
    dos(op);
    block = (u8*)dos_hl;
    if (dos_a) fail(op == DOS_OPENR ? E_NOFILE : E_SAVE);
    file_open = 1;
}

static void put_file(u8 c) {
    block[block_used++] = c;
    if (block_used == 256) {
        dos(DOS_WRITE);
        block_used = 0;
    }
}

// Writes the program as the text LIST shows, LF line ends; the last block is padded with zeros.
static void do_save(void) {
    open_named(DOS_OPENW);
    block_used = 0;
    list_range(0, 0x7FFF, put_file);
    if (block_used) {
        while (block_used < 256)
            block[block_used++] = 0;
        dos(DOS_WRITE);
    }
    file_close();
}

// Takes one text line of a file: a numbered line is stored, anything else is skipped.
static void load_line(void) {
    const char* s = line_buf;
    u16 n;
    while (*s == ' ')
        s++;
    if (*s < '0' || *s > '9') return;
    n = parse_line_number(&s);
    if (n) store_line(n, s);
}

// Reads a text file (LF or CRLF line ends) in place of the program; stops at the first zero
// byte or at a block the host left untouched.
static void do_load(void) {
    u8 len = 0, done = 0;
    open_named(DOS_OPENR);
    new_program();
    while (!done) {
        u16 i;
        dos(DOS_READ);
        if (dos_a) break;
        for (i = 0; i < 256; i++) {
            u8 c = block[i];
            if (!c) {
                done = 1;
                break;
            }
            if (c == '\n') {
                line_buf[len] = 0;
                load_line();
                len = 0;
            } else if (c == '\t') {
                c = ' ';
            }
            if (c >= 0x20 && c < 0x7F && len < LINE_MAX) line_buf[len++] = c;
        }
    }
    line_buf[len] = 0;
    load_line();
    file_close();
}

// ---- Listing ----

static void list_range(u16 from, u16 to, void (*put)(u8)) {
    u8* p = find_line(from);
    for (; *p && line_number(p) <= to; p += *p) {
        u8* t = p + 3;
        char digits[6];
        u8 i = 0;
        u16 n = line_number(p);
        if (break_flag) {
            break_flag = 0;
            key_flush();
            break;
        }
        do {
            digits[i++] = '0' + n % 10;
            n /= 10;
        } while (n);
        while (i)
            put(digits[--i]);
        put(' ');
        for (; *t; t++) {
            if (*t >= 0x80 && *t < T_LAST) {
                const char* k = keywords;
                u8 token;
                for (token = *t - 0x80; token; token--)
                    while (*k++) {
                    }
                while (*k)
                    put(*k++);
            } else {
                put(*t);
            }
        }
        put('\n');
    }
}

// ---- Running ----

static void do_run(void) {
    u8* p = prog;
    clear_vars();
    rnd_state = read_ticks() | 1;
    if (!at_end()) {
        go_to(expression());
        return;
    }
    if (!*p) {
        to_line_end();
        return;
    }
    curline = p;
    tp = p + 3;
}

static void statement(void) {
    u8 c = peek_char();
    if (c >= 'A' && c <= 'Z')
        c = T_LET;
    else
        tp++;
    switch (c) {
    case T_LET: {
        u8 v = variable();
        expect('=');
        vars[v] = expression();
        break;
    }
    case T_PRINT: do_print(); break;
    case T_INPUT: do_input(); break;
    case T_IF:
        if (expression()) {
            c = peek_char();
            if (c == T_THEN || c == T_GOTO) {
                tp++;
                skip();
                if (*tp >= '0' && *tp <= '9') go_to(expression());
                return; // a statement follows: the main loop runs it
            }
            fail(E_SYNTAX);
        }
        to_line_end();
        return;
    case T_GOTO: go_to(expression()); return;
    case T_GOSUB: {
        i16 n = expression();
        if (gosub_top == GOSUB_DEPTH) fail(E_GOSUBS);
        gosubs[gosub_top].line = curline;
        gosubs[gosub_top].text = tp;
        gosub_top++;
        go_to(n);
        return;
    }
    case T_RETURN:
        if (!gosub_top) fail(E_RETURN);
        gosub_top--;
        curline = gosubs[gosub_top].line;
        tp = gosubs[gosub_top].text;
        break;
    case T_FOR: do_for(); break;
    case T_NEXT: do_next(); break;
    case T_REM: to_line_end(); return;
    case T_END:
        curline = 0;
        to_line_end();
        return;
    case T_STOP: fail(E_STOP);
    case T_CLS: scr_clear(); break;
    case T_POKE: {
        u16 a = expression();
        expect(',');
        *(u8*)a = expression();
        break;
    }
    case T_LIST: do_list(); break;
    case T_RUN: do_run(); return;
    case T_NEW:
        new_program();
        curline = 0;
        to_line_end();
        return;
    case T_SAVE: do_save(); break;
    case T_LOAD:
        do_load();
        curline = 0;
        to_line_end();
        return;
    default: fail(E_SYNTAX);
    }
    if (!at_end()) fail(E_SYNTAX);
}

// Runs from tp until the direct command or the program ends.
static void execute(void) {
    for (;;) {
        u8 c;
        if (break_flag) {
            break_flag = 0;
            key_flush();
            fail(E_BREAK);
        }
        c = peek_char();
        if (c == ':') {
            tp++;
        } else if (c) {
            statement();
        } else {
            if (!curline) return;
            curline += *curline;
            if (!*curline) return;
            tp = curline + 3;
        }
    }
}

static void report_error(void) {
    if (cur_col) scr_newline();
    scr_puts(messages[err_code]);
    if (curline) {
        scr_puts(" IN ");
        put_num(line_number(curline));
    }
    scr_newline();
}

void main(void) {
    scr_clear();
    scr_puts("LUNABRIK FREE BASIC 1.0\r");
    new_program();
    put_num(PROG_SIZE);
    scr_puts(" BYTES FREE\r");
    if (setjmp(on_error)) {
        file_close();
        report_error();
    }
    for (;;) {
        const char* s;
        curline = 0;
        scr_puts("READY\r");
        for (;;) {
            if (edit_line(line_buf, LINE_MAX)) continue;
            s = line_buf;
            while (*s == ' ')
                s++;
            if (!*s) continue;
            if (*s < '0' || *s > '9') break;
            u16 n = parse_line_number(&s);
            if (n)
                store_line(n, s);
            else
                scr_puts("BAD LINE NUMBER\r");
        }
        pack(s, direct);
        tp = direct;
        break_flag = 0;
        execute();
    }
}
