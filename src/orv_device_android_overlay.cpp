/* The AndroidOverlay: owns the native window of one render module and the
 * blitter that draws into it. Turns the host's Java Surface into a window
 * (attaching the calling thread to the VM when it is not), keeps the window's
 * buffer geometry equal to the frame size, and presents each frame into a
 * locked window buffer. Its recursive mutex is held for the whole of every
 * surface and presentation operation; set_notify and destroy take no lock, so
 * they run before the render thread starts and after it stopped. The mutex
 * heads the lock order (docs/architecture.md): it is held across on_event
 * and the blit. The window format a host asks for and the format last
 * posted are words that other threads reach atomically, without the mutex.
 *
 * A YV12 window gets the frame's planes as they are and the compositor
 * converts them; each frame the overlay checks what it can before locking
 * (even size, a data space for the colour settings) and the locked buffer
 * after, and falls back to RGBX conversion rather than post a buffer drawn
 * in the wrong layout. */
#include <android/data_space.h>
#include <android/native_window_jni.h>
#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "orv/orv_clock.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_device_copy.h"
#include "orv_device_render.h"
#include "orv_sync.hpp"

namespace {

constexpr int kAllocLine = 77;
constexpr unsigned kLogFlags = LOG_TO_ANDROID | LOG_TO_DUMP;

#if UINTPTR_MAX == 0xFFFFFFFFu
// The record is word-for-word what the target's layout fixes.
static_assert(offsetof(AndroidOverlayRecord, notify_target) == 6 * 4);
static_assert(offsetof(AndroidOverlayRecord, mutex) == 7 * 4);
static_assert(offsetof(AndroidOverlayRecord, locked) == 10 * 4);
static_assert(offsetof(AndroidOverlayRecord, buffer_ready) == 10 * 4 + sizeof(ANativeWindow_Buffer));
static_assert(offsetof(AndroidOverlayRecord, geometry_pending) == 13 * 4 + sizeof(ANativeWindow_Buffer));
#else
// 64-bit: 8-byte pointers; has_surface and the two flags after the buffer
// each share a word with padding or each other.
static_assert(sizeof(ANativeWindow_Buffer) == 48);
static_assert(offsetof(AndroidOverlayRecord, notify_target) == 6 * 8);
static_assert(offsetof(AndroidOverlayRecord, mutex) == 7 * 8);
static_assert(offsetof(AndroidOverlayRecord, window) == 9 * 8);
static_assert(offsetof(AndroidOverlayRecord, locked) == 10 * 8);
static_assert(offsetof(AndroidOverlayRecord, buffer_ready) == 10 * 8 + sizeof(ANativeWindow_Buffer));
static_assert(offsetof(AndroidOverlayRecord, blitter) == 11 * 8 + sizeof(ANativeWindow_Buffer));
static_assert(offsetof(AndroidOverlayRecord, geometry_pending) == 12 * 8 + sizeof(ANativeWindow_Buffer));
#endif

AndroidOverlayRecord *record_of(AndroidOverlay *self)
{
    return orv_device::record_of<AndroidOverlayRecord>(self);
}

// Words of the record that host threads share with the render thread; the
// NDK's libc++ has no atomic_ref.
template <typename T>
T load_word(const T &word)
{
    return __atomic_load_n(&word, __ATOMIC_ACQUIRE);
}
template <typename T>
void store_word(T &word, T value)
{
    __atomic_store_n(&word, value, __ATOMIC_RELEASE);
}

constexpr int32_t kYv12 = DEVICE_WINDOW_YV12;

// The data space that tells a compositor the module's matrix and range.
constexpr int32_t data_space_of(int matrix, int range)
{
    const int32_t standard = matrix == DEVICE_MATRIX_BT709    ? ADATASPACE_STANDARD_BT709
                             : matrix == DEVICE_MATRIX_BT2020 ? ADATASPACE_STANDARD_BT2020
                                                              : ADATASPACE_STANDARD_BT601_625;
    return standard | ADATASPACE_TRANSFER_SMPTE_170M |
           (range == DEVICE_RANGE_FULL ? ADATASPACE_RANGE_FULL : ADATASPACE_RANGE_LIMITED);
}
static_assert(data_space_of(DEVICE_MATRIX_BT601, DEVICE_RANGE_LIMITED) == ADATASPACE_BT601_625);
static_assert(data_space_of(DEVICE_MATRIX_BT601, DEVICE_RANGE_FULL) == ADATASPACE_JFIF);
static_assert(data_space_of(DEVICE_MATRIX_BT709, DEVICE_RANGE_LIMITED) == ADATASPACE_BT709);
static_assert(data_space_of(DEVICE_MATRIX_BT2020, DEVICE_RANGE_FULL) == ADATASPACE_BT2020);

// ANativeWindow_setBuffersDataSpace came with API 28 and the library runs
// from API 21, so it is looked up once, not linked.
using SetDataSpace = int32_t (*)(ANativeWindow *, int32_t);
using SetTransform = int32_t (*)(ANativeWindow *, int32_t);
std::atomic<bool> g_hide_data_space{false};
std::atomic<bool> g_hide_transform{false};

// A window call of a later API level than the library's minimum, looked up
// once: null where the device's libnativewindow lacks it.
void *window_call(const char *name)
{
    void *call = dlsym(RTLD_DEFAULT, name);
    if (call == nullptr) {
        // Kept open for the process's life, as libandroid keeps it anyway.
        if (void *lib = dlopen("libnativewindow.so", RTLD_NOW | RTLD_LOCAL))
            call = dlsym(lib, name);
    }
    return call;
}

SetDataSpace data_space_call()
{
    static const auto found =
        reinterpret_cast<SetDataSpace>(window_call("ANativeWindow_setBuffersDataSpace"));
    return g_hide_data_space.load(std::memory_order_relaxed) ? nullptr : found;
}

// API 26.
SetTransform transform_call()
{
    static const auto found =
        reinterpret_cast<SetTransform>(window_call("ANativeWindow_setBuffersTransform"));
    return g_hide_transform.load(std::memory_order_relaxed) ? nullptr : found;
}

// Why a YV12 request fell back; each reason is logged once per request.
enum Fallback : uint32_t {
    kOddSize = 1,
    kDataSpace = 2,
    kGeometry = 4,
    kIgnored = 8,
    kLayout = 16,
    kAssumed601 = 32,
    kUndrawable = 64,
    kNoWindowTurn = 128,
};

bool first_time(AndroidOverlayRecord *rec, Fallback reason)
{
    if (rec->fallbacks_logged & reason)
        return false;
    rec->fallbacks_logged |= reason;
    return true;
}

void fall_back(AndroidOverlayRecord *rec, Fallback reason, const char *why)
{
    rec->yv12_refused = 1;
    if (first_time(rec, reason))
        orv_log(kLogFlags, ORV_ERR_NOT_SUPPORT, "VRE: deviceoverlay: YV12 off, drawing RGBX: %s", why);
}

// Tells the compositor how to read the planes. BT.601 limited range is what
// compositors assume, so it needs no call; anything else without the call
// would show wrong colours, and the caller converts instead.
bool ensure_data_space(AndroidOverlayRecord *rec, const DeviceBlitSettings &s)
{
    const int32_t wanted = data_space_of(s.matrix, s.range);
    if (rec->data_space == wanted)
        return true;
    const SetDataSpace call = data_space_call();
    const int32_t err = call != nullptr ? call(rec->window, wanted) : -ENOSYS;
    if (err == 0 || wanted == ADATASPACE_BT601_625) {
        if (err != 0 && first_time(rec, kAssumed601))
            orv_log(kLogFlags, ORV_ERR_NOT_SUPPORT,
                    "VRE: deviceoverlay: no buffer data space (err:%d), BT.601 limited assumed", err);
        rec->data_space = wanted;
        return true;
    }
    return false;
}

// RGB buffers carry their own colours: a YUV data space left on the window
// would make the compositor treat them as another gamut.
void clear_data_space(AndroidOverlayRecord *rec)
{
    if (rec->data_space <= 0)
        return;
    if (const SetDataSpace call = data_space_call())
        call(rec->window, ADATASPACE_UNKNOWN);
    rec->data_space = ADATASPACE_UNKNOWN;
}

// RGB buffers carry the picture turned already: a transform left on the
// window would turn it twice.
void clear_window_transform(AndroidOverlayRecord *rec)
{
    if (rec->window_transform == 0)
        return;
    const SetTransform call = transform_call();
    const int32_t err = call != nullptr ? call(rec->window, 0) : -ENOSYS;
    if (err != 0)
        orv_log(kLogFlags, ORV_FAIL, "VRE: deviceoverlay: window transform not cleared err:%d", err);
    rec->window_transform = 0;
}

// YV12 planes go to the window as they are and the window turns them, when
// it can (from API 26); otherwise the copy turns them. Returns whether the
// window now turns the buffers by transform.
bool window_turns(AndroidOverlayRecord *rec, int32_t transform)
{
    if (rec->window_transform == transform)
        return true;
    if (rec->window_cannot_turn)
        return false;
    const SetTransform call = transform_call();
    const int32_t err = call != nullptr ? call(rec->window, transform) : -ENOSYS;
    if (err == 0) {
        rec->window_transform = transform;
        return true;
    }
    rec->window_cannot_turn = 1;
    if (first_time(rec, kNoWindowTurn))
        orv_log(kLogFlags, ORV_ERR_NOT_SUPPORT,
                "VRE: deviceoverlay: window cannot turn buffers (err:%d), YV12 planes turned in the copy",
                err);
    // A turn it took before must not apply on top of the copy's.
    clear_window_transform(rec);
    return false;
}

// Takes up a new request at a frame boundary: a YV12 request tries again
// whatever fell back before.
void follow_request(AndroidOverlayRecord *rec)
{
    const uint32_t count = load_word(rec->format_requests);
    if (count == rec->format_requests_seen)
        return;
    rec->format_requests_seen = count;
    rec->format_wanted = load_word(rec->format_request);
    rec->yv12_refused = 0;
    rec->fallbacks_logged = 0;
}

// The format this frame's buffer should have, as far as it is known before
// locking.
int32_t frame_format(AndroidOverlayRecord *rec, const YuvFrame *frame, const DeviceBlitSettings &s)
{
    // A window whose own format is YV12 gets the same checks as a request.
    const int32_t wanted = rec->format_wanted == DEVICE_WINDOW_AUTO ? rec->own_format : rec->format_wanted;
    if (wanted != kYv12)
        return wanted;
    if (!rec->yv12_refused) {
        if ((frame->width | frame->height) & 1) {
            fall_back(rec, kOddSize, "odd frame size");
        } else if (!ensure_data_space(rec, s)) {
            fall_back(rec, kDataSpace, "no buffer data space for the colour settings");
        } else {
            return kYv12;
        }
    }
    return WINDOW_FORMAT_RGBX_8888;
}

// Why a locked YV12 buffer cannot take the frame's planes; null when it can.
const char *yv12_fault(const ANativeWindow_Buffer &buf, const YuvFrame *frame)
{
    if ((frame->width | frame->height) & 1)
        return "odd frame size";
    if (buf.stride < buf.width || buf.stride % 16 != 0)
        return "buffer stride";
    return nullptr;
}

// Pixels the blitter draws per window format, and bytes per pixel of a row.
struct FormatInfo {
    int bits_per_pixel;
    int bytes_per_pixel;
};

constexpr FormatInfo format_info(int32_t format)
{
    switch (format) {
    case WINDOW_FORMAT_RGBA_8888:
    case WINDOW_FORMAT_RGBX_8888:
        return {32, 4};
    case WINDOW_FORMAT_RGB_565:
        return {16, 2};
    default:
        return {0, 0};
    }
}

// Shared by check_surface and present while no window is attached: tell the
// host once per detach, answer "not yet".
ResultCode no_surface_answer(AndroidOverlayRecord *rec)
{
    if (rec->has_surface)
        return ORV_OK;
    if (rec->notify_target != nullptr && !rec->no_surface_notified) {
        rec->no_surface_notified = 1;
        rec->notify_target->notify(rec->notify_target, 0, 0, 0);
    }
    return ORV_WOUNLD_BLOCK;
}

ResultCode post_buffer(AndroidOverlayRecord *rec)
{
    if (rec->window == nullptr)
        return ORV_OK;
    const int32_t err = ANativeWindow_unlockAndPost(rec->window);
    if (err != 0) {
        orv_log(kLogFlags, err, "VRE: deviceoverlay: unlock fail err:%d", err);
        return ORV_FAIL;
    }
    __atomic_store_n(&rec->posted_format, rec->locked.format, __ATOMIC_RELAXED);
    return ORV_OK;
}

uint32_t elapsed_us(uint64_t since)
{
    const uint64_t us = orv_clock_us() - since;
    return us > UINT32_MAX ? UINT32_MAX : uint32_t(us);
}

float bits_float(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The frame-rate hint the host asked for, given to the current window once.
void apply_frame_rate(AndroidOverlayRecord *rec)
{
    const uint32_t wanted = __atomic_load_n(&rec->rate_wanted, __ATOMIC_RELAXED);
    if (rec->rate_given_set && rec->rate_given == wanted)
        return;
    const bool fresh_window = !rec->rate_given_set;
    rec->rate_given = wanted;
    rec->rate_given_set = 1;
    if (fresh_window && wanted == 0)
        return; // a new window has no hint to clear
    const float fps = bits_float(wanted);
    const OrvSetFrameRate set_rate = orv_device_set_frame_rate_call();
    if (set_rate == nullptr) {
        if (!rec->rate_missing_told)
            orv_log_android_info("VRI: deviceoverlay: no ANativeWindow_setFrameRate (below API 30), "
                                 "frame rate hint %.3f not given",
                                 double(fps));
        rec->rate_missing_told = 1;
        return;
    }
    if (const int32_t err = set_rate(rec->window, fps, ORV_FRAME_RATE_FIXED_SOURCE); err != 0)
        orv_log(kLogFlags, ORV_FAIL, "VRE: deviceoverlay: set frame rate %.3f fail err:%d", double(fps), err);
}

// A frame boundary of the render thread: the host's settings take effect.
void apply_settings(AndroidOverlayRecord *rec)
{
    if (!__atomic_load_n(&rec->redraw_wanted, __ATOMIC_RELAXED) && rec->kept.block != nullptr)
        orv_device_keep_release(&rec->kept);
    if (rec->has_surface)
        apply_frame_rate(rec);
}

ResultCode overlay_set_notify(AndroidOverlay *self, NotifyLink *target, const void *)
{
    AndroidOverlayRecord *rec = record_of(self);
    if (rec == nullptr)
        return ORV_FAIL;
    rec->notify_target = target;
    return ORV_OK;
}

ResultCode overlay_check_surface(AndroidOverlay *self)
{
    AndroidOverlayRecord *rec = record_of(self);
    if (rec == nullptr)
        return ORV_FAIL;
    orv::MutexGuard hold(rec->mutex);
    apply_settings(rec);
    return no_surface_answer(rec);
}

// The size a buffer of the format needs for the frame: RGB buffers get the
// picture turned, so a quarter turn swaps width and height; YV12 buffers get
// the planes as they are where the window turns them, else turned too.
struct WindowSize {
    int32_t width, height;
    bool turned;
};

WindowSize window_size(const AndroidOverlayRecord *rec, const YuvFrame *frame, int transform, int32_t format)
{
    const bool turned =
        (transform & DEVICE_TRANSFORM_ROTATE_90) != 0 && (format != kYv12 || rec->yv12_copy_turns);
    return turned ? WindowSize{frame->height, frame->width, true}
                  : WindowSize{frame->width, frame->height, false};
}

// Sets the window's buffer geometry to the frame size (turned, for this
// frame's transform); a window that refuses it would only ever give buffers
// of the wrong size.
ResultCode set_geometry(AndroidOverlayRecord *rec, const YuvFrame *frame, int32_t format)
{
    const WindowSize size = window_size(rec, frame, rec->frame_transform, format);
    const int32_t err = ANativeWindow_setBuffersGeometry(rec->window, size.width, size.height, format);
    if (err != 0) {
        orv_log(kLogFlags, ORV_FAIL, "VRE: deviceoverlay: set geometry %dx%d format %d fail err:%d",
                size.width, size.height, format, err);
        return ORV_FAIL;
    }
    rec->geometry_turned = size.turned;
    return ORV_OK;
}

// Sets the geometry for the frame in format, falling back from YV12 to RGBX
// and from an asked-for format to the window's own; only a refusal of the
// window's own format is a failure, as it always was.
ResultCode apply_geometry(AndroidOverlayRecord *rec, const YuvFrame *frame, int32_t format)
{
    if (format == kYv12) {
        if (set_geometry(rec, frame, kYv12) == ORV_OK) {
            rec->format_target = kYv12;
            return ORV_OK;
        }
        fall_back(rec, kGeometry, "geometry refused");
        format = WINDOW_FORMAT_RGBX_8888;
    }
    if (format != rec->own_format && set_geometry(rec, frame, format) == ORV_OK) {
        rec->format_target = format;
        return ORV_OK;
    }
    if (ORV_FAILED(set_geometry(rec, frame, rec->own_format)))
        return ORV_FAIL;
    rec->format_target = rec->own_format;
    return ORV_OK;
}

bool chroma_adjacent(const YuvFrame *frame)
{
    return frame->v == frame->u + 1 || frame->u == frame->v + 1;
}

// Why the locked YV12 buffer cannot take this frame's planes; null when it
// can.
const char *yv12_unusable(AndroidOverlayRecord *rec, const YuvFrame *frame, const DeviceBlitSettings &s)
{
    if (const char *fault = yv12_fault(rec->locked, frame))
        return fault;
    if (!ensure_data_space(rec, s))
        return "no buffer data space for the colour settings";
    return nullptr;
}

// Posts a YV12 buffer as it came, never drawn in a layout it does not have:
// 3 when YV12 was asked for (the same frame comes again, converted), else 0.
ResultCode post_undrawn_yv12(AndroidOverlayRecord *rec, const char *fault)
{
    if (ORV_FAILED(post_buffer(rec)))
        return ORV_FAIL;
    if (rec->format_target == kYv12) {
        fall_back(rec, kLayout, fault);
        return ORV_WOUNLD_BLOCK;
    }
    if (first_time(rec, kUndrawable))
        orv_log(kLogFlags, ORV_ERR_NOT_SUPPORT, "VRE: deviceoverlay: YV12 buffer not drawn: %s", fault);
    return ORV_OK;
}

// The planes go as they are where the window turns them (or nothing is to
// be turned), else turned on the way.
// 10-bit samples are rounded to 8 bits on the way.
ResultCode copy_planes(AndroidOverlayRecord *rec, const YuvFrame *frame, const DeviceBlitSettings &s)
{
    const OrvYv12Planes planes = orv_yv12_planes(rec->locked.bits, rec->locked.stride, rec->locked.height);
    if (rec->yv12_copy_turns && s.transform != 0) {
        orv_yv12_copy_turned(&planes, frame, s.step, s.samples, s.transform);
        return ORV_OK;
    }
    const DeviceCopyKernels kernels = orv_device_pick_copy_kernels();
    orv_yv12_copy_frame(&planes, frame, s.step, s.samples, &kernels);
    return ORV_OK;
}

enum class Source { Host, Kept };

// The frame was checked where it entered the render path (the DeviceRender).
// Holds the mutex: the caller took it.
// RGB565 dithers from the carry the previous frame left: a redraw starts
// from the carry its frame started from, so it posts the same bytes (and
// leaves the carry as the frame did); a host frame that may be kept has that
// carry taken first.
void exact_dither(AndroidOverlayRecord *rec, const YuvFrame *frame, Source source)
{
    int32_t width = 0;
    uint32_t bytes = 0;
    uint8_t *carry = orv_device_blit_carry(rec->blitter, &width, &bytes);
    DeviceKeptFrame &kept = rec->kept;
    if (source == Source::Host) {
        if (__atomic_load_n(&rec->redraw_wanted, __ATOMIC_RELAXED))
            orv_device_keep_carry(&kept, carry, width, width == frame->width ? bytes : 0);
    } else if (kept.carry_bytes != 0 && kept.carry_bytes == bytes && kept.carry_width == width) {
        std::memcpy(carry, kept.carry, bytes);
    }
}

ResultCode present_locked(AndroidOverlayRecord *rec, const YuvFrame *frame, Source source)
{
    if (!rec->has_surface)
        return no_surface_answer(rec);
    // Sized once here; the blitter grows its error carry for wider frames.
    if (!rec->buffer_ready) {
        rec->buffer_ready = 1;
        const ResultCode r = rec->blitter->update_buffer(rec->blitter, frame);
        if (ORV_FAILED(r))
            return r;
    }
    // Once per frame: the window format and the colour settings this frame follows.
    follow_request(rec);
    const DeviceBlitSettings settings = orv_device_blit_settings(rec->blitter);
    if (rec->geometry_pending) {
        rec->geometry_pending = 0;
        rec->own_format = ANativeWindow_getFormat(rec->window);
        rec->format_target = 0;
    }
    const int32_t frame_fmt = frame_format(rec, frame, settings);
    // The copy reads the frame as the blitter would: the same checks.
    if (frame_fmt == kYv12) {
        if (settings.samples != DEVICE_SAMPLES_8) {
            if (!orv_device_words_fit(frame, settings.step))
                return ORV_ERR_INVALID_PARAM;
        } else if (settings.step == 2 && !chroma_adjacent(frame)) {
            orv_log(kLogFlags, ORV_ERR_INVALID_PARAM,
                    "VRE: deviceoverlay: chroma step 2 needs u and v one byte apart");
            return ORV_ERR_INVALID_PARAM;
        }
    }
    // A transform change that turns RGB buffers sets the geometry before
    // locking, so no buffer of the old shape is posted undrawn.
    rec->frame_transform = settings.transform;
    rec->yv12_copy_turns = frame_fmt == kYv12 && !window_turns(rec, settings.transform);
    const bool turn_changed =
        rec->format_target != 0 &&
        window_size(rec, frame, settings.transform, rec->format_target).turned != bool(rec->geometry_turned);
    if ((frame_fmt != rec->format_target || turn_changed) &&
        ORV_FAILED(apply_geometry(rec, frame, frame_fmt)))
        return ORV_FAIL;
    if (rec->format_target != kYv12) {
        clear_data_space(rec);
        clear_window_transform(rec);
    }
    const uint64_t lock_start = orv_clock_us();
    if (ANativeWindow_lock(rec->window, &rec->locked, nullptr) != 0) {
        orv_log(kLogFlags, ORV_FAIL, "VRE: deviceoverlay: surface lock fail");
        return ORV_FAIL;
    }
    const uint32_t lock_us = elapsed_us(lock_start);
    ANativeWindow_Buffer &buf = rec->locked;
    const WindowSize wanted = window_size(rec, frame, settings.transform, buf.format);
    if (buf.width != wanted.width || buf.height != wanted.height) {
        // Not an error: show nothing this time, ask for the frame's size.
        if (ORV_FAILED(post_buffer(rec)))
            return ORV_FAIL;
        const int32_t format = buf.format;
        if (rec->notify_target != nullptr) {
            ANativeWindow *const window = rec->window;
            rec->notify_target->notify(rec->notify_target, wanted.width, wanted.height, 0);
            // The host may have detached (or swapped) the surface from inside
            // on_event: the recursive mutex let it in. A new window gets its
            // geometry on the next present; a released one must not be touched.
            if (rec->window != window || !rec->has_surface)
                return ORV_WOUNLD_BLOCK;
        }
        // Following the window's own format, the buffer's is kept as it always
        // was; an asked-for format is asked for again.
        if (rec->format_wanted == DEVICE_WINDOW_AUTO) {
            if (ORV_FAILED(set_geometry(rec, frame, format)))
                return ORV_FAIL;
        } else if (ORV_FAILED(apply_geometry(rec, frame, rec->format_target))) {
            return ORV_FAIL;
        }
        return ORV_WOUNLD_BLOCK;
    }
    // A YV12 buffer takes the planes; any other is converted into.
    const bool yv12 = buf.format == kYv12;
    if (yv12) {
        if (const char *fault = yv12_unusable(rec, frame, settings))
            return post_undrawn_yv12(rec, fault);
    } else if (rec->format_target == kYv12) {
        // A window that accepted YV12 and still gave this buffer: drawn
        // right in its own format now, RGBX from the next frame.
        fall_back(rec, kIgnored, "buffer came in another format");
        clear_window_transform(rec);
    }
    const FormatInfo info = format_info(buf.format);
    if (info.bits_per_pixel == 16 && !yv12)
        exact_dither(rec, frame, source);
    const uint64_t blit_start = orv_clock_us();
    const ResultCode r = yv12 ? copy_planes(rec, frame, settings)
                              : orv_device_blit_draw(rec->blitter, frame, static_cast<uint8_t *>(buf.bits),
                                                     buf.stride * info.bytes_per_pixel, info.bits_per_pixel,
                                                     settings.transform);
    const uint32_t blit_us = elapsed_us(blit_start);
    if (ORV_FAILED(r)) {
        post_buffer(rec);
        orv_log(kLogFlags, r, "VRE: deviceoverlay: blit fail");
        return r;
    }
    const uint64_t post_start = orv_clock_us();
    if (ORV_FAILED(post_buffer(rec)))
        return ORV_FAIL;
    rec->redraw_pending = 0;
    if (info.bits_per_pixel == 0 && !yv12)
        return r; // posted, but nothing was drawn into it
    DeviceStatsCounters *stats = &rec->stats;
    orv_device::stat_post(stats, lock_us + elapsed_us(post_start));
    orv_device::stat_blit(stats, blit_us);
    orv_device::stat_frame_size(stats, frame->width, frame->height);
    orv_device::stat_add(stats, source == Source::Host ? ORV_STAT_PRESENTED : ORV_STAT_REDRAWN);
    // The copy is taken after the post, so the time it costs shows nowhere
    // on screen; the host's frame stays valid until present returns.
    if (source == Source::Host && __atomic_load_n(&rec->redraw_wanted, __ATOMIC_RELAXED))
        orv_device_keep_frame(&rec->kept, frame,
                              yv12 ? settings.step : orv_device_blit_last_step(rec->blitter),
                              yv12 ? settings.samples : orv_device_blit_last_samples(rec->blitter));
    return r;
}

ResultCode overlay_present(AndroidOverlay *self, const YuvFrame *frame)
{
    AndroidOverlayRecord *rec = record_of(self);
    if (rec == nullptr || frame == nullptr)
        return ORV_FAIL;
    orv::MutexGuard hold(rec->mutex);
    return present_locked(rec, frame, Source::Host);
}

ResultCode overlay_set_surface(AndroidOverlay *self, JavaVM *vm, jobject surface)
{
    AndroidOverlayRecord *rec = record_of(self);
    if (rec == nullptr)
        return ORV_FAIL;
    orv::MutexGuard hold(rec->mutex);
    if (vm == nullptr || surface == nullptr) {
        if (rec->window != nullptr) {
            ANativeWindow_release(rec->window);
            rec->window = nullptr;
        }
        rec->no_surface_notified = 0;
        rec->has_surface = 0;
        rec->redraw_pending = 0;
        return ORV_OK;
    }
    if (rec->window != nullptr)
        return ORV_OK;

    JNIEnv *env = nullptr;
    bool attached_here = false;
    ResultCode result = ORV_OK;
    if (vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_4) != JNI_OK || env == nullptr) {
        env = nullptr;
        if (vm->AttachCurrentThread(&env, nullptr) < 0 || env == nullptr) {
            orv_log(kLogFlags, ORV_FAIL, "VRE: deviceoverlay: attach thread fail");
            vm->DetachCurrentThread();
            result = ORV_FAIL;
        } else {
            attached_here = true;
        }
    }
    if (result == ORV_OK) {
        rec->window = ANativeWindow_fromSurface(env, surface);
        if (rec->window != nullptr) {
            rec->geometry_pending = 1;
            rec->data_space = -1;
            rec->window_transform = 0;
            rec->window_cannot_turn = 0;
        } else {
            orv_log(kLogFlags, ORV_FAIL, "VRE: deviceoverlay: fromSurface fail");
            result = ORV_FAIL;
        }
        if (attached_here)
            vm->DetachCurrentThread();
    }
    if (result == ORV_OK) {
        rec->has_surface = 1;
        rec->redraw_pending = 1;
        rec->rate_given_set = 0;
    } else {
        orv_log(kLogFlags, result, "VRE: deviceoverlay: create surface fail");
    }
    return result;
}

// Accepts a partly built object, so creation undoes itself with it.
ResultCode destroy_record(AndroidOverlayRecord *rec)
{
    if (rec == nullptr)
        return ORV_OK;
    orv_device::destroy_owned(rec->blitter);
    orv_device_keep_release(&rec->kept);
    if (rec->window != nullptr) {
        ANativeWindow_release(rec->window);
        rec->window = nullptr;
    }
    if (rec->mutex != nullptr) {
        orv_mutex_destroy(rec->mutex);
        rec->mutex = nullptr;
    }
    orv_mem_free(rec);
    return ORV_OK;
}

ResultCode overlay_destroy(AndroidOverlay *self)
{
    return destroy_record(record_of(self));
}

} // namespace

