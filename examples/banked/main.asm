; main.asm - the fixed part of the banked example, placed at $0000. It
; multiplies with `mul` from the library, keeps the products and the number
; of calls in RAM (vars.asm), and notes where the two banks' entry points
; lie (they are not called: the banks are not mapped here).
        .ext mul
        .ext product
        .ext calls
        .ext entries
        .ext level1
        .ext level2

start::
        ld sp,$FF00
        ld b,6
        ld c,7
        call mul                ; HL = B * C
        ex de,hl
        ld hl,product
        call store
        ld b,12
        ld c,11
        call mul
        ex de,hl
        ld hl,product+2
        call store
        ld hl,calls
        ld (hl),2
        ld hl,level1            ; in bank 1
        ex de,hl
        ld hl,entries
        call store
        ld hl,level2            ; in bank 2
        ex de,hl
        ld hl,entries+2
        call store
done:   halt

; store: the word DE at HL. Uses HL.
store:  ld (hl),e
        inc hl
        ld (hl),d
        ret
