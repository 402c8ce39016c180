#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "orv/orv_ini.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_mem.h"
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
                             "end of (root) subkeys; \r\n" + kEnd);
    EXPECT_EQ(written(t, XINI_COMPACT), "< root = root; 1; > \r\n  < a = 1; > \r\n" + kEnd);

    add(t, a, "b");
    EXPECT_EQ(written(t, 0), "< root = root; 1; > \r\n"
                             "start of (root) subkeys; \r\n"
                             "  < a = 1; 1; > \r\n"
                             "  start of (a) subkeys; \r\n"
                             "    < b = ; > \r\n"
                             "  end of (a) subkeys; \r\n"
                             "end of (root) subkeys; \r\n" + kEnd);

    // A subtree starts at indent 0; the result is that of the last write.
    Stream out;
    EXPECT_EQ(t->vt.write_key(t, a, out.io), ORV_OK);
    EXPECT_EQ(out.text(), "< a = 1; 1; > \r\nstart of (a) subkeys; \r\n  < b = ; > \r\nend of (a) subkeys; \r\n" + kEnd);
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
        "< root >",                                   // no "="
        "< r = ; 12x; >",                             // count not digits
        "< r = ; 1234567890; >",                      // ten digits
        "< r = ; 65537; >",                           // too many subkeys
        "< r = ; subkey = -1; >",                     // negative count
        "< r = ; 2; > < a > < b = ; >",               // malformed before the last subkey
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

} // namespace
