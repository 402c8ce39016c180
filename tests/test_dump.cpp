#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "orv/orv_dump.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_log_internal.hpp"

namespace {

std::vector<std::string> g_android;
int fake_android(int, const char *, const char *text)
{
    g_android.emplace_back(text);
    return 1;
}
// For the threaded tests: g_android is not for several writers.
int quiet_android(int, const char *, const char *)
{
    return 1;
}

struct Dump : ::testing::Test {
    void SetUp() override
    {
        g_android.clear();
        old_ = orv::log_set_android_writer(fake_android);
        log_ = orv_dump_log_create();
        ASSERT_NE(log_, nullptr);
    }
    void TearDown() override
    {
        orv_dump_log_destroy(log_);
        orv::log_set_android_writer(old_);
    }
    std::string read_all()
    {
        uint32_t size = 0;
        EXPECT_EQ(orv_dump_log_read(log_, nullptr, &size), ORV_OK);
        std::string text(size, '\0');
        if (size > 0) {
            EXPECT_EQ(orv_dump_log_read(log_, text.data(), &size), ORV_OK);
        }
        return text;
    }
    bool android_saw(const std::string &piece)
    {
        for (const std::string &line : g_android)
            if (line.find(piece) != std::string::npos)
                return true;
        return false;
    }
    orv::AndroidWriter old_{};
    orv_dump_log *log_ = nullptr;
};

TEST_F(Dump, WriteAndReadOnce)
{
    EXPECT_EQ(orv_dump_log_write("x"), ORV_ERR_INVALID_PARAM); // nothing attached yet
    ASSERT_EQ(orv_dump_log_attach(log_), ORV_OK);
    EXPECT_EQ(orv_dump_log_write(nullptr), ORV_ERR_INVALID_PARAM);

    char buffer[64];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(orv_dump_log_read(log_, buffer, &size), ORV_ERR_IO_READ);
    EXPECT_TRUE(android_saw("VRV: VR: orv_dump_log stream read:3"));

    ASSERT_EQ(orv_dump_log_write("first;"), ORV_OK);
    ASSERT_EQ(orv_dump_log_write("second;"), ORV_OK);
    size = 0;
    ASSERT_EQ(orv_dump_log_read(log_, nullptr, &size), ORV_OK);
    EXPECT_EQ(size, 13u);
    ASSERT_EQ(orv_dump_log_read(log_, nullptr, &size), ORV_OK); // a size query leaves the text
    EXPECT_EQ(size, 13u);
    memset(buffer, 'Z', sizeof buffer);
    ASSERT_EQ(orv_dump_log_read(log_, buffer, &size), ORV_OK);
    EXPECT_EQ(std::string(buffer, 13), "first;second;");
    EXPECT_EQ(buffer[13], 'Z'); // exactly size bytes, no terminator past them
    EXPECT_EQ(size, 13u);
    EXPECT_EQ(read_all(), "");

    // A short buffer takes the front; the rest stays and new lines follow it.
    ASSERT_EQ(orv_dump_log_write("0123456789"), ORV_OK);
    size = 4;
    ASSERT_EQ(orv_dump_log_read(log_, buffer, &size), ORV_OK);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    ASSERT_EQ(orv_dump_log_write("ab"), ORV_OK);
    EXPECT_EQ(read_all(), "456789ab");

    // A larger buffer is zero-terminated after the text; *size is unchanged.
    ASSERT_EQ(orv_dump_log_write("tail"), ORV_OK);
    size = sizeof buffer;
    ASSERT_EQ(orv_dump_log_read(log_, buffer, &size), ORV_OK);
    EXPECT_STREQ(buffer, "tail");
    EXPECT_EQ(size, sizeof buffer);

    // Past the first 64 KiB the stream grows.
    const std::string line(1000, 'q');
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(orv_dump_log_write(line.c_str()), ORV_OK);
    EXPECT_EQ(read_all().size(), 100000u);

    EXPECT_EQ(orv_dump_log_read(nullptr, buffer, &size), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_dump_log_read(log_, buffer, nullptr), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_dump_log_attach(nullptr), ORV_ERR_INVALID_PARAM);
}

TEST_F(Dump, OrvLogAppendsAndDestroyDetaches)
{
    ASSERT_EQ(orv_dump_log_attach(log_), ORV_OK);
    orv_log(LOG_TO_DUMP, ORV_ERR_IO, "VRE: VR: dumped %d", 7);
    orv_log(LOG_TO_ANDROID, ORV_ERR_IO, "VRE: VR: android only");
    orv_log(3, ORV_FAIL, "VRE: VR: both");
    const std::string text = read_all();
    EXPECT_NE(text.find("ERR=0x80000c01,ORV_ERR_IO, INF=VRE: VR: dumped 7"), std::string::npos) << text;
    EXPECT_EQ(text.find("android only"), std::string::npos);
    EXPECT_NE(text.find("INF=VRE: VR: both"), std::string::npos);
    EXPECT_LT(text.find("dumped 7"), text.find("both"));
    EXPECT_TRUE(android_saw("both"));

    orv_dump_log *other = orv_dump_log_create();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(orv_dump_log_attach(other), ORV_OK);
    orv_dump_log_destroy(log_); // not attached: the attachment stays
    log_ = nullptr;
    EXPECT_EQ(orv_dump_log_write("kept"), ORV_OK);
    orv_dump_log_destroy(other); // attached: writes now find nothing
    EXPECT_EQ(orv_dump_log_write("lost"), ORV_ERR_INVALID_PARAM);
    orv_log(LOG_TO_DUMP, ORV_FAIL, "VRE: VR: nowhere");
    orv_dump_log_destroy(nullptr);
}

std::string numbered_line(int i)
{
    char line[101];
    snprintf(line, sizeof line, "%-99d|", i);
    return line;
}

TEST_F(Dump, CapDropsTheOldestLinesAndSaysSo)
{
    ASSERT_EQ(orv_dump_log_attach(log_), ORV_OK);
    EXPECT_EQ(orv_dump_log_set_cap(nullptr, 4096), ORV_ERR_INVALID_PARAM);
    ASSERT_EQ(orv_dump_log_set_cap(log_, 2000), ORV_OK);
    std::string kept;
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(orv_dump_log_write(numbered_line(i).c_str()), ORV_OK);
        if (i >= 10)
            kept += numbered_line(i);
    }
    const std::string note = "VRV: VR: orv_dump_log dropped 10 lines;";
    EXPECT_EQ(read_all(), note + kept);
    ASSERT_EQ(orv_dump_log_write("a"), ORV_OK);
    EXPECT_EQ(read_all(), "a"); // the note comes once

