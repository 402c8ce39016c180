#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "orv/orv_ini.h"
#include "orv/orv_io_stream.h"
#include "orv/orv_mem.h"

namespace {

// A tree with only the default root, kept in memory.
struct Tree {
    XiniTree *t = nullptr;
    explicit Tree(uint32_t flags = XINI_OPEN_RW)
    {
        EXPECT_EQ(orv_ini_open(nullptr, nullptr, flags, nullptr, &t), ORV_OK);
    }
    ~Tree() { orv_ini_close(t); }
    XiniVtbl &vt() { return t->vt; }
    XiniNode *key(XiniNode *parent, const char *name, const char *value = nullptr)
    {
        XiniNode *k = nullptr;
        EXPECT_EQ(vt().create_key(t, parent, name, value, &k), ORV_OK) << name;
        return k;
    }
    std::string value(XiniNode *k) { return k->value ? std::string(k->value, k->value_length) : "<none>"; }
};

TEST(XiniTree, CreateKeysNamesAndValues)
{
    Tree tr;
    XiniNode *root = tr.t->root;
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name, "root");
    EXPECT_STREQ(root->value, "root");

    XiniNode *ab = tr.key(nullptr, "a=b", "x<y>;z");
    EXPECT_STREQ(ab->name, "ab");
    EXPECT_EQ(ab->name_length, 2u);
    EXPECT_EQ(tr.value(ab), "xyz");
    EXPECT_EQ(ab->parent, root);
    EXPECT_EQ(tr.key(root, "ab"), ab);

    // An existing key gets a value only when it had none, reserved
    // characters left out on this path too.
    XiniNode *k = tr.key(root, "k");
    EXPECT_EQ(k->value, nullptr);
    EXPECT_EQ(tr.key(root, "k", "first;>"), k);
    EXPECT_EQ(tr.value(k), "first");
    tr.key(root, "k", "second");
    EXPECT_EQ(tr.value(k), "first");
    // Empty values are stored as none.
    EXPECT_EQ(tr.key(root, "e", "")->value, nullptr);
    EXPECT_EQ(tr.key(root, "r", "<=;>")->value, nullptr);

    // Index bounds.
    XiniNode *out = nullptr;
    EXPECT_EQ(tr.vt().get_subkey(tr.t, root, -1, &out), XINI_ERR_NOT_FOUND);
    EXPECT_EQ(tr.vt().get_subkey(tr.t, root, root->subkey_count, &out), XINI_ERR_NOT_FOUND);
    EXPECT_EQ(tr.vt().get_subkey(tr.t, root, 1, &out), ORV_OK);
    EXPECT_EQ(out, k);
}

TEST(XiniTree, ReadOnlyCreatesNothing)
{
    Tree tr;
    XiniNode *a = tr.key(nullptr, "a");
    tr.vt().set_flags(tr.t, XINI_READ_ONLY);
    EXPECT_EQ(tr.vt().get_flags(tr.t), XINI_READ_ONLY);

    XiniNode *out = nullptr;
    EXPECT_EQ(tr.vt().create_key(tr.t, nullptr, "missing", "v", &out), XINI_ERR_NOT_FOUND);
    const char *text = nullptr;
    EXPECT_EQ(tr.vt().get_value(tr.t, nullptr, "missing", XINI_TYPE_STRING, nullptr, &text, &out),
              XINI_ERR_NOT_FOUND);
    EXPECT_EQ(tr.vt().create_key(tr.t, nullptr, "a", "filled", &out), ORV_OK);
    EXPECT_EQ(out, a);
    EXPECT_EQ(a->value, nullptr);
    EXPECT_EQ(tr.t->root->subkey_count, 1);

    // On a writable tree get_value makes the missing key, without a value.
    tr.vt().set_flags(tr.t, XINI_OPEN_RW);
    EXPECT_EQ(tr.vt().get_value(tr.t, nullptr, "missing", XINI_TYPE_STRING, nullptr, &text, &out),
              XINI_ERR_NO_VALUE);
    EXPECT_EQ(tr.t->root->subkey_count, 2);
}

