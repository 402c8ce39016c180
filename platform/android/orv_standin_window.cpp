/* Stand-in for the NDK native window and the Java Surface: a software window
 * with a queue of three buffers, reference counting, geometry requests that
 * take effect at the next lock, row strides padded past the width, checks
 * that nothing was written into the padding or past the last row, and the
 * frame-rate hint recorded. Owns its buffers; each window has its own mutex,
 * and one process mutex guards the registry of live windows and surfaces. A call with a null or released
 * window aborts: on a device it would touch freed memory, so a test must not
 * get past it. */
#include <android/data_space.h>
#include <android/native_window_jni.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "orv_standin_internal.h"

namespace {

constexpr uint32_t kWindowMagic = 0x574e4431;  // "WND1"
constexpr uint32_t kSurfaceMagic = 0x53524631; // "SRF1"
// Bytes past the last row that must stay untouched.
constexpr size_t kTailGuard = 64;

constexpr int32_t bytes_per_pixel(int32_t format)
{
    switch (format) {
    case WINDOW_FORMAT_RGBA_8888:
    case WINDOW_FORMAT_RGBX_8888:
        return 4;
    case ORV_STANDIN_FORMAT_RGB_888:
        return 3;
    case WINDOW_FORMAT_RGB_565:
        return 2;
    case ORV_STANDIN_FORMAT_YV12:
        return 1; // the luma plane's; the chroma planes follow it
    default:
        return 0;
    }
}

// Android's YV12 rule: chroma rows of half the stride rounded up to 16.
constexpr size_t yv12_chroma_stride(int32_t stride)
{
    return static_cast<size_t>((stride / 2 + 15) & ~15);
}

// Bytes of pixel data in a buffer (the tail guard follows).
constexpr size_t buffer_bytes(int32_t format, int32_t stride, int32_t height)
{
    const size_t luma = static_cast<size_t>(stride) * static_cast<size_t>(height) *
                        static_cast<size_t>(bytes_per_pixel(format));
    if (format != ORV_STANDIN_FORMAT_YV12)
        return luma;
    return luma + 2 * yv12_chroma_stride(stride) * static_cast<size_t>(height / 2);
}

constexpr bool size_fits(int32_t format, int32_t width, int32_t height)
{
    return format != ORV_STANDIN_FORMAT_YV12 || (width % 2 == 0 && height % 2 == 0);
}

constexpr int32_t padded_stride(int32_t width)
{
    return (width + 16 + 31) & ~31;
}

struct Slot {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    int32_t format = 0;
    std::vector<uint8_t> bytes;
    uint64_t sequence = 0;
    int32_t data_space = 0;
    int32_t transform = 0;
};

std::mutex g_registry_lock;
std::unordered_set<const void *> g_windows;
std::unordered_set<const void *> g_surfaces;
OrvStandinGlobalStats g_stats;

} // namespace

struct ANativeWindow {
    uint32_t magic = kWindowMagic;
    std::mutex lock;
    int32_t refcount = 1;
    int32_t native_width = 0;
    int32_t native_height = 0;
    int32_t native_format = 0;
    // Requested by setBuffersGeometry; 0 means the window's own value.
    int32_t request_width = 0;
    int32_t request_height = 0;
    int32_t request_format = 0;
    int32_t fixed_stride = 0;
    Slot slots[ORV_STANDIN_QUEUE];
    int locked_slot = -1;
    int front_slot = -1;
    int next_slot = 0;
    int32_t fail_lock_count = 0;
    int32_t fail_lock_error = 0;
    int32_t fail_post_count = 0;
    int32_t fail_post_error = 0;
    int32_t fail_geometry_count = 0;
    int32_t fail_geometry_error = 0;
    int32_t refused_format = 0;
    int refuse_mode = 0;
    int32_t fail_data_space_error = 0;
    int32_t fail_transform_error = 0;
    bool checks = true;
    OrvStandinPostHook hook = nullptr;
    void *hook_context = nullptr;
    uint64_t posted_sequence = 0;
    OrvStandinWindowStats stats{};
};

