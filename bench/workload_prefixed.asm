; Benchmark workload with a BASIC interpreter's mix of prefixed instructions, repeated REPEAT
; times, then HALT. About a fifth of the executed instructions carry a prefix: CB about 11 %
; (shifts and rotates in multiply, divide and CRC loops, BIT tests), DD/FD about 7 % (record
; fields through IX and IY), ED about 3 % (ADC HL / SBC HL, CPI, short LDIR and CPIR), DD CB / FD CB
; about 1 %. Documented instructions only; no I/O, no interrupts, no R.
;
;   0x0000-        code and read-only tables
;   0x8000-0x80FF  results and variables (see below)
;   0x8100-0x84FF  records, line buffer, copy buffer
;   0xF400         initial SP (the stack grows down from 0xF3FF)
;
; Each pass runs six kernels; each leaves a 16-bit result in DE that MIX folds into CHECKSUM
; (rotate left by one, XOR). At the HALT:
;   0x8000 CHECKSUM  the folded results of every pass
;   0x8002 ERRORS    self-check failures (q * d + r = n and r < d for every division): must be 0
;   0x8004 CRC       CRC-16 (poly 0x1021, initial 0xFFFF) of bytes 0x0000-0x0027, bit by bit
;   0x8006 PASSES    passes completed
;   0x8008 FLAGGED   records whose flag bit was set in the last pass
;
; The pass count is the word at 0x0003, so a runner can patch it.

CHECKSUM:   equ 0x8000
ERRORS:     equ 0x8002
CRC:        equ 0x8004
PASSES:     equ 0x8006
FLAGGED:    equ 0x8008
SEED:       equ 0x800A
DV_N:       equ 0x800C
DV_D:       equ 0x800E
ACC:        equ 0x8010              ; 32-bit accumulator, low word first
RECS:       equ 0x8100              ; NRECS records of 8 bytes
LINEBUF:    equ 0x8300              ; 64 bytes
COPYBUF:    equ 0x8380              ; 64 bytes
DATA_END:   equ 0x8400
STACK_TOP:  equ 0xF400

REPEAT:     equ 20000
NRECS:      equ 40
NDIV:       equ 6
NSCAN:      equ 3
CRC_BYTES:  equ 40
INTERPRET_PASSES: equ 3

            org 0x0000
            jp start
repeat_count:
            dw REPEAT

start:      ld sp, STACK_TOP
            ld hl, CHECKSUM         ; clear results, variables and buffers
            ld (hl), 0
            ld de, CHECKSUM + 1
            ld bc, DATA_END - CHECKSUM - 1
            ldir
            ld hl, 0xACE1
            ld (SEED), hl
            ld bc, (repeat_count)

pass:       push bc
            call divide
            call mix
            call crc16
            ld (CRC), de
            call mix
            call records
            call mix
            call scan
            call mix
            call accumulate
            call mix
            call interpret
            call mix
            ld hl, (PASSES)
            inc hl
            ld (PASSES), hl
            pop bc
            dec bc
            ld a, b
            or c
            jp nz, pass
            halt

; CHECKSUM = (CHECKSUM rotated left by one) XOR DE.
mix:        ld hl, (CHECKSUM)
            add hl, hl
            jr nc, mix_nc
            inc l
mix_nc:     ld a, h
            xor d
            ld h, a
            ld a, l
            xor e
            ld l, a
            ld (CHECKSUM), hl
            ret

error:      push hl
            ld hl, (ERRORS)
            inc hl
            ld (ERRORS), hl
            pop hl
            ret

; HL = next state of a 16-bit xorshift (7, 9, 8) in SEED, shifted with CB rotates. Uses A.
rand:       ld hl, (SEED)
            ld a, l                 ; x ^= x << 7: rotate the pair right by one, low bit to top
            srl h
            rr l
            rr a                    ; A = bit 0 << 7 plus junk below: keep only bit 7
            and 0x80
            push de
            ld d, l                 ; D:A = x << 7 (high byte = bits 8..1 of x)
            ld e, a
            ld hl, (SEED)
            ld a, l
            xor e
            ld l, a
            ld a, h
            xor d
            ld h, a
            pop de
            ld a, h                 ; x ^= x >> 9
            srl a
            xor l
            ld l, a
            ld a, l                 ; x ^= x << 8
            xor h
            ld h, a
            ld (SEED), hl
            ret

