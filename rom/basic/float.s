;; Addition, multiplication, division and comparison of single-precision floats in place of the C library's, which spend
;; thousands of T-states on each: every FOR step, sum and IF of a program goes through them.
;; Same calls as the library's: a in HL (high word) and DE, b on the stack (taken off before
;; returning), a float result in HL and DE, a truth value in A.
;;   float __fsadd(float a, float b)   a + b rounded to nearest (ties to even), infinite past
;;                                      the largest float, 0 below the smallest normal one
;;   float __fsmul(float a, float b)   a * b rounded to nearest (ties to even), infinite past
;;                                      the largest float, 0 below the smallest normal one
;;   float __fsdiv(float a, float b)   a / b rounded to nearest (ties to even), infinite past
;;                                      the largest float or when b is 0, 0 below the smallest
;;   _Bool __fslt(float a, float b)    a < b
;;   _Bool __fseq(float a, float b)    a == b (+0 and -0 alike)
;; (__fssub of the library adds the negated b.) Also, for the interpreter:
;;   float f_floor(float x)            the largest whole number not above x
;;   i16 to_int(float v)               v toward 0, ILLEGAL VALUE outside -32768 to 32767
;;   i8 fac_cmp(const float *a)        -1, 0 or 1 as *a is below, equal to or above fac Numbers with a zero exponent count as 0.
;; Changes AF, BC, DE, HL and the alternate AF, BC, DE, HL.

	.module float
	.globl	_fail
	.globl	_fac
	.globl	_num_float

E_VALUE = 8

	.area	_DATA
fa:
	.ds	4
fb:
	.ds	4
sign_y:
	.ds	1			; the smaller's sign
sign_x:
	.ds	1			; the result's sign (bit 7)
exp_x:
	.ds	1			; and its exponent
exp_q:
	.ds	2			; the quotient's, before it is checked

	.area	_CODE

