// xio_file: the file kind of the xio stream over a descriptor with 64-bit
// offsets, a whole-file copy and a file's size by path. A stream owns its
// descriptor and its (never taken) mutex; it has no locking of its own, so one
// thread at a time uses a stream. Failures are logged where they happen.
#include "orv/orv_io_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"

#ifndef O_LARGEFILE
#define O_LARGEFILE 0
#endif

static_assert(offsetof(OrvFileListOwner, list) == ORV_FILE_LIST_OWNER_OFFSET);
static_assert(offsetof(OrvFileList, current) == 4);
static_assert(offsetof(OrvFileList, entries) == 16);
static_assert(sizeof(OrvFileListEntry) == (sizeof(void *) == 4 ? 120 : 128));

namespace {

// Leak reports name the stream record by this line.
constexpr int kFileTagLine = 71;
constexpr uint32_t kCopyChunk = 2048;
// Links followed from a copy's destination before it counts as a loop; the
// kernel's own limit.
constexpr int kMaxLinks = 40;
constexpr int64_t kClosedResult = (int64_t)ORV_ERR_IO; // sign-extended: high word all ones

struct OpenMode {
    uint32_t mode;
    int flags;
    mode_t permissions;
};

constexpr OpenMode kOpenModes[] = {
    {XIO_FILE_READ, O_RDONLY | O_LARGEFILE, 0444},
    {XIO_FILE_WRITE, O_WRONLY | O_LARGEFILE, 0222},
    {XIO_FILE_READ_WRITE, O_RDWR | O_LARGEFILE, 0666},
    {XIO_FILE_CREATE, O_RDWR | O_CREAT | O_TRUNC | O_LARGEFILE, 0666},
    {XIO_FILE_OPEN_ALWAYS, O_RDWR | O_LARGEFILE, 0666},
};
// Mode 0x80000000 creates the file when the first open fails. No O_TRUNC: a
// first open that failed for a passing reason must not empty an existing file.
constexpr int kOpenAlwaysCreateFlags = O_RDWR | O_CREAT;

const OpenMode *find_mode(uint32_t mode)
{
    for (const OpenMode &m : kOpenModes)
        if (m.mode == mode)
            return &m;
    return nullptr;
}

xio_file *as_file(xio *io)
{
    return reinterpret_cast<xio_file *>(io);
}

ResultCode file_open(xio *io, const char *path, uint32_t mode)
{
    xio_file *f = as_file(io);
    if (!f || !path) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xio_file open with null %s", f ? "path" : "stream");
        return ORV_ERR_INVALID_PARAM;
    }
    const OpenMode *m = find_mode(mode);
    if (!m)
        return ORV_FAIL;

    int flags = m->flags;
    mode_t permissions = m->permissions;
    f->hfile = open(path, flags, permissions);
    if (f->hfile == -1 && mode == XIO_FILE_OPEN_ALWAYS) {
        flags = kOpenAlwaysCreateFlags;
        f->hfile = open(path, flags, permissions);
    }
    if (f->hfile == -1) {
        int err = errno;
        orv_log(3, ORV_ERR_IO_OPEN,
                "VRE: VR: filename:%s flags:%d i_mode:%d xio_file->hfile:%d errno:%d errno:%s", path, flags,
                (int)permissions, f->hfile, err, strerror(err));
        return ORV_ERR_IO_OPEN;
    }

    struct stat64 st;
    if (fstat64(f->hfile, &st) != 0) {
        int err = errno;
        close(f->hfile);
        f->hfile = -1;
        orv_log(3, ORV_ERR_IO, "VRE: VR: fstat fail errno:%d, %s", err, strerror(err));
        return ORV_ERR_IO_STAT;
    }
    f->file_size = (int64_t)st.st_size;
    return ORV_OK;
}

ResultCode file_close(xio *io)
{
    xio_file *f = as_file(io);
    if (f && f->hfile != -1) {
        close(f->hfile);
        f->hfile = -1;
    }
    return ORV_OK;
}

