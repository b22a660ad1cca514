;; u8 fast_expr(void): reads the expression at tp into fac when it is made only of what loops
;; compute most (number and integer variables, constants, parentheses, signs, + - * / and the
;; comparisons) and returns 1 with tp behind it; else returns 0 with tp where it was, and
;; expression_from in basic.c reads it. Nothing read here changes anything but fac and tp (the
;; constant cache aside), so giving up half way and reading again from the start gives the
;; same result. The order of the work, its rounding and its errors (OVERFLOW, DIVISION BY ZERO)
;; are those of expression_from. Runs from RAM (the _HOME area). Changes AF, BC, DE, HL and the
;; alternate registers (the float routines use them).
;;
;; A value is a float in HL (high word) and DE, as the float routines take and give it.

	.module expr
	.globl	_tp
	.globl	_fac
	.globl	_data_end
	.globl	_peek_char
	.globl	_var_name
	.globl	_constant
	.globl	_num_expr
	.globl	_consts
	.globl	_curline
	.globl	_fail
	.globl	_fac_cmp
	.globl	_nums
	.globl	_ints
	.globl	_operator_tokens
	.globl	___fsadd
	.globl	___fsmul
	.globl	___fsdiv
	.globl	___sint2fs

E_OVERFLOW = 1
CONSTS = 32				; entries of consts (basic.c): where, what follows, the value
E_DIV0 = 2

	.area	_DATA
start:
	.ds	2			; tp on entry
stack:
	.ds	2			; SP on entry
op:
	.ds	1			; the operator being worked out

	.area	_HOME

_fast_expr::
	ld	hl, (_tp)
	ld	(start), hl
	ld	(stack), sp
	ld	a, #1
	call	from
	ld	(_fac), de
	ld	(_fac + 2), hl
	ld	a, #1
	ret

;; void num_expr_quick(void): num_expr (basic.c), with one digit standing alone as the whole
;; expression (FOR I=1 TO 9) read at once. Changes AF, BC, DE, HL.
_num_expr_quick::
	ld	hl, (_tp)
	ld	a, (hl)
	sub	a, #0x30
	cp	a, #10
	jp	nc, _num_expr
	ld	c, a
1$:
	inc	hl
	ld	a, (hl)
	cp	a, #0x20
	jr	z, 1$
	or	a, a			; what ends it: the statement's end, ',', ')', ';' or a word
	jr	z, 3$			; that is no operator
	cp	a, #0x3A
	jr	z, 3$
	cp	a, #0x2C
	jr	z, 3$
	cp	a, #0x29
	jr	z, 3$
	cp	a, #0x3B
	jr	z, 3$
	cp	a, #0x80
	jp	c, _num_expr
	push	hl
	ld	hl, #_operator_tokens
	cp	a, (hl)
	jr	z, 2$
	inc	hl
	cp	a, (hl)
	jr	z, 2$
	inc	hl
	cp	a, (hl)
2$:
	pop	hl
	jp	z, _num_expr
3$:
	ld	(_tp), hl
	ld	b, #0
	ld	hl, #digits
	add	hl, bc
	add	hl, bc
	ld	a, (hl)
	inc	hl
	ld	h, (hl)
	ld	l, a
	ld	(_fac + 2), hl
	ld	hl, #0
	ld	(_fac), hl
	ret

;; Anything this code does not read: back to the start, from wherever it stands.
give_up:
	ld	sp, (stack)
	ld	hl, (start)
	ld	(_tp), hl
	xor	a, a
	ret

;; The expression of operators of level A and above (+ - 5, * / 6, comparisons 4) into HL:DE.
from:
	ld	c, a
	ld	b, #0			; B: a comparison was made at this level
	push	bc
	call	operand
next_op:
	push	hl
	push	de
	ld	hl, (_tp)
	ld	a, (hl)
	cp	a, #0x20
	call	z, _peek_char		; A: what follows, HL: tp
	sub	a, #0x2A		; '*' to '>': from the table
	cp	a, #0x3E - 0x2A + 1
	jr	nc, 8$
	ld	c, a
	ld	b, #0
	ld	hl, #levels
	add	hl, bc
	ld	b, (hl)
	add	a, #0x2A
	jr	1$
8$:
	add	a, #0x2A
	cp	a, #0x80
	jr	nc, 2$
	cp	a, #0x5E		; '^'
	jp	z, give_up
	jp	done			; no operator: the expression ends
2$:
	ld	hl, #_operator_tokens	; AND, OR, MOD
	cp	a, (hl)
	jp	z, give_up
	inc	hl
	cp	a, (hl)
	jp	z, give_up
	inc	hl
	cp	a, (hl)
	jp	z, give_up
	jp	done			; a word that is no operator: the expression ends
