/* AArch64 NEON turn stores: blocks of a converted block transposed into the
 * window by lane loads (LD4 into one lane of four registers), which leave
 * each column of the block in a register with no permute at all.
 *
 * void orv_a64_transpose32_blocks(src, src_stride, dst, dst_stride, rows,
 *     cols): rows a multiple of 8, cols of 4, both above 0.
 * void orv_a64_transpose16_blocks(...): rows a multiple of 16, cols of 4.
 *
 * x0 src (column group), x1 src_stride, x2 dst (row group), x3 dst_stride,
 * w4 rows, w5 columns left, x6 src walk, x7 dst walk, w8 rows left, x9
 * store walk, x10 dst_stride less 16. Only v0-v7 are used.
 */
#include "../asm.S"

#if defined(__aarch64__)

        .macro  lanes regs, count
        .irp    lane, 0, 1, 2, 3, 4, 5, 6, 7
        .if     \lane < \count
        ld4           {\regs}[\lane], [x6], x1
        .endif
        .endr
        .endm

/* Rows of the first half go to v0-v3, of the second to v4-v7: column c is
 * then v(c) over v(4 + c). */
        .macro  transpose_blocks name, size, arrangement, half, width
function \name
        sub           x10, x3,  #16
1:
        mov           x6,  x0
        mov           x7,  x2
        mov           w8,  w4
2:
        lanes         "v0.\size, v1.\size, v2.\size, v3.\size", \half
        lanes         "v4.\size, v5.\size, v6.\size, v7.\size", \half
        mov           x9,  x7
        st1           {v0.\arrangement}, [x9], #16
        st1           {v4.\arrangement}, [x9], x10
        st1           {v1.\arrangement}, [x9], #16
        st1           {v5.\arrangement}, [x9], x10
        st1           {v2.\arrangement}, [x9], #16
        st1           {v6.\arrangement}, [x9], x10
        st1           {v3.\arrangement}, [x9], #16
        st1           {v7.\arrangement}, [x9]
        add           x7,  x7,  #32
        subs          w8,  w8,  #(2 * \half)
        b.gt          2b
        add           x0,  x0,  #(4 * \width)
        add           x2,  x2,  x3,  lsl #2
        subs          w5,  w5,  #4
        b.gt          1b
        ret
endfunc
        .endm

        transpose_blocks orv_a64_transpose32_blocks, s, 4s, 4, 4
        transpose_blocks orv_a64_transpose16_blocks, h, 8h, 8, 2

/* A block whose columns come in groups of 16 split as the split bands leave
 * them (8 even pixels, then 8 odd ones): the group's quads of columns go to
 * its window rows 0, 8, 1 and 9 on, every other row.
 *
 * void orv_a64_transpose32_split_blocks(src, src_stride, dst, dst_stride,
 *     rows, cols): rows a multiple of 8, cols of 16, both above 0.
 *
 * Sixteen rows at a time into v0-v7 and v16-v23 (column c is v(c), v(4+c),
 * v(16+c), v(20+c)), so a window row takes four stores of four pixels; then
 * 8 rows if left. x11 8 dst_stride, x12 9 dst_stride, x13 2 dst_stride less
 * 48, x14 2 dst_stride less 16.
 */

/* Sixteen rows of one quad of columns, from x6 to x9. */
        .macro  split_rows16
        lanes         "v0.s, v1.s, v2.s, v3.s", 4
        lanes         "v4.s, v5.s, v6.s, v7.s", 4
        lanes         "v16.s, v17.s, v18.s, v19.s", 4
        lanes         "v20.s, v21.s, v22.s, v23.s", 4
        st1           {v0.4s}, [x9], #16
        st1           {v4.4s}, [x9], #16
        st1           {v16.4s}, [x9], #16
        st1           {v20.4s}, [x9], x13
        st1           {v1.4s}, [x9], #16
        st1           {v5.4s}, [x9], #16
        st1           {v17.4s}, [x9], #16
        st1           {v21.4s}, [x9], x13
        st1           {v2.4s}, [x9], #16
        st1           {v6.4s}, [x9], #16
        st1           {v18.4s}, [x9], #16
        st1           {v22.4s}, [x9], x13
        st1           {v3.4s}, [x9], #16
        st1           {v7.4s}, [x9], #16
        st1           {v19.4s}, [x9], #16
        st1           {v23.4s}, [x9]
        .endm

        .macro  split_quad src_off, dst_off
        add           x6,  x0,  #\src_off
        add           x7,  x2,  \dst_off
        mov           w8,  w4
        b             2f
1:
        mov           x9,  x7
        split_rows16
        add           x7,  x7,  #64
2:
        subs          w8,  w8,  #16
        b.ge          1b
        adds          w8,  w8,  #16
        b.eq          3f
        lanes         "v0.s, v1.s, v2.s, v3.s", 4
        lanes         "v4.s, v5.s, v6.s, v7.s", 4
        mov           x9,  x7
        st1           {v0.4s}, [x9], #16
        st1           {v4.4s}, [x9], x14
        st1           {v1.4s}, [x9], #16
        st1           {v5.4s}, [x9], x14
        st1           {v2.4s}, [x9], #16
        st1           {v6.4s}, [x9], x14
        st1           {v3.4s}, [x9], #16
        st1           {v7.4s}, [x9], x14
3:
        .endm

function orv_a64_transpose32_split_blocks
        lsl           x11, x3,  #3
        add           x12, x11, x3
        lsl           x13, x3,  #1
        sub           x14, x13, #16
        sub           x13, x13, #48
        cmp           w4,  #16
        b.ne          4f
        // Bands of 16 rows (the usual case): each quad in one go.
5:
        mov           x6,  x0
        mov           x9,  x2
        split_rows16
        add           x6,  x0,  #16
        add           x9,  x2,  x11
        split_rows16
        add           x6,  x0,  #32
        add           x9,  x2,  x3
        split_rows16
        add           x6,  x0,  #48
        add           x9,  x2,  x12
        split_rows16
        add           x0,  x0,  #64
        add           x2,  x2,  x3,  lsl #4
        subs          w5,  w5,  #16
        b.gt          5b
        ret
4:
        split_quad    0,  xzr
        split_quad    16, x11
        split_quad    32, x3
        split_quad    48, x12
        add           x0,  x0,  #64
        add           x2,  x2,  x3,  lsl #4
        subs          w5,  w5,  #16
        b.gt          4b
        ret
endfunc
#endif