ResultCode file_release(xio *io)
{
    xio_file *f = as_file(io);
    if (!f)
        return ORV_OK;
    file_close(io);
    if (f->file_mutex)
        orv_mutex_destroy(f->file_mutex);
    orv_mem_free(f);
    return ORV_OK;
}

ResultCode file_read(xio *io, void *dest, uint32_t length, int32_t *done)
{
    xio_file *f = as_file(io);
    if (!f || f->hfile == -1) {
        orv_log(3, ORV_ERR_IO_READ, "VRE: VR: xio_file->hfile invalid");
        return ORV_ERR_IO;
    }
    if (!dest && length) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xio_file read into null buffer");
        return ORV_ERR_INVALID_PARAM;
    }
    // The count is 32-bit signed; never read more than it can report.
    size_t want = length > (uint32_t)INT32_MAX ? (size_t)INT32_MAX : length;
    ssize_t n;
    do {
        n = read(f->hfile, dest, want);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        orv_log(3, ORV_ERR_IO_READ, "VRE: VR: orv_read fail");
        return ORV_ERR_IO;
    }
    if (done)
        *done = (int32_t)n;
    return ORV_OK;
}

ResultCode file_write(xio *io, const void *src, int32_t length, int32_t *done)
{
    xio_file *f = as_file(io);
    if (!f || f->hfile == -1) {
        orv_log(3, ORV_ERR_IO_WRITE, "VRE: VR: xio_file->hfile invalid");
        return ORV_ERR_IO;
    }
    if (length < 0 || (!src && length)) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xio_file write of %d bytes from %p", length, src);
        return ORV_ERR_INVALID_PARAM;
    }
    ssize_t n;
    do {
        n = write(f->hfile, src, (size_t)length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        orv_log(3, ORV_ERR_IO_WRITE, "VRE: VR: orv_write fail");
        return ORV_ERR_IO;
    }
    if (done)
        *done = (int32_t)n;
    return ORV_OK;
}

int64_t file_seek(xio *io, int64_t offset, int32_t origin)
{
    xio_file *f = as_file(io);
    if (!f || f->hfile == -1) {
        orv_log(3, ORV_ERR_IO_SEEK, "VRE: VR: xio_file->hfile invalid");
        return kClosedResult;
    }
    int64_t pos = lseek64(f->hfile, offset, origin);
    if (pos < 0)
        orv_log(3, ORV_ERR_IO_SEEK, "VRE: VR: lseek fail errno:%d", errno);
    return pos;
}

int64_t file_tell(xio *io)
{
    xio_file *f = as_file(io);
    if (!f || f->hfile == -1)
        return kClosedResult;
    return lseek64(f->hfile, 0, SEEK_CUR);
}

int64_t file_size(xio *io)
{
    xio_file *f = as_file(io);
    if (!f || f->hfile == -1)
        return kClosedResult;
    return f->file_size;
}

ResultCode file_get(xio *io, uint32_t code, XioParam *param)
{
    xio_file *f = as_file(io);
    if (code != XIO_FILE_GET_STATS)
        return ORV_OK;
    if (!f || !param) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xio_file get %u with null param", code);
        return ORV_ERR_INVALID_PARAM;
    }
    if (f->hfile == -1) {
        orv_log(3, ORV_ERR_IO, "VRE: VR: xio_file->hfile invalid");
        return ORV_ERR_IO;
    }
    int64_t position = file_tell(io);
    param->length = f->file_size;
    param->position = position;
    // Past the size at open (after writes) nothing is left to read of it.
    param->remain = position >= 0 && position < f->file_size ? f->file_size - position : 0;
    memset(&param->reserved, 0, sizeof(uint32_t)); // its first word only
    return ORV_OK;
}

