/* ARMv7 NEON: two rows of 4:2:0 with 10-bit samples in 16-bit words,
 * sharing one chroma row, to RGBA or to RGB565 with the 10-bit error carry;
 * the bytes of the model in kernels/ten_bit.h. Kept in registers, where the
 * compiled intrinsics spill; the arithmetic is theirs (arm/neon10.cpp).
 *
 * void orv_a32_<rgba|rgb565>_pair10_<low|high>_<planar|uv|vu>(dst,
 *     dst_stride, y, y_stride, u, v, errors, coefficients, count), count a
 *     multiple of 16; uv: Cb first from u, vu: Cr first from v.
 *
 * Luma is loaded as even and odd words (one vld2), so the chroma terms
 * apply as they are and the outputs interleave on the store (RGB565) or by
 * one byte zip (RGBA).
 *
 * Core registers: r0 dst row 0, r1 dst row 1, r2 luma row 0, r3 luma row 1,
 * r4 u, r5 v, r6 errors (RGB565), r7 coefficients, r8 steps left.
 * NEON registers, RGBA:
 *   d0   luma offset, chroma offset, luma gain, cr_green (block bytes 0-7)
 *   d1   cb_green, cr_red, cb_blue                        (bytes 8-13)
 *   q1   luma offset * 2, q2 chroma offset * 2, in every lane
 *   q5   green chroma term, q6 red, q7 blue
 *   q8, q9  luma even, odd (chroma samples first); q10, q15 scratch
 *   q11-q13 outputs, q14 alpha
 * RGB565 (six carries and two masks leave no room for the offsets, so they
 * sit doubled in d0[0] and d0[1] and are spread where needed):
 *   q1   127 << 4, q2 63 << 4: the carry bits of red and blue, of green
 *   q3, q4  luma even, odd; q14, q15 even, odd pixels (and scratch)
 *   q5-q7   chroma terms as above
 *   q8-q13  carries: red even, odd, green even, odd, blue even, odd (their
 *           order in memory); loaded after the chroma terms, which take
 *           q8-q10 and q14 as scratch
 */
#include "../asm.S"

#if defined(__arm__) && !defined(__aarch64__)
        .syntax unified
        .fpu    neon

/* (s << 5) - offset of each word of \q, \off holding offset * 2: the halving
 * subtract is exact on the even difference. Low: bits 10-15 shifted out
 * first. High: the 6 unused bits halved below bit 5, then cleared (the
 * offsets are whole 10-bit levels, multiples of 32). */
        .macro  centre high, q, off
        .if     \high
        vhsub.u16     \q,  \q,  \off
        vbic.i16      \q,  #0x1F
        .else
        vshl.i16      \q,  \q,  #6
        vhsub.u16     \q,  \q,  \off
        .endif
        .endm

/* Chroma terms of 8 samples, cb in \cb and cr in \cr, into q5-q7. */
        .macro  terms cb, cr
        vqrdmulh.s16  q7,  \cb, d1[2]   @ cb * cb_blue
        vqrdmulh.s16  q5,  \cb, d1[0]   @ cb * cb_green
        vqrdmulh.s16  q10, \cr, d0[3]   @ cr * cr_green
        vqrdmulh.s16  q6,  \cr, d1[1]   @ cr * cr_red
        vadd.i16      q5,  q5,  q10
        .endm

/* Planar: Cb from u, Cr from v. uv (P010): pairs from u, Cb first. vu:
 * pairs from v, Cr first. \off holds chroma offset * 2; q8-q10 scratch. */
        .macro  chroma high, layout, off
        .ifc    \layout, planar
        vld1.16       {d16, d17}, [r4]!
        vld1.16       {d18, d19}, [r5]!
        .endif
        .ifc    \layout, uv
        vld2.16       {d16-d19},  [r4]!
        .endif
        .ifc    \layout, vu
        vld2.16       {d16-d19},  [r5]!
        .endif
        centre        \high, q8, \off
        centre        \high, q9, \off
        .ifc    \layout, vu
        terms         q9,  q8
        .else
        terms         q8,  q9
        .endif
        .endm

/* Luma of 16 pixels, even in \e and odd in \o: centred and scaled. */
        .macro  luma_terms high, e, o, off
        centre        \high, \e, \off
        centre        \high, \o, \off
        vqrdmulh.s16  \e,  \e,  d0[2]   @ luma gain
        vqrdmulh.s16  \o,  \o,  d0[2]
        .endm

