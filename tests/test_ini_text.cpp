#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <malloc.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's own allocator keeps mallinfo empty; it counts for itself.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "orv/orv_ini.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_mem.h"
#include "orv_ini_private.h"
#include "xini_compare.h"

namespace {

struct Stream {
    xio *io = ORV_IO_STREAM_CREATE();
    Stream() = default;
    explicit Stream(const std::string &text)
    {
        int32_t done = 0;
        io->vt.write(io, text.data(), static_cast<int32_t>(text.size()), &done);
    }
    ~Stream() { io->vt.release(io); }
    std::string text()
    {
        int64_t size = io->vt.size(io);
        std::string s(static_cast<size_t>(size), '\0');
        io->vt.seek(io, 0, XIO_SEEK_SET);
        int32_t done = 0;
        if (size)
            io->vt.read(io, s.data(), static_cast<uint32_t>(size), &done);
        return s;
    }
};

ResultCode open_text(const std::string &text, XiniTree **tree, uint32_t flags = XINI_READ_ONLY)
{
    Stream s(text);
    ResultCode rc = orv_ini_open(nullptr, s.io, flags | XINI_READ_ONLY, nullptr, tree);
    if (rc == ORV_OK)
        (*tree)->stream = nullptr; // the stream goes away here
    return rc;
}

std::string written(XiniTree *tree, uint32_t flags)
{
    Stream out;
    uint32_t old = tree->vt.get_flags(tree);
    tree->vt.set_flags(tree, flags);
    EXPECT_EQ(tree->vt.write_tree(tree, out.io), ORV_OK);
    tree->vt.set_flags(tree, old);
    return out.text();
}

XiniTree *new_tree()
{
    XiniTree *t = nullptr;
    EXPECT_EQ(orv_ini_open(nullptr, nullptr, XINI_OPEN_RW, nullptr, &t), ORV_OK);
    return t;
}

XiniNode *add(XiniTree *t, XiniNode *parent, const char *name, const char *value = nullptr)
{
    XiniNode *k = nullptr;
    EXPECT_EQ(t->vt.create_key(t, parent, name, value, &k), ORV_OK);
    return k;
}

const std::string kEnd(1, '\0');

TEST(XiniText, ExactTexts)
{
    XiniTree *t = new_tree();
    EXPECT_EQ(written(t, 0), "< root = root; > \r\n" + kEnd);

    XiniNode *a = add(t, nullptr, "a", "1");
    EXPECT_EQ(written(t, 0), "< root = root; 1; > \r\n"
                             "start of (root) subkeys; \r\n"
                             "  < a = 1; > \r\n"
                             "end of (root) subkeys; \r\n" +
                                 kEnd);
    EXPECT_EQ(written(t, XINI_COMPACT), "< root = root; 1; > \r\n  < a = 1; > \r\n" + kEnd);

    add(t, a, "b");
    EXPECT_EQ(written(t, 0), "< root = root; 1; > \r\n"
                             "start of (root) subkeys; \r\n"
                             "  < a = 1; 1; > \r\n"
                             "  start of (a) subkeys; \r\n"
                             "    < b = ; > \r\n"
                             "  end of (a) subkeys; \r\n"
                             "end of (root) subkeys; \r\n" +
                                 kEnd);

    // A subtree starts at indent 0; the result is that of the last write.
    Stream out;
    EXPECT_EQ(t->vt.write_key(t, a, out.io), ORV_OK);
    EXPECT_EQ(out.text(),
              "< a = 1; 1; > \r\nstart of (a) subkeys; \r\n  < b = ; > \r\nend of (a) subkeys; \r\n" + kEnd);
    orv_ini_close(t);
}

// A tree using what the format has to offer, including entries longer than
// a 1024-byte line and the deepest nesting allowed.
XiniTree *rich_tree()
{
    XiniTree *t = new_tree();
    XiniNode *net = add(t, nullptr, "net work", "tcp 1.2.3.4");
    add(t, net, "port", "8000");
    add(t, net, "port", "dup");
    XiniNode *empty = add(t, net, "empty");
    add(t, empty, "inner", "x");
    add(t, nullptr, "000", "0");
    XiniNode *bin = add(t, nullptr, "hex");
    uint8_t bytes[300];
    for (int i = 0; i < 300; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(t->vt.set_binary_hex(t, bin, 300, bytes), ORV_OK);
    XiniNode *r64 = add(t, nullptr, "r64");
    EXPECT_EQ(t->vt.set_binary_r64(t, r64, 300, bytes), ORV_OK);
    XiniNode *arr = add(t, nullptr, "arr");
    const int32_t values[] = {-1, 0, 2147483647};
    EXPECT_EQ(t->vt.set_int_array(t, arr, 3, values), ORV_OK);
    add(t, nullptr, std::string(1500, 'n').c_str(), std::string(3000, 'v').c_str());
    XiniNode *deep = nullptr;
    for (int i = 0; i < XINI_MAX_DEPTH; ++i)
        deep = add(t, deep, "deep", i % 2 ? "odd" : nullptr);
    return t;
}

TEST(XiniText, RoundTrips)
{
    XiniTree *t = rich_tree();
    for (uint32_t flags : {0u, XINI_COMPACT}) {
        std::string text = written(t, flags);
        XiniTree *back = nullptr;
        ASSERT_EQ(open_text(text, &back), ORV_OK) << flags;
        EXPECT_EQ(xini_difference(t->root, back->root), "") << flags;
        // The reader's view of a written tree writes the same text again.
        EXPECT_EQ(written(back, flags), text);
        uint8_t out[300] = {};
        int32_t count = 300;
        XiniNode *key = nullptr;
        ASSERT_EQ(back->vt.find_path(back, "r64\\\\", &key), ORV_OK);
        EXPECT_EQ(back->vt.get_binary_r64(back, key, &count, out), ORV_OK);
        EXPECT_EQ(count, 300);
        EXPECT_EQ(out[299], static_cast<uint8_t>(299 * 7));
        orv_ini_close(back);
    }
    orv_ini_close(t);
}

TEST(XiniText, ReaderSpellings)
{
    XiniTree *t = nullptr;
    // The count as "subkey = n", text between entries, and entries spread
    // over lines with tabs and extra blanks.
    ASSERT_EQ(open_text("junk before\r\n< root = ; 1; >\r\nany words; < a = ; subkey = 2; >\n"
                        "<\tb\r\n =   one  two ;> comment\n<  c=3;0003; >\n"
                        "< c1 = ; > < c2 = ; > < c3 = ; >\n<after = root; >",
                        &t),
              ORV_OK);
    XiniNode *root = t->root;
    EXPECT_EQ(root->value, nullptr);
    ASSERT_EQ(root->subkey_count, 1);
    XiniNode *a = root->subkeys[0];
    EXPECT_STREQ(a->name, "a");
    ASSERT_EQ(a->subkey_count, 2);
    EXPECT_STREQ(a->subkeys[0]->name, "b");
    EXPECT_STREQ(a->subkeys[0]->value, "one two");
    XiniNode *c = a->subkeys[1];
    EXPECT_STREQ(c->value, "3");
    ASSERT_EQ(c->subkey_count, 3);
    EXPECT_STREQ(c->subkeys[2]->name, "c3");
    orv_ini_close(t);

    // Reserved characters, NUL bytes and line breaks never reach a name or
    // a value; blanks left behind collapse.
    static const char odd[] = "<x ; y<z = v = w<q;1;><k\0\r\n = 1 ;  >";
    ASSERT_EQ(open_text(std::string(odd, sizeof odd - 1), &t), ORV_OK);
    EXPECT_STREQ(t->root->name, "x yz");
    EXPECT_STREQ(t->root->value, "v wq");
    ASSERT_EQ(t->root->subkey_count, 1);
    EXPECT_STREQ(t->root->subkeys[0]->name, "k");
    orv_ini_close(t);
}

TEST(XiniText, MalformedTextFailsTheOpen)
{
    const size_t live = orv_mem_live_count();
    const char *bad[] = {
        "< root >",                     // no "="
        "< r = ; 12x; >",               // count not digits
        "< r = ; 1234567890; >",        // ten digits
        "< r = ; 65537; >",             // too many subkeys
        "< r = ; subkey = -1; >",       // negative count
        "< r = ; 2; > < a > < b = ; >", // malformed before the last subkey
    };
    for (const char *text : bad) {
        XiniTree *t = reinterpret_cast<XiniTree *>(1);
        EXPECT_EQ(open_text(text, &t), XINI_ERR_ADD) << text;
        EXPECT_EQ(t, nullptr);
    }

    // Nesting: the deepest allowed opens, one more level fails.
    auto nested = [](int levels) {
        std::string s;
        for (int i = 0; i < levels; ++i)
            s += "<d=;1;>";
        return s + "<leaf=1;>";
    };
    XiniTree *t = nullptr;
    ASSERT_EQ(open_text(nested(XINI_MAX_DEPTH), &t), ORV_OK);
    orv_ini_close(t);
    EXPECT_EQ(open_text(nested(XINI_MAX_DEPTH + 1), &t), XINI_ERR_ADD);
    EXPECT_EQ(open_text(nested(100000), &t), XINI_ERR_ADD);

    // Names and values within the limits every setter keeps to, and an
    // entry beyond the reader's length.
    std::string name(XINI_NAME_MAX, 'n'), value(XINI_VALUE_MAX, 'v');
    ASSERT_EQ(open_text("<" + name + "=" + value + ">", &t), ORV_OK);
    EXPECT_EQ(t->root->name_length, XINI_NAME_MAX);
    EXPECT_EQ(t->root->value_length, XINI_VALUE_MAX);
    orv_ini_close(t);
    EXPECT_EQ(open_text("<" + name + "n=1>", &t), XINI_ERR_ADD);
    EXPECT_EQ(open_text("<n=" + value + "v>", &t), XINI_ERR_ADD);
    EXPECT_EQ(open_text("<n=;subkey=" + std::string(XINI_ENTRY_MAX, '0') + ">", &t), XINI_ERR_ADD);

    EXPECT_EQ(orv_mem_live_count(), live);
}

TEST(XiniText, ShortTexts)
{
    XiniTree *t = nullptr;
    // No entry at all: the default root.
    for (const char *text : {"", "no brackets here", "< unfinished = entry"}) {
        ASSERT_EQ(open_text(text, &t), ORV_OK) << text;
        EXPECT_STREQ(t->root->name, "root");
        EXPECT_STREQ(t->root->value, "root");
        EXPECT_EQ(t->root->name_length, 4u);
        orv_ini_close(t);
    }
    // Ending inside the last expected subkey keeps the others.
    ASSERT_EQ(open_text("< r = ; 3; > < a = 1; > < b = 2; > < c = ", &t), ORV_OK);
    EXPECT_STREQ(t->root->name, "r");
    EXPECT_EQ(t->root->subkey_count, 2);
    orv_ini_close(t);
    // So does a malformed last subkey.
    ASSERT_EQ(open_text("< r = ; 2; > < a = 1; > < b >", &t), ORV_OK);
    EXPECT_EQ(t->root->subkey_count, 1);
    orv_ini_close(t);
    ASSERT_EQ(open_text("< r = ; 1; > < b >", &t), ORV_OK);
    EXPECT_EQ(t->root->subkey_count, 0);
    EXPECT_EQ(t->root->subkeys, nullptr);
    orv_ini_close(t);
    // Ending earlier loses the whole root, leaving the default one.
    ASSERT_EQ(open_text("< r = ; 3; > < a = 1; >", &t), ORV_OK);
    EXPECT_STREQ(t->root->name, "root");
    orv_ini_close(t);
}

TEST(XiniText, StreamsAndReadOnly)
{
    Stream s("< r = v; > tail");
    XiniTree *t = nullptr;
    ASSERT_EQ(orv_ini_open(nullptr, s.io, XINI_READ_ONLY, nullptr, &t), ORV_OK);
    EXPECT_EQ(t->stream, s.io);
    t->vt.set_string(t, t->root, "changed");
    orv_ini_close(t);
    EXPECT_EQ(s.text(), "< r = v; > tail");

    // A writable tree saves itself at the stream's position on close.
    ASSERT_EQ(orv_ini_open(nullptr, s.io, XINI_OPEN_RW, nullptr, &t), ORV_OK);
    t->vt.set_string(t, t->root, "w");
    s.io->vt.seek(s.io, 0, XIO_SEEK_END);
    orv_ini_close(t);
    EXPECT_EQ(s.text(), "< r = v; > tail< r = w; > \r\n" + kEnd);
}

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/orv_ini_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir()
    {
        std::remove((path + "/t.ini").c_str());
        rmdir(path.c_str());
    }
    std::string file() const { return path + "/t.ini"; }
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(XiniText, Files)
{
    TempDir dir;
    const std::string path = dir.file();
    XiniTree *t = reinterpret_cast<XiniTree *>(1);
    EXPECT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_COMPACT, nullptr, &t), ORV_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_READ_ONLY, nullptr, &t), ORV_ERR_FILE_NOT_FOUND);

    // Read and write: a missing file is made; close saves.
    ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_OPEN_RW | XINI_COMPACT, nullptr, &t), ORV_OK);
    EXPECT_STREQ(t->root->name, "root");
    add(t, nullptr, "a", "1");
    orv_ini_close(t);
    const std::string saved = "< root = root; 1; > \r\n  < a = 1; > \r\n" + kEnd;
    EXPECT_EQ(slurp(path), saved);

    // Read only: loads, and close leaves the file alone.
    ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_READ_ONLY, nullptr, &t), ORV_OK);
    ASSERT_EQ(t->root->subkey_count, 1);
    EXPECT_STREQ(t->root->subkeys[0]->value, "1");
    XiniNode *b = nullptr;
    EXPECT_EQ(t->vt.create_key(t, nullptr, "b", "2", &b), XINI_ERR_NOT_FOUND);
    EXPECT_EQ(t->root->subkey_count, 1);
    t->vt.set_string(t, t->root->subkeys[0], "9");
    orv_ini_close(t);
    EXPECT_EQ(slurp(path), saved);

    // Read and write on an existing file keeps its content.
    ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_OPEN_RW, nullptr, &t), ORV_OK);
    EXPECT_EQ(t->root->subkey_count, 1);
    orv_ini_close(t);

    // Create empties it.
    ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_CREATE | XINI_COMPACT, nullptr, &t), ORV_OK);
    EXPECT_EQ(t->root->subkey_count, 0);
    orv_ini_close(t);
    EXPECT_EQ(slurp(path), "< root = root; > \r\n" + kEnd);
}

