;; The interpreter's reading of program text, in assembly because it runs for every character
;; of every statement.
;;
;; const u8 *scan_number(const u8 *s): the digits, point and exponent of a number at s, gathered
;; as a whole number and a power of ten. s comes in HL. Returns the position behind the number in
;; DE (0 when no digit stands there) with num_m (the digits, nine or ten significant ones, more
;; only move the point, as a float rounded to nearest, ties to even), num_e (the power of ten)
;; num_cut (nonzero when a digit other than 0 was dropped) and num_s (s). An exponent of three digits or
;; more is an OVERFLOW. Changes AF, BC, DE, HL.

	.module scan
	.globl	_fail
	.globl	_tp

E_SYNTAX = 0
E_OVERFLOW = 1

	.area	_DATA
_num_m::
	.ds	4
_num_e::
	.ds	2
_num_s::
	.ds	2			; where the number starts
seen:
	.ds	1			; a digit was seen
dot:
	.ds	1			; the point was seen
_num_cut::
	.ds	2			; and a spare byte, cleared with it

	.area	_CODE

_scan_number::
	ld	(_num_s), hl
	ex	de, hl			; DE: the text
	ld	hl, #0
	ld	(_num_e), hl
	ld	(seen), hl		; and dot
	ld	(_num_cut), hl
	ld	b, h
	ld	c, l			; BC:HL: the digits so far
digit:
	ld	a, (de)
	inc	de
	sub	a, #0x30
	cp	a, #10
	jr	nc, other
	push	af
	ld	a, #1
	ld	(seen), a
	ld	a, b
	cp	a, #6			; below 0x06000000: ten times it and a digit fit 32 bits
	jr	nc, full
	pop	af
	push	de
	push	af
	add	hl, hl			; times 2
	rl	c
	rl	b
	push	bc
	push	hl
	add	hl, hl			; times 8
	rl	c
	rl	b
	add	hl, hl
	rl	c
	rl	b
	pop	de			; plus twice: times 10
	add	hl, de
	pop	de
	ld	a, c
	adc	a, e
	ld	c, a
	ld	a, b
	adc	a, d
	ld	b, a
	pop	af			; plus the digit
	ld	e, a
	ld	d, #0
	add	hl, de
	jr	nc, 1$
	inc	bc
1$:
	pop	de
	ld	a, (dot)		; behind the point: one power of ten down
	or	a, a
	jr	z, digit
	push	hl
	ld	hl, (_num_e)
	dec	hl
	jr	power
full:
	pop	af			; a digit past the precision: dropped, the point moves
	or	a, a
	jr	z, 2$
	ld	(_num_cut), a
2$:
	ld	a, (dot)
	or	a, a
	jr	nz, digit
	push	hl
	ld	hl, (_num_e)
	inc	hl
power:
	ld	(_num_e), hl
	pop	hl
	jr	digit
other:
	cp	a, #0xFE		; '.'
	jr	nz, digits_end
	ld	a, (dot)
	or	a, a
	jr	nz, digits_end
	inc	a
	ld	(dot), a
	jr	digit
digits_end:
	dec	de			; back onto what ended the digits
	ld	a, (seen)
	or	a, a
	jr	z, none
	push	de
	call	to_float
	pop	de
	ld	a, (de)
	cp	a, #0x45		; 'E'
	ret	nz
	push	de			; without digits behind it the E is not the number's
	inc	de
	ld	a, (de)
	ld	c, #0			; C: 1 for a negative exponent
	cp	a, #0x2B		; '+'
	jr	z, sign
	cp	a, #0x2D		; '-'
	jr	nz, exponent
	inc	c
sign:
	inc	de
exponent:
	ld	a, (de)
	sub	a, #0x30
	cp	a, #10
	jr	nc, no_exponent
	pop	hl
	ld	l, #0			; L: the exponent so far
exponent_digit:
	ld	a, (de)
	sub	a, #0x30
	cp	a, #10
	jr	nc, exponent_end
	inc	de
	ld	h, a
	ld	a, l
	cp	a, #10			; a third digit: past any float
	jr	nc, overflow
	add	a, a
	add	a, a
	add	a, l
	add	a, a
	add	a, h
	ld	l, a
	jr	exponent_digit
exponent_end:
	ld	h, #0
	dec	c
	jr	nz, 2$
	xor	a, a			; negative: 0 - L
	sub	a, l
	ld	l, a
	sbc	a, a
	ld	h, a
