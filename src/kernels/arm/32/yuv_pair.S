/* ARMv7 NEON: two rows of 4:2:0 sharing one chroma row, to RGBA or to RGB565
 * with the error carry, for blocks without bias. All constants, the chroma
 * terms and the outputs stay in registers, where compiled intrinsics spill.
 * The arithmetic is the NEON tier's, instruction for instruction.
 *
 * void orv_a32_<rgba|rgb565>_pair_<planar|uv|vu>(dst, dst_stride, y,
 *     y_stride, u, v, errors, coefficients, count), count a multiple of 16.
 *
 * Core registers: r0 dst row 0, r1 dst row 1, r2 luma row 0, r3 luma row 1,
 * r4 u, r5 v, r6 errors (RGB565), r7 coefficients, r8 steps left.
 * NEON registers:
 *   d0   luma offset, chroma offset, luma gain, cr_green (block bytes 0-7)
 *   d1   cb_green, cr_red, cb_blue                        (bytes 8-13)
 *   q1   luma offset, q2 chroma offset, in every lane
 *   q3   red carry, q4 green carry (RGB565); d8/d9 chroma samples first
 *   q5   green chroma term, q6 red, q7 blue
 *   q8-q10, q15  scratch
 *   q11-q13  outputs
 *   q14  alpha (RGBA) or blue carry (RGB565)
 */
#include "../asm.S"

#if defined(__arm__) && !defined(__aarch64__)
        .syntax unified
        .fpu    neon

/* Chroma terms of 8 samples: cb in \cb, cr in \cr (d registers). */
        .macro  terms cb, cr
        vshll.u8      q5,  \cb, #7
        vshll.u8      q6,  \cr, #7
        vsub.i16      q5,  q5,  q2
        vsub.i16      q6,  q6,  q2
        vqrdmulh.s16  q7,  q5,  d1[2]   @ cb * cb_blue
        vqrdmulh.s16  q5,  q5,  d1[0]   @ cb * cb_green
        vqrdmulh.s16  q8,  q6,  d0[3]   @ cr * cr_green
        vqrdmulh.s16  q6,  q6,  d1[1]   @ cr * cr_red
        vadd.i16      q5,  q5,  q8
        .endm

/* Planar: Cb from u, Cr from v. uv (NV12): pairs from u, Cb first. vu
 * (NV21): pairs from v, Cr first. */
        .macro  chroma layout, mirror=0
        .ifc    \layout, planar
        vld1.8        {d8},      [r4]!
        vld1.8        {d9},      [r5]!
        .endif
        .ifc    \layout, uv
        vld2.8        {d8, d9},  [r4]!
        .endif
        .ifc    \layout, vu
        vld2.8        {d8, d9},  [r5]!
        .endif
        .if     \mirror
        vrev64.8      q4,  q4
        .endif
        .ifc    \layout, vu
        terms         d9,  d8
        .else
        terms         d8,  d9
        .endif
        .endm

/* 16 pixels of the luma row at \y: red, green, blue narrowed into the d
 * pairs given (even pixels, odd pixels), then zipped into pixel order
 * unless \zip is 0. */
        .macro  row y, re, ro, ge, go, be, bo, mirror=0, zip=1
        vld2.8        {d16, d17}, [\y]!
        .if     \mirror
        @ Right to left: each half reversed, and the odd pixels lead.
        vrev64.8      q8,  q8
        vshll.u8      q9,  d17, #7
        vshll.u8      q10, d16, #7
        .else
        vshll.u8      q9,  d16, #7
        vshll.u8      q10, d17, #7
        .endif
        vsub.i16      q9,  q9,  q1
        vsub.i16      q10, q10, q1
        vqrdmulh.s16  q9,  q9,  d0[2]   @ luma gain
        vqrdmulh.s16  q10, q10, d0[2]
        vadd.i16      q8,  q9,  q6
        vadd.i16      q15, q10, q6
        vqrshrun.s16  \re, q8,  #4
        vqrshrun.s16  \ro, q15, #4
        vsub.i16      q8,  q9,  q5
        vsub.i16      q15, q10, q5
        vqrshrun.s16  \ge, q8,  #4
        vqrshrun.s16  \go, q15, #4
        vadd.i16      q8,  q9,  q7
        vadd.i16      q15, q10, q7
        vqrshrun.s16  \be, q8,  #4
        vqrshrun.s16  \bo, q15, #4
        .if     \zip
        vzip.8        \re, \ro
        vzip.8        \ge, \go
        vzip.8        \be, \bo
        .endif
        .endm

        .macro  rgba_row y, dst, mirror=0, zip=1
        row           \y,  d22, d23, d24, d25, d26, d27, \mirror, \zip
        vst4.8        {d22, d24, d26, d28}, [\dst]!
        .if     \mirror
        vst4.8        {d23, d25, d27, d29}, [\dst], r12
        .else
        vst4.8        {d23, d25, d27, d29}, [\dst]!
        .endif
        .endm

