/* ARMv7 NEON plane-copy loops (arm/copy.cpp does the row ends):
 *
 * void orv_a32_copy_blocks(dst, src, blocks): 64 bytes per block.
 * void orv_a32_split_blocks(a, b, pairs, blocks): 16 pairs per block (the
 *     four-register load leaves the even bytes in q0, the odd in q1), even
 *     bytes to a, odd bytes to b.
 * blocks >= 1. Only scratch registers are used (r0-r3, d0-d7). */
#include "../asm.S"

#if defined(__arm__) && !defined(__aarch64__)
        .syntax unified
        .fpu    neon

function orv_a32_copy_blocks
1:
        vld1.8        {d0-d3},   [r1]!
        vld1.8        {d4-d7},   [r1]!
        subs          r2,  r2,  #1
        vst1.8        {d0-d3},   [r0]!
        vst1.8        {d4-d7},   [r0]!
        bgt           1b
        bx            lr
endfunc

function orv_a32_split_blocks
1:
        vld2.8        {d0-d3},   [r2]!
        subs          r3,  r3,  #1
        vst1.8        {d0, d1},  [r0]!
        vst1.8        {d2, d3},  [r1]!
        bgt           1b
        bx            lr
endfunc

#endif
