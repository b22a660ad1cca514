; Benchmark workload: the kind of work a BASIC interpreter keeps a Z80 busy with, repeated
; REPEAT times, then HALT. Documented instructions only; no I/O, no interrupts, no R.
;
;   0x0000-        code and read-only tables
;   0x8000-0x80FF  results and variables (see below)
;   0x8100-0x84FF  records, parameters, line buffer, copy buffer
;   0x9000-0x97FF  sieve flags
;   0xF400         initial SP (the stack grows down from 0xF3FF)
;
; Each pass runs seven kernels; each leaves a 16-bit result in DE that MIX folds into CHECKSUM
; (rotate left by one, XOR). At the HALT:
;   0x8000 CHECKSUM  the folded results of every pass
;   0x8002 ERRORS    self-check failures of the division (q * d + r = n, r < d): must be 0
;   0x8004 PRIMES    odd primes 3..4097 found by the last sieve
;   0x8006 CRC       CRC-16 (poly 0x1021, initial 0xFFFF) of bytes 0x0000-0x00FF
;   0x8008 PASSES    passes completed
;   0x800A BCDPASS   passes completed, as four BCD digits
;
; The pass count is the word at 0x0003, so a runner can patch it.

CHECKSUM:   equ 0x8000
ERRORS:     equ 0x8002
PRIMES:     equ 0x8004
CRC:        equ 0x8006
PASSES:     equ 0x8008
BCDPASS:    equ 0x800A
SEED:       equ 0x800C
MD_N:       equ 0x8010
MD_D:       equ 0x8012
MD_Q:       equ 0x8014
MD_R:       equ 0x8016
MD_ACC:     equ 0x8018
ST_ACC:     equ 0x801A
VM_COUNT:   equ 0x801C
RECS:       equ 0x8100              ; NRECS records of 8 bytes
PARAMS:     equ 0x8200              ; NRECS parameter pairs, copied from params_init
LINEBUF:    equ 0x8300              ; 128 bytes
COPYBUF:    equ 0x8380              ; 256 bytes
DATA_END:   equ 0x8480
SIEVE:      equ 0x9000
SIEVE_SIZE: equ 2048                ; flag i stands for 2i + 3
STACK_TOP:  equ 0xF400

REPEAT:     equ 1250
NRECS:      equ 32
RECORD_PASSES: equ 12
MULDIV_PAIRS:  equ 48
STRING_PASSES: equ 3
VM_LOOPS:   equ 120

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
            ld hl, params_init      ; parameter table into RAM (the IY kernel writes it)
            ld de, PARAMS
            ld bc, 2 * NRECS
            ldir
            ld hl, 0xACE1
            ld (SEED), hl
            ld bc, (repeat_count)

pass:       push bc
            call sieve
            ld (PRIMES), de
            call mix
            call muldiv
            call mix
            call crc16
            ld (CRC), de
            call mix
            call strings
            call mix
            call records
            call mix
            call dispatch
            call mix
            call blocks
            call mix
            ld hl, (PASSES)
            inc hl
            ld (PASSES), hl
            ld a, (BCDPASS)         ; four-digit BCD pass counter
            add a, 1
            daa
            ld (BCDPASS), a
            ld a, (BCDPASS + 1)
            adc a, 0
            daa
            ld (BCDPASS + 1), a
            ld de, (BCDPASS)
            call mix
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

; HL = (HL rotated left by one) + DE: unlike a plain XOR or sum, the same change in two values
; does not cancel out.
fold:       add hl, hl
            jr nc, fold_nc
            inc l
fold_nc:    add hl, de
            ret

; HL = next state of the 16-bit xorshift (7, 9, 8) in SEED. Uses A, D.
rand:       ld hl, (SEED)
            ld a, h                 ; x ^= x << 7
            rra                     ; carry = bit 8
            ld a, l
            rra                     ; A = bits 8..1: high byte of x << 7
            ld d, a
            ld a, 0
            rra                     ; A = bit 0 << 7: low byte of x << 7
            xor l
            ld l, a
            ld a, d
            xor h
            ld h, a
            ld a, h                 ; x ^= x >> 9
            srl a
            xor l
            ld l, a
            ld a, l                 ; x ^= x << 8
            xor h
            ld h, a
            ld (SEED), hl
            ret

