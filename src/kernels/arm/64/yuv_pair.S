/* AArch64 NEON: two rows of 4:2:0 sharing one chroma row, to RGBA or to
 * RGB565 with the error carry, for blocks without bias. The NEON tier's
 * arithmetic, instruction for instruction, in registers chosen once: GCC 12
 * moves every output into the st4/st2 register tuple (some 15 more
 * instructions per 32 pixels than clang), whatever the build type.
 *
 * void orv_a64_<rgba|rgb565>_pair_<planar|uv|vu>(dst, dst_stride, y,
 *     y_stride, u, v, errors, coefficients, count), count / 16 groups.
 *
 * Core registers: x0 dst row 0, x1 dst row 1, x2 luma row 0, x3 luma row 1,
 * x4 u, x5 v, x6 errors (RGB565), x7 coefficients, w8 steps left.
 * NEON registers (v8-v15 untouched but d8 in the mirrored pairs):
 *   v0       the block's first 8 halves: luma offset, chroma offset, luma
 *            gain, cr_green, cb_green, cr_red, cb_blue
 *   v1       luma offset, v2 chroma offset, in every lane
 *   v3, v8   the mirrored pairs' chroma term indices
 *   v4-v7    chroma samples and terms, then row scratch
 *   v24-v29  chroma terms in pixel order: red 0-7, 8-15, green, blue
 *   v30-v31  luma terms of pixels 8-15 and 0-7
 *   v16-v18  outputs; v19 alpha (RGBA) or 3s (RGB565)
 *   v20-v22  red, green, blue carry; v23 7s (RGB565)
 */
#include "../asm.S"
#include "pair_enter.S"

#if defined(__aarch64__)

/* Chroma terms of 8 samples: cb in \cb, cr in \cr. Split: each term once
 * (red v24, green v26, blue v28), for the even and the odd pixels alike.
 * Mirror: each term twice, right to left, by table lookups (v3 and v8 hold
 * the indices), which cost what the zips do; the samples stay as loaded. */
        .macro  terms cb, cr, split=0, mirror=0
        ushll         \cb\().8h, \cb\().8b, #7
        ushll         \cr\().8h, \cr\().8b, #7
        sub           \cb\().8h, \cb\().8h, v2.8h
        sub           \cr\().8h, \cr\().8h, v2.8h
        .if     \split
        sqrdmulh      v28.8h, \cb\().8h, v0.h[6]   // cb * cb_blue
        sqrdmulh      v26.8h, \cb\().8h, v0.h[4]   // cb * cb_green
        sqrdmulh      v30.8h, \cr\().8h, v0.h[3]   // cr * cr_green
        sqrdmulh      v24.8h, \cr\().8h, v0.h[5]   // cr * cr_red
        add           v26.8h, v26.8h, v30.8h
        .exitm
        .endif
        sqrdmulh      v6.8h,  \cb\().8h, v0.h[6]   // cb * cb_blue
        sqrdmulh      v7.8h,  \cb\().8h, v0.h[4]   // cb * cb_green
        sqrdmulh      v30.8h, \cr\().8h, v0.h[3]   // cr * cr_green
        sqrdmulh      v31.8h, \cr\().8h, v0.h[5]   // cr * cr_red
        add           v7.8h,  v7.8h,  v30.8h
        .if     \mirror
        tbl           v24.16b, {v31.16b}, v3.16b
        tbl           v25.16b, {v31.16b}, v8.16b
        tbl           v26.16b, {v7.16b},  v3.16b
        tbl           v27.16b, {v7.16b},  v8.16b
        tbl           v28.16b, {v6.16b},  v3.16b
        tbl           v29.16b, {v6.16b},  v8.16b
        .exitm
        .endif
        zip1          v24.8h, v31.8h, v31.8h
        zip2          v25.8h, v31.8h, v31.8h
        zip1          v26.8h, v7.8h,  v7.8h
        zip2          v27.8h, v7.8h,  v7.8h
        zip1          v28.8h, v6.8h,  v6.8h
        zip2          v29.8h, v6.8h,  v6.8h
        .endm

/* Planar: Cb from u, Cr from v. uv (NV12): pairs from u, Cb first. vu
 * (NV21): pairs from v, Cr first. */
        .macro  chroma layout, mirror=0, split=0
        .ifc    \layout, planar
        ld1           {v4.8b}, [x4], #8
        ld1           {v5.8b}, [x5], #8
        .endif
        .ifc    \layout, uv
        ld2           {v4.8b, v5.8b}, [x4], #16
        .endif
        .ifc    \layout, vu
        ld2           {v4.8b, v5.8b}, [x5], #16
        .endif
        .ifc    \layout, vu
        terms         v5, v4, \split, \mirror
        .else
        terms         v4, v5, \split, \mirror
        .endif
        .endm