// ---- Saving and damaged files ----------------------------------------------

// close as a result: a save that fails must say so.
ResultCode close_tree(XiniTree *t)
{
    return orv_ini_close(t);
}

void spit(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    // readdir64: 32-bit builds without large-file offsets see no entries at all.
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent64 *e = readdir64(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// A configuration of several sections, written by the library itself.
std::string config_text(const std::string &path)
{
    XiniTree *t = nullptr;
    EXPECT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_CREATE, nullptr, &t), ORV_OK);
    for (int s = 0; s < 4; ++s) {
        XiniNode *section = add(t, nullptr, ("section " + std::to_string(s)).c_str());
        for (int k = 0; k < 4; ++k)
            add(t, section, ("key" + std::to_string(k)).c_str(), "some value");
    }
    EXPECT_EQ(close_tree(t), ORV_OK);
    return slurp(path);
}

TEST(XiniText, SaveReplacesTheFileWholeOrNotAtAll)
{
    TempDir dir;
    const std::string path = dir.file();
    const std::string original = config_text(path);
    ASSERT_GT(original.size(), 700u);
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{"t.ini"}); // no temporary file left
    chmod(path.c_str(), 0640);

    // A write that fails midway (the file size limit here, a full disk in
    // the field) leaves the old text whole and is reported.
    XiniTree *t = nullptr;
    ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_OPEN_RW, nullptr, &t), ORV_OK);
    add(t, nullptr, "more", std::string(5000, 'm').c_str());
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 1000;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const ResultCode failed = close_tree(t);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(failed, ORV_ERR_IO_WRITE);
    EXPECT_EQ(slurp(path), original);
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{"t.ini"});

    // A save that works keeps the file's mode; through a link it replaces
    // the file linked to and leaves the link.
    const std::string link = dir.path + "/link.ini";
    ASSERT_EQ(symlink("t.ini", link.c_str()), 0);
    ASSERT_EQ(orv_ini_open(link.c_str(), nullptr, XINI_OPEN_RW | XINI_COMPACT, nullptr, &t), ORV_OK);
    EXPECT_EQ(t->root->subkey_count, 4);
    t->vt.delete_key(t, t->root);
    EXPECT_EQ(close_tree(t), ORV_OK);
    EXPECT_EQ(slurp(path), "< root = root; > \r\n" + kEnd);
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    std::remove(link.c_str());
    EXPECT_EQ(entries(dir.path), std::vector<std::string>{"t.ini"});

    // Creating replaces the file only when the tree is saved.
    spit(path, original);
    ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_CREATE, nullptr, &t), ORV_OK);
    EXPECT_EQ(t->root->subkey_count, 0);
    EXPECT_EQ(slurp(path), original);
    t->vt.set_flags(t, XINI_READ_ONLY);
    EXPECT_EQ(close_tree(t), ORV_OK);
    EXPECT_EQ(slurp(path), original);
}

