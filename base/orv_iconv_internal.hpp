// Where the conversion calls come from, and the seam tests use to play a
// device whose C library has no iconv.
#pragma once

#include <cstddef>
#include <iconv.h>

namespace orv {

struct IconvCalls {
    iconv_t (*open)(const char *to, const char *from);
    size_t (*convert)(iconv_t cd, char **in, size_t *in_left, char **out, size_t *out_left);
    int (*close)(iconv_t cd);
    bool present() const { return open && convert && close; }
};

// Finds iconv_open/iconv/iconv_close, or GNU libiconv's libiconv_open/
// libiconv/libiconv_close, through dlsym on handle; all null when neither
// full set is there.
IconvCalls iconv_lookup(void *handle);

// Replaces the calls in use (null restores the library's own); returns the
// table that was in use before, null for the library's own.
const IconvCalls *iconv_set_calls(const IconvCalls *calls);

} // namespace orv
