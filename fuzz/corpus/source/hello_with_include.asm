; hello.asm - greets the user and prints 6 * 7 in decimal.
;
; The text goes out through `print`, a routine another module provides:
; it prints the NUL-terminated string that HL points to. The arithmetic
; helpers come from mathlib.inc, included at the end.
;
; Assemble with:  Torvik hello.asm hello.otk

        .ext print

main::
        ld hl,greeting
        call print
        ld a,6
        ld b,7
        call multiply           ; A = 6 * 7
        ld hl,digits
        call todecimal          ; digits = "42"
        ld hl,digits
        call print
        ret

greeting:   .db "Hello from Torvik! 6 * 7 is ",0
digits:     .dbs 3              ; two digits and the NUL

#include "inc.asm"
;--
; mathlib.inc - small arithmetic helpers.

; multiply: A = A * B, for B from 1 to 255 (the result keeps 8 bits).
; Uses C.
multiply::
        ld c,a
        xor a
@loop:  add a,c
        djnz @loop
        ret

; todecimal: writes A (0 to 99) at HL as two ASCII digits and a NUL.
; Uses B. Expressions read left to right: '0'-1 is 47.
todecimal::
        ld b,'0'-1
@tens:  inc b
        sub 10
        jr nc,@tens
        add a,10+'0'
        ld (hl),b
        inc hl
        ld (hl),a
        inc hl
        ld (hl),0
        ret