TEST(XiniTree, PathsAndDeletion)
{
    Tree tr;
    XiniNode *a = tr.key(nullptr, "a");
    XiniNode *b = tr.key(a, "b c");
    XiniNode *d = tr.key(b, "d");
    XiniNode *out = nullptr;

    EXPECT_EQ(tr.vt().find_path(tr.t, "", &out), ORV_OK);
    EXPECT_EQ(out, tr.t->root);
    EXPECT_EQ(tr.vt().find_path(tr.t, "a\\\\", &out), ORV_OK);
    EXPECT_EQ(out, a);
    // Blanks collapse, line breaks and tabs vanish, trailing blanks go.
    EXPECT_EQ(tr.vt().find_path(tr.t, " a \\\\ b\t  \r\nc  \\\\d\\\\", &out), ORV_OK);
    EXPECT_EQ(out, d);
    // Text after the last separator is not looked up.
    EXPECT_EQ(tr.vt().find_path(tr.t, "a\\\\nothing", &out), ORV_OK);
    EXPECT_EQ(out, a);
    EXPECT_EQ(tr.vt().find_path(tr.t, "x\\\\", &out), XINI_ERR_NOT_FOUND);
    EXPECT_EQ(tr.vt().find_path(tr.t, "a\\\\x\\\\", &out), XINI_ERR_NOT_FOUND);
    // A single trailing backslash ends the path; nothing past it is read.
    std::string single = "a\\";
    EXPECT_EQ(tr.vt().find_path(tr.t, single.c_str(), &out), ORV_OK);
    EXPECT_EQ(out, a);
    // A segment longer than any buffer stops the walk where it is.
    std::string longer = "a\\\\" + std::string(3000, 'z') + "\\\\";
    EXPECT_EQ(tr.vt().find_path(tr.t, longer.c_str(), &out), ORV_OK);
    EXPECT_EQ(out, a);

    EXPECT_EQ(tr.vt().create_key_by_path(tr.t, "a\\\\b c\\\\", "e", "5", &out), ORV_OK);
    EXPECT_EQ(out->parent, b);
    EXPECT_EQ(b->subkey_count, 2);

    // Deleting from the middle closes the gap.
    XiniNode *x = tr.key(a, "x");
    XiniNode *y = tr.key(a, "y");
    EXPECT_EQ(tr.vt().delete_key(tr.t, x), ORV_OK);
    ASSERT_EQ(a->subkey_count, 2);
    EXPECT_EQ(a->subkeys[0], b);
    EXPECT_EQ(a->subkeys[1], y);
    EXPECT_EQ(tr.vt().delete_subkey(tr.t, a, "nothing"), ORV_OK);
    EXPECT_EQ(tr.vt().delete_subkey(tr.t, a, "y"), ORV_OK);
    EXPECT_EQ(a->subkey_count, 1);
    EXPECT_EQ(tr.vt().delete_key_by_path(tr.t, "a\\\\b c\\\\"), ORV_OK);
    EXPECT_EQ(a->subkey_count, 0);
    EXPECT_EQ(a->subkeys, nullptr);
    EXPECT_EQ(tr.vt().delete_key_by_path(tr.t, "q\\\\"), XINI_ERR_NOT_FOUND);

    // Deleting the root empties it and keeps it.
    tr.key(nullptr, "z");
    EXPECT_EQ(tr.vt().delete_key(tr.t, tr.t->root), ORV_OK);
    ASSERT_NE(tr.t->root, nullptr);
    EXPECT_EQ(tr.t->root->subkey_count, 0);
    EXPECT_STREQ(tr.t->root->name, "root");
}

