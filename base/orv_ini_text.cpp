/* XINI text format: writes a tree as bracketed entry lines, reads it back
 * through a BufferedStream, opens trees from files or streams and saves them
 * on close. Text comes from files and the network, so the reader bounds the
 * nesting depth, the entry length and the memory any count it is given can
 * claim. The stream a tree was opened from is borrowed; file objects are made
 * and released here.
 *
 * A file is never left half written: close writes a temporary file beside
 * it, flushes it to disk, renames it over the file and syncs the directory;
 * on any failure the file stays as it was and close answers the failure.
 * A damaged file (text cut short, or not XINI text at all) is never replaced
 * by what little could be read: a writable open of it fails with
 * ORV_ERR_INVALID_FILE and leaves it alone, while a read-only open reads what
 * is there as before. A read error fails any open (ORV_ERR_IO_READ) instead
 * of passing for the end of the text.
 *
 * No lock: one thread uses a tree and its stream at a time. */
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
constexpr uint32_t kFirstSubkeys = 16;

// ---- Writer ---------------------------------------------------------------

struct Writer {
    XiniTree *tree;
    BufferedStream bio;
    bool compact;
    ResultCode failure; // the first write the stream did not take whole

    // Nothing more goes out after a refused write: a text with a hole in it
    // would read back as a different tree.
    void put(const char *text, uint32_t n)
    {
        if (failure != ORV_OK)
            return;
        // Most pieces fit; one that fills the buffer goes through the flush.
        if (static_cast<size_t>(bio.end - bio.position) > n) {
            std::memcpy(bio.position, text, n);
            bio.position += n;
            return;
        }
        uint32_t done = 0;
        ResultCode rc = orv_bio_write(&bio, text, n, &done);
        if (rc != ORV_OK)
            failure = rc;
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
        if (failure != ORV_OK)
            return;
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

// Writes key (or nothing for null) and the final 0 byte. 0 only when the
// stream took every byte; a stream that refuses some (full, at its limit,
// or failing) gives its failure, or ORV_ERR_IO_WRITE for a mere status such
// as ORV_WOUNLD_BLOCK.
ResultCode write_text(XiniTree *tree, const XiniNode *key, xio *stream)
{
    if (!tree || !stream)
        return ORV_ERR_INVALID_PARAM;
    uint8_t *buffer = static_cast<uint8_t *>(ORV_ALLOC(kWriteBufferSize));
    if (!buffer) {
        orv_log(3, ORV_FAIL, "VRE: VR: xini writer buffer of %u bytes not obtained", kWriteBufferSize);
        return ORV_FAIL;
    }
    Writer w{tree, {}, (tree->flags & XINI_COMPACT) != 0, ORV_OK};
    orv_bio_init(&w.bio, stream, buffer, kWriteBufferSize, BIO_WRITE);
    tree->indent = 0;
    if (key)
        w.key(key);
    w.put("", 1);
    if (w.failure == ORV_OK) {
        ResultCode rc = orv_bio_flush(&w.bio);
        if (rc != ORV_OK || w.bio.position != w.bio.buffer)
            w.failure = rc != ORV_OK ? rc : ORV_ERR_IO_WRITE;
    }
    orv_mem_free(buffer);
    if (w.failure == ORV_OK)
        return ORV_OK;
    const ResultCode rc = w.failure < 0 ? w.failure : ORV_ERR_IO_WRITE;
    orv_log(3, rc, "VRE: VR: xini text cut short: the stream refused it (0x%x)",
            static_cast<unsigned>(w.failure));
    return rc;
}

// ---- Reader ---------------------------------------------------------------

struct Reader {
    BufferedStream bio;
    int64_t budget;
    char *entry; // the current entry's text, growing up to XINI_ENTRY_MAX
    uint32_t entry_size;
    ResultCode read_error; // a failed stream read: never taken for the end
    bool partial;          // an entry was left out under the lenient rule
    bool started;          // the root entry's "<" was seen
    bool stray;            // text other than blanks before the root entry

    // Next byte, or -1 at the end of the budget or the data, or on a read
    // error (kept in read_error).
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
        else if (bio.last_result < 0)
            read_error = bio.last_result;
        return c;
    }

    // What a -1 from next() means.
    ResultCode stopped() const { return read_error < 0 ? XINI_ERR_READ : XINI_END_OF_INPUT; }

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

bool dropped(int c)
{
    return c == '\r' || c == '\n' || c == '\t' || c == 0;
}

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

bool hard_failure(ResultCode rc)
{
    return rc == XINI_ERR_DEPTH || rc == XINI_ERR_NO_MEMORY || rc == XINI_ERR_READ;
}

bool blank(int c)
{
    return c == ' ' || dropped(c);
}

// Reads one entry and, recursively, its subkeys. Returns 0 with the key in
// out, XINI_END_OF_INPUT, or a failure.
ResultCode read_entry(Reader &r, XiniNode *parent, int depth, XiniNode **out)
{
    *out = nullptr;
    int c;
    do {
        if ((c = r.next()) < 0)
            return r.stopped();
        if (depth == 0 && c != '<' && !blank(c))
            r.stray = true;
    } while (c != '<');
    if (depth == 0)
        r.started = true;

    uint32_t length = 0;
    for (;;) {
        if ((c = r.next()) < 0)
            return r.stopped();
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
            count =
                field_end < length && e[field_end] == '=' ? lenient_count(e, field_end + 1, count_end) : 0;
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

    // The count is the text's word: room grows with the subkeys actually
    // read, so a large count in a short text claims next to nothing.
    uint32_t room = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (static_cast<uint32_t>(i) == room) {
            const uint32_t want = room ? room * 2 : kFirstSubkeys;
            const uint32_t bigger = want < static_cast<uint32_t>(count) ? want : static_cast<uint32_t>(count);
            auto **grown = static_cast<XiniNode **>(ORV_REALLOC(key->subkeys, sizeof(XiniNode *) * bigger));
            if (!grown) {
                xini_destroy_node(key);
                return XINI_ERR_NO_MEMORY;
            }
            key->subkeys = grown;
            room = bigger;
        }
        XiniNode *child = nullptr;
        ResultCode rc = read_entry(r, key, depth + 1, &child);
        if (rc == ORV_OK) {
            key->subkeys[i] = child;
            key->subkey_count = i + 1;
            continue;
        }
        // A text that stops inside its last expected subkey keeps the rest.
        if (i == count - 1 && !hard_failure(rc)) {
            r.partial = true;
            if (key->subkey_count == 0) {
                orv_free(key->subkeys);
                key->subkeys = nullptr;
            }
            break;
        }
        xini_destroy_node(key);
        return rc;
    }
    // Growth by doubling leaves room over; the array keeps exactly the count.
    if (key->subkey_count > 0 && room > static_cast<uint32_t>(key->subkey_count)) {
        auto **exact = static_cast<XiniNode **>(
            ORV_REALLOC(key->subkeys, sizeof(XiniNode *) * static_cast<uint32_t>(key->subkey_count)));
        if (exact)
            key->subkeys = exact;
    }
    *out = key;
    return ORV_OK;
}

// What reading the root found beside its result.
enum class Damage { none, cut_short, not_xini };

// Reads the root entry from stream, from its start, within its size.
ResultCode read_root(XiniTree *tree, xio *stream, uint8_t *buffer, Damage *damage)
{
    *damage = Damage::none;
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
    if (rc == XINI_END_OF_INPUT) {
        // No root: an empty text, or one that lost its root on the way.
        *damage = r.started ? Damage::cut_short : r.stray ? Damage::not_xini : Damage::none;
        return ORV_OK;
    }
    if (rc == ORV_OK) {
        tree->root = root;
        if (r.partial)
            *damage = Damage::cut_short;
    }
    return rc;
}

void destroy_tree(XiniTree *tree)
{
    xini_destroy_node(tree->root);
    orv_free(tree->path);
    orv_mem_free(tree);
}

// Creating does not empty an existing file at open: the new text replaces
// it only once it is safely written, at close.
uint32_t file_mode(uint32_t flags)
{
    if (flags & XINI_CREATE)
        return XIO_FILE_OPEN_ALWAYS;
    if (flags & XINI_READ_ONLY)
        return XIO_FILE_READ;
    return XIO_FILE_OPEN_ALWAYS; // XINI_OPEN_RW: the existing file, else a new empty one
}

// ---- Saving to a file -----------------------------------------------------

int system_open(const char *path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

constexpr XiniSaveCalls kSystemCalls = {system_open, ::write, ::fchmod, ::fsync, ::close, ::rename, ::unlink};
std::atomic<const XiniSaveCalls *> g_calls{&kSystemCalls};

const XiniSaveCalls &sys()
{
    return *g_calls.load(std::memory_order_acquire);
}

// An xio that only writes, straight to a descriptor, so that every failed
// or short system write reaches the writer.
struct FdSink {
    xio io;
    int fd;
    int error; // errno of the first failed write
};

ResultCode sink_write(xio *io, const void *src, int32_t length, int32_t *done)
{
    auto *sink = reinterpret_cast<FdSink *>(io);
    const char *p = static_cast<const char *>(src);
    int32_t left = length;
    while (left > 0) {
        ssize_t n = sys().write(sink->fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            sink->error = n < 0 ? errno : ENOSPC;
            break;
        }
        p += n;
        left -= static_cast<int32_t>(n);
    }
    if (done)
        *done = length - left;
    return left ? ORV_ERR_IO_WRITE : ORV_OK;
}

ResultCode sink_refuse(xio *)
{
    return ORV_ERR_NOT_SUPPORT;
}
ResultCode sink_open(xio *, const char *, uint32_t)
{
    return ORV_ERR_NOT_SUPPORT;
}
ResultCode sink_read(xio *, void *, uint32_t, int32_t *)
{
    return ORV_ERR_NOT_SUPPORT;
}
int64_t sink_seek(xio *, int64_t, int32_t)
{
    return ORV_ERR_NOT_SUPPORT;
}
int64_t sink_position(xio *)
{
    return ORV_ERR_NOT_SUPPORT;
}
ResultCode sink_set(xio *, uint32_t, void *)
{
    return ORV_ERR_NOT_SUPPORT;
}
ResultCode sink_get(xio *, uint32_t, XioParam *)
{
    return ORV_ERR_NOT_SUPPORT;
}

constexpr XioVtbl kSinkSlots = {sink_open, sink_refuse,   sink_read,     sink_write,
                                sink_seek, sink_position, sink_position, sink_set,
                                sink_get,  sink_refuse,   sink_refuse,   sink_refuse};

ResultCode save_failed(const char *path, const char *step, int error, ResultCode rc)
{
    orv_log(3, rc, "VRE: VR: xini save of %s: %s failed, errno %d (%s); the file is left as it was", path,
            step, error, std::strerror(error));
    return rc;
}

int fsync_retrying(int fd)
{
    int r;
    do
        r = sys().fsync(fd);
    while (r != 0 && errno == EINTR);
    return r;
}

// Syncs the directory that holds path, so that a rename in it lasts.
int sync_directory(const char *dir)
{
    int fd;
    do
        fd = sys().open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno;
    int error = 0;
    // Some file systems cannot sync a directory (EINVAL): nothing to wait for.
    if (fsync_retrying(fd) != 0 && errno != EINVAL)
        error = errno;
    sys().close(fd);
    return error;
}

// Writes the tree to a new file beside target, flushes it to disk and
// renames it over target. Until the rename target is untouched; after any
// failure the temporary file is gone.
ResultCode save_file(XiniTree *tree, const char *path)
{
    // A link is followed: the file it names is replaced, the link stays.
    char *resolved = nullptr;
    struct stat64 st;
    if (::lstat64(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        resolved = ::realpath(path, nullptr);
        if (!resolved)
            return save_failed(path, "following the link", errno, ORV_ERR_IO_OPEN);
    }
    const char *target = resolved ? resolved : path;
    const bool existed = ::stat64(target, &st) == 0;

    const char *slash = std::strrchr(target, '/');
    const size_t dir_length = slash ? static_cast<size_t>(slash - target) : 0;
    const size_t size = std::strlen(target) + 48;
    char *temp = static_cast<char *>(ORV_ALLOC(size));
    char *dir = static_cast<char *>(ORV_ALLOC(dir_length + 2));
    if (!temp || !dir) {
        orv_free(temp);
        orv_free(dir);
        std::free(resolved);
        return save_failed(path, "allocation", ENOMEM, ORV_FAIL);
    }
    if (slash) {
        std::memcpy(dir, target, dir_length ? dir_length : 1); // "/file" lives in "/"
        dir[dir_length ? dir_length : 1] = 0;
    } else {
        std::strcpy(dir, ".");
    }
    const char *base = slash ? slash + 1 : target;

    static std::atomic<uint32_t> serial{0};
    int fd = -1;
    int error = 0;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        // Hidden beside the file, so the rename stays within one file system.
        std::snprintf(temp, size, "%.*s.%s.%ld.%u.tmp", static_cast<int>(base - target), target, base,
                      static_cast<long>(::getpid()), serial.fetch_add(1) & 0xFFFFFu);
        fd = sys().open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? (st.st_mode & 07777) : 0666);
        error = fd < 0 ? errno : 0;
        if (fd < 0 && error != EEXIST && error != EINTR)
            break;
    }
    ResultCode rc = ORV_OK;
    if (fd < 0) {
        rc = save_failed(path, "creating the temporary file", error, ORV_ERR_IO_OPEN);
    } else {
        // The creation mode passed through the umask; give the file back its own.
        if (existed && sys().fchmod(fd, st.st_mode & 07777) != 0)
            rc = save_failed(path, "setting the mode", errno, ORV_ERR_IO_WRITE);
        if (rc == ORV_OK) {
            FdSink sink{kSinkSlots, fd, 0};
            ResultCode w = write_text(tree, tree->root, &sink.io);
            if (w != ORV_OK)
                rc = save_failed(path, "writing", sink.error ? sink.error : ENOMEM,
                                 w < 0 ? w : ORV_ERR_IO_WRITE);
        }
        if (rc == ORV_OK && fsync_retrying(fd) != 0)
            rc = save_failed(path, "flushing to disk", errno, ORV_ERR_IO_WRITE);
        // Linux releases the descriptor even when close is interrupted.
        if (sys().close(fd) != 0 && errno != EINTR && rc == ORV_OK)
            rc = save_failed(path, "closing", errno, ORV_ERR_IO_WRITE);
        if (rc == ORV_OK && sys().rename(temp, target) != 0)
            rc = save_failed(path, "renaming", errno, ORV_ERR_IO_WRITE);
        if (rc != ORV_OK) {
            if (sys().unlink(temp) != 0)
                orv_log(3, ORV_ERR_IO, "VRE: VR: xini temporary file %s not removed, errno %d", temp, errno);
        } else if ((error = sync_directory(dir)) != 0) {
            // The new text is in place; only its lasting through a crash is in doubt.
            orv_log(3, ORV_ERR_IO_WRITE,
                    "VRE: VR: xini save of %s: syncing its directory failed, errno %d (%s)", path, error,
                    std::strerror(error));
            rc = ORV_ERR_IO_WRITE;
        }
    }
    orv_free(temp);
    orv_free(dir);
    std::free(resolved);
    return rc;
}

} // namespace

const XiniSaveCalls *xini_set_save_calls(const XiniSaveCalls *calls)
{
    return g_calls.exchange(calls ? calls : &kSystemCalls);
}

ResultCode xini_close(XiniTree *tree)
{
    if (!tree)
        return ORV_OK;
    ResultCode rc = ORV_OK;
    if (!(tree->flags & XINI_READ_ONLY)) {
        if (tree->path)
            rc = save_file(tree, tree->path);
        else if (tree->stream)
            rc = write_text(tree, tree->root, tree->stream);
    }
    destroy_tree(tree);
    return rc;
}

ResultCode xini_write_tree(XiniTree *tree, xio *stream)
{
    return write_text(tree, tree ? tree->root : nullptr, stream);
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
    Damage damage = Damage::none;
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
            } else if (!(flags & XINI_CREATE)) {
                rc = read_root(tree, io, buffer, &damage);
            }
        }
        if (file)
            reinterpret_cast<xio *>(file)->vt.release(reinterpret_cast<xio *>(file));
        // Saving what little was read would replace the file: refuse it.
        if (rc == ORV_OK && damage != Damage::none && !(flags & XINI_READ_ONLY)) {
            orv_log(3, ORV_ERR_INVALID_FILE, "VRE: VR: xini file %s is %s; left as it is", path,
                    damage == Damage::cut_short ? "cut short or damaged" : "not XINI text");
            rc = ORV_ERR_INVALID_FILE;
        }
    } else if (stream) {
        tree->stream = stream;
        rc = read_root(tree, stream, buffer, &damage);
    }
    orv_mem_free(buffer);

    if (rc != ORV_OK) {
        if (rc == XINI_ERR_READ) {
            orv_log(3, ORV_ERR_IO_READ, "VRE: VR: xini text could not be read");
            rc = ORV_ERR_IO_READ;
        } else if (rc != ORV_ERR_FILE_NOT_FOUND && rc != ORV_ERR_INVALID_FILE) {
            const bool memory = rc == XINI_ERR_NO_MEMORY || rc == ORV_FAIL;
            orv_log(3, memory ? ORV_ERR_MEM_ALLOC : ORV_ERR_INVALID_FILE,
                    "VRE: VR: xini text refused (%s, %d)",
                    rc == XINI_ERR_DEPTH ? "nested too deep"
                    : memory             ? "out of memory"
                                         : "malformed",
                    rc);
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

ResultCode orv_ini_close(XiniTree *tree)
{
    return xini_close(tree);
}

ResultCode orv_ini_write(XiniTree *tree, xio *stream)
{
    return xini_write_tree(tree, stream);
}

ResultCode orv_ini_write_key(XiniTree *tree, XiniNode *key, xio *stream)
{
    return xini_write_key(tree, key, stream);
}

} // extern "C"
