; mul.asm - in the library. mul: HL = B * C, by adding C to HL B times
; (with add8 from add.asm). Uses A, B and DE.
        .ext add8

mul::
        ld hl,0
        ld a,b
        or a
        ret z
@loop:  call add8
        djnz @loop
        ret
