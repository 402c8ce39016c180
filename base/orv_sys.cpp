// Operating-system services over libc: directory walks, recursive removal and
// creation of directory paths, path joining and splitting, disk space,
// environment, identity, the OS and encoding tables and calendar time.
// Owns only the OrvDir records it hands out and the process-wide OS version.
// Takes the global lock around the platform's non-reentrant environment,
// login and time-formatting calls; everything else runs unlocked. Every path
// buffer is bounded: a path that does not fit is refused, never cut, so no
// operation touches a file other than the one named.
// 64-bit directory entries, sizes and block counts on 32-bit builds too: a
// 32-bit readdir fails with EOVERFLOW on a file system with 64-bit inodes.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "orv/orv_sys.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_sync.hpp"
#include "orv_sys_internal.hpp"

static_assert(sizeof(OrvFindData) == 320, "the find record is 320 bytes");
static_assert(sizeof(OrvLocalTime) == 10, "the local-time record is 10 bytes");

struct OrvDir {
    DIR *stream;
    char *path;
    uint32_t length;
};

namespace {

constexpr mode_t kDirMode = 0700;
constexpr size_t kComponentMax = 255;

struct CodeName {
    int code;
    const char *name;
};

constexpr CodeName kOsNames[] = {
    {ORV_OS_NONE, "none"},       {ORV_OS_WINDOWS, "windows"},
    {ORV_OS_LINUX, "linux"},     {ORV_OS_UNIX, "unix"},
    {ORV_OS_MAC, "mac os"},      {ORV_OS_ANDROID, "android"},
    {ORV_OS_IOS, "ios"},         {ORV_OS_WINDOWS_PHONE, "windows phone"},
    {ORV_OS_FREEBSD, "FreeBSD"}, {ORV_OS_SOLARIS, "Solaris"},
};

constexpr CodeName kEncodingNames[] = {
    {ORV_ENCODING_NONE, "none"},   {ORV_ENCODING_ASCII, "ascii"}, {ORV_ENCODING_ANSI, "ansi"},
    {ORV_ENCODING_UTF7, "utf7"},   {ORV_ENCODING_UTF8, "utf8"},   {ORV_ENCODING_UTF16, "utf16"},
    {ORV_ENCODING_UTF32, "utf32"},
};

// Prefix order of the parser: "utf8" must be tried before "utf16" and
// "utf7", "ascii" before "ansi" is harmless (they differ in the second letter).
constexpr CodeName kEncodingParseOrder[] = {
    {ORV_ENCODING_ASCII, "ascii"}, {ORV_ENCODING_ANSI, "ansi"}, {ORV_ENCODING_UTF8, "utf8"},
    {ORV_ENCODING_UTF16, "utf16"}, {ORV_ENCODING_UTF7, "utf7"}, {ORV_ENCODING_UTF32, "utf32"},
};

template <size_t N>
const char *table_name(const CodeName (&table)[N], int code)
{
    for (size_t i = 1; i < N; ++i)
        if (table[i].code == code)
            return table[i].name;
    return table[0].name;
}

std::atomic<int32_t> g_os_version{40};
std::atomic<orv::RemoveTreeHook> g_remove_tree_hook{nullptr};

bool ends_with_slash(const char *text)
{
    const size_t n = strlen(text);
    return n > 0 && text[n - 1] == '/';
}

// "dir/name" (no doubled "/") into out; false when it does not fit.
bool child_path(char *out, size_t size, const char *dir, const char *name)
{
    const int n = snprintf(out, size, ends_with_slash(dir) ? "%s%s" : "%s/%s", dir, name);
    return n >= 0 && static_cast<size_t>(n) < size;
}

// Appends as much of text as fits; the buffer stays terminated.
void append_cut(char *buffer, size_t size, const char *text, size_t length)
{
    if (!buffer || size == 0)
        return;
    const size_t used = strnlen(buffer, size - 1);
    const size_t room = size - 1 - used;
    const size_t n = length < room ? length : room;
    memcpy(buffer + used, text, n);
    buffer[used + n] = '\0';
}

void clear_out(char *buffer, uint32_t size)
{
    if (buffer && size > 0)
        memset(buffer, 0, size);
}

// mkdir when stat finds nothing; -1 for a failure other than EEXIST.
int make_if_missing(const char *path)
{
    struct stat st;
    if (stat(path, &st) == 0)
        return 0;
    if (mkdir(path, kDirMode) != 0 && errno != EEXIST)
        return -1;
    return 0;
}

bool is_dot_entry(const char *name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// Opens a directory without following a link in its last component; the
// descriptor then pins that directory whatever happens to its name later.
int open_dir_nofollow(int parent, const char *name, const char *path)
{
    if (orv::RemoveTreeHook hook = g_remove_tree_hook.load())
        hook(path);
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

// Removes everything inside the directory open on fd (closed here). path holds
// its name, length characters, in a buffer of ORV_PATH_BUFFER bytes: it keeps
// the old rule that a child path over 1023 bytes fails, which also bounds the
// depth and so the descriptors held. The buffer is restored on return.
ResultCode empty_dir(int fd, char *path, size_t length)
{
    DIR *dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return ORV_FAIL;
    }
    const size_t base = length > 0 && path[length - 1] == '/' ? length : length + 1;
    ResultCode result = ORV_OK;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (!entry) {
            if (errno != 0)
                result = ORV_FAIL;
            break;
        }
        const char *name = entry->d_name;
        if (is_dot_entry(name))
            continue;
        const size_t name_length = strlen(name);
        if (base + name_length >= ORV_PATH_BUFFER) {
            path[length] = '\0';
            orv_log(3, ORV_FAIL, "VRE: VR: remove_tree: a child of %s needs more than %d bytes", path,
                    ORV_PATH_BUFFER - 1);
            result = ORV_FAIL;
            break;
        }
        path[length] = '/';
        memcpy(path + base, name, name_length + 1);
        // Only a directory is opened; anything else (or a directory that turns
        // out to be something else) is unlinked by name under this directory.
        bool as_dir = entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN;
        if (!as_dir) {
            if (unlinkat(dirfd(dir), name, 0) == 0)
                continue;
            if (errno != EISDIR && errno != EPERM) {
                result = ORV_FAIL;
                break;
            }
        }
        const int child = open_dir_nofollow(dirfd(dir), name, path);
        if (child < 0) {
            if ((errno == ENOTDIR || errno == ELOOP) && unlinkat(dirfd(dir), name, 0) == 0)
                continue;
            result = ORV_FAIL;
            break;
        }
        result = empty_dir(child, path, base + name_length);
        if (result == ORV_OK && unlinkat(dirfd(dir), name, AT_REMOVEDIR) != 0)
            result = ORV_FAIL;
        if (result != ORV_OK)
            break;
    }
    closedir(dir);
    path[length] = '\0';
    return result;
}

} // namespace

