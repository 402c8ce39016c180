// Tracked allocation plus release, or malloc plus free, N times on one
// thread, for instruction counts under callgrind: run it for N and 2N pairs
// and divide the difference by N (scripts/bench_mem_insns does), so start-up
// and the first allocations cancel out.
//   orv_mem_insns ours|malloc SIZE PAIRS
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

int main(int argc, char **argv)
{
    if (argc != 4 || (strcmp(argv[1], "ours") != 0 && strcmp(argv[1], "malloc") != 0)) {
        fprintf(stderr, "usage: %s ours|malloc SIZE PAIRS\n", argv[0]);
        return 2;
    }
    const bool ours = strcmp(argv[1], "ours") == 0;
    const auto size = static_cast<uint32_t>(strtoul(argv[2], nullptr, 10));
    const long pairs = strtol(argv[3], nullptr, 10);
    orv_log_init(orv_log_null_sink, 0);
    for (long i = 0; i < pairs; ++i) {
        void *p = ours ? orv_mem_alloc_at(size, "./mem_insns.cpp", 25) : malloc(size);
        // Kept from being folded away with its release.
        asm volatile("" : : "r"(p) : "memory");
        if (ours)
            orv_mem_free(p);
        else
            free(p);
    }
    orv_mem_shutdown();
    return 0;
}
