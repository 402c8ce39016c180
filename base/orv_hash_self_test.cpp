// The hash tables' self-test: times insertion, iteration and lookups of
// pointer or text keys against a list walk and an array read, reporting
// through the caller's printf-like function. Apart from the tables, so that
// the table code reads on its own. Everything it allocates is freed before
// it returns; takes no lock of its own.
#include <stdlib.h>
#include <string.h>

#include "orv/orv_gid.h"
#include "orv/orv_hash.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_clock_internal.hpp"

namespace {

constexpr int32_t kSelfTestMaxItems = 10000;
constexpr int kSelfTestRounds = 1000;
constexpr uint32_t kSelfTestItemSize = 64;

// Microseconds per round from two monotonic readings: a wall clock stepped
// between them would report nonsense.
double per(int64_t start_ns, int64_t stop_ns, int32_t n)
{
    return static_cast<double>(stop_ns - start_ns) / 1000.0 / n;
}

bool same_item(int text, const void *a, const void *b)
{
    return text ? strcmp(static_cast<const char *>(a), static_cast<const char *>(b)) == 0 : a == b;
}

} // namespace

extern "C" void orv_hash_self_test(int kind, int32_t count, OrvHashReport report)
{
    if (!report) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: orv_hash self_test: null report function");
        return;
    }
    const int text = kind != 0;
    count = count < 1 ? 1 : (count > kSelfTestMaxItems ? kSelfTestMaxItems : count);
    OrvHash *t = orv_hash_create(16384);
    auto **items = static_cast<char **>(ORV_CALLOC(sizeof(char *) * kSelfTestMaxItems));
    if (!t || !items) {
        orv_hash_destroy(t);
        orv_free(items);
        return;
    }
    report(text ? "string hash,sum = %d \r\n" : "pointer hash,sum = %d \r\n", count);
    int32_t made = 0;
    for (; made < count; ++made) {
        items[made] = static_cast<char *>(ORV_CALLOC(kSelfTestItemSize));
        if (!items[made])
            break;
        if (text) {
            GID gid;
            char *digits = orv_gid_to_text(orv_gid_generate(&gid));
            if (digits)
                memcpy(items[made], digits, ORV_GID_TEXT_DIGITS);
            orv_gid_free_text(&digits);
        }
    }
    count = made;
    if (count > 0) {
        const uint32_t mask = static_cast<uint32_t>(count - 1);
        int64_t start = orv::clock_monotonic_ns();
        for (int32_t i = 0; i < count; ++i) {
            if (text)
                orv_hash_insert_str(t, items[i], items[i]);
            else
                orv_hash_insert(t, items[i], reinterpret_cast<OrvHashKey>(items[i]));
        }
        report("add hash item: time elapsed = %f microsec\r\n", per(start, orv::clock_monotonic_ns(), count));

        start = orv::clock_monotonic_ns();
        for (int r = 0; r < kSelfTestRounds; ++r)
            for (void *v = orv_hash_first(t); v; v = orv_hash_next(t)) {
            }
        report("iterate hash: time elapsed = %f microsec\r\n",
               per(start, orv::clock_monotonic_ns(), kSelfTestRounds));

        start = orv::clock_monotonic_ns();
        for (int r = 0; r < kSelfTestRounds; ++r) {
            char *item = items[static_cast<uint32_t>(lrand48()) & mask];
            if (text)
                orv_hash_find_str(t, item);
            else
                orv_hash_find(t, reinterpret_cast<OrvHashKey>(item));
        }
        report("find hash item: time elapsed = %f microsec\r\n",
               per(start, orv::clock_monotonic_ns(), kSelfTestRounds));

        start = orv::clock_monotonic_ns();
        for (int r = 0; r < kSelfTestRounds; ++r) {
            char *item = items[static_cast<uint32_t>(lrand48()) & mask];
            for (void *v = orv_hash_first(t); v && !same_item(text, v, item); v = orv_hash_next(t)) {
            }
        }
        report("find list item: time elapsed = %f microsec\r\n",
               per(start, orv::clock_monotonic_ns(), kSelfTestRounds));

        start = orv::clock_monotonic_ns();
        volatile char *sink = nullptr;
        for (int r = 0; r < kSelfTestRounds; ++r)
            sink = items[static_cast<uint32_t>(lrand48()) & mask];
        (void)sink;
        report("find array item: time elapsed = %f microsec\r\n",
               per(start, orv::clock_monotonic_ns(), kSelfTestRounds));
    }
    for (int32_t i = 0; i < count; ++i)
        orv_mem_free(items[i]);
    orv_mem_free(items);
    orv_hash_destroy(t);
}