orv::RemoveTreeHook orv::remove_tree_set_hook(RemoveTreeHook hook)
{
    return g_remove_tree_hook.exchange(hook);
}

extern "C" {

uint32_t orv_is_dir(const char *path)
{
    struct stat st;
    if (!path || stat(path, &st) != 0)
        return 0;
    return static_cast<uint32_t>(st.st_mode) & 0x4000u;
}

int orv_file_has_data(const char *path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && st.st_size >= 1 ? 1 : 0;
}

ResultCode orv_rename_existing(const char *path, const char *new_path)
{
    struct stat st;
    if (!path || !new_path || stat(path, &st) != 0)
        return ORV_FAIL;
    return rename(path, new_path) == 0 ? ORV_OK : ORV_FAIL;
}

int orv_mkdir(const char *path)
{
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    return mkdir(path, kDirMode);
}

ResultCode orv_mkdir_all(const char *path)
{
    if (!path) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: mkdir_all without a path");
        return ORV_ERR_INVALID_PARAM;
    }
    char prefix[ORV_PATH_BUFFER];
    for (const char *p = path; *p; ++p) {
        if (*p != '/' || p == path || p[-1] == ':')
            continue;
        const size_t n = static_cast<size_t>(p - path);
        if (n >= sizeof prefix) {
            orv_log(3, ORV_FAIL, "VRE: VR: mkdir_all prefix of %zu bytes is too long", n);
            return ORV_FAIL;
        }
        memcpy(prefix, path, n);
        prefix[n] = '\0';
        if (make_if_missing(prefix) != 0)
            return -1;
    }
    return make_if_missing(path);
}