ResultCode orv_device_overlay_set_window_format(AndroidOverlay *overlay, int32_t format)
{
    AndroidOverlayRecord *rec = record_of(overlay);
    switch (format) {
    case DEVICE_WINDOW_AUTO:
    case DEVICE_WINDOW_RGBA:
    case DEVICE_WINDOW_RGBX:
    case DEVICE_WINDOW_RGB565:
    case DEVICE_WINDOW_YV12:
        if (rec != nullptr)
            break;
        [[fallthrough]];
    default:
        orv_log(kLogFlags, ORV_ERR_INVALID_PARAM, "VRE: deviceoverlay: no window format 0x%x",
                unsigned(format));
        return ORV_ERR_INVALID_PARAM;
    }
    // The format first: a render thread that sees the new count reads it.
    store_word(rec->format_request, format);
    __atomic_fetch_add(&rec->format_requests, 1u, __ATOMIC_ACQ_REL);
    return ORV_OK;
}

void orv_device_overlay_hide_data_space(int hide)
{
    g_hide_data_space.store(hide != 0, std::memory_order_relaxed);
}

void orv_device_overlay_hide_transform(int hide)
{
    g_hide_transform.store(hide != 0, std::memory_order_relaxed);
}

ResultCode orv_device_overlay_redraw(AndroidOverlay *self)
{
    AndroidOverlayRecord *rec = record_of(self);
    if (rec == nullptr)
        return ORV_FAIL;
    orv::MutexGuard hold(rec->mutex);
    if (!rec->has_surface || !rec->redraw_pending)
        return ORV_WOUNLD_BLOCK;
    if (!__atomic_load_n(&rec->redraw_wanted, __ATOMIC_RELAXED) || !rec->kept.valid) {
        rec->redraw_pending = 0;
        return ORV_WOUNLD_BLOCK;
    }
    // Converted with the chroma layout and samples it was copied in, whatever the
    // setting says now.
    orv_device_blit_force_step(rec->blitter, rec->kept.step);
    orv_device_blit_force_samples(rec->blitter, rec->kept.samples);
    const ResultCode r = present_locked(rec, &rec->kept.frame, Source::Kept);
    orv_device_blit_force_step(rec->blitter, 0);
    orv_device_blit_force_samples(rec->blitter, -1);
    if (r == ORV_WOUNLD_BLOCK)
        return r;
    rec->redraw_pending = 0;
    if (ORV_FAILED(r))
        orv_log(kLogFlags, r, "VRE: deviceoverlay: redraw of the kept frame fail");
    return r;
}

int32_t orv_device_overlay_window_format(AndroidOverlay *self)
{
    AndroidOverlayRecord *rec = record_of(self);
    return rec != nullptr ? __atomic_load_n(&rec->posted_format, __ATOMIC_RELAXED) : 0;
}

AndroidOverlay *orv_device_android_overlay_create(void)
{
    auto *rec = orv_device::new_record<AndroidOverlayRecord>(ORV_TAG_FILE, kAllocLine,
                                                             "VRE: deviceoverlay: malloc yuvlist fail");
    if (rec == nullptr)
        return nullptr;
    rec->mutex = orv_mutex_create(0, 0, 0);
    if (rec->mutex == nullptr) {
        destroy_record(rec);
        return nullptr;
    }
    rec->blitter = orv_device_blit_create();
    if (rec->blitter == nullptr) {
        destroy_record(rec);
        return nullptr;
    }
    rec->ops.set_notify = overlay_set_notify;
    rec->ops.check_surface = overlay_check_surface;
    rec->ops.present = overlay_present;
    rec->ops.set_surface = overlay_set_surface;
    rec->ops.destroy = overlay_destroy;
    return &rec->ops;
}