    // A line longer than the whole cap keeps its beginning.
    const std::string big = std::string(1500, 'b') + std::string(1500, 'c');
    ASSERT_EQ(orv_dump_log_write(big.c_str()), ORV_OK);
    EXPECT_EQ(read_all(), big.substr(0, 2000));

    // A lower cap drops at once; the note survives reads that cut it.
    ASSERT_EQ(orv_dump_log_set_cap(log_, 8000), ORV_OK);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(orv_dump_log_write(numbered_line(i).c_str()), ORV_OK);
    ASSERT_EQ(orv_dump_log_set_cap(log_, 1), ORV_OK); // raised to 1024
    std::string rest;
    for (int i = 30; i < 40; ++i)
        rest += numbered_line(i);
    char front[10];
    uint32_t size = sizeof front;
    ASSERT_EQ(orv_dump_log_read(log_, front, &size), ORV_OK);
    EXPECT_EQ(std::string(front, 10), "VRV: VR: o");
    ASSERT_EQ(orv_dump_log_write("z"), ORV_OK);
    EXPECT_EQ(read_all(), "rv_dump_log dropped 30 lines;" + rest + "z");
}

TEST_F(Dump, DefaultCapBoundsALogNobodyReads)
{
    ASSERT_EQ(orv_dump_log_attach(log_), ORV_OK);
    const std::string line(1000, 'q');
    for (int i = 0; i < 4000; ++i) // about 4 MB
        ASSERT_EQ(orv_dump_log_write(line.c_str()), ORV_OK);
    ASSERT_EQ(orv_dump_log_write("last"), ORV_OK);
    const std::string text = read_all();
    const std::string note = "VRV: VR: orv_dump_log dropped ";
    ASSERT_EQ(text.compare(0, note.size(), note), 0);
    const size_t body = text.size() - text.find(';') - 1;
    EXPECT_LE(body, size_t(ORV_DUMP_LOG_DEFAULT_CAP));
    EXPECT_GT(body, size_t(ORV_DUMP_LOG_DEFAULT_CAP) - 1000);
    EXPECT_EQ(body % 1000, 4u); // whole lines only, then "last"
    EXPECT_EQ(text.substr(text.size() - 4), "last");
    const unsigned dropped = unsigned(std::stoul(text.substr(note.size())));
    EXPECT_EQ(dropped * 1000 + body, 4000u * 1000 + 4);
}

// A minimal framework component holding attributes keyed by GID.
struct FakeAttributes {
    OrvAttributeSlots slots;
    GID key;
    orv_dump_log *value;
    uint32_t value_size;
    int released;
};
struct FakeComponent {
    OrvComponentSlots slots;
    FakeAttributes *attributes;
    void *seen_a;
    void *seen_b;
};

int32_t fake_get(OrvAttributeSlots *self, GID key, void *buffer, uint32_t *size)
{
    auto *a = reinterpret_cast<FakeAttributes *>(self);
    if (!orv_gid_equal(key, a->key) || *size < a->value_size)
        return -1;
    memcpy(buffer, &a->value, a->value_size);
    *size = a->value_size;
    return 0;
}
void fake_release(OrvAttributeSlots *self)
{
    ++reinterpret_cast<FakeAttributes *>(self)->released;
}
OrvAttributeSlots *fake_attributes(OrvComponentSlots *self, void *a, void *b)
{
    auto *c = reinterpret_cast<FakeComponent *>(self);
    c->seen_a = a;
    c->seen_b = b;
    return c->attributes ? &c->attributes->slots : nullptr;
}

