// Whole-file copy in the stream's 2048-byte chunks against a cp-style copy
// with a 64 KiB buffer, both through the page cache.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "orv/orv_io_file.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kFileBytes = 64u << 20;

// A 64 MB source in a private folder, removed when the run ends.
struct CopyFiles {
    fs::path dir, src, dst;
    CopyFiles()
    {
        std::string tmpl = (fs::temp_directory_path() / "orv_bench_copy_XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            return;
        dir = tmpl;
        src = dir / "src";
        dst = dir / "dst";
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = (char)(i * 31);
        int fd = open(src.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (size_t done = 0; fd >= 0 && done < kFileBytes; done += block.size())
            if (write(fd, block.data(), block.size()) != (ssize_t)block.size())
                break;
        if (fd >= 0)
            close(fd);
    }
    ~CopyFiles()
    {
        if (!dir.empty())
            fs::remove_all(dir);
    }
};

CopyFiles &files()
{
    static CopyFiles f;
    return f;
}

bool copy_64k(const char *from, const char *to)
{
    int in = open(from, O_RDONLY);
    int out = open(to, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    bool ok = in >= 0 && out >= 0;
    static char buffer[64 << 10];
    while (ok) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t put = 0; ok && put < n;) {
            ssize_t w = write(out, buffer + put, (size_t)(n - put));
            ok = w > 0;
            put += w;
        }
    }
    if (in >= 0)
        close(in);
    if (out >= 0)
        close(out);
    return ok;
}

void file_copy_ours(benchmark::State &state)
{
    CopyFiles &f = files();
    for (auto _ : state)
        if (orv_file_copy(f.src.c_str(), f.dst.c_str()) != ORV_OK)
            state.SkipWithError("copy failed");
    state.SetBytesProcessed((int64_t)(state.iterations() * kFileBytes));
}

void file_copy_64k(benchmark::State &state)
{
    CopyFiles &f = files();
    for (auto _ : state)
        if (!copy_64k(f.src.c_str(), f.dst.c_str()))
            state.SkipWithError("copy failed");
    state.SetBytesProcessed((int64_t)(state.iterations() * kFileBytes));
}

} // namespace

BENCHMARK(file_copy_ours)->Name("BM_file_copy/ours/64MB")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(file_copy_64k)->Name("BM_file_copy/cp_64k/64MB")->UseRealTime()->Unit(benchmark::kMillisecond);
