; ez80.asm - reads a table through IX with the eZ80's 16-bit loads, LEA
; and PEA, and multiplies with MLT (eZ80 in Z80 mode).
;
; Assemble with:  torvik-ez80 ez80.asm ez80.otk

main::
        ld ix,table
        ld hl,(ix+2)            ; HL = the second word
        lea de,ix+4             ; DE = the address of the third
        pea ix-2
        pop bc
        mlt hl                  ; HL = H * L
        tst a,$01
        ret
table:  .dw 1,2,3
