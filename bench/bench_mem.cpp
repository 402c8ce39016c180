// Tracked allocation plus release against plain malloc plus free.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

namespace {

struct Runtime {
    Runtime() { orv_log_init(orv_log_null_sink, 0); }
};

void tracked_pair(benchmark::State &state)
{
    static Runtime runtime;  // the list mutex exists, as in a running library
    const auto size = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        void *p = orv_mem_alloc_at(size, "./bench_mem.cpp", 20);
        benchmark::DoNotOptimize(p);
        orv_mem_free(p);
    }
}

void plain_pair(benchmark::State &state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void *p = malloc(size);
        benchmark::DoNotOptimize(p);
        free(p);
    }
}

}  // namespace

BENCHMARK(tracked_pair)->Name("BM_alloc_free/ours")->Arg(16)->Arg(256)->Arg(4096)->Threads(1)->Threads(2);
BENCHMARK(plain_pair)->Name("BM_alloc_free/malloc")->Arg(16)->Arg(256)->Arg(4096)->Threads(1)->Threads(2);