namespace {

struct StandinSurface : _jobject {
    uint32_t magic = kSurfaceMagic;
    ANativeWindow *window = nullptr;
    bool valid = true;
};

// Every window call starts here: one on a null or released window is a
// fault of the caller, reported and fatal.
void require_window(const ANativeWindow *window, const char *call)
{
    {
        std::lock_guard<std::mutex> guard(g_registry_lock);
        if (window != nullptr && g_windows.count(window) != 0)
            return;
    }
    std::fprintf(stderr, "orv standin: %s on %s window %p\n", call,
                 window == nullptr ? "a null" : "a released", static_cast<const void *>(window));
    std::fflush(stderr);
    std::abort();
}

StandinSurface *surface_alive(jobject surface)
{
    std::lock_guard<std::mutex> guard(g_registry_lock);
    if (surface == nullptr || g_surfaces.count(surface) == 0)
        return nullptr;
    return static_cast<StandinSurface *>(surface);
}

int32_t next_width(const ANativeWindow *w)
{
    return w->request_width != 0 ? w->request_width : w->native_width;
}
int32_t next_height(const ANativeWindow *w)
{
    return w->request_height != 0 ? w->request_height : w->native_height;
}
int32_t next_format(const ANativeWindow *w)
{
    return w->request_format != 0 ? w->request_format : w->native_format;
}

OrvStandinBuffer describe(const Slot &slot)
{
    OrvStandinBuffer b{};
    b.width = slot.width;
    b.height = slot.height;
    b.stride = slot.stride;
    b.format = slot.format;
    b.bytes_per_pixel = bytes_per_pixel(slot.format);
    b.bits = slot.bytes.data();
    b.sequence = slot.sequence;
    b.data_space = slot.data_space;
    b.transform = slot.transform;
    const bool quarter = (slot.transform & ANATIVEWINDOW_TRANSFORM_ROTATE_90) != 0;
    b.shown_width = quarter ? slot.height : slot.width;
    b.shown_height = quarter ? slot.width : slot.height;
    return b;
}

// True when rows rows of row bytes from base hold only the fill byte (or
// also `allowed`) past their first used bytes; refills them otherwise.
bool padding_intact(uint8_t *base, size_t row, size_t used, int32_t rows, int allowed)
{
    bool intact = true;
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *pad = base + static_cast<size_t>(y) * row + used;
        for (size_t i = 0; i < row - used; ++i) {
            if (pad[i] != ORV_STANDIN_FILL && pad[i] != allowed) {
                intact = false;
                std::memset(pad, ORV_STANDIN_FILL, row - used);
                break;
            }
        }
    }
    return intact;
}

// True when the row padding and the tail guard still hold the fill byte;
// refills them so that the next overrun is counted again. YV12 chroma rows
// may be padded with mid-grey, as a writer that cares for filtering does.
bool guards_intact(Slot &slot)
{
    const size_t bpp = static_cast<size_t>(bytes_per_pixel(slot.format));
    const size_t row = static_cast<size_t>(slot.stride) * bpp;
    const size_t used = static_cast<size_t>(slot.width) * bpp;
    bool intact = padding_intact(slot.bytes.data(), row, used, slot.height, -1);
    if (slot.format == ORV_STANDIN_FORMAT_YV12) {
        const size_t c_row = yv12_chroma_stride(slot.stride);
        uint8_t *chroma = slot.bytes.data() + row * static_cast<size_t>(slot.height);
        // V rows, then U rows: one run of twice as many rows.
        intact &=
            padding_intact(chroma, c_row, static_cast<size_t>(slot.width / 2), slot.height / 2 * 2, 128);
    }
    uint8_t *tail = slot.bytes.data() + buffer_bytes(slot.format, slot.stride, slot.height);
    for (size_t i = 0; i < kTailGuard; ++i) {
        if (tail[i] != ORV_STANDIN_FILL) {
            intact = false;
            std::memset(tail, ORV_STANDIN_FILL, kTailGuard);
            break;
        }
    }
    return intact;
}

void destroy_window(ANativeWindow *window)
{
    {
        std::lock_guard<std::mutex> guard(g_registry_lock);
        g_windows.erase(window);
        g_stats.live_windows--;
    }
    window->magic = 0;
    delete window;
}

} // namespace