ResultCode file_set(xio *io, uint32_t code, void *param)
{
    xio_file *f = as_file(io);
    if (!f || !param)
        return ORV_FAIL;
    if (code == XIO_FILE_SET_LIST) {
        auto *owner = static_cast<OrvFileListOwner *>(param);
        if (!owner->list) {
            orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xio_file list owner without a list");
            return ORV_ERR_INVALID_PARAM;
        }
        f->list_owner = owner;
        f->list_index = owner->list->current;
        return ORV_OK;
    }
    if (code == XIO_FILE_SET_ENTRY) {
        int32_t index = *static_cast<const int32_t *>(param);
        const OrvFileList *list = f->list_owner ? f->list_owner->list : nullptr;
        const char *path = list && list->entries && index >= 0 ? list->entries[index].path : nullptr;
        if (!path) {
            orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: xio_file list entry %d unavailable", index);
            return ORV_ERR_INVALID_PARAM;
        }
        f->list_index = index;
        file_close(io);
        return file_open(io, path, XIO_FILE_READ);
    }
    return ORV_OK;
}

ResultCode file_reset(xio *)
{
    return ORV_FAIL;
}

ResultCode file_flush(xio *io)
{
    xio_file *f = as_file(io);
    if (f && f->hfile != -1)
        fsync(f->hfile);
    return ORV_OK;
}

constexpr XioVtbl kFileVtbl = {
    file_open, file_release, file_read, file_write, file_seek,  file_tell,
    file_size, file_set,     file_get,  file_reset, file_close, file_flush,
};

// Releases a stream when the copy leaves, whichever way.
struct StreamGuard {
    xio_file *file;
    ~StreamGuard()
    {
        if (file)
            file->vt.release(reinterpret_cast<xio *>(file));
    }
};

// Logs a failed step of the copy with its errno; the copy's result.
ResultCode copy_failed(const char *what, const char *path)
{
    const int err = errno;
    orv_log(3, ORV_ERR_IO_WRITE, "VRE: VR: file copy %s failed on %s, errno:%d, %s", what, path, err,
            strerror(err));
    return ORV_ERR_IO_WRITE;
}

// Where a write through `path` lands: the path itself, or where its chain of
// symbolic links ends, even at a file that does not exist yet (realpath
// refuses those). A relative target counts from its link's folder. 0, or
// ELOOP past kMaxLinks links, ENAMETOOLONG, or readlink's errno.
int follow_links(const char *path, char (&out)[PATH_MAX])
{
    if (snprintf(out, sizeof out, "%s", path) >= (int)sizeof out)
        return ENAMETOOLONG;
    for (int links = 0;; ++links) {
        struct stat64 st;
        if (lstat64(out, &st) != 0 || !S_ISLNK(st.st_mode))
            return 0; // a missing or unreadable entry fails later, when it is opened
        if (links == kMaxLinks)
            return ELOOP;
        char target[PATH_MAX];
        const ssize_t n = readlink(out, target, sizeof target);
        if (n < 0)
            return errno;
        if (n >= (ssize_t)sizeof target)
            return ENAMETOOLONG;
        target[n] = 0;
        const char *slash = strrchr(out, '/');
        const size_t folder = target[0] != '/' && slash ? (size_t)(slash - out) + 1 : 0;
        if (folder + (size_t)n >= sizeof out)
            return ENAMETOOLONG;
        memcpy(out + folder, target, (size_t)n + 1);
    }
}

// total bytes (or fewer, when the source shrank since it was opened) from in to out.
ResultCode copy_bytes(xio *in, xio *out, int64_t total)
{
    uint8_t buffer[kCopyChunk];
    int64_t left = total;
    while (left > 0) {
        uint32_t chunk = left < (int64_t)kCopyChunk ? (uint32_t)left : kCopyChunk;
        int32_t got = 0;
        ResultCode rc = in->vt.read(in, buffer, chunk, &got);
        if (ORV_FAILED(rc))
            return rc;
        if (got == 0)
            break;
        for (int32_t put = 0; put < got;) {
            int32_t wrote = 0;
            rc = out->vt.write(out, buffer + put, got - put, &wrote);
            if (ORV_FAILED(rc))
                return rc;
            if (wrote == 0) {
                orv_log(3, ORV_ERR_IO_WRITE, "VRE: VR: orv_write wrote nothing");
                return ORV_ERR_IO_WRITE;
            }
            put += wrote;
        }
        // Count what was read: a short read must not skip source bytes.
        left -= got;
    }
    return ORV_OK;
}

} // namespace

