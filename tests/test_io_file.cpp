#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "orv/orv_io_file.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_log_internal.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> g_lines;
int capture_android(int, const char *, const char *text)
{
    g_lines.emplace_back(text);
    return 0;
}
bool logged(const std::string &piece)
{
    for (const auto &line : g_lines)
        if (line.find(piece) != std::string::npos)
            return true;
    return false;
}

void write_file(const fs::path &path, const std::string &data)
{
    std::ofstream(path, std::ios::binary) << data;
}
std::string read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Each test gets its own folder, a fresh tracked list and the log lines.
struct FileIo : ::testing::Test {
    fs::path dir;
    orv::AndroidWriter old_writer = nullptr;
    xio_file *f = nullptr;
    xio *io = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(orv_log_init(orv_log_null_sink, 0), ORV_OK);
        g_lines.clear();
        old_writer = orv::log_set_android_writer(capture_android);
        std::string tmpl = (fs::temp_directory_path() / "orv_io_file_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        f = orv_io_file_create();
        ASSERT_NE(f, nullptr);
        io = reinterpret_cast<xio *>(f);
    }
    void TearDown() override
    {
        if (io)
            io->vt.release(io);
        orv::log_set_android_writer(old_writer);
        fs::remove_all(dir);
        EXPECT_EQ(orv_mem_live_count(), 0u);
        orv_mem_shutdown();
    }
    std::string path(const char *name) const { return (dir / name).string(); }
};

} // namespace

TEST_F(FileIo, ReadWriteSeekAndStatistics)
{
    EXPECT_EQ(f->hfile, -1);
    ASSERT_EQ(io->vt.open(io, path("a").c_str(), XIO_FILE_CREATE), ORV_OK);
    int32_t n = -1;
    ASSERT_EQ(io->vt.write(io, "hello world", 11, &n), ORV_OK);
    EXPECT_EQ(n, 11);
    EXPECT_EQ(io->vt.size(io), 0); // the size as of the open
    EXPECT_EQ(io->vt.reset(io), ORV_FAIL);
    EXPECT_EQ(io->vt.seek(io, -5, XIO_SEEK_END), 6);
    char buf[32];
    ASSERT_EQ(io->vt.read(io, buf, sizeof buf, &n), ORV_OK);
    EXPECT_EQ(std::string(buf, (size_t)n), "world");
    ASSERT_EQ(io->vt.read(io, buf, sizeof buf, &n), ORV_OK); // end of file
    EXPECT_EQ(n, 0);

    ASSERT_EQ(io->vt.close(io), ORV_OK);
    ASSERT_EQ(io->vt.open(io, path("a").c_str(), XIO_FILE_READ), ORV_OK);
    EXPECT_EQ(io->vt.size(io), 11);
    ASSERT_EQ(io->vt.read(io, buf, 4, &n), ORV_OK);
    XioParam p, untouched;
    memset(&p, 0xAB, sizeof p);
    untouched = p;
    EXPECT_EQ(io->vt.get(io, 1, &p), ORV_OK);
    EXPECT_EQ(memcmp(&p, &untouched, sizeof p), 0);
    ASSERT_EQ(io->vt.get(io, XIO_FILE_GET_STATS, &p), ORV_OK);
    EXPECT_EQ(p.length, 11);
    EXPECT_EQ(p.position, 4);
    EXPECT_EQ(p.remain, 7);
    EXPECT_EQ(p.reserved & 0xFFFFFFFFu, 0u);
    EXPECT_EQ(p.count, untouched.count);
    EXPECT_EQ(io->vt.write(io, "x", 1, &n), ORV_ERR_IO); // read-only
    EXPECT_TRUE(logged("ERR=0x80000c04,ORV_ERR_IO_WRITE, INF=VRE: VR: orv_write fail"));

    // Closed: the slots answer without a descriptor; tell and size log nothing.
    ASSERT_EQ(io->vt.close(io), ORV_OK);
    g_lines.clear();
    EXPECT_EQ(io->vt.read(io, buf, 1, &n), ORV_ERR_IO);
    EXPECT_EQ(io->vt.seek(io, 0, XIO_SEEK_SET), (int64_t)ORV_ERR_IO);
    EXPECT_EQ(io->vt.tell(io), (int64_t)ORV_ERR_IO);
    EXPECT_EQ(io->vt.size(io), (int64_t)ORV_ERR_IO);
    EXPECT_EQ(g_lines.size(), 2u);
    EXPECT_TRUE(logged("ORV_ERR_IO_READ, INF=VRE: VR: xio_file->hfile invalid"));
    EXPECT_TRUE(logged("ORV_ERR_IO_SEEK, INF=VRE: VR: xio_file->hfile invalid"));
}

