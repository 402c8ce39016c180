/* XINI tree: keys with text values and ordered subkeys, and the typed access
 * (integers, integer arrays, binary blocks split over subkeys) on top of the
 * text values. The tree owns every key and text in it; the stream it was
 * opened from is borrowed. No lock: one thread uses a tree at a time. The
 * text format, open and close live in orv_ini_text.cpp. */
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_text.h"
#include "orv_ini_private.h"

namespace {

constexpr uint32_t kArrayTextSize = 2048;
constexpr uint32_t kArrayNumberSize = 64;
constexpr uint32_t kPieceLength = 64;
constexpr uint32_t kPathSegmentSize = 1024;

// Radix-64 alphabet values; every other byte decodes as 0.
constexpr std::array<uint8_t, 256> make_r64_table()
{
    std::array<uint8_t, 256> t{};
    const char *alphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-";
    for (int i = 0; i < 64; ++i)
        t[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
    return t;
}
constexpr std::array<uint8_t, 256> kR64Value = make_r64_table();

bool readonly(const XiniTree *tree)
{
    return (tree->flags & XINI_READ_ONLY) != 0;
}

XiniNode *key_or_root(XiniTree *tree, XiniNode *key)
{
    return key ? key : tree->root;
}

// Copy without reserved characters into a zero-filled block of
// (length + 8) rounded down to a multiple of 8 bytes.
char *strip_copy(const char *text, uint32_t length, uint32_t *stored)
{
    char *copy = static_cast<char *>(ORV_CALLOC((length + 8u) & ~7u));
    if (!copy)
        return nullptr;
    uint32_t n = 0;
    for (uint32_t i = 0; i < length; ++i)
        if (!xini_is_reserved(text[i]))
            copy[n++] = text[i];
    *stored = n;
    return copy;
}

// Stores text (reserved characters left out) as the key's value; an empty
// result leaves the key without one. The old value stays when memory runs out.
ResultCode store_value(XiniNode *key, const char *text, uint32_t length)
{
    uint32_t n = 0;
    char *copy = nullptr;
    if (text && length && !(copy = strip_copy(text, length, &n)))
        return ORV_FAIL;
    if (copy && n == 0) {
        orv_free(copy);
        copy = nullptr;
    }
    orv_free(key->value);
    key->value = copy;
    key->value_length = n;
    return ORV_OK;
}

// The reader drops tabs and line breaks, collapses runs of blanks and trims
// blanks at both ends: a text with any of these would come back altered, and
// a lookup by it would then fail. Reserved characters, left out on the way
// in, are skipped here too.
enum CharKind : uint8_t { kPlain, kReserved, kDropped, kBlank };

constexpr std::array<uint8_t, 256> make_char_kinds()
{
    std::array<uint8_t, 256> t{};
    for (char c : {'<', '=', ';', '>'})
        t[static_cast<uint8_t>(c)] = kReserved;
    for (char c : {'\t', '\r', '\n', '\0'})
        t[static_cast<uint8_t>(c)] = kDropped;
    t[' '] = kBlank;
    return t;
}
constexpr std::array<uint8_t, 256> kCharKind = make_char_kinds();

bool comes_back(const char *text, size_t length)
{
    bool after_blank = true; // a blank at the start counts as one after a blank
    bool any = false;
    for (size_t i = 0; i < length; ++i) {
        if (kCharKind[static_cast<uint8_t>(text[i])] == kPlain) {
            do
                ++i;
            while (i < length && kCharKind[static_cast<uint8_t>(text[i])] == kPlain);
            after_blank = false;
            any = true;
            if (i == length)
                break;
        }
        const uint8_t kind = kCharKind[static_cast<uint8_t>(text[i])];
        if (kind == kDropped || (kind == kBlank && after_blank))
            return false;
        if (kind == kBlank)
            after_blank = true;
    }
    return !(any && after_blank); // nor one at the end
}

bool has_reserved(const char *text, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (kCharKind[static_cast<uint8_t>(text[i])] == kReserved)
            return true;
    return false;
}

// The text itself stays out of the log: its line breaks would split the line.
ResultCode refuse_text(const char *what, size_t length)
{
    orv_log(
        3, ORV_ERR_INVALID_PARAM,
        "VRE: VR: xini %s of %zu characters refused: tabs, line breaks and stray blanks would not come back",
        what, length);
    return ORV_ERR_INVALID_PARAM;
}

XiniNode *find_subkey(const XiniNode *parent, const char *name, uint32_t length)
{
    for (int32_t i = 0; i < parent->subkey_count; ++i) {
        XiniNode *k = parent->subkeys[i];
        if (k->name_length == length && std::memcmp(k->name, name, length) == 0)
            return k;
    }
    return nullptr;
}

int depth_of(const XiniNode *key)
{
    int depth = 0;
    for (; key && key->parent; key = key->parent)
        ++depth;
    return depth;
}

ResultCode append_subkey(XiniNode *parent, XiniNode *key)
{
    auto **array = static_cast<XiniNode **>(ORV_CALLOC(sizeof(XiniNode *) * (parent->subkey_count + 1u)));
    if (!array)
        return XINI_ERR_ADD;
    if (parent->subkey_count)
        std::memcpy(array, parent->subkeys, sizeof(XiniNode *) * parent->subkey_count);
    orv_free(parent->subkeys);
    array[parent->subkey_count] = key;
    parent->subkeys = array;
    parent->subkey_count++;
    key->parent = parent;
    return ORV_OK;
}

// Removes entry i and closes the gap.
void remove_subkey_at(XiniNode *parent, int32_t i)
{
    xini_destroy_node(parent->subkeys[i]);
    for (int32_t j = i + 1; j < parent->subkey_count; ++j)
        parent->subkeys[j - 1] = parent->subkeys[j];
    parent->subkeys[--parent->subkey_count] = nullptr;
    if (parent->subkey_count == 0) {
        orv_free(parent->subkeys);
        parent->subkeys = nullptr;
    }
}

void destroy_subkeys(XiniNode *key)
{
    for (int32_t i = 0; i < key->subkey_count; ++i)
        xini_destroy_node(key->subkeys[i]);
    orv_free(key->subkeys);
    key->subkeys = nullptr;
    key->subkey_count = 0;
}

// create_key with the lengths given by the caller.
ResultCode create_key_n(XiniTree *tree, XiniNode *parent, const char *name, uint32_t name_length,
                        const char *value, uint32_t value_length, XiniNode **out)
{
    if (!tree || !name)
        return ORV_ERR_INVALID_PARAM;
    parent = key_or_root(tree, parent);
    if (!parent)
        return XINI_ERR_NOT_FOUND;
    if (!value)
        value_length = 0;
    if (value_length > XINI_VALUE_MAX || name_length > XINI_NAME_MAX) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xini key text too long (name %u, value %u)", name_length,
                value_length);
        return ORV_ERR_INVALID_PARAM;
    }
    XiniNode *key = find_subkey(parent, name, name_length);
    if (key) {
        // Reserved characters are left out here too: a stored ";" or ">"
        // would break the saved text.
        if (value_length && !readonly(tree) && !key->value && store_value(key, value, value_length) != ORV_OK)
            return ORV_FAIL;
        if (out)
            *out = key;
        return ORV_OK;
    }
    if (readonly(tree))
        return XINI_ERR_NOT_FOUND;
    // Keep every tree within what the reader takes back.
    if (depth_of(parent) + 1 > XINI_MAX_DEPTH || parent->subkey_count >= XINI_MAX_SUBKEYS) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xini key beyond depth %d or %d subkeys", XINI_MAX_DEPTH,
                XINI_MAX_SUBKEYS);
        return ORV_ERR_INVALID_PARAM;
    }
    key = xini_make_node(parent, name, name_length, value, value_length);
    if (!key || append_subkey(parent, key) != ORV_OK) {
        xini_destroy_node(key);
        return XINI_ERR_ADD;
    }
    if (out)
        *out = key;
    return ORV_OK;
}