extern "C" {

ANativeWindow *orv_standin_window_create(int32_t width, int32_t height, int32_t format)
{
    if (width <= 0 || height <= 0 || bytes_per_pixel(format) == 0 || !size_fits(format, width, height))
        return nullptr;
    auto *w = new (std::nothrow) ANativeWindow;
    if (w == nullptr)
        return nullptr;
    w->native_width = width;
    w->native_height = height;
    w->native_format = format;
    w->stats.refcount = 1;
    w->stats.frame_rate_compatibility = -1;
    std::lock_guard<std::mutex> guard(g_registry_lock);
    g_windows.insert(w);
    g_stats.live_windows++;
    return w;
}

void orv_standin_window_set_stride(ANativeWindow *window, int32_t stride)
{
    require_window(window, "orv_standin_window_set_stride");
    std::lock_guard<std::mutex> guard(window->lock);
    window->fixed_stride = stride > 0 ? stride : 0;
}

void orv_standin_window_fail_lock(ANativeWindow *window, int32_t count, int32_t error)
{
    require_window(window, "orv_standin_window_fail_lock");
    std::lock_guard<std::mutex> guard(window->lock);
    window->fail_lock_count = count > 0 ? count : 0;
    window->fail_lock_error = error < 0 ? error : -EINVAL;
}

void orv_standin_window_fail_post(ANativeWindow *window, int32_t count, int32_t error)
{
    require_window(window, "orv_standin_window_fail_post");
    std::lock_guard<std::mutex> guard(window->lock);
    window->fail_post_count = count > 0 ? count : 0;
    window->fail_post_error = error < 0 ? error : -EINVAL;
}

void orv_standin_window_fail_geometry(ANativeWindow *window, int32_t count, int32_t error)
{
    require_window(window, "orv_standin_window_fail_geometry");
    std::lock_guard<std::mutex> guard(window->lock);
    window->fail_geometry_count = count > 0 ? count : 0;
    window->fail_geometry_error = error < 0 ? error : -EINVAL;
}

void orv_standin_window_refuse_format(ANativeWindow *window, int32_t format, int mode)
{
    require_window(window, "orv_standin_window_refuse_format");
    std::lock_guard<std::mutex> guard(window->lock);
    window->refused_format = format;
    window->refuse_mode = mode;
}

void orv_standin_window_fail_transform(ANativeWindow *window, int32_t error)
{
    require_window(window, "orv_standin_window_fail_transform");
    std::lock_guard<std::mutex> guard(window->lock);
    window->fail_transform_error = error < 0 ? error : 0;
}

void orv_standin_window_fail_data_space(ANativeWindow *window, int32_t error)
{
    require_window(window, "orv_standin_window_fail_data_space");
    std::lock_guard<std::mutex> guard(window->lock);
    window->fail_data_space_error = error < 0 ? error : 0;
}

void orv_standin_window_set_checks(ANativeWindow *window, int on)
{
    require_window(window, "orv_standin_window_set_checks");
    std::lock_guard<std::mutex> guard(window->lock);
    window->checks = on != 0;
}

void orv_standin_window_set_post_hook(ANativeWindow *window, OrvStandinPostHook hook, void *context)
{
    require_window(window, "orv_standin_window_set_post_hook");
    std::lock_guard<std::mutex> guard(window->lock);
    window->hook = hook;
    window->hook_context = context;
}

void orv_standin_window_stats(ANativeWindow *window, OrvStandinWindowStats *out)
{
    require_window(window, "orv_standin_window_stats");
    if (out == nullptr)
        return;
    std::lock_guard<std::mutex> guard(window->lock);
    *out = window->stats;
    out->refcount = window->refcount;
    out->locked = window->locked_slot >= 0 ? 1 : 0;
}

int orv_standin_window_last_posted(ANativeWindow *window, OrvStandinBuffer *out)
{
    require_window(window, "orv_standin_window_last_posted");
    if (out == nullptr)
        return -1;
    std::lock_guard<std::mutex> guard(window->lock);
    if (window->front_slot < 0)
        return -1;
    *out = describe(window->slots[window->front_slot]);
    return 0;
}

namespace {

// A compositor's YUV-to-RGB step: luma and colour-difference weights of the
// data space's standard, its range (limited where none is said), rounded.
uint32_t compose_yuv(int Y, int U, int V, int32_t data_space)
{
    const int32_t standard = data_space & ADATASPACE_STANDARD_MASK;
    double kr = 0.299, kb = 0.114;
    if (standard == ADATASPACE_STANDARD_BT709) {
        kr = 0.2126, kb = 0.0722;
    } else if (standard == ADATASPACE_STANDARD_BT2020 ||
               standard == ADATASPACE_STANDARD_BT2020_CONSTANT_LUMINANCE) {
        kr = 0.2627, kb = 0.0593;
    }
    const bool full = (data_space & ADATASPACE_RANGE_MASK) == ADATASPACE_RANGE_FULL;
    const double l = full ? Y / 255.0 : (Y - 16) / 219.0;
    const double cb = (U - 128) / (full ? 255.0 : 224.0), cr = (V - 128) / (full ? 255.0 : 224.0);
    const double r = l + 2 * (1 - kr) * cr, b = l + 2 * (1 - kb) * cb;
    const double g = (l - kr * r - kb * b) / (1 - kr - kb);
    auto byte = [](double v) {
        const double s = std::lround(v * 255.0);
        return static_cast<uint32_t>(s < 0 ? 0 : s > 255 ? 255 : s);
    };
    return 0xFF000000u | byte(r) << 16 | byte(g) << 8 | byte(b);
}

} // namespace

uint32_t orv_standin_buffer_argb(const OrvStandinBuffer *b, int32_t shown_x, int32_t shown_y)
{
    if (b == nullptr || b->bits == nullptr)
        return 0;
    // Back from the shown pixel to the buffer's: undo the turn, then the flips.
    const int32_t t = b->transform;
    int32_t x = shown_x, y = shown_y;
    if (t & ANATIVEWINDOW_TRANSFORM_ROTATE_90) {
        x = shown_y;
        y = b->height - 1 - shown_x;
    }
    if (t & ANATIVEWINDOW_TRANSFORM_MIRROR_HORIZONTAL)
        x = b->width - 1 - x;
    if (t & ANATIVEWINDOW_TRANSFORM_MIRROR_VERTICAL)
        y = b->height - 1 - y;
    if (x < 0 || y < 0 || x >= b->width || y >= b->height)
        return 0;
    if (b->format == ORV_STANDIN_FORMAT_YV12) {
        const size_t c_stride = yv12_chroma_stride(b->stride);
        const uint8_t *v_plane = b->bits + static_cast<size_t>(b->stride) * static_cast<size_t>(b->height);
        const uint8_t *u_plane = v_plane + c_stride * static_cast<size_t>(b->height / 2);
        const size_t c_at = static_cast<size_t>(y / 2) * c_stride + static_cast<size_t>(x / 2);
        return compose_yuv(b->bits[static_cast<size_t>(y) * b->stride + x], u_plane[c_at], v_plane[c_at],
                           b->data_space);
    }
    const uint8_t *p = b->bits + (static_cast<size_t>(y) * b->stride + x) * b->bytes_per_pixel;
    switch (b->format) {
    case WINDOW_FORMAT_RGBA_8888:
        return uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    case WINDOW_FORMAT_RGBX_8888:
    case ORV_STANDIN_FORMAT_RGB_888:
        return 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    case WINDOW_FORMAT_RGB_565: {
        const uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8;
        const uint32_t r = (v >> 11) & 31, g = (v >> 5) & 63, bl = v & 31;
        return 0xFF000000u | ((r << 3) | (r >> 2)) << 16 | ((g << 2) | (g >> 4)) << 8 |
               ((bl << 3) | (bl >> 2));
    }
    default:
        return 0;
    }
}

jobject orv_standin_surface_create(ANativeWindow *window)
{
    require_window(window, "orv_standin_surface_create");
    auto *s = new (std::nothrow) StandinSurface;
    if (s == nullptr)
        return nullptr;
    ANativeWindow_acquire(window);
    s->window = window;
    std::lock_guard<std::mutex> guard(g_registry_lock);
    g_surfaces.insert(static_cast<jobject>(s));
    g_stats.live_surfaces++;
    return s;
}

void orv_standin_surface_destroy(jobject surface)
{
    StandinSurface *s = surface_alive(surface);
    if (s == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(g_registry_lock);
        g_surfaces.erase(surface);
        g_stats.live_surfaces--;
    }
    ANativeWindow_release(s->window);
    s->magic = 0;
    delete s;
}

void orv_standin_surface_set_valid(jobject surface, int valid)
{
    std::lock_guard<std::mutex> guard(g_registry_lock);
    if (surface != nullptr && g_surfaces.count(surface) != 0)
        static_cast<StandinSurface *>(surface)->valid = valid != 0;
}

void orv_standin_global_stats(OrvStandinGlobalStats *out)
{
    if (out == nullptr)
        return;
    std::lock_guard<std::mutex> guard(g_registry_lock);
    *out = g_stats;
}

ANativeWindow *ANativeWindow_fromSurface(JNIEnv *env, jobject surface)
{
    const bool env_ok = orv_standin_env_is_current(env);
    ANativeWindow *window = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_registry_lock);
        g_stats.from_surface_calls++;
        if (!env_ok)
            g_stats.from_surface_bad_env++;
        if (env_ok && surface != nullptr && g_surfaces.count(surface) != 0) {
            auto *s = static_cast<StandinSurface *>(surface);
            if (s->valid)
                window = s->window;
        }
        if (window == nullptr)
            g_stats.from_surface_failures++;
    }
    if (window != nullptr)
        ANativeWindow_acquire(window);
    return window;
}

