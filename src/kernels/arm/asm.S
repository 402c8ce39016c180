/* Shared by every ARM assembly file (ARMv7 and AArch64): symbol markup and
 * the note that keeps the stack non-executable. Include it first. */
#ifndef ORV_KERNELS_ARM_ASM_S
#define ORV_KERNELS_ARM_ASM_S

#if defined(__ELF__)
        .section .note.GNU-stack, "", %progbits
#endif

#if defined(__arm__) || defined(__aarch64__)

#if defined(__aarch64__)
#define ORV_ALIGN 4
#else
#define ORV_ALIGN 2
#endif

/* function NAME[, export=1]: opens NAME in .text, hidden unless exported
 * (the library's C API), and defines an endfunc that sizes it. */
        .macro  function name, export=0
        .macro  endfunc
        .size   \name, . - \name
        .purgem endfunc
        .endm
        .text
        .p2align ORV_ALIGN
        .global \name
        .if     \export == 0
        .hidden \name
        .endif
        .type   \name, %function
\name:
        .endm

#endif
#endif
