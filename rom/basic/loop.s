;; u8 next_whole(for_t *f): NEXT of a loop that counts in integers (see for_t in basic.c), in
;; assembly because it is the interpreter's innermost loop. f comes in HL. Returns in A:
;;   0  the loop is done (the variable keeps its last value)
;;   1  round again: the variable holds its next value (a number variable its count as a
;;      float, whose bits are kept in f->bits)
;;   2  not counting in integers (f->whole clear, or cleared here because the program changed
;;      the number variable): the caller goes on in floating point
;; Changes AF, BC, DE, HL.

	.module loop
	.globl	_for_top
	.globl	_fors
	.globl	_vaddr
	.globl	_vkind
	.globl	_curline
	.globl	_tp
	.globl	_at_end
	.globl	_accept
	.globl	_var_ref
	.globl	_step_float
	.globl	_fail
	.globl	_expect
	.globl	_num_expr_quick
	.globl	_to_int
	.globl	_fac
	.globl	_for_tokens
	.globl	_peek_char
	.globl	___sint2fs

F_KIND = 0
F_WHOLE = 1
F_ADDR = 2
F_COUNT = 16
F_ISTEP = 18
F_ILIMIT = 20
F_BITS = 22

	.area	_CODE

_next_whole::
	inc	hl
	ld	a, (hl)			; f->whole
	or	a, a
	jr	z, floating
	dec	hl
	push	hl			; f
	ld	c, (hl)			; C: the kind
	inc	hl
	inc	hl
	ld	e, (hl)
	inc	hl
	ld	d, (hl)			; DE: the variable
	ld	a, c
	or	a, a
	jr	nz, integer
	ld	bc, #F_BITS - F_ADDR - 1
	add	hl, bc
	ld	a, (de)			; a number: still what NEXT put there?
	cp	a, (hl)
	jr	nz, changed
	inc	de
	inc	hl
	ld	a, (de)
	cp	a, (hl)
	jr	nz, changed
	inc	de
	inc	hl
	ld	a, (de)
	cp	a, (hl)
	jr	nz, changed
	inc	de
	inc	hl
	ld	a, (de)
	cp	a, (hl)
	jr	nz, changed
	ld	bc, #F_COUNT - F_BITS - 3
	add	hl, bc
	ld	e, (hl)
	inc	hl
	ld	d, (hl)			; DE: the count
	jr	step
changed:
	pop	hl
	inc	hl
	ld	(hl), #0		; f->whole: no longer
floating:
	ld	a, #2
	ret
integer:
	ex	de, hl
	ld	a, (hl)
	inc	hl
	ld	h, (hl)
	ld	l, a
	ex	de, hl			; DE: the value
	ld	bc, #F_COUNT + 1 - F_ADDR - 1
	add	hl, bc
step:					; DE: the value, HL: f + F_COUNT + 1
	inc	hl
	ld	c, (hl)
	inc	hl
	ld	b, (hl)			; BC: the step
	inc	hl
	ld	a, (hl)
	inc	hl
	ld	h, (hl)
	ld	l, a
	push	hl			; the limit
	ex	de, hl
	or	a, a
	adc	hl, bc			; HL: the next value; past 16 bits it is past any limit
	pop	de
	jp	pe, done
	push	hl
	bit	7, b
	jr	nz, 2$
	ex	de, hl			; a step of 0 or up: on while limit - next >= 0
2$:					; down: on while next - limit >= 0
	or	a, a
	sbc	hl, de
	jp	po, 3$
	ld	a, h			; the difference overflowed: its sign is the other way
	xor	a, #0x80
	ld	h, a
3$:
	pop	de			; DE: the next value
	bit	7, h
	jr	nz, done
	pop	hl			; f
	ld	a, (hl)
	inc	hl
	inc	hl
	ld	c, (hl)
	inc	hl
	ld	b, (hl)			; BC: the variable
	or	a, a
	jr	z, number
	ld	a, e
	ld	(bc), a
	inc	bc
	ld	a, d
	ld	(bc), a
	ld	a, #1
	ret
done:
	pop	hl
	xor	a, a
	ret
number:
	push	bc
	ld	bc, #F_COUNT - F_ADDR - 1
	add	hl, bc
	ld	(hl), e
	inc	hl
	ld	(hl), d
	ld	bc, #F_BITS - F_COUNT - 1
	add	hl, bc
	push	hl			; where the bits are kept
	ex	de, hl			; HL: the count
	ld	a, l			; 0-15: from the table
	and	a, #0xF0
	or	a, h
	jr	nz, 6$
	ld	b, a
	ld	c, a
	ld	a, l
	add	a, a
	add	a, #<small
	ld	l, a
	ld	a, h
	adc	a, #>small
	ld	h, a
	ld	d, (hl)
	inc	hl
	ld	e, (hl)
	jr	9$
