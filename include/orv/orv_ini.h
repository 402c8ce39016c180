/* XINI: a tree of named keys with text values and ordered subkeys, loaded
 * from and saved to a file or an xio stream in the XINI text format. */
#ifndef ORV_INI_H
#define ORV_INI_H

#include "orv_io.h"

ORV_EXTERN_C_BEGIN

/* Open flags, kept in the tree. */
#define XINI_OPEN_RW   1u
#define XINI_READ_ONLY 2u
#define XINI_CREATE    4u
#define XINI_COMPACT   8u

/* The tree operations' own small codes, beside the ResultCodes. */
#define XINI_ERR_ADD       (-1) /* memory could not be obtained while adding a key */
#define XINI_ERR_NOT_FOUND (-2) /* path step, key or index missing; or read-only */
#define XINI_ERR_NO_VALUE  (-3) /* the key has no (readable) value */

/* Value types of set_value and get_value. */
#define XINI_TYPE_STRING     0
#define XINI_TYPE_INT        1
#define XINI_TYPE_INT64      2
#define XINI_TYPE_INT_ARRAY  3
#define XINI_TYPE_BINARY_HEX 4
#define XINI_TYPE_BINARY_R64 5

/* Names and values are stored so that they come back unchanged after a save
 * and a load. The reserved characters "<=;>" are left out on the way in;
 * texts holding a tab, a line break, two blanks in a row, or a blank at the
 * start or the end (the reader would drop or collapse them) are refused
 * with ORV_ERR_INVALID_PARAM by create_key, create_key_by_path, set_string
 * and set_value. */

/* Keys lie at most this many levels below the root. The reader fails the open
 * with -1 on deeper text and create_key refuses deeper keys, so every tree
 * that exists can be saved and read back. */
#define XINI_MAX_DEPTH 256
/* Longest text between "<" and ">" the reader takes (-1 beyond it). Names and
 * values are limited (ORV_ERR_INVALID_PARAM beyond) so that every key's entry
 * as written stays within it. */
#define XINI_ENTRY_MAX (1u << 20)
#define XINI_NAME_MAX  (1u << 16)
#define XINI_VALUE_MAX (XINI_ENTRY_MAX - XINI_NAME_MAX - 64u)
/* Most subkeys one key may hold: the reader refuses larger counts (-3) and
 * create_key refuses to go beyond it. */
#define XINI_MAX_SUBKEYS 65536

/* One key. Invariants: name is never null for a live key; value is null
 * when the key has none (an empty value is stored as null); every subkey's
 * parent is the key whose array holds it; the array holds exactly
 * subkey_count entries and is null when the count is 0. Names need not be
 * unique: lookups return the first match in array order. */
typedef struct XiniNode {
    char *name;
    char *value;
    struct XiniNode *parent;
    int32_t subkey_count;
    struct XiniNode **subkeys;
    uint32_t name_length;
    uint32_t value_length;
} XiniNode;

typedef struct XiniTree XiniTree;

/* "parent" arguments accept null for the root. Texts handed out stay owned
 * by the key and are valid until its value changes or it is destroyed. */
