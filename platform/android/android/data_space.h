/* The NDK's data space values, for builds off Android: the standard,
 * transfer and range fields a buffer's colour is described by, and the
 * combinations the render path uses. The values are the NDK's. */
#ifndef ANDROID_DATA_SPACE_H
#define ANDROID_DATA_SPACE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum ADataSpace {
    ADATASPACE_UNKNOWN = 0,

    ADATASPACE_STANDARD_MASK = 63 << 16,
    ADATASPACE_STANDARD_UNSPECIFIED = 0 << 16,
    ADATASPACE_STANDARD_BT709 = 1 << 16,
    ADATASPACE_STANDARD_BT601_625 = 2 << 16,
    ADATASPACE_STANDARD_BT601_625_UNADJUSTED = 3 << 16,
    ADATASPACE_STANDARD_BT601_525 = 4 << 16,
    ADATASPACE_STANDARD_BT601_525_UNADJUSTED = 5 << 16,
    ADATASPACE_STANDARD_BT2020 = 6 << 16,
    ADATASPACE_STANDARD_BT2020_CONSTANT_LUMINANCE = 7 << 16,

    ADATASPACE_TRANSFER_MASK = 31 << 22,
    ADATASPACE_TRANSFER_UNSPECIFIED = 0 << 22,
    ADATASPACE_TRANSFER_LINEAR = 1 << 22,
    ADATASPACE_TRANSFER_SRGB = 2 << 22,
    ADATASPACE_TRANSFER_SMPTE_170M = 3 << 22,

    ADATASPACE_RANGE_MASK = 7 << 27,
    ADATASPACE_RANGE_UNSPECIFIED = 0 << 27,
    ADATASPACE_RANGE_FULL = 1 << 27,
    ADATASPACE_RANGE_LIMITED = 2 << 27,
    ADATASPACE_RANGE_EXTENDED = 3 << 27,

    /* BT.601 625-line primaries, SMPTE 170M transfer, full range. */
    ADATASPACE_JFIF = 146931712,
    /* The same, limited range. */
    ADATASPACE_BT601_625 = 281149440,
    /* BT.601 525-line primaries, SMPTE 170M transfer, limited range. */
    ADATASPACE_BT601_525 = 281280512,
    /* BT.2020 primaries, SMPTE 170M transfer, full range. */
    ADATASPACE_BT2020 = 147193856,
    /* BT.709 primaries, SMPTE 170M transfer, limited range. */
    ADATASPACE_BT709 = 281083904,
};

#ifdef __cplusplus
}
#endif

#endif
