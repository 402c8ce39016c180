/* ARMv7 NEON turn stores: blocks of a converted block transposed into the
 * window by lane loads (VLD4 into one lane of four registers), which leave
 * each column of the block in a register with no permute at all.
 *
 * void orv_a32_transpose32_blocks(src, src_stride, dst, dst_stride, rows,
 *     cols): rows a multiple of 8, cols of 4, both above 0.
 * void orv_a32_transpose16_blocks(...): rows a multiple of 16, cols of 4.
 *
 * r0 src (column group), r1 src_stride, r2 dst (row group), r3 dst_stride,
 * r4 rows, r5 column groups left, r6 src walk, r7 dst walk, r8 rows left,
 * lr dst_stride less 16, r12 store walk. Only d16-d31 are used.
 */
#include "../asm.S"

#if defined(__arm__) && !defined(__aarch64__)
        .syntax unified
        .fpu    neon

        .macro  blocks_enter
        push          {r4-r8, lr}
        ldr           r4,  [sp, #24]
        ldr           r5,  [sp, #28]
        sub           lr,  r3,  #16
        .endm

/* Eight rows of four 32-bit columns: rows 0-3 into q8-q11, 4-7 into
 * q12-q15; column c is then q(8 + c) over q(12 + c). */
function orv_a32_transpose32_blocks
        blocks_enter
1:
        mov           r6,  r0
        mov           r7,  r2
        mov           r8,  r4
2:
        vld4.32       {d16[0], d18[0], d20[0], d22[0]}, [r6], r1
        vld4.32       {d16[1], d18[1], d20[1], d22[1]}, [r6], r1
        vld4.32       {d17[0], d19[0], d21[0], d23[0]}, [r6], r1
        vld4.32       {d17[1], d19[1], d21[1], d23[1]}, [r6], r1
        vld4.32       {d24[0], d26[0], d28[0], d30[0]}, [r6], r1
        vld4.32       {d24[1], d26[1], d28[1], d30[1]}, [r6], r1
        vld4.32       {d25[0], d27[0], d29[0], d31[0]}, [r6], r1
        vld4.32       {d25[1], d27[1], d29[1], d31[1]}, [r6], r1
        mov           r12, r7
        vst1.32       {d16, d17}, [r12]!
        vst1.32       {d24, d25}, [r12], lr
        vst1.32       {d18, d19}, [r12]!
        vst1.32       {d26, d27}, [r12], lr
        vst1.32       {d20, d21}, [r12]!
        vst1.32       {d28, d29}, [r12], lr
        vst1.32       {d22, d23}, [r12]!
        vst1.32       {d30, d31}, [r12]
        add           r7,  r7,  #32
        subs          r8,  r8,  #8
        bgt           2b
        add           r0,  r0,  #16
        add           r2,  r2,  r3,  lsl #2
        subs          r5,  r5,  #4
        bgt           1b
        pop           {r4-r8, pc}
endfunc

/* Sixteen rows of four 16-bit columns: rows 0-7 into q8-q11, 8-15 into
 * q12-q15. */
        .macro  rows16 a, b, c, d
        vld4.16       {\a[0], \b[0], \c[0], \d[0]}, [r6], r1
        vld4.16       {\a[1], \b[1], \c[1], \d[1]}, [r6], r1
        vld4.16       {\a[2], \b[2], \c[2], \d[2]}, [r6], r1
        vld4.16       {\a[3], \b[3], \c[3], \d[3]}, [r6], r1
        .endm

function orv_a32_transpose16_blocks
        blocks_enter
1:
        mov           r6,  r0
        mov           r7,  r2
        mov           r8,  r4
2:
        rows16        d16, d18, d20, d22
        rows16        d17, d19, d21, d23
        rows16        d24, d26, d28, d30
        rows16        d25, d27, d29, d31
        mov           r12, r7
        vst1.16       {d16, d17}, [r12]!
        vst1.16       {d24, d25}, [r12], lr
        vst1.16       {d18, d19}, [r12]!
        vst1.16       {d26, d27}, [r12], lr
        vst1.16       {d20, d21}, [r12]!
        vst1.16       {d28, d29}, [r12], lr
        vst1.16       {d22, d23}, [r12]!
        vst1.16       {d30, d31}, [r12]
        add           r7,  r7,  #32
        subs          r8,  r8,  #16
        bgt           2b
        add           r0,  r0,  #8
        add           r2,  r2,  r3,  lsl #2
        subs          r5,  r5,  #4
        bgt           1b
        pop           {r4-r8, pc}
endfunc
#endif
