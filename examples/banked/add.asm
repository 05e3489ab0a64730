; add.asm - in the library. add8: HL = HL + C. Uses DE.
add8::
        ld d,0
        ld e,c
        add hl,de
        ret
