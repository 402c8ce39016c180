// Calls a hand-written assembly function with known values in every
// register the calling convention says it must keep, and records them after
// the call: what it did not restore shows up as a difference. ARMv7 (r4-r11,
// d8-d15) and AArch64 (x19-x28, d8-d15).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__arm__) || defined(__aarch64__)
#define ORV_HAVE_CHECKED_CALL 1

#if defined(__aarch64__)
using CheckedWord = uint64_t;
constexpr int kCheckedCore = 10; // x19-x28
#else
using CheckedWord = uint32_t;
constexpr int kCheckedCore = 8; // r4-r11
#endif

struct CheckedCall {
    void (*fn)(void);
    CheckedWord args[9];                 // in registers, then on the stack
    CheckedWord want_core[kCheckedCore]; // before the call
    uint64_t want_vfp[8];                // d8-d15 before the call
    CheckedWord got_core[kCheckedCore];  // after it
    uint64_t got_vfp[8];                 // d8-d15 after it
};
#if defined(__aarch64__)
static_assert(offsetof(CheckedCall, want_core) == 80 && offsetof(CheckedCall, want_vfp) == 160 &&
                  offsetof(CheckedCall, got_core) == 224 && offsetof(CheckedCall, got_vfp) == 304,
              "checked_call.S reads the record at these offsets");
#else
static_assert(offsetof(CheckedCall, want_core) == 40 && offsetof(CheckedCall, want_vfp) == 72 &&
                  offsetof(CheckedCall, got_core) == 136 && offsetof(CheckedCall, got_vfp) == 168,
              "checked_call.S reads the record at these offsets");
#endif

extern "C" void orv_checked_call(CheckedCall *call);
#endif