// The save's system calls, one kind of which fails.
enum class Call { open_temp, write, fchmod, fsync_file, close_file, rename, open_dir, fsync_dir };
struct Fault {
    Call call;
    int error;
};
Fault *g_fault = nullptr;

bool fails(Call c)
{
    if (!g_fault || g_fault->call != c)
        return false;
    errno = g_fault->error;
    return true;
}

bool is_directory(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

const XiniSaveCalls kFaulty = {
    [](const char *path, int flags, mode_t mode) {
        return fails(flags & O_DIRECTORY ? Call::open_dir : Call::open_temp) ? -1 : open(path, flags, mode);
    },
    [](int fd, const void *data, size_t n) -> ssize_t {
        if (!fails(Call::write))
            return write(fd, data, n);
        // Some text goes out before the failure, as on a disk that fills up.
        if (n > 100 && write(fd, data, 100) != 100)
            return -1;
        errno = g_fault->error;
        return -1;
    },
    [](int fd, mode_t mode) { return fails(Call::fchmod) ? -1 : fchmod(fd, mode); },
    [](int fd) { return fails(is_directory(fd) ? Call::fsync_dir : Call::fsync_file) ? -1 : fsync(fd); },
    [](int fd) {
        const bool dir = is_directory(fd);
        const int r = close(fd); // the descriptor goes either way
        return !dir && fails(Call::close_file) ? -1 : r;
    },
    [](const char *from, const char *to) { return fails(Call::rename) ? -1 : rename(from, to); },
    unlink,
};

TEST(XiniText, EverySaveCallThatFailsIsReported)
{
    TempDir dir;
    const std::string path = dir.file();
    const std::string original = config_text(path);
    chmod(path.c_str(), 0600);
    const XiniSaveCalls *system = xini_set_save_calls(&kFaulty);
    for (Call call : {Call::open_temp, Call::write, Call::fchmod, Call::fsync_file, Call::close_file,
                      Call::rename, Call::open_dir, Call::fsync_dir}) {
        for (int error : {EIO, ENOSPC}) {
            spit(path, original);
            XiniTree *t = nullptr;
            ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_OPEN_RW, nullptr, &t), ORV_OK);
            add(t, nullptr, "new", "key");
            Fault fault{call, error};
            g_fault = &fault;
            const ResultCode rc = close_tree(t);
            g_fault = nullptr;
            const int step = static_cast<int>(call);
            EXPECT_EQ(rc, call == Call::open_temp ? ORV_ERR_IO_OPEN : ORV_ERR_IO_WRITE) << step;
            // Before the rename the file is as it was; after it (the directory
            // sync) the new text is whole. No temporary file is left.
            const std::string now = slurp(path);
            if (call == Call::open_dir || call == Call::fsync_dir)
                EXPECT_NE(now.find("< new = key; >"), std::string::npos) << step;
            else
                EXPECT_EQ(now, original) << step;
            EXPECT_EQ(entries(dir.path), std::vector<std::string>{"t.ini"}) << step;
        }
    }
    // A directory that cannot sync at all (EINVAL) has nothing to wait for.
    XiniTree *t = nullptr;
    ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_OPEN_RW, nullptr, &t), ORV_OK);
    Fault unsupported{Call::fsync_dir, EINVAL};
    g_fault = &unsupported;
    EXPECT_EQ(close_tree(t), ORV_OK);
    g_fault = nullptr;
    xini_set_save_calls(system);
}

