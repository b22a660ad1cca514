;; u8 next_whole(for_t *f): NEXT of a loop that counts in integers (see for_t in basic.c), in
;; assembly because it is the interpreter's innermost loop. f comes in HL. Returns in A:
;;   0  the loop is done (the variable keeps its last value)
;;   1  round again: the variable holds its next value (a number variable its count as a
;;      float, whose bits are kept in f->bits)
;;   2  not counting in integers (f->whole clear, or cleared here because the program changed
;;      the number variable): the caller goes on in floating point
;; Changes AF, BC, DE, HL.

	.module loop

F_KIND = 0
F_WHOLE = 1
F_ADDR = 2
F_COUNT = 16
F_ISTEP = 18
F_ILIMIT = 20
F_BITS = 22

	.area	_CODE

_next_whole::
	push	ix
	push	hl
	pop	ix
	ld	a, F_WHOLE(ix)
	or	a, a
	jr	z, floating
	ld	l, F_ADDR(ix)
	ld	h, F_ADDR+1(ix)
	ld	a, F_KIND(ix)
	or	a, a
	jr	nz, integer
	ld	a, (hl)			; a number: still what NEXT put there?
	cp	a, F_BITS(ix)
	jr	nz, changed
	inc	hl
	ld	a, (hl)
	cp	a, F_BITS+1(ix)
	jr	nz, changed
	inc	hl
	ld	a, (hl)
	cp	a, F_BITS+2(ix)
	jr	nz, changed
	inc	hl
	ld	a, (hl)
	cp	a, F_BITS+3(ix)
	jr	nz, changed
	ld	e, F_COUNT(ix)
	ld	d, F_COUNT+1(ix)
	jr	step
changed:
	ld	F_WHOLE(ix), #0
floating:
	ld	a, #2
	jp	back
integer:
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
step:
	ld	l, F_ISTEP(ix)
	ld	h, F_ISTEP+1(ix)
	ld	c, h			; bit 7: the step's sign
	or	a, a
	adc	hl, de			; the next value; past 16 bits it is past any limit
	jp	pe, done
	ex	de, hl			; DE: the next value
	ld	a, F_ILIMIT+1(ix)	; compare as unsigned numbers with the sign bits flipped
	xor	a, #0x80
	ld	h, a
	ld	l, F_ILIMIT(ix)
	ld	a, d
	xor	a, #0x80
	ld	b, a
	ld	a, l
	sub	a, e
	ld	a, h
	sbc	a, b			; carry: limit < next; A | (L - E): zero when equal
	jr	c, above
	bit	7, c			; next <= limit
	jr	z, round
	ld	a, l			; a negative step ends below the limit: equal goes on
	cp	a, e
	jr	nz, done
	ld	a, h
	cp	a, b
	jr	nz, done
	jr	round
above:
	bit	7, c			; next > limit: ends a positive step, goes on for a negative one
	jr	z, done
round:
	ld	a, F_KIND(ix)
	or	a, a
	jr	z, number
	ld	l, F_ADDR(ix)
	ld	h, F_ADDR+1(ix)
	ld	(hl), e
	inc	hl
	ld	(hl), d
	ld	a, #1
	jp	back
number:
	ld	F_COUNT(ix), e
	ld	F_COUNT+1(ix), d
	ex	de, hl			; HL: the count
	ld	a, h			; the count as a float: bytes B, C, D, E from low to high
	or	a, l
	ld	b, a
	ld	c, a
	ld	d, a
	ld	e, a
	jr	z, 9$			; 0: all zero
	ld	b, #0
	ld	e, b			; E: the sign
	bit	7, h
	jr	z, 7$
	ld	e, #0x80
	xor	a, a
	sub	a, l
	ld	l, a
	sbc	a, a
	sub	a, h
	ld	h, a
7$:
	ld	a, #127 + 16		; the exponent once the leading one is shifted out of 16 bits
8$:
	dec	a
	add	hl, hl
	jr	nc, 8$
	srl	a			; the exponent's low bit goes over the 16 bits of fraction
	rr	h
	rr	l
	rr	b			; B: 0 or the fraction's last bit
	or	a, e
	ld	e, a
	ld	d, h
	ld	c, l
9$:
	ld	l, F_ADDR(ix)
	ld	h, F_ADDR+1(ix)
	ld	(hl), b
	inc	hl
	ld	(hl), c
	inc	hl
	ld	(hl), d
	inc	hl
	ld	(hl), e
	ld	F_BITS(ix), b
	ld	F_BITS+1(ix), c
	ld	F_BITS+2(ix), d
	ld	F_BITS+3(ix), e
	ld	a, #1
	jp	back
done:
	xor	a, a
back:
	pop	ix
	ret
