; z180.asm - multiplies with MLT and polls an internal I/O register with
; IN0, TST and OUT0 (Z180).
;
; Assemble with:  torvik-z180 z180.asm z180.otk

STAT0 = $04                     ; ASCI channel 0 status
TDR0 = $06                      ; ASCI channel 0 transmit data

main::
        ld b,12
        ld c,34
        mlt bc                  ; BC = 12 * 34
@wait:  in0 a,(STAT0)
        tst $02                 ; transmitter empty?
        jr z,@wait
        ld a,c
        out0 (TDR0),a
        slp
        ret