TEST(XiniText, DamagedFilesAreLeftAlone)
{
    TempDir dir;
    const std::string path = dir.file();
    const std::string original = config_text(path);
    const size_t live = orv_mem_live_count();
    std::vector<std::string> damaged = {
        original.substr(0, original.size() * 4 / 10),    // cut short
        original.substr(0, original.find("< key3") + 3), // inside the last subkey of the first section
        original.substr(0, original.rfind("< key3")),    // without the very last subkey
        "a text that is no configuration at all",
    };
    for (const std::string &text : damaged) {
        spit(path, text);
        for (uint32_t flags : {XINI_OPEN_RW, XINI_OPEN_RW | XINI_COMPACT, 0u | XINI_READ_ONLY}) {
            XiniTree *t = reinterpret_cast<XiniTree *>(1);
            const ResultCode rc = orv_ini_open(path.c_str(), nullptr, flags, nullptr, &t);
            if (flags & XINI_READ_ONLY) {
                // What can be read is read; nothing is ever saved.
                ASSERT_EQ(rc, ORV_OK);
                EXPECT_EQ(close_tree(t), ORV_OK);
            } else {
                EXPECT_EQ(rc, ORV_ERR_INVALID_FILE) << text.size();
                EXPECT_EQ(t, nullptr);
            }
            EXPECT_EQ(slurp(path), text);
        }
    }
    // Blank files are merely empty, and become the default tree.
    spit(path, " \r\n\t ");
    XiniTree *t = nullptr;
    ASSERT_EQ(orv_ini_open(path.c_str(), nullptr, XINI_OPEN_RW | XINI_COMPACT, nullptr, &t), ORV_OK);
    EXPECT_EQ(close_tree(t), ORV_OK);
    EXPECT_EQ(slurp(path), "< root = root; > \r\n" + kEnd);
    EXPECT_EQ(orv_mem_live_count(), live);
}

