// Formatting, the sized string family, aligned tracked blocks and IEEE 754
// conversions. Owns no state. The locked formatting calls take the global
// lock (recursive) because the platform's formatting is not assumed
// reentrant; everything else here takes no lock.
#include "orv/orv_str.h"

#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_mutex.h"
#include "orv_sync.hpp"

namespace {

using orv::GlobalLockGuard;

// vsnprintf into size bytes; the result is the length actually stored, so a
// caller that advances a cursor by it never steps past the buffer.
int bounded_vformat(char *buffer, size_t size, const char *format, va_list args)
{
    int n = vsnprintf(buffer, size, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        return n;
    }
    if (static_cast<size_t>(n) >= size)
        return static_cast<int>(size - 1);
    return n;
}

constexpr int kNumberTextSize = 32;

} // namespace

extern "C" {

int orv_sprintf(char *buffer, size_t size, const char *format, ...)
{
    if (buffer == nullptr || size == 0 || format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    int n;
    {
        GlobalLockGuard lock;
        n = bounded_vformat(buffer, size, format, args);
    }
    va_end(args);
    return n;
}

int orv_vsnprintf(char *buffer, size_t size, const char *format, va_list args)
{
    if (buffer == nullptr || size < 2 || format == nullptr)
        return -1;
    // size - 1: the buffer's last byte is never written.
    return vsnprintf(buffer, size - 1, format, args);
}

int orv_snprintf(char *buffer, size_t size, const char *format, ...)
{
    if (buffer == nullptr || size < 2 || format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    int n;
    {
        GlobalLockGuard lock;
        n = orv_vsnprintf(buffer, size, format, args);
    }
    va_end(args);
    return n;
}

int orv_fprintf(FILE *file, const char *format, ...)
{
    if (file == nullptr || format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    int n;
    {
        GlobalLockGuard lock;
        n = vfprintf(file, format, args);
    }
    va_end(args);
    return n;
}

int orv_printf(const char *format, ...)
{
    if (format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    int n = vprintf(format, args);
    va_end(args);
    return n;
}

int orv_sscanf(const char *text, const char *format, ...)
{
    if (text == nullptr || format == nullptr)
        return -1;
    va_list args;
    va_start(args, format);
    int n = vsscanf(text, format, args);
    va_end(args);
    return n;
}

char *orv_int_to_text(int32_t value, char *buffer)
{
    if (buffer == nullptr)
        return nullptr;
    orv_sprintf(buffer, kNumberTextSize, "%" PRId32, value);
    return buffer;
}

char *orv_int64_to_text(int64_t value, char *buffer)
{
    if (buffer == nullptr)
        return nullptr;
    orv_sprintf(buffer, kNumberTextSize, "%" PRId64, value);
    return buffer;
}

char *orv_uint64_to_text(uint64_t value, char *buffer)
{
    if (buffer == nullptr)
        return nullptr;
    orv_sprintf(buffer, kNumberTextSize, "%" PRIu64, value);
    return buffer;
}

long long orv_atoll(const char *text)
{
    return text == nullptr ? 0 : atoll(text);
}

// ---------------------------------------------------------------- strings

char *orv_strcpy(char *dest, size_t size, const char *src)
{
    return orv_strlcpy(dest, size, src);
}

char *orv_strncpy(char *dest, size_t size, const char *src, size_t count)
{
    if (dest == nullptr || src == nullptr)
        return dest;
    // strncpy pads to count bytes; never let that run past the destination.
    strncpy(dest, src, count < size ? count : size);
    return dest;
}

char *orv_strcat(char *dest, size_t size, const char *src)
{
    if (dest == nullptr || src == nullptr)
        return dest;
    size_t used = strnlen(dest, size);
    if (used < size)
        orv_strlcpy(dest + used, size - used, src);
    return dest;
}

char *orv_strncat(char *dest, const char *src, size_t count)
{
    if (dest == nullptr || src == nullptr)
        return dest;
    return strncat(dest, src, count);
}

char *orv_strlcpy(char *dest, size_t size, const char *src)
{
    if (dest == nullptr || size == 0)
        return dest;
    if (src == nullptr) {
        dest[0] = '\0';
        return dest;
    }
    size_t n = strnlen(src, size - 1);
    memcpy(dest, src, n);
    dest[n] = '\0';
    return dest;
}

char *orv_os_strdup(const char *text)
{
    return text == nullptr ? nullptr : strdup(text);
}

char *orv_memdup_z(const void *bytes, size_t n)
{
    if ((bytes == nullptr && n != 0) || n == SIZE_MAX)
        return nullptr;
    auto *copy = static_cast<char *>(malloc(n + 1));
    if (copy == nullptr)
        return nullptr;
    if (n != 0)
        memcpy(copy, bytes, n);
    copy[n] = '\0';
    return copy;
}

// ASCII only: the POSIX locale leaves bytes above 127 alone, and this does not
// depend on whatever locale the host process has set.
char *orv_strupr(char *text)
{
    if (text == nullptr)
        return nullptr;
    for (char *p = text; *p != '\0'; ++p)
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 'a' + 'A');
    return text;
}

char *orv_strlwr(char *text)
{
    if (text == nullptr)
        return nullptr;
    for (char *p = text; *p != '\0'; ++p)
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p - 'A' + 'a');
    return text;
}

char *orv_strcasestr(const char *text, const char *pattern)
{
    if (text == nullptr || pattern == nullptr)
        return nullptr;
    return const_cast<char *>(strcasestr(text, pattern));
}

// ------------------------------------------------------ memory and alignment

void *orv_aligned_alloc(uint32_t size, int clear, uint32_t alignment, const char *file, int line)
{
    if (alignment == 0 || (alignment & (alignment - 1)) != 0) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: aligned alloc: alignment %u is not a power of two",
                alignment);
        return nullptr;
    }
    uint64_t total = uint64_t{size} + alignment + 32;
    if (total > UINT32_MAX) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: aligned alloc: size %u with alignment %u too large", size,
                alignment);
        return nullptr;
    }
    auto *block = static_cast<uint8_t *>(orv_mem_alloc_at(static_cast<uint32_t>(total), file, line));
    if (block == nullptr)
        return nullptr;
    if (clear)
        memset(block, 0, static_cast<size_t>(total));
    uintptr_t start = reinterpret_cast<uintptr_t>(block);
    uintptr_t aligned = orv_align_down(start + alignment + 15, alignment);
    // Pointer-sized words: one 32-bit word each on the target, wider on 64-bit.
    uintptr_t size_word = size;
    memcpy(reinterpret_cast<void *>(aligned - sizeof(uintptr_t)), &start, sizeof start);
    memcpy(reinterpret_cast<void *>(aligned - 2 * sizeof(uintptr_t)), &size_word, sizeof size_word);
    return reinterpret_cast<void *>(aligned);
}

