/* xio_file: the file kind of the xio stream, over a descriptor with 64-bit
 * offsets; a whole-file copy over two such streams; a file's size by path. */
#ifndef ORV_IO_FILE_H
#define ORV_IO_FILE_H

#include "orv_io.h"
#include "orv_mutex.h"

ORV_EXTERN_C_BEGIN

/* Open modes of the `open` slot. */
#define XIO_FILE_READ        0u          /* existing file, read only */
#define XIO_FILE_WRITE       1u          /* existing file, write only */
#define XIO_FILE_READ_WRITE  2u          /* existing file, read and write */
#define XIO_FILE_CREATE      64u         /* create or empty, read and write */
#define XIO_FILE_OPEN_ALWAYS 0x80000000u /* existing file, else a new empty one */

/* Control codes of `get` and `set`. */
#define XIO_FILE_GET_STATS 11u /* get: length, position, remain, reserved = 0 */
#define XIO_FILE_SET_LIST  13u /* set: param is the host's list owner */
#define XIO_FILE_SET_ENTRY 14u /* set: param points to the int32 entry index */

/* The host's file list, as far as the stream reads it. The other fields belong
 * to the host. Byte offsets, 32-bit target / 64-bit host:
 *   owner: pointer to the list at 360 / 360
 *   list:  current index (int32) at 4 / 4, pointer to the entries at 16 / 16
 *   entry: stride 120 / 128, its path text pointer at 0 / 0 */
#define ORV_FILE_LIST_OWNER_OFFSET 360
typedef struct OrvFileListEntry {
    const char *path;
    uint8_t host_fields[116];
} OrvFileListEntry;

typedef struct OrvFileList {
    int32_t host_field0;
    int32_t current;
    int32_t host_fields[2];
    OrvFileListEntry *entries;
} OrvFileList;

typedef struct OrvFileListOwner {
    uint8_t host_fields[ORV_FILE_LIST_OWNER_OFFSET];
    OrvFileList *list;
} OrvFileListOwner;

typedef struct xio_file {
    XioVtbl vt;
    int32_t hfile;        /* -1 while no file is open */
    OrvMutex *file_mutex; /* made with the stream; no operation takes it */
    int64_t file_size;    /* as of the last successful open */
    OrvFileListOwner *list_owner;
    int32_t list_index;
} xio_file;

ORV_API xio_file *orv_io_file_create(void);
/* Copies in 2048-byte chunks. Refuses to copy a file onto itself. A symbolic
 * link as the destination stays: the file at the end of its chain is replaced,
 * or made when it does not exist yet; a loop is refused (ORV_ERR_IO_OPEN). */
ORV_API ResultCode orv_file_copy(const char *source, const char *destination);
/* ORV_FAIL when the path cannot be stat'ed or is not a regular file. */
ORV_API ResultCode orv_file_size_by_path(const char *path, int64_t *size);

ORV_EXTERN_C_END

#endif