6$:
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
	inc	h
	dec	h
	jr	nz, 8$
	ld	h, l			; below 256: a byte at once
	ld	l, b
	ld	a, #127 + 8
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
	pop	hl
	ld	(hl), b
	inc	hl
	ld	(hl), c
	inc	hl
	ld	(hl), d
	inc	hl
	ld	(hl), e
	pop	hl
	ld	(hl), b
	inc	hl
	ld	(hl), c
	inc	hl
	ld	(hl), d
	inc	hl
	ld	(hl), e
	ld	a, #1
	ret

small:					; the high words of 0-15 as floats (the low ones are 0)
	.dw	0x0000, 0x3F80, 0x4000, 0x4040, 0x4080, 0x40A0, 0x40C0, 0x40E0
	.dw	0x4100, 0x4110, 0x4120, 0x4130, 0x4140, 0x4150, 0x4160, 0x4170

;; void do_next(void): NEXT at tp, with or without variables (see basic.c). Changes AF, BC,
;; DE, HL.
F_SIZE = 26
F_LINE = 12
E_NEXT = 5

_do_next::
	ld	a, (_for_top)
	ld	b, a			; B: the loops open
	ld	hl, (_tp)
	ld	a, (hl)
	cp	a, #0x20
	call	z, _peek_char
	ld	c, a			; C: what follows NEXT
	ld	a, (top_count)		; HL: behind the innermost loop, fors + 26 * B
	cp	a, b
	ld	hl, (top_end)
	jr	z, 15$
	ld	l, b
	ld	h, #0
	ld	d, h
	ld	e, l
	add	hl, hl
	add	hl, de
	add	hl, hl
	add	hl, hl
	add	hl, de
	add	hl, hl
	ld	de, #_fors
	add	hl, de
	ld	(top_end), hl
	ld	a, b
	ld	(top_count), a
15$:
	ld	de, #-F_SIZE
	ld	a, c			; the statement's end: no variable
	or	a, a
	jr	z, 2$
	cp	a, #0x3A		; ':'
	jr	z, 2$
	push	hl			; a variable: its loop, leaving those inside it
	ex	de, hl
	ld	hl, (_tp)		; the NEXT read last in the program names the same one
	ld	a, (_next_at)
	cp	a, l
	jr	nz, 13$
	ld	a, (_next_at + 1)
	cp	a, h
	jr	nz, 13$
	ld	hl, (_next_addr)
	ld	(_vaddr), hl
	ld	hl, (_next_after)
	ld	(_tp), hl
	jr	14$
13$:
	push	hl
	push	bc
	call	_var_ref
	pop	bc
	pop	de			; where the name starts
	ld	hl, (_curline)		; a running program's, without subscripts: remembered
	ld	a, h
	or	a, l
	jr	z, 14$
	ld	hl, (_tp)
	or	a, a
	sbc	hl, de
	ld	a, l
	cp	a, #4
	jr	nc, 14$
	ld	(_next_at), de
	ld	hl, (_tp)
	ld	(_next_after), hl
	ld	hl, (_vaddr)
	ld	(_next_addr), hl
14$:
	pop	hl
1$:
	ld	a, b
	or	a, a
	jr	z, no_for
	ld	de, #-F_SIZE
	add	hl, de			; HL: fors[B - 1]
	inc	hl
	inc	hl
	ld	a, (_vaddr)
	cp	a, (hl)
	inc	hl
	jr	nz, 11$
	ld	a, (_vaddr + 1)
	cp	a, (hl)
	jr	z, 12$
11$:
	dec	hl
	dec	hl
	dec	hl
	dec	b
	jr	1$
12$:
	dec	hl
	dec	hl
	dec	hl
	jr	3$
2$:
	ld	a, b			; no variable: the innermost loop
	or	a, a
	jr	z, no_for
	add	hl, de
3$:					; HL: the loop, B: its number + 1
	ld	a, b
	ld	(_for_top), a
	dec	b
	push	bc
	push	hl
	ld	a, (hl)
	ld	(_vkind), a
	inc	hl
	inc	hl
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	ld	(_vaddr), de
	pop	hl
	push	hl
	call	_next_whole
	cp	a, #2
	jr	nz, 4$
	pop	hl
	push	hl
	call	_step_float