1$:
	ld	c, a			; C: the operator
	ld	hl, #4
	add	hl, sp			; the level asked for, then the comparison flag
	ld	a, b
	cp	a, (hl)
	jp	c, done			; below the level asked for (0 always is)
	cp	a, #4
	jp	z, compare
	ld	hl, (_tp)
	inc	hl
	ld	(_tp), hl
	push	bc
	inc	a
	call	from			; the right operand
	pop	bc
	ld	a, c
	ld	(op), a
	cp	a, #0x2D		; '-': plus the negated operand
	jr	nz, 3$
	ld	a, h
	xor	a, #0x80
	ld	h, a
3$:
	ld	a, c
	cp	a, #0x2F		; '/'
	jr	nz, 4$
	ld	a, h
	and	a, #0x7F
	or	a, l
	or	a, d
	or	a, e
	jr	nz, 9$
	ld	a, #E_DIV0
	jp	_fail
9$:
	ld	a, l			; by a power of two: the exponents' difference, when the
	and	a, #0x7F		; quotient is a normal number (it is then exact)
	or	a, d
	or	a, e
	jr	nz, 4$
	ld	a, l
	rla
	ld	a, h
	rla
	ld	c, a			; C: the divisor's exponent
	ld	b, h			; B: its sign (bit 7)
	pop	de
	pop	hl			; HL:DE: the dividend
	ld	a, l
	rla
	ld	a, h
	rla				; A: its exponent
	or	a, a
	jr	z, 12$			; 0: the long way
	sub	a, c
	jr	c, 10$
	cp	a, #128
	jr	nc, 12$			; past the largest float
	add	a, #127
	jr	11$
10$:
	add	a, #127
	jr	z, 12$			; below the smallest normal number
	jr	nc, 12$
11$:					; A: the quotient's exponent
	ld	c, a
	ld	a, l
	and	a, #0x7F
	srl	c
	jr	nc, 13$
	or	a, #0x80
13$:
	ld	l, a
	ld	a, h
	xor	a, b
	and	a, #0x80
	or	a, c
	ld	h, a
	jp	next_op
12$:
	push	hl			; back as they were
	push	de
	srl	c
	ld	a, #0
	rra
	ld	l, a
	ld	a, b
	and	a, #0x80
	or	a, c
	ld	h, a
	xor	a, a
	ld	d, a
	ld	e, a
4$:
	ex	de, hl			; the left operand to HL:DE, the right onto the stack
	ex	(sp), hl
	pop	bc
	ex	de, hl
	ex	(sp), hl
	push	bc
	ld	a, (op)
	cp	a, #0x2A
	jr	z, 5$
	cp	a, #0x2F
	jr	z, 6$
	call	___fsadd
	jr	7$
5$:
	call	___fsmul
	jr	7$
6$:
	call	___fsdiv
7$:
	ld	a, h			; exponent all ones: past the largest float
	and	a, #0x7F
	cp	a, #0x7F
	jp	nz, next_op
	bit	7, l
	jp	z, next_op
	ld	a, #E_OVERFLOW
	jp	_fail
done:
	pop	de
	pop	hl
	pop	bc
	ret

;; A comparison (tp at its first sign): -1 when it holds, else 0, into HL:DE.
compare:
	inc	hl
	ld	a, (hl)			; one comparison at a level
	or	a, a
	jr	nz, done
	ld	e, a			; E: 1 '<', 2 '=', 4 '>' as they come
1$:
	call	_peek_char
	ld	d, #1
	cp	a, #0x3C
	jr	z, 2$
	ld	d, #2
	cp	a, #0x3D
	jr	z, 2$
	ld	d, #4
	cp	a, #0x3E
	jr	nz, 3$
2$:
	ld	a, e
	or	a, d
	ld	e, a
	inc	hl
	ld	(_tp), hl
	jr	1$
3$:
	ld	a, e
	cp	a, #7			; <=> is a SYNTAX ERROR, which expression_from reports
	jp	z, give_up
	push	de
	ld	a, #5
	call	from
	ld	(_fac), de
	ld	(_fac + 2), hl
	pop	bc			; C: the signs
	ld	hl, #0
	add	hl, sp			; the left operand
	push	bc
	call	_fac_cmp		; 0xFF below, 0 equal, 1 above
	pop	bc
	ld	b, #1
	or	a, a
	jp	m, 4$
	ld	b, #2
	jr	z, 4$
	ld	b, #4
4$:
	pop	de
	pop	hl
	pop	hl
	ld	h, #1			; compared at this level
	push	hl
	ld	a, c
	and	a, b
	ld	hl, #0
	ld	d, h
	ld	e, l
	jr	z, 5$
	ld	hl, #0xBF80		; -1
