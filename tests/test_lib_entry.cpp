// Library entry and the runtime start-up: sink choice, flags, paths from
// arguments or the current directory, state across restarts, clock and leaks.
#include <gtest/gtest.h>

#include "orv/orv_thread.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "device_render.h"
#include "orv/orv_clock.h"
#include "orv/orv_mem.h"
#include "orv/orv_os.h"
#include "orv_log_internal.hpp"
#include "render_env.h"
#include "scripted_host.h"

namespace {

// Render threads log too, so the capture is locked.
std::mutex g_android_lock;
std::vector<std::string> g_android_lines;

int capture_android(int, const char *, const char *text)
{
    std::lock_guard<std::mutex> hold(g_android_lock);
    g_android_lines.emplace_back(text);
    return 0;
}

bool android_saw(const std::string &needle)
{
    std::lock_guard<std::mutex> hold(g_android_lock);
    for (const auto &line : g_android_lines)
        if (line.find(needle) != std::string::npos)
            return true;
    return false;
}

// Runs a test body in a fresh temporary directory as the current directory.
class CwdScope {
public:
    CwdScope() : old_(std::filesystem::current_path())
    {
        char pattern[] = "/tmp/orv_lib_entry_XXXXXX";
        dir_ = mkdtemp(pattern);
        std::filesystem::current_path(dir_);
    }
    ~CwdScope()
    {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    const std::filesystem::path &dir() const { return dir_; }

private:
    std::filesystem::path old_, dir_;
};

class LibEntryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_android_lines.clear();
        old_writer_ = orv::log_set_android_writer(capture_android);
    }
    void TearDown() override
    {
        orv_base_uninit();
        orv::log_set_android_writer(old_writer_);
    }
    orv::AndroidWriter old_writer_ = nullptr;
};

TEST_F(LibEntryTest, InitChoosesTheSinkAndStartsClean)
{
    ASSERT_EQ(DeviceRenderLibInit(0), ORV_OK);
    EXPECT_LT(orv_clock_ms(), 1000u);
    EXPECT_EQ(get_runtime_flags(), 0u);
    EXPECT_GE(get_processor_count(), 1);
    orv_trace("VRI: VR: dropped line");
    EXPECT_FALSE(android_saw("dropped line"));
    void *leak = ORV_CALLOC(16);
    ASSERT_NE(leak, nullptr);
    EXPECT_EQ(DeviceRenderLibUninit(), ORV_OK);
    EXPECT_EQ(orv_mem_live_count(), 0u) << "uninit frees what is still tracked";

    ASSERT_EQ(DeviceRenderLibInit(1), ORV_OK);
    orv_trace("VRI: VR: visible line");
    EXPECT_TRUE(android_saw("visible line"));
    leak = ORV_CALLOC(16);
    ASSERT_NE(leak, nullptr);
    g_android_lines.clear();
    EXPECT_EQ(DeviceRenderLibUninit(), ORV_OK);
    EXPECT_TRUE(android_saw("test_lib_entry.cpp")) << "the leak report names the block's source";
    EXPECT_EQ(get_runtime_flags(), 0u);
}

TEST_F(LibEntryTest, PathsFromArgumentsOrTheCurrentDirectory)
{
    CwdScope cwd;
    const std::string here = std::filesystem::current_path().string();

    ASSERT_EQ(orv_base_init(orv_log_null_sink, 0x1010 | 0x3 | 0x4 | 0x20000, nullptr, nullptr), ORV_OK);
    EXPECT_EQ(get_runtime_flags(), 0x1017u) << "low bits and the thread bit kept, unknown bits dropped";
    EXPECT_EQ(get_lib_path(), here);
    EXPECT_EQ(get_work_path(), here);
    orv_base_uninit();
    EXPECT_EQ(get_runtime_flags(), 0u);

    // Thread module removed at shut-down; the registry was in tracked blocks.
    EXPECT_EQ(orv_global_slot_set(1, 2), ORV_ERR_OBJ_UNINIT);

    // Given paths win over the current-directory bits and do not set them.
    ASSERT_EQ(orv_base_init(orv_log_null_sink, 0x1010, "/lib/given", "/work/given"), ORV_OK);
    EXPECT_EQ(get_runtime_flags(), 0u);
    EXPECT_STREQ(get_lib_path(), "/lib/given");
    EXPECT_STREQ(get_work_path(), "/work/given");
    orv_base_uninit();

    // Paths survive a shut-down and a start-up that sets none.
    ASSERT_EQ(DeviceRenderLibInit(0), ORV_OK);
    EXPECT_STREQ(get_lib_path(), "/lib/given");
    EXPECT_STREQ(get_work_path(), "/work/given");
    DeviceRenderLibUninit();

    // 1023 characters fit; longer ones are cut there.
    const std::string exact(1023, 'a'), longer(1500, 'b');
    ASSERT_EQ(orv_base_init(orv_log_null_sink, 0, exact.c_str(), longer.c_str()), ORV_OK);
    EXPECT_EQ(get_lib_path(), exact);
    EXPECT_EQ(get_work_path(), longer.substr(0, 1023));
}

