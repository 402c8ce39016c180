/* XINI text format: writes a tree as bracketed entry lines, reads it back
 * through a BufferedStream, opens trees from files or streams and saves them
 * on close. Text comes from files and the network, so the reader bounds the
 * nesting depth, the entry length and every count it is given. The stream a
 * tree was opened from is borrowed; file objects are made and released here.
 * No lock: one thread uses a tree and its stream at a time. */
#include <cstring>

#include "orv/orv_bits.h"
#include "orv/orv_io_file.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_ini_private.h"

namespace {

constexpr uint32_t kReadBufferSize = 1024;
constexpr uint32_t kWriteBufferSize = 4096;
constexpr uint32_t kEntryStart = 1024;
constexpr int kMaxCountDigits = 9;

// ---- Writer ---------------------------------------------------------------

struct Writer {
    XiniTree *tree;
    BufferedStream bio;
    bool compact;

    void put(const char *text, uint32_t n)
    {
        uint32_t done = 0;
        orv_bio_write(&bio, text, n, &done);
    }
    void put(const char *text) { put(text, static_cast<uint32_t>(std::strlen(text))); }
    void indent(int32_t n)
    {
        static const char blanks[] = "                                                                ";
        while (n > 0) {
            uint32_t k = n < 64 ? static_cast<uint32_t>(n) : 64u;
            put(blanks, k);
            n -= static_cast<int32_t>(k);
        }
    }
    void comment(const XiniNode *key, const char *word)
    {
        indent(tree->indent);
        put(word);
        put(" of (");
        put(key->name, key->name_length);
        put(") subkeys; \r\n");
    }

    // One entry line, then the subkeys one level deeper. Depth is bounded by
    // XINI_MAX_DEPTH for every tree that can exist.
    void key(const XiniNode *key)
    {
        indent(tree->indent);
        put("< ");
        put(key->name, key->name_length);
        put(" = ");
        if (key->value)
            put(key->value, key->value_length);
        put("; ");
        if (key->subkey_count > 0) {
            char count[16];
            int n = 0;
            char digits[16];
            for (uint32_t v = static_cast<uint32_t>(key->subkey_count); v; v /= 10)
                digits[n++] = static_cast<char>('0' + v % 10);
            for (int i = 0; i < n; ++i)
                count[i] = digits[n - 1 - i];
            put(count, static_cast<uint32_t>(n));
            put("; ");
        }
        put("> \r\n");
        if (key->subkey_count <= 0)
            return;
        if (!compact)
            comment(key, "start");
        tree->indent += 2;
        for (int32_t i = 0; i < key->subkey_count; ++i)
            this->key(key->subkeys[i]);
        tree->indent -= 2;
        if (!compact)
            comment(key, "end");
    }
};

// Writes key (or nothing for null) and the final 0 byte; the result is the
// one of that last write reaching the stream.
ResultCode write_text(XiniTree *tree, const XiniNode *key, xio *stream)
{
    if (!tree || !stream)
        return ORV_ERR_INVALID_PARAM;
    uint8_t *buffer = static_cast<uint8_t *>(ORV_ALLOC(kWriteBufferSize));
    if (!buffer)
        return ORV_FAIL;
    Writer w{tree, {}, (tree->flags & XINI_COMPACT) != 0};
    orv_bio_init(&w.bio, stream, buffer, kWriteBufferSize, BIO_WRITE);
    tree->indent = 0;
    if (key)
        w.key(key);
    ResultCode rc = orv_bio_write_text(&w.bio, nullptr);
    ResultCode flushed = orv_bio_flush(&w.bio);
    orv_mem_free(buffer);
    return rc < 0 ? rc : flushed;
}

// ---- Reader ---------------------------------------------------------------

struct Reader {
    BufferedStream bio;
    int64_t budget;
    char *entry;        // the current entry's text, growing up to XINI_ENTRY_MAX
    uint32_t entry_size;

