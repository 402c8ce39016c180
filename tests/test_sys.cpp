#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "orv/orv_log.h"
#include "orv/orv_sys.h"
#include "orv_log_internal.hpp"
#include "orv_sys_internal.hpp"

namespace fs = std::filesystem;

namespace {

std::string g_trace;
int capture_sink(const char *text)
{
    g_trace += text;
    return 0;
}
int quiet_android(int, const char *, const char *)
{
    return 0;
}

// Each test works in a folder of its own, removed afterwards whatever the
// code under test did to it.
struct Sys : ::testing::Test {
    static void SetUpTestSuite() { orv_log_init(capture_sink, 0); }
    void SetUp() override
    {
        char pattern[] = "/tmp/orv_sys_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        old_writer = orv::log_set_android_writer(quiet_android);
        g_trace.clear();
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root, ec);
        orv::log_set_android_writer(old_writer);
    }
    std::string at(const std::string &relative) const { return root + "/" + relative; }
    static void write_file(const std::string &path, const std::string &data)
    {
        std::ofstream(path, std::ios::binary) << data;
    }
    // A directory whose path is exactly `length` characters, made of nested parts.
    std::string deep_dir(size_t length) const
    {
        std::string path = root;
        while (path.size() < length) {
            const size_t part = std::min<size_t>(200, length - path.size() - 1);
            path += "/" + std::string(std::max<size_t>(part, 1), 'd');
        }
        fs::create_directories(path);
        return path;
    }
    std::string root;
    orv::AndroidWriter old_writer{};
};

} // namespace

