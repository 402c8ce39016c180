/* device_vstore / device_vload on AArch64: the low 64 bits of V0-V31 (D0-D31)
 * to and from 256 bytes, the ARMv7 block layout. Plain assembly, since a
 * compiled body could itself use the registers it is asked to copy. */
#include "../asm.S"

#if defined(__aarch64__)
/* x0: the block */
function device_vstore, export=1
        stp     d0,  d1,  [x0, #0]
        stp     d2,  d3,  [x0, #16]
        stp     d4,  d5,  [x0, #32]
        stp     d6,  d7,  [x0, #48]
        stp     d8,  d9,  [x0, #64]
        stp     d10, d11, [x0, #80]
        stp     d12, d13, [x0, #96]
        stp     d14, d15, [x0, #112]
        stp     d16, d17, [x0, #128]
        stp     d18, d19, [x0, #144]
        stp     d20, d21, [x0, #160]
        stp     d22, d23, [x0, #176]
        stp     d24, d25, [x0, #192]
        stp     d26, d27, [x0, #208]
        stp     d28, d29, [x0, #224]
        stp     d30, d31, [x0, #240]
        ret
endfunc

function device_vload, export=1
        ldp     d0,  d1,  [x0, #0]
        ldp     d2,  d3,  [x0, #16]
        ldp     d4,  d5,  [x0, #32]
        ldp     d6,  d7,  [x0, #48]
        ldp     d8,  d9,  [x0, #64]
        ldp     d10, d11, [x0, #80]
        ldp     d12, d13, [x0, #96]
        ldp     d14, d15, [x0, #112]
        ldp     d16, d17, [x0, #128]
        ldp     d18, d19, [x0, #144]
        ldp     d20, d21, [x0, #160]
        ldp     d22, d23, [x0, #176]
        ldp     d24, d25, [x0, #192]
        ldp     d26, d27, [x0, #208]
        ldp     d28, d29, [x0, #224]
        ldp     d30, d31, [x0, #240]
        ret
endfunc
#endif