ResultCode create_key(XiniTree *tree, XiniNode *parent, const char *name, const char *value, XiniNode **out)
{
    if (!name)
        return ORV_ERR_INVALID_PARAM;
    size_t n = std::strlen(name), v = value ? std::strlen(value) : 0;
    if (n > XINI_NAME_MAX || v > XINI_VALUE_MAX) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xini key text too long (name %zu, value %zu)", n, v);
        return ORV_ERR_INVALID_PARAM;
    }
    if (!comes_back(name, n))
        return refuse_text("name", n);
    if (value && !comes_back(value, v))
        return refuse_text("value", v);
    if (!has_reserved(name, n))
        return create_key_n(tree, parent, name, static_cast<uint32_t>(n), value, static_cast<uint32_t>(v),
                            out);
    // Looked up as stored, so the name that made a key finds it again.
    uint32_t stored = 0;
    char *plain = strip_copy(name, static_cast<uint32_t>(n), &stored);
    if (!plain)
        return XINI_ERR_ADD;
    ResultCode rc = create_key_n(tree, parent, plain, stored, value, static_cast<uint32_t>(v), out);
    orv_free(plain);
    return rc;
}

ResultCode find_path(XiniTree *tree, const char *path, XiniNode **out)
{
    if (!tree || !out)
        return ORV_ERR_INVALID_PARAM;
    XiniNode *current = tree->root;
    if (!current)
        return XINI_ERR_NOT_FOUND;
    if (!path)
        path = "";
    char segment[kPathSegmentSize];
    const char *p = path;
    for (;;) {
        uint32_t kept = 0, scanned = 0;
        while (*p && *p != '\\' && scanned < kPathSegmentSize - 1) {
            char c = *p++;
            ++scanned;
            if (c == '\r' || c == '\n' || c == '\t' || xini_is_reserved(c))
                continue; // never part of a stored name
            if (c == ' ' && (kept == 0 || segment[kept - 1] == ' '))
                continue;
            segment[kept++] = c;
        }
        if (*p != '\\')
            break; // end of the path, or a segment too long to be a name
        while (kept && segment[kept - 1] == ' ')
            --kept;
        XiniNode *next = find_subkey(current, segment, kept);
        if (!next)
            return XINI_ERR_NOT_FOUND;
        current = next;
        // Names are separated by a doubled backslash; never step over the
        // terminator when the path ends in a single one.
        ++p;
        if (*p)
            ++p;
    }
    *out = current;
    return ORV_OK;
}

