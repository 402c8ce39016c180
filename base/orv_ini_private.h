/* Shared between the XINI tree (orv_ini.cpp) and its text format
 * (orv_ini_text.cpp); not part of the public interface. */
#ifndef ORV_INI_PRIVATE_H
#define ORV_INI_PRIVATE_H

#include "orv/orv_ini.h"

/* Reader-internal results beside -1, -2, -3: the end of the input, and the
 * failures that no lenient rule may swallow (a stream read error among them). */
#define XINI_END_OF_INPUT  (-4)
#define XINI_ERR_DEPTH     (-5)
#define XINI_ERR_NO_MEMORY (-6)
#define XINI_ERR_READ      (-7)

/* Reserved characters never stored in names or values. */
inline bool xini_is_reserved(char c)
{
    return c == '<' || c == '=' || c == ';' || c == '>';
}

/* Destroys key and everything below it (depth first); accepts null. */
void xini_destroy_node(XiniNode *key);
/* A new key with copies of the name and value (reserved characters left
 * out; an empty value becomes none); null when memory runs out. */
XiniNode *xini_make_node(XiniNode *parent, const char *name, uint32_t name_length, const char *value,
                         uint32_t value_length);
void xini_fill_vtbl(XiniVtbl *vt);

/* Text format slots. */
ResultCode xini_close(XiniTree *tree);
ResultCode xini_write_tree(XiniTree *tree, xio *stream);
ResultCode xini_write_key(XiniTree *tree, XiniNode *key, xio *stream);

/* Test seam of the file save: the system calls it makes, as one set. */
#include <sys/types.h>
struct XiniSaveCalls {
    int (*open)(const char *path, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void *data, size_t length);
    int (*fchmod)(int fd, mode_t mode);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char *from, const char *to);
    int (*unlink)(const char *path);
};
/* Replaces the set (null restores the system's own); returns the old one. */
const XiniSaveCalls *xini_set_save_calls(const XiniSaveCalls *calls);

#endif