5$:
	jp	next_op

;; Gives up when the stack nears the data (an expression nested too deep: expression_from
;; reports it). Changes DE, HL.
deep:
	ld	hl, #2
	add	hl, sp
	ld	de, #_data_end + 512
	or	a, a
	sbc	hl, de
	ret	nc
	jp	give_up

;; One operand into HL:DE, tp behind it.
operand:
	ld	hl, (_tp)
	ld	a, (hl)
	cp	a, #0x20
	call	z, _peek_char		; A: the character, HL: tp
	sub	a, #0x41		; 'A'
	cp	a, #26
	jr	nc, not_name
	inc	hl			; a variable: A-Z times 11, then maybe a digit (plus it and 1)
	ld	e, l
	ld	d, h
	ld	l, a
	ld	h, #0
	ld	c, l
	ld	b, h
	add	hl, hl
	add	hl, hl
	add	hl, bc
	add	hl, hl
	add	hl, bc
	ld	a, (de)
	sub	a, #0x30
	cp	a, #10
	jr	nc, 1$
	inc	a
	ld	c, a
	add	hl, bc
	inc	de
	ld	a, (de)
	sub	a, #0x30
1$:
	sub	a, #0x11		; a letter behind the name: expression_from reports it
	cp	a, #26
	jp	c, give_up
	add	a, #0x41		; what follows the name
	ld	(_tp), de
	cp	a, #0x25		; '%'
	jr	z, integer
	cp	a, #0x24		; '$'
	jp	z, give_up
	cp	a, #0x28		; '(': an array
	jp	z, give_up
	add	hl, hl
	add	hl, hl
	ld	de, #_nums
	add	hl, de
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	inc	hl
	ld	a, (hl)
	inc	hl
	ld	h, (hl)
	ld	l, a
	ret
integer:
	inc	de
	ld	a, (de)
	cp	a, #0x28
	jp	z, give_up
	ld	(_tp), de
	add	hl, hl
	ld	de, #_ints
	add	hl, de
	ld	a, (hl)
	inc	hl
	ld	h, (hl)
	ld	l, a
	jp	___sint2fs
not_name:
	add	a, #0x41 - 0x30
	cp	a, #10
	jr	c, digit
	cp	a, #0xFE		; '.'
	jr	z, number
	inc	hl
	cp	a, #0xFD		; '-'
	jr	nz, 4$
	ld	(_tp), hl
	call	deep
	call	operand
	ld	a, h
	xor	a, #0x80
	ld	h, a
	ret
4$:
	cp	a, #0xFB		; '+'
	jr	nz, 5$
	ld	(_tp), hl
	jp	operand
5$:
	cp	a, #0xF8		; '('
	jp	nz, give_up
	ld	(_tp), hl
	call	deep
	ld	a, #1
	call	from
	push	hl
	call	_peek_char
	cp	a, #0x29		; ')'
	jp	nz, give_up
	inc	hl
	ld	(_tp), hl
	pop	hl
	ret
digit:					; one digit standing alone: from the table
	ld	c, a
	inc	hl
	ld	a, (hl)
	cp	a, #0x2E		; '.'
	jr	z, number
	cp	a, #0x45		; 'E'
	jr	z, number
	sub	a, #0x30
	cp	a, #10
	jr	c, number
	ld	(_tp), hl
	ld	b, #0
	ld	hl, #digits
	add	hl, bc
	add	hl, bc
	ld	a, (hl)
	inc	hl
	ld	h, (hl)
	ld	l, a
	ld	de, #0
	ret
number:					; a running program's constant read before: from consts
	ld	hl, (_curline)
	ld	a, h
	or	a, l
	jr	z, 1$
	ld	de, (_tp)
	ld	a, e
	and	a, #CONSTS - 1
	ld	l, a
	ld	h, #0
	add	hl, hl
	add	hl, hl
	add	hl, hl
	ld	bc, #_consts
	add	hl, bc
	ld	a, (hl)
	cp	a, e
	jr	nz, 1$
	inc	hl
	ld	a, (hl)
	cp	a, d
	jr	nz, 1$
	inc	hl
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	inc	hl
	ld	(_tp), de
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	inc	hl
	ld	a, (hl)
	inc	hl
	ld	h, (hl)
	ld	l, a
	ret
1$:
	call	_constant		; tp still on its first character
	ld	de, (_fac)
	ld	hl, (_fac + 2)
	ret

levels:					; of the characters '*' to '>' as operators
	.db	6, 5, 0, 5, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4
digits:					; the high words of 0-9 as floats (the low ones are 0)
	.dw	0x0000, 0x3F80, 0x4000, 0x4040, 0x4080, 0x40A0, 0x40C0, 0x40E0, 0x4100, 0x4110