TEST_F(LibEntryTest, CurrentDirectoryOfAnyLengthOrNone)
{
    CwdScope cwd;
    // Deeper than the first 1024-byte guess: the buffer must grow.
    std::filesystem::path deep = cwd.dir();
    for (int i = 0; i < 8; ++i)
        deep /= std::string(200, char('a' + i));
    std::filesystem::create_directories(deep);
    std::filesystem::current_path(deep);
    char *dir = get_current_dir();
    ASSERT_NE(dir, nullptr);
    EXPECT_GT(strlen(dir), 1600u);
    EXPECT_EQ(std::filesystem::path(dir), std::filesystem::current_path());
    free(dir);

    // A removed current directory cannot be read: the start-up fails and the
    // path it asked for is not marked as taken.
    ASSERT_EQ(orv_base_init(orv_log_null_sink, 0, "/kept/lib", "/kept/work"), ORV_OK);
    orv_base_uninit();
    std::filesystem::current_path(cwd.dir());
    std::filesystem::create_directory(cwd.dir() / "gone");
    std::filesystem::current_path(cwd.dir() / "gone");
    std::filesystem::remove(cwd.dir() / "gone");
    EXPECT_EQ(get_current_dir(), nullptr);
    EXPECT_EQ(orv_base_init(orv_log_null_sink, 0x10, "/new/lib", nullptr), ORV_FAIL);
    EXPECT_EQ(get_runtime_flags() & 0x10u, 0u);
    EXPECT_STREQ(get_lib_path(), "/new/lib");
    EXPECT_STREQ(get_work_path(), "/kept/work");
    EXPECT_EQ(orv_base_init(orv_log_null_sink, 0x1010, nullptr, nullptr), ORV_FAIL);
    EXPECT_EQ(get_runtime_flags() & 0x1010u, 0u);
    EXPECT_STREQ(get_lib_path(), "/new/lib") << "left as it was";
}

// One media player of a process: its own init, module, display and uninit.
struct Player {
    explicit Player(int mode)
    {
        EXPECT_EQ(DeviceRenderLibInit(mode), ORV_OK);
        host.add_frame([] {
            HostFrame f = HostFrame::make(64, 32);
            f.fill(81, 90, 240);
            return f;
        }());
        host.set_tail({ORV_OK, 1});
        module = CreateDeviceRendModule(0);
        EXPECT_NE(module, nullptr);
        EXPECT_EQ(module->set_host(module, host.context(), host.callbacks()), ORV_OK);
        EXPECT_EQ(module->set_surface(module, display.vm, display.surface), ORV_OK);
        EXPECT_EQ(module->start(module), ORV_OK);
    }
    // True once the player has shown n more frames from now.
    bool renders(size_t n)
    {
        return host.wait_count(orv_test::Call::Release, host.count(orv_test::Call::Release) + n);
    }
    void finish()
    {
        EXPECT_EQ(module->stop(module), ORV_OK);
        EXPECT_EQ(module->destroy(module), ORV_OK);
        EXPECT_EQ(host.count(orv_test::Call::Error), 0u) << host.trace();
        EXPECT_EQ(DeviceRenderLibUninit(), ORV_OK);
    }
    orv_test::StandinDisplay display{64, 32, WINDOW_FORMAT_RGB_565};
    orv_test::ScriptedHost host;
    RenderModule *module = nullptr;
};

// Two players in one process, each bracketing its own use: the first init
// starts the runtime, the last uninit alone shuts it down and reports leaks,
// and neither player's uninit touches what the other still uses.
TEST_F(LibEntryTest, TwoPlayersInOneProcess)
{
    for (bool first_leaves_first : {true, false}) {
        SCOPED_TRACE(first_leaves_first ? "first in, first out" : "first in, last out");
        {
            std::lock_guard<std::mutex> hold(g_android_lock);
            g_android_lines.clear();
        }
        auto a = std::make_unique<Player>(1);
        ASSERT_TRUE(a->renders(3));
        void *kept = ORV_CALLOC(24); // a block of the runtime's, reported only at the very end
        auto b = std::make_unique<Player>(1);
        ASSERT_TRUE(a->renders(3));
        ASSERT_TRUE(b->renders(3));
        const size_t live = orv_mem_live_count();

        std::unique_ptr<Player> &leaves = first_leaves_first ? a : b, &stays = first_leaves_first ? b : a;
        leaves->finish();
        leaves.reset();
        EXPECT_FALSE(android_saw("memory manage")) << "no leak report while a player runs";
        EXPECT_EQ(orv_mem_live_count(), live - 5) << "only the leaving player's five blocks went";
        EXPECT_TRUE(stays->renders(5)) << stays->host.trace();
        stays->finish();
        stays.reset();
        EXPECT_TRUE(android_saw("test_lib_entry.cpp")) << "the last uninit reports the block";
        EXPECT_EQ(orv_mem_live_count(), 0u);
        (void)kept;
    }
}

// Players starting and stopping on several threads at once: the count and the
// runtime's start-up and shut-down stay whole.
TEST_F(LibEntryTest, InitAndUninitFromSeveralThreads)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                if (DeviceRenderLibInit(0) != ORV_OK)
                    ++failures;
                void *block = ORV_CALLOC(32);
                if (block == nullptr)
                    ++failures;
                orv_free(block);
                DeviceRenderLibUninit();
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(orv_mem_live_count(), 0u);
    // Balanced: the next init starts the runtime afresh.
    ASSERT_EQ(DeviceRenderLibInit(0), ORV_OK);
    EXPECT_LT(orv_clock_ms(), 1000u);
    EXPECT_EQ(DeviceRenderLibUninit(), ORV_OK);
}

} // namespace