; Sieve of Eratosthenes over the odd numbers 3..4097. Returns DE = number of primes.
sieve:      ld hl, SIEVE
            ld (hl), 1
            ld de, SIEVE + 1
            ld bc, SIEVE_SIZE - 1
            ldir
            ld de, 0                ; primes found
            ld bc, 0                ; i
sv_loop:    ld hl, SIEVE
            add hl, bc
            ld a, (hl)
            or a
            jr z, sv_next
            push bc
            push de
            ld h, b                 ; p = 2i + 3
            ld l, c
            add hl, hl
            inc hl
            inc hl
            inc hl
            ex de, hl
            ld hl, SIEVE
            add hl, bc
            add hl, de              ; flag of i + p: 3p
sv_cross:   ld a, h                 ; the flags end at a page boundary
            cp (SIEVE + SIEVE_SIZE) / 256
            jr nc, sv_done
            ld (hl), 0
            add hl, de
            jr sv_cross
sv_done:    pop de
            inc de
            pop bc
sv_next:    inc bc
            ld a, b
            cp SIEVE_SIZE / 256
            jr c, sv_loop
            ret

; HL = DE * BC (low 16 bits), shift and add. Uses A, BC.
mul16:      ld hl, 0
            ld a, 16
mul_loop:   add hl, hl
            sla c
            rl b
            jr nc, mul_skip
            add hl, de
mul_skip:   dec a
            jr nz, mul_loop
            ret

; BC = HL / DE, HL = HL mod DE, restoring division; DE in 1..0x7FFF. Uses A.
div16:      ld b, h
            ld c, l
            ld hl, 0
            ld a, 16
div_loop:   sla c                   ; next dividend bit into carry, quotient bit 0 = 0
            rl b
            adc hl, hl              ; remainder < DE <= 0x7FFF: no carry out
            sbc hl, de
            jr nc, div_fits
            add hl, de
            jr div_next
div_fits:   inc c
div_next:   dec a
            jr nz, div_loop
            ret

; Random n and d, n / d checked against q * d + r and r < d; returns a mix of n * d and q.
muldiv:     ld hl, 0
            ld (MD_ACC), hl
            ld b, MULDIV_PAIRS
md_loop:    push bc
            call rand
            ld (MD_N), hl
            call rand
            ld a, h                 ; d = (x AND 0x0FFF) OR 1
            and 0x0F
            ld h, a
            set 0, l
            ld (MD_D), hl
            ex de, hl
            ld hl, (MD_N)
            call div16
            ld (MD_Q), bc
            ld (MD_R), hl
            ld de, (MD_D)           ; r < d
            or a
            sbc hl, de
            call nc, error
            ld bc, (MD_Q)           ; q * d + r = n
            call mul16
            ld de, (MD_R)
            add hl, de
            ld de, (MD_N)
            or a
            sbc hl, de
            call nz, error
            ld de, (MD_N)
            ld bc, (MD_D)
            call mul16
            ld de, (MD_Q)
            add hl, de
            srl h                   ; halve, and fold the lost bit back in at the top
            rr l
            jr nc, md_even
            set 7, h
md_even:    ex de, hl
            ld hl, (MD_ACC)
            call fold
            ld (MD_ACC), hl
            pop bc
            djnz md_loop
            ld de, (MD_ACC)
            ret

; CRC-16 (poly 0x1021, initial 0xFFFF, MSB first) of 0x0000-0x00FF. Returns DE.
crc16:      ld hl, 0
            ld de, 0xFFFF
crc_byte:   ld a, (hl)
            xor d
            ld d, a
            ld b, 8
crc_bit:    bit 7, d
            jr z, crc_shift
            sla e
            rl d
            ld a, d
            xor 0x10
            ld d, a
            ld a, e
            xor 0x21
            ld e, a
            djnz crc_bit
            jr crc_next
crc_shift:  sla e
            rl d
            djnz crc_bit
crc_next:   inc hl
            ld a, h
            or a
            jr z, crc_byte
            ret

; Copies a program line into LINEBUF and tokenises it against the keyword table, STRING_PASSES
; times. Returns DE = ST_ACC, the tokens folded in one by one.
strings:    ld hl, 0
            ld (ST_ACC), hl
            ld c, STRING_PASSES
