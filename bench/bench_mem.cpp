// Tracked allocation plus release against plain malloc plus free, and the
// zero-filled allocation the library uses throughout against calloc.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

namespace {

struct Runtime {
    Runtime() { orv_log_init(orv_log_null_sink, 0); }
};

template <bool Clear>
void tracked_pair(benchmark::State &state)
{
    static Runtime runtime; // the list mutex exists, as in a running library
    const auto size = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        void *p = Clear ? orv_mem_calloc_at(size, "./bench_mem.cpp", 22)
                        : orv_mem_alloc_at(size, "./bench_mem.cpp", 22);
        benchmark::DoNotOptimize(p);
        orv_mem_free(p);
    }
}

// Without a tag: what the list alone costs.
void untagged_pair(benchmark::State &state)
{
    static Runtime runtime;
    const auto size = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        void *p = orv_mem_alloc_tag(size, nullptr);
        benchmark::DoNotOptimize(p);
        orv_mem_free(p);
    }
}

template <bool Clear>
void plain_pair(benchmark::State &state)
{
    const auto size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void *p = Clear ? calloc(1, size) : malloc(size);
        benchmark::DoNotOptimize(p);
        free(p);
    }
}

} // namespace

BENCHMARK(tracked_pair<false>)
    ->Name("BM_alloc_free/ours")
    ->Arg(16)
    ->Arg(256)
    ->Arg(4096)
    ->Threads(1)
    ->Threads(2);
BENCHMARK(plain_pair<false>)
    ->Name("BM_alloc_free/malloc")
    ->Arg(16)
    ->Arg(256)
    ->Arg(4096)
    ->Threads(1)
    ->Threads(2);
BENCHMARK(untagged_pair)->Name("BM_alloc_free/untagged")->Arg(16)->Arg(256)->Arg(4096)->Threads(1);
BENCHMARK(tracked_pair<true>)
    ->Name("BM_calloc_free/ours")
    ->Arg(16)
    ->Arg(256)
    ->Arg(4096)
    ->Threads(1)
    ->Threads(2);
BENCHMARK(plain_pair<true>)
    ->Name("BM_calloc_free/calloc")
    ->Arg(16)
    ->Arg(256)
    ->Arg(4096)
    ->Threads(1)
    ->Threads(2);