TEST_F(FileIo, OpenModes)
{
    std::string missing = path("missing");
    EXPECT_EQ(io->vt.open(io, missing.c_str(), XIO_FILE_READ_WRITE), ORV_ERR_IO_OPEN);
    std::string expected = "ORV_ERR_IO_OPEN, INF=VRE: VR: filename:" + missing +
                           " flags:" + std::to_string(O_RDWR | O_LARGEFILE) +
                           " i_mode:438 xio_file->hfile:-1 errno:2 errno:" + strerror(ENOENT);
    EXPECT_TRUE(logged(expected)) << expected;
    g_lines.clear();
    for (uint32_t bad : {3u, 65u, 0x80000001u})
        EXPECT_EQ(io->vt.open(io, missing.c_str(), bad), ORV_FAIL);
    EXPECT_TRUE(g_lines.empty());
    EXPECT_EQ(f->hfile, -1);
    EXPECT_FALSE(fs::exists(missing));

    // Open-always creates a missing file empty and keeps an existing one whole.
    ASSERT_EQ(io->vt.open(io, missing.c_str(), XIO_FILE_OPEN_ALWAYS), ORV_OK);
    EXPECT_EQ(io->vt.size(io), 0);
    io->vt.close(io);
    EXPECT_TRUE(fs::exists(missing));
    write_file(path("kept"), "keep me");
    ASSERT_EQ(io->vt.open(io, path("kept").c_str(), XIO_FILE_OPEN_ALWAYS), ORV_OK);
    EXPECT_EQ(io->vt.size(io), 7);
    io->vt.close(io);
    EXPECT_EQ(read_file(path("kept")), "keep me");
    ASSERT_EQ(io->vt.open(io, path("kept").c_str(), XIO_FILE_CREATE), ORV_OK);
    io->vt.close(io);
    EXPECT_EQ(read_file(path("kept")), "");
    EXPECT_EQ(io->vt.open(io, nullptr, XIO_FILE_READ), ORV_ERR_INVALID_PARAM);
}

TEST_F(FileIo, FileListSwitchesEntries)
{
    write_file(path("one"), "first");
    write_file(path("two"), "second!");
    std::string one = path("one"), two = path("two"), gone = path("gone");
    OrvFileListEntry entries[3] = {};
    entries[0].path = one.c_str();
    entries[1].path = two.c_str();
    entries[2].path = gone.c_str();
    OrvFileList list = {};
    list.current = 1;
    list.entries = entries;
    OrvFileListOwner owner = {};
    owner.list = &list;

    int32_t index = 0;
    EXPECT_EQ(io->vt.set(io, XIO_FILE_SET_ENTRY, &index), ORV_ERR_INVALID_PARAM); // no list yet
    ASSERT_EQ(io->vt.set(io, XIO_FILE_SET_LIST, &owner), ORV_OK);
    EXPECT_EQ(f->list_index, 1);
    ASSERT_EQ(io->vt.set(io, XIO_FILE_SET_ENTRY, &index), ORV_OK);
    EXPECT_EQ(io->vt.size(io), 5);
    index = 1;
    ASSERT_EQ(io->vt.set(io, XIO_FILE_SET_ENTRY, &index), ORV_OK);
    char buf[16];
    int32_t n = 0;
    ASSERT_EQ(io->vt.read(io, buf, sizeof buf, &n), ORV_OK);
    EXPECT_EQ(std::string(buf, (size_t)n), "second!");
    index = 2;
    EXPECT_EQ(io->vt.set(io, XIO_FILE_SET_ENTRY, &index), ORV_ERR_IO_OPEN);
    EXPECT_EQ(f->hfile, -1);
    EXPECT_EQ(f->list_index, 2);
}

