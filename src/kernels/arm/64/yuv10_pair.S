/* AArch64 NEON: two rows of 4:2:0 with 10-bit samples in 16-bit words,
 * sharing one chroma row, to RGBA or to RGB565 with the 10-bit error carry;
 * the bytes of the model in kernels/ten_bit.h and the arithmetic of the
 * intrinsics (arm/neon10.cpp), in registers chosen once: GCC 12 moves every
 * RGBA output into the st4 tuple and spends some 12 more instructions per
 * 32 pixels than clang.
 *
 * void orv_a64_<rgba|rgb565>_pair10_<low|high>_<planar|uv|vu>(dst,
 *     dst_stride, y, y_stride, u, v, errors, coefficients, count), count / 16
 *     groups; uv: Cb first from u, vu: Cr first from v.
 *
 * Core registers: x0 dst row 0, x1 dst row 1, x2 luma row 0, x3 luma row 1,
 * x4 u, x5 v, x6 errors (RGB565), x7 coefficients, w8 steps left.
 * NEON registers (v8-v15 untouched):
 *   v0   the block's first 8 halves: luma offset, chroma offset, luma gain,
 *        cr_green, cb_green, cr_red, cb_blue
 *   v1   luma offset * 2, v2 chroma offset * 2, in every lane
 *   v4, v5  chroma samples (Cb, Cr), then scratch
 * RGBA, in pixel order (the chroma terms zipped once for both rows):
 *   v24-v29 red 0-7, 8-15, green, blue; v6, v7 luma (v6, v30, v31 the
 *   terms first); v30, v31 scratch
 *   v16-v18 outputs, v19 alpha
 * RGB565, even and odd pixels (luma loaded as even and odd words):
 *   v3   127 << 4, v7 63 << 4: the carry bits of red and blue, of green
 *   v26-v28 red, green, blue terms; v20-v25 carries: red even, odd, green
 *   even, odd, blue even, odd (their order in memory); v16, v17 luma
 *   even, odd; v18, v19, v29-v31 scratch
 */
#include "../asm.S"
#include "pair_enter.S"

#if defined(__aarch64__)

/* (s << 5) - offset of each word of \v, \off holding offset * 2: the
 * halving subtract is exact on the even difference. Low: bits 10-15 shifted
 * out first. High: the 6 unused bits halved below bit 5, then cleared (the
 * offsets are whole 10-bit levels, multiples of 32). */
        .macro  centre high, v, off
        .if     \high
        uhsub         \v\().8h, \v\().8h, \off\().8h
        bic           \v\().8h, #0x1F
        .else
        shl           \v\().8h, \v\().8h, #6
        uhsub         \v\().8h, \v\().8h, \off\().8h
        .endif
        .endm

/* The chroma terms of 8 samples: red \r, green \g, blue \b. Planar and uv
 * load Cb into v4 and Cr into v5; vu the other way round. */
        .macro  chroma10 high, layout, r, g, b
        .ifc    \layout, planar
        ld1           {v4.8h}, [x4], #16
        ld1           {v5.8h}, [x5], #16
        .endif
        .ifc    \layout, uv
        ld2           {v4.8h, v5.8h}, [x4], #32
        .endif
        .ifc    \layout, vu
        ld2           {v4.8h, v5.8h}, [x5], #32
        .endif
        centre        \high, v4, v2
        centre        \high, v5, v2
        .ifc    \layout, vu
        terms10       v5,  v4,  \r, \g, \b
        .else
        terms10       v4,  v5,  \r, \g, \b
        .endif
        .endm

        .macro  terms10 cb, cr, r, g, b
        sqrdmulh      \b\().8h, \cb\().8h, v0.h[6]    // cb * cb_blue
        sqrdmulh      \g\().8h, \cb\().8h, v0.h[4]    // cb * cb_green
        sqrdmulh      \cb\().8h, \cr\().8h, v0.h[3]   // cr * cr_green
        sqrdmulh      \r\().8h, \cr\().8h, v0.h[5]    // cr * cr_red
        add           \g\().8h, \g\().8h, \cb\().8h
        .endm