TEST(XiniTree, IntegerArrays)
{
    Tree tr;
    XiniNode *k = tr.key(nullptr, "arr");
    const int32_t three[] = {1, 2, 3};
    EXPECT_EQ(tr.vt().set_int_array(tr.t, k, 3, three), ORV_OK);
    EXPECT_EQ(tr.value(k), "{1,2,3,}");

    int32_t got[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(tr.vt().get_int_array(tr.t, k, 3, got), ORV_OK);
    EXPECT_EQ(got[0], 1);
    EXPECT_EQ(got[2], 3);
    EXPECT_EQ(tr.vt().get_int_array(tr.t, k, 4, got), ORV_ERR_INVALID_RESULT);
    // More values than asked for: only count are stored.
    got[2] = 9;
    EXPECT_EQ(tr.vt().get_int_array(tr.t, k, 2, got), ORV_OK);
    EXPECT_EQ(got[2], 9);

    // Too long for the text: refused, old value kept.
    std::vector<int32_t> many(200, -2147483647 - 1);
    EXPECT_EQ(tr.vt().set_int_array(tr.t, k, 200, many.data()), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(tr.value(k), "{1,2,3,}");
    // The largest that fits: 170 values of 11 digits and a comma, braces.
    EXPECT_EQ(tr.vt().set_int_array(tr.t, k, 170, many.data()), ORV_OK);
    EXPECT_EQ(k->value_length, 2u + 170 * 12);
    std::vector<int32_t> back(170);
    EXPECT_EQ(tr.vt().get_int_array(tr.t, k, 170, back.data()), ORV_OK);
    EXPECT_EQ(back, std::vector<int32_t>(many.begin(), many.begin() + 170));

    EXPECT_EQ(tr.vt().set_string(tr.t, k, ("{" + std::string(70, '1') + ",}").c_str()), ORV_OK);
    EXPECT_EQ(tr.vt().get_int_array(tr.t, k, 1, got), ORV_ERR_INVALID_RESULT);
    XiniNode *none = tr.key(nullptr, "none");
    EXPECT_EQ(tr.vt().get_int_array(tr.t, none, 1, got), XINI_ERR_NO_VALUE);
}

std::vector<uint8_t> random_bytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

TEST(XiniTree, BinaryHex)
{
    Tree tr;
    XiniNode *k = tr.key(nullptr, "blob");
    std::vector<uint8_t> data = random_bytes(40, 1);
    data[0] = 0xAB;
    EXPECT_EQ(tr.vt().set_binary_hex(tr.t, k, 40, data.data()), ORV_OK);
    EXPECT_EQ(tr.value(k), "40");
    ASSERT_EQ(k->subkey_count, 2);
    EXPECT_STREQ(k->subkeys[0]->name, "val-0");
    EXPECT_EQ(k->subkeys[0]->value_length, 64u);
    EXPECT_EQ(std::string(k->subkeys[0]->value, 2), "ab");
    EXPECT_STREQ(k->subkeys[1]->name, "val-1");
    EXPECT_EQ(k->subkeys[1]->value_length, 16u);

    int32_t count = -1;
    EXPECT_EQ(tr.vt().get_binary_hex(tr.t, k, &count, nullptr), ORV_OK);
    EXPECT_EQ(count, 40);
    std::vector<uint8_t> back(40);
    EXPECT_EQ(tr.vt().get_binary_hex(tr.t, k, &count, back.data()), ORV_OK);
    EXPECT_EQ(back, data);

    // Setting again replaces the pieces.
    std::vector<uint8_t> big = random_bytes(1000, 2);
    EXPECT_EQ(tr.vt().set_binary_hex(tr.t, k, 1000, big.data()), ORV_OK);
    EXPECT_EQ(k->subkey_count, 32);
    back.assign(1000, 0);
    count = 1000;
    EXPECT_EQ(tr.vt().get_binary_hex(tr.t, k, &count, back.data()), ORV_OK);
    EXPECT_EQ(back, big);

    // Subkeys holding more than the stored count never write past it, and
    // a smaller buffer size from the caller is kept to.
    XiniNode *extra = nullptr;
    EXPECT_EQ(tr.vt().create_key(tr.t, k, "val-x", std::string(500, 'f').c_str(), &extra), ORV_OK);
    EXPECT_EQ(tr.vt().set_int(tr.t, k, 1010), ORV_OK);
    std::vector<uint8_t> fenced(1010 + 16, 0x5A);
    count = 1010;
    EXPECT_EQ(tr.vt().get_binary_hex(tr.t, k, &count, fenced.data()), ORV_OK);
    EXPECT_EQ(count, 1010);
    for (size_t i = 1010; i < fenced.size(); ++i)
        ASSERT_EQ(fenced[i], 0x5A) << i;
    fenced.assign(fenced.size(), 0x5A);
    count = 10;
    EXPECT_EQ(tr.vt().get_binary_hex(tr.t, k, &count, fenced.data()), ORV_OK);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(fenced[10], 0x5A);

    XiniNode *none = tr.key(nullptr, "none");
    EXPECT_EQ(tr.vt().get_binary_hex(tr.t, none, &count, nullptr), XINI_ERR_NO_VALUE);
    EXPECT_EQ(tr.vt().get_binary_r64(tr.t, none, &count, nullptr), XINI_ERR_NO_VALUE);
}

TEST(XiniTree, BinaryRadix64)
{
    Tree tr;
    XiniNode *k = tr.key(nullptr, "blob");
    const uint8_t ff = 0xFF;
    EXPECT_EQ(tr.vt().set_binary_r64(tr.t, k, 1, &ff), ORV_OK);
    EXPECT_EQ(tr.value(k), "1");
    ASSERT_EQ(k->subkey_count, 1);
    EXPECT_STREQ(k->subkeys[0]->name, "val-0");
    EXPECT_EQ(tr.value(k->subkeys[0]), "1*-M");

    for (int n : {0, 1, 2, 3, 47, 48, 49, 1000}) {
        std::vector<uint8_t> data = random_bytes(n, n);
        EXPECT_EQ(tr.vt().set_binary_r64(tr.t, k, n, data.data()), ORV_OK);
        int32_t count = -1;
        EXPECT_EQ(tr.vt().get_binary_r64(tr.t, k, &count, nullptr), ORV_OK);
        EXPECT_EQ(count, n);
        std::vector<uint8_t> back(n + 8, 0x5A);
        EXPECT_EQ(tr.vt().get_binary_r64(tr.t, k, &count, back.data()), ORV_OK);
        EXPECT_EQ(count, n);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin())) << n;
        EXPECT_EQ(back[n], 0x5A);
    }

    // The text's own count and length do not decide how much is written:
    // the key says 4, the text claims 1000.
    EXPECT_EQ(tr.vt().set_binary_r64(tr.t, k, 0, nullptr), ORV_OK); // one piece left
    EXPECT_EQ(tr.vt().set_string(tr.t, k, "4"), ORV_OK);
    EXPECT_EQ(tr.vt().delete_subkey(tr.t, k, "val-0"), ORV_OK);
    tr.key(k, "val-0", ("1000*" + std::string(1400, 'z')).c_str());
    std::vector<uint8_t> fenced(32, 0x5A);
    int32_t count = 4;
    EXPECT_EQ(tr.vt().get_binary_r64(tr.t, k, &count, fenced.data()), ORV_OK);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(fenced[4], 0x5A);
    // The key says 1000, the text holds 2 bytes' worth.
    EXPECT_EQ(tr.vt().set_string(tr.t, k, "1000"), ORV_OK);
    EXPECT_EQ(tr.vt().delete_subkey(tr.t, k, "val-0"), ORV_OK);
    tr.key(k, "val-0", "1000*abc");
    count = 1000;
    fenced.assign(32, 0x5A);
    std::vector<uint8_t> wide(1000, 0x5A);
    EXPECT_EQ(tr.vt().get_binary_r64(tr.t, k, &count, wide.data()), ORV_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(wide[2], 0x5A);
}

TEST(XiniTree, TypedValues)
{
    Tree tr;
    XiniNode *parent = tr.key(nullptr, "p");
    XiniNode *out = nullptr;
    int32_t i = -2147483647 - 1;
    int64_t l = -9000000000123LL;
    const int32_t arr[] = {4, 5};
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(tr.vt().get_value(tr.t, parent, "i", XINI_TYPE_INT, nullptr, &i, &out), XINI_ERR_NO_VALUE);
    EXPECT_EQ(tr.vt().set_value(tr.t, parent, "s", XINI_TYPE_STRING, 0, "a;b>c", &out), ORV_OK);
    EXPECT_EQ(tr.value(out), "abc");
    EXPECT_EQ(tr.vt().set_value(tr.t, parent, "i", XINI_TYPE_INT, 0, &i, &out), ORV_OK);
    EXPECT_EQ(tr.vt().set_value(tr.t, parent, "l", XINI_TYPE_INT64, 0, &l, &out), ORV_OK);
    EXPECT_EQ(tr.vt().set_value(tr.t, parent, "a", XINI_TYPE_INT_ARRAY, 2, arr, &out), ORV_OK);
    EXPECT_EQ(tr.vt().set_value(tr.t, parent, "h", XINI_TYPE_BINARY_HEX, 3, bytes, &out), ORV_OK);
    EXPECT_EQ(tr.vt().set_value(tr.t, parent, "r", XINI_TYPE_BINARY_R64, 3, bytes, &out), ORV_OK);
    EXPECT_EQ(tr.vt().set_value(tr.t, parent, "bad", 6, 0, &i, &out), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(parent->subkey_count, 6);

    const char *s = nullptr;
    EXPECT_EQ(tr.vt().get_value(tr.t, parent, "s", XINI_TYPE_STRING, nullptr, &s, &out), ORV_OK);
    EXPECT_EQ(s, out->value); // the key's own text
    int32_t gi = 0;
    EXPECT_EQ(tr.vt().get_value(tr.t, parent, "i", XINI_TYPE_INT, nullptr, &gi, &out), ORV_OK);
    EXPECT_EQ(gi, i);
    int64_t gl = 0;
    EXPECT_EQ(tr.vt().get_value(tr.t, parent, "l", XINI_TYPE_INT64, nullptr, &gl, &out), ORV_OK);
    EXPECT_EQ(gl, l);
    int32_t count = 2, ga[2] = {};
    EXPECT_EQ(tr.vt().get_value(tr.t, parent, "a", XINI_TYPE_INT_ARRAY, &count, ga, &out), ORV_OK);
    EXPECT_EQ(ga[1], 5);
    for (int32_t type : {XINI_TYPE_BINARY_HEX, XINI_TYPE_BINARY_R64}) {
        const char *name = type == XINI_TYPE_BINARY_HEX ? "h" : "r";
        uint8_t gb[3] = {};
        count = -1;
        EXPECT_EQ(tr.vt().get_value(tr.t, parent, name, type, &count, nullptr, &out), ORV_OK);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(tr.vt().get_value(tr.t, parent, name, type, &count, gb, &out), ORV_OK);
        EXPECT_EQ(0, std::memcmp(gb, bytes, 3)) << name;
    }
    EXPECT_EQ(tr.vt().get_value(tr.t, parent, "i", 9, nullptr, &gi, &out), ORV_ERR_INVALID_PARAM);
}

TEST(XiniTree, TreesStayWithinWhatTheReaderTakes)
{
    Tree tr;
    XiniNode *k = nullptr;
    for (int depth = 1; depth <= XINI_MAX_DEPTH; ++depth)
        ASSERT_EQ(tr.vt().create_key(tr.t, k, "d", nullptr, &k), ORV_OK) << depth;
    XiniNode *deeper = nullptr;
    EXPECT_EQ(tr.vt().create_key(tr.t, k, "d", nullptr, &deeper), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(k->subkey_count, 0);

    std::string huge(XINI_VALUE_MAX + 1, 'v');
    XiniNode *v = tr.key(nullptr, "v");
    EXPECT_EQ(tr.vt().set_string(tr.t, v, huge.c_str()), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(tr.vt().create_key(tr.t, nullptr, "w", huge.c_str(), &deeper), ORV_ERR_INVALID_PARAM);
    huge.resize(XINI_NAME_MAX + 1);
    EXPECT_EQ(tr.vt().create_key(tr.t, nullptr, huge.c_str(), nullptr, &deeper), ORV_ERR_INVALID_PARAM);
}

// Writes the tree to a memory stream and opens the text again.
XiniTree *saved_and_loaded(XiniTree *t)
{
    xio *s = ORV_IO_STREAM_CREATE();
    EXPECT_EQ(t->vt.write_tree(t, s), ORV_OK);
    XiniTree *back = nullptr;
    EXPECT_EQ(orv_ini_open(nullptr, s, XINI_READ_ONLY, nullptr, &back), ORV_OK);
    back->stream = nullptr;
    s->vt.release(s);
    return back;
}

TEST(XiniTree, TextsThatWouldNotComeBackAreRefused)
{
    Tree tr;
    XiniNode *k = tr.key(nullptr, "k", "kept");
    const char *bad[] = {"name  with\ttab ",
                         "two  blanks",
                         " lead",
                         "trail ",
                         "line\r\nbreak",
                         "tab\there",
                         "a ; b" /* two blanks once ";" is left out */,
                         " ",
                         "new\n"};
    for (const char *text : bad) {
        XiniNode *out = nullptr;
        EXPECT_EQ(tr.vt().create_key(tr.t, nullptr, text, nullptr, &out), ORV_ERR_INVALID_PARAM) << text;
        EXPECT_EQ(tr.vt().create_key(tr.t, nullptr, "n", text, &out), ORV_ERR_INVALID_PARAM) << text;
        EXPECT_EQ(tr.vt().create_key_by_path(tr.t, "", text, nullptr, &out), ORV_ERR_INVALID_PARAM) << text;
        EXPECT_EQ(tr.vt().set_string(tr.t, k, text), ORV_ERR_INVALID_PARAM) << text;
        EXPECT_EQ(tr.vt().set_value(tr.t, nullptr, "k", XINI_TYPE_STRING, 0, text, &out),
                  ORV_ERR_INVALID_PARAM)
            << text;
    }
    EXPECT_EQ(tr.t->root->subkey_count, 1);
    EXPECT_EQ(tr.value(k), "kept");

    // What is taken comes back exactly, and is found again by its name.
    const char *good[] = {"one blank", "a;b", "x <y> z", "{1,2}", "\x01odd\x7f", "a b c d"};
    for (const char *text : good) {
        tr.key(nullptr, text, text);
        EXPECT_EQ(tr.vt().set_string(tr.t, k, text), ORV_OK) << text;
    }
    EXPECT_EQ(tr.t->root->subkey_count, 1 + static_cast<int32_t>(std::size(good))); // no twin made
    XiniTree *back = saved_and_loaded(tr.t);
    for (const char *text : good) {
        XiniNode *found = nullptr;
        XiniNode *mine = nullptr;
        ASSERT_EQ(tr.vt().create_key(tr.t, nullptr, text, nullptr, &mine), ORV_OK) << text;
        ASSERT_EQ(back->vt.create_key(back, nullptr, text, nullptr, &found), ORV_OK) << text;
        EXPECT_EQ(std::string(found->name, found->name_length), std::string(mine->name, mine->name_length));
        EXPECT_EQ(std::string(found->value, found->value_length),
                  std::string(mine->value, mine->value_length));
    }
    EXPECT_EQ(tr.t->root->subkey_count, 1 + static_cast<int32_t>(std::size(good)));
    EXPECT_EQ(tr.vt().delete_subkey(tr.t, nullptr, "a;b"), ORV_OK);
    EXPECT_EQ(tr.t->root->subkey_count, static_cast<int32_t>(std::size(good)));
    orv_ini_close(back);
}

TEST(XiniTree, BinarySettersChangeAllOrNothing)
{
    // A read-only tree makes no pieces, so it keeps the ones it has.
    xio *s = ORV_IO_STREAM_CREATE();
    {
        Tree tr;
        XiniNode *k = tr.key(nullptr, "blob");
        const uint8_t bytes[100] = {1, 2, 3};
        ASSERT_EQ(tr.vt().set_binary_hex(tr.t, k, 100, bytes), ORV_OK);
        ASSERT_EQ(tr.vt().write_tree(tr.t, s), ORV_OK);
    }
    XiniTree *ro = nullptr;
    ASSERT_EQ(orv_ini_open(nullptr, s, XINI_READ_ONLY, nullptr, &ro), ORV_OK);
    XiniNode *k = ro->root->subkeys[0];
    const uint8_t other[300] = {9};
    EXPECT_EQ(ro->vt.set_binary_hex(ro, k, 300, other), XINI_ERR_NOT_FOUND);
    EXPECT_EQ(ro->vt.set_binary_r64(ro, k, 300, other), XINI_ERR_NOT_FOUND);
    EXPECT_EQ(k->subkey_count, 4);
    int32_t count = 0;
    EXPECT_EQ(ro->vt.get_binary_hex(ro, k, &count, nullptr), ORV_OK);
    EXPECT_EQ(count, 100);
    orv_ini_close(ro);
    s->vt.release(s);

    // A key too deep for pieces keeps its value as well.
    Tree tr;
    XiniNode *deep = nullptr;
    for (int depth = 1; depth <= XINI_MAX_DEPTH; ++depth)
        ASSERT_EQ(tr.vt().create_key(tr.t, deep, "d", nullptr, &deep), ORV_OK);
    EXPECT_EQ(tr.vt().set_string(tr.t, deep, "7"), ORV_OK);
    EXPECT_EQ(tr.vt().set_binary_hex(tr.t, deep, 3, other), ORV_ERR_INVALID_PARAM);
    EXPECT_EQ(tr.value(deep), "7");

    // A blob of 1 MiB, the size the setters are sped up for, comes back whole.
    std::vector<uint8_t> big = random_bytes(1 << 20, 3);
    XiniNode *b = tr.key(nullptr, "big");
    for (bool hex : {true, false}) {
        const size_t live = orv_mem_live_count();
        ASSERT_EQ(hex ? tr.vt().set_binary_hex(tr.t, b, 1 << 20, big.data())
                      : tr.vt().set_binary_r64(tr.t, b, 1 << 20, big.data()),
                  ORV_OK);
        EXPECT_EQ(b->subkey_count, hex ? 32768 : 21846);
        EXPECT_STREQ(b->subkeys[b->subkey_count - 1]->name, hex ? "val-32767" : "val-21845");
        std::vector<uint8_t> back(1 << 20);
        count = 1 << 20;
        EXPECT_EQ(hex ? tr.vt().get_binary_hex(tr.t, b, &count, back.data())
                      : tr.vt().get_binary_r64(tr.t, b, &count, back.data()),
                  ORV_OK);
        EXPECT_EQ(count, 1 << 20);
        EXPECT_TRUE(back == big) << hex;
        if (!hex) {
            EXPECT_LT(orv_mem_live_count(), live); // fewer pieces than before, none left over
        }
    }
}

} // namespace