    // Next byte, or -1 at the end of the budget or the data.
    int next()
    {
        if (budget <= 0)
            return -1;
        if (bio.position < bio.end) {
            --budget;
            return *bio.position++;
        }
        int c = orv_bio_getc(&bio);
        if (c >= 0)
            --budget;
        return c;
    }

    bool grow()
    {
        uint32_t size = entry_size * 2;
        if (size > XINI_ENTRY_MAX + 1)
            size = XINI_ENTRY_MAX + 1;
        char *bigger = static_cast<char *>(ORV_REALLOC(entry, size));
        if (!bigger)
            return false;
        entry = bigger;
        entry_size = size;
        return true;
    }
};

bool dropped(int c) { return c == '\r' || c == '\n' || c == '\t' || c == 0; }

// Applies the blank rule to text[from, to) in place at text + from, leaving
// out reserved characters as well when asked, and trims trailing blanks.
// Leaving reserved characters out before the blank rule keeps a read key
// the same when it is written and read again.
uint32_t clean_field(char *text, uint32_t from, uint32_t to, bool strip)
{
    uint32_t n = 0;
    char *out = text + from;
    for (uint32_t i = from; i < to; ++i) {
        char c = text[i];
        if (dropped(static_cast<unsigned char>(c)) || (strip && xini_is_reserved(c)))
            continue;
        if (c == ' ' && (n == 0 || out[n - 1] == ' '))
            continue;
        out[n++] = c;
    }
    while (n && out[n - 1] == ' ')
        --n;
    return n;
}

uint32_t find_char(const char *text, uint32_t from, uint32_t to, char a, char b)
{
    for (uint32_t i = from; i < to; ++i)
        if (text[i] == a || text[i] == b)
            return i;
    return to;
}

// Reads a subkey count written as "subkey = <n>": optional sign, digits up
// to the first other character. Negative counts are refused by the caller.
int64_t lenient_count(const char *text, uint32_t from, uint32_t to)
{
    uint32_t i = from;
    while (i < to && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < to && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < to && text[i] >= '0' && text[i] <= '9'; ++i)
        if (v <= XINI_MAX_SUBKEYS)
            v = v * 10 + (text[i] - '0');
    return negative ? -v : v;
}

bool hard_failure(ResultCode rc) { return rc == XINI_ERR_DEPTH || rc == XINI_ERR_NO_MEMORY; }

// Reads one entry and, recursively, its subkeys. Returns 0 with the key in
// out, XINI_END_OF_INPUT, or a failure.
ResultCode read_entry(Reader &r, XiniNode *parent, int depth, XiniNode **out)
{
    *out = nullptr;
    int c;
    do {
        if ((c = r.next()) < 0)
            return XINI_END_OF_INPUT;
    } while (c != '<');

    uint32_t length = 0;
    for (;;) {
        if ((c = r.next()) < 0)
            return XINI_END_OF_INPUT;
        if (c == '>')
            break;
        if (dropped(c) || (c == ' ' && (length == 0 || r.entry[length - 1] == ' ')))
            continue;
        if (length >= XINI_ENTRY_MAX)
            return XINI_ERR_ADD;
        if (length + 1 >= r.entry_size && !r.grow())
            return XINI_ERR_NO_MEMORY;
        r.entry[length++] = static_cast<char>(c);
    }
    while (length && r.entry[length - 1] == ' ')
        --length;
    if (depth > XINI_MAX_DEPTH)
        return XINI_ERR_DEPTH;

    char *e = r.entry;
    const uint32_t eq = find_char(e, 0, length, '=', '=');
    if (eq == length)
        return XINI_ERR_NOT_FOUND;
    const uint32_t value_end = find_char(e, eq + 1, length, ';', ';');
    // Field boundaries are found before any field is cleaned in place.
    const uint32_t field_start = value_end + 1;
    const uint32_t field_end = value_end < length ? find_char(e, field_start, length, '=', ';') : length;
    const uint32_t count_end = field_end < length ? find_char(e, field_end + 1, length, ';', ';') : length;

    int64_t count = 0;
    if (value_end < length) {
        uint32_t n = clean_field(e, field_start, field_end, false);
        if (n == 6 && std::memcmp(e + field_start, "subkey", 6) == 0) {
            count = field_end < length && e[field_end] == '=' ? lenient_count(e, field_end + 1, count_end) : 0;
        } else {
            if (n > static_cast<uint32_t>(kMaxCountDigits))
                return XINI_ERR_NOT_FOUND;
            for (uint32_t i = 0; i < n; ++i) {
                char d = e[field_start + i];
                if (d < '0' || d > '9')
                    return XINI_ERR_NOT_FOUND;
                count = count * 10 + (d - '0');
            }
        }
        if (count < 0 || count > XINI_MAX_SUBKEYS)
            return XINI_ERR_NO_VALUE;
    }

    const uint32_t name_length = clean_field(e, 0, eq, true);
    const uint32_t value_length = clean_field(e, eq + 1, value_end, true);
    // The setters' limits: whatever is read can be written and read again.
    if (name_length > XINI_NAME_MAX || value_length > XINI_VALUE_MAX)
        return XINI_ERR_ADD;
    XiniNode *key = xini_make_node(parent, e, name_length, e + eq + 1, value_length);
    if (!key)
        return XINI_ERR_NO_MEMORY;
    if (count == 0) {
        *out = key;
        return ORV_OK;
    }

    key->subkeys = static_cast<XiniNode **>(ORV_CALLOC(sizeof(XiniNode *) * static_cast<uint32_t>(count)));
    if (!key->subkeys) {
        xini_destroy_node(key);
        return XINI_ERR_NO_MEMORY;
    }
    for (int32_t i = 0; i < count; ++i) {
        XiniNode *child = nullptr;
        ResultCode rc = read_entry(r, key, depth + 1, &child);
        if (rc == ORV_OK) {
            key->subkeys[i] = child;
            key->subkey_count = i + 1;
            continue;
        }
        // A text that stops inside its last expected subkey keeps the rest.
        if (i == count - 1 && !hard_failure(rc)) {
            if (key->subkey_count == 0) {
                orv_free(key->subkeys);
                key->subkeys = nullptr;
            }
            break;
        }
        xini_destroy_node(key);
        return rc;
    }
    *out = key;
    return ORV_OK;
}

// Reads the root entry from stream, from its start, within its size.
ResultCode read_root(XiniTree *tree, xio *stream, uint8_t *buffer)
{
    Reader r{};
    orv_bio_init(&r.bio, stream, buffer, kReadBufferSize, BIO_READ);
    r.budget = stream->vt.size(stream);
    stream->vt.seek(stream, 0, XIO_SEEK_SET);
    r.entry = static_cast<char *>(ORV_ALLOC(kEntryStart));
    if (!r.entry)
        return XINI_ERR_NO_MEMORY;
    r.entry_size = kEntryStart;
    XiniNode *root = nullptr;
    ResultCode rc = read_entry(r, nullptr, 0, &root);
    orv_mem_free(r.entry);
    if (rc == XINI_END_OF_INPUT)
        return ORV_OK;
    if (rc == ORV_OK)
        tree->root = root;
    return rc;
}

void destroy_tree(XiniTree *tree)
{
    xini_destroy_node(tree->root);
    orv_free(tree->path);
    orv_mem_free(tree);
}

uint32_t file_mode(uint32_t flags)
{
    if (flags & XINI_CREATE)
        return XIO_FILE_CREATE;
    if (flags & XINI_READ_ONLY)
        return XIO_FILE_READ;
    return XIO_FILE_OPEN_ALWAYS; // XINI_OPEN_RW: existing file, else a new one
}

} // namespace

