#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <atomic>
#include <chrono>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_mutex.h"
#include "orv/orv_str.h"

namespace {

int call_vsnprintf(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = orv_vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

std::string ext_bytes(const OrvExtFloat &ext)
{
    char text[32];
    const uint8_t *b = ext.exponent;
    snprintf(text, sizeof text, "%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X", b[0], b[1],
             ext.mantissa[0], ext.mantissa[1], ext.mantissa[2], ext.mantissa[3], ext.mantissa[4],
             ext.mantissa[5], ext.mantissa[6], ext.mantissa[7]);
    return text;
}

} // namespace

TEST(Str, FormattingIsBounded)
{
    char buffer[12];
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(orv_snprintf(buffer, 8, "%s", "abcdefghij"), 10);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(buffer[7], 'X'); // the last byte is never written
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(orv_snprintf(buffer, 1, "%s", "a"), -1);
    EXPECT_EQ(orv_snprintf(nullptr, 8, "%s", "a"), -1);
    EXPECT_EQ(buffer[0], 'X');
    EXPECT_EQ(call_vsnprintf(buffer, 8, "%d-%d", 1234, 5678), 9);
    EXPECT_STREQ(buffer, "1234-5");

    // orv_sprintf truncates to its size and reports what it stored.
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(orv_sprintf(buffer, 4, "%s", "hello"), 3);
    EXPECT_STREQ(buffer, "hel");
    EXPECT_EQ(buffer[4], 'X');
    EXPECT_EQ(orv_sprintf(buffer, sizeof buffer, "%s::%d", "f", 12), 5);
    EXPECT_STREQ(buffer, "f::12");
    EXPECT_EQ(orv_sprintf(buffer, 0, "x"), -1);
    EXPECT_EQ(orv_sprintf(nullptr, 4, "x"), -1);

    char number[32];
    EXPECT_STREQ(orv_int_to_text(-2147483647 - 1, number), "-2147483648");
    EXPECT_STREQ(orv_int64_to_text(-1, number), "-1");
    EXPECT_STREQ(orv_uint64_to_text(static_cast<uint64_t>(int64_t{-1}), number), "18446744073709551615");
    EXPECT_STREQ(orv_int64_to_text(INT64_MIN, number), "-9223372036854775808");
}

TEST(Str, SizedCopiesNeverOverrun)
{
    char buffer[8];
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(orv_strlcpy(buffer, 4, "hello"), buffer);
    EXPECT_STREQ(buffer, "hel");
    EXPECT_EQ(buffer[4], 'X');
    orv_strlcpy(buffer, 1, "hello");
    EXPECT_STREQ(buffer, "");
    orv_strlcpy(buffer, 0, "hello"); // size 0 must not wrap to a huge count
    EXPECT_EQ(buffer[1], 'e');

    memset(buffer, 'X', sizeof buffer);
    orv_strcpy(buffer, 5, "abcdefgh");
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(buffer[5], 'X');
    orv_strcpy(buffer, 5, "ab");
    orv_strcat(buffer, 5, "cdef");
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(buffer[5], 'X');
    memset(buffer, 'Y', sizeof buffer);
    orv_strcat(buffer, 4, "z"); // no terminator inside size: nothing written
    EXPECT_EQ(std::string(buffer, 8), "YYYYYYYY");

    memset(buffer, 'X', sizeof buffer);
    orv_strncpy(buffer, 3, "abcdef", 6);
    EXPECT_EQ(std::string(buffer, 8), "abcXXXXX");
    orv_strncpy(buffer, 8, "ab", 5); // strncpy pads with zeros up to count
    EXPECT_EQ(std::string(buffer, 8), std::string("ab\0\0\0XXX", 8));

    char text[] = "Mixed 9\xC9\xE9z";
    EXPECT_STREQ(orv_strupr(text), "MIXED 9\xC9\xE9Z");
    EXPECT_STREQ(orv_strlwr(text), "mixed 9\xC9\xE9z");

    char *dup = orv_memdup_z("ab\0cd", 5);
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(memcmp(dup, "ab\0cd", 6), 0);
    free(dup);
}

TEST(Str, AlignedBlocks)
{
    EXPECT_EQ(orv_align_up(13, 8), 16u);
    EXPECT_EQ(orv_align_down(13, 8), 8u);
    EXPECT_EQ(orv_align_up(16, 8), 16u);

    for (uint32_t alignment : {1u, 2u, 16u, 64u, 4096u}) {
        size_t before = orv_mem_live_count();
        auto *p = static_cast<uint8_t *>(orv_aligned_alloc(100, 1, alignment, "./test_str.cpp", 7));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u);
        EXPECT_EQ(orv_mem_live_count(), before + 1);
        uintptr_t start, size;
        memcpy(&start, p - sizeof(uintptr_t), sizeof start);
        memcpy(&size, p - 2 * sizeof(uintptr_t), sizeof size);
        EXPECT_EQ(size, 100u);
        EXPECT_GE(reinterpret_cast<uintptr_t>(p), start + 16);
        EXPECT_LE(reinterpret_cast<uintptr_t>(p) + 100,
                  start + orv_mem_size(reinterpret_cast<void *>(start)));
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(p[i], 0);
        memset(p, 0xEE, 100);
        orv_aligned_free(p);
        EXPECT_EQ(orv_mem_live_count(), before);
    }
    EXPECT_EQ(orv_aligned_alloc(100, 0, 48, "./t", 1), nullptr);
    EXPECT_EQ(orv_aligned_alloc(UINT32_MAX - 20, 0, 64, "./t", 1), nullptr);
    orv_aligned_free(nullptr);
}