// An xio over a text whose reads fail once the first given bytes are out;
// each read may also sample the heap.
struct FailingStream {
    xio io{};
    std::string text;
    size_t pos = 0;
    size_t fail_after = SIZE_MAX;
    size_t (*sample)() = nullptr;
    size_t peak = 0;

    static FailingStream *self(xio *io) { return reinterpret_cast<FailingStream *>(io); }
    explicit FailingStream(std::string t) : text(std::move(t))
    {
        io.vt.read = [](xio *io, void *dest, uint32_t n, int32_t *done) -> ResultCode {
            FailingStream *s = self(io);
            if (s->sample)
                s->peak = std::max(s->peak, s->sample());
            *done = 0;
            if (s->pos >= s->fail_after)
                return ORV_ERR_IO_READ;
            size_t k = std::min<size_t>({n, s->text.size() - s->pos, s->fail_after - s->pos});
            std::memcpy(dest, s->text.data() + s->pos, k);
            s->pos += k;
            *done = static_cast<int32_t>(k);
            return k ? ORV_OK : ORV_WOUNLD_BLOCK;
        };
        io.vt.seek = [](xio *io, int64_t off, int32_t) -> int64_t {
            return static_cast<int64_t>(self(io)->pos = off);
        };
        io.vt.size = [](xio *io) -> int64_t { return static_cast<int64_t>(self(io)->text.size()); };
    }
};

