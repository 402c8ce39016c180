#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "orv/orv_hash.h"
#include "orv/orv_mem.h"
#include "orv_clock_internal.hpp"

namespace {

// Reference model of the folding hash, written independently of the table's
// in-place version: remainders of the little-endian words, refolded in pairs.
uint32_t fold_reference(const std::string &text, uint32_t modulus)
{
    std::string padded = text;
    padded.resize((text.size() + 3) / 4 * 4, '\0');
    std::vector<uint32_t> numbers;
    for (size_t i = 0; i < padded.size(); i += 4) {
        uint32_t w = 0;
        for (int b = 3; b >= 0; --b)
            w = (w << 8) | static_cast<uint8_t>(padded[i + b]);
        numbers.push_back(w % modulus);
    }
    while (numbers.size() > 1) {
        std::vector<uint32_t> next;
        for (size_t i = 0; i < numbers.size(); i += 2) {
            const uint32_t high = i + 1 < numbers.size() ? numbers[i + 1] : 0;
            next.push_back((numbers[i] | (high << 16)) % modulus);
        }
        numbers.swap(next);
    }
    return numbers.empty() ? 0 : numbers[0];
}

std::vector<uintptr_t> walk_keys(OrvHash *t)
{
    std::vector<uintptr_t> keys;
    for (OrvHashEntry *e = orv_hash_first_entry(t); e; e = orv_hash_next_entry(t)) {
        OrvHashKey k = 0;
        orv_hash_entry_fields(e, nullptr, &k, nullptr, nullptr, nullptr);
        keys.push_back(k);
    }
    return keys;
}

void *val(uintptr_t v)
{
    return reinterpret_cast<void *>(v);
}

TEST(Hash, SizeClassesAndTextBuckets)
{
    const struct {
        uint32_t asked, slots, modulus;
    } rows[] = {{0, 8192, 8191},    {1, 128, 127},      {128, 128, 127},       {129, 256, 251},
                {1024, 1024, 1021}, {5000, 8192, 8191}, {65536, 65536, 65521}, {100000, 65536, 65521}};
    for (const auto &r : rows) {
        OrvHash *t = orv_hash_create(r.asked);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(orv_hash_bucket_slots(t), r.slots) << r.asked;
        EXPECT_EQ(orv_hash_modulus(t), r.modulus) << r.asked;
        EXPECT_EQ(orv_hash_count(t), 0);
        orv_hash_destroy(t);
    }

    OrvHash *small = orv_hash_create(128);
    OrvHash *mid = orv_hash_create(8192);
    EXPECT_EQ(orv_hash_bucket_str(small, "abc"), 54u);
    EXPECT_EQ(orv_hash_bucket_str(small, "abcdefgh"), 65u);
    EXPECT_EQ(orv_hash_bucket_str(mid, "abcdefgh"), 4967u);
    // The empty text always lands in bucket 0, whatever was hashed before.
    EXPECT_EQ(orv_hash_bucket_str(mid, ""), 0u);
    EXPECT_EQ(orv_hash_bucket_str(mid, "abcdefgh"), 4967u);
    EXPECT_EQ(orv_hash_bucket_str(mid, ""), 0u);
    EXPECT_EQ(orv_hash_bucket_str(mid, nullptr), UINT32_MAX);

    // Odd word counts, odd refold counts, and keys past the 2048-byte scratch.
    for (size_t len : {1u, 5u, 9u, 13u, 21u, 100u, 2047u, 2048u, 2049u, 5000u, 9001u}) {
        std::string key;
        for (size_t i = 0; i < len; ++i)
            key.push_back(static_cast<char>('!' + (i * 37 + len) % 90));
        EXPECT_EQ(orv_hash_bucket_str(small, key.c_str()), fold_reference(key, 127)) << len;
        EXPECT_EQ(orv_hash_bucket_str(mid, key.c_str()), fold_reference(key, 8191)) << len;
        ASSERT_EQ(orv_hash_insert_str(mid, val(len), key.c_str()), ORV_OK);
        EXPECT_EQ(orv_hash_find_str(mid, key.c_str()), val(len));
    }
    ASSERT_EQ(orv_hash_insert_str(mid, val(77), ""), ORV_OK);
    EXPECT_EQ(orv_hash_find_str(mid, ""), val(77));
    orv_hash_destroy(small);
    orv_hash_destroy(mid);
}

TEST(Hash, NumericKeysChainsAndWalk)
{
    OrvHash *t = orv_hash_create(128);
    EXPECT_EQ(orv_hash_insert(t, val(1), 5), ORV_OK);
    EXPECT_EQ(orv_hash_insert(t, val(2), 5), ORV_FAIL);
    EXPECT_EQ(orv_hash_count(t), 1);
    EXPECT_EQ(orv_hash_find(t, 5), val(1));

    // 9 occupies its bucket first, then 5's chain grows: 5, 132, 259.
    ASSERT_EQ(orv_hash_remove(t, 5), val(1));
    ASSERT_EQ(orv_hash_insert(t, val(9), 9), ORV_OK);
    ASSERT_EQ(orv_hash_insert(t, val(5), 5), ORV_OK);
    ASSERT_EQ(orv_hash_insert(t, val(132), 132), ORV_OK);
    ASSERT_EQ(orv_hash_insert(t, val(259), 259), ORV_OK);
    ASSERT_EQ(orv_hash_insert(t, val(20), 20), ORV_OK);
    EXPECT_EQ(walk_keys(t), (std::vector<uintptr_t>{9, 5, 132, 259, 20}));

    // Removing the chain head: the successor keeps the head's place.
    EXPECT_EQ(orv_hash_remove(t, 5), val(5));
    EXPECT_EQ(orv_hash_find(t, 132), val(132));
    EXPECT_EQ(walk_keys(t), (std::vector<uintptr_t>{9, 132, 259, 20}));
    // A middle and a lone head.
    EXPECT_EQ(orv_hash_remove(t, 259), val(259));
    EXPECT_EQ(orv_hash_remove(t, 9), val(9));
    EXPECT_EQ(walk_keys(t), (std::vector<uintptr_t>{132, 20}));
    EXPECT_EQ(orv_hash_remove(t, 9), nullptr);
    EXPECT_EQ(orv_hash_count(t), 2);
    // An emptied bucket that fills again goes to the end of the walk.
    ASSERT_EQ(orv_hash_insert(t, val(9), 9), ORV_OK);
    EXPECT_EQ(orv_hash_remove(t, 132), val(132));
    ASSERT_EQ(orv_hash_insert(t, val(132), 132), ORV_OK);
    ASSERT_EQ(orv_hash_insert(t, val(5), 5), ORV_OK);
    EXPECT_EQ(walk_keys(t), (std::vector<uintptr_t>{20, 9, 132, 5}));

    EXPECT_EQ(orv_hash_set(t, val(42), 132), ORV_OK);
    EXPECT_EQ(orv_hash_find(t, 132), val(42));
    EXPECT_EQ(orv_hash_set(t, val(42), 7), ORV_FAIL);

    // The value walk ends at the first null value.
    ASSERT_EQ(orv_hash_set(t, nullptr, 132), ORV_OK);
    EXPECT_EQ(orv_hash_first(t), val(20));
    EXPECT_EQ(orv_hash_next(t), val(9));
    EXPECT_EQ(orv_hash_next(t), nullptr);

    // Removing what the cursor names keeps the walk on the remaining entries.
    ASSERT_EQ(orv_hash_set(t, val(132), 132), ORV_OK);
    EXPECT_EQ(orv_hash_first(t), val(20));
    EXPECT_EQ(orv_hash_remove(t, 9), val(9));
    EXPECT_EQ(orv_hash_next(t), val(132));
    EXPECT_EQ(orv_hash_remove(t, 5), val(5));
    EXPECT_EQ(orv_hash_next(t), nullptr);
    EXPECT_EQ(orv_hash_first(t), val(20));
    EXPECT_EQ(orv_hash_remove(t, 132), val(132));
    EXPECT_EQ(orv_hash_next(t), nullptr);
    ASSERT_EQ(orv_hash_insert(t, val(5), 5), ORV_OK);

    if (sizeof(OrvHashKey) == 8) {
        // Keys are pointer-wide: the high half counts.
        const OrvHashKey high = static_cast<OrvHashKey>(UINT64_C(0x100000005));
        ASSERT_EQ(orv_hash_insert(t, val(6), high), ORV_OK);
        EXPECT_EQ(orv_hash_find(t, high), val(6));
        EXPECT_EQ(orv_hash_find(t, 5), val(5));
    }
    EXPECT_EQ(orv_hash_insert(nullptr, val(1), 1), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_hash_find(nullptr, 1), nullptr);
    orv_hash_destroy(t);
    orv_hash_destroy(nullptr);
}

TEST(Hash, TextKeys)
{
    OrvHash *t = orv_hash_create(128);
    EXPECT_EQ(orv_hash_insert_str(t, val(1), "alpha"), ORV_OK);
    EXPECT_EQ(orv_hash_insert_str(t, val(2), "alpha"), ORV_FAIL);
    EXPECT_EQ(orv_hash_count(t), 1);
    char key[] = "beta";
    ASSERT_EQ(orv_hash_insert_str(t, val(2), key), ORV_OK);
    key[0] = 'x'; // the table keeps its own copy
    EXPECT_EQ(orv_hash_find_str(t, "beta"), val(2));
    EXPECT_EQ(orv_hash_find_str(t, "xeta"), nullptr);
    EXPECT_EQ(orv_hash_find_str(t, "alph"), nullptr);
    EXPECT_EQ(orv_hash_set_str(t, val(3), "beta"), ORV_OK);
    EXPECT_EQ(orv_hash_find_str(t, "beta"), val(3));
    EXPECT_EQ(orv_hash_set_str(t, val(3), "gamma"), ORV_FAIL);

    // Many texts in few buckets: every one findable and removable.
    for (int i = 0; i < 600; ++i)
        ASSERT_EQ(orv_hash_insert_str(t, val(1000 + i), ("key" + std::to_string(i)).c_str()), ORV_OK);
    EXPECT_EQ(orv_hash_count(t), 602);
    int walked = 0;
    for (OrvHashEntry *e = orv_hash_first_entry(t); e; e = orv_hash_next_entry(t))
        ++walked;
    EXPECT_EQ(walked, 602);
    for (int i = 0; i < 600; i += 2)
        ASSERT_EQ(orv_hash_remove_str(t, ("key" + std::to_string(i)).c_str()), val(1000 + i));
    for (int i = 0; i < 600; ++i)
        ASSERT_EQ(orv_hash_find_str(t, ("key" + std::to_string(i)).c_str()), i % 2 ? val(1000 + i) : nullptr);
    EXPECT_EQ(orv_hash_remove_str(t, "alpha"), val(1));
    EXPECT_EQ(orv_hash_remove_str(t, "alpha"), nullptr);
    EXPECT_EQ(orv_hash_count(t), 301);
    EXPECT_EQ(orv_hash_insert_str(t, val(1), nullptr), ORV_ERR_INVALID_PARAM);
    orv_hash_destroy(t);
}

TEST(Hash, BlobsAndClone)
{
    OrvHash *t = orv_hash_create(128);
    const char bytes[4] = {1, 2, 3, 4};
    ASSERT_EQ(orv_hash_insert_blob(t, bytes, 4, 10), ORV_OK);
    ASSERT_EQ(orv_hash_insert_blob(t, nullptr, 3, 11), ORV_OK);
    ASSERT_EQ(orv_hash_insert_blob(t, nullptr, 0, 12), ORV_OK);
    EXPECT_EQ(orv_hash_insert_blob(t, bytes, 4, 10), ORV_FAIL);
    EXPECT_EQ(orv_hash_insert_blob(t, bytes, -1, 13), ORV_ERR_INVALID_PARAM);

    int32_t len = -1;
    auto *blob = static_cast<char *>(orv_hash_get_blob(t, 10, &len));
    ASSERT_NE(blob, nullptr);
    EXPECT_NE(static_cast<const void *>(blob), static_cast<const void *>(bytes));
    EXPECT_EQ(len, 4);
    EXPECT_EQ(memcmp(blob, bytes, 4), 0);
    blob = static_cast<char *>(orv_hash_get_blob(t, 11, &len));
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(blob[0] | blob[1] | blob[2], 0);
    EXPECT_NE(orv_hash_get_blob(t, 12, &len), nullptr);
    EXPECT_EQ(len, 0);
    len = 99;
    EXPECT_EQ(orv_hash_get_blob(t, 99, &len), nullptr);
    EXPECT_EQ(len, 99);

    const char other[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(orv_hash_set_blob(t, other, 5, 10), ORV_FAIL);
    EXPECT_EQ(memcmp(orv_hash_get_blob(t, 10, &len), bytes, 4), 0);
    EXPECT_EQ(orv_hash_set_blob(t, other, 4, 10), ORV_OK);
    EXPECT_EQ(memcmp(orv_hash_get_blob(t, 10, &len), other, 4), 0);
    EXPECT_EQ(orv_hash_set_blob(t, other, 4, 99), ORV_FAIL);

    OrvHash *s = orv_hash_create(128);
    ASSERT_EQ(orv_hash_insert_blob_str(s, nullptr, 0, "empty"), ORV_OK);
    len = 7;
    EXPECT_EQ(orv_hash_get_blob_str(s, "empty", &len), nullptr);
    EXPECT_EQ(len, 0);
    ASSERT_EQ(orv_hash_insert_blob_str(s, bytes, 4, "four"), ORV_OK);
    EXPECT_EQ(orv_hash_set_blob_str(s, other, 5, "four"), ORV_OK);
    blob = static_cast<char *>(orv_hash_get_blob_str(s, "four", &len));
    EXPECT_EQ(len, 5);
    EXPECT_EQ(memcmp(blob, other, 5), 0);
    EXPECT_EQ(orv_hash_set_blob_str(s, bytes, 2, "empty"), ORV_OK);
    blob = static_cast<char *>(orv_hash_get_blob_str(s, "empty", &len));
    EXPECT_EQ(len, 2);
    EXPECT_EQ(memcmp(blob, bytes, 2), 0);
    EXPECT_EQ(orv_hash_set_blob_str(s, bytes, 2, "none"), ORV_FAIL);
    ASSERT_EQ(orv_hash_insert_str(s, val(5), "plain"), ORV_OK);

    // Clones copy blobs and share values, in both key kinds.
    for (OrvHash *src : {t, s}) {
        OrvHash *c = orv_hash_clone(src);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(orv_hash_count(c), orv_hash_count(src));
        EXPECT_EQ(orv_hash_bucket_slots(c), orv_hash_bucket_slots(src));
        orv_hash_destroy(c);
    }
    OrvHash *c = orv_hash_clone(s);
    blob = static_cast<char *>(orv_hash_get_blob_str(c, "four", &len));
    ASSERT_NE(blob, nullptr);
    EXPECT_NE(blob, orv_hash_get_blob_str(s, "four", nullptr));
    EXPECT_EQ(len, 5);
    EXPECT_EQ(memcmp(blob, other, 5), 0);
    EXPECT_EQ(orv_hash_find_str(c, "plain"), val(5));
    orv_hash_destroy(c);
    c = orv_hash_clone(t);
    EXPECT_EQ(memcmp(orv_hash_get_blob(c, 10, &len), other, 4), 0);
    EXPECT_NE(orv_hash_get_blob(c, 12, &len), nullptr);
    orv_hash_destroy(c);
    orv_hash_destroy(t);
    orv_hash_destroy(s);
}

int g_released = 0;
void count_release(void *v)
{
    g_released += static_cast<int>(reinterpret_cast<uintptr_t>(v));
}

std::vector<std::string> g_report;
int capture(const char *format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    g_report.push_back(line);
    return 0;
}

int64_t g_falling_us = 1'700'000'000'000'000;
int64_t falling_wall()
{
    return g_falling_us -= 1'000'000;
}

TEST(Hash, ReleaseLeakAndSelfTest)
{
    const size_t live = orv_mem_live_count();
    OrvHash *t = orv_hash_create(0);
    for (uintptr_t k = 1; k <= 20000; ++k) // past the modulus: chains of two or three
        ASSERT_EQ(orv_hash_insert(t, val(1), k * 3), ORV_OK);
    ASSERT_EQ(orv_hash_insert_str(t, val(1), std::string(3000, 'k').c_str()), ORV_OK);
    EXPECT_EQ(orv_hash_find(t, 3 * 17777), val(1));
    g_released = 0;
    orv_hash_destroy_with(t, count_release);
    EXPECT_EQ(g_released, 20001);
    EXPECT_EQ(orv_mem_live_count(), live);

    for (int kind : {0, 1}) {
        g_report.clear();
        orv_hash_self_test(kind, 64, capture);
        ASSERT_EQ(g_report.size(), 6u);
        EXPECT_EQ(g_report[0], kind ? "string hash,sum = 64 \r\n" : "pointer hash,sum = 64 \r\n");
        EXPECT_EQ(g_report[1].rfind("add hash item: time elapsed = ", 0), 0u);
        EXPECT_EQ(g_report[5].rfind("find array item: time elapsed = ", 0), 0u);
    }
    // Timings from a wall clock that falls a second at every reading: each
    // is still a small non-negative span.
    const orv::WallClockSource old = orv::clock_set_wall_source(falling_wall);
    g_report.clear();
    orv_hash_self_test(0, 64, capture);
    orv::clock_set_wall_source(old);
    ASSERT_EQ(g_report.size(), 6u);
    for (size_t i = 1; i < g_report.size(); ++i) {
        const size_t at = g_report[i].find("= ");
        ASSERT_NE(at, std::string::npos) << g_report[i];
        const double us = std::strtod(g_report[i].c_str() + at + 2, nullptr);
        EXPECT_GE(us, 0.0) << g_report[i];
        EXPECT_LT(us, 1e6) << g_report[i];
    }

    g_report.clear();
    orv_hash_self_test(0, 0, capture);
    ASSERT_FALSE(g_report.empty());
    EXPECT_EQ(g_report[0], "pointer hash,sum = 1 \r\n");
    EXPECT_EQ(orv_mem_live_count(), live);
}

} // namespace
