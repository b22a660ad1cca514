;; void var_ref(void): the variable at tp (a name, maybe % or $, maybe subscripts) into vkind,
;; vaddr and vroom, tp behind it (see basic.c). Every statement and most operands look one up,
;; so numbers, integers and their arrays are found here in assembly; a string, or an array not
;; yet given its room, goes to var_ref_slow in basic.c, which reads the variable again from the
;; start. Runs from RAM (the _HOME area). Changes AF, BC, DE, HL.

	.module vars
	.globl	_peek_char
	.globl	_var_ref_slow
	.globl	_int_expr
	.globl	_to_int
	.globl	_accept
	.globl	_expect
	.globl	_fail
	.globl	__mulint
	.globl	_tp
	.globl	_nums
	.globl	_ints
	.globl	_arrays
	.globl	_vkind
	.globl	_vaddr
	.globl	_vroom

E_SYNTAX = 0
E_SUBSCRIPT = 16
NAMES = 286				; A-Z and A0-Z9

	.area	_HOME

_var_ref::
	ld	hl, (_tp)
	ld	a, (hl)
	cp	a, #0x20
	call	z, _peek_char
	push	hl			; where the name starts, for var_ref_slow
	sub	a, #0x41		; the name: A-Z times 11, then maybe a digit (plus it and 1)
	cp	a, #26
	jp	nc, syntax
	inc	hl
	ex	de, hl
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
	jr	nc, 9$
	inc	a
	ld	c, a
	add	hl, bc
	inc	de
	ld	a, (de)
	sub	a, #0x30
9$:
	sub	a, #0x11		; a letter behind it: a word the BASIC does not know
	cp	a, #26
	jp	c, syntax
	ex	de, hl			; DE: the name; HL: tp behind it
	ld	c, #0			; C: the kind
	ld	a, (hl)
	cp	a, #0x25		; '%'
	jr	nz, 1$
	inc	c
	inc	hl
	ld	a, (hl)
	jr	2$
1$:
	cp	a, #0x24		; '$': a string
	jr	z, slow
2$:
	cp	a, #0x28		; '('
	jr	z, array
	ld	(_tp), hl
	pop	hl
	ld	a, c
	ld	(_vkind), a
	ex	de, hl
	add	hl, hl			; an integer: ints + 2 * name
	ld	de, #_ints
	dec	a
	jr	z, 3$
	add	hl, hl			; a number: nums + 4 * name
	ld	de, #_nums
3$:
	add	hl, de
	ld	(_vaddr), hl
	ret
slow:
	pop	hl
	ld	(_tp), hl
	jp	_var_ref_slow
array:
	inc	hl
	ld	(_tp), hl		; behind '('
	ex	de, hl
	add	hl, hl			; HL: arrays[kind] + 2 * name
	ld	de, #_arrays
	add	hl, de
	ld	de, #NAMES * 2
	ld	a, c
	or	a, a
	jr	z, 4$
	add	hl, de
4$:
	ld	a, (hl)
	inc	hl
	or	a, (hl)
	jr	nz, 5$
	pop	hl			; no array yet: var_ref_slow gives it its room
	ld	(_tp), hl
	jp	_var_ref_slow
5$:
	pop	de			; the start is no longer needed
	push	bc			; the kind
	push	hl			; where the array's address is (its high byte)
	call	subscript		; the first subscript
	push	de
	ld	a, #0x2C		; ','
	call	_accept
	ld	de, #0
	or	a, a
	jr	z, 6$
	call	subscript		; the second
6$:
	push	de
	ld	a, #0x29		; ')'
	call	_expect
	pop	bc			; BC: the second subscript
	pop	de			; DE: the first
	pop	hl
	ld	a, (hl)			; the array (the subscripts may not move it, but read it again)
	dec	hl
	ld	l, (hl)
	ld	h, a			; HL: the array: n1, n2, room, then the elements
	push	hl
	ld	a, e			; the first below n1 (unsigned: a negative one is far above)
	sub	a, (hl)
	inc	hl
	ld	a, d
	sbc	a, (hl)
	jr	nc, bad
	inc	hl
	ld	a, c			; the second below n2
	sub	a, (hl)
	inc	hl
	ld	a, b
	sbc	a, (hl)
	jr	nc, bad
	inc	hl
	ld	a, (hl)
	ld	(_vroom), a
	dec	hl
	ld	a, (hl)			; n2 = 1: one subscript, no product
	dec	hl
	ld	l, (hl)
	ld	h, a
	dec	l
	or	a, l
	jr	z, 7$
	inc	l
	push	bc
	ex	de, hl
	call	__mulint		; DE: first * n2
	pop	hl
	add	hl, de			; plus the second
	ex	de, hl
7$:
	ex	de, hl			; HL: the element's number
	pop	de			; the array
	pop	bc			; C: the kind
	ld	a, c
	ld	(_vkind), a
	add	hl, hl			; two bytes an integer, four a number
	or	a, a
	jr	nz, 8$
	add	hl, hl
8$:
	add	hl, de
	ld	de, #5
	add	hl, de
	ld	(_vaddr), hl
	ret
bad:
	ld	a, #E_SUBSCRIPT
	jp	_fail
syntax:
	ld	a, #E_SYNTAX
	jp	_fail

;; A subscript into DE, as int_expr reads it; one of a single letter (a number variable)
;; followed by ')' or ',' is taken from the variable here.
subscript:
	ld	hl, (_tp)
	ld	a, (hl)
	sub	a, #0x41
	cp	a, #26
	jp	nc, _int_expr
	ld	c, a
	inc	hl
	ld	a, (hl)
	cp	a, #0x29		; ')'
	jr	z, 1$
	cp	a, #0x2C		; ','
	jp	nz, _int_expr
1$:
	ld	(_tp), hl
	ld	l, c			; nums + 4 * 11 * letter
	ld	h, #0
	add	hl, hl
	add	hl, hl
	ld	d, h
	ld	e, l
	add	hl, hl
	add	hl, hl
	add	hl, hl
	add	hl, de
	add	hl, de
	add	hl, de
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
	jp	_to_int			; whole numbers of 16 bits, else ILLEGAL VALUE