4$:
	pop	hl
	pop	bc
	or	a, a
	jr	z, 5$
	ld	de, #F_LINE		; round again: behind its FOR
	add	hl, de
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	inc	hl
	ld	(_curline), de
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	ld	(_tp), de
	ret
5$:
	ld	a, b			; done: on behind NEXT, or with the next variable
	ld	(_for_top), a
	ld	a, #0x2C		; ','
	call	_accept
	or	a, a
	jp	nz, _do_next
	ret
no_for:
	ld	a, #E_NEXT
	jp	_fail

;; void do_for(void): FOR v = start TO limit [STEP step] at tp: the start into the variable, a
;; loop of the same variable and those inside it ended, the loop record filled (see for_t in
;; basic.c). Changes AF, BC, DE, HL.
E_FORS = 10
E_TYPE = 15
FOR_DEPTH = 112

_do_for::
	call	_var_ref
	ld	a, (_vkind)
	cp	a, #2
	ld	a, #E_TYPE
	jp	z, _fail
	ld	hl, (_vaddr)
	ld	(for_addr), hl
	ld	a, (_vkind)
	ld	(for_kind), a
	ld	a, #0x3D		; '='
	call	_expect
	call	_num_expr_quick
	ld	hl, (for_addr)		; the start into the variable
	ld	a, (for_kind)
	or	a, a
	jr	nz, 1$
	ex	de, hl
	ld	hl, #_fac
	ld	bc, #4
	ldir
	jr	2$
1$:
	ld	de, (_fac)
	ld	hl, (_fac + 2)
	call	_to_int
	ld	hl, (for_addr)
	ld	(hl), e
	inc	hl
	ld	(hl), d
2$:
	ld	a, (_for_tokens)	; TO
	call	_expect
	call	_num_expr_quick
	ld	hl, (_fac)
	ld	(for_limit), hl
	ld	hl, (_fac + 2)
	ld	(for_limit + 2), hl
	ld	hl, #0			; STEP 1 unless given
	ld	(for_step), hl
	ld	hl, #0x3F80
	ld	(for_step + 2), hl
	ld	a, (_for_tokens + 1)	; STEP
	call	_accept
	or	a, a
	jr	z, 3$
	call	_num_expr_quick
	ld	hl, (_fac)
	ld	(for_step), hl
	ld	hl, (_fac + 2)
	ld	(for_step + 2), hl
3$:
	ld	a, (_for_top)		; a loop of this variable ends, with those inside it
	ld	b, a
	ld	c, #0
	ld	hl, #_fors + F_ADDR
	ld	de, (for_addr)
4$:
	ld	a, c
	cp	a, b
	jr	nc, 6$
	ld	a, (hl)
	cp	a, e
	jr	nz, 5$
	inc	hl
	ld	a, (hl)
	dec	hl
	cp	a, d
	jr	nz, 5$
	ld	a, c
	ld	(_for_top), a
	jr	6$
5$:
	ld	a, l
	add	a, #F_SIZE
	ld	l, a
	jr	nc, 7$
	inc	h
7$:
	inc	c
	jr	4$
6$:
	ld	a, (_for_top)
	cp	a, #FOR_DEPTH
	ld	a, #E_FORS
	jp	z, _fail
	ld	a, (_for_top)		; the record: fors[for_top++]
	ld	l, a
	inc	a
	ld	(_for_top), a
	ld	h, #0
	ld	d, h
	ld	e, l
	add	hl, hl
	add	hl, de
	add	hl, hl
	add	hl, hl
	add	hl, de
	add	hl, hl
	ld	de, #_fors
	add	hl, de
	ld	(for_record), hl
	ld	hl, (for_addr)		; the variable's value into fac, as NEXT finds it
	ld	(_vaddr), hl
	ld	a, (for_kind)
	ld	(_vkind), a
	or	a, a
	jr	nz, 8$
	ld	de, #_fac
	ld	bc, #4
	ldir
	jr	9$
8$:
	ld	a, (hl)
	inc	hl
	ld	h, (hl)
	ld	l, a
	call	___sint2fs
	ld	(_fac), de
	ld	(_fac + 2), hl
