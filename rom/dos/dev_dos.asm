; Device ROM of the free BASIC: host files through the file service at port 255.
;
; The service takes B = slot (0-7), DE -> 11-byte name record (8 name + 3 extension, space
; padded), HL -> 256-byte buffer, and the operation as the byte written to port 255:
; 0 open for reading, 1 create for writing, 2 close, 3 read block, 4 write block. An open points
; HL at the slot's own buffer (0xF500 + 256 * slot) and leaves its status in port 255 (0 ok).
;
; Entry points, one jump each:
;   0x6000 NAME   HL -> name text (ends at 0, '"' or CR), DE -> record to fill.
;                 Upper-cases, pads with spaces, default extension BAS. A = 0 ok, 1 bad name.
;   0x6003 OPENR  B slot, DE record. A = status (0 opened), HL = slot buffer.
;   0x6006 OPENW  B slot, DE record. A = status (0 opened), HL = slot buffer.
;   0x6009 READ   B slot, HL buffer. Clears the buffer, reads the next block. A = 0 when the
;                 block holds data, 1 at the end (the host left the cleared buffer untouched).
;   0x600C WRITE  B slot, HL buffer. Writes the 256 bytes as the next block.
;   0x600F CLOSE  B slot.
; Only AF, BC, DE and HL are changed (DE and HL as stated).

FILEPORT: equ 0xFF

        org 0x6000
        jp name
        jp openr
        jp openw
        jp readblk
        jp writeblk
        jp close
        defb "LUNABRIK DOS 1", 0

openr:  xor a
        jr open
openw:  ld a, 1
open:   out (FILEPORT), a
        in a, (FILEPORT)
        ret

close:  ld a, 2
        out (FILEPORT), a
        ret

writeblk:
        ld a, 4
        out (FILEPORT), a
        ret

readblk:
        push hl
        push bc
        ld b, 0                 ; 256 bytes
        xor a
rclear: ld (hl), a
        inc hl
        djnz rclear
        pop bc
        pop hl
        ld a, 3
        out (FILEPORT), a
        ld a, (hl)              ; a block always starts with data: zero means nothing came
        or a
        ld a, 0
        ret nz
        inc a
        ret

; Name text to record. C counts the room left in the current part.
name:   push de
        push bc
        ld b, 11                ; fill the record with spaces
        ld a, ' '
nfill:  ld (de), a
        inc de
        djnz nfill
        pop bc
        pop de
        push de
        ld c, 8                 ; name part
        call part
        jr c, nbad
        ld a, c
        cp 8
        jr z, nbad              ; empty name
        ld a, (hl)
        cp '.'
        jr z, next
        call ended
        jr nz, nbad
        pop de                  ; no extension: BAS
        push de
        ex de, hl
        ld bc, 8
        add hl, bc
        ld (hl), 'B'
        inc hl
        ld (hl), 'A'
        inc hl
        ld (hl), 'S'
        ex de, hl
        pop de
        xor a
        ret
next:   inc hl                  ; skip the point
        pop de
        push de
        push hl
        ld hl, 8
        add hl, de
        ex de, hl
        pop hl
        ld c, 3
        call part
        jr c, nbad
        call ended
        jr nz, nbad
        pop de
        xor a
        ret
nbad:   pop de
        ld a, 1
        ret

; Copies characters from HL to DE until the end of the text or a point, at most C of them;
; carry set when the part is too long or holds a character below '!'.
part:   call ended
        ret z
        ld a, (hl)
        cp '.'
        ret z
        cp '!'
        ret c
        cp 0x7F
        ccf
        ret c
        cp 0x60                 ; small letters and the Swedish letters become capitals
        jr c, pstore
        sub 0x20
pstore: inc c
        dec c
        scf
        ret z                   ; no room left
        ld (de), a
        inc de
        inc hl
        dec c
        jr part

; Z set when HL is at the end of the name text (0, '"' or CR).
ended:  ld a, (hl)
        or a
        ret z
        cp '"'
        ret z
        cp 0x0D
        ret

; Padding to 0x60C8 with 0xFF. The count turns negative, and the assembly fails, when the code
; outgrows it; the BASIC's packed library routines follow from 0x60C8.
        defs 0x60C8 - $, 0xFF
