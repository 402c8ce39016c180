// Hash table lookups beside std::unordered_map. The table is created for 8192
// buckets (modulus 8191) and never grows, so past that count its chains
// lengthen: the "chain" counter shows the mean chain length.
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <algorithm>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "orv/orv_hash.h"

namespace {

constexpr uint32_t kTableSize = 8192;

// Address-like keys (16-byte aligned, as tracked blocks are), looked up in a
// fixed shuffled order shared by both containers.
std::vector<uintptr_t> numeric_keys(int64_t n)
{
    std::vector<uintptr_t> keys(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i)
        keys[static_cast<size_t>(i)] = 0x10000000u + static_cast<uintptr_t>(i) * 48u;
    return keys;
}

std::vector<std::string> text_keys(int64_t n)
{
    std::vector<std::string> keys;
    std::mt19937 rng(7);
    char text[33];
    for (int64_t i = 0; i < n; ++i) {
        snprintf(text, sizeof text, "%08x%08x%08x%08x", static_cast<unsigned>(rng()),
                 static_cast<unsigned>(rng()), static_cast<unsigned>(rng()), static_cast<unsigned>(i));
        keys.emplace_back(text);
    }
    return keys;
}

template <typename T>
std::vector<T> shuffled(std::vector<T> v)
{
    std::shuffle(v.begin(), v.end(), std::mt19937(11));
    return v;
}

void BM_find_num_ours(benchmark::State &state)
{
    const auto keys = numeric_keys(state.range(0));
    OrvHash *t = orv_hash_create(kTableSize);
    for (uintptr_t k : keys)
        orv_hash_insert(t, reinterpret_cast<void *>(k), k);
    const auto order = shuffled(keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(orv_hash_find(t, order[i]));
        if (++i == order.size())
            i = 0;
    }
    state.counters["chain"] = static_cast<double>(keys.size()) / orv_hash_modulus(t);
    orv_hash_destroy(t);
}

void BM_find_num_map(benchmark::State &state)
{
    const auto keys = numeric_keys(state.range(0));
    std::unordered_map<uintptr_t, void *> map;
    for (uintptr_t k : keys)
        map.emplace(k, reinterpret_cast<void *>(k));
    const auto order = shuffled(keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(order[i]));
        if (++i == order.size())
            i = 0;
    }
}

void BM_find_str_ours(benchmark::State &state)
{
    const auto keys = text_keys(state.range(0));
    OrvHash *t = orv_hash_create(kTableSize);
    for (const std::string &k : keys)
        orv_hash_insert_str(t, const_cast<char *>(k.c_str()), k.c_str());
    const auto order = shuffled(keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(orv_hash_find_str(t, order[i].c_str()));
        if (++i == order.size())
            i = 0;
    }
    state.counters["chain"] = static_cast<double>(keys.size()) / orv_hash_modulus(t);
    orv_hash_destroy(t);
}

void BM_find_str_map(benchmark::State &state)
{
    const auto keys = text_keys(state.range(0));
    std::unordered_map<std::string, const void *> map;
    for (const std::string &k : keys)
        map.emplace(k, k.c_str());
    const auto order = shuffled(keys);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(map.find(order[i]));
        if (++i == order.size())
            i = 0;
    }
}

} // namespace

BENCHMARK(BM_find_num_ours)->Name("BM_find_num/ours")->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_find_num_map)->Name("BM_find_num/unordered_map")->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_find_str_ours)->Name("BM_find_str/ours")->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_find_str_map)->Name("BM_find_str/unordered_map")->Arg(1000)->Arg(10000)->Arg(100000);
