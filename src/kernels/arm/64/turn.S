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
#endif
