// Calls a hand-written assembly function with known values in every
// register the calling convention says it must keep, and records them after
// the call: what it did not restore shows up as a difference. ARMv7 only
// (r4-r11, d8-d15); the AArch64 kernels are compiled code.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__arm__) && !defined(__aarch64__)
#define ORV_HAVE_CHECKED_CALL 1

struct CheckedCall {
    void (*fn)(void);
    uint32_t args[9];      // r0-r3, then up to five words on the stack
    uint32_t want_core[8]; // r4-r11 before the call
    uint64_t want_vfp[8];  // d8-d15 before the call
    uint32_t got_core[8];  // r4-r11 after it
    uint64_t got_vfp[8];   // d8-d15 after it
};
static_assert(offsetof(CheckedCall, want_core) == 40 && offsetof(CheckedCall, want_vfp) == 72 &&
                  offsetof(CheckedCall, got_core) == 136 && offsetof(CheckedCall, got_vfp) == 168,
              "checked_call.S reads the record at these offsets");

extern "C" void orv_checked_call(CheckedCall *call);
#endif
