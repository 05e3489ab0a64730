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

#include "mathlib.inc"