ResultCode orv_mkdir_path(const char *path)
{
    if (!path) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: mkdir_path without a path");
        return ORV_ERR_INVALID_PARAM;
    }
    const size_t length = strlen(path);
    if (length >= ORV_PATH_BUFFER) {
        orv_log(3, ORV_FAIL, "VRE: VR: mkdir_path path of %zu bytes is too long", length);
        return ORV_FAIL;
    }
    char buffer[ORV_PATH_BUFFER] = {};
    size_t w = 0;
    // Only a parent that is missing stops the walk; other errors show up later.
    auto examine = [&]() -> bool {
        struct stat st;
        if (stat(buffer, &st) != 0 && errno == ENOENT && mkdir(buffer, kDirMode) != 0 && errno == ENOENT)
            return false;
        return true;
    };
    for (size_t i = 0;; ++i) {
        const char c = path[i];
        if (c == ':' && path[i + 1] == '/') {
            buffer[w++] = ':';
            buffer[w++] = '/';
            ++i;
            if (!examine())
                return ORV_FAIL;
            continue;
        }
        if (c == '/' || c == '\0') {
            if (w > 0 && !examine())
                return ORV_FAIL;
            if (c == '\0')
                break;
        }
        buffer[w++] = c;
    }
    // The walk ignores errors other than a missing parent (a prefix that is a
    // file, no permission); success means the directory is there.
    struct stat st;
    const bool made = stat(path, &st) == 0;
    if (!made || !S_ISDIR(st.st_mode)) {
        const int err = made ? ENOTDIR : errno;
        orv_log(3, ORV_FAIL, "VRE: VR: mkdir_path %s failed, err:%d", path, err);
        return ORV_FAIL;
    }
    return ORV_OK;
}

ResultCode orv_remove_tree(const char *path)
{
    if (!path)
        return ORV_FAIL;
    // Trailing slashes would make lstat and open follow a link; the walk works
    // on the name itself (a path too long for the buffer is never walked).
    const size_t length = strlen(path);
    size_t name_length = length;
    while (name_length > 1 && path[name_length - 1] == '/')
        --name_length;
    char buffer[ORV_PATH_BUFFER];
    const char *name = path;
    if (name_length < length && name_length < sizeof buffer) {
        memcpy(buffer, path, name_length);
        buffer[name_length] = '\0';
        name = buffer;
    }
    // lstat: a link to a directory is removed as a link; following it would
    // empty a directory outside the tree.
    struct stat st;
    if (lstat(name, &st) != 0 || !S_ISDIR(st.st_mode))
        return remove(name) == 0 ? ORV_OK : ORV_FAIL;
    if (length > ORV_REMOVE_TREE_MAX_PATH)
        return ORV_FAIL;
    if (is_dot_entry(path))
        return ORV_OK;
    if (name != buffer) {
        memcpy(buffer, path, length + 1);
        name_length = length;
    }
    const int fd = open_dir_nofollow(AT_FDCWD, buffer, buffer);
    if (fd < 0) {
        const int err = errno;
        // Swapped for a link or a file since lstat: remove that, never its target.
        if (err == ENOTDIR || err == ELOOP)
            return unlink(buffer) == 0 ? ORV_OK : ORV_FAIL;
        orv_trace("VRI: VR: opendir path:%s failed, err:%d, %s", buffer, err, strerror(err));
        return ORV_FAIL;
    }
    const ResultCode result = empty_dir(fd, buffer, name_length);
    if (result != ORV_OK)
        return result;
    return rmdir(buffer) == 0 ? ORV_OK : ORV_FAIL;
}

ResultCode orv_path_join(char *buffer, uint32_t *size, const char *directory, const char *name)
{
    if (!directory || !name || !size)
        return ORV_ERR_INVALID_PARAM;
    const uint64_t needed = static_cast<uint64_t>(strlen(directory)) + strlen(name) + 2;
    if (!buffer) {
        *size = needed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(needed);
        return ORV_ERR_INVALID_PARAM;
    }
    if (*size < needed)
        return ORV_ERR_INVALID_PARAM;
    return child_path(buffer, *size, directory, name) ? ORV_OK : ORV_ERR_INVALID_PARAM;
}

void orv_split_path(const char *path, char *drive, uint32_t drive_size, char *directory,
                    uint32_t directory_size, char *name, uint32_t name_size, char *extension,
                    uint32_t extension_size)
{
    clear_out(drive, drive_size);
    clear_out(directory, directory_size);
    clear_out(name, name_size);
    clear_out(extension, extension_size);
    if (!path)
        return;
    char component[kComponentMax + 1] = {};
    size_t used = 0;
    for (const char *p = path; *p; ++p) {
        const bool separator = *p == '/' || *p == '\\';
        if (separator && used > 0) {
            append_cut(directory, directory_size, component, used);
            append_cut(directory, directory_size, "/", 1);
            used = 0;
            component[0] = '\0';
            continue;
        }
        // An over-long component keeps its first 255 characters.
        if (used < kComponentMax) {
            component[used++] = *p;
            component[used] = '\0';
        }
    }
    const char *dot = static_cast<const char *>(memchr(component, '.', used));
    if (!dot) {
        append_cut(name, name_size, component, used);
        return;
    }
    append_cut(name, name_size, component, static_cast<size_t>(dot - component));
    append_cut(extension, extension_size, dot + 1, used - static_cast<size_t>(dot - component) - 1);
}

