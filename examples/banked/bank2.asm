; bank2.asm - level 2, in bank 2 of the window at $4000; it calls `mul`,
; which lies outside the banks.
        .ext mul

level2::
        ld b,3
        ld c,3
        call mul
        ret
