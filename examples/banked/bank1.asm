; bank1.asm - level 1, in bank 1 of the window at $4000.
        .ext calls

level1::
        ld hl,calls
        ld a,(hl)
        ld hl,@table
        ret
@table: .db 1,2,3