9$:
	ld	hl, (for_record)
	ld	a, (for_kind)
	ld	(hl), a			; kind
	inc	hl
	ld	(hl), #0		; whole: not yet
	inc	hl
	ld	de, (for_addr)
	ld	(hl), e
	inc	hl
	ld	(hl), d
	inc	hl
	ex	de, hl
	ld	hl, #for_limit		; limit and step
	ld	bc, #8
	ldir
	ex	de, hl
	ld	de, (_curline)
	ld	(hl), e
	inc	hl
	ld	(hl), d
	inc	hl
	ld	de, (_tp)
	ld	(hl), e
	inc	hl
	ld	(hl), d
	ld	hl, #_fac		; start, step and limit whole numbers of 16 bits: counted
	call	_whole_int
	or	a, a
	jr	z, 10$
	ld	bc, #F_COUNT
	call	put_whole
	ld	hl, #for_step
	call	_whole_int
	or	a, a
	jr	z, 10$
	ld	bc, #F_ISTEP
	call	put_whole
	ld	hl, #for_limit
	call	_whole_int
	or	a, a
	jr	z, 10$
	ld	bc, #F_ILIMIT
	call	put_whole
	ld	hl, (for_record)
	ld	bc, #F_BITS
	add	hl, bc
	ex	de, hl
	ld	hl, (for_addr)
	ld	bc, #4
	ldir
	ld	hl, (for_record)
	inc	hl
	ld	(hl), #1		; whole
10$:
	ld	hl, (_curline)		; at the line's end: the loop goes round from the next line
	ld	a, h
	or	a, l
	ret	z
	call	_peek_char
	or	a, a
	ret	nz
	ld	hl, (_curline)
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	dec	hl
	add	hl, de
	ld	a, (hl)
	inc	hl
	or	a, (hl)
	dec	hl
	ret	z
	ex	de, hl			; DE: the next line
	ld	hl, (for_record)
	ld	bc, #F_LINE
	add	hl, bc
	ld	(hl), e
	inc	hl
	ld	(hl), d
	inc	hl
	ex	de, hl
	ld	bc, #4
	add	hl, bc
	ex	de, hl
	ld	(hl), e
	inc	hl
	ld	(hl), d
	ret

;; whole_value into the loop record at offset BC.
put_whole:
	ld	hl, (for_record)
	add	hl, bc
	ld	de, (_whole_value)
	ld	(hl), e
	inc	hl
	ld	(hl), d
	ret

;; u8 whole_int(const float *x): 1 when *x (HL) is a whole number from -32767 to 32767, which
;; goes to whole_value; else 0. A number with a zero exponent counts as 0. Changes AF, BC, DE,
;; HL.
_whole_int::
	ld	e, (hl)
	inc	hl
	ld	d, (hl)
	inc	hl
	ld	c, (hl)
	inc	hl
	ld	a, (hl)
	push	af			; the sign
	ld	b, a
	ld	a, c
	rla
	ld	a, b
	rla				; A: the exponent
	ld	hl, #0
	or	a, a
	jr	z, 2$
	sub	a, #127
	jr	c, 3$			; below 1
	cp	a, #15
	jr	nc, 3$			; 32768 and above
	ld	b, a
	inc	b			; B: the bits before the point
	ld	a, e			; 9 or more bits go behind the point: the low byte must be 0
	or	a, a
	jr	nz, 3$
	ld	a, c
	or	a, #0x80
	ld	h, a
	ld	l, d			; HL: the fraction's top 16 bits, the leading one included
	ld	de, #0
1$:
	add	hl, hl			; the bits before the point go to DE
	rl	e
	rl	d
	djnz	1$
	ld	a, h			; none may be left behind it
	or	a, l
	jr	nz, 3$
	ex	de, hl
2$:
	pop	af
	or	a, a
	jp	p, 4$
	xor	a, a
	sub	a, l
	ld	l, a
	sbc	a, a
	sub	a, h
	ld	h, a
4$:
	ld	(_whole_value), hl
	ld	a, #1
	ret
3$:
	pop	af
	xor	a, a
	ret

	.area	_DATA
_whole_value::
	.ds	2
_next_at::				; where the NEXT read last names its variable (0: none),
	.ds	2			; what follows the name, and the variable
_next_after:
	.ds	2
_next_addr:
	.ds	2
for_addr:				; FOR's variable, its kind, its record, its limit and step
	.ds	2
for_kind:
	.ds	1
for_record:
	.ds	2
for_limit:
	.ds	4
for_step:				; behind for_limit: both are copied at once
	.ds	4
top_count:				; fors + 26 * top_count, worked out last
	.ds	1
top_end:
	.ds	2
