/* The x86 tiers' tables; whether the CPU runs them is the pick's question. */
#ifndef ORV_KERNELS_X86_H
#define ORV_KERNELS_X86_H

#include "kernels/kernels.h"

ORV_EXTERN_C_BEGIN

#if defined(__x86_64__) || defined(__i386__)
#define ORV_KERNELS_HAVE_X86 1
/* SSE4.1: rows only. AVX2: rows and row pairs. */
DeviceRowKernels orv_kernels_sse41(void);
DeviceRowKernels orv_kernels_avx2(void);
/* x86/turn.cpp: the turn stores of the SSE4.1 tier and of the AVX2 one. */
DeviceTurnKernels orv_turn_kernels_sse(void);
/* x86/copy.cpp: the C library's copy; the chroma split in vectors. */
DeviceCopyKernels orv_copy_kernels_sse41(void);
DeviceCopyKernels orv_copy_kernels_avx2(void);
DeviceTurnKernels orv_turn_kernels_avx2(void);
/* The 10-bit sets of one sample layout (DEVICE_SAMPLES_10_*); all null else. */
DeviceRowKernels orv_kernels_sse41_10(int samples);
DeviceRowKernels orv_kernels_avx2_10(int samples);
#endif

ORV_EXTERN_C_END

#endif /* ORV_KERNELS_X86_H */