st_pass:    push bc
            ld hl, line_text
            ld de, LINEBUF
            ld b, line_end - line_text
st_copy:    ld a, (hl)
            ld (de), a
            inc hl
            inc de
            djnz st_copy
            ld hl, LINEBUF
st_next:    ld a, (hl)
            or a
            jr z, st_done
            cp ' '
            jr nz, st_word
            inc hl
            jr st_next
st_word:    call lookup
            or a
            jr nz, st_token
            inc hl                  ; no keyword starts here
            jr st_next
st_token:   push hl
            ld hl, (ST_ACC)
            ld e, a
            ld d, 0
            call fold
            ld (ST_ACC), hl
            pop hl
            jr st_next
st_done:    pop bc
            dec c
            jr nz, st_pass
            ld de, (ST_ACC)
            ret

; HL -> text. A keyword matching there: A = its token (1..), HL past it. Else A = 0, HL kept.
lookup:     ld de, keywords
            ld c, 1
lk_keyword: ld a, (de)              ; length; 0 ends the table
            or a
            ret z
            ld b, a
            push hl
            push de
            inc de
lk_compare: ld a, (de)
            cp (hl)
            jr nz, lk_miss
            inc de
            inc hl
            djnz lk_compare
            pop de
            pop de
            ld a, c
            ret
lk_miss:    pop de
            pop hl
            ld a, (de)
            inc a
            add a, e
            ld e, a
            jr nc, lk_nc
            inc d
lk_nc:      inc c
            jr lk_keyword

; Updates NRECS records of 8 bytes through IX with parameters through IY, RECORD_PASSES times:
;   +0 visits, +1 +2 value, +3 byte total, +4 state bits, +5 shifter, +6 +7 link to next record.
; Returns DE: the values, states and shifters of the last pass folded together.
records:    ld c, RECORD_PASSES
rc_pass:    ld ix, RECS
            ld iy, PARAMS
            ld de, 0
            ld b, NRECS
rc_loop:    inc (ix + 0)
            ld a, (iy + 0)
            add a, (ix + 3)
            ld (ix + 3), a
            ld l, (ix + 1)
            ld h, (ix + 2)
            push bc
            ld c, (iy + 1)
            ld b, 0
            add hl, bc
            pop bc
            ld (ix + 1), l
            ld (ix + 2), h
            bit 0, (ix + 0)
            jr z, rc_even
            set 7, (ix + 4)
            rl (ix + 5)
            jr rc_tail
rc_even:    res 7, (ix + 4)
            sra (ix + 5)
            inc (ix + 5)
rc_tail:    ld a, (ix + 3)
            cp (iy + 1)
            jr c, rc_low
            srl (iy + 1)            ; a large total halves this record's increment
            set 0, (iy + 1)
            jr rc_link
rc_low:     rlc (iy + 0)
rc_link:    push ix                 ; link = address of the next record
            pop hl
            push de
            ld de, 8
            add hl, de
            pop de
            ld (ix + 6), l
            ld (ix + 7), h
            push de                 ; DE = fold(DE, value XOR state and shifter)
            ld a, (ix + 1)
            xor (ix + 5)
            ld e, a
            ld a, (ix + 2)
            xor (ix + 4)
            ld d, a
            pop hl
            call fold
            ex de, hl
            ld l, (ix + 6)
            ld h, (ix + 7)
            push hl
            pop ix
            inc iy
            inc iy
            dec b
            jp nz, rc_loop
            dec c
            jp nz, rc_pass
            ret

; A small bytecode machine: each operation byte selects a handler through vm_table and JP (HL).
; BC = program pointer, DE = the machine's accumulator. Returns DE.
dispatch:   ld bc, vm_program
            ld de, 0
            ld a, VM_LOOPS
            ld (VM_COUNT), a
vm_next:    ld a, (bc)
            inc bc
            add a, a
            ld l, a
            ld h, 0
            push de
            ld de, vm_table
            add hl, de
            ld e, (hl)
            inc hl
            ld d, (hl)
            ex de, hl
            pop de
            jp (hl)