; HL = DE * BC (low 16 bits), shift right and add: two CB shifts per multiplier bit.
mul16:      ld hl, 0
mul_loop:   ld a, b
            or c
            ret z
            srl b
            rr c
            jr nc, mul_skip
            add hl, de
mul_skip:   sla e
            rl d
            jr mul_loop

; NDIV divisions of random numbers: DE / BC with the quotient in DE and remainder in HL, shift
; and subtract (CB shifts, ADC HL / SBC HL). Each is checked: q * d + r = n and r < d. Returns DE
; = the sum of quotients and remainders.
divide:     ld b, NDIV
            ld ix, 0
dv_next:    push bc
            call rand
            ld (DV_N), hl
            call rand
            ld a, h                 ; divisor 1..0x0FFF
            and 0x0F
            ld h, a
            or l
            jr nz, dv_ok
            inc l
dv_ok:      ld (DV_D), hl
            ld b, h
            ld c, l
            ld de, (DV_N)
            ld hl, 0
            ld a, 16
dv_bit:     sla e
            rl d
            adc hl, hl              ; the divisor is below 0x8000, so no carry out
            sbc hl, bc              ; carry clear from the ADC
            jr nc, dv_fits
            add hl, bc
            jr dv_on
dv_fits:    inc e
dv_on:      dec a
            jr nz, dv_bit
            add ix, de              ; sum of quotients and remainders
            ex de, hl
            add ix, de
            ex de, hl
            push hl                 ; check: r < d
            or a
            sbc hl, bc
            call nc, error
            pop hl
            push hl                 ; check: q * d + r = n
            call mul16              ; HL = q * d (DE = q, BC = d)
            pop de
            add hl, de
            ld de, (DV_N)
            or a
            sbc hl, de
            call nz, error
            pop bc
            djnz dv_next
            push ix
            pop de
            ret

; DE = CRC-16 (poly 0x1021, initial 0xFFFF) of bytes 0x0000-0x0027, the register shifted with
; SLA / RL one bit at a time.
crc16:      ld hl, 0
            ld de, 0xFFFF
crc_byte:   ld a, (hl)
            xor d
            ld d, a
            ld b, 8
crc_bit:    sla e
            rl d
            jr nc, crc_nc
            ld a, d
            xor 0x10
            ld d, a
            ld a, e
            xor 0x21
            ld e, a
crc_nc:     djnz crc_bit
            inc l
            ld a, l
            cp CRC_BYTES
            jr nz, crc_byte
            ret

; Records of 8 bytes: +0 count, +1 step, +2 total low, +3 total high, +4 flags, +5 limit,
; +6 last, +7 spare. Walked through IX (read, update) and IY (the next record); every record's
; flag bit is tested and set or cleared with the bit group. Returns DE = sum of totals.
records:    ld ix, RECS
            ld iy, RECS + 8
            ld b, NRECS
            ld hl, 0
            ld c, 0                 ; flagged records
rc_next:    ld a, (ix + 0)          ; count += step
            add a, (ix + 1)
            ld (ix + 0), a
            ld e, a
            ld d, 0
            ld a, e                 ; step = step + 1 (wraps)
            inc (ix + 1)
            ld e, (ix + 2)          ; total += count
            ld d, (ix + 3)
            add a, e
            ld e, a
            jr nc, rc_nc
            inc d
rc_nc:      ld (ix + 2), e
            ld (ix + 3), d
            add hl, de
            ld a, (ix + 0)          ; flag when count >= limit
            cp (ix + 5)
            jr c, rc_clear
            set 0, (ix + 4)
            jr rc_test
rc_clear:   res 0, (ix + 4)
rc_test:    bit 0, (ix + 4)
            jr z, rc_plain
            inc c
            ld a, (iy + 6)          ; the next record remembers this count
            xor e
            ld (iy + 6), a
