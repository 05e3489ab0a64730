; main.asm - the entry point of the linked example. It sums the bytes of
; numbers.bin with `sum` (sum.asm), copies part of a greeting in upper
; case with `upcopy` (text.asm), which calls back into this module's
; `upcase`, and ends with a jump to `finish` (text.asm).
#include "defs.inc"

        .ext sum
        .ext upcopy
        .ext greeting
        .ext finish

start::
        ld sp,stack
        ld hl,numbers
        ld b,count
        call sum                ; HL = the sum of the B bytes at HL
        ld (results),hl
        ld de,copy
        ld hl,greeting+7        ; "linker!": the linker adds the offset
        call upcopy             ; B = the number of characters copied
        ld a,b
        ld (results+2),a
        jp finish

; upcase: A in upper case when it is a lower-case letter. Uses nothing else.
upcase::
        cp 'a'
        ret c
        cp 'z'+1
        ret nc
        sub 'a'-'A'
        ret

numbers:
        .incbin "numbers.bin"
count = $-numbers
