;; u8 pack(const char *s): the line editor's text packed for storing and running, in assembly
;; because it is the BASIC's largest loop over text. It runs from RAM with the library routines
;; (the _HOME area; see rom/CMakeLists.txt).
;;
;; Copies s into _packed: letters outside strings become capitals, keywords (the zero-ended
;; entries of _keywords, tokens 0x80 up in that order) become their token, '?' becomes PRINT
;; (0x80), and the rest of a REM (0x8C) or DATA (0x96) line stays as typed. Returns the length
;; in A (the zero byte at the end not counted). s comes in HL; changes AF, BC, DE, HL.

	.module pack
	.globl	_packed
	.globl	_keywords

T_PRINT = 0x80
T_REM = 0x8C
T_DATA = 0x96

	.area	_HOME

_pack::
	ld	de, #_packed
next:
	ld	a, (hl)
	or	a, a
	jr	z, done
	cp	a, #0x22		; '"': the string goes as it is, quotes included
	jr	nz, not_string
string:
	ld	(de), a
	inc	hl
	inc	de
	ld	a, (hl)
	or	a, a
	jr	z, next
	cp	a, #0x22
	jr	nz, string
	jr	plain_stored
not_string:
	cp	a, #0x3F		; '?'
	jr	nz, not_print
	ld	a, #T_PRINT
	jr	plain_stored
not_print:
	call	upper
	cp	a, #0x41		; 'A'
	jr	c, plain_stored
	cp	a, #0x5B		; past 'Z'
	jr	nc, plain_stored
	push	de			; look the letters up among the keywords
	ld	de, #_keywords
	ld	b, #0x80
keyword:
	ld	a, (de)
	or	a, a
	jr	z, no_keyword		; the end of the table
	push	hl
compare:
	ld	a, (de)
	or	a, a
	jr	z, match		; the whole keyword matched
	ld	c, a
	ld	a, (hl)
	call	upper
	cp	a, c
	jr	nz, mismatch
	inc	hl
	inc	de
	jr	compare
mismatch:
	pop	hl
skip:
	ld	a, (de)			; on behind this keyword's zero byte
	inc	de
	or	a, a
	jr	nz, skip
	inc	b
	jr	keyword
no_keyword:
	pop	de
	ld	a, (hl)
	call	upper
	jr	plain_stored
match:
	pop	af			; the text position before the keyword is not needed
	pop	de
	ld	a, b
	ld	(de), a
	inc	de
	cp	a, #T_REM
	jr	z, raw
	cp	a, #T_DATA
	jr	nz, next
raw:
	ld	a, (hl)			; the rest of the line as typed, the zero byte too
	ld	(de), a
	or	a, a
	jr	z, length
	inc	hl
	inc	de
	jr	raw
plain_stored:
	ld	(de), a
	inc	hl
	inc	de
	jr	next
done:
	ld	(de), a
length:
	ld	a, e
	sub	a, #<_packed
	ret

;; A as a capital when it is a small letter a-z.
upper:
	cp	a, #0x61
	ret	c
	cp	a, #0x7B
	ret	nc
	sub	a, #0x20
	ret

;; u16 parse_line_number(const char **s): the digits at *s as a line number, *s moved behind
;; them; 0 when there are none or the number is above 65535. s comes in HL, the number goes
;; out in DE; changes AF, BC, DE, HL.
_parse_line_number::
	push	hl			; the address of s
	ld	e, (hl)
	inc	hl
	ld	d, (hl)			; DE: the text
	ld	hl, #0			; the number so far
	ld	c, l			; C: nonzero once the number passed 65535
digit:
	ld	a, (de)
	sub	a, #0x30
	cp	a, #10
	jr	nc, number_end
	inc	de
	push	de
	ld	b, a
	ld	d, h
	ld	e, l
	add	hl, hl			; times 2
	call	c, too_big
	add	hl, hl			; times 4
	call	c, too_big
	add	hl, de			; times 5
	call	c, too_big
	add	hl, hl			; times 10
	call	c, too_big
	ld	e, b
	ld	d, #0
	add	hl, de			; plus the digit
	call	c, too_big
	pop	de
	jr	digit
number_end:
	ex	de, hl			; DE: the number, HL: the text after it
	inc	c
	dec	c
	jr	z, store_position
	ld	de, #0
store_position:
	ex	(sp), hl		; HL: the address of s
	pop	bc
	ld	(hl), c
	inc	hl
	ld	(hl), b
	ret
too_big:
	ld	c, #1
	ret
