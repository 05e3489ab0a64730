; div.asm - in the library, and left there: nothing refers to it.
; div: B = A / C and A = the remainder, by repeated subtraction (C > 0).
div::
        ld b,0
@next:  cp c
        ret c
        sub c
        inc b
        jr @next