void ANativeWindow_acquire(ANativeWindow *window)
{
    require_window(window, "ANativeWindow_acquire");
    std::lock_guard<std::mutex> guard(window->lock);
    window->refcount++;
    window->stats.acquire_calls++;
}

void ANativeWindow_release(ANativeWindow *window)
{
    require_window(window, "ANativeWindow_release");
    bool last;
    {
        std::lock_guard<std::mutex> guard(window->lock);
        window->stats.release_calls++;
        last = --window->refcount == 0;
    }
    if (last)
        destroy_window(window);
}

int32_t ANativeWindow_getWidth(ANativeWindow *window)
{
    require_window(window, "ANativeWindow_getWidth");
    std::lock_guard<std::mutex> guard(window->lock);
    return next_width(window);
}

int32_t ANativeWindow_getHeight(ANativeWindow *window)
{
    require_window(window, "ANativeWindow_getHeight");
    std::lock_guard<std::mutex> guard(window->lock);
    return next_height(window);
}

int32_t ANativeWindow_getFormat(ANativeWindow *window)
{
    require_window(window, "ANativeWindow_getFormat");
    std::lock_guard<std::mutex> guard(window->lock);
    window->stats.get_format_calls++;
    return next_format(window);
}

int32_t ANativeWindow_setBuffersGeometry(ANativeWindow *window, int32_t width, int32_t height, int32_t format)
{
    require_window(window, "ANativeWindow_setBuffersGeometry");
    std::lock_guard<std::mutex> guard(window->lock);
    window->stats.geometry_calls++;
    window->stats.geometry_width = width;
    window->stats.geometry_height = height;
    window->stats.geometry_format = format;
    if (window->fail_geometry_count > 0) {
        window->fail_geometry_count--;
        window->stats.geometry_failures++;
        return window->fail_geometry_error;
    }
    if (width < 0 || height < 0 || (width == 0) != (height == 0))
        return -EINVAL;
    if (format != 0 && bytes_per_pixel(format) == 0)
        return -EINVAL;
    const bool refused = format != 0 && format == window->refused_format;
    if (refused && window->refuse_mode == 0) {
        window->stats.geometry_failures++;
        return -EINVAL;
    }
    // A device that ignores the format keeps the one its buffers have.
    const int32_t kept = refused ? next_format(window) : format;
    const int32_t next_w = width != 0 ? width : window->native_width;
    const int32_t next_h = height != 0 ? height : window->native_height;
    if (!size_fits(kept != 0 ? kept : window->native_format, next_w, next_h))
        return -EINVAL;
    window->request_width = width;
    window->request_height = height;
    window->request_format = kept;
    return 0;
}

int32_t ANativeWindow_lock(ANativeWindow *window, ANativeWindow_Buffer *out_buffer,
                           ARect *in_out_dirty_bounds)
{
    require_window(window, "ANativeWindow_lock");
    if (out_buffer == nullptr)
        return -EINVAL;
    std::lock_guard<std::mutex> guard(window->lock);
    OrvStandinWindowStats &st = window->stats;
    st.lock_calls++;
    if (window->locked_slot >= 0) {
        st.misuse++;
        st.lock_failures++;
        return -EINVAL;
    }
    if (window->fail_lock_count > 0) {
        window->fail_lock_count--;
        st.lock_failures++;
        return window->fail_lock_error;
    }
    int index = window->next_slot;
    if (index == window->front_slot)
        index = (index + 1) % ORV_STANDIN_QUEUE;
    window->next_slot = (index + 1) % ORV_STANDIN_QUEUE;
    Slot &slot = window->slots[index];
    const int32_t width = next_width(window);
    const int32_t height = next_height(window);
    const int32_t format = next_format(window);
    const int32_t stride = window->fixed_stride >= width ? window->fixed_stride : padded_stride(width);
    if (slot.width != width || slot.height != height || slot.format != format || slot.stride != stride) {
        const size_t size = buffer_bytes(format, stride, height) + kTailGuard;
        try {
            slot.bytes.assign(size, ORV_STANDIN_FILL);
        } catch (const std::bad_alloc &) {
            st.lock_failures++;
            return -ENOMEM;
        }
        slot.width = width;
        slot.height = height;
        slot.format = format;
        slot.stride = stride;
    }
    std::memset(out_buffer, 0, sizeof *out_buffer);
    out_buffer->width = width;
    out_buffer->height = height;
    out_buffer->stride = stride;
    out_buffer->format = format;
    out_buffer->bits = slot.bytes.data();
    if (in_out_dirty_bounds != nullptr)
        *in_out_dirty_bounds = ARect{0, 0, width, height};
    window->locked_slot = index;
    return 0;
}