TEST(Str, IeeePatterns)
{
    EXPECT_EQ(orv_double_to_bits(1.0), 0x3FF0000000000000ull);
    EXPECT_EQ(orv_bits_to_double(0x3FF0000000000000ull), 1.0);
    EXPECT_EQ(orv_bits_to_double(0x7FF8000000000000ull), 0.0);
    EXPECT_EQ(orv_bits_to_double(0xFFF0000000000001ull), 0.0);
    EXPECT_EQ(orv_bits_to_double(0x7FF0000000000000ull), HUGE_VAL);
    EXPECT_EQ(orv_bits_to_double(0), 0.0);
    EXPECT_EQ(orv_double_to_bits(-HUGE_VAL), 0xFFF0000000000000ull);
    EXPECT_EQ(orv_double_to_bits(std::nan("")), 0x7FF0000000000001ull);
    EXPECT_EQ(orv_double_to_bits(-0.0), 0u);
    EXPECT_EQ(orv_float_to_bits(1.0f), 0x3F800000u);
    EXPECT_EQ(orv_float_to_bits(-HUGE_VALF), 0xFF800000u);
    EXPECT_EQ(orv_float_to_bits(std::nanf("")), 0x7F800001u);
    EXPECT_EQ(orv_bits_to_float(0x7FC00000u), 0.0f);
    EXPECT_EQ(orv_bits_to_float(0xC0490FDBu), -3.14159274f);

    // Every finite pattern, subnormals included, maps as the machine's own layout.
    std::mt19937_64 rng(5);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        if (i % 4 == 0)
            bits &= 0x800FFFFFFFFFFFFFull; // subnormal or zero
        double value = std::bit_cast<double>(bits);
        if (!std::isfinite(value) || value == 0)
            continue;
        ASSERT_EQ(orv_bits_to_double(bits), value) << std::hex << bits;
        ASSERT_EQ(orv_double_to_bits(value), bits) << std::hex << bits;
        auto fbits = static_cast<uint32_t>(bits >> 32);
        if (i % 4 == 0)
            fbits &= 0x807FFFFFu;
        float f = std::bit_cast<float>(fbits);
        if (!std::isfinite(f) || f == 0)
            continue;
        ASSERT_EQ(orv_bits_to_float(fbits), f) << std::hex << fbits;
        ASSERT_EQ(orv_float_to_bits(f), fbits) << std::hex << fbits;
    }
}

TEST(Str, ExtendedRecord)
{
    OrvExtFloat ext = orv_double_to_ext(44100.0);
    EXPECT_EQ(ext_bytes(ext), "40 0E AC 44 00 00 00 00 00 00");
    EXPECT_EQ(orv_ext_to_double(ext), 44100.0);
    EXPECT_EQ(ext_bytes(orv_double_to_ext(-1.0)), "BF FF 80 00 00 00 00 00 00 00");
    EXPECT_EQ(ext_bytes(orv_double_to_ext(0.0)), "00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(ext_bytes(orv_double_to_ext(-0.0)), "00 00 00 00 00 00 00 00 00 00");
    OrvExtFloat inf = orv_double_to_ext(-HUGE_VAL);
    EXPECT_EQ(ext_bytes(inf), "FF FF FF 00 00 00 00 00 00 00");
    EXPECT_EQ(orv_ext_to_double(inf), 0.0);

    std::mt19937_64 rng(11);
    for (int i = 0; i < 20000; ++i) {
        double value = std::bit_cast<double>(rng());
        if (!std::isfinite(value))
            continue;
        ASSERT_EQ(orv_ext_to_double(orv_double_to_ext(value)), value) << value;
    }
    // A 64-bit mantissa rounds to the nearest double.
    OrvExtFloat odd{{0x3F, 0xFF}, {0x80, 0, 0, 0, 0, 0, 0x04, 0x01}};
    EXPECT_EQ(orv_ext_to_double(odd), 1.0 + std::ldexp(1.0, -52));
}

TEST(Str, LockedFormattingWaitsForGlobalLock)
{
    ASSERT_EQ(orv_log_init(orv_log_null_sink, 0), ORV_OK);
    char buffer[16];
    std::atomic<int> written{-2};
    orv_global_lock();
    EXPECT_EQ(orv_sprintf(buffer, sizeof buffer, "%d", 42), 2); // recursive: the holder may format
    std::thread other([&] {
        char mine[16];
        written = orv_snprintf(mine, sizeof mine, "%s", "late");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(written.load(), -2);
    orv_global_unlock();
    other.join();
    EXPECT_EQ(written.load(), 4);
    orv_mem_shutdown();
    EXPECT_EQ(orv_sprintf(buffer, sizeof buffer, "%s", "after"), 5); // unlocked once the lock is gone
}
