/* device_vstore / device_vload on x86-64: XMM0-XMM15 to and from 256 bytes.
 * Plain assembly, since a compiled body could itself use the registers it
 * is asked to copy. */
#if defined(__ELF__)
        .section .note.GNU-stack, "", %progbits
#endif

#if defined(__x86_64__)
        .text

/* rdi: the block */
        .p2align 4
        .globl  device_vstore
        .type   device_vstore, @function
device_vstore:
        movdqu  %xmm0,  0(%rdi)
        movdqu  %xmm1,  16(%rdi)
        movdqu  %xmm2,  32(%rdi)
        movdqu  %xmm3,  48(%rdi)
        movdqu  %xmm4,  64(%rdi)
        movdqu  %xmm5,  80(%rdi)
        movdqu  %xmm6,  96(%rdi)
        movdqu  %xmm7,  112(%rdi)
        movdqu  %xmm8,  128(%rdi)
        movdqu  %xmm9,  144(%rdi)
        movdqu  %xmm10, 160(%rdi)
        movdqu  %xmm11, 176(%rdi)
        movdqu  %xmm12, 192(%rdi)
        movdqu  %xmm13, 208(%rdi)
        movdqu  %xmm14, 224(%rdi)
        movdqu  %xmm15, 240(%rdi)
        ret
        .size   device_vstore, . - device_vstore

        .p2align 4
        .globl  device_vload
        .type   device_vload, @function
device_vload:
        movdqu  0(%rdi),   %xmm0
        movdqu  16(%rdi),  %xmm1
        movdqu  32(%rdi),  %xmm2
        movdqu  48(%rdi),  %xmm3
        movdqu  64(%rdi),  %xmm4
        movdqu  80(%rdi),  %xmm5
        movdqu  96(%rdi),  %xmm6
        movdqu  112(%rdi), %xmm7
        movdqu  128(%rdi), %xmm8
        movdqu  144(%rdi), %xmm9
        movdqu  160(%rdi), %xmm10
        movdqu  176(%rdi), %xmm11
        movdqu  192(%rdi), %xmm12
        movdqu  208(%rdi), %xmm13
        movdqu  224(%rdi), %xmm14
        movdqu  240(%rdi), %xmm15
        ret
        .size   device_vload, . - device_vload
#endif
