#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

namespace {

std::vector<std::string> g_lines;
int capture(const char *text)
{
    g_lines.emplace_back(text);
    return 0;
}

// Each test starts with a fresh list and ends with the leak report.
struct Tracked : ::testing::Test {
    void SetUp() override
    {
        g_lines.clear();
        ASSERT_EQ(orv_log_init(capture, 0), ORV_OK);
    }
    void TearDown() override { orv_mem_shutdown(); }
};

} // namespace

TEST_F(Tracked, HeaderLayoutAndLimits)
{
    EXPECT_GE(orv_mem_header_size, 4 * sizeof(void *) + 4);
    EXPECT_EQ(orv_mem_max_size, 0x7FFFFFFFu - orv_mem_header_size);
    if (sizeof(void *) == 4) {
        EXPECT_EQ(orv_mem_max_size, 0x7FFFFFEBu);
    }
    EXPECT_EQ(orv_mem_alloc_tag(orv_mem_max_size + 1, "x"), nullptr);
    EXPECT_EQ(orv_mem_alloc_tag(0xFFFFFFFFu, "x"), nullptr);
    EXPECT_EQ(orv_malloc(0x7FFFFFF0u), nullptr);
    EXPECT_EQ(orv_mem_live_count(), 0u);

    // Size 0 still gives a unique, freeable pointer; data is aligned for any type.
    void *top = orv_mem_alloc_tag(orv_mem_max_size, nullptr); // may fail for want of memory, never crash
    orv_free(top);
    void *a = orv_mem_alloc_tag(0, nullptr);
    void *b = orv_mem_alloc_tag(0, nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    for (uint32_t size : {1u, 3u, 17u, 100u}) {
        void *p = orv_calloc(size);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
        EXPECT_EQ(orv_mem_size(p), size);
        orv_free(p);
    }
    orv_mem_free(a);
    orv_mem_free(b);
    EXPECT_EQ(orv_mem_live_count(), 0u);
}

TEST_F(Tracked, ListStaysLinkedWhateverIsFreed)
{
    void *p[3];
    for (auto &q : p)
        q = orv_malloc(8);
    EXPECT_EQ(orv_mem_live_count(), 3u);
    orv_mem_free(p[2]); // the last: the second becomes last
    void *d = orv_malloc(8);
    orv_mem_free(p[0]); // the first: the second becomes first
    EXPECT_EQ(orv_mem_live_count(), 2u);
    orv_mem_free(p[1]);
    orv_mem_free(d);
    EXPECT_EQ(orv_mem_live_count(), 0u);
    void *only = orv_malloc(4);
    orv_mem_free(only);
    EXPECT_EQ(orv_mem_live_count(), 0u);

    orv_free(nullptr);
    void *none = nullptr;
    orv_free_ptr(&none);
    orv_free_ptr(nullptr);
    void *held = orv_malloc(4);
    orv_free_ptr(&held);
    EXPECT_EQ(held, nullptr);
    EXPECT_EQ(orv_mem_live_count(), 0u);
}

TEST_F(Tracked, ResizeCopyAndDuplicate)
{
    auto *p = static_cast<char *>(orv_mem_realloc_tag(nullptr, 8, "t"));
    ASSERT_NE(p, nullptr);
    memcpy(p, "abcdefgh", 8);
    auto *q = static_cast<char *>(orv_mem_realloc_tag(p, 4, "t"));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(orv_mem_size(q), 4u);
    EXPECT_EQ(memcmp(q, "abcd", 4), 0);
    auto *r = static_cast<char *>(orv_mem_realloc_at(q, 16, "./r", 3));
    EXPECT_EQ(memcmp(r, "abcd", 4), 0);
    orv_free(r);

    EXPECT_EQ(orv_mem_copy("abc", 0), nullptr);
    EXPECT_EQ(orv_mem_copy("abc", -1), nullptr);
    EXPECT_EQ(orv_mem_copy(nullptr, 3), nullptr);
    auto *c = static_cast<char *>(orv_mem_copy("abc", 3));
    EXPECT_EQ(orv_mem_size(c), 3u);
    orv_free(c);

    char *s = orv_strdup("hello");
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(orv_mem_size(s), 6u);
    char *n = orv_mem_strndup_at("hello", 2, "./x", 1);
    EXPECT_STREQ(n, "he");
    char *t = orv_mem_strdup_tag("tag", "t");
    EXPECT_STREQ(t, "tag");
    orv_free(s);
    orv_free(n);
    orv_free(t);

    // orv_realloc gives a cleared block and copies only what the old one holds.
    auto *small = static_cast<char *>(orv_malloc(4));
    memset(small, 0x5A, 4);
    auto *big = static_cast<char *>(orv_realloc(small, 100, 64));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big[3], 0x5A);
    EXPECT_EQ(big[4], 0);
    EXPECT_EQ(big[63], 0);
    orv_free(big);
    EXPECT_EQ(orv_mem_live_count(), 0u);
}

