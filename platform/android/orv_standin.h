/* Control side of the software stand-ins for the Android platform: a window
 * with a small buffer queue behind the NDK window calls, Java Surface objects
 * that lead to such a window, and a Java VM invocation interface that counts
 * its calls. Tests and host tools use it to build what a device would hand a
 * host, to read back what was posted, and to inject failures. Any window call
 * (NDK or control) with a null or released window aborts the process. */
#ifndef ORV_STANDIN_H
#define ORV_STANDIN_H

#include <android/native_window.h>
#include <jni.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORV_STANDIN_API __attribute__((visibility("default")))

/* Format 3 (three bytes per pixel) exists for tests of formats the render
 * path does not draw; 1, 2 and 4 are the ones it does. */
#define ORV_STANDIN_FORMAT_RGB_888 3
/* HAL_PIXEL_FORMAT_YV12: planar 4:2:0, Y then Cr then Cb, each chroma row
 * ALIGN(stride / 2, 16) bytes; the window composes it to RGB (see
 * orv_standin_buffer_argb). Width and height must be even. */
#define ORV_STANDIN_FORMAT_YV12 0x32315659
/* Byte every new buffer is filled with, so undrawn pixels and row padding show. */
#define ORV_STANDIN_FILL 0xCD
/* Buffers in a window's queue. */
#define ORV_STANDIN_QUEUE 3

/* One window buffer as posted. bits stays valid until that buffer comes round
 * in the queue again (two more locks) or the window goes away. */
typedef struct OrvStandinBuffer {
    int32_t width;
    int32_t height;
    int32_t stride; /* pixels */
    int32_t format;
    int32_t bytes_per_pixel;
    const uint8_t *bits;
    uint64_t sequence;  /* 1 for the first buffer posted on the window */
    int32_t data_space; /* the window's data space when it was posted */
    /* The window's transform when it was posted (ANATIVEWINDOW_TRANSFORM_*),
     * and the size the compositor shows: width x height, swapped by a
     * quarter turn. */
    int32_t transform;
    int32_t shown_width;
    int32_t shown_height;
} OrvStandinBuffer;

typedef struct OrvStandinWindowStats {
    uint32_t lock_calls;
    uint32_t lock_failures;
    uint32_t post_calls;
    uint32_t post_failures;
    uint32_t posted; /* buffers actually posted */
    uint32_t geometry_calls;
    uint32_t geometry_failures;
    uint32_t get_format_calls;
    uint32_t acquire_calls;
    uint32_t release_calls;
    /* Lock while locked, post while unlocked. */
    uint32_t misuse;
    /* Posted buffers whose row padding or tail guard was written. In YV12
     * the luma padding must stay untouched; chroma padding may hold 128. */
    uint32_t overruns;
    /* Arguments of the last setBuffersGeometry call. */
    int32_t geometry_width;
    int32_t geometry_height;
    int32_t geometry_format;
    int32_t refcount;
    int32_t locked;
    /* The last values set through setBuffersDataSpace and
     * setBuffersTransform; 0 until set. */
    int32_t data_space;
    int32_t transform;
    /* ANativeWindow_setFrameRate: calls, and the arguments of the last
     * accepted one (rate 0 and compatibility -1 before any). */
    uint32_t frame_rate_calls;
    float frame_rate;
    int32_t frame_rate_compatibility;
} OrvStandinWindowStats;

/* Called on the posting thread with the window's lock held, once per posted
 * buffer. It must not call back into this window. */
typedef void (*OrvStandinPostHook)(void *context, const OrvStandinBuffer *buffer);

/* A window of the given size and format (1, 2, 3, 4 or YV12) holding one reference
 * for the caller; null for a bad size or format. */
ORV_STANDIN_API ANativeWindow *orv_standin_window_create(int32_t width, int32_t height, int32_t format);
/* Fixed stride in pixels for the buffers allocated from now on; 0 (the default)
 * pads each row to a multiple of 32 pixels with at least 16 spare. A stride
 * below the buffer width falls back to the default. */
ORV_STANDIN_API void orv_standin_window_set_stride(ANativeWindow *window, int32_t stride);
/* The next count locks (or posts) fail with error (a negative errno value).
 * A failed post still unlocks the buffer. */
ORV_STANDIN_API void orv_standin_window_fail_lock(ANativeWindow *window, int32_t count, int32_t error);
ORV_STANDIN_API void orv_standin_window_fail_post(ANativeWindow *window, int32_t count, int32_t error);
/* The next count setBuffersGeometry calls refuse the request with error (a
 * negative errno value); the buffers keep their size. */
