// GB2312 <-> UTF-8 conversion over the C library's iconv. Owns nothing past a
// call: each conversion opens and closes its own descriptor, and a converted
// text is a tracked block the caller frees. Takes no lock (iconv descriptors
// are not shared).
#include "orv/orv_iconv.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_sys.h"

namespace {

constexpr const char kAnsiName[] = "gb2312";
constexpr const char kUtf8Name[] = "utf-8";

class IconvDescriptor {
public:
    IconvDescriptor(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~IconvDescriptor()
    {
        if (ok())
            iconv_close(cd_);
    }
    IconvDescriptor(const IconvDescriptor &) = delete;
    IconvDescriptor &operator=(const IconvDescriptor &) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

}  // namespace

extern "C" {

int orv_iconv(const char *from, const char *to, const char *source, size_t length, char *target, size_t size)
{
    if (!from || !to || (!source && length > 0) || (!target && size > 0))
        return -1;
    IconvDescriptor cd(to, from);
    if (!cd.ok()) {
        const int err = errno;
        orv_trace("iconv_open error:%d strerror:%s", err, strerror(err));
        return -1;
    }
    char *in = const_cast<char *>(source);
    size_t in_left = length;
    char *out = target;
    size_t out_left = size;
    // One call: both encodings are stateless, so there is no shift state to flush.
    if (iconv(cd.get(), &in, &in_left, &out, &out_left) == static_cast<size_t>(-1)) {
        const int err = errno;
        orv_trace("iconv error:%d strerror:%s", err, strerror(err));
        return -1;
    }
    return 0;
}

int orv_gb2312_to_utf8(const char *source, size_t length, char *target, size_t size)
{
    return orv_iconv(kAnsiName, kUtf8Name, source, length, target, size);
}

const char *orv_convert_text(const char *text, int from, int to)
{
    if (!text) {
        orv_log(3, ORV_ERR_INVALID_PARAM, "VRE: VR: convert_text without a text");
        return text;
    }
    const char *from_name;
    const char *to_name;
    const char *failure;
    if (from == ORV_ENCODING_ANSI && to == ORV_ENCODING_UTF8) {
        from_name = kAnsiName;
        to_name = kUtf8Name;
        failure = "VRE: VR: ansi_to_utf8 fail!";
    } else if (from == ORV_ENCODING_UTF8 && to == ORV_ENCODING_ANSI) {
        from_name = kUtf8Name;
        to_name = kAnsiName;
        failure = "VRE: VR: utf8_to_ansi fail!";
    } else {
        orv_trace("VRI: VR: sz_src:%s  sz_dst:%s", text, text);
        return text;
    }
    auto *buffer = static_cast<char *>(ORV_CALLOC(ORV_CONVERT_BUFFER));
    if (!buffer)
        return text;
    // The last byte is never offered to iconv, so the result stays terminated.
    if (orv_iconv(from_name, to_name, text, strlen(text), buffer, ORV_CONVERT_BUFFER - 1) != 0) {
        orv_log(3, ORV_FAIL, "%s", failure);
        orv_mem_free(buffer);
        return text;
    }
    orv_trace("VRI: VR: sz_src:%s  sz_dst:%s", text, buffer);
    return buffer;
}

void orv_convert_text_free(const char *text, const char *result)
{
    if (result && result != text)
        orv_mem_free(const_cast<char *>(result));
}

}  // extern "C"
