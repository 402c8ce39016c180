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

/* A block whose columns come in groups of 16 split as the split bands leave
 * them (8 even pixels, then 8 odd ones): the group's quads of columns go to
 * its window rows 0, 8, 1 and 9 on, every other row.
 *
 * void orv_a32_transpose32_split_blocks(src, src_stride, dst, dst_stride,
 *     rows, cols): rows a multiple of 8, cols of 16, both above 0.
 *
 * Sixteen rows at a time, rows 0-7 into q8-q15 and 8-15 into q0-q7, so each
 * window row takes four stores of four pixels; then 8 rows if left.
 * r0 src (group), r2 dst (group), r4 rows, r5 columns left, r6 src walk,
 * r7 dst walk, r8 rows left, r9 8 dst_stride, r10 9 dst_stride, r11 2
 * dst_stride less 16, lr 2 dst_stride less 48, r12 store walk.
 */
        .macro  four_rows a, b, c, d, e, f, g, h
        vld4.32       {\a[0], \b[0], \c[0], \d[0]}, [r6], r1
        vld4.32       {\a[1], \b[1], \c[1], \d[1]}, [r6], r1
        vld4.32       {\e[0], \f[0], \g[0], \h[0]}, [r6], r1
        vld4.32       {\e[1], \f[1], \g[1], \h[1]}, [r6], r1
        .endm

/* Sixteen rows of one quad of columns, from r6 to r12. */
        .macro  split_rows16
        four_rows     d16, d18, d20, d22, d17, d19, d21, d23
        four_rows     d24, d26, d28, d30, d25, d27, d29, d31
        four_rows     d0,  d2,  d4,  d6,  d1,  d3,  d5,  d7
        four_rows     d8,  d10, d12, d14, d9,  d11, d13, d15
        vst1.32       {d16, d17}, [r12]!
        vst1.32       {d24, d25}, [r12]!
        vst1.32       {d0,  d1},  [r12]!
        vst1.32       {d8,  d9},  [r12], lr
        vst1.32       {d18, d19}, [r12]!
        vst1.32       {d26, d27}, [r12]!
        vst1.32       {d2,  d3},  [r12]!
        vst1.32       {d10, d11}, [r12], lr
        vst1.32       {d20, d21}, [r12]!
        vst1.32       {d28, d29}, [r12]!
        vst1.32       {d4,  d5},  [r12]!
        vst1.32       {d12, d13}, [r12], lr
        vst1.32       {d22, d23}, [r12]!
        vst1.32       {d30, d31}, [r12]!
        vst1.32       {d6,  d7},  [r12]!
        vst1.32       {d14, d15}, [r12]
        .endm

/* The rows of one quad of columns, from r6 (its first row) to r7 (its
 * first window row). */
        .macro  split_quad
        mov           r8,  r4
        b             2f
1:
        mov           r12, r7
        split_rows16
        add           r7,  r7,  #64
2:
        subs          r8,  r8,  #16
        bge           1b
        adds          r8,  r8,  #16
        beq           3f
        four_rows     d16, d18, d20, d22, d17, d19, d21, d23
        four_rows     d24, d26, d28, d30, d25, d27, d29, d31
        mov           r12, r7
        vst1.32       {d16, d17}, [r12]!
        vst1.32       {d24, d25}, [r12], r11
        vst1.32       {d18, d19}, [r12]!
        vst1.32       {d26, d27}, [r12], r11
        vst1.32       {d20, d21}, [r12]!
        vst1.32       {d28, d29}, [r12], r11
        vst1.32       {d22, d23}, [r12]!
        vst1.32       {d30, d31}, [r12]
3:
        .endm

function orv_a32_transpose32_split_blocks
        push          {r4-r11, lr}
        vpush         {d8-d15}
        ldr           r4,  [sp, #100]
        ldr           r5,  [sp, #104]
        lsl           r9,  r3,  #3
        add           r10, r9,  r3
        lsl           r11, r3,  #1
        sub           lr,  r11, #48
        sub           r11, r11, #16
        cmp           r4,  #16
        bne           4f
        @ Bands of 16 rows (the usual case): each quad in one go.
5:
        mov           r6,  r0
        mov           r12, r2
        split_rows16
        add           r6,  r0,  #16
        add           r12, r2,  r9
        split_rows16
        add           r6,  r0,  #32
        add           r12, r2,  r3
        split_rows16
        add           r6,  r0,  #48
        add           r12, r2,  r10
        split_rows16
        add           r0,  r0,  #64
        add           r2,  r2,  r3,  lsl #4
        subs          r5,  r5,  #16
        bgt           5b
        vpop          {d8-d15}
        pop           {r4-r11, pc}
4:
        mov           r6,  r0
        mov           r7,  r2
        split_quad
        add           r6,  r0,  #16
        add           r7,  r2,  r9
        split_quad
        add           r6,  r0,  #32
        add           r7,  r2,  r3
        split_quad
        add           r6,  r0,  #48
        add           r7,  r2,  r10
        split_quad
        add           r0,  r0,  #64
        add           r2,  r2,  r3,  lsl #4
        subs          r5,  r5,  #16
        bgt           4b
        vpop          {d8-d15}
        pop           {r4-r11, pc}
endfunc
#endif