/* 16 pixels of the luma row at \y: red, green, blue narrowed into \r, \g,
 * \b, in pixel order; split: the 8 even pixels, then the 8 odd ones. */
        .macro  row y, r, g, b, mirror=0, split=0, h_red=25, h_green=27, h_blue=29
        .if     \split
        ld2           {v4.8b, v5.8b}, [\y], #16
        ushll         v31.8h, v4.8b,  #7
        ushll         v30.8h, v5.8b,  #7
        .else
        ld1           {v30.16b}, [\y], #16
        .endif
        .if     \split
        .elseif \mirror
        // Right to left: each half reversed, and the high half leads.
        rev64         v30.16b, v30.16b
        ushll2        v31.8h, v30.16b, #7
        ushll         v30.8h, v30.8b,  #7
        .else
        ushll         v31.8h, v30.8b,  #7
        ushll2        v30.8h, v30.16b, #7
        .endif
        sub           v31.8h, v31.8h, v1.8h
        sub           v30.8h, v30.8h, v1.8h
        sqrdmulh      v31.8h, v31.8h, v0.h[2]      // luma gain
        sqrdmulh      v30.8h, v30.8h, v0.h[2]
        add           v4.8h,  v31.8h, v24.8h
        add           v5.8h,  v30.8h, v\h_red\().8h
        sqrshrun      \r\().8b,  v4.8h, #4
        sqrshrun2     \r\().16b, v5.8h, #4
        sub           v4.8h,  v31.8h, v26.8h
        sub           v5.8h,  v30.8h, v\h_green\().8h
        sqrshrun      \g\().8b,  v4.8h, #4
        sqrshrun2     \g\().16b, v5.8h, #4
        add           v4.8h,  v31.8h, v28.8h
        add           v5.8h,  v30.8h, v\h_blue\().8h
        sqrshrun      \b\().8b,  v4.8h, #4
        sqrshrun2     \b\().16b, v5.8h, #4
        .endm

        .macro  rgba_row y, dst, mirror=0, split=0
        .if     \split
        row           \y, v16, v17, v18, 0, 1, 24, 26, 28
        .else
        row           \y, v16, v17, v18, \mirror
        .endif
        .if     \mirror
        st4           {v16.16b, v17.16b, v18.16b, v19.16b}, [\dst], x9
        .else
        st4           {v16.16b, v17.16b, v18.16b, v19.16b}, [\dst], #64
        .endif
        .endm

/* Red in v17, green v18, blue v6; the carry added and renewed; then the low
 * byte (v16) and high byte (v17) of each pixel stored interleaved. */
        .macro  rgb565_row y, dst, mirror=0
        row           \y, v17, v18, v6, \mirror
        uqadd         v17.16b, v17.16b, v20.16b
        uqadd         v18.16b, v18.16b, v21.16b
        uqadd         v6.16b,  v6.16b,  v22.16b
        and           v20.16b, v17.16b, v23.16b
        and           v21.16b, v18.16b, v19.16b
        and           v22.16b, v6.16b,  v23.16b
        sri           v17.16b, v18.16b, #5
        shl           v16.16b, v18.16b, #3
        sri           v16.16b, v6.16b,  #3
        .if     \mirror
        st2           {v16.16b, v17.16b}, [\dst], x9
        .else
        st2           {v16.16b, v17.16b}, [\dst], #32
        .endif
        .endm

        .macro  rgba_pair layout
function orv_a64_rgba_pair_\layout
        pair_enter
        movi          v19.16b, #255
1:
        chroma        \layout
        rgba_row      x2,  x0
        rgba_row      x3,  x1
        subs          w8,  w8,  #1
        b.ne          1b
        ret
endfunc
        .endm

/* The carry goes down each column through row 0 into row 1 in registers,
 * and back to memory once. */
        .macro  rgb565_pair layout
function orv_a64_rgb565_pair_\layout
        pair_enter
        movi          v19.16b, #3
        movi          v23.16b, #7
1:
        chroma        \layout
        ld1           {v20.16b, v21.16b, v22.16b}, [x6]
        rgb565_row    x2,  x0
        rgb565_row    x3,  x1
        st1           {v20.16b, v21.16b, v22.16b}, [x6], #48
        subs          w8,  w8,  #1
        b.ne          1b
        ret
endfunc
        .endm

/* Mirrored: source pixel x of the span lands at pixel count - 1 - x of the
 * destination, so each step converts its 16 pixels right to left (luma
 * reversed, chroma terms looked up right to left, no extra permute on the
 * outputs) and stores them one group further left (x9, negative). The
 * RGB565 carry of each group is lane-reversed (lane k holds column 15 - k
 * of the group), so it still runs down source columns. d8 is saved for the
 * second index vector. */
        .section .rodata
        .p2align 4
