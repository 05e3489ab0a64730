; text.asm - a greeting, an upper-case copy routine and the program's end.

        .ext upcase

greeting::
        .db "Hello, linker!",0

; upcopy: copies the NUL-terminated text at HL to DE in upper case (through
; `upcase` in main.asm), the NUL included; B = the number of characters
; before the NUL. Uses A.
upcopy::
        ld b,0
@next:  ld a,(hl)
        call upcase
        ld (de),a
        or a
        ret z
        inc hl
        inc de
        inc b
        jr @next

; finish: the end of the program.
finish::
        halt
