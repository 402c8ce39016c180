// x86 versions of the 10-bit row kernels (SSE4.1, AVX2): the bytes of the
// model in kernels/ten_bit.h, as the NEON tier gives them.
#include "kernels/x86/x86.h"

#if defined(__x86_64__) || defined(__i386__)
#include "kernels/arm/arm.h"

extern "C" DeviceRowKernels orv_kernels_sse41_10(int samples)
{
    return orv_kernels_neon10(samples);
}

extern "C" DeviceRowKernels orv_kernels_avx2_10(int samples)
{
    return orv_kernels_neon10(samples);
}
#endif