TEST_F(Sys, FileTestsAndRename)
{
    write_file(at("f"), "12345");
    write_file(at("empty"), "");
    EXPECT_NE(orv_is_dir(root.c_str()), 0u);
    EXPECT_EQ(orv_is_dir(at("f").c_str()), 0u);
    EXPECT_EQ(orv_is_dir(at("missing").c_str()), 0u);
    EXPECT_EQ(orv_file_has_data(at("f").c_str()), 1);
    EXPECT_EQ(orv_file_has_data(at("empty").c_str()), 0);
    EXPECT_EQ(orv_file_has_data(at("missing").c_str()), 0);

    EXPECT_EQ(orv_rename_existing(at("f").c_str(), at("g").c_str()), ORV_OK);
    EXPECT_TRUE(fs::exists(at("g")));
    EXPECT_FALSE(fs::exists(at("f")));
    EXPECT_EQ(orv_rename_existing(at("f").c_str(), at("h").c_str()), ORV_FAIL);

    EXPECT_EQ(orv_mkdir(at("d").c_str()), 0);
    EXPECT_EQ(fs::status(at("d")).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(orv_mkdir(at("d").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
}

TEST_F(Sys, RemoveTree)
{
    write_file(at("file"), "x");
    EXPECT_EQ(orv_remove_tree(at("file").c_str()), ORV_OK);
    EXPECT_FALSE(fs::exists(at("file")));
    EXPECT_EQ(orv_remove_tree(at("file").c_str()), ORV_FAIL);
    EXPECT_EQ(orv_remove_tree("."), ORV_OK);
    EXPECT_EQ(orv_remove_tree(".."), ORV_OK);
    EXPECT_EQ(orv_remove_tree(nullptr), ORV_FAIL);

    // Files and subdirectories at several depths, and a link to a directory
    // outside the tree: the link goes, what it points at stays.
    fs::create_directories(at("t/a/b/c"));
    fs::create_directories(at("t/e"));
    fs::create_directories(at("outside"));
    write_file(at("outside/keep"), "k");
    write_file(at("t/1"), "1");
    write_file(at("t/a/2"), "2");
    write_file(at("t/a/b/c/3"), "3");
    fs::create_directory_symlink(at("outside"), at("t/a/link"));
    EXPECT_EQ(orv_remove_tree((at("t") + "/").c_str()), ORV_OK);
    EXPECT_FALSE(fs::exists(at("t")));
    EXPECT_TRUE(fs::exists(at("outside/keep")));

    // A directory path of 1001 characters is refused and left intact.
    const std::string long_dir = deep_dir(1001);
    ASSERT_EQ(long_dir.size(), 1001u);
    EXPECT_EQ(orv_remove_tree(long_dir.c_str()), ORV_FAIL);
    EXPECT_TRUE(fs::exists(long_dir));

    // 1000 characters pass, but a child path past 1023 bytes fails instead of
    // being cut (a cut path could name another file).
    const std::string dir1000 = deep_dir(1000);
    ASSERT_EQ(dir1000.size(), 1000u);
    const std::string child = dir1000 + "/" + std::string(40, 'n');
    write_file(child, "c");
    EXPECT_EQ(orv_remove_tree(dir1000.c_str()), ORV_FAIL);
    EXPECT_TRUE(fs::exists(child));
    fs::remove(child);
    write_file(dir1000 + "/" + std::string(22, 's'), "fits: 1023 bytes");
    EXPECT_EQ(orv_remove_tree(dir1000.c_str()), ORV_OK);
    EXPECT_FALSE(fs::exists(dir1000));
}

namespace {

// Swaps the directory the walk is about to open for a link to `target`,
// moving the directory out of the tree.
std::string g_swap_at, g_swap_target, g_moved_to;
void swap_for_link(const char *path)
{
    if (g_swap_at.empty() || g_swap_at != path)
        return;
    fs::rename(g_swap_at, g_moved_to);
    fs::create_directory_symlink(g_swap_target, g_swap_at);
    g_swap_at.clear();
}

} // namespace

// A directory swapped for a link between the type check and the open: the
// link goes, the directory it points at keeps every entry.
TEST_F(Sys, RemoveTreeNeverFollowsASwappedInLink)
{
    fs::create_directories(at("outside/deep"));
    write_file(at("outside/keep"), "k");
    write_file(at("outside/deep/keep"), "k");
    const auto old_hook = orv::remove_tree_set_hook(swap_for_link);
    g_swap_target = at("outside");
    for (const char *swapped : {"t/sub", "t"}) {
        fs::create_directories(at("t/sub/inner"));
        write_file(at("t/sub/f"), "f");
        write_file(at("t/g"), "g");
        g_swap_at = at(swapped);
        g_moved_to = at("moved");
        EXPECT_EQ(orv_remove_tree(at("t").c_str()), ORV_OK) << swapped;
        EXPECT_TRUE(g_swap_at.empty()) << "the walk never opened " << swapped;
        EXPECT_TRUE(fs::exists(at("outside/keep"))) << swapped;
        EXPECT_TRUE(fs::exists(at("outside/deep/keep"))) << swapped;
        EXPECT_FALSE(fs::exists(fs::symlink_status(at(swapped)))) << "the link stays: " << swapped;
        std::error_code ec;
        fs::remove_all(at("t"), ec);
        fs::remove_all(at("moved"), ec);
    }
    orv::remove_tree_set_hook(old_hook);

    // A trailing slash must not make the walk follow a link either.
    fs::create_directory_symlink(at("outside"), at("link"));
    EXPECT_EQ(orv_remove_tree((at("link") + "//").c_str()), ORV_OK);
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("link"))));
    EXPECT_TRUE(fs::exists(at("outside/deep/keep")));
}