OrvDir *orv_dir_open(const char *path, int unused)
{
    (void)unused;
    if (!path) {
        orv_trace("VRI: VR: opendir path:%s failed, err:%d, %s", "(null)", EINVAL, strerror(EINVAL));
        return ORV_DIR_INVALID;
    }
    auto *dir = static_cast<OrvDir *>(ORV_CALLOC(sizeof(OrvDir)));
    if (!dir)
        return ORV_DIR_INVALID;
    dir->stream = opendir(path);
    if (!dir->stream) {
        const int err = errno;
        orv_trace("VRI: VR: opendir path:%s failed, err:%d, %s", path, err, strerror(err));
        orv_mem_free(dir);
        return ORV_DIR_INVALID;
    }
    dir->path = ORV_STRDUP(path);
    if (!dir->path) {
        orv_dir_close(dir);
        return ORV_DIR_INVALID;
    }
    dir->length = static_cast<uint32_t>(strlen(path));
    return dir;
}

int orv_dir_next(OrvDir *dir, OrvFindData *data)
{
    if (!dir || dir == ORV_DIR_INVALID || !dir->stream || !data)
        return 0;
    const dirent *entry = readdir(dir->stream);
    if (!entry)
        return 0;
    memset(data, 0, sizeof *data);
    append_cut(data->name, sizeof data->name, entry->d_name, strlen(entry->d_name));
    // Relative to the open directory: no path to build, so no length limit,
    // and the entry found is the one examined.
    struct stat st;
    if (fstatat(dirfd(dir->stream), entry->d_name, &st, 0) != 0)
        return 1;
    if (S_ISDIR(st.st_mode))
        data->attributes = ORV_FILE_ATTR_DIRECTORY;
    else if (S_ISREG(st.st_mode))
        data->size_low = static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
    data->write_time.low = static_cast<uint32_t>(st.st_mtime);
    return 1;
}

void orv_dir_close(OrvDir *dir)
{
    if (!dir || dir == ORV_DIR_INVALID)
        return;
    if (dir->stream)
        closedir(dir->stream);
    orv_free(dir->path);
    orv_mem_free(dir);
}

FILE *orv_fopen(const char *path, const char *mode)
{
    if (!path || !mode)
        return nullptr;
    return fopen(path, mode);
}

ResultCode orv_disk_space(const char *path, uint64_t *total, uint64_t *free_bytes)
{
    struct statfs fs;
    if (!path || statfs(path, &fs) != 0)
        return ORV_FAIL;
    orv_trace("statfs: f_bsize=%d,f_blocks=%d\r\n", static_cast<int>(fs.f_bsize),
              static_cast<int>(fs.f_blocks));
    const uint64_t block = static_cast<uint64_t>(fs.f_bsize);
    if (total)
        *total = block * static_cast<uint64_t>(fs.f_blocks);
    if (free_bytes)
        *free_bytes = block * static_cast<uint64_t>(fs.f_bfree);
    return ORV_OK;
}

ResultCode orv_getenv(void *unused, char *buffer, uint32_t size, const char *name)
{
    (void)unused;
    if (!buffer || !name)
        return ORV_FAIL;
    orv::GlobalLockGuard guard;
    const char *value = getenv(name);
    if (!value)
        return ORV_FAIL;
    const size_t n = strlen(value) + 1;
    if (n > size)
        return ORV_FAIL;
    memcpy(buffer, value, n);
    return ORV_OK;
}

