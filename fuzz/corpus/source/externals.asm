 .ext ext
 .ext ext2
 .ext 9abc
 .ext a$b
b = ext + 2
 ld hl,ext
 call b
 jp ext+ext2
 ld a,ext
 jr ext
 ld bc,ext
 .db ext
 .dw b
 ld hl,ext|1
