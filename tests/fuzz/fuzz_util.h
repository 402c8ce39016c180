// Small helpers shared by the fuzz targets: a terminated copy of the input,
// a byte reader for the parameters some targets draw from it, and a loud
// failure that libFuzzer records as a crash.
#ifndef ORV_FUZZ_UTIL_H
#define ORV_FUZZ_UTIL_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

[[noreturn]] inline void fuzz_fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::fputs("fuzz: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

// The input as a text that ends at its first zero byte or at its end.
inline std::string fuzz_text(const uint8_t *data, size_t size)
{
    return std::string(reinterpret_cast<const char *>(data),
                       strnlen(reinterpret_cast<const char *>(data), size));
}

// Draws small numbers from the front of the input; zeros once it runs out.
struct FuzzBytes {
    const uint8_t *data;
    size_t size;

    uint32_t byte() { return size ? (--size, *data++) : 0u; }
    uint32_t u16() { return byte() | byte() << 8; }
    uint32_t u32() { return u16() | u16() << 16; }
    // A value in [0, bound).
    uint32_t below(uint32_t bound) { return bound ? u32() % bound : 0u; }
};

#endif