/* 16 pixels of RGBA: even and odd narrowed, zipped into pixel order. */
        .macro  rgba_row high, y, dst
        vld2.16       {d16-d19}, [\y]!
        luma_terms    \high, q8, q9, q1
        vadd.i16      q10, q8,  q6
        vadd.i16      q15, q9,  q6
        vqrshrun.s16  d22, q10, #4
        vqrshrun.s16  d23, q15, #4
        vsub.i16      q10, q8,  q5
        vsub.i16      q15, q9,  q5
        vqrshrun.s16  d24, q10, #4
        vqrshrun.s16  d25, q15, #4
        vadd.i16      q10, q8,  q7
        vadd.i16      q15, q9,  q7
        vqrshrun.s16  d26, q10, #4
        vqrshrun.s16  d27, q15, #4
        vzip.8        d22, d23
        vzip.8        d24, d25
        vzip.8        d26, d27
        vst4.8        {d22, d24, d26, d28}, [\dst]!
        vst4.8        {d23, d25, d27, d29}, [\dst]!
        .endm

/* One parity of RGB565: luma in \l, red, green, blue carries; the packed
 * pixels left in \px, \t and \l spent. Each channel saturates into 0-4095
 * at << 4 and adds its carry saturating, so the fields are the top bits
 * and the new carry the masked bits under them. */
        .macro  rgb565_half l, px, t, er, eg, eb
        vadd.i16      \px, \l,  q6
        vsub.i16      \t,  \l,  q5
        vadd.i16      \l,  \l,  q7
        vqshlu.s16    \px, \px, #4
        vqshlu.s16    \t,  \t,  #4
        vqshlu.s16    \l,  \l,  #4
        vqadd.u16     \px, \px, \er
        vqadd.u16     \t,  \t,  \eg
        vqadd.u16     \l,  \l,  \eb
        vand          \er, \px, q1
        vand          \eg, \t,  q2
        vand          \eb, \l,  q1
        vsri.16       \px, \t,  #5
        vsri.16       \px, \l,  #11
        .endm

/* 16 pixels of RGB565: the even and odd pixels interleave on the store. */
        .macro  rgb565_row high, y, dst
        vdup.16       q14, d0[0]
        vld2.16       {d6-d9},   [\y]!
        luma_terms    \high, q3, q4, q14
        rgb565_half   q3,  q14, q15, q8,  q10, q12
        rgb565_half   q4,  q15, q3,  q9,  q11, q13
        vst2.16       {d28-d31}, [\dst]!
        .endm

/* Arguments into the register map; r4-r8 and d8-d15 saved (AAPCS). */
        .macro  pair_enter
        push          {r4-r8, lr}
        add           r12, sp,  #24
        ldm           r12, {r4-r8}      @ u, v, errors, coefficients, count
        vpush         {d8-d15}
        vld1.16       {d0, d1}, [r7]
        add           r1,  r0,  r1
        add           r3,  r2,  r3
        asr           r8,  r8,  #4
        .endm

        .macro  pair_leave
        vpop          {d8-d15}
        pop           {r4-r8, pc}
        .endm

        .macro  rgba_pair high, name, layout
function orv_a32_rgba_pair10_\name\()_\layout
        pair_enter
        vdup.16       q1,  d0[0]
        vdup.16       q2,  d0[1]
        vadd.i16      q1,  q1,  q1
        vadd.i16      q2,  q2,  q2
        vmov.i8       q14, #255
1:
        chroma        \high, \layout, q2
        rgba_row      \high, r2, r0
        rgba_row      \high, r3, r1
        subs          r8,  r8,  #1
        bne           1b
        pair_leave
endfunc
        .endm

/* The carry goes down each column through row 0 into row 1 in registers,
 * and back to memory once. */
        .macro  rgb565_pair high, name, layout
function orv_a32_rgb565_pair10_\name\()_\layout
        pair_enter
        vshl.i16      d2,  d0,  #1
        vmov.32       r12, d2[0]
        vmov.32       d0[0], r12        @ both offsets doubled
        vmov.i16      q1,  #0x7F
        vmov.i16      q2,  #0x3F
        vshl.i16      q1,  q1,  #4
        vshl.i16      q2,  q2,  #4
1:
        vdup.16       q14, d0[1]
        chroma        \high, \layout, q14
        vld1.16       {d16-d19}, [r6]!
        vld1.16       {d20-d23}, [r6]!
        vld1.16       {d24-d27}, [r6]
        sub           r6,  r6,  #64
        rgb565_row    \high, r2, r0
        rgb565_row    \high, r3, r1
        vst1.16       {d16-d19}, [r6]!
        vst1.16       {d20-d23}, [r6]!
        vst1.16       {d24-d27}, [r6]!
        subs          r8,  r8,  #1
        bne           1b
        pair_leave
endfunc
        .endm

        .irp    layout, planar, uv, vu
        rgba_pair     0, low,  \layout
        rgba_pair     1, high, \layout
        rgb565_pair   0, low,  \layout
        rgb565_pair   1, high, \layout
        .endr
#endif
