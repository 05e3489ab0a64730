#include "inc.asm"
 nop
;--
#include "PROG.ASM"