void orv_aligned_free(void *aligned)
{
    if (aligned == nullptr)
        return;
    uintptr_t start;
    memcpy(&start, static_cast<uint8_t *>(aligned) - sizeof(uintptr_t), sizeof start);
    orv_mem_free(reinterpret_cast<void *>(start));
}

uintptr_t orv_align_down(uintptr_t value, uintptr_t alignment)
{
    return value & (0 - alignment);
}

uintptr_t orv_align_up(uintptr_t value, uintptr_t alignment)
{
    return (value + alignment - 1) & (0 - alignment);
}

void *orv_page_alloc_data(size_t *size)
{
    return orv_page_alloc(size, 0);
}

void *orv_page_alloc_code(size_t *size)
{
    return orv_page_alloc(size, 1);
}

// ------------------------------------------------------- IEEE 754 patterns
// Built from frexp/ldexp rather than reinterpreting memory, so they hold
// wherever the platform's own double layout differs.

double orv_bits_to_double(uint64_t bits)
{
    if (bits + bits > 0xFFE0000000000000ull)
        return 0.0; // NaN
    int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    int64_t mantissa = static_cast<int64_t>(bits & 0xFFFFFFFFFFFFFull);
    // Exponent field 0 holds zero and the subnormals: no implicit integer bit.
    if (exponent == 0)
        exponent = 1;
    else
        mantissa += int64_t{1} << 52;
    if (bits >> 63)
        mantissa = -mantissa;
    return ldexp(static_cast<double>(mantissa), exponent - 1075);
}

