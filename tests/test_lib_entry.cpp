// Library entry and the runtime start-up: sink choice, flags, paths from
// arguments or the current directory, state across restarts, clock and leaks.
#include <gtest/gtest.h>

#include "orv/orv_thread.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "device_render.h"
#include "orv/orv_clock.h"
#include "orv/orv_mem.h"
#include "orv/orv_os.h"
#include "orv_log_internal.hpp"

namespace {

std::vector<std::string> g_android_lines;

int capture_android(int, const char *, const char *text) {
    g_android_lines.emplace_back(text);
    return 0;
}

bool android_saw(const std::string &needle) {
    for (const auto &line : g_android_lines)
        if (line.find(needle) != std::string::npos) return true;
    return false;
}

// Runs a test body in a fresh temporary directory as the current directory.
class CwdScope {
public:
    CwdScope() : old_(std::filesystem::current_path()) {
        char pattern[] = "/tmp/orv_lib_entry_XXXXXX";
        dir_ = mkdtemp(pattern);
        std::filesystem::current_path(dir_);
    }
    ~CwdScope() {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(dir_);
    }
    const std::filesystem::path &dir() const { return dir_; }

private:
    std::filesystem::path old_, dir_;
};

class LibEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_android_lines.clear();
        old_writer_ = orv::log_set_android_writer(capture_android);
    }
    void TearDown() override {
        orv_base_uninit();
        orv::log_set_android_writer(old_writer_);
    }
    orv::AndroidWriter old_writer_ = nullptr;
};

TEST_F(LibEntryTest, InitChoosesTheSinkAndStartsClean) {
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

TEST_F(LibEntryTest, PathsFromArgumentsOrTheCurrentDirectory) {
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
    orv_base_uninit();

    // 1023 characters fit; longer ones are cut there.
    const std::string exact(1023, 'a'), longer(1500, 'b');
    ASSERT_EQ(orv_base_init(orv_log_null_sink, 0, exact.c_str(), longer.c_str()), ORV_OK);
    EXPECT_EQ(get_lib_path(), exact);
    EXPECT_EQ(get_work_path(), longer.substr(0, 1023));
}

TEST_F(LibEntryTest, CurrentDirectoryOfAnyLengthOrNone) {
    CwdScope cwd;
    // Deeper than the first 1024-byte guess: the buffer must grow.
    std::filesystem::path deep = cwd.dir();
    for (int i = 0; i < 8; ++i) deep /= std::string(200, char('a' + i));
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

}  // namespace