TEST(XiniText, ReadErrorsFailTheOpen)
{
    const std::string text = "< r = ; 3; > < a = 1; > < b = 2; > < c = 3; >";
    for (size_t at : {size_t{0}, size_t{12}, text.size() - 5}) {
        FailingStream s(text);
        s.fail_after = at;
        XiniTree *t = reinterpret_cast<XiniTree *>(1);
        EXPECT_EQ(orv_ini_open(nullptr, &s.io, XINI_READ_ONLY, nullptr, &t), ORV_ERR_IO_READ) << at;
        EXPECT_EQ(t, nullptr);
    }
    FailingStream whole(text);
    XiniTree *t = nullptr;
    ASSERT_EQ(orv_ini_open(nullptr, &whole.io, XINI_READ_ONLY, nullptr, &t), ORV_OK);
    EXPECT_EQ(t->root->subkey_count, 3);
    orv_ini_close(t);
}

size_t heap_in_use()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

TEST(XiniText, HostileCountsClaimLittleMemory)
{
    // Every level claims the most subkeys allowed and brings one.
    std::string text;
    for (int i = 0; i < XINI_MAX_DEPTH; ++i)
        text += "<a=;65536;>";
    FailingStream s(text);
    s.sample = heap_in_use;
    const size_t before = heap_in_use();
    XiniTree *t = nullptr;
    ASSERT_EQ(orv_ini_open(nullptr, &s.io, XINI_READ_ONLY, nullptr, &t), ORV_OK);
    EXPECT_STREQ(t->root->name, "root"); // nothing complete in it
    orv_ini_close(t);
    EXPECT_LT(s.peak - before, size_t{4} << 20);

    // Honest large counts still read whole.
    XiniTree *many = new_tree();
    for (int i = 0; i < 5000; ++i)
        add(many, nullptr, ("k" + std::to_string(i)).c_str(), "v");
    XiniTree *back = nullptr;
    ASSERT_EQ(open_text(written(many, XINI_COMPACT), &back), ORV_OK);
    EXPECT_EQ(xini_difference(many->root, back->root), "");
    orv_ini_close(back);
    orv_ini_close(many);
}

