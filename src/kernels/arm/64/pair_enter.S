/* The AArch64 row pairs' arguments into their register map (yuv_pair.S,
 * yuv10_pair.S): x1 and x3 from strides to row 1, w8 the groups of 16, v0
 * the block's first 8 halves, v1 and v2 the luma and chroma offsets in
 * every lane (doubled for the 10-bit pairs' halving subtract). */
#ifndef ORV_KERNELS_ARM_64_PAIR_ENTER_S
#define ORV_KERNELS_ARM_64_PAIR_ENTER_S

#include "../asm.S"

#if defined(__aarch64__)
        .macro  pair_enter doubled=0
        ldr           w8,  [sp]                    // count
        ld1           {v0.8h}, [x7]
        dup           v1.8h, v0.h[0]
        dup           v2.8h, v0.h[1]
        .if     \doubled
        shl           v1.8h, v1.8h, #1
        shl           v2.8h, v2.8h, #1
        .endif
        add           x1,  x0,  x1
        add           x3,  x2,  x3
        asr           w8,  w8,  #4
        .endm
#endif

#endif
