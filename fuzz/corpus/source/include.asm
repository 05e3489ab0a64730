#include "inc.asm"
#define FOO 1
#INCLUDE <inc.asm>
#bogus
# 
#include
 nop
;--
 .db 1
label:: ld hl,label
#include "prog.asm"