TEST_F(Tracked, GrowRule)
{
    uint32_t cap = 100;
    void *p = orv_calloc(100);
    EXPECT_EQ(orv_mem_grow(p, &cap, 99), p);
    EXPECT_EQ(cap, 100u);
    static_cast<char *>(p)[0] = 7;
    p = orv_mem_grow(p, &cap, 100);
    EXPECT_EQ(cap, 128u);
    EXPECT_EQ(static_cast<char *>(p)[0], 7);
    p = orv_mem_grow(p, &cap, 1000);
    EXPECT_EQ(cap, 1280u);
    EXPECT_EQ(orv_mem_size(p), 1280u);
    orv_free(p);
    // Overflowing growth falls back to the needed size (which is then too large).
    uint32_t big = 16;
    void *q = orv_calloc(16);
    EXPECT_EQ(orv_mem_grow(q, &big, 0xF0000000u), nullptr);
    EXPECT_EQ(big, 16u); // a failed grow keeps the old capacity and block
    orv_free(q);
}

TEST_F(Tracked, LeakReportNamesEachTaggedBlockOnce)
{
    void *p = orv_mem_calloc_at(12, "./x", 12);
    void *r = orv_mem_realloc_at(nullptr, 5, "./y", 7);
    orv_mem_alloc_tag(3, nullptr); // untagged: freed without a report
    ASSERT_TRUE(p && r);
    orv_mem_shutdown();
    ASSERT_EQ(g_lines.size(), 2u);
    char expected[256];
    snprintf(expected, sizeof expected, "memory manage: 0x%lX , 12 bytes, context = ./x::12, ",
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)));
    EXPECT_EQ(g_lines[0], expected);
    EXPECT_NE(g_lines[1].find("context = ./y-7, "), std::string::npos);
    EXPECT_EQ(orv_mem_live_count(), 0u);
}

TEST_F(Tracked, LongTagsAreCut)
{
    std::string path(400, 'p');
    void *p = orv_mem_alloc_at(1, path.c_str(), 5);
    ASSERT_NE(p, nullptr);
    orv_mem_shutdown();
    ASSERT_EQ(g_lines.size(), 1u);
    const std::string &line = g_lines[0];
    const size_t at = line.find("context = ") + 10;
    EXPECT_EQ(line.size() - at - 2, 255u);

    // A caller's own tag is cut the same way.
    g_lines.clear();
    ASSERT_EQ(orv_log_init(capture, 0), ORV_OK);
    const std::string tag(400, 't');
    ASSERT_NE(orv_mem_alloc_tag(1, tag.c_str()), nullptr);
    ASSERT_NE(orv_mem_strdup_tag("x", tag.c_str()), nullptr);
    orv_mem_shutdown();
    ASSERT_EQ(g_lines.size(), 2u);
    for (const std::string &report : g_lines)
        EXPECT_NE(report.find("context = " + tag.substr(0, 255) + ", "), std::string::npos) << report.size();
}

