/* device_vstore / device_vload on ARMv7: D0-D31 to and from 256 bytes. Plain
 * assembly, since a compiled body could itself use the registers it is
 * asked to copy. */
#include "../asm.S"

#if defined(__arm__) && !defined(__aarch64__)
        .syntax unified
        .fpu    neon

/* r0: the block */
function device_vstore, export=1
        vstmia  r0!, {d0-d15}
        vstmia  r0,  {d16-d31}
        bx      lr
endfunc

function device_vload, export=1
        vldmia  r0!, {d0-d15}
        vldmia  r0,  {d16-d31}
        bx      lr
endfunc
#endif