2$:
	ld	bc, (_num_e)
	add	hl, bc
	ld	(_num_e), hl
	ret
no_exponent:
	pop	de
	ret
none:
	ld	de, #0
	ret
overflow:
	ld	a, #E_OVERFLOW
	jp	_fail

;; BC:HL as a float into num_m: shifted until its top bit is set, then rounded to 24 bits.
;; (numbers.c's exact reading calls it as num_float.)
to_float:
_num_float::
	ld	a, b
	or	a, c
	or	a, h
	or	a, l
	jr	nz, 1$
	ld	(_num_m), hl		; 0
	ld	(_num_m + 2), hl
	ret
1$:
	ld	e, #127 + 31		; the exponent of bit 31
2$:
	ld	a, b			; a byte at a time
	or	a, a
	jr	nz, 3$
	ld	b, c
	ld	c, h
	ld	h, l
	ld	l, a
	ld	a, e
	sub	a, #8
	ld	e, a
	jr	2$
3$:
	bit	7, b			; then a bit at a time
	jr	nz, 4$
	add	hl, hl
	rl	c
	rl	b
	dec	e
	jr	3$
4$:
	ld	a, l			; round to nearest: the byte below the last place against half
	cp	a, #0x80
	jr	c, 5$
	jr	nz, 6$
	bit	0, h			; just half: to the even neighbour
	jr	z, 5$
6$:
	inc	h
	jr	nz, 5$
	inc	c
	jr	nz, 5$
	inc	b
	jr	nz, 5$
	ld	b, #0x80		; carried out of the top: one more power of two
	inc	e
5$:
	ld	a, b			; sign 0, 8 bits of exponent, 23 of fraction
	add	a, a
	srl	e
	rra
	ld	(_num_m + 2), a
	ld	a, e
	ld	(_num_m + 3), a
	ld	l, h
	ld	h, c
	ld	(_num_m), hl
	ret

;; u8 peek_char(void): the character at tp after skipping spaces (tp moves onto it), in A; HL
;; holds tp. skip is the same routine. Changes AF, HL.
_skip::
_peek_char::
	ld	hl, (_tp)
	ld	a, (hl)
	cp	a, #0x20
	ret	nz			; mostly no space: tp stays
1$:
	inc	hl
	ld	a, (hl)
	cp	a, #0x20
	jr	z, 1$
	ld	(_tp), hl
	ret

;; u8 accept(u8 c): 1 and tp behind it when the next character is c (in A), else 0. Changes AF,
;; E, HL.
_accept::
	ld	e, a
	call	_peek_char
	sub	a, e
	jr	nz, 1$
	inc	hl
	ld	(_tp), hl
	inc	a
	ret
1$:
	xor	a, a
	ret

;; void expect(u8 c): tp behind the next character, which must be c (in A): else a SYNTAX ERROR.
_expect::
	call	_accept
	or	a, a
	ret	nz
	ld	a, #E_SYNTAX
	jp	_fail

;; u8 at_end(void): 1 at the end of a statement (a zero byte or ':'), else 0. Changes AF, HL.
_at_end::
	call	_peek_char
	or	a, a
	jr	z, 1$
	cp	a, #0x3A		; ':'
	ld	a, #0
	ret	nz
1$:
	ld	a, #1
	ret

;; void to_line_end(void): tp onto the zero byte that ends the line. Changes AF, BC, HL.
_to_line_end::
	ld	hl, (_tp)
	xor	a, a
	ld	b, a
	ld	c, a
	cpir
	dec	hl
	ld	(_tp), hl
	ret

;; u16 var_name(void): the variable's name at tp (see basic.c) in DE, tp behind it.
_var_name::
	call	_peek_char
	sub	a, #0x41		; 'A'
	cp	a, #26
	jr	nc, syntax
	ld	c, a			; times 11: 8 + 2 + 1
	add	a, a
	ld	b, a
	add	a, a
	add	a, a
	add	a, b
	ld	d, #0
	add	a, c
	jr	nc, 1$
	inc	d
1$:
	ld	e, a
	inc	hl
	ld	a, (hl)
	sub	a, #0x30
	cp	a, #10
	jr	nc, 2$
	inc	a			; a digit: plus it and 1
	add	a, e
	ld	e, a
	jr	nc, 3$
	inc	d
3$:
	inc	hl
2$:
	ld	(_tp), hl
	ld	a, (hl)
	sub	a, #0x41
	cp	a, #26
	ret	nc
syntax:
	ld	a, #E_SYNTAX
	jp	_fail