ResultCode orv_host_user_name(char *buffer, uint32_t *size)
{
    if (!size)
        return ORV_ERR_INVALID_PARAM;
    if (!buffer) {
        *size = ORV_HOST_USER_SIZE;
        return ORV_OK;
    }
    char host[ORV_HOST_USER_SIZE] = {};
    const int err = gethostname(host, sizeof host - 1);
    if (err != 0) {
        orv_log_android_info("VRV: VR: get host name i_err:%d", err);
        snprintf(host, sizeof host, "%s", "unkown device");
    }
    host[sizeof host - 1] = '\0';

    char user[ORV_HOST_USER_SIZE] = {};
    {
        orv::GlobalLockGuard guard; // getlogin shares a static buffer
        const char *login = getlogin();
        if (login)
            snprintf(user, sizeof user, "%s", login);
    }
    const size_t host_length = strlen(host);
    size_t needed;
    if (user[0]) {
        needed = host_length + 1 + strlen(user) + 1;
    } else {
        snprintf(user, sizeof user, "%s", "unkown user");
        needed = host_length + 16;
    }
    if (needed > *size)
        return ORV_ERR_INVALID_PARAM;
    snprintf(buffer, *size, "%s_%s", host, user);
    return ORV_OK;
}

const char *orv_os_name(int code)
{
    return table_name(kOsNames, code);
}

const char *orv_os_current_name(void)
{
    return kOsNames[ORV_OS_ANDROID].name;
}

int32_t orv_android_version_code(int32_t api_level, int32_t unused1, int32_t unused2)
{
    (void)unused1;
    (void)unused2;
    // Index: API level - 7.
    static constexpr int32_t kCodes[] = {21, 22, 23, 23, 30, 31, 32, 40, 40, 41, 42, 43, 44, 45, 50};
    if (api_level < 7) {
        orv_log_android_info("VRV: VR: Android OS Version:%d not Support", api_level);
        return ORV_ERR_NOT_SUPPORT;
    }
    if (api_level > 21)
        return 100;
    return kCodes[api_level - 7];
}

int32_t orv_os_set_version(int32_t version)
{
    g_os_version.store(version);
    return version;
}

int32_t orv_os_get_version(void)
{
    return g_os_version.load();
}

const char *orv_encoding_name(int code)
{
    return table_name(kEncodingNames, code);
}

int orv_encoding_parse(const char *text)
{
    if (!text)
        return ORV_ENCODING_NONE;
    for (const CodeName &row : kEncodingParseOrder)
        if (strncmp(text, row.name, strlen(row.name)) == 0)
            return row.code;
    return ORV_ENCODING_NONE;
}

const char *orv_default_encoding(void)
{
    return kEncodingNames[ORV_ENCODING_UTF8].name;
}

int orv_errno(void)
{
    return errno;
}

void orv_print_errno(int number)
{
    orv_trace("errno = %d\r\n", number);
}

struct tm *orv_gmtime(const time_t *t, struct tm *out)
{
    if (!t || !out)
        return nullptr;
    return gmtime_r(t, out);
}

struct tm *orv_localtime(const time_t *t, struct tm *out)
{
    if (!t || !out)
        return nullptr;
    return localtime_r(t, out);
}

#ifdef ORV_TIME64_SPLIT
// The plain names serve hosts built with a 32-bit time_t.
ORV_API struct tm *orv_gmtime_time32(const int32_t *t, struct tm *out) __asm__("orv_gmtime");
ORV_API struct tm *orv_localtime_time32(const int32_t *t, struct tm *out) __asm__("orv_localtime");

struct tm *orv_gmtime_time32(const int32_t *t, struct tm *out)
{
    const time_t wide = t ? *t : 0;
    return orv_gmtime(t ? &wide : nullptr, out);
}

struct tm *orv_localtime_time32(const int32_t *t, struct tm *out)
{
    const time_t wide = t ? *t : 0;
    return orv_localtime(t ? &wide : nullptr, out);
}
#endif

int orv_get_local_time(OrvLocalTime *out)
{
    if (!out)
        return 0;
    const time_t now = time(nullptr);
    struct tm tm_now {};
    localtime_r(&now, &tm_now);
    out->year = static_cast<uint16_t>(tm_now.tm_year);
    out->month = static_cast<uint8_t>(tm_now.tm_mon);
    out->weekday = static_cast<uint8_t>(tm_now.tm_wday);
    out->day = static_cast<uint8_t>(tm_now.tm_mday);
    out->hour = static_cast<uint8_t>(tm_now.tm_hour);
    out->minute = static_cast<uint8_t>(tm_now.tm_min);
    out->second = static_cast<uint8_t>(tm_now.tm_sec);
    out->millisecond = 0;
    return out->year;
}

size_t orv_strftime(char *buffer, size_t size, const char *format, const struct tm *time)
{
    if (!buffer || !format || !time)
        return 0;
    orv::GlobalLockGuard guard;
    return strftime(buffer, size, format, time);
}

} // extern "C"