ResultCode delete_key(XiniTree *tree, XiniNode *key)
{
    if (!tree || !key)
        return ORV_ERR_INVALID_PARAM;
    XiniNode *parent = key->parent;
    if (!parent) {
        // The root stays; only its contents go.
        if (tree->root)
            destroy_subkeys(tree->root);
        return ORV_OK;
    }
    for (int32_t i = 0; i < parent->subkey_count; ++i) {
        if (parent->subkeys[i] == key) {
            remove_subkey_at(parent, i);
            break;
        }
    }
    return ORV_OK;
}

ResultCode create_key_by_path(XiniTree *tree, const char *path, const char *name, const char *value,
                              XiniNode **out)
{
    XiniNode *at = nullptr;
    ResultCode rc = find_path(tree, path, &at);
    if (rc != ORV_OK)
        return rc;
    return create_key(tree, at, name, value, out);
}

ResultCode delete_key_by_path(XiniTree *tree, const char *path)
{
    XiniNode *at = nullptr;
    ResultCode rc = find_path(tree, path, &at);
    if (rc != ORV_OK)
        return rc;
    return delete_key(tree, at);
}

ResultCode delete_subkey(XiniTree *tree, XiniNode *parent, const char *name)
{
    if (!tree || !name)
        return ORV_ERR_INVALID_PARAM;
    parent = key_or_root(tree, parent);
    if (!parent)
        return ORV_OK;
    const size_t length = std::strlen(name);
    if (length > XINI_NAME_MAX)
        return ORV_OK; // no stored name is that long
    uint32_t n = static_cast<uint32_t>(length);
    char *plain = nullptr;
    if (has_reserved(name, n)) {
        if (!(plain = strip_copy(name, n, &n)))
            return XINI_ERR_ADD;
        name = plain;
    }
    for (int32_t i = 0; i < parent->subkey_count; ++i) {
        XiniNode *k = parent->subkeys[i];
        if (k->name_length == n && std::memcmp(k->name, name, n) == 0) {
            remove_subkey_at(parent, i);
            break;
        }
    }
    orv_free(plain);
    return ORV_OK;
}