/* Red in q13, green q12, blue q11; the carry added and renewed; then the
 * high byte (q13) and low byte (q12) of each pixel stored interleaved. */
        .macro  rgb565_row y, dst, mirror=0
        row           \y,  d26, d27, d24, d25, d22, d23, \mirror
        vqadd.u8      q13, q13, q3
        vqadd.u8      q12, q12, q4
        vqadd.u8      q11, q11, q14
        vmov.i8       q8,  #7
        vmov.i8       q9,  #3
        vand          q3,  q13, q8
        vand          q4,  q12, q9
        vand          q14, q11, q8
        vsri.8        q13, q12, #5
        vshl.i8       q12, q12, #3
        vsri.8        q12, q11, #3
        .if     \mirror
        vst2.8        {d24-d27}, [\dst], r12
        .else
        vst2.8        {d24-d27}, [\dst]!
        .endif
        .endm

/* Arguments into the register map; r4-r8 and d8-d15 saved (AAPCS). A
 * mirrored pair (\mirror_shift: log2 of its output bytes per group) starts
 * at its last group, before row 1 is placed from row 0. */
        .macro  pair_enter mirror_shift=0
        push          {r4-r8, lr}
        add           r12, sp,  #24
        ldm           r12, {r4-r8}      @ u, v, errors, coefficients, count
        vpush         {d8-d15}
        vld1.16       {d0, d1}, [r7]
        vdup.16       q1,  d0[0]
        vdup.16       q2,  d0[1]
        asr           r8,  r8,  #4      @ whole groups
        .if     \mirror_shift
        add           r0,  r0,  r8, lsl #\mirror_shift
        sub           r0,  r0,  #(1 << \mirror_shift)
        .endif
        add           r1,  r0,  r1
        add           r3,  r2,  r3
        .endm

        .macro  pair_leave
        vpop          {d8-d15}
        pop           {r4-r8, pc}
        .endm

        .macro  rgba_pair layout
function orv_a32_rgba_pair_\layout
        pair_enter
        vmov.i8       q14, #255
1:
        chroma        \layout
        rgba_row      r2,  r0
        rgba_row      r3,  r1
        subs          r8,  r8,  #1
        bne           1b
        pair_leave
endfunc
        .endm

/* The carry goes down each column through row 0 into row 1 in registers,
 * and back to memory once. */
        .macro  rgb565_pair layout
function orv_a32_rgb565_pair_\layout
        pair_enter
1:
        chroma        \layout
        vld1.8        {d6, d7},   [r6]!
        vld1.8        {d8, d9},   [r6]!
        vld1.8        {d28, d29}, [r6]
        sub           r6,  r6,  #32
        rgb565_row    r2,  r0
        rgb565_row    r3,  r1
        vst1.8        {d6, d7},   [r6]!
        vst1.8        {d8, d9},   [r6]!
        vst1.8        {d28, d29}, [r6]!
        subs          r8,  r8,  #1
        bne           1b
        pair_leave
endfunc
        .endm

