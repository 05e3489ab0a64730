; sm83.asm - waits for the vertical blank and copies a few bytes, the way
; Game Boy programs do (SM83).
;
; Assemble with:  torvik-sm83 sm83.asm sm83.otk

LY = $FF44                      ; LCD line being drawn

main::
@vblank: ldh a,(LY)
        cp 144
        jr c,@vblank
        ld hl,source
        ld de,$C000
        ld b,4
@copy:  ld a,[hl+]
        ld [de],a
        inc de
        dec b
        jr nz,@copy
        ld hl,sp+-2
        ldh [$80],a             ; the same page as $FF80
        swap a
        ret
source: .db 1,2,3,4
