// Writing and reading an XINI tree of about 1 MB of text through a memory
// stream, in MB/s of text; and storing a 1 MiB binary block in a key, beside
// the same text cut into 64-character strings in a std::vector (the floor any
// split store pays).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "orv/orv_mem.h"
#include "orv/orv_text.h"

#include "orv/orv_ini.h"
#include "orv/orv_io_stream.h"

namespace {

// 100 sections of 200 keys with 40-character values: about 1.2 MB written.
XiniTree *build_tree()
{
    XiniTree *t = nullptr;
    orv_ini_open(nullptr, nullptr, XINI_OPEN_RW, nullptr, &t);
    const std::string value(40, 'v');
    for (int s = 0; s < 100; ++s) {
        XiniNode *section = nullptr;
        t->vt.create_key(t, nullptr, ("section" + std::to_string(s)).c_str(), nullptr, &section);
        for (int k = 0; k < 200; ++k)
            t->vt.create_key(t, section, ("key" + std::to_string(k)).c_str(), value.c_str(), nullptr);
    }
    return t;
}

void BM_xini_write(benchmark::State &state)
{
    XiniTree *t = build_tree();
    xio *out = ORV_IO_STREAM_CREATE();
    int64_t bytes = 0;
    for (auto _ : state) {
        out->vt.reset(out);
        t->vt.write_tree(t, out);
        bytes += out->vt.size(out);
    }
    state.SetBytesProcessed(bytes);
    state.counters["text_bytes"] = static_cast<double>(out->vt.size(out));
    out->vt.release(out);
    orv_ini_close(t);
}

void BM_xini_read(benchmark::State &state)
{
    XiniTree *t = build_tree();
    xio *text = ORV_IO_STREAM_CREATE();
    t->vt.write_tree(t, text);
    orv_ini_close(t);
    int64_t bytes = 0;
    for (auto _ : state) {
        XiniTree *back = nullptr;
        if (orv_ini_open(nullptr, text, XINI_READ_ONLY, nullptr, &back) != ORV_OK) {
            state.SkipWithError("open failed");
            break;
        }
        benchmark::DoNotOptimize(back->root);
        orv_ini_close(back);
        bytes += text->vt.size(text);
    }
    state.SetBytesProcessed(bytes);
    text->vt.release(text);
}

constexpr int32_t kBlob = 1 << 20;

std::vector<uint8_t> blob()
{
    std::vector<uint8_t> bytes(kBlob);
    for (int32_t i = 0; i < kBlob; ++i)
        bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    return bytes;
}

// Each round replaces the pieces the round before stored.
void BM_xini_set_binary_ours(benchmark::State &state, bool hex)
{
    XiniTree *t = nullptr;
    orv_ini_open(nullptr, nullptr, XINI_OPEN_RW, nullptr, &t);
    XiniNode *key = nullptr;
    t->vt.create_key(t, nullptr, "blob", nullptr, &key);
    const std::vector<uint8_t> bytes = blob();
    for (auto _ : state) {
        ResultCode rc = hex ? t->vt.set_binary_hex(t, key, kBlob, bytes.data())
                            : t->vt.set_binary_r64(t, key, kBlob, bytes.data());
        if (rc != ORV_OK) {
            state.SkipWithError("set failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlob);
    state.counters["pieces"] = key->subkey_count;
    orv_ini_close(t);
}

void BM_xini_set_binary_vector(benchmark::State &state, bool hex)
{
    const std::vector<uint8_t> bytes = blob();
    std::vector<std::string> pieces;
    for (auto _ : state) {
        char *text = nullptr;
        size_t length = 0;
        if (hex) {
            text = orv_hex_encode_alloc(kBlob, bytes.data());
            length = 2u * kBlob;
        } else {
            text = static_cast<char *>(ORV_CALLOC(orv_r64_size(kBlob)));
            orv_r64_encode(kBlob, bytes.data(), text);
            length = std::strlen(text);
        }
        pieces.clear();
        pieces.shrink_to_fit();
        for (size_t at = 0; at < length; at += 64)
            pieces.emplace_back(text + at, std::min<size_t>(64, length - at));
        orv_free(text);
        benchmark::DoNotOptimize(pieces.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlob);
}

} // namespace

BENCHMARK_CAPTURE(BM_xini_set_binary_ours, hex, true)
    ->Name("BM_xini_set_binary/ours/hex_1MiB")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_xini_set_binary_vector, hex, true)
    ->Name("BM_xini_set_binary/std_vector/hex_1MiB")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_xini_set_binary_ours, r64, false)
    ->Name("BM_xini_set_binary/ours/r64_1MiB")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_xini_set_binary_vector, r64, false)
    ->Name("BM_xini_set_binary/std_vector/r64_1MiB")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_xini_write)->Name("BM_xini_write/ours/1MB")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_xini_read)->Name("BM_xini_read/ours/1MB")->Unit(benchmark::kMillisecond);
