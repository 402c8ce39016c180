/* Operating-system services: files and directories, disk space, environment,
 * host and user identity, OS and encoding names, calendar time, errno access
 * and a TCP listener on the loopback address. Paths are byte strings with "/"
 * as separator; directories are created with permission bits 0700. */
#ifndef ORV_SYS_H
#define ORV_SYS_H

#include <stdio.h>
#include <time.h>

#include "orv_error.h"

ORV_EXTERN_C_BEGIN

/* ---- Files and directories ---- */

/* Directory bit of a find record's attributes. */
#define ORV_FILE_ATTR_DIRECTORY 0x10u
#define ORV_FIND_NAME_SIZE      260
#define ORV_FIND_ALT_NAME_SIZE  14
/* Room of the path buffers of the directory services, terminator included. */
#define ORV_PATH_BUFFER 1024
/* orv_remove_tree refuses longer paths. */
#define ORV_REMOVE_TREE_MAX_PATH 1000

/* Two 32-bit halves, low first, so the record keeps its 4-byte alignment. */
typedef struct OrvFileTime {
    uint32_t low;
    uint32_t high;
} OrvFileTime;

/* One directory entry, 320 bytes, cleared for each entry. */
typedef struct OrvFindData {
    uint32_t attributes;       /* ORV_FILE_ATTR_DIRECTORY or 0 */
    OrvFileTime creation_time; /* always 0 */
    OrvFileTime access_time;   /* always 0 */
    OrvFileTime write_time;    /* low: modification time, seconds since the epoch */
    uint32_t size_high;        /* always 0 */
    uint32_t size_low;         /* low 32 bits of a regular file's size */
    uint32_t reserved[2];
    char name[ORV_FIND_NAME_SIZE]; /* NUL-terminated */
    char alt_name[ORV_FIND_ALT_NAME_SIZE];
} OrvFindData;

typedef struct OrvDir OrvDir;
/* What orv_dir_open returns on failure (callers test for it, not for null). */
#define ORV_DIR_INVALID ((OrvDir *)(intptr_t)-1)

/* The file mode AND 0x4000: non-zero for a directory (and block devices and
 * sockets, whose type code holds that bit), 0 otherwise or if stat fails. */
ORV_API uint32_t orv_is_dir(const char *path);
/* 1 if the path exists and holds at least one byte, else 0. */
ORV_API int orv_file_has_data(const char *path);
/* ORV_OK if the path exists and rename succeeds, else ORV_FAIL. */
ORV_API ResultCode orv_rename_existing(const char *path, const char *new_path);
/* The platform mkdir result (0 or -1), mode 0700. */
ORV_API int orv_mkdir(const char *path);
/* Creates every missing directory of the path; a "/" that is the first
 * character or follows a ":" ends no prefix. 0; -1 when a mkdir fails with
 * another error than EEXIST; ORV_FAIL when a prefix has 1024 bytes or more. */
ORV_API ResultCode orv_mkdir_all(const char *path);
/* Like orv_mkdir_all, but a ":/" pair ends a prefix that keeps the pair.
 * Other errors on the way are ignored. ORV_OK when the path is a directory
 * at the end; ORV_FAIL when a mkdir reports a missing parent, when the path
 * is no directory at the end, or (nothing made) when it has 1024 bytes or more. */
ORV_API ResultCode orv_mkdir_path(const char *path);
/* Removes a file, or a directory with all it holds. "." and ".." are left
 * alone (ORV_OK). ORV_FAIL for a path over 1000 characters, and for a child
 * whose path needs more than 1023 bytes (nothing is removed by a cut path). */
ORV_API ResultCode orv_remove_tree(const char *path);
/* Writes directory + "/" + name (no second "/" when the directory ends in
 * one). With no buffer stores the size needed in *size and returns
 * ORV_ERR_INVALID_PARAM; a buffer too small gives ORV_ERR_INVALID_PARAM with
 * *size unchanged. */
ORV_API ResultCode orv_path_join(char *buffer, uint32_t *size, const char *directory, const char *name);
/* Splits a path at "/" and "\\" into directory (components each followed by
 * "/"), name and extension (after the first "." of the last component); the
 * drive stays empty. Any output may be null. A component keeps its first 255
 * characters; each output keeps what fits its buffer, always terminated. */
ORV_API void orv_split_path(const char *path, char *drive, uint32_t drive_size, char *directory,
                            uint32_t directory_size, char *name, uint32_t name_size, char *extension,
                            uint32_t extension_size);
/* Opens a directory walk; ORV_DIR_INVALID on failure. The second argument is
 * ignored. */
ORV_API OrvDir *orv_dir_open(const char *path, int unused);
/* Fills data with the next entry ("." and ".." included): 1, or 0 at the end.
 * A name is cut to 259 bytes. If the entry cannot be stat-ed only the name
 * is filled. */