ORV_STANDIN_API void orv_standin_window_fail_geometry(ANativeWindow *window, int32_t count, int32_t error);
/* From now on a setBuffersGeometry call asking for format fails with
 * -EINVAL (mode 0), or succeeds while the buffers keep their former format
 * (mode 1), as some devices do with formats they do not support. */
ORV_STANDIN_API void orv_standin_window_refuse_format(ANativeWindow *window, int32_t format, int mode);
/* setBuffersDataSpace calls fail with error (a negative errno value) from now
 * on; 0 makes them succeed again. */
ORV_STANDIN_API void orv_standin_window_fail_data_space(ANativeWindow *window, int32_t error);
/* setBuffersTransform calls fail with error (a negative errno value) from
 * now on; 0 makes them succeed again. A value outside 0-7 always fails with
 * -EINVAL. */
ORV_STANDIN_API void orv_standin_window_fail_transform(ANativeWindow *window, int32_t error);
/* Padding and guard checks at every post (on by default; they read the row
 * padding of each posted buffer). */
ORV_STANDIN_API void orv_standin_window_set_checks(ANativeWindow *window, int on);
ORV_STANDIN_API void orv_standin_window_set_post_hook(ANativeWindow *window, OrvStandinPostHook hook,
                                                      void *context);
ORV_STANDIN_API void orv_standin_window_stats(ANativeWindow *window, OrvStandinWindowStats *out);
/* The last posted buffer; 0 when one was posted, -1 otherwise. */
ORV_STANDIN_API int orv_standin_window_last_posted(ANativeWindow *window, OrvStandinBuffer *out);
/* One pixel as the compositor shows the buffer, 0xAARRGGBB (alpha 0xFF for
 * formats without one); x, y count in the shown size. The buffer's transform
 * applies as a device applies it: flips first, then a clockwise quarter
 * turn. A YV12 pixel is composed as a compositor would: the matrix and range
 * of the buffer's data space (BT.601 limited range where it says none),
 * rounded to nearest. */
ORV_STANDIN_API uint32_t orv_standin_buffer_argb(const OrvStandinBuffer *buffer, int32_t x, int32_t y);

/* A Java Surface of the window; holds a window reference until destroyed. */
ORV_STANDIN_API jobject orv_standin_surface_create(ANativeWindow *window);
ORV_STANDIN_API void orv_standin_surface_destroy(jobject surface);
/* An invalid Surface gives no window (as one whose window was abandoned). */
ORV_STANDIN_API void orv_standin_surface_set_valid(jobject surface, int valid);

typedef struct OrvStandinGlobalStats {
    uint32_t from_surface_calls;
    /* fromSurface calls that returned null. */
    uint32_t from_surface_failures;
    /* fromSurface called with an env that is not the calling thread's. */
    uint32_t from_surface_bad_env;
    int32_t live_windows;
    int32_t live_surfaces;
} OrvStandinGlobalStats;

ORV_STANDIN_API void orv_standin_global_stats(OrvStandinGlobalStats *out);

/* A Java VM invocation interface. A thread is attached to at most one VM. */
ORV_STANDIN_API JavaVM *orv_standin_vm_create(void);
ORV_STANDIN_API void orv_standin_vm_destroy(JavaVM *vm);

typedef struct OrvStandinVmStats {
    uint32_t get_env_calls;
    uint32_t attach_calls;
    uint32_t detach_calls;
    /* Attach calls that attached a thread, detach calls that detached one. */
    uint32_t attached;
    uint32_t detached;
    /* Detach calls on a thread that was not attached. */
    uint32_t detach_unattached;
    /* GetEnv calls asking for an unknown version. */
    uint32_t bad_version;
    int32_t threads_attached;
} OrvStandinVmStats;

ORV_STANDIN_API void orv_standin_vm_stats(JavaVM *vm, OrvStandinVmStats *out);
/* The next count attach calls fail: mode 0 returns JNI_ERR, mode 1 returns
 * JNI_OK without an env. */
ORV_STANDIN_API void orv_standin_vm_fail_attach(JavaVM *vm, int32_t count, int mode);
/* Whether the calling thread is attached to vm. */
ORV_STANDIN_API int orv_standin_vm_thread_attached(JavaVM *vm);

#ifdef __cplusplus
}
#endif

#endif