typedef struct XiniVtbl {
    /* Saves unless read-only, then destroys the tree; see orv_ini_close. */
    ResultCode (*close)(XiniTree *tree);
    ResultCode (*create_key_by_path)(XiniTree *tree, const char *path, const char *name, const char *value,
                                     XiniNode **out);
    ResultCode (*delete_key_by_path)(XiniTree *tree, const char *path);
    ResultCode (*create_key)(XiniTree *tree, XiniNode *parent, const char *name, const char *value,
                             XiniNode **out);
    ResultCode (*delete_key)(XiniTree *tree, XiniNode *key);
    ResultCode (*find_path)(XiniTree *tree, const char *path, XiniNode **out);
    ResultCode (*get_subkey_count)(XiniTree *tree, XiniNode *key, int32_t *count);
    ResultCode (*get_subkey)(XiniTree *tree, XiniNode *key, int32_t index, XiniNode **out);
    ResultCode (*get_parent)(XiniTree *tree, XiniNode *key, XiniNode **out);
    ResultCode (*get_name)(XiniTree *tree, XiniNode *key, const char **out);
    ResultCode (*get_int)(XiniTree *tree, XiniNode *key, int32_t *out);
    ResultCode (*get_int64)(XiniTree *tree, XiniNode *key, int64_t *out);
    ResultCode (*get_string)(XiniTree *tree, XiniNode *key, const char **out);
    ResultCode (*set_int)(XiniTree *tree, XiniNode *key, int32_t value);
    ResultCode (*set_int64)(XiniTree *tree, XiniNode *key, int64_t value);
    ResultCode (*set_string)(XiniTree *tree, XiniNode *key, const char *text);
    ResultCode (*write_tree)(XiniTree *tree, xio *stream);
    ResultCode (*get_int_array)(XiniTree *tree, XiniNode *key, int32_t count, int32_t *values);
    ResultCode (*set_int_array)(XiniTree *tree, XiniNode *key, int32_t count, const int32_t *values);
    /* Without a buffer, count receives the stored byte count. With one, at
     * most min(count, stored count) bytes are written and count receives how
     * many were. */
    ResultCode (*get_binary_hex)(XiniTree *tree, XiniNode *key, int32_t *count, void *buffer);
    /* The binary setters store the count and the pieces val-0, val-1, ...
     * together or change nothing; a read-only tree refuses them (-2). */
    ResultCode (*set_binary_hex)(XiniTree *tree, XiniNode *key, int32_t count, const void *bytes);
    ResultCode (*get_binary_r64)(XiniTree *tree, XiniNode *key, int32_t *count, void *buffer);
    ResultCode (*set_binary_r64)(XiniTree *tree, XiniNode *key, int32_t count, const void *bytes);
    ResultCode (*delete_subkey)(XiniTree *tree, XiniNode *parent, const char *name);
    ResultCode (*write_key)(XiniTree *tree, XiniNode *key, xio *stream);
    uint32_t (*get_flags)(XiniTree *tree);
    void (*set_flags)(XiniTree *tree, uint32_t flags);
    /* Type 0: value is the text itself; 1, 2: points to the integer; 3: to
     * count integers; 4, 5: to count bytes. */
    ResultCode (*set_value)(XiniTree *tree, XiniNode *parent, const char *name, int32_t type, int32_t count,
                            const void *value, XiniNode **out);
    /* Type 0 stores the key's own text pointer in *(const char **)value. */
    ResultCode (*get_value)(XiniTree *tree, XiniNode *parent, const char *name, int32_t type, int32_t *count,
                            void *value, XiniNode **out);
} XiniVtbl;

struct XiniTree {
    XiniVtbl vt;
    uint32_t flags;
    char *path;     /* owned copy of the path opened, or null */
    xio *stream;    /* borrowed: never closed or freed by the tree */
    int32_t indent; /* the writer's current indentation in blanks */
    XiniNode *root;
};

/* Opens a tree from the file at path (flags choose how the file is opened)
 * or, with a null path, from stream; with neither, an empty tree that lives
 * in memory only. A text without an entry gives the root "root" = "root".
 * -1 for malformed text or text nested deeper than XINI_MAX_DEPTH;
 * ORV_ERR_FILE_NOT_FOUND when the file cannot be opened or no open flag is
 * given; ORV_ERR_IO_READ when the file or stream fails while it is read.
 * A damaged file is never overwritten by what could be read of it: a file
 * whose text is cut short (or whose last subkey is malformed), or that holds
 * text but no entry, fails a writable open with ORV_ERR_INVALID_FILE and is
 * left untouched; opened XINI_READ_ONLY it gives what could be read.
 * XINI_CREATE starts from the default root without reading the file; the
 * file is replaced only when the tree is saved. reserved is not used. */
ORV_API ResultCode orv_ini_open(const char *path, xio *stream, uint32_t flags, void *reserved,
                                XiniTree **out);
/* Saves unless read-only, then destroys the tree (also on failure); accepts
 * null. A file is saved whole or not at all: the text goes to a temporary
 * file in the same directory, is flushed to disk and renamed over the file,
 * and the directory is synced; on any failure the file stays as it was and
 * the failure is answered (ORV_ERR_IO_OPEN, ORV_ERR_IO_WRITE, ORV_FAIL for
 * memory); a directory that fails to sync after the rename is answered too,
 * with the new text in place. A link is followed and the file it names replaced. A tree from a
 * stream is written at the stream's position; a stream that does not take
 * the whole text answers a failure. */
ORV_API ResultCode orv_ini_close(XiniTree *tree);
/* Writes the whole tree, then a 0 byte. 0 only when the stream took all of
 * it; a stream that refuses bytes (full, at its limit, failing) gives its
 * failure or ORV_ERR_IO_WRITE, and nothing after the refused bytes is sent. */
ORV_API ResultCode orv_ini_write(XiniTree *tree, xio *stream);
/* Writes key and everything below it, then a 0 byte; results as orv_ini_write. */
ORV_API ResultCode orv_ini_write_key(XiniTree *tree, XiniNode *key, xio *stream);

ORV_EXTERN_C_END

#endif