TEST_F(Tracked, RepeatedTagsFollowTheFileText)
{
    // A thread's first tag may name no file; a file buffer rewritten in
    // place, same pointer and line, gets the new text.
    std::thread([] { ASSERT_NE(orv_mem_alloc_at(1, nullptr, 0), nullptr); }).join();
    char file[8] = "./a";
    ASSERT_NE(orv_mem_alloc_at(1, file, 3), nullptr);
    file[2] = 'b';
    ASSERT_NE(orv_mem_alloc_at(1, file, 3), nullptr);
    strcpy(file, "./ab");
    ASSERT_NE(orv_mem_alloc_at(1, file, 3), nullptr);
    // The same file and line as a resize tag and back.
    ASSERT_NE(orv_mem_realloc_at(nullptr, 1, file, 3), nullptr);
    ASSERT_NE(orv_mem_alloc_at(1, file, 3), nullptr);
    ASSERT_NE(orv_mem_realloc_at(nullptr, 1, file, 3), nullptr);
    orv_mem_shutdown();
    const char *const contexts[] = {"::0", "./a::3", "./b::3", "./ab::3", "./ab-3", "./ab::3", "./ab-3"};
    ASSERT_EQ(g_lines.size(), std::size(contexts));
    for (size_t i = 0; i < g_lines.size(); ++i)
        EXPECT_NE(g_lines[i].find(std::string("context = ") + contexts[i] + ", "), std::string::npos)
            << g_lines[i];
}

TEST_F(Tracked, RewrittenFileTextIsSeenAtAnyAlignment)
{
    // One changed character anywhere in the file text, a shorter or a
    // longer text, at every offset within a machine word, makes a new tag.
    alignas(16) char buffer[320];
    std::vector<std::string> expected;
    auto make = [&](const char *file) {
        ASSERT_NE(orv_mem_alloc_at(1, file, 5), nullptr);
        expected.push_back((std::string(file) + "::5").substr(0, 255));
    };
    for (size_t skew = 0; skew < 8; ++skew)
        for (size_t length : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 24u}) {
            char *file = buffer + skew;
            memset(buffer, 'x', sizeof buffer);
            memset(file, 'a', length);
            file[length] = '\0';
            make(file);
            for (size_t k : {size_t{0}, length / 2, length - 1}) {
                file[k] = static_cast<char>('b' + k % 20);
                make(file);
            }
            file[length - 1] = '\0'; // shorter
            if (length > 1)
                make(file);
            file[length - 1] = 'z'; // as long again
            make(file);
            file[length] = 'y'; // longer
            file[length + 1] = '\0';
            make(file);
        }
    memset(buffer, 'p', sizeof buffer);
    buffer[300] = '\0';
    make(buffer);
    buffer[100] = 'q'; // within the first 255 characters
    make(buffer);
    orv_mem_shutdown();
    ASSERT_EQ(g_lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_NE(g_lines[i].find("context = " + expected[i] + ", "), std::string::npos)
            << i << ": " << g_lines[i];
}

namespace {

// The tag's line number of each report line naming file, in report order.
std::vector<int> lines_of(const std::string &file)
{
    std::vector<int> lines;
    const std::string key = "context = " + file + "::";
    for (const std::string &line : g_lines)
        if (const size_t at = line.find(key); at != std::string::npos)
            lines.push_back(atoi(line.c_str() + at + key.size()));
    return lines;
}

} // namespace

TEST_F(Tracked, ReportKeepsEachThreadsOrderAndNamesEachBlockOnce)
{
    // Threads made one after another (some on this one) leak blocks; one is
    // freed. Each thread's blocks come in its own order, each exactly once.
    std::vector<void *> made;
    for (int i = 0; i < 12; ++i) {
        auto make = [&made, i] {
            const char *file = i % 3 == 0 ? "./main" : "./other";
            made.push_back(orv_mem_alloc_at(8, file, 2 * i));
            made.push_back(orv_mem_alloc_at(8, file, 2 * i + 1));
            orv_free(orv_malloc(8));
        };
        if (i % 3 == 0)
            make();
        else
            std::thread(make).join();
    }
    orv_free(made[8]); // ./other::8
    EXPECT_EQ(orv_mem_live_count(), 23u);
    orv_mem_shutdown();
    ASSERT_EQ(g_lines.size(), 23u);
    EXPECT_EQ(lines_of("./main"), (std::vector<int>{0, 1, 6, 7, 12, 13, 18, 19}));
    // Each new thread takes a shard, which advances the tick: threads that
    // follow one another are in order too.
    EXPECT_EQ(lines_of("./other"), (std::vector<int>{2, 3, 4, 5, 9, 10, 11, 14, 15, 16, 17, 20, 21, 22, 23}));
}