ORV_API int orv_dir_next(OrvDir *dir, OrvFindData *data);
/* Accepts null and ORV_DIR_INVALID. */
ORV_API void orv_dir_close(OrvDir *dir);
ORV_API FILE *orv_fopen(const char *path, const char *mode);

/* ---- Disk, environment, identity ---- */

/* Total and free bytes (free includes the blocks kept for the superuser). */
ORV_API ResultCode orv_disk_space(const char *path, uint64_t *total, uint64_t *free_bytes);
/* Copies the variable's value when it is set and fits with its terminator;
 * ORV_FAIL otherwise. Runs under the global lock. */
ORV_API ResultCode orv_getenv(void *unused, char *buffer, uint32_t size, const char *name);
/* Room a host_user text may need (no buffer: *size is set to it). */
#define ORV_HOST_USER_SIZE 260
/* "<host>_<user>", with "unkown device" and "unkown user" standing in for a
 * missing host or login name. ORV_ERR_INVALID_PARAM if it does not fit. */
ORV_API ResultCode orv_host_user_name(char *buffer, uint32_t *size);

/* ---- OS identity and encodings ---- */

enum {
    ORV_OS_NONE = 0,
    ORV_OS_WINDOWS = 1,
    ORV_OS_LINUX = 2,
    ORV_OS_UNIX = 3,
    ORV_OS_MAC = 4,
    ORV_OS_ANDROID = 5,
    ORV_OS_IOS = 6,
    ORV_OS_WINDOWS_PHONE = 7,
    ORV_OS_FREEBSD = 8,
    ORV_OS_SOLARIS = 9
};

enum {
    ORV_ENCODING_NONE = 0,
    ORV_ENCODING_ASCII = 1,
    ORV_ENCODING_ANSI = 2, /* GB2312 */
    ORV_ENCODING_UTF7 = 3,
    ORV_ENCODING_UTF8 = 4,
    ORV_ENCODING_UTF16 = 5,
    ORV_ENCODING_UTF32 = 6
};

ORV_API const char *orv_os_name(int code);
ORV_API const char *orv_os_current_name(void);
/* Android API level to version code (major * 10 + minor, 100 past level 21);
 * ORV_ERR_NOT_SUPPORT below level 7. The last two arguments are unused. */
ORV_API int32_t orv_android_version_code(int32_t api_level, int32_t unused1, int32_t unused2);
/* Process-wide OS version (major * 10 + minor), 40 until set. */
ORV_API int32_t orv_os_set_version(int32_t version);
ORV_API int32_t orv_os_get_version(void);
ORV_API const char *orv_encoding_name(int code);
/* Encoding code of the name the text starts with, 0 if none. */
ORV_API int orv_encoding_parse(const char *text);
ORV_API const char *orv_default_encoding(void);
ORV_API int orv_errno(void);
ORV_API void orv_print_errno(int number);

/* ---- Calendar time ---- */

typedef struct OrvLocalTime {
    uint16_t year;   /* years since 1900 */
    uint8_t month;   /* 0-11 */
    uint8_t weekday; /* 0 = Sunday */
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint16_t millisecond; /* always 0 */
} OrvLocalTime;

/* Fill the caller's record (every field, zone name included) and return it;
 * null for null arguments or a time the platform cannot convert. */
ORV_API struct tm *orv_gmtime(const time_t *t, struct tm *out) ORV_TIME64_ENTRY(orv_gmtime);
ORV_API struct tm *orv_localtime(const time_t *t, struct tm *out) ORV_TIME64_ENTRY(orv_localtime);
/* Fills the record with the current local time; returns the year field. */
ORV_API int orv_get_local_time(OrvLocalTime *out);
/* strftime under the global lock; 0 for a null buffer, format or time. */
ORV_API size_t orv_strftime(char *buffer, size_t size, const char *format, const struct tm *time);

/* ---- Loopback listener ---- */

/* Link n of the process listens on 127.0.0.1, port ORV_LOCAL_LINK_PORT + n. */
#define ORV_LOCAL_LINK_PORT 45678
typedef struct OrvLocalLink OrvLocalLink;

/* Null on failure (nothing is left behind), also when 45678 + n passes 65535. */
ORV_API OrvLocalLink *orv_local_link_create(void);
ORV_API void orv_local_link_destroy(OrvLocalLink *link);
/* Waits until a connection is waiting to be accepted: > 0 ready, 0 time-out,
 * -1 failure. us = -1 waits without limit; the wait is rounded up to whole
 * milliseconds. */
ORV_API int orv_local_link_wait(OrvLocalLink *link, int64_t us);
/* The fcntl result of adding O_NONBLOCK (-1 for a null link). */
ORV_API int orv_local_link_set_nonblocking(OrvLocalLink *link);
/* The listening socket, or -1. */
ORV_API int32_t orv_local_link_socket(const OrvLocalLink *link);
/* The port listened on, or 0. */
ORV_API int32_t orv_local_link_port(const OrvLocalLink *link);

ORV_EXTERN_C_END

#endif