void xini_close(XiniTree *tree)
{
    if (!tree)
        return;
    if (!(tree->flags & XINI_READ_ONLY)) {
        if (tree->path) {
            xio_file *file = orv_io_file_create();
            if (file) {
                xio *io = reinterpret_cast<xio *>(file);
                if (io->vt.open(io, tree->path, XIO_FILE_CREATE) == ORV_OK)
                    write_text(tree, tree->root, io);
                io->vt.release(io);
            }
        } else if (tree->stream) {
            write_text(tree, tree->root, tree->stream);
        }
    }
    destroy_tree(tree);
}

ResultCode xini_write_tree(XiniTree *tree, xio *stream)
{
    ResultCode rc = write_text(tree, tree ? tree->root : nullptr, stream);
    return rc < 0 ? rc : ORV_OK;
}

ResultCode xini_write_key(XiniTree *tree, XiniNode *key, xio *stream)
{
    return write_text(tree, key ? key : (tree ? tree->root : nullptr), stream);
}

extern "C" {

ResultCode orv_ini_open(const char *path, xio *stream, uint32_t flags, void *reserved, XiniTree **out)
{
    if (!out)
        return ORV_ERR_INVALID_PARAM;
    *out = nullptr;
    auto *tree = static_cast<XiniTree *>(ORV_CALLOC(sizeof(XiniTree)));
    if (!tree)
        return ORV_FAIL;
    xini_fill_vtbl(&tree->vt);
    tree->flags = flags;
    uint8_t *buffer = static_cast<uint8_t *>(ORV_CALLOC(kReadBufferSize));
    if (!buffer) {
        destroy_tree(tree);
        return XINI_ERR_ADD;
    }

    ResultCode rc = ORV_OK;
    if (path) {
        xio_file *file = nullptr;
        if (!(tree->path = ORV_STRDUP(path)) || !(file = orv_io_file_create())) {
            rc = XINI_ERR_ADD;
        } else {
            xio *io = reinterpret_cast<xio *>(file);
            if (!(flags & (XINI_OPEN_RW | XINI_READ_ONLY | XINI_CREATE)) ||
                io->vt.open(io, path, file_mode(flags)) != ORV_OK) {
                orv_log(3, ORV_ERR_FILE_NOT_FOUND, "VRE: VR: xini open %s flags %u failed", path, flags);
                rc = ORV_ERR_FILE_NOT_FOUND;
            } else {
                rc = read_root(tree, io, buffer);
            }
        }
        if (file)
            reinterpret_cast<xio *>(file)->vt.release(reinterpret_cast<xio *>(file));
    } else if (stream) {
        tree->stream = stream;
        rc = read_root(tree, stream, buffer);
    }
    orv_mem_free(buffer);

    if (rc != ORV_OK) {
        if (rc != ORV_ERR_FILE_NOT_FOUND) {
            const bool memory = rc == XINI_ERR_NO_MEMORY || rc == ORV_FAIL;
            orv_log(3, memory ? ORV_ERR_MEM_ALLOC : ORV_ERR_INVALID_FILE, "VRE: VR: xini text refused (%s, %d)",
                    rc == XINI_ERR_DEPTH ? "nested too deep" : memory ? "out of memory" : "malformed", rc);
            rc = XINI_ERR_ADD;
        }
        destroy_tree(tree);
        return rc;
    }
    if (!tree->root) {
        tree->root = xini_make_node(nullptr, "root", 4, "root", 4);
        if (!tree->root) {
            destroy_tree(tree);
            return ORV_FAIL;
        }
    }
    *out = tree;
    return ORV_OK;
}

void orv_ini_close(XiniTree *tree) { xini_close(tree); }

ResultCode orv_ini_write(XiniTree *tree, xio *stream) { return xini_write_tree(tree, stream); }

ResultCode orv_ini_write_key(XiniTree *tree, XiniNode *key, xio *stream) { return xini_write_key(tree, key, stream); }

} // extern "C"
