// Memory stream appends beside std::vector: 100 MB in 1 KiB writes, each run
// starting from a new stream (65536 bytes) and a new vector.
#include <benchmark/benchmark.h>

#include <vector>

#include "orv/orv_io_stream.h"

namespace {

constexpr int64_t kTotal = 100 * 1000 * 1000;
constexpr int32_t kPiece = 1024;

void BM_append_ours(benchmark::State &state)
{
    std::vector<uint8_t> piece(kPiece, 0x5A);
    for (auto _ : state) {
        xio *io = ORV_IO_STREAM_CREATE();
        int32_t done = 0;
        for (int64_t n = 0; n < kTotal; n += kPiece)
            io->vt.write(io, piece.data(), kPiece, &done);
        benchmark::DoNotOptimize(io->vt.size(io));
        io->vt.release(io);
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
}

void BM_append_vector(benchmark::State &state)
{
    std::vector<uint8_t> piece(kPiece, 0x5A);
    for (auto _ : state) {
        std::vector<uint8_t> v;
        v.reserve(65536);
        for (int64_t n = 0; n < kTotal; n += kPiece)
            v.insert(v.end(), piece.begin(), piece.end());
        benchmark::DoNotOptimize(v.data());
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
}

} // namespace

BENCHMARK(BM_append_ours)->Name("BM_append_1k/ours/100MB")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_append_vector)->Name("BM_append_1k/vector/100MB")->Unit(benchmark::kMillisecond);
