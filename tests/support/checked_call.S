/* orv_checked_call (checked_call.h): r0 the record. Registers:
 *   r4-r11, d8-d15  the record's known values across the call
 *   r12             the function; lr the argument words while loading them */
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