.Lmirror_terms:
        // Halves 7, 7, 6, 6, 5, 5, 4, 4; then 3, 3, 2, 2, 1, 1, 0, 0.
        .byte   14, 15, 14, 15, 12, 13, 12, 13, 10, 11, 10, 11, 8, 9, 8, 9
        .byte   6, 7, 6, 7, 4, 5, 4, 5, 2, 3, 2, 3, 0, 1, 0, 1
        .text

        .macro  mirror_enter shift
        pair_enter
        str           d8,  [sp, #-16]!
        adrp          x10, .Lmirror_terms
        add           x10, x10, :lo12:.Lmirror_terms
        ld1           {v3.16b}, [x10], #16
        ld1           {v8.16b}, [x10]
        sub           x9,  x8,  #1
        lsl           x9,  x9,  #\shift
        add           x0,  x0,  x9
        add           x1,  x1,  x9
        mov           x9,  #-(1 << \shift)
        .endm

        .macro  rgba_pair_mirror layout
function orv_a64_rgba_pair_mirror_\layout
        mirror_enter  6
        movi          v19.16b, #255
1:
        chroma        \layout, 1
        rgba_row      x2,  x0,  1
        rgba_row      x3,  x1,  1
        subs          w8,  w8,  #1
        b.ne          1b
        ldr           d8,  [sp], #16
        ret
endfunc
        .endm

        .macro  rgb565_pair_mirror layout
function orv_a64_rgb565_pair_mirror_\layout
        mirror_enter  5
        movi          v19.16b, #3
        movi          v23.16b, #7
1:
        chroma        \layout, 1
        ld1           {v20.16b, v21.16b, v22.16b}, [x6]
        rgb565_row    x2,  x0,  1
        rgb565_row    x3,  x1,  1
        st1           {v20.16b, v21.16b, v22.16b}, [x6], #48
        subs          w8,  w8,  #1
        b.ne          1b
        ldr           d8,  [sp], #16
        ret
endfunc
        .endm

/* Split bands for quarter turns: the row pairs of a band in one call, each
 * group of 16 pixels stored as its 8 even pixels, then its 8 odd ones: the
 * order the arithmetic leaves them in, so the chroma terms need no zips,
 * and the transpose that reads the block puts each pixel where it belongs.
 *
 * void orv_a64_rgba_band_split_<planar|uv|vu>(dst, dst_stride, band,
 *     coefficients): band a DeviceRowBand (y, u, v, y_stride, u_stride,
 *     v_stride, rows, count; rows even and count a multiple of 16, both
 *     above 0).
 *
 * x9 dst step to the next pair (2 dst_stride - 4 count), x10 luma step
 * (2 y_stride - count), x11 u step, x12 v step, w13 groups per row, w14
 * pairs left; the rest as in the pairs.
 */
        .macro  rgba_band_split layout
function orv_a64_rgba_band_split_\layout
        mov           x7,  x3
        ldp           x4,  x5,  [x2, #8]           // u, v
        ldp           x10, x11, [x2, #24]          // y_stride, u_stride
        ldr           x12, [x2, #40]               // v_stride
        ldp           w14, w13, [x2, #48]          // rows, count
        ldr           x2,  [x2]                    // y
        sxtw          x13, w13
        lsl           x9,  x1,  #1
        sub           x9,  x9,  x13, lsl #2
        add           x1,  x0,  x1
        add           x3,  x2,  x10
        lsl           x10, x10, #1
        sub           x10, x10, x13
        .ifc    \layout, planar
        sub           x11, x11, x13, lsr #1
        sub           x12, x12, x13, lsr #1
        .endif
        .ifc    \layout, uv
        sub           x11, x11, x13
        .endif
        .ifc    \layout, vu
        sub           x12, x12, x13
        .endif
        lsr           w13, w13, #4
        lsr           w14, w14, #1
        ld1           {v0.8h}, [x7]
        dup           v1.8h, v0.h[0]
        dup           v2.8h, v0.h[1]
        movi          v19.16b, #255
1:
        mov           w8,  w13
2:
        chroma        \layout, 0, 1
        rgba_row      x2,  x0,  0, 1
        rgba_row      x3,  x1,  0, 1
        subs          w8,  w8,  #1
        b.ne          2b
        add           x0,  x0,  x9
        add           x1,  x1,  x9
        add           x2,  x2,  x10
        add           x3,  x3,  x10
        add           x4,  x4,  x11
        add           x5,  x5,  x12
        subs          w14, w14, #1
        b.ne          1b
        ret
endfunc
        .endm

        rgba_band_split planar
        rgba_band_split uv
        rgba_band_split vu

        rgba_pair_mirror   planar
        rgba_pair_mirror   uv
        rgba_pair_mirror   vu
        rgb565_pair_mirror planar
        rgb565_pair_mirror uv
        rgb565_pair_mirror vu

        rgba_pair     planar
        rgba_pair     uv
        rgba_pair     vu
        rgb565_pair   planar
        rgb565_pair   uv
        rgb565_pair   vu
#endif