/* 16 pixels of the luma row at \y into RGBA at \dst. */
        .macro  rgba10_row high, y, dst
        ld1           {v6.8h, v7.8h}, [\y], #32
        centre        \high, v6, v1
        centre        \high, v7, v1
        sqrdmulh      v6.8h,  v6.8h,  v0.h[2]      // luma gain
        sqrdmulh      v7.8h,  v7.8h,  v0.h[2]
        add           v30.8h, v6.8h,  v24.8h
        add           v31.8h, v7.8h,  v25.8h
        sqrshrun      v16.8b, v30.8h, #4
        sqrshrun2     v16.16b, v31.8h, #4
        sub           v30.8h, v6.8h,  v26.8h
        sub           v31.8h, v7.8h,  v27.8h
        sqrshrun      v17.8b, v30.8h, #4
        sqrshrun2     v17.16b, v31.8h, #4
        add           v30.8h, v6.8h,  v28.8h
        add           v31.8h, v7.8h,  v29.8h
        sqrshrun      v18.8b, v30.8h, #4
        sqrshrun2     v18.16b, v31.8h, #4
        st4           {v16.16b, v17.16b, v18.16b, v19.16b}, [\dst], #64
        .endm

        .macro  rgba_pair10 high, name, layout
function orv_a64_rgba_pair10_\name\()_\layout
        pair_enter    1
        movi          v19.16b, #255
1:
        chroma10      \high, \layout, v6, v30, v31
        zip1          v24.8h, v6.8h,  v6.8h
        zip2          v25.8h, v6.8h,  v6.8h
        zip1          v26.8h, v30.8h, v30.8h
        zip2          v27.8h, v30.8h, v30.8h
        zip1          v28.8h, v31.8h, v31.8h
        zip2          v29.8h, v31.8h, v31.8h
        rgba10_row    \high, x2,  x0
        rgba10_row    \high, x3,  x1
        subs          w8,  w8,  #1
        b.ne          1b
        ret
endfunc
        .endm

/* One channel of 8 pixels: \out = the luma \l with the term \t added (or
 * taken away), << 4 saturated, plus the carry \e; the carry renewed from
 * the bits under the field (\mask). */
        .macro  channel op, out, l, t, e, mask
        \op           \out\().8h, \l\().8h, \t\().8h
        sqshlu        \out\().8h, \out\().8h, #4
        uqadd         \out\().8h, \out\().8h, \e\().8h
        and           \e\().16b, \out\().16b, \mask\().16b
        .endm

/* 16 pixels of the luma row at \y into RGB565 at \dst, the carries in
 * v20-v25 running on. */
        .macro  rgb565_10_row high, y, dst
        ld2           {v16.8h, v17.8h}, [\y], #32
        centre        \high, v16, v1
        centre        \high, v17, v1
        sqrdmulh      v16.8h, v16.8h, v0.h[2]      // luma gain
        sqrdmulh      v17.8h, v17.8h, v0.h[2]
        channel       add, v18, v16, v26, v20, v3
        channel       sub, v19, v16, v27, v22, v7
        channel       add, v29, v16, v28, v24, v3
        sri           v18.8h, v19.8h, #5
        sri           v18.8h, v29.8h, #11
        channel       add, v30, v17, v26, v21, v3
        channel       sub, v19, v17, v27, v23, v7
        channel       add, v29, v17, v28, v25, v3
        sri           v30.8h, v19.8h, #5
        sri           v30.8h, v29.8h, #11
        zip1          v31.8h, v18.8h, v30.8h
        zip2          v18.8h, v18.8h, v30.8h
        st1           {v31.8h}, [\dst], #16
        st1           {v18.8h}, [\dst], #16
        .endm

/* The carry goes down each column through row 0 into row 1 in registers,
 * and back to memory once. */
        .macro  rgb565_pair10 high, name, layout
function orv_a64_rgb565_pair10_\name\()_\layout
        pair_enter    1
        movi          v3.8h,  #0x7F
        movi          v7.8h,  #0x3F
        shl           v3.8h,  v3.8h,  #4
        shl           v7.8h,  v7.8h,  #4
1:
        chroma10      \high, \layout, v26, v27, v28
        ld1           {v20.8h, v21.8h, v22.8h, v23.8h}, [x6], #64
        ld1           {v24.8h, v25.8h}, [x6]
        sub           x6,  x6,  #64
        rgb565_10_row \high, x2,  x0
        rgb565_10_row \high, x3,  x1
        st1           {v20.8h, v21.8h, v22.8h, v23.8h}, [x6], #64
        st1           {v24.8h, v25.8h}, [x6], #32
        subs          w8,  w8,  #1
        b.ne          1b
        ret
endfunc
        .endm

        .irp    layout, planar, uv, vu
        rgba_pair10   0, low,  \layout
        rgba_pair10   1, high, \layout
        rgb565_pair10 0, low,  \layout
        rgb565_pair10 1, high, \layout
        .endr

#endif