extern "C" {

ORV_API xio_file *orv_io_file_create(void)
{
    auto *f = static_cast<xio_file *>(orv_mem_calloc_at(sizeof(xio_file), ORV_TAG_FILE, kFileTagLine));
    if (!f) {
        orv_log(3, ORV_ERR_IO, "VRE: VR: malloc fail");
        return nullptr;
    }
    f->hfile = -1;
    f->file_mutex = orv_mutex_create(0, 0, 0);
    if (!f->file_mutex) {
        orv_mem_free(f);
        return nullptr;
    }
    f->vt = kFileVtbl;
    return f;
}

ORV_API ResultCode orv_file_copy(const char *source, const char *destination)
{
    if (!source || !destination) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: file copy with null path");
        return ORV_ERR_INVALID_PARAM;
    }
    StreamGuard a{orv_io_file_create()};
    if (!a.file)
        return ORV_FAIL;
    xio *in = reinterpret_cast<xio *>(a.file);
    ResultCode rc = in->vt.open(in, source, XIO_FILE_READ);
    if (ORV_FAILED(rc))
        return rc;
    int64_t total = in->vt.size(in);

    // A copy onto the source itself is refused.
    struct stat64 src_st, dst_st;
    if (fstat64(a.file->hfile, &src_st) == 0 && stat64(destination, &dst_st) == 0 &&
        src_st.st_dev == dst_st.st_dev && src_st.st_ino == dst_st.st_ino) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: file copy onto itself: %s", destination);
        return ORV_ERR_INVALID_PARAM;
    }

    // The copy goes to a new file beside the destination, which replaces the
    // destination only once it is complete and on disk: a failed copy leaves
    // the destination as it was, never cut short. A link is followed, as
    // opening it would be: the file it names is replaced (or made), the link
    // stays.
    char target[PATH_MAX];
    if (const int err = follow_links(destination, target)) {
        orv_log(3, ORV_ERR_IO_OPEN, "VRE: VR: file copy cannot follow the link %s, errno:%d, %s", destination,
                err, strerror(err));
        return ORV_ERR_IO_OPEN;
    }
    destination = target;
    const bool replaces = stat64(destination, &dst_st) == 0 && S_ISREG(dst_st.st_mode);
    char part[PATH_MAX];
    static std::atomic<unsigned> serial{0};
    if (snprintf(part, sizeof part, "%s.part-%d-%u", destination, (int)getpid(), serial.fetch_add(1)) >=
        (int)sizeof part) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: file copy destination path too long: %s", destination);
        return ORV_ERR_INVALID_PARAM;
    }
    StreamGuard b{orv_io_file_create()};
    if (!b.file)
        return ORV_FAIL;
    xio *out = reinterpret_cast<xio *>(b.file);
    rc = out->vt.open(out, part, XIO_FILE_CREATE);
    if (ORV_FAILED(rc))
        return rc;
    rc = copy_bytes(in, out, total);
    if (rc == ORV_OK && replaces && fchmod(b.file->hfile, dst_st.st_mode & 07777) != 0)
        rc = copy_failed("fchmod", part);
    if (rc == ORV_OK && fsync(b.file->hfile) != 0)
        rc = copy_failed("fsync", part);
    if (rc == ORV_OK) {
        const int fd = b.file->hfile;
        b.file->hfile = -1;
        if (close(fd) != 0)
            rc = copy_failed("close", part);
    }
    if (rc == ORV_OK && rename(part, destination) != 0)
        rc = copy_failed("rename", destination);
    if (rc != ORV_OK)
        unlink(part);
    return rc;
}

ORV_API ResultCode orv_file_size_by_path(const char *path, int64_t *size)
{
    if (!path || !size) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: file size with null %s", path ? "size" : "path");
        return ORV_ERR_INVALID_PARAM;
    }
    struct stat64 st;
    if (stat64(path, &st) != 0 || !S_ISREG(st.st_mode))
        return ORV_FAIL;
    *size = (int64_t)st.st_size;
    return ORV_OK;
}

} // extern "C"