vm_end:     ret
vm_lit:     ld a, (bc)              ; DE = next byte
            inc bc
            ld e, a
            ld d, 0
            jp vm_next
vm_add:     ld a, (bc)              ; DE += next byte
            inc bc
            add a, e
            ld e, a
            jr nc, vm_add_nc
            inc d
vm_add_nc:  jp vm_next
vm_sub:     ld a, (bc)              ; DE -= next byte
            inc bc
            push hl
            ld h, d
            ld l, e
            ld e, a
            ld d, 0
            or a
            sbc hl, de
            ex de, hl
            pop hl
            jp vm_next
vm_xor:     ld a, (bc)              ; E ^= next byte
            inc bc
            xor e
            ld e, a
            jp vm_next
vm_shl:     ex de, hl               ; DE <<= 1
            add hl, hl
            ex de, hl
            jp vm_next
vm_swap:    ld a, d                 ; swap the bytes of DE
            ld d, e
            ld e, a
            jp vm_next
vm_ror:     srl d                   ; DE rotated right by one
            rr e
            jr nc, vm_ror_nc
            set 7, d
vm_ror_nc:  jp vm_next
vm_loop:    ld a, (bc)              ; back by the next byte while VM_COUNT runs down
            inc bc
            ld hl, VM_COUNT
            dec (hl)
            jp z, vm_next
            ld h, 0
            ld l, a
            push de
            ex de, hl
            ld h, b
            ld l, c
            or a
            sbc hl, de
            ld b, h
            ld c, l
            pop de
            jp vm_next

vm_table:   dw vm_end, vm_lit, vm_add, vm_sub, vm_xor, vm_shl, vm_swap, vm_ror, vm_loop

vm_program: db 1, 0x5A              ; LIT 0x5A
vm_body:    db 2, 0x33              ; ADD 0x33
            db 5                    ; SHL
            db 4, 0xA5              ; XOR 0xA5
            db 7                    ; ROR
            db 3, 0x11              ; SUB 0x11
            db 6                    ; SWAP
            db 2, 0x7F              ; ADD 0x7F
            db 5                    ; SHL
            db 8, vm_after - vm_body ; LOOP to vm_body
vm_after:   db 7                    ; ROR
            db 0                    ; END

; LDIR, CPIR and LDDR over the line buffer. Returns DE from the search positions.
blocks:     ld hl, LINEBUF
            ld de, COPYBUF
            ld bc, 128
            ldir
            ld hl, COPYBUF
            ld bc, 128
            ld a, '='
            cpir                    ; first '='
            ld d, c
            ld a, ':'
            cpir                    ; next ':' after it
            ld e, c
            push de
            ld hl, COPYBUF + 127    ; move the copy up by 64 bytes
            ld de, COPYBUF + 191
            ld bc, 128
            lddr
            ld hl, COPYBUF + 64
            ld bc, 192
            xor a
            cpir                    ; the end of the moved line
            pop de
            ld a, e
            add a, c
            ld e, a
            ret

params_init:
            db 3, 200, 5, 180, 7, 160, 11, 140, 13, 120, 17, 100, 19, 90, 23, 80
            db 29, 70, 31, 60, 37, 50, 41, 45, 43, 40, 47, 35, 53, 30, 59, 25
            db 61, 210, 67, 190, 71, 170, 73, 150, 79, 130, 83, 110, 89, 95, 97, 85
            db 101, 75, 103, 65, 107, 55, 109, 48, 113, 42, 127, 38, 131, 33, 137, 28

line_text:  db "10 FOR I=1 TO 100 STEP 2:IF I>50 THEN PRINT I;:GOSUB 200:NEXT I:GOTO 10 "
            db "REM END", 0
line_end:

keywords:   db 3
            db "FOR"
            db 2
            db "TO"
            db 4
            db "STEP"
            db 2
            db "IF"
            db 4
            db "THEN"
            db 5
            db "PRINT"
            db 5
            db "GOSUB"
            db 4
            db "NEXT"
            db 4
            db "GOTO"
            db 3
            db "REM"
            db 3
            db "END"
            db 6
            db "RETURN"
            db 5
            db "INPUT"
            db 3
            db "LET"
            db 3
            db "DIM"
            db 4
            db "DATA"
            db 0