;; a to fa and b (on the stack behind the caller's return address) to fb, taking b off.
;; Changes BC, DE, HL.
args:
	ld	(fa), de
	ld	(fa + 2), hl
	pop	bc			; this routine's return
	pop	hl			; the caller's
	pop	de
	ld	(fb), de
	pop	de
	ld	(fb + 2), de
	push	hl
	push	bc
	ret

___fsadd::
	call	args
fsadd_fab:
	ld	bc, #fa
	call	unpack
	ld	b, a
	sbc	a, a
	ld	c, a			; B: a's exponent, C: its sign
	exx
	ld	bc, #fb
	call	unpack
	ld	b, a
	sbc	a, a
	ld	c, a
	ld	a, b
	exx
	cp	a, b
	jr	c, 1$			; b's exponent below a's: a is X, the larger
	exx				; else b is X
1$:
	ld	(sign_x), bc		; C to sign_x, B to exp_x
	ld	a, b
	or	a, a
	jp	z, zero			; the larger is 0: both are
	exx				; Y, the smaller
	inc	b
	dec	b
	jr	z, y_gone		; Y is 0
	sub	a, b			; how far Y's point is from X's
	cp	a, #26
	jr	nc, y_gone		; too small to count
	ld	b, a
	ld	a, c
	ld	(sign_y), a
	ld	c, #0			; C: the bits shifted out, ORed
2$:
	ld	a, b			; Y to X's point: bytes, then bits
	cp	a, #8
	jr	c, 3$
	ld	a, l
	or	a, c
	ld	c, a
	ld	l, h
	ld	h, e
	ld	e, d
	ld	d, #0
	ld	a, b
	sub	a, #8
	ld	b, a
	jr	2$
3$:
	or	a, a
	jr	z, 5$
4$:
	srl	d
	rr	e
	rr	h
	rr	l
	jr	nc, 41$
	ld	c, #1
41$:
	djnz	4$
5$:
	ld	a, c			; what was shifted out stays seen in bit 0, for rounding
	or	a, a
	jr	z, 51$
	set	0, l
51$:
	push	de
	push	hl
	ld	a, (sign_y)
	exx				; X
	ld	b, a
	ld	a, (sign_x)
	xor	a, b
	jr	nz, subtract
	pop	bc			; same signs: the magnitudes add
	add	hl, bc
	pop	bc
	ex	de, hl
	adc	hl, bc
	ex	de, hl
	bit	7, d
	jr	z, round
	srl	d
	rr	e
	rr	h
	rr	l
	jr	nc, 9$
	set	0, l
9$:
	call	exp_up
	jr	round
y_gone:
	exx
	jr	pack
subtract:
	pop	bc
	or	a, a
	sbc	hl, bc
	pop	bc
	ex	de, hl
	sbc	hl, bc
	ex	de, hl
	jr	nc, 6$
	xor	a, a			; Y was the larger: the difference changes sign
	sub	a, l
	ld	l, a
	ld	a, #0
	sbc	a, h
	ld	h, a
	ld	a, #0
	sbc	a, e
	ld	e, a
	ld	a, #0
	sbc	a, d
	ld	d, a
	ld	a, (sign_x)
	cpl
	ld	(sign_x), a
6$:
	ld	a, d
	or	a, e
	or	a, h
	or	a, l
	jp	z, zero
	ld	a, (exp_x)
	ld	b, a
7$:
	bit	6, d			; the leading one back to bit 30
	jr	nz, 8$
	add	hl, hl
	rl	e
	rl	d
	dec	b
	jp	z, zero			; below the smallest normal number
	jr	7$
8$:
	ld	a, b
	ld	(exp_x), a
round:
	ld	a, l			; to nearest: the 7 bits below the last place against half
	and	a, #0x7F
	cp	a, #0x40
	jr	c, pack
	jr	nz, 10$
	bit	7, l			; just half: to the even neighbour
	jr	z, pack
10$:
	ld	a, l
	add	a, #0x80
	ld	l, a
	jr	nc, pack
	inc	h
	jr	nz, pack
	inc	e
	jr	nz, pack
	inc	d
	bit	7, d
	jr	z, pack
	srl	d			; carried out of the top: 2^31 becomes 2^30
	rr	e
	call	exp_up
;; DEHL (the leading one at bit 30), exp_x and sign_x as a float in HL and DE.
pack:
	add	hl, hl
	rl	e
	rl	d			; D, E, H: the 24 bits
	ld	a, (exp_x)
	ld	b, a
	ld	a, d
	add	a, a			; the leading one goes
	srl	b
	rra
	ld	c, a			; the exponent's low bit and 7 bits of fraction
	ld	a, (sign_x)
	and	a, #0x80
	or	a, b
	ld	d, e
	ld	e, h
	ld	h, a
	ld	l, c
	ret
zero:
	ld	hl, #0
	ld	d, h
	ld	e, l
	ret

;; One more power of two; at 255 the result is infinite (the caller's check reports OVERFLOW).
exp_up:
	ld	a, (exp_x)
	inc	a
	ld	(exp_x), a
	inc	a
	ret	nz
	pop	af			; out of the addition
infinity:
	ld	a, (sign_x)
	or	a, #0x7F
	ld	h, a
	ld	l, #0x80
	ld	de, #0
	ret

;; BC -> float: DEHL its 24 bits with the leading one at bit 30, A its exponent, carry its sign.
unpack:
	ld	a, (bc)
	ld	h, a
	inc	bc
	ld	a, (bc)
	ld	e, a
	inc	bc
	ld	a, (bc)
	ld	d, a
	inc	bc
	ld	a, (bc)
	ld	l, a
	ld	a, d
	rla
	ld	a, l
	rla
	push	af
	set	7, d
	ld	l, #0
	srl	d
	rr	e
	rr	h
	rr	l
	pop	af
	ret

___fslt::
	call	args
	call	compare
	inc	a			; 0xFF: a < b
	ld	a, #0
	ret	nz
	inc	a
	ret

___fseq::
	call	args
	call	compare
	or	a, a
	ld	a, #0
	ret	nz
	inc	a
	ret

;; i8 fac_cmp(const float *a): *a (HL) against the interpreter's fac, as compare.
_fac_cmp::
	call	key
	push	de
	push	bc
	ld	hl, #_fac
	jr	compare_keys

;; fa against fb: A = 0xFF below, 0 equal, 1 above.
compare:
	ld	hl, #fa
	call	key
	push	de
	push	bc
	ld	hl, #fb
compare_keys:
	call	key
	pop	hl
	ex	(sp), hl
	or	a, a
	sbc	hl, de
	pop	hl
	jr	nz, 1$
	sbc	hl, bc
	jr	nz, 1$
	xor	a, a
	ret
1$:
	ld	a, #1
	ret	nc
	ld	a, #0xFF
	ret

;; The float at HL as an unsigned number in DEBC that orders as the floats do: positive ones
;; above 0x80000000, negative ones below, 0 (of either sign) at 0x80000000.
key:
	ld	c, (hl)
	inc	hl
	ld	b, (hl)
	inc	hl
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	ld	a, e
	and	a, #0x80
	ld	l, a
	ld	a, d
	and	a, #0x7F
	or	a, l
	jr	nz, 1$
	ld	d, a
	ld	e, a
	ld	b, a
	ld	c, a
1$:
	bit	7, d
	jr	nz, 2$
	set	7, d
	ret
2$:
	ld	a, d
	cpl
	ld	d, a
	ld	a, e
	cpl
	ld	e, a
	ld	a, b
	cpl
	ld	b, a
	ld	a, c
	cpl
	ld	c, a
	ret

___fsdiv::
	call	args
fsdiv_fab:
	ld	hl, (fa + 2)
	ld	de, (fb + 2)
	ld	a, h
	xor	a, d
	ld	(sign_x), a		; bit 7: the quotient's sign
	ld	a, e
	rla
	ld	a, d
	rla				; A: b's exponent
	or	a, a
	jp	z, infinity		; by 0
	ld	c, a
	ld	a, l
	rla
	ld	a, h
	rla				; A: a's exponent
	or	a, a
	jp	z, zero
	sub	a, c			; the quotient's: a's - b's + 127, in 16 bits
	ld	l, a
	sbc	a, a
	ld	h, a
	ld	bc, #127
	add	hl, bc
	ld	(exp_q), hl
	ld	a, (fb + 2)
	or	a, #0x80
	ld	c, a
	ld	de, (fb)		; C, D, E: b's 24 bits
	ld	a, (fa + 2)
	or	a, #0x80
	ld	hl, (fa)		; A, H, L: a's
	sbc	hl, de			; (the OR cleared the carry)
	sbc	a, c			; the remainder: a - b, the leading one of the quotient
	jr	nc, 1$
	add	hl, hl			; a below b: 2a - b, one power of two less
	rla
	add	hl, de
	adc	a, c
	push	hl
	ld	hl, (exp_q)
	dec	hl
	ld	(exp_q), hl
	pop	hl
1$:
	ld	b, #1			; 23 bits below the leading one and one more for rounding,
	call	div_bits		; 8 at a time
	push	bc
	ld	b, #1
	call	div_bits
	push	bc
	ld	b, #1
	call	div_bits
	or	a, h
	or	a, l
	ld	c, a			; C: nonzero when a remainder is left
	ld	a, b
	cpl
	ld	e, a
	pop	hl
	ld	a, h
	cpl
	ld	d, a
	pop	hl
	ld	a, h
	cpl
	ld	l, a			; L, D, E: the 24 bits
	ld	a, (exp_q + 1)
	or	a, a
	jr	z, 2$
	rla
	jp	c, zero			; below the smallest normal number
	jp	infinity
2$:
	ld	a, (exp_q)
	inc	a
	jp	z, infinity
	dec	a
	srl	a			; the exponent's high 7 bits, its lowest above the 23
	rr	l
	rr	d
	rr	e			; carry: the bit below the last place
	ld	h, a
	jr	nc, 4$
	ld	a, c
	or	a, a
	jr	nz, 3$			; above half
	bit	0, e			; just half: to the even neighbour
	jr	z, 4$
3$:
	inc	e			; up, carrying into the exponent (to infinity past the
	jr	nz, 4$			; largest)
	inc	d
	jr	nz, 4$
	inc	l
	jr	nz, 4$
	inc	h
4$:
	ld	a, l
	rla
	ld	a, h
	rla
	or	a, a
	jp	z, zero			; below the smallest normal number
	ld	a, (sign_x)
	and	a, #0x80
	or	a, h
	ld	h, a
	ret

;; The quotient's next bits into B, one for each place B's lowest one is from the top (B 1: 8),
;; each inverted (the borrow): the remainder A, H, L (below C, D, E) doubled, less C, D, E when
;; it goes. Changes F, B.
div_bits:
	add	hl, hl
	rla
	jr	c, 2$			; 2^24 or more: it goes
	sbc	hl, de
	sbc	a, c
	jr	nc, 1$
	add	hl, de			; it does not: back (which carries)
	adc	a, c
1$:
	rl	b
	jr	nc, div_bits
	ret
2$:
	or	a, a
	sbc	hl, de
	sbc	a, c
	or	a, a
	jr	1$

_f_floor::
	ld	a, l
	rla
	ld	a, h
	rla				; A: the exponent
	cp	a, #127 + 23
	ret	nc			; no bits below the point
	cp	a, #127
	jr	c, below_one
	sub	a, #127 + 23
	neg				; A: the bits below the point, 1-23
	ld	c, #0			; C: those bits, ORed
	cp	a, #8
	jr	c, 3$
	ld	c, e
	ld	e, #0
	sub	a, #8
	cp	a, #8
	jr	c, 2$
	ld	b, a
	ld	a, d
	or	a, c
	ld	c, a
	ld	d, #0
	ld	a, b
	sub	a, #8
	ld	b, a
	ld	a, l
	call	chop
	ld	l, a
	jr	4$
2$:
	ld	b, a
	ld	a, d
	call	chop
	ld	d, a
	jr	4$
3$:
	ld	b, a
	ld	a, e
	call	chop
	ld	e, a
4$:
	bit	7, h			; a negative number with a fraction: one less
	ret	z
	ld	a, c
	or	a, a
	ret	z
	ld	bc, #0xBF80		; -1
	push	bc
	ld	bc, #0
	push	bc
	call	___fsadd
	ret
below_one:
	bit	7, h
	jp	z, zero
	or	a, a
	jp	z, zero			; -0
	ld	hl, #0xBF80		; -1
	ld	de, #0
	ret

;; A without its B (0-7) lowest bits, which are ORed into C. Changes B.
chop:
	push	de
	ld	d, a
	ld	e, #0xFF
	inc	b
	jr	2$
1$:
	sla	e
2$:
	djnz	1$
	ld	a, e
	cpl
	and	a, d
	or	a, c
	ld	c, a
	ld	a, d
	and	a, e
	pop	de
	ret

;; The compiler's (i16) of a float: to_int, for its callers never convert a value out of range.
___fs2sint::
_to_int::
	ld	a, l
	rla
	ld	a, h
	rla				; A: the exponent
	cp	a, #127
	jr	c, 3$			; below 1
	cp	a, #127 + 15
	jr	nc, 4$
	sub	a, #127 + 15
	neg				; A: how far the top 16 bits are from a whole number, 1-15
	ld	c, h			; the sign
	ld	b, a
	ld	a, l
	or	a, #0x80
	ld	h, a
	ld	l, d
	ld	a, b
	cp	a, #8
	jr	c, 1$
	ld	l, h
	ld	h, #0
	sub	a, #8
	jr	z, 2$
	ld	b, a
1$:
	srl	h
	rr	l
	djnz	1$
2$:
	bit	7, c
	jr	z, 5$
	xor	a, a
	sub	a, l
	ld	l, a
	sbc	a, a
	sub	a, h
	ld	h, a
5$:
	ex	de, hl
	ret
3$:
	ld	de, #0
	ret
4$:
	jr	nz, 6$			; only -32768 itself fits
	bit	7, h
	jr	z, 6$
	ld	a, l
	and	a, #0x7F
	or	a, d
	or	a, e
	jr	nz, 6$
	ld	de, #0x8000
	ret
6$:
	ld	a, #E_VALUE
	jp	_fail

___fsmul::
	call	args
fsmul_fab:
	ld	a, (fa + 3)		; the sign
	ld	b, a
	ld	a, (fb + 3)
	xor	a, b
	ld	(sign_x), a
	ld	hl, (fa + 2)		; the exponents: a's + b's - 127, one more below
	ld	a, l
	rla
	ld	a, h
	rla
	or	a, a
	jp	z, zero
	ld	c, a
	ld	hl, (fb + 2)
	ld	a, l
	rla
	ld	a, h
	rla
	or	a, a
	jp	z, zero
	ld	l, a
	ld	h, #0
	ld	b, h
	add	hl, bc
	ld	bc, #-127
	add	hl, bc
	ld	(exp_q), hl
	push	ix
	ld	ix, #fb
	ld	a, (fa + 2)
	or	a, #0x80
	ld	c, a
	ld	de, (fa)		; C, D, E: a's 24 bits
	xor	a, a
	ld	h, a
	ld	l, a			; A, H, L: the product's top 24 bits, as b's bytes come
	ld	b, 0 (ix)
	call	mul_byte
	ld	0 (ix), b		; the product's lowest 16 bits, for rounding
	ld	b, 1 (ix)
	call	mul_byte
	ld	1 (ix), b
	ld	b, 2 (ix)
	set	7, b
	call	mul_byte
	pop	ix
	ld	c, a			; C, H, L: the product's top 24 bits
	ld	d, b			; D: the next 8
	ld	a, (fb)
	ld	e, a
	ld	a, (fb + 1)
	or	a, e
	ld	e, a			; E: nonzero when any below them
	bit	7, c
	jr	nz, 4$
	sla	d			; below 2: one place up
	rl	l
	rl	h
	rl	c
	jr	5$
4$:
	call	exp_q_up
5$:
	bit	7, d			; to nearest: the bit below the last place
	jr	z, 7$
	ld	a, d
	and	a, #0x7F
	or	a, e
	jr	nz, 6$			; above half
	bit	0, l			; just half: to the even neighbour
	jr	z, 7$
6$:
	inc	l
	jr	nz, 7$
	inc	h
	jr	nz, 7$
	inc	c
	jr	nz, 7$
	ld	c, #0x80
	call	exp_q_up
7$:
	ld	de, (exp_q)
	bit	7, d
	jp	nz, zero		; below the smallest normal number
	ld	a, d
	or	a, a
	jp	nz, infinity
	ld	a, e
	or	a, a
	jp	z, zero
	inc	a
	jp	z, infinity
	ld	a, c
	add	a, a			; the leading one goes
	srl	e
	rra
	ld	b, a
	ld	a, (sign_x)
	and	a, #0x80
	or	a, e
	ld	d, h
	ld	e, l
	ld	h, a
	ld	l, b
	ret

;; A, H, L plus C, D, E times B, the sum moved down 8 places, the bits moved out of it into B:
;; one place a bit of B, from its lowest. Changes F, B and the other AF.
mul_byte:
	inc	b
	dec	b
	jr	z, 4$			; 0: only the move
	ex	af, af'
	ld	a, #8			; the count, in the other A
	ex	af, af'
	rr	b			; the first bit to the carry
1$:
	jr	nc, 2$
	add	hl, de
	adc	a, c
2$:
	rra				; the sum one place down, its lowest bit into B's top as
	rr	h			; the next bit of B comes out
	rr	l
	rr	b
	ex	af, af'
	dec	a
	jr	z, 3$
	ex	af, af'
	jp	1$
3$:
	ex	af, af'
	ret
4$:
	ld	b, l
	ld	l, h
	ld	h, a
	xor	a, a
	ret

exp_q_up:
	push	hl
	ld	hl, (exp_q)
	inc	hl
	ld	(exp_q), hl
	pop	hl
	ret
;; Whole numbers for reading decimal numbers exactly (numbers.c): two of _bn_n bytes, the lowest
;; first. They run from RAM with numbers.c.
	.area	_HOME
_bn_n::
	.ds	1
_bn_a::
	.ds	58
_bn_b::
	.ds	58
quot:
	.ds	4

;; void bn_mul(u8 *a, u16 k_c): a (HL) times k (E) plus c (D), by adding it k times a byte at a
;; time. Changes AF, BC, DE, HL.
_bn_mul::
	ld	a, (_bn_n)
	ld	b, a
	ld	c, e			; C: k
1$:
	push	bc
	ld	a, d			; D:A: the carry, plus k times the byte
	ld	d, #0
	ld	e, (hl)
2$:
	add	a, e
	jr	nc, 3$
	inc	d
3$:
	dec	c
	jr	nz, 2$
	ld	(hl), a
	inc	hl
	pop	bc
	djnz	1$
	ld	a, d
	or	a, a
	ret	z
	ld	(hl), a			; one byte longer
	ld	hl, #_bn_n
	inc	(hl)
	ret

;; void bn_shl1(u8 *a): a (HL) times 2. Changes AF, B, HL.
_bn_shl1::
	ld	a, (_bn_n)
	ld	b, a
	or	a, a
1$:
	rl	(hl)
	inc	hl
	djnz	1$
	ret	nc
	ld	(hl), #1
	ld	hl, #_bn_n
	inc	(hl)
	ret

;; u8 bn_sub(u8 *a, const u8 *b): when a (HL) is at least b (DE), a less b and 1; else 0 and a
;; as it was. Changes AF, BC, DE, HL.
_bn_sub::
	push	hl
	push	de
	ld	a, (_bn_n)
	ld	c, a
	ld	b, #0
	dec	bc
	add	hl, bc
	ex	de, hl
	add	hl, bc			; the top bytes: a's at DE, b's at HL
	ld	b, a
1$:
	ld	a, (de)
	cp	a, (hl)
	jr	nz, 2$
	dec	hl
	dec	de
	djnz	1$
2$:
	pop	hl			; b
	pop	de			; a
	ld	a, #0
	ret	c
	ld	a, (_bn_n)
	ld	b, a
	or	a, a
3$:
	ld	a, (de)
	sbc	a, (hl)
	ld	(de), a
	inc	de
	inc	hl
	djnz	3$
	ld	a, #1
	ret

;; u16 bn_bits(const u8 *a): how many bits a (HL) has, in DE. Changes AF, DE, HL.
_bn_bits::
	ld	a, (_bn_n)
	ld	e, a
	ld	d, #0
	add	hl, de
1$:
	dec	hl
	ld	a, (hl)
	or	a, a
	jr	nz, 2$
	dec	e
	jr	nz, 1$
	ret
2$:
	ex	de, hl			; the bytes times 8, less the top byte's leading zeros
	add	hl, hl
	add	hl, hl
	add	hl, hl
3$:
	add	a, a
	jr	c, 4$
	dec	hl
	jr	3$
4$:
	ex	de, hl
	ret

;; void bn_quot(void): bn_a over bn_b (a quotient from 2^25 to 2^27) into num_m, rounded to
;; nearest once: 27 bits, the lowest also set when a remainder is left, then to 24 bits.
;; bn_a is left with the remainder, shifted. Changes AF, BC, DE, HL.
_bn_quot::
	ld	hl, #0
	ld	(quot), hl
	ld	(quot + 2), hl
	ld	b, #27
1$:
	push	bc
	ld	hl, #_bn_a
	ld	de, #_bn_b
	call	_bn_sub
	rra				; the quotient's next bit
	ld	hl, #quot
	rl	(hl)
	inc	hl
	rl	(hl)
	inc	hl
	rl	(hl)
	inc	hl
	rl	(hl)
	ld	hl, #_bn_a
	call	_bn_shl1
	pop	bc
	djnz	1$
	ld	hl, #_bn_a
	call	_bn_bits
	ld	a, d
	or	a, e
	ld	hl, (quot)
	ld	bc, (quot + 2)
	jr	z, 2$
	set	0, l
2$:
	jp	_num_float

;; A small calculator for numbers.c: a straight run of float arithmetic as byte codes, a byte
;; or five for each operation where compiled C takes twenty. Slots fv[0-6] hold floats, acc is
;; the accumulator. A code is the operation (bits 7-3) and its operand (bits 2-0): slot 0-6, or
;; 7 for a float in the four bytes that follow the code.
;;   0 LD acc = operand     2 ADD acc += operand   4 MUL acc *= operand   6 RSUB acc = operand - acc
;;   1 ST operand = acc     3 SUB acc -= operand   5 DIV acc /= operand   7 RDIV acc = operand / acc
;; and 0xFC HALF acc = acc / 2 (by its exponent), 0xFD FLOOR acc = INT(acc), 0xFE POLY acc =
;; Horner's rule at acc over the count byte and as many floats that follow (highest power
;; first), 0xFF the end.
;; float fcalc(const u8 *code): runs the codes at HL; acc in HL and DE.
_fv::
	.ds	28
vpc:
	.ds	2
px:
	.ds	4
pcount:
	.ds	1

_fcalc::
	ld	(vpc), hl
next:
	ld	hl, (vpc)
	ld	a, (hl)
	inc	hl
	cp	a, #0xFC
	jr	nc, special
	ld	c, a
	and	a, #7
	cp	a, #7
	jr	nz, 1$
	ld	d, h			; the float that follows
	ld	e, l
	inc	hl
	inc	hl
	inc	hl
	inc	hl
	jr	2$
1$:
	add	a, a
	add	a, a
	add	a, #<_fv
	ld	e, a
	ld	a, #>_fv
	adc	a, #0
	ld	d, a
2$:
	ld	(vpc), hl		; DE: the operand
	ld	a, c
	and	a, #0xF8
	jr	nz, 3$
	ex	de, hl			; LD
	ld	de, #fa
	jr	10$
3$:
	cp	a, #0x08
	jr	nz, 4$
	ld	hl, #fa		; ST
10$:
	ld	bc, #4
	ldir
	jr	next
4$:
	call	binop
	jr	next
special:
	ld	(vpc), hl
	call	acc_in
	jr	nz, 6$
	ld	bc, #-1			; HALF
	push	bc
	call	_scale2
	jr	9$
6$:
	cp	a, #0xFD
	jr	nz, 7$
	call	_f_floor		; FLOOR
9$:
	call	acc_out
	jr	next
7$:
	ld	hl, (vpc)
	inc	a
	jp	z, acc_in		; the end
	ld	a, (hl)			; POLY
	inc	hl
	ld	(pcount), a
	push	hl
	ld	hl, #fa
	ld	de, #px
	ld	bc, #4
	ldir				; x
	pop	hl
	ld	de, #fa
	ld	c, #4
	ldir				; the first coefficient
8$:
	ld	(vpc), hl
	ld	hl, #pcount
	dec	(hl)
	jp	z, next
	ld	de, #px
	ld	a, #0x20		; MUL
	call	binop
	ld	de, (vpc)
	ld	a, #0x10		; ADD
	call	binop
	ld	hl, (vpc)
	ld	bc, #4
	add	hl, bc
	jr	8$

;; acc = acc op (DE), or (DE) op acc for RSUB and RDIV; the op in A. The accumulator is fa, the
;; routines' first argument, and the operand goes straight into fb, behind their own taking of
;; arguments.
binop:
	cp	a, #0x30
	jr	c, 1$
	push	af			; RSUB, RDIV: acc to fb, the operand to fa
	push	de
	ld	hl, #fa
	ld	de, #fb
	ld	bc, #4
	ldir
	pop	hl
	ld	de, #fa
	ld	c, #4
	ldir
	pop	af
	jr	3$
1$:
	ex	de, hl			; the operand to fb
	ld	de, #fb
	ld	bc, #4
	ldir
3$:
	ld	hl, #fsmul_fab
	cp	a, #0x20
	jr	z, 2$
	ld	hl, #fsdiv_fab
	cp	a, #0x28
	jr	z, 2$
	cp	a, #0x38
	jr	z, 2$
	ld	hl, #fsadd_fab
	cp	a, #0x10
	jr	z, 2$
	ld	a, (fb + 3)		; SUB, RSUB: a + -b
	xor	a, #0x80
	ld	(fb + 3), a
2$:
	call	jp_hl
acc_out:
	ld	(fa), de
	ld	(fa + 2), hl
	ret
jp_hl:
	jp	(hl)
acc_in:
	ld	de, (fa)
	ld	hl, (fa + 2)
	ret

E_OVERFLOW = 1

;; float scale2(float x, i16 n): x (HL, DE) times 2^n (on the stack, taken off) by moving its
;; exponent: 0 stays 0, below the smallest normal float is 0 (as sums and products are), past
;; the largest is an OVERFLOW. Changes AF, BC and the alternate BC, HL.
_scale2::
	exx
	pop	hl			; the return
	pop	bc			; n
	push	hl
	exx
	ld	a, l
	rla
	ld	a, h
	rla				; A: the exponent
	or	a, a
	ret	z
	exx
	ld	l, a
	ld	h, #0
	add	hl, bc
	ld	a, h
	or	a, a
	jr	nz, 2$			; below 0 or past 255
	ld	a, l
	exx
	or	a, a
	jr	z, 3$
	inc	a
	jr	z, 4$
	dec	a
	ld	c, a
	ld	a, l
	rla
	srl	c			; the new exponent's low bit
	rra
	ld	l, a
	ld	a, h
	and	a, #0x80
	or	a, c
	ld	h, a
	ret
2$:
	bit	7, h
	exx
	jr	z, 4$
3$:
	ld	hl, #0
	ld	d, h
	ld	e, l
	ret
4$:
	ld	a, #E_OVERFLOW
	jp	_fail

;; u8 bn_digits(const u8 *s, const u8 *end): the digits of the decimal number s-end (HL, DE:
;; digits, a point, an exponent of one or two digits after E) into bn_a as a whole number (bn_a
;; and bn_b cleared first, bn_n 1), with its power of ten in bn_e; returns how many digits it
;; kept. Leading zeros are not kept; past 120 digits the rest only count as not being 0, which a
;; 1 behind the kept ones stands for. Changes AF, BC, DE, HL.
_bn_e::
	.ds	2
dg_end:
	.ds	2
dg_nd:
	.ds	1
dg_dot:
	.ds	1
dg_cut:
	.ds	1

_bn_digits::
	ld	(dg_end), de
	push	hl
	ld	hl, #_bn_a
	ld	de, #_bn_a + 1
	ld	bc, #2 * 58 - 1
	ld	(hl), #0
	ldir
	ld	hl, #0
	ld	(_bn_e), hl
	ld	(dg_nd), hl		; and dg_dot
	ld	a, l
	ld	(dg_cut), a
	inc	a
	ld	(_bn_n), a
	pop	hl
1$:
	call	dg_at_end
	jr	z, 6$
	ld	a, (hl)
	cp	a, #0x45		; 'E'
	jr	z, 6$
	inc	hl
	cp	a, #0x2E		; '.'
	jr	nz, 2$
	ld	(dg_dot), a
	jr	1$
2$:
	sub	a, #0x30
	ld	c, a
	push	hl
	ld	a, (dg_nd)
	cp	a, #120
	jr	nc, 4$
	or	a, c
	jr	z, 3$			; a leading zero
	call	dg_keep
3$:
	ld	a, (dg_dot)		; kept behind the point: one power of ten down
	or	a, a
	ld	bc, #-1
	jr	nz, 5$
	jr	7$
4$:
	ld	a, (dg_cut)		; dropped: seen when not 0, and before the point one up
	or	a, c
	ld	(dg_cut), a
	ld	a, (dg_dot)
	or	a, a
	ld	bc, #1
	jr	nz, 7$
5$:
	call	dg_move
7$:
	pop	hl
	jr	1$
6$:
	push	hl
	ld	a, (dg_cut)
	or	a, a
	jr	z, 8$
	ld	c, #1			; a 1 behind the digits stands for the rest
	call	dg_keep
	ld	bc, #-1
	call	dg_move
8$:
	pop	hl
	call	dg_at_end
	jr	z, 11$
	inc	hl			; the exponent: E, a sign, its digits
	ld	a, (hl)
	ld	b, a			; B: the sign or the first digit
	cp	a, #0x30
	jr	nc, 9$
	inc	hl
9$:
	ld	c, #0			; C: the exponent
10$:
	call	dg_at_end
	jr	z, 12$
	ld	a, c
	add	a, a
	add	a, a
	add	a, c
	add	a, a
	add	a, (hl)
	sub	a, #0x30
	ld	c, a
	inc	hl
	jr	10$
12$:
	ld	a, b
	cp	a, #0x2D		; '-'
	ld	b, #0
	jr	nz, 13$
	xor	a, a
	sub	a, c
	ld	c, a
	dec	b			; BC: -C
13$:
	call	dg_move
11$:
	ld	a, (dg_nd)
	ret

;; Z when HL is at dg_end. Changes AF, DE.
dg_at_end:
	ld	de, (dg_end)
	ld	a, l
	cp	a, e
	ret	nz
	ld	a, h
	cp	a, d
	ret

;; bn_a times 10 plus C, one more digit kept. Changes AF, BC, DE, HL.
dg_keep:
	ld	hl, #dg_nd
	inc	(hl)
	ld	d, c
	ld	e, #10
	ld	hl, #_bn_a
	jp	_bn_mul

;; bn_e plus BC. Changes HL.
dg_move:
	ld	hl, (_bn_e)
	add	hl, bc
	ld	(_bn_e), hl
	ret

;; u8 bn_angle(float x): for x (HL, DE; positive, from pi/4 on) the remainder after whole
;; quarter turns, exactly enough: x = m 2^e, and m 2^(e+f-1) less pi/2 (with f - 1 fraction
;; bits, from 200) whenever it fits, doubling between, as in a long division, so that 64 bits stay
;; below the units of x's last bit. Returns the quarter turns (their lowest bits); leaves in
;; bn_a the remainder R doubled (f fraction bits, in bn_f), or, from pi/4 on, 2 (pi/2 - R) with
;; bn_neg 1 and one more quarter turn. Changes AF, BC, DE, HL.
pio2_bits:
	.db	0xC9, 0x0F, 0xDA, 0xA2, 0x21, 0x68, 0xC2, 0x34, 0xC4, 0xC6, 0x62, 0x8B, 0x80
	.db	0xDC, 0x1C, 0xD1, 0x29, 0x02, 0x4E, 0x08, 0x8A, 0x67, 0xCC, 0x74, 0x02
_bn_f::
	.ds	2
_bn_neg::
	.ds	1
ang_x:
	.ds	1

_bn_angle::
	push	de
	push	hl
	ld	a, l
	rla
	ld	a, h
	rla				; the exponent, e + 150
	ld	(ang_x), a
	sub	a, #54
	rrca
	rrca
	rrca
	and	a, #0x1F		; j = (e + 96) / 8 bytes of pi/2
	push	af
	ld	l, a
	ld	h, #0
	add	hl, hl
	add	hl, hl
	add	hl, hl
	ld	(_bn_f), hl		; f = 8 j
	ld	hl, #_bn_a
	ld	de, #_bn_a + 1
	ld	bc, #2 * 58 - 1
	ld	(hl), #0
	ldir
	pop	af
	ld	b, a
	inc	a
	ld	(_bn_n), a
	ld	hl, #_bn_b - 1
	ld	e, b
	ld	d, #0
	add	hl, de
	ex	de, hl			; DE: bn_b + j - 1, for the table's first byte
	ld	hl, #pio2_bits
1$:
	ld	a, (hl)
	ld	(de), a
	inc	hl
	dec	de
	djnz	1$
	pop	hl			; m: the fraction and its leading one
	pop	de
	ld	(_bn_a), de
	ld	a, l
	or	a, #0x80
	ld	(_bn_a + 2), a
	ld	a, (ang_x)		; e + f - 1 doublings
	ld	l, a
	ld	h, #0
	ld	bc, #-151
	add	hl, bc
	ld	bc, (_bn_f)
	add	hl, bc
	ld	c, #0			; C: the quarter turns
2$:
	push	hl
	call	ang_step
	pop	hl
	dec	hl
	ld	a, h
	or	a, l
	jr	nz, 2$
	push	bc
	call	ang_step		; 2R against pi/2
	pop	bc
	ld	(_bn_neg), a
	or	a, a
	jr	z, 3$
	inc	c
	push	bc
	ld	hl, #_bn_b		; pi/2 - (2R - pi/2) into bn_a
	ld	de, #_bn_a
	push	de
	push	hl
	call	_bn_sub
	pop	hl
	pop	de
	ld	bc, #58
	ldir
	pop	bc
3$:
	ld	a, c
	ret

;; bn_a doubled, less pi/2 (bn_b) when it fits; the bit into C, and A. Changes AF, DE, HL.
ang_step:
	push	bc
	ld	hl, #_bn_a
	call	_bn_shl1
	ld	hl, #_bn_a
	ld	de, #_bn_b
	call	_bn_sub
	pop	bc
	push	af
	rra
	rl	c
	pop	af
	ret

;; i16 bn_align(void): after bn_digits, the number bn_a 10^bn_e as a quotient: bn_a times 5^e
;; over 1, or bn_a over 5^-e, the two shifted so that it is from 2^25 to 2^27; into num_m
;; through bn_quot. Returns the shift s: the number is num_m 2^(e - s). Changes AF, BC, DE, HL.
al_sh:
	.ds	2

_bn_align::
	ld	a, #1
	ld	(_bn_b), a
	ld	hl, (_bn_e)
	ld	de, #_bn_a
	bit	7, h
	jr	z, 1$
	xor	a, a			; below 1: the divisor is 5^-e
	sub	a, l
	ld	l, a
	ld	de, #_bn_b
1$:
	ld	b, l
	inc	b
	jr	3$
2$:
	push	bc
	push	de
	ex	de, hl
	ld	de, #5
	call	_bn_mul
	pop	de
	pop	bc
3$:
	djnz	2$
	ld	hl, #_bn_b		; s = bits of b + 26 - bits of a
	call	_bn_bits
	push	de
	ld	hl, #_bn_a
	call	_bn_bits
	pop	hl
	ld	bc, #26
	add	hl, bc
	or	a, a
	sbc	hl, de
	ld	(al_sh), hl
	ld	de, #_bn_a		; a up s places, or b up -s
	bit	7, h
	jr	z, 4$
	xor	a, a
	sub	a, l
	ld	l, a
	sbc	a, a
	sub	a, h
	ld	h, a
	ld	de, #_bn_b
4$:
	call	al_shift
	ld	hl, #26			; and b 26 more
	ld	de, #_bn_b
	call	al_shift
	call	_bn_quot
	ld	de, (al_sh)
	ret

;; The number at DE times 2^HL. Changes AF, BC, HL.
al_shift:
	ld	a, h
	or	a, l
	ret	z
	push	hl
	push	de
	ex	de, hl
	call	_bn_shl1
	pop	de
	pop	hl
	dec	hl
	jr	al_shift

;; The compiler's conversions of whole numbers to floats, rounded to nearest (ties to even):
;;   float __ulong2fs(u32 v), __slong2fs(i32 v)   v in HL (high word) and DE
;;   float __sint2fs(i16 v)                       v in HL
;;   float __uchar2fs(u8 v)                       v in A
;; The result in HL and DE. Changes AF, BC, DE, HL.
___uchar2fs::
	ld	e, a
	ld	d, #0
	ld	h, d
	ld	l, d
	jr	___ulong2fs
___sint2fs::
	ex	de, hl
	ld	a, d
	rla
	sbc	a, a			; the sign, spread over the high word
	ld	h, a
	ld	l, a
___slong2fs::
	bit	7, h
	jr	z, ___ulong2fs
	xor	a, a			; -v, which fits the unsigned routine
	sub	a, e
	ld	e, a
	ld	a, #0
	sbc	a, d
	ld	d, a
	ld	a, #0
	sbc	a, l
	ld	l, a
	ld	a, #0
	sbc	a, h
	ld	h, a
	call	___ulong2fs
	set	7, h
	ret
___ulong2fs::
	ld	a, h
	or	a, l
	or	a, d
	or	a, e
	ret	z			; 0.0
	ld	c, #127 + 31		; the exponent while the top bit is bit 31
1$:
	ld	a, h			; whole bytes up first
	or	a, a
	jr	nz, 2$
	ld	h, l
	ld	l, d
	ld	d, e
	ld	e, a
	ld	a, c
	sub	a, #8
	ld	c, a
	jr	1$
2$:
	bit	7, h
	jr	nz, 3$
	sla	e
	rl	d
	adc	hl, hl
	dec	c
	jr	2$
3$:
	ld	a, e			; the bits below the 24 kept: round
	add	a, a
	jr	nc, 5$			; below a half
	jr	nz, 4$			; above a half
	bit	0, d			; a half: to even
	jr	z, 5$
4$:
	inc	d
	jr	nz, 5$
	inc	l
	jr	nz, 5$
	inc	h
	jr	nz, 5$
	ld	h, #0x80		; rounded up to the next power of two
	inc	c
5$:
	ld	e, d
	ld	d, l
	ld	a, h
	add	a, a			; the top bit goes, the exponent's lowest comes in
	srl	c
	rra
	ld	l, a
	ld	h, c
	ret

;; The compiler's a - b: a + (-b), b on the stack as for __fsadd.
___fssub::
	push	hl
	ld	hl, #7			; the sign byte of b, behind HL and the return address
	add	hl, sp
	ld	a, (hl)
	xor	a, #0x80
	ld	(hl), a
	pop	hl
	jp	___fsadd
