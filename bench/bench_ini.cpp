// Writing and reading an XINI tree of about 1 MB of text through a memory
// stream, in MB/s of text.
#include <benchmark/benchmark.h>

#include <string>

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

} // namespace

BENCHMARK(BM_xini_write)->Name("BM_xini_write/ours/1MB")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_xini_read)->Name("BM_xini_read/ours/1MB")->Unit(benchmark::kMillisecond);