bool is_link(const fs::path &p)
{
    struct stat st {};
    return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Copies onto links whose chain ends at a file that does not exist yet: the
// file is made where the last link points, and every link stays a link.
TEST_F(FileIo, CopyOntoDanglingLinksCreatesTheirTarget)
{
    write_file(path("src"), "new contents");

    // One link, relative, into a folder of its own.
    fs::create_directory(dir / "sub");
    ASSERT_EQ(symlink("sub/made", path("dangling").c_str()), 0);
    ASSERT_EQ(orv_file_copy(path("src").c_str(), path("dangling").c_str()), ORV_OK);
    EXPECT_TRUE(is_link(dir / "dangling"));
    EXPECT_EQ(read_file(dir / "sub" / "made"), "new contents");

    // A chain: absolute, then relative to the second link's folder.
    ASSERT_EQ(symlink(path("sub/hop").c_str(), path("first").c_str()), 0);
    ASSERT_EQ(symlink("../end", path("sub/hop").c_str()), 0);
    ASSERT_EQ(orv_file_copy(path("src").c_str(), path("first").c_str()), ORV_OK);
    EXPECT_TRUE(is_link(dir / "first"));
    EXPECT_TRUE(is_link(dir / "sub" / "hop"));
    EXPECT_EQ(read_file(dir / "end"), "new contents");
    // Once the target exists, the same chain replaces it.
    write_file(path("src"), "second copy");
    ASSERT_EQ(orv_file_copy(path("src").c_str(), path("first").c_str()), ORV_OK);
    EXPECT_TRUE(is_link(dir / "first"));
    EXPECT_EQ(read_file(dir / "end"), "second copy");

    // A chain into a folder that does not exist: refused, the link stays.
    ASSERT_EQ(symlink("nowhere/file", path("lost").c_str()), 0);
    EXPECT_EQ(orv_file_copy(path("src").c_str(), path("lost").c_str()), ORV_ERR_IO_OPEN);
    EXPECT_TRUE(is_link(dir / "lost"));

    // A loop: a clear error, both links untouched, nothing left beside them.
    ASSERT_EQ(symlink("loop_b", path("loop_a").c_str()), 0);
    ASSERT_EQ(symlink("loop_a", path("loop_b").c_str()), 0);
    g_lines.clear();
    EXPECT_EQ(orv_file_copy(path("src").c_str(), path("loop_a").c_str()), ORV_ERR_IO_OPEN);
    EXPECT_TRUE(is_link(dir / "loop_a"));
    EXPECT_TRUE(is_link(dir / "loop_b"));
    EXPECT_TRUE(logged("loop_a")) << (g_lines.empty() ? "no log line" : g_lines.back());
    // A link onto itself is the shortest loop.
    ASSERT_EQ(symlink("self", path("self").c_str()), 0);
    EXPECT_EQ(orv_file_copy(path("src").c_str(), path("self").c_str()), ORV_ERR_IO_OPEN);
    EXPECT_TRUE(is_link(dir / "self"));

    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"dangling", "end", "first", "loop_a", "loop_b", "lost", "self",
                                               "src", "sub"}));
    EXPECT_EQ(read_file(path("src")), "second copy");
}

TEST_F(FileIo, CopyAndSizeByPath)
{
    for (size_t size : {0u, 2048u, 2049u, 5000u}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i)
            data[i] = (char)(i * 7 + i / 251);
        write_file(path("src"), data);
        write_file(path("dst"), "old contents longer than nothing");
        ASSERT_EQ(orv_file_copy(path("src").c_str(), path("dst").c_str()), ORV_OK) << size;
        EXPECT_EQ(read_file(path("dst")), data) << size;
        int64_t got = -1;
        ASSERT_EQ(orv_file_size_by_path(path("dst").c_str(), &got), ORV_OK);
        EXPECT_EQ(got, (int64_t)size);
    }
    EXPECT_EQ(orv_file_copy(path("none").c_str(), path("dst").c_str()), ORV_ERR_IO_OPEN);
    EXPECT_EQ(read_file(path("dst")).size(), 5000u);
    EXPECT_EQ(orv_file_copy(path("src").c_str(), path("src").c_str()), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(read_file(path("src")).size(), 5000u);

    // A copy onto a link replaces the file it names and keeps the link.
    write_file(path("target"), "old");
    ASSERT_EQ(symlink(path("target").c_str(), path("link").c_str()), 0);
    ASSERT_EQ(orv_file_copy(path("src").c_str(), path("link").c_str()), ORV_OK);
    struct stat st {};
    ASSERT_EQ(lstat(path("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(path("target")).size(), 5000u);

    int64_t got = 123;
    EXPECT_EQ(orv_file_size_by_path(dir.c_str(), &got), ORV_FAIL);
    EXPECT_EQ(orv_file_size_by_path(path("none").c_str(), &got), ORV_FAIL);
    EXPECT_EQ(got, 123);
}