/* Mirrored: source pixel x of the span lands at pixel count - 1 - x of the
 * destination, so each step converts its 16 pixels right to left (inputs
 * reversed, no extra permute on the outputs) and stores them one group
 * further left. The RGB565 carry of each group is lane-reversed (lane k
 * holds column 15 - k of the group), so it still runs down source columns. */
        .macro  mirror_enter shift, step
        pair_enter    \shift
        mov           r12, #\step
        .endm

        .macro  rgba_pair_mirror layout
function orv_a32_rgba_pair_mirror_\layout
        mirror_enter  6,   -96         @ 64 bytes a group, stored as 32 + 32
        vmov.i8       q14, #255
1:
        chroma        \layout, 1
        rgba_row      r2,  r0,  1
        rgba_row      r3,  r1,  1
        subs          r8,  r8,  #1
        bne           1b
        pair_leave
endfunc
        .endm

        .macro  rgb565_pair_mirror layout
function orv_a32_rgb565_pair_mirror_\layout
        mirror_enter  5,   -32
1:
        chroma        \layout, 1
        vld1.8        {d6, d7},   [r6]!
        vld1.8        {d8, d9},   [r6]!
        vld1.8        {d28, d29}, [r6]
        sub           r6,  r6,  #32
        rgb565_row    r2,  r0,  1
        rgb565_row    r3,  r1,  1
        vst1.8        {d6, d7},   [r6]!
        vst1.8        {d8, d9},   [r6]!
        vst1.8        {d28, d29}, [r6]!
        subs          r8,  r8,  #1
        bne           1b
        pair_leave
endfunc
        .endm

/* Split bands for quarter turns: rows pairs of a band in one call, each
 * group of 16 pixels stored as its 8 even pixels, then its 8 odd ones: the
 * order the arithmetic leaves them in, so the zips go, and the transpose
 * that reads the block puts each pixel where it belongs.
 *
 * void orv_a32_rgba_band_split_<planar|uv|vu>(dst, dst_stride, band,
 *     coefficients): band a DeviceRowBand (y, u, v, y_stride, u_stride,
 *     v_stride, rows, count; rows even and count a multiple of 16, both
 *     above 0).
 *
 * r6 groups per row, r9 luma step to the next pair (2 y_stride - count),
 * r10 u step, r11 v step, r12 pairs left, lr dst step (2 dst_stride - 4
 * count); the rest as in the pairs.
 */
        .macro  rgba_band_split layout
function orv_a32_rgba_band_split_\layout
        push          {r4-r11, lr}
        vpush         {d8-d15}
        mov           r7,  r3
        mov           r12, r2
        ldm           r12, {r2, r4, r5}           @ y, u, v
        ldr           r3,  [r12, #12]             @ y_stride
        ldr           r10, [r12, #16]             @ u_stride
        ldr           r11, [r12, #20]             @ v_stride
        ldr           r6,  [r12, #28]             @ count
        ldr           r12, [r12, #24]             @ rows
        lsl           lr,  r1,  #1
        sub           lr,  lr,  r6,  lsl #2
        add           r1,  r0,  r1
        lsl           r9,  r3,  #1
        sub           r9,  r9,  r6
        add           r3,  r2,  r3
        .ifc    \layout, planar
        sub           r10, r10, r6,  lsr #1
        sub           r11, r11, r6,  lsr #1
        .endif
        .ifc    \layout, uv
        sub           r10, r10, r6
        .endif
        .ifc    \layout, vu
        sub           r11, r11, r6
        .endif
        asr           r6,  r6,  #4
        asr           r12, r12, #1
        vld1.16       {d0, d1}, [r7]
        vdup.16       q1,  d0[0]
        vdup.16       q2,  d0[1]
        vmov.i8       q14, #255
1:
        mov           r8,  r6
2:
        chroma        \layout
        rgba_row      r2,  r0,  0,  0
        rgba_row      r3,  r1,  0,  0
        subs          r8,  r8,  #1
        bne           2b
        add           r0,  r0,  lr
        add           r1,  r1,  lr
        add           r2,  r2,  r9
        add           r3,  r3,  r9
        add           r4,  r4,  r10
        add           r5,  r5,  r11
        subs          r12, r12, #1
        bne           1b
        vpop          {d8-d15}
        pop           {r4-r11, pc}
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