float orv_bits_to_float(uint32_t bits)
{
    if (static_cast<uint32_t>(bits << 1) > 0xFF000000u)
        return 0.0f; // NaN
    int exponent = static_cast<int>((bits >> 23) & 0xFF);
    int32_t mantissa = static_cast<int32_t>(bits & 0x7FFFFF);
    if (exponent == 0)
        exponent = 1;
    else
        mantissa += 0x800000;
    if (bits >> 31)
        mantissa = -mantissa;
    return static_cast<float>(ldexp(static_cast<double>(mantissa), exponent - 150));
}

double orv_ext_to_double(OrvExtFloat ext)
{
    uint64_t mantissa = 0;
    for (uint8_t byte : ext.mantissa)
        mantissa = (mantissa << 8) | byte;
    int exponent = ((ext.exponent[0] & 0x7F) << 8) | ext.exponent[1];
    if (exponent == 0x7FFF && mantissa != 0)
        return 0.0; // infinity or NaN
    // The mantissa is unsigned (explicit integer bit in bit 63): convert it
    // as such, then apply the sign.
    double value = ldexp(static_cast<double>(mantissa), exponent - 16446);
    return (ext.exponent[0] & 0x80) ? -value : value;
}

uint64_t orv_double_to_bits(double value)
{
    if (value == 0)
        return 0;
    uint64_t sign = value < 0 ? 1 : 0;
    if (value - value != 0) { // infinity or NaN
        uint64_t bits = (sign << 63) | 0x7FF0000000000000ull;
        return std::isnan(value) ? bits + 1 : bits;
    }
    int exponent;
    double fraction = fabs(frexp(value, &exponent));
    if (exponent + 1022 <= 0) // subnormal: exponent field 0, fraction scaled by 2^1074
        return (sign << 63) | static_cast<uint64_t>(ldexp(fabs(value), 1074));
    return (sign << 63) | (static_cast<uint64_t>(exponent + 1022) << 52) |
           static_cast<uint64_t>(ldexp(fraction - 0.5, 53));
}

uint32_t orv_float_to_bits(float value)
{
    if (value == 0)
        return 0;
    uint32_t sign = value < 0 ? 1 : 0;
    if (value - value != 0) {
        uint32_t bits = (sign << 31) | 0x7F800000u;
        return std::isnan(value) ? bits + 1 : bits;
    }
    int exponent;
    double fraction = fabs(frexp(static_cast<double>(value), &exponent));
    if (exponent + 126 <= 0)
        return (sign << 31) | static_cast<uint32_t>(ldexp(fabs(static_cast<double>(value)), 149));
    return (sign << 31) | (static_cast<uint32_t>(exponent + 126) << 23) |
           static_cast<uint32_t>(ldexp(fraction - 0.5, 24));
}

OrvExtFloat orv_double_to_ext(double value)
{
    OrvExtFloat ext{};
    int exponent = 0;
    double fraction = fabs(frexp(value, &exponent));
    if (fraction >= 0.5 && fraction < 1) {
        exponent += 16382;
        ext.exponent[0] = static_cast<uint8_t>(exponent >> 8);
        ext.exponent[1] = static_cast<uint8_t>(exponent & 0xFF);
        uint64_t mantissa = static_cast<uint64_t>(ldexp(fraction, 64));
        for (int i = 7; i >= 0; --i) {
            ext.mantissa[i] = static_cast<uint8_t>(mantissa & 0xFF);
            mantissa >>= 8;
        }
    } else if (fraction != 0) { // infinity or NaN
        ext.exponent[0] = 0x7F;
        ext.exponent[1] = 0xFF;
        ext.mantissa[0] = 0xFF;
    }
    if (value < 0)
        ext.exponent[0] |= 0x80;
    return ext;
}

} // extern "C"
