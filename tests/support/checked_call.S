/* orv_checked_call (checked_call.h), x0 / r0 the record.
 * ARMv7:   r4-r11, d8-d15 the record's known values across the call; r12 the
 *          function; lr the argument words while loading them.
 * AArch64: x19-x28, d8-d15 the known values; x16 the function; x9 the
 *          record's parts while loading and storing them. */
#include "kernels/arm/asm.S"

#if defined(__arm__) && !defined(__aarch64__)
        .syntax unified
        .fpu    neon

function orv_checked_call
        push    {r0, r4-r11, lr}        @ the record stays at the bottom
        vpush   {d8-d15}                @ record now at [sp, #64]
        add     r1,  r0,  #40
        ldm     r1,  {r4-r11}
        add     r1,  r0,  #72
        vldm    r1,  {d8-d15}
        sub     sp,  sp,  #24           @ five stack words, 8-byte aligned
        ldr     r1,  [r0, #20]
        str     r1,  [sp]
        ldr     r1,  [r0, #24]
        str     r1,  [sp, #4]
        ldr     r1,  [r0, #28]
        str     r1,  [sp, #8]
        ldr     r1,  [r0, #32]
        str     r1,  [sp, #12]
        ldr     r1,  [r0, #36]
        str     r1,  [sp, #16]
        ldr     r12, [r0]
        add     lr,  r0,  #4
        ldm     lr,  {r0-r3}
        blx     r12
        add     sp,  sp,  #24
        ldr     r0,  [sp, #64]
        add     r1,  r0,  #136
        stm     r1,  {r4-r11}
        add     r1,  r0,  #168
        vstm    r1,  {d8-d15}
        vpop    {d8-d15}
        pop     {r0, r4-r11, pc}
endfunc
#endif

#if defined(__aarch64__)
function orv_checked_call
        sub     sp,  sp,  #176
        stp     x29, x30, [sp]
        stp     x19, x20, [sp, #16]
        stp     x21, x22, [sp, #32]
        stp     x23, x24, [sp, #48]
        stp     x25, x26, [sp, #64]
        stp     x27, x28, [sp, #80]
        stp     d8,  d9,  [sp, #96]
        stp     d10, d11, [sp, #112]
        stp     d12, d13, [sp, #128]
        stp     d14, d15, [sp, #144]
        str     x0,  [sp, #160]             // the record
        add     x9,  x0,  #80
        ldp     x19, x20, [x9]
        ldp     x21, x22, [x9, #16]
        ldp     x23, x24, [x9, #32]
        ldp     x25, x26, [x9, #48]
        ldp     x27, x28, [x9, #64]
        add     x9,  x0,  #160
        ldp     d8,  d9,  [x9]
        ldp     d10, d11, [x9, #16]
        ldp     d12, d13, [x9, #32]
        ldp     d14, d15, [x9, #48]
        sub     sp,  sp,  #16               // the ninth argument
        ldr     x9,  [x0, #72]
        str     x9,  [sp]
        ldr     x16, [x0]
        ldp     x6,  x7,  [x0, #56]
        ldp     x4,  x5,  [x0, #40]
        ldp     x2,  x3,  [x0, #24]
        ldp     x0,  x1,  [x0, #8]
        blr     x16
        add     sp,  sp,  #16
        ldr     x0,  [sp, #160]
        add     x9,  x0,  #224
        stp     x19, x20, [x9]
        stp     x21, x22, [x9, #16]
        stp     x23, x24, [x9, #32]
        stp     x25, x26, [x9, #48]
        stp     x27, x28, [x9, #64]
        add     x9,  x0,  #304
        stp     d8,  d9,  [x9]
        stp     d10, d11, [x9, #16]
        stp     d12, d13, [x9, #32]
        stp     d14, d15, [x9, #48]
        ldp     x19, x20, [sp, #16]
        ldp     x21, x22, [sp, #32]
        ldp     x23, x24, [sp, #48]
        ldp     x25, x26, [sp, #64]
        ldp     x27, x28, [sp, #80]
        ldp     d8,  d9,  [sp, #96]
        ldp     d10, d11, [sp, #112]
        ldp     d12, d13, [sp, #128]
        ldp     d14, d15, [sp, #144]
        ldp     x29, x30, [sp]
        add     sp,  sp,  #176
        ret
endfunc
#endif
