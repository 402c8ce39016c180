/* AArch64 plane-copy loops, with the contract of the ARMv7 ones
 * (arm/32/copy.S): x0-x3 and v0-v3 only. */
#include "../asm.S"

#if defined(__aarch64__)

function orv_a64_copy_blocks
1:
        ld1           {v0.16b, v1.16b, v2.16b, v3.16b}, [x1], #64
        subs          w2,  w2,  #1
        st1           {v0.16b, v1.16b, v2.16b, v3.16b}, [x0], #64
        b.gt          1b
        ret
endfunc

function orv_a64_split_blocks
1:
        ld2           {v0.16b, v1.16b}, [x2], #32
        subs          w3,  w3,  #1
        st1           {v0.16b}, [x0], #16
        st1           {v1.16b}, [x1], #16
        b.gt          1b
        ret
endfunc

#endif