TEST_F(Tracked, BlocksATickApartAreReportedInAllocationOrderAcrossThreads)
{
    ASSERT_NE(orv_mem_alloc_at(8, "./a", 1), nullptr);
    std::thread([] { ASSERT_NE(orv_mem_alloc_at(8, "./a", 2), nullptr); }).join();
    // 64 blocks made here advance the tick at least once.
    for (int i = 0; i < 64; ++i)
        orv_free(orv_malloc(8));
    ASSERT_NE(orv_mem_alloc_at(8, "./a", 3), nullptr);
    std::thread([] { ASSERT_NE(orv_mem_alloc_at(8, "./a", 4), nullptr); }).join();
    orv_mem_shutdown();
    EXPECT_EQ(lines_of("./a"), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(Tracked, SeveralThreadsLeakingAreReportedInTheirOwnOrder)
{
    // Threads allocate at once; some blocks are freed by their own thread,
    // some by another thread while the owner runs, some after it ended. Each
    // thread's survivors are reported in its order, each once.
    constexpr int kThreads = 4, kBlocks = 600;
    static const char *const kFiles[kThreads] = {"./s0", "./s1", "./s2", "./s3"};
    std::vector<std::vector<void *>> blocks(kThreads, std::vector<void *>(kBlocks));
    std::atomic<int> arrived{0};
    auto meet = [&arrived](int round) {
        arrived.fetch_add(1);
        while (arrived.load() < round * kThreads)
            std::this_thread::yield();
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            auto &mine = blocks[t];
            for (int i = 0; i < kBlocks; ++i) {
                mine[i] = orv_mem_alloc_at(1 + i % 40, kFiles[t], i);
                ASSERT_NE(mine[i], nullptr);
                if (i % 5 == 0) {
                    orv_mem_free(mine[i]);
                    mine[i] = nullptr;
                }
            }
            meet(1);
            // Every seventh block of the next thread, which still runs.
            auto &next = blocks[(t + 1) % kThreads];
            for (int i = 1; i < kBlocks; i += 7)
                if (next[i]) {
                    orv_mem_free(next[i]);
                    next[i] = nullptr;
                }
            meet(2);
            // Makes a block after the others' releases, then frees it.
            orv_free(orv_malloc(8));
        });
    for (auto &t : threads)
        t.join();
    // Blocks of threads that ended.
    for (int i = 2; i < kBlocks; i += 11)
        if (blocks[0][i]) {
            orv_mem_free(blocks[0][i]);
            blocks[0][i] = nullptr;
        }
    size_t survivors = 0;
    std::vector<std::vector<int>> expected(kThreads);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kBlocks; ++i)
            if (blocks[t][i]) {
                expected[t].push_back(i);
                ++survivors;
            }
    EXPECT_EQ(orv_mem_live_count(), survivors);
    orv_mem_shutdown();
    EXPECT_EQ(g_lines.size(), survivors);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(lines_of(kFiles[t]), expected[t]) << kFiles[t];
    EXPECT_EQ(orv_mem_live_count(), 0u);
}

TEST_F(Tracked, ThreadsThatComeAndGoKeepTheirBlocks)
{
    // Shards of ended threads are taken over by new ones: the old blocks stay
    // listed and can be freed from anywhere.
    std::vector<std::pair<void *, int>> left; // block and its line
    for (int round = 0; round < 40; ++round) {
        std::vector<std::thread> threads;
        std::vector<void *> made(3);
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&made, t, round] {
                made[t] = orv_mem_alloc_at(16, "./churn", 3 * round + t);
                orv_free(orv_malloc(16));
            });
        for (auto &t : threads)
            t.join();
        // Two of the blocks left so far are freed: one here, one on a thread
        // of its own.
        if (!left.empty()) {
            orv_free(left.back().first);
            left.pop_back();
        }
        if (!left.empty()) {
            void *p = left.front().first;
            left.erase(left.begin());
            std::thread([p] { orv_free(p); }).join();
        }
        for (int t = 0; t < 3; ++t) {
            ASSERT_NE(made[t], nullptr);
            left.emplace_back(made[t], 3 * round + t);
        }
    }
    EXPECT_EQ(orv_mem_live_count(), left.size());
    orv_mem_shutdown();
    std::vector<int> reported = lines_of("./churn");
    EXPECT_EQ(g_lines.size(), left.size());
    // A round's threads start after the last round's ended: rounds are in order.
    for (size_t i = 1; i < reported.size(); ++i)
        EXPECT_LE(reported[i - 1] / 3, reported[i] / 3) << i;
    std::vector<int> expected;
    for (const auto &kept : left)
        expected.push_back(kept.second);
    std::sort(expected.begin(), expected.end());
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, expected);
}