rc_plain:   ld a, (ix + 0)          ; the rest is plain work on the fields read
            and 0x3F
            add a, 8
            ld (ix + 5), a
            ld a, l
            xor h
            rrca
            ld l, a
            ld de, 8
            add ix, de
            add iy, de
            djnz rc_next
            ld a, c
            ld (FLAGGED), a
            ex de, hl
            ret

; The line buffer is filled with a BASIC-like line, then searched and copied the way an
; interpreter finds a statement separator (CPIR), copies a token (LDIR) and compares a keyword
; (CPI). Returns DE = positions found and bytes matched.
scan:       ld hl, line_text
            ld de, LINEBUF
            ld bc, line_end - line_text
            ldir
            ld de, 0
            ld b, NSCAN
sc_next:    push bc
            ld hl, LINEBUF          ; find ':' within the line
            ld bc, line_end - line_text
            ld a, ':'
            cpir
            jr nz, sc_none
            ld a, l
            add a, e
            ld e, a
            push de                 ; copy the next 6 bytes
            ld de, COPYBUF
            ld bc, 6
            ldir
            pop de
sc_none:    ld hl, COPYBUF          ; how far the copy matches "PRINT"
            ld ix, keyword
            ld bc, 5
sc_cmp:     ld a, (ix + 0)
            inc ix
            cpi
            jr nz, sc_done
            inc d
            jp pe, sc_cmp
sc_done:    pop bc
            djnz sc_next
            ret

; A 32-bit sum in ACC of 16-bit values from the line buffer with ADD HL / ADC HL, a running
; difference with SBC HL, and the sign of the result by NEG. Returns DE = low word of ACC.
accumulate: ld hl, (ACC)
            ld de, (ACC + 2)
            ld ix, LINEBUF
            ld b, 8
ac_next:    ld c, (ix + 0)
            push de
            ld d, (ix + 1)
            ld e, c
            or a
            adc hl, de
            pop de
            jr nc, ac_nc
            inc de
ac_nc:      inc ix
            inc ix
            djnz ac_next
            ld (ACC), hl
            ld (ACC + 2), de
            ld a, l
            neg
            ld e, a
            ld d, h
            ret

; Plain interpreter work, no prefixes: tokenize the line (digits into a number, letters hashed,
; the rest counted), look up a dispatch table and jump. Returns DE = a hash of what it saw.
interpret:  ld b, INTERPRET_PASSES
            ld de, 0
in_pass:    ld hl, LINEBUF
in_char:    ld a, (hl)
            inc hl
            or a
            jr z, in_end
            cp '0'
            jr c, in_other
            cp '9' + 1
            jr c, in_digit
            cp 'A'
            jr c, in_other
            cp 'Z' + 1
            jr nc, in_other
            add a, e                ; letter: hash
            ld e, a
            ld a, d
            adc a, 0
            rlca
            ld d, a
            jr in_char
in_digit:   sub '0'                 ; digit: DE = DE * 10 + digit
            push hl
            ld h, d
            ld l, e
            add hl, hl
            add hl, hl
            add hl, de
            add hl, hl
            ld e, a
            ld d, 0
            add hl, de
            ex de, hl
            pop hl
            jr in_char
in_other:   and 7                   ; anything else: through a dispatch table
            add a, a
            push hl
            ld hl, in_table
            add a, l
            ld l, a
            jr nc, in_tnc
            inc h
in_tnc:     ld a, (hl)
            inc hl
            ld h, (hl)
            ld l, a
            ex (sp), hl
            ret                     ; to the handler, HL restored
in_end:     djnz in_pass
            ret

in_h0:      inc e
            jp in_char
in_h1:      dec d
            jp in_char
in_h2:      ld a, e
            xor d
            ld e, a
            jp in_char
in_h3:      inc d
            jp in_char

in_table:   dw in_h0, in_h1, in_h2, in_h3, in_h0, in_h2, in_h1, in_h3

keyword:    db "PRINT"
line_text:  db "10 FOR I=1 TO 250:PRINT I*3,A$(I);:X=X+I*I:NEXT I", 0
line_end:
