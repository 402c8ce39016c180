// GB2312 <-> UTF-8 conversion over the C library's iconv. Owns nothing past a
// call: each conversion opens and closes its own descriptor, and a converted
// text is a tracked block the caller frees. Takes no lock (iconv descriptors
// are not shared; the table of calls is found once and then only read).
//
// Android's C library has iconv from API 28 only. A build for older devices
// looks it up when first needed, so the library still loads there and a
// conversion fails with a log line instead.
#include "orv/orv_iconv.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <iconv.h>

#include "orv_iconv_internal.hpp"

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv/orv_sys.h"

namespace {

constexpr const char kAnsiName[] = "gb2312";
constexpr const char kUtf8Name[] = "utf-8";

#if defined(__ANDROID__) && __ANDROID_API__ < 28
#define ORV_ICONV_AT_RUN_TIME 1
#endif

const orv::IconvCalls &own_calls()
{
#ifdef ORV_ICONV_AT_RUN_TIME
    static const orv::IconvCalls calls = orv::iconv_lookup(RTLD_DEFAULT);
#else
    static const orv::IconvCalls calls = {iconv_open, iconv, iconv_close};
#endif
    return calls;
}

std::atomic<const orv::IconvCalls *> g_calls_override{nullptr};

const orv::IconvCalls &calls()
{
    const orv::IconvCalls *swapped = g_calls_override.load();
    return swapped ? *swapped : own_calls();
}

class IconvDescriptor {
public:
    IconvDescriptor(const orv::IconvCalls &calls, const char *to, const char *from)
        : calls_(calls), cd_(calls.open(to, from))
    {}
    ~IconvDescriptor()
    {
        if (ok())
            calls_.close(cd_);
    }
    IconvDescriptor(const IconvDescriptor &) = delete;
    IconvDescriptor &operator=(const IconvDescriptor &) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    size_t convert(char **in, size_t *in_left, char **out, size_t *out_left) const
    {
        return calls_.convert(cd_, in, in_left, out, out_left);
    }

private:
    const orv::IconvCalls &calls_;
    iconv_t cd_;
};

} // namespace

namespace orv {

IconvCalls iconv_lookup(void *handle)
{
    static const char *const kNames[][3] = {{"iconv_open", "iconv", "iconv_close"},
                                            {"libiconv_open", "libiconv", "libiconv_close"}};
    for (const auto &names : kNames) {
        IconvCalls found{reinterpret_cast<decltype(found.open)>(dlsym(handle, names[0])),
                         reinterpret_cast<decltype(found.convert)>(dlsym(handle, names[1])),
                         reinterpret_cast<decltype(found.close)>(dlsym(handle, names[2]))};
        if (found.present())
            return found;
    }
    return IconvCalls{};
}

const IconvCalls *iconv_set_calls(const IconvCalls *calls)
{
    return g_calls_override.exchange(calls);
}

} // namespace orv

extern "C" {

int orv_iconv(const char *from, const char *to, const char *source, size_t length, char *target, size_t size)
{
    if (!from || !to || (!source && length > 0) || (!target && size > 0))
        return -1;
    const orv::IconvCalls &use = calls();
    if (!use.present()) {
        orv_log(3, ORV_ERR_NOT_SUPPORT,
                "VRE: VR: iconv: not in this device's C library (Android 9 brings it)");
        return -1;
    }
    IconvDescriptor cd(use, to, from);
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
    if (cd.convert(&in, &in_left, &out, &out_left) == static_cast<size_t>(-1)) {
        const int err = errno;
        orv_trace("iconv error:%d strerror:%s", err, strerror(err));
        return -1;
    }
    return 0;
}

ResultCode orv_iconv_available(void)
{
    return calls().present() ? ORV_OK : ORV_ERR_NOT_SUPPORT;
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

} // extern "C"
