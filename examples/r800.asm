; r800.asm - multiplies with MULUB and MULUW (the R800 of the MSX turbo R)
; and keeps the result in the halves of IX.
;
; Assemble with:  torvik-r800 r800.asm r800.otk

main::
        ld a,12
        ld b,34
        mulub a,b               ; HL = 12 * 34
        ld bc,1000
        muluw hl,bc             ; DE:HL = HL * 1000
        ld ixh,d
        ld ixl,e
        ret