int32_t ANativeWindow_unlockAndPost(ANativeWindow *window)
{
    require_window(window, "ANativeWindow_unlockAndPost");
    std::lock_guard<std::mutex> guard(window->lock);
    OrvStandinWindowStats &st = window->stats;
    st.post_calls++;
    if (window->locked_slot < 0) {
        st.misuse++;
        st.post_failures++;
        return -EINVAL;
    }
    const int index = window->locked_slot;
    window->locked_slot = -1;
    if (window->fail_post_count > 0) {
        window->fail_post_count--;
        st.post_failures++;
        return window->fail_post_error;
    }
    Slot &slot = window->slots[index];
    if (window->checks && !guards_intact(slot))
        st.overruns++;
    slot.sequence = ++window->posted_sequence;
    slot.data_space = window->stats.data_space;
    slot.transform = window->stats.transform;
    window->front_slot = index;
    st.posted++;
    if (window->hook != nullptr) {
        const OrvStandinBuffer b = describe(slot);
        window->hook(window->hook_context, &b);
    }
    return 0;
}

int32_t ANativeWindow_setBuffersTransform(ANativeWindow *window, int32_t transform)
{
    require_window(window, "ANativeWindow_setBuffersTransform");
    std::lock_guard<std::mutex> guard(window->lock);
    if (window->fail_transform_error != 0)
        return window->fail_transform_error;
    if (transform < 0 || transform > 7)
        return -EINVAL;
    window->stats.transform = transform;
    return 0;
}

int32_t ANativeWindow_setBuffersDataSpace(ANativeWindow *window, int32_t data_space)
{
    require_window(window, "ANativeWindow_setBuffersDataSpace");
    std::lock_guard<std::mutex> guard(window->lock);
    if (window->fail_data_space_error != 0)
        return window->fail_data_space_error;
    window->stats.data_space = data_space;
    return 0;
}

int32_t ANativeWindow_setFrameRate(ANativeWindow *window, float frame_rate, int8_t compatibility)
{
    require_window(window, "ANativeWindow_setFrameRate");
    std::lock_guard<std::mutex> guard(window->lock);
    window->stats.frame_rate_calls++;
    if (!std::isfinite(frame_rate) || frame_rate < 0 ||
        (compatibility != ANATIVEWINDOW_FRAME_RATE_COMPATIBILITY_DEFAULT &&
         compatibility != ANATIVEWINDOW_FRAME_RATE_COMPATIBILITY_FIXED_SOURCE))
        return -EINVAL;
    window->stats.frame_rate = frame_rate;
    window->stats.frame_rate_compatibility = compatibility;
    return 0;
}

} // extern "C"