ResultCode get_subkey_count(XiniTree *tree, XiniNode *key, int32_t *count)
{
    if (!tree || !count || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    *count = key->subkey_count;
    return ORV_OK;
}

ResultCode get_subkey(XiniTree *tree, XiniNode *key, int32_t index, XiniNode **out)
{
    if (!tree || !out || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    if (index < 0 || index >= key->subkey_count)
        return XINI_ERR_NOT_FOUND;
    *out = key->subkeys[index];
    return ORV_OK;
}

ResultCode get_parent(XiniTree *tree, XiniNode *key, XiniNode **out)
{
    if (!tree || !out || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    *out = key->parent;
    return ORV_OK;
}

ResultCode get_name(XiniTree *tree, XiniNode *key, const char **out)
{
    if (!tree || !out || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    *out = key->name;
    return ORV_OK;
}

ResultCode get_string(XiniTree *tree, XiniNode *key, const char **out)
{
    if (!tree || !out || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    if (!key->value)
        return XINI_ERR_NO_VALUE;
    *out = key->value;
    return ORV_OK;
}

ResultCode get_int64(XiniTree *tree, XiniNode *key, int64_t *out)
{
    if (!tree || !out || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    if (!key->value)
        return XINI_ERR_NO_VALUE;
    *out = std::strtoll(key->value, nullptr, 10);
    return ORV_OK;
}

ResultCode get_int(XiniTree *tree, XiniNode *key, int32_t *out)
{
    if (!out)
        return ORV_ERR_INVALID_PARAM;
    int64_t v = 0;
    ResultCode rc = get_int64(tree, key, &v);
    if (rc == ORV_OK)
        *out = static_cast<int32_t>(v);
    return rc;
}

ResultCode set_number(XiniTree *tree, XiniNode *key, int64_t value)
{
    if (!tree || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    // The old value stays when memory runs out.
    char *text = static_cast<char *>(ORV_CALLOC(128));
    if (!text)
        return ORV_FAIL;
    auto r = std::to_chars(text, text + 127, value);
    orv_free(key->value);
    key->value = text;
    key->value_length = static_cast<uint32_t>(r.ptr - text);
    return ORV_OK;
}

ResultCode set_int(XiniTree *tree, XiniNode *key, int32_t value)
{
    return set_number(tree, key, value);
}

ResultCode set_int64(XiniTree *tree, XiniNode *key, int64_t value)
{
    return set_number(tree, key, value);
}

ResultCode set_string(XiniTree *tree, XiniNode *key, const char *text)
{
    if (!tree || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    size_t n = text ? std::strlen(text) : 0;
    if (n > XINI_VALUE_MAX) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xini value of %zu characters refused", n);
        return ORV_ERR_INVALID_PARAM;
    }
    if (text && !comes_back(text, n))
        return refuse_text("value", n);
    return store_value(key, text, static_cast<uint32_t>(n));
}

ResultCode set_int_array(XiniTree *tree, XiniNode *key, int32_t count, const int32_t *values)
{
    if (!tree || !(key = key_or_root(tree, key)) || count < 0 || (count > 0 && !values))
        return ORV_ERR_INVALID_PARAM;
    char text[kArrayTextSize];
    uint32_t length = 0;
    text[length++] = '{';
    for (int32_t i = 0; i < count; ++i) {
        char number[kArrayNumberSize];
        auto r = std::to_chars(number, number + sizeof number, values[i]);
        const uint32_t n = static_cast<uint32_t>(r.ptr - number);
        // Room for the number, its comma, the closing brace and the terminator.
        if (length + n + 3 > kArrayTextSize)
            return ORV_ERR_INVALID_PARAM;
        std::memcpy(text + length, number, n);
        length += n;
        text[length++] = ',';
    }
    text[length++] = '}';
    return store_value(key, text, length);
}

ResultCode get_int_array(XiniTree *tree, XiniNode *key, int32_t count, int32_t *values)
{
    if (!tree || !(key = key_or_root(tree, key)) || count < 0 || (count > 0 && !values))
        return ORV_ERR_INVALID_PARAM;
    if (!key->value)
        return XINI_ERR_NO_VALUE;
    const char *p = key->value + 1; // past the opening brace
    const char *end = key->value + key->value_length;
    int32_t stored = 0;
    while (p < end && stored < count) {
        char element[kArrayNumberSize];
        uint32_t n = 0;
        while (p < end && *p != ',' && *p != '}') {
            if (n >= kArrayNumberSize - 1)
                return ORV_ERR_INVALID_RESULT;
            element[n++] = *p++;
        }
        if (p < end)
            ++p;
        if (n == 0)
            continue;
        element[n] = 0;
        values[stored++] = static_cast<int32_t>(std::strtoll(element, nullptr, 10));
    }
    return stored >= count ? ORV_OK : ORV_ERR_INVALID_RESULT;
}

uint32_t pieces_for(uint64_t length)
{
    return static_cast<uint32_t>((length + kPieceLength - 1) / kPieceLength);
}

// Stores a binary key: its byte count as the value and text in pieces as
// the subkeys val-0, val-1, ..., replacing the old ones. The pieces are made
// in one pass with names unique by construction, so no lookup and no growing
// array; the key changes only once all of them exist.
ResultCode store_binary(XiniTree *tree, XiniNode *key, int32_t byte_count, const char *text, uint32_t length)
{
    const uint32_t count = pieces_for(length);
    if (count && depth_of(key) + 1 > XINI_MAX_DEPTH) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xini binary key deeper than %d", XINI_MAX_DEPTH);
        return ORV_ERR_INVALID_PARAM;
    }
    XiniNode **pieces = nullptr;
    if (count && !(pieces = static_cast<XiniNode **>(ORV_CALLOC(sizeof(XiniNode *) * count))))
        return XINI_ERR_ADD;
    for (uint32_t k = 0, at = 0; k < count; ++k, at += kPieceLength) {
        char name[32];
        std::memcpy(name, "val-", 4);
        auto r = std::to_chars(name + 4, name + sizeof name, k);
        const uint32_t piece = length - at < kPieceLength ? length - at : kPieceLength;
        pieces[k] = xini_make_node(key, name, static_cast<uint32_t>(r.ptr - name), text + at, piece);
        if (!pieces[k]) {
            for (uint32_t j = 0; j < k; ++j)
                xini_destroy_node(pieces[j]);
            orv_free(pieces);
            return XINI_ERR_ADD;
        }
    }
    ResultCode rc = set_int(tree, key, byte_count);
    if (rc != ORV_OK) {
        for (uint32_t j = 0; j < count; ++j)
            xini_destroy_node(pieces[j]);
        orv_free(pieces);
        return rc;
    }
    destroy_subkeys(key);
    key->subkeys = pieces;
    key->subkey_count = static_cast<int32_t>(count);
    return ORV_OK;
}

ResultCode set_binary_hex(XiniTree *tree, XiniNode *key, int32_t count, const void *bytes)
{
    if (!tree || !(key = key_or_root(tree, key)) || count < 0 || (count > 0 && !bytes))
        return ORV_ERR_INVALID_PARAM;
    if (pieces_for(2ull * static_cast<uint32_t>(count)) > XINI_MAX_SUBKEYS)
        return ORV_ERR_INVALID_PARAM;
    if (readonly(tree))
        return XINI_ERR_NOT_FOUND; // its pieces are keys, and none is made
    char *text = orv_hex_encode_alloc(static_cast<uint32_t>(count), bytes);
    if (!text)
        return ORV_FAIL;
    ResultCode rc = store_binary(tree, key, count, text, 2u * static_cast<uint32_t>(count));
    orv_free(text);
    return rc;
}

// The byte count a binary key stores in its value; -3 without one.
ResultCode stored_count(XiniNode *key, int32_t *count)
{
    if (!key->value)
        return XINI_ERR_NO_VALUE;
    long long n = std::strtoll(key->value, nullptr, 10);
    *count = n < 0 ? 0 : n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
    return ORV_OK;
}

// Bytes a getter may write: the stored count, and no more than the caller
// says its buffer holds.
int32_t write_limit(int32_t stored, const int32_t *count)
{
    return *count >= 0 && *count < stored ? *count : stored;
}

ResultCode get_binary_hex(XiniTree *tree, XiniNode *key, int32_t *count, void *buffer)
{
    if (!tree || !count || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    int32_t stored = 0;
    ResultCode rc = stored_count(key, &stored);
    if (rc != ORV_OK)
        return rc;
    if (!buffer) {
        *count = stored;
        return ORV_OK;
    }
    auto nibble = [](char c) {
        int v = orv_hex_value(static_cast<unsigned char>(c));
        return v < 0 ? 0 : v;
    };
    const uint32_t limit = static_cast<uint32_t>(write_limit(stored, count));
    uint8_t *out = static_cast<uint8_t *>(buffer);
    uint32_t at = 0, reached = 0;
    for (int32_t i = 0; i < key->subkey_count && at < limit; ++i) {
        const XiniNode *piece = key->subkeys[i];
        const char *v = piece->value;
        const uint32_t len = piece->value_length;
        // An odd last digit pairs with the terminator.
        for (uint32_t j = 0; j < (len + 1) / 2 && at + j < limit; ++j) {
            int hi = nibble(v[2 * j]);
            int lo = 2 * j + 1 < len ? nibble(v[2 * j + 1]) : 0;
            out[at + j] = static_cast<uint8_t>(hi << 4 | lo);
            if (at + j + 1 > reached)
                reached = at + j + 1;
        }
        at += len / 2;
    }
    *count = static_cast<int32_t>(reached);
    return ORV_OK;
}

ResultCode set_binary_r64(XiniTree *tree, XiniNode *key, int32_t count, const void *bytes)
{
    if (!tree || !(key = key_or_root(tree, key)) || count < 0 || (count > 0 && !bytes))
        return ORV_ERR_INVALID_PARAM;
    // The encoder's size arithmetic holds below 2^29 bytes.
    if (count >= (1 << 29) || pieces_for(static_cast<uint64_t>(count) * 4 / 3 + 16) > XINI_MAX_SUBKEYS)
        return ORV_ERR_INVALID_PARAM;
    if (readonly(tree))
        return XINI_ERR_NOT_FOUND;
    char *text = static_cast<char *>(ORV_CALLOC(orv_r64_size(static_cast<uint32_t>(count))));
    if (!text)
        return ORV_FAIL;
    orv_r64_encode(static_cast<uint32_t>(count), bytes, text);
    ResultCode rc = store_binary(tree, key, count, text, static_cast<uint32_t>(std::strlen(text)));
    orv_free(text);
    return rc;
}

ResultCode get_binary_r64(XiniTree *tree, XiniNode *key, int32_t *count, void *buffer)
{
    if (!tree || !count || !(key = key_or_root(tree, key)))
        return ORV_ERR_INVALID_PARAM;
    int32_t stored = 0;
    ResultCode rc = stored_count(key, &stored);
    if (rc != ORV_OK)
        return rc;
    if (!buffer) {
        *count = stored;
        return ORV_OK;
    }
    uint64_t total = 0;
    for (int32_t i = 0; i < key->subkey_count; ++i)
        total += key->subkeys[i]->value_length;
    if (total >= orv_mem_max_size)
        return ORV_FAIL;
    char *joined = static_cast<char *>(ORV_CALLOC(total + 1));
    if (!joined)
        return ORV_FAIL;
    uint32_t length = 0;
    for (int32_t i = 0; i < key->subkey_count; ++i) {
        const XiniNode *piece = key->subkeys[i];
        if (piece->value_length)
            std::memcpy(joined + length, piece->value, piece->value_length);
        length += piece->value_length;
    }
    // The text carries its own byte count; decode no more than the key's
    // count, the caller's buffer and the characters present allow.
    const char *data = joined;
    uint32_t text_count = orv_r64_count(joined, &data);
    const uint32_t chars = length - static_cast<uint32_t>(data - joined);
    const uint32_t rem = chars % 4;
    const uint32_t available = chars / 4 * 3 + (rem == 3 ? 2 : rem == 2 ? 1 : 0);
    uint32_t n = static_cast<uint32_t>(write_limit(stored, count));
    if (text_count < n)
        n = text_count;
    if (available < n)
        n = available;
    uint8_t *out = static_cast<uint8_t *>(buffer);
    for (uint32_t o = 0, c = 0; o < n; o += 3, c += 4) {
        uint32_t c0 = kR64Value[static_cast<uint8_t>(data[c])];
        uint32_t c1 = c + 1 < chars ? kR64Value[static_cast<uint8_t>(data[c + 1])] : 0;
        uint32_t c2 = c + 2 < chars ? kR64Value[static_cast<uint8_t>(data[c + 2])] : 0;
        uint32_t c3 = c + 3 < chars ? kR64Value[static_cast<uint8_t>(data[c + 3])] : 0;
        out[o] = static_cast<uint8_t>(c0 << 2 | c1 >> 4);
        if (o + 1 < n)
            out[o + 1] = static_cast<uint8_t>(c1 << 4 | c2 >> 2);
        if (o + 2 < n)
            out[o + 2] = static_cast<uint8_t>(c2 << 6 | c3);
    }
    orv_free(joined);
    *count = static_cast<int32_t>(n);
    return ORV_OK;
}

uint32_t get_flags(XiniTree *tree)
{
    return tree ? tree->flags : 0;
}

void set_flags(XiniTree *tree, uint32_t flags)
{
    if (tree)
        tree->flags = flags;
}

bool known_type(int32_t type)
{
    return type >= XINI_TYPE_STRING && type <= XINI_TYPE_BINARY_R64;
}

ResultCode set_value(XiniTree *tree, XiniNode *parent, const char *name, int32_t type, int32_t count,
                     const void *value, XiniNode **out)
{
    if (!known_type(type) || (type != XINI_TYPE_STRING && !value && count != 0))
        return ORV_ERR_INVALID_PARAM;
    XiniNode *key = nullptr;
    ResultCode rc = create_key(tree, parent, name, nullptr, &key);
    if (rc != ORV_OK)
        return rc;
    if (out)
        *out = key;
    switch (type) {
    case XINI_TYPE_STRING:
        return set_string(tree, key, static_cast<const char *>(value));
    case XINI_TYPE_INT:
        return value ? set_int(tree, key, *static_cast<const int32_t *>(value)) : ORV_ERR_INVALID_PARAM;
    case XINI_TYPE_INT64:
        return value ? set_int64(tree, key, *static_cast<const int64_t *>(value)) : ORV_ERR_INVALID_PARAM;
    case XINI_TYPE_INT_ARRAY:
        return set_int_array(tree, key, count, static_cast<const int32_t *>(value));
    case XINI_TYPE_BINARY_HEX:
        return set_binary_hex(tree, key, count, value);
    default:
        return set_binary_r64(tree, key, count, value);
    }
}

ResultCode get_value(XiniTree *tree, XiniNode *parent, const char *name, int32_t type, int32_t *count,
                     void *value, XiniNode **out)
{
    if (!known_type(type))
        return ORV_ERR_INVALID_PARAM;
    XiniNode *key = nullptr;
    ResultCode rc = create_key(tree, parent, name, nullptr, &key);
    if (rc != ORV_OK)
        return rc;
    if (out)
        *out = key;
    switch (type) {
    case XINI_TYPE_STRING:
        return get_string(tree, key, static_cast<const char **>(value));
    case XINI_TYPE_INT:
        return get_int(tree, key, static_cast<int32_t *>(value));
    case XINI_TYPE_INT64:
        return get_int64(tree, key, static_cast<int64_t *>(value));
    case XINI_TYPE_INT_ARRAY:
        return count ? get_int_array(tree, key, *count, static_cast<int32_t *>(value))
                     : ORV_ERR_INVALID_PARAM;
    case XINI_TYPE_BINARY_HEX:
        return get_binary_hex(tree, key, count, value);
    default:
        return get_binary_r64(tree, key, count, value);
    }
}

} // namespace

void xini_destroy_node(XiniNode *key)
{
    if (!key)
        return;
    destroy_subkeys(key);
    orv_free(key->name);
    orv_free(key->value);
    orv_mem_free(key);
}

XiniNode *xini_make_node(XiniNode *parent, const char *name, uint32_t name_length, const char *value,
                         uint32_t value_length)
{
    auto *key = static_cast<XiniNode *>(ORV_CALLOC(sizeof(XiniNode)));
    if (!key)
        return nullptr;
    key->parent = parent;
    key->name = strip_copy(name, name_length, &key->name_length);
    if (!key->name || (value && store_value(key, value, value_length) != ORV_OK)) {
        xini_destroy_node(key);
        return nullptr;
    }
    return key;
}

void xini_fill_vtbl(XiniVtbl *vt)
{
    vt->close = xini_close;
    vt->create_key_by_path = create_key_by_path;
    vt->delete_key_by_path = delete_key_by_path;
    vt->create_key = create_key;
    vt->delete_key = delete_key;
    vt->find_path = find_path;
    vt->get_subkey_count = get_subkey_count;
    vt->get_subkey = get_subkey;
    vt->get_parent = get_parent;
    vt->get_name = get_name;
    vt->get_int = get_int;
    vt->get_int64 = get_int64;
    vt->get_string = get_string;
    vt->set_int = set_int;
    vt->set_int64 = set_int64;
    vt->set_string = set_string;
    vt->write_tree = xini_write_tree;
    vt->get_int_array = get_int_array;
    vt->set_int_array = set_int_array;
    vt->get_binary_hex = get_binary_hex;
    vt->set_binary_hex = set_binary_hex;
    vt->get_binary_r64 = get_binary_r64;
    vt->set_binary_r64 = set_binary_r64;
    vt->delete_subkey = delete_subkey;
    vt->write_key = xini_write_key;
    vt->get_flags = get_flags;
    vt->set_flags = set_flags;
    vt->set_value = set_value;
    vt->get_value = get_value;
}
