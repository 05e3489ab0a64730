start:: nop
local: ld a,1
@loop: dec a \ jr nz,@loop
second ld b,2
@loop: djnz @loop
x = 5
y:: = x + 1
:
