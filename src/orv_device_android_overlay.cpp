/* The AndroidOverlay: owns the native window of one render module and the
 * blitter that draws into it. Turns the host's Java Surface into a window
 * (attaching the calling thread to the VM when it is not), keeps the window's
 * buffer geometry equal to the frame size, and presents each frame into a
 * locked window buffer. Its recursive mutex is held for the whole of every
 * surface and presentation operation; set_notify and destroy take no lock, so
 * they run before the render thread starts and after it stopped. */
#include <android/native_window_jni.h>

#include <cstddef>
#include <cstring>

#include "orv/orv_clock.h"
#include "orv/orv_log.h"
#include "orv/orv_mem.h"
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

// Sets the window's buffer geometry to the frame size; a window that refuses
// it would only ever give buffers of the wrong size.
ResultCode set_geometry(AndroidOverlayRecord *rec, const YuvFrame *frame, int32_t format)
{
    const int32_t err = ANativeWindow_setBuffersGeometry(rec->window, frame->width, frame->height, format);
    if (err != 0) {
        orv_log(kLogFlags, ORV_FAIL, "VRE: deviceoverlay: set geometry %dx%d format %d fail err:%d",
                frame->width, frame->height, format, err);
        return ORV_FAIL;
    }
    return ORV_OK;
}

enum class Source { Host, Kept };

// The frame was checked where it entered the render path (the DeviceRender).
// Holds the mutex: the caller took it.
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
    if (rec->geometry_pending) {
        rec->geometry_pending = 0;
        if (ORV_FAILED(set_geometry(rec, frame, ANativeWindow_getFormat(rec->window))))
            return ORV_FAIL;
    }
    const uint64_t lock_start = orv_clock_us();
    if (ANativeWindow_lock(rec->window, &rec->locked, nullptr) != 0) {
        orv_log(kLogFlags, ORV_FAIL, "VRE: deviceoverlay: surface lock fail");
        return ORV_FAIL;
    }
    const uint32_t lock_us = elapsed_us(lock_start);
    ANativeWindow_Buffer &buf = rec->locked;
    if (buf.width != frame->width || buf.height != frame->height) {
        // Not an error: show nothing this time, ask for the frame's size.
        if (ORV_FAILED(post_buffer(rec)))
            return ORV_FAIL;
        const int32_t format = buf.format;
        if (rec->notify_target != nullptr) {
            ANativeWindow *const window = rec->window;
            rec->notify_target->notify(rec->notify_target, frame->width, frame->height, 0);
            // The host may have detached (or swapped) the surface from inside
            // on_event: the recursive mutex let it in. A new window gets its
            // geometry on the next present; a released one must not be touched.
            if (rec->window != window || !rec->has_surface)
                return ORV_WOUNLD_BLOCK;
        }
        if (ORV_FAILED(set_geometry(rec, frame, format)))
            return ORV_FAIL;
        return ORV_WOUNLD_BLOCK;
    }
    const FormatInfo info = format_info(buf.format);
    const uint64_t blit_start = orv_clock_us();
    const ResultCode r = rec->blitter->blit(rec->blitter, frame, static_cast<uint8_t *>(buf.bits),
                                            buf.stride * info.bytes_per_pixel, info.bits_per_pixel);
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
    if (info.bits_per_pixel == 0)
        return r; // posted, but nothing was drawn into it
    DeviceStatsCounters *stats = &rec->stats;
    orv_device::stat_post(stats, lock_us + elapsed_us(post_start));
    orv_device::stat_blit(stats, blit_us);
    orv_device::stat_frame_size(stats, frame->width, frame->height);
    orv_device::stat_add(stats, source == Source::Host ? ORV_STAT_PRESENTED : ORV_STAT_REDRAWN);
    // The copy is taken after the post, so the time it costs shows nowhere
    // on screen; the host's frame stays valid until present returns.
    if (source == Source::Host && __atomic_load_n(&rec->redraw_wanted, __ATOMIC_RELAXED))
        orv_device_keep_frame(&rec->kept, frame, orv_device_blit_last_step(rec->blitter));
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
    // Converted with the chroma layout it was copied in, whatever the
    // setting says now.
    orv_device_blit_force_step(rec->blitter, rec->kept.step);
    const ResultCode r = present_locked(rec, &rec->kept.frame, Source::Kept);
    orv_device_blit_force_step(rec->blitter, 0);
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