TEST(XiniText, ShortWritesAreFailures)
{
    XiniTree *t = new_tree();
    for (int i = 0; i < 2000; ++i)
        add(t, nullptr, ("key " + std::to_string(i)).c_str(), std::string(90, 'v').c_str());
    auto limited = [] {
        xio *out = ORV_IO_STREAM_CREATE();
        XioParam limit{};
        limit.buffer2 = XIO_MEM_INITIAL_CAPACITY;
        out->vt.set(out, XIO_MEM_SET_LIMIT, &limit);
        return out;
    };
    xio *out = limited();
    EXPECT_EQ(t->vt.write_tree(t, out), ORV_ERR_IO_WRITE);
    EXPECT_EQ(t->vt.write_key(t, nullptr, out), ORV_ERR_IO_WRITE);
    EXPECT_EQ(orv_ini_write(t, out), ORV_ERR_IO_WRITE);
    out->vt.release(out);

    // A tree saving itself to such a stream on close says so too.
    Stream src("< r = v; >");
    XiniTree *s = nullptr;
    ASSERT_EQ(orv_ini_open(nullptr, src.io, XINI_OPEN_RW, nullptr, &s), ORV_OK);
    out = limited();
    s->stream = out;
    for (int i = 0; i < 2000; ++i)
        add(s, nullptr, ("key " + std::to_string(i)).c_str(), std::string(90, 'v').c_str());
    EXPECT_EQ(close_tree(s), ORV_ERR_IO_WRITE);
    out->vt.release(out);

    // Within the limit all is well.
    out = limited();
    XiniTree *small = new_tree();
    EXPECT_EQ(small->vt.write_tree(small, out), ORV_OK);
    orv_ini_close(small);
    out->vt.release(out);
    orv_ini_close(t);
}

} // namespace
