;; Start-up, interrupt handlers and the device ROM bridge of the free BASIC.
;;
;;   0x0000  reset: interrupts off, stack below the file slot buffers (0xF500)
;;   0x0034  mode 2 vector of the keyboard (I = 0, bus byte 26 -> I * 256 + 52)
;;   0x0038  mode 1 entry: not used, returns at once
;;   0x0066  NMI, every 20 ms: counts ticks (32 bits: _ticks, then _ticks_high), keeps every
;;           register
;;
;; The keyboard handler reads port 56 and queues the code of each press in a 256-byte ring;
;; codes with bit 7 clear are releases and are ignored. Ctrl-C (3) also raises _break_flag so a
;; running program can be stopped without reading the queue. A key is read only when the ring has
;; room for it: with the ring full the handler leaves it in the port (_kbd_pending, and bit 7 of
;; _break_flag for the statement loop's look) and it is read once there is room, so keys typed
;; ahead of a busy BASIC wait on the keyboard and none is lost. A press that comes while a key
;; still waits there means its sender gave that key up: the break check then reads the port once,
;; for a Ctrl-C only.

	.module crt0
	.globl	_main

	.area	_HEADER (ABS)
	.org	0x0000
	di
	ld	sp, #0xF500
	jp	init

	.org	0x0034
	.dw	kbd_isr

	.org	0x0038
	ei
	reti

	.org	0x0066
	push	af
	push	hl
	ld	hl, (_ticks)
	inc	hl
	ld	(_ticks), hl
	ld	a, h
	or	a, l
	jr	nz, 1$
	ld	hl, (_ticks_high)
	inc	hl
	ld	(_ticks_high), hl
1$:
	pop	hl
	pop	af
	retn

kbd_isr:
	push	af
	push	hl
	push	de
	ld	a, (_kbd_head)
	inc	a
	ld	hl, #_kbd_tail
	cp	a, (hl)
	jr	z, kbd_full		; no room: the key stays in the port
	call	kbd_read
	jr	kbd_done
kbd_full:
	ld	hl, #_kbd_pending	; bit 0: a key waits; bit 1: a press came over it
	ld	a, (hl)
	add	a, a
	or	a, #1
	ld	(hl), a
	ld	hl, #_break_flag
	set	7, (hl)
kbd_done:
	pop	de
	pop	hl
	pop	af
	ei
	reti
_header_end::				; the C code follows from 0x00B8 (see CMakeLists.txt)

	.area	_CODE
init:
	;; The routines that run from RAM at 0x4000, packed in the device ROM from 0x60C8.
	ld	hl, #0x60C8
	ld	de, #0x4000
	call	unpack_lz
	;; Zero the uninitialised globals, copy the initialised ones.
	ld	bc, #l__DATA
	ld	a, b
	or	a, c
	jr	z, 1$
	ld	hl, #s__DATA
	ld	(hl), #0
	dec	bc
	ld	a, b
	or	a, c
	jr	z, 1$
	ld	d, h
	ld	e, l
	inc	de
	ldir
1$:
	ld	bc, #l__INITIALIZER
	ld	a, b
	or	a, c
	jr	z, 2$
	ld	de, #s__INITIALIZED
	ld	hl, #s__INITIALIZER
	ldir
2$:
	xor	a, a
	ld	i, a
	im	2
	ei
	call	_main
3$:
	jr	3$

;; Unpacks the stream at HL to DE (the packer, rom/pack_lz.cpp, describes it): bits from the top
;; of a byte down, A holding those left above a marker bit; whole bytes between them. After a copy
;; or at the start, 0: gamma(count) literal bytes; after those, 0: gamma(length) bytes from the
;; last distance, kept in IX less 1. Either way 1: gamma(high part of distance - 1, plus 1; 256
;; ends), its low byte, gamma(length - 1). A copy takes what lies that far back, forward (back
;; past 0x4000 it reaches into this ROM). Changes AF, BC, DE, HL, IX.
unpack_lz:
	ld	a, #0x80		; no bits left
	ld	ix, #0			; the distance before the first copy: 1
4$:
	call	unpack_lz_bit		; after a copy
	jr	c, 6$
	call	unpack_lz_gamma
	ldir				; literals
	call	unpack_lz_bit		; after literals
	jr	c, 6$
	call	unpack_lz_gamma		; the length, from the last distance
5$:
	push	hl			; the source position kept
	push	bc
	push	ix
	pop	bc
	ld	h, d
	ld	l, e
	scf
	sbc	hl, bc			; where the copy starts
	pop	bc
	ldir
	pop	hl
	jr	4$
6$:
	call	unpack_lz_gamma		; the high part of a new distance, plus 1
	dec	b
	ret	z			; 256: the end
	ld	b, c
	dec	b
	ld	c, (hl)			; the low part
	inc	hl
	push	bc
	pop	ix
	call	unpack_lz_gamma
	inc	bc			; the length
	jr	5$

;; The value of an Elias gamma code into BC: from 1, while a 0 comes, twice it plus the next bit.
unpack_lz_gamma:
	ld	bc, #1
7$:
	call	unpack_lz_bit
	ret	c
	call	unpack_lz_bit
	rl	c
	rl	b
	jr	7$

;; The next bit into the carry.
unpack_lz_bit:
	add	a, a
	ret	nz
	ld	a, (hl)			; the next 8, the marker behind them
	inc	hl
	rla
	ret

	;; Ordering of segments for the linker.
	.area	_CODE
	.area	_INITIALIZER
	.area	_GSINIT
	.area	_GSFINAL
	.area	_HOME			; runs from RAM at 0x4000 (see CMakeLists.txt)
	.area	_DATA
	.area	_INITIALIZED
	.area	_BSEG
	.area	_BSS
	.area	_HEAP
_data_end::				; the first byte behind the BASIC's data: the stack's limit

	.area	_CODE

;; void dos_do(void): calls the device ROM entry 0x6000 + _dos_op with B = _dos_b,
;; DE = _dos_de, HL = _dos_hl; stores the returned A in _dos_a and HL in _dos_hl.
_dos_do::
	push	ix
	push	iy
	ld	hl, #dos_back
	push	hl
	ld	a, (_dos_op)
	ld	l, a
	ld	h, #0x60
	push	hl
	ld	a, (_dos_b)
	ld	b, a
	ld	de, (_dos_de)
	ld	hl, (_dos_hl)
	ret				; into the device ROM, which returns to dos_back
dos_back:
	ld	(_dos_a), a
	ld	(_dos_hl), hl
	pop	iy
	pop	ix
	ret

;; Reads port 56 and queues a press; the caller has made sure the ring has room. The port's key is
;; read, so none waits there any more. Uses A, D, E, H and L.
kbd_read:
	xor	a, a
	ld	(_kbd_pending), a
	ld	hl, #_break_flag
	res	7, (hl)
	in	a, (0x38)
	or	a, a
	ret	p			; release: bit 7 clear
	and	a, #0x7F
	cp	a, #3
	jr	nz, 1$
	ld	(hl), a
1$:
	ld	e, a
	ld	hl, #_kbd_head
	ld	a, (hl)
	inc	(hl)			; the code is stored before the interrupts come back on
	ld	hl, #_kbd_buf
	add	a, l
	ld	l, a
	adc	a, h
	sub	a, l
	ld	h, a
	ld	(hl), e
	ret

;; void kbd_take_pending(void): the key the handler left in port 56 for want of room goes into the
;; ring once there is room. With the ring still full it stays there, unread, unless another press
;; came over it: that one is read, and kept only as a Ctrl-C (the ring has no room for anything
;; else, and its sender did not wait for the key before it).
_kbd_take_pending::
	di
	ld	hl, #_kbd_pending
	ld	a, (hl)
	or	a, a
	jr	z, 2$
	ld	a, (_kbd_head)
	inc	a
	ld	hl, #_kbd_tail
	cp	a, (hl)
	jr	z, 1$
	call	kbd_read		; room now
	jr	2$
1$:
	ld	hl, #_kbd_pending
	bit	1, (hl)
	jr	z, 2$			; the key waits for room
	ld	(hl), #0
	ld	hl, #_break_flag
	res	7, (hl)
	in	a, (0x38)
	cp	a, #0x83		; Ctrl-C down
	jr	nz, 2$
	ld	(hl), #3
2$:
	ei
	ret

	.area	_DATA
_ticks::	.ds	2
_ticks_high::	.ds	2
_kbd_head::	.ds	1
_kbd_tail::	.ds	1
_kbd_buf::	.ds	256
_break_flag::	.ds	1
_kbd_pending::	.ds	1
_dos_op::	.ds	1
_dos_b::	.ds	1
_dos_a::	.ds	1
_dos_de::	.ds	2
_dos_hl::	.ds	2
