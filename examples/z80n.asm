; z80n.asm - sets Next registers, multiplies with MUL and pushes a constant
; (the Z80N of the ZX Spectrum Next).
;
; Assemble with:  torvik-z80n z80n.asm z80n.otk

TURBO = $07                     ; Next register: CPU speed
SPRITES = $15                   ; Next register: sprite and layers system

main::
        nextreg TURBO,3         ; 28 MHz
        ld a,%00000001
        nextreg SPRITES,a       ; sprites visible
        ld d,6
        ld e,7
        mul d,e                 ; DE = 6 * 7
        add hl,$0100
        push $1234              ; the operand goes high byte first
        pop bc
        test $80
        swapnib
        ret