TEST_F(Tracked, BlocksForgottenByAFreshStartCanStillBeFreed)
{
    void *old = orv_malloc(8); // listed, then forgotten by the next start
    ASSERT_EQ(orv_log_init(capture, 0), ORV_OK);
    void *a = orv_malloc(8);
    void *b = orv_malloc(8);
    orv_free(old); // must not touch the new list
    EXPECT_EQ(orv_mem_live_count(), 2u);
    orv_free(a);
    EXPECT_EQ(orv_mem_live_count(), 1u);
    orv_mem_shutdown();
    EXPECT_EQ(g_lines.size(), 1u);
    (void)b;
}

TEST_F(Tracked, ManyThreadsAllocateAndFree)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                void *a = orv_malloc(static_cast<uint32_t>(i % 64));
                void *b = orv_calloc(32);
                orv_free(a);
                orv_free(b);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(orv_mem_live_count(), 0u);
}

TEST_F(Tracked, ThreadsKeepTheirBlocksApart)
{
    // Allocate, grow, copy and free from several threads while another walks
    // the list; the survivors keep their bytes and the report names each once.
    constexpr int kThreads = 4, kRounds = 1500, kKeepEvery = 100;
    static const char *const kFiles[kThreads] = {"./t0.cpp", "./t1.cpp", "./t2.cpp", "./t3.cpp"};
    std::vector<std::vector<unsigned char *>> kept(kThreads);
    std::atomic<bool> done{false};
    std::thread walker([&done] {
        while (!done.load())
            (void)orv_mem_live_count();
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &kept] {
            for (int i = 0; i < kRounds; ++i) {
                const uint32_t size = 1 + static_cast<uint32_t>(i % 200);
                auto *p = static_cast<unsigned char *>(orv_mem_alloc_at(size, kFiles[t], i));
                ASSERT_NE(p, nullptr);
                memset(p, 0x10 + t, size);
                p = static_cast<unsigned char *>(orv_mem_realloc_at(p, 2 * size, kFiles[t], i));
                ASSERT_NE(p, nullptr);
                memset(p + size, 0x10 + t, size);
                char *copy = orv_mem_strdup_at("copy", kFiles[t], -i);
                ASSERT_NE(copy, nullptr);
                orv_mem_free(copy);
                for (uint32_t k = 0; k < 2 * size; ++k)
                    ASSERT_EQ(p[k], 0x10 + t) << "thread " << t << " round " << i;
                if (i % kKeepEvery == 0)
                    kept[t].push_back(p);
                else
                    orv_mem_free(p);
            }
        });
    for (auto &t : threads)
        t.join();
    done = true;
    walker.join();

    size_t survivors = 0;
    for (int t = 0; t < kThreads; ++t) {
        survivors += kept[t].size();
        for (unsigned char *p : kept[t])
            for (uint32_t k = 0; k < orv_mem_size(p); ++k)
                ASSERT_EQ(p[k], 0x10 + t);
    }
    EXPECT_EQ(orv_mem_live_count(), survivors);
    orv_mem_shutdown();
    ASSERT_EQ(g_lines.size(), survivors);
    for (int t = 0; t < kThreads; ++t) {
        size_t named = 0;
        for (const std::string &line : g_lines)
            named += line.find(std::string("context = ") + kFiles[t]) != std::string::npos;
        EXPECT_EQ(named, kept[t].size()) << kFiles[t];
    }
}

TEST(PageAlloc, RoundsToPages)
{
    size_t size = 10;
    void *p = orv_page_alloc(&size, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(size, 4096u);
    EXPECT_EQ(size % 4096, 0u);
    static_cast<char *>(p)[size - 1] = 1;
    EXPECT_EQ(orv_page_free(p, size), 0);
}