TEST_F(Dump, AttachFromComponent)
{
    FakeAttributes attrs{{fake_get, fake_release}, ORV_ID_DUMP_LOG_CTX, log_, sizeof(void *), 0};
    FakeComponent component{{fake_attributes}, &attrs, nullptr, nullptr};
    int a = 0, b = 0;
    ASSERT_EQ(orv_dump_log_attach_from(&component.slots, &a, &b), ORV_OK);
    EXPECT_EQ(component.seen_a, &a);
    EXPECT_EQ(component.seen_b, &b);
    EXPECT_EQ(attrs.released, 1);
    ASSERT_EQ(orv_dump_log_write("via component"), ORV_OK);
    EXPECT_EQ(read_all(), "via component");

    // No such attribute, or no attribute interface: nothing changes.
    orv_dump_log *other = orv_dump_log_create();
    attrs.key = ORV_GID_UNKNOWN;
    attrs.value = other;
    EXPECT_EQ(orv_dump_log_attach_from(&component.slots, nullptr, nullptr), ORV_OK);
    EXPECT_EQ(attrs.released, 2);
    component.attributes = nullptr;
    EXPECT_EQ(orv_dump_log_attach_from(&component.slots, nullptr, nullptr), ORV_OK);
    ASSERT_EQ(orv_dump_log_write("still here"), ORV_OK);
    EXPECT_EQ(read_all(), "still here");

    // A stored null detaches and says so.
    component.attributes = &attrs;
    attrs.key = ORV_ID_DUMP_LOG_CTX;
    attrs.value = nullptr;
    EXPECT_EQ(orv_dump_log_attach_from(&component.slots, nullptr, nullptr), ORV_ERR_NOT_IMP);
    EXPECT_EQ(orv_dump_log_write("x"), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_dump_log_attach_from(nullptr, nullptr, nullptr), ORV_ERR_INVALID_PARAM);
    orv_dump_log_destroy(other);
}

TEST_F(Dump, SeveralThreadsLogWholeLines)
{
    orv::log_set_android_writer(quiet_android);
    ASSERT_EQ(orv_dump_log_attach(log_), ORV_OK);
    constexpr int kThreads = 4, kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                orv_log(3, ORV_FAIL, "VRE: VR: t%d n%d|", t, i);
        });
    for (auto &t : threads)
        t.join();

    // Every line once, and each line whole: the text splits at "(tid=" into
    // pieces that each end with their own message.
    const std::string text = read_all();
    std::set<std::string> seen;
    size_t lines = 0;
    for (size_t at = text.find("(tid="); at != std::string::npos; ++lines) {
        const size_t next = text.find("(tid=", at + 1);
        const std::string line = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
        const size_t message = line.find("INF=VRE: VR: t");
        ASSERT_NE(message, std::string::npos) << line;
        ASSERT_EQ(line.back(), '|') << line;
        EXPECT_TRUE(seen.insert(line.substr(message)).second) << line;
        at = next;
    }
    EXPECT_EQ(lines, size_t(kThreads * kLines));
    EXPECT_EQ(seen.size(), size_t(kThreads * kLines));
}

TEST_F(Dump, DestroyWhileOtherThreadsLog)
{
    // Lines written while the attached log is destroyed and replaced must
    // land in a live log or nowhere.
    orv::log_set_android_writer(quiet_android);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t)
        writers.emplace_back([&stop] {
            while (!stop.load())
                orv_log(LOG_TO_DUMP, ORV_FAIL, "VRE: VR: racing %s", "line");
        });
    for (int round = 0; round < 300; ++round) {
        orv_dump_log *log = orv_dump_log_create();
        ASSERT_NE(log, nullptr);
        ASSERT_EQ(orv_dump_log_attach(log), ORV_OK);
        std::this_thread::yield();
        orv_dump_log_destroy(log);
    }
    stop = true;
    for (auto &t : writers)
        t.join();
    EXPECT_EQ(orv_dump_log_write("after"), ORV_ERR_INVALID_PARAM);
}

// Shut-down frees every tracked block, a dump log left attached among them:
// it is detached first, so logging afterwards finds nothing to write into.
TEST(DumpShutdown, LoggingAfterShutdownIsSafe)
{
    static std::vector<std::string> report;
    report.clear();
    ASSERT_EQ(orv_log_init(
                  [](const char *text) {
                      report.emplace_back(text);
                      return 0;
                  },
                  0),
              ORV_OK);
    orv::AndroidWriter old = orv::log_set_android_writer(quiet_android);
    orv_dump_log *log = orv_dump_log_create();
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(orv_dump_log_attach(log), ORV_OK);
    orv_log(LOG_TO_DUMP, ORV_FAIL, "VRE: VR: before");
    orv_mem_shutdown();
    EXPECT_FALSE(report.empty()); // the leaked log is still reported
    EXPECT_EQ(orv_log(LOG_TO_DUMP, ORV_FAIL, "VRE: VR: after"), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_dump_log_write("after"), ORV_ERR_INVALID_PARAM);
    orv::log_set_android_writer(old);
}

} // namespace