TEST_F(Sys, MkdirAllAndMkdirPath)
{
    EXPECT_EQ(orv_mkdir_all(at("a/b/c").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(at("a/b/c")));
    EXPECT_EQ(orv_mkdir_all(at("a/b/c").c_str()), 0);
    EXPECT_EQ(orv_mkdir_all(at("a/b/c/").c_str()), 0);

    // A "/" right after ":" ends no prefix: "c:" is never made, so "c:/x" fails.
    EXPECT_EQ(orv_mkdir_all(at("c:/x").c_str()), -1);
    EXPECT_FALSE(fs::exists(at("c:")));

    write_file(at("plain"), "");
    EXPECT_EQ(orv_mkdir_all(at("plain/x").c_str()), -1);

    // Prefixes are made up to the first one of 1024 bytes, which is refused.
    std::string made = at("p");
    while (made.size() + 201 < 1024)
        made += "/" + std::string(200, 'q');
    const std::string refused = made + "/" + std::string(1023 - made.size(), 'q');
    ASSERT_EQ(refused.size(), 1024u);
    EXPECT_EQ(orv_mkdir_all((refused + "/r").c_str()), ORV_FAIL);
    EXPECT_TRUE(fs::is_directory(made));
    EXPECT_FALSE(fs::exists(refused));
    EXPECT_EQ(orv_mkdir_all(nullptr), ORV_ERR_INVALID_PARAM);

    EXPECT_EQ(orv_mkdir_path(at("m/n//o").c_str()), ORV_OK);
    EXPECT_TRUE(fs::is_directory(at("m/n/o")));
    EXPECT_EQ(fs::status(at("m/n")).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(orv_mkdir_path(at("m/n/o").c_str()), ORV_OK);
    // Here the ":/" pair does end a prefix, so "d:" is made first.
    EXPECT_EQ(orv_mkdir_path(at("d:/y").c_str()), ORV_OK);
    EXPECT_TRUE(fs::is_directory(at("d:/y")));
    // A prefix that is a file: nothing can be made, and that is not success.
    EXPECT_EQ(orv_mkdir_path(at("plain/x/y").c_str()), ORV_FAIL);

    std::string path1023 = at("L/") + std::string(1023 - root.size() - 3, 'l');
    ASSERT_EQ(path1023.size(), 1023u);
    EXPECT_EQ(orv_mkdir_path(path1023.c_str()), ORV_FAIL); // component over 255: mkdir refuses
    EXPECT_TRUE(fs::is_directory(at("L")));
    const std::string path1024 = at("K/") + std::string(1024 - root.size() - 3, 'k');
    EXPECT_EQ(orv_mkdir_path(path1024.c_str()), ORV_FAIL);
    EXPECT_FALSE(fs::exists(at("K")));
    EXPECT_EQ(orv_mkdir_path(nullptr), ORV_ERR_INVALID_PARAM);
}

TEST_F(Sys, PathJoin)
{
    char buffer[16];
    uint32_t size = sizeof buffer;
    EXPECT_EQ(orv_path_join(buffer, &size, "/tmp/", "f"), ORV_OK);
    EXPECT_STREQ(buffer, "/tmp/f");
    EXPECT_EQ(orv_path_join(buffer, &size, "/tmp", "f"), ORV_OK);
    EXPECT_STREQ(buffer, "/tmp/f");

    // The size asked for is the two lengths + 2, whether or not the directory
    // ends in "/": exactly enough for "/tmp" and "f".
    size = 0;
    EXPECT_EQ(orv_path_join(nullptr, &size, "/tmp", "f"), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(orv_path_join(nullptr, &size, "/tmp/", "f"), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(size, 8u);

    // Exactly the size asked for fits; one less leaves buffer and size alone.
    memset(buffer, 'z', sizeof buffer);
    size = 6;
    EXPECT_EQ(orv_path_join(buffer, &size, "/tmp", "f"), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(buffer[0], 'z');
    size = 7;
    EXPECT_EQ(orv_path_join(buffer, &size, "/tmp", "f"), ORV_OK);
    EXPECT_STREQ(buffer, "/tmp/f");
    EXPECT_EQ(orv_path_join(buffer, &size, nullptr, "f"), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_path_join(buffer, nullptr, "/tmp", "f"), ORV_ERR_INVALID_PARAM);
}

TEST_F(Sys, SplitPath)
{
    char drive[8], dir[64], name[32], ext[16];
    auto split = [&](const char *path) {
        memset(drive, 'z', sizeof drive);
        orv_split_path(path, drive, sizeof drive, dir, sizeof dir, name, sizeof name, ext, sizeof ext);
        return std::string(dir) + "|" + name + "|" + ext;
    };
    EXPECT_EQ(split("a\\b/c.tar.gz"), "a/b/|c|tar.gz");
    EXPECT_EQ(drive[0], '\0');
    EXPECT_EQ(split("/x/y"), "/x/|y|");
    EXPECT_EQ(split("a//b"), "a/|/b|");
    EXPECT_EQ(split(".cfg"), "||cfg");
    EXPECT_EQ(split("dir/sub/"), "dir/sub/||");
    EXPECT_EQ(split("plain"), "|plain|");
    EXPECT_EQ(split(""), "||");
    EXPECT_EQ(split(nullptr), "||");

    // A component of 300 characters keeps its first 255; outputs keep what
    // fits their buffers.
    const std::string long_component(300, 'c');
    char big_dir[600], big_name[400];
    orv_split_path((long_component + "/" + long_component).c_str(), nullptr, 0, big_dir, sizeof big_dir,
                   big_name, sizeof big_name, nullptr, 0);
    EXPECT_EQ(std::string(big_dir), std::string(255, 'c') + "/");
    EXPECT_EQ(std::string(big_name), std::string(255, 'c'));

    char small_dir[5], small_name[4], small_ext[3];
    orv_split_path("abcdef/ghijkl.mnop", nullptr, 0, small_dir, sizeof small_dir, small_name,
                   sizeof small_name, small_ext, sizeof small_ext);
    EXPECT_STREQ(small_dir, "abcd");
    EXPECT_STREQ(small_name, "ghi");
    EXPECT_STREQ(small_ext, "mn");
}

TEST_F(Sys, DirectoryWalk)
{
    fs::create_directory(at("sub"));
    write_file(at("five"), "12345");
    const std::string longest(255, 'w'); // the longest name the platform allows
    write_file(at(longest), "");
    const time_t before = time(nullptr);

    OrvDir *dir = orv_dir_open(root.c_str(), 0);
    ASSERT_NE(dir, ORV_DIR_INVALID);
    ASSERT_NE(dir, nullptr);
    std::map<std::string, OrvFindData> seen;
    OrvFindData data;
    while (orv_dir_next(dir, &data) == 1)
        seen[data.name] = data;
    EXPECT_EQ(orv_dir_next(dir, &data), 0);
    orv_dir_close(dir);

    ASSERT_EQ(seen.size(), 5u);
    EXPECT_TRUE(seen.count(".") && seen.count(".."));
    EXPECT_EQ(seen["sub"].attributes, ORV_FILE_ATTR_DIRECTORY);
    EXPECT_EQ(seen["five"].attributes, 0u);
    EXPECT_EQ(seen["five"].size_low, 5u);
    EXPECT_LE(static_cast<time_t>(seen["five"].write_time.low), before);
    EXPECT_GT(seen["five"].write_time.low, 0u);
    EXPECT_EQ(seen["five"].write_time.high, 0u);
    EXPECT_EQ(seen.count(longest), 1u);

    g_trace.clear();
    EXPECT_EQ(orv_dir_open(at("missing").c_str(), 0), ORV_DIR_INVALID);
    EXPECT_NE(g_trace.find("VRI: VR: opendir path:" + at("missing") + " failed, err:2, "), std::string::npos)
        << g_trace;
    EXPECT_EQ(orv_dir_open(nullptr, 0), ORV_DIR_INVALID);
    EXPECT_EQ(orv_dir_next(ORV_DIR_INVALID, &data), 0);
    EXPECT_EQ(orv_dir_next(nullptr, &data), 0);
    orv_dir_close(ORV_DIR_INVALID);
    orv_dir_close(nullptr);
}

TEST_F(Sys, DiskEnvironmentIdentity)
{
    uint64_t total = 0, free_bytes = 0;
    EXPECT_EQ(orv_disk_space(root.c_str(), &total, &free_bytes), ORV_OK);
    const fs::space_info space = fs::space(root);
    EXPECT_EQ(total, space.capacity);
    EXPECT_GE(free_bytes, space.available);
    EXPECT_NE(g_trace.find("statfs: f_bsize="), std::string::npos);
    EXPECT_EQ(orv_disk_space(at("missing").c_str(), &total, &free_bytes), ORV_FAIL);

    setenv("ORV_SYS_TEST", "value", 1);
    char buffer[8];
    EXPECT_EQ(orv_getenv(nullptr, buffer, 6, "ORV_SYS_TEST"), ORV_OK);
    EXPECT_STREQ(buffer, "value");
    EXPECT_EQ(orv_getenv(nullptr, buffer, 5, "ORV_SYS_TEST"), ORV_FAIL);
    EXPECT_EQ(orv_getenv(nullptr, buffer, sizeof buffer, "ORV_SYS_TEST_UNSET"), ORV_FAIL);
    unsetenv("ORV_SYS_TEST");

    uint32_t size = 0;
    EXPECT_EQ(orv_host_user_name(nullptr, &size), ORV_OK);
    EXPECT_EQ(size, 260u);
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const char *login = getlogin();
    const std::string user = login && *login ? login : "unkown user";
    char text[600];
    size = sizeof text;
    EXPECT_EQ(orv_host_user_name(text, &size), ORV_OK);
    EXPECT_EQ(std::string(text), std::string(host) + "_" + user);
    size = static_cast<uint32_t>(strlen(host) + 1 + user.size()); // no room for the terminator
    EXPECT_EQ(orv_host_user_name(text, &size), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(orv_host_user_name(text, nullptr), ORV_ERR_INVALID_PARAM);
}

TEST_F(Sys, OsTables)
{
    EXPECT_EQ(orv_os_get_version(), 40); // before any set
    EXPECT_EQ(orv_os_set_version(44), 44);
    EXPECT_EQ(orv_os_get_version(), 44);
    orv_os_set_version(40);

    EXPECT_EQ(orv_android_version_code(7, 0, 0), 21);
    EXPECT_EQ(orv_android_version_code(10, 0, 0), 23);
    EXPECT_EQ(orv_android_version_code(20, 0, 0), 45);
    EXPECT_EQ(orv_android_version_code(21, 0, 0), 50);
    EXPECT_EQ(orv_android_version_code(22, 0, 0), 100);
    EXPECT_EQ(orv_android_version_code(6, 0, 0), ORV_ERR_NOT_SUPPORT);

    EXPECT_STREQ(orv_os_name(5), "android");
    EXPECT_STREQ(orv_os_name(0), "none");
    EXPECT_STREQ(orv_os_name(42), "none");
    EXPECT_STREQ(orv_os_name(-1), "none");
    EXPECT_STREQ(orv_os_current_name(), "android");

    EXPECT_STREQ(orv_encoding_name(2), "ansi");
    EXPECT_STREQ(orv_encoding_name(7), "none");
    EXPECT_STREQ(orv_default_encoding(), "utf8");
    EXPECT_EQ(orv_encoding_parse("utf16le"), 5);
    EXPECT_EQ(orv_encoding_parse("utf8-bom"), 4);
    EXPECT_EQ(orv_encoding_parse("utf7"), 3);
    EXPECT_EQ(orv_encoding_parse("ascii7"), 1);
    EXPECT_EQ(orv_encoding_parse("utf"), 0);
    EXPECT_EQ(orv_encoding_parse("UTF8"), 0);
    EXPECT_EQ(orv_encoding_parse(nullptr), 0);

    errno = EACCES;
    EXPECT_EQ(orv_errno(), EACCES);
    g_trace.clear();
    orv_print_errno(17);
    EXPECT_EQ(g_trace, "errno = 17\r\n");
}

TEST_F(Sys, CalendarTime)
{
    const time_t epoch = 0;
    struct tm utc;
    memset(&utc, 0x55, sizeof utc);
    ASSERT_EQ(orv_gmtime(&epoch, &utc), &utc);
    EXPECT_EQ(utc.tm_year, 70);
    EXPECT_EQ(utc.tm_mday, 1);
    EXPECT_EQ(utc.tm_wday, 4);
    EXPECT_EQ(utc.tm_gmtoff, 0);

    // The caller's copy survives a later conversion.
    const time_t later = 86400 * 400;
    struct tm other;
    ASSERT_NE(orv_gmtime(&later, &other), nullptr);
    EXPECT_EQ(utc.tm_year, 70);
    EXPECT_EQ(other.tm_year, 71);
    EXPECT_EQ(orv_gmtime(nullptr, &other), nullptr);
    EXPECT_EQ(orv_localtime(&epoch, nullptr), nullptr);

    struct tm local;
    ASSERT_EQ(orv_localtime(&later, &local), &local);
    EXPECT_EQ(mktime(&local), later);

    char text[32];
    EXPECT_EQ(orv_strftime(text, sizeof text, "%Y-%m-%d %H", &utc), 13u);
    EXPECT_STREQ(text, "1970-01-01 00");
    EXPECT_EQ(orv_strftime(text, 4, "%Y-%m-%d", &utc), 0u);
    EXPECT_EQ(orv_strftime(nullptr, 10, "%Y", &utc), 0u);

    OrvLocalTime now_record;
    const time_t now = time(nullptr);
    const int year = orv_get_local_time(&now_record);
    struct tm now_tm;
    localtime_r(&now, &now_tm);
    EXPECT_EQ(year, now_tm.tm_year);
    EXPECT_EQ(now_record.year, now_tm.tm_year);
    EXPECT_EQ(now_record.month, now_tm.tm_mon);
    EXPECT_EQ(orv_get_local_time(nullptr), 0);
}

#ifdef ORV_TIME64_SPLIT
// What a host built with a 32-bit time_t calls.
extern "C" struct tm *host32_gmtime(const int32_t *t, struct tm *out) __asm__("orv_gmtime");
extern "C" struct tm *host32_localtime(const int32_t *t, struct tm *out) __asm__("orv_localtime");
#endif

// Times past January 2038 convert on 32-bit targets too; a host built with a
// 32-bit time_t still gets its own width through the plain names.
TEST_F(Sys, CalendarTimePast2038)
{
    const time_t past = static_cast<time_t>(INT64_C(2208988800) + 86400 * 59 + 3661); // 2040-02-29 01:01:01
    struct tm utc {};
    ASSERT_EQ(orv_gmtime(&past, &utc), &utc);
    EXPECT_EQ(utc.tm_year, 140);
    EXPECT_EQ(utc.tm_mon, 1);
    EXPECT_EQ(utc.tm_mday, 29);
    EXPECT_EQ(utc.tm_hour, 1);
    EXPECT_EQ(utc.tm_sec, 1);
    struct tm local {};
    ASSERT_EQ(orv_localtime(&past, &local), &local);
    EXPECT_EQ(mktime(&local), past);
#ifdef ORV_TIME64_SPLIT
    // A 4-byte time followed by bytes that must not be read as its high half.
    struct {
        int32_t t;
        int32_t after;
    } narrow{1'700'000'000, 0x7F000000};
    ASSERT_EQ(host32_gmtime(&narrow.t, &utc), &utc);
    EXPECT_EQ(utc.tm_year, 123);
    EXPECT_EQ(utc.tm_mon, 10);
    EXPECT_EQ(utc.tm_mday, 14);
    ASSERT_EQ(host32_localtime(&narrow.t, &local), &local);
    EXPECT_EQ(mktime(&local), 1'700'000'000);
    EXPECT_EQ(host32_gmtime(nullptr, &utc), nullptr);
#endif
}

TEST_F(Sys, LocalLink)
{
    // Links 2 and 3 of the process (the third and fourth) listen on 45680 and 45681.
    orv::local_link_set_counter(2);
    OrvLocalLink *third = orv_local_link_create();
    OrvLocalLink *fourth = orv_local_link_create();
    ASSERT_NE(third, nullptr) << "port 45680 busy?";
    ASSERT_NE(fourth, nullptr) << "port 45681 busy?";
    EXPECT_EQ(orv_local_link_port(third), 45680);
    EXPECT_EQ(orv_local_link_port(fourth), 45681);

    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ASSERT_EQ(getsockname(orv_local_link_socket(third), reinterpret_cast<sockaddr *>(&bound), &length), 0);
    EXPECT_EQ(ntohs(bound.sin_port), 45680);
    EXPECT_EQ(ntohl(bound.sin_addr.s_addr), INADDR_LOOPBACK);

    // Nothing pending: time-out, and a non-blocking accept reports EAGAIN.
    EXPECT_EQ(orv_local_link_wait(third, 0), 0);
    EXPECT_EQ(orv_local_link_wait(third, 1500), 0);
    EXPECT_EQ(orv_local_link_set_nonblocking(third), 0);
    EXPECT_NE(fcntl(orv_local_link_socket(third), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(accept(orv_local_link_socket(third), nullptr, nullptr), -1);
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);

    const int client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(client, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<const sockaddr *>(&bound), sizeof bound), 0);
    EXPECT_GT(orv_local_link_wait(third, -1), 0);
    const int served = accept(orv_local_link_socket(third), nullptr, nullptr);
    EXPECT_GE(served, 0);
    close(served);
    close(client);

    EXPECT_EQ(orv_local_link_wait(third, -2), -1);
    EXPECT_EQ(orv_local_link_wait(nullptr, 0), -1);
    EXPECT_EQ(orv_local_link_set_nonblocking(nullptr), -1);
    orv_local_link_destroy(third);
    orv_local_link_destroy(fourth);
    orv_local_link_destroy(nullptr);

    // 45678 + 19857 is the last port; the next link would wrap, so it fails.
    orv::local_link_set_counter(65535 - 45678 + 1);
    EXPECT_EQ(orv_local_link_create(), nullptr);
    orv::local_link_set_counter(0xFFFF);
    EXPECT_EQ(orv_local_link_create(), nullptr);
    // The counter wraps at 65536 back to the first port.
    OrvLocalLink *wrapped = orv_local_link_create();
    if (wrapped) {
        EXPECT_EQ(orv_local_link_port(wrapped), 45678);
    }
    orv_local_link_destroy(wrapped);
}
