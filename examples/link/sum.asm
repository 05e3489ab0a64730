; sum.asm - adds up a table of bytes.

; sum: HL = the sum of the B bytes (B from 1 to 255) at HL. Uses A and DE.
sum::
        ex de,hl
        ld hl,0
@next:  ld a,(de)
        add a,l
        ld l,a
        jr nc,@same
        inc h
@same:  inc de
        djnz @next
        ret
