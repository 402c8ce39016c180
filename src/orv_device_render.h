/* The component objects of the render path below the RenderModule: the
 * NotifyLink through which the overlay reaches the host, the DeviceRender
 * forwarding layer and the AndroidOverlay. Private to the render module and
 * its tests.
 *
 * Every object is one zero-filled tracked block laid out as an interface
 * record: word 0 holds the object's own address, the operation slots follow
 * (destroy last), and the pointer handed out is the address of the first
 * slot. Each operation takes that pointer first and finds its object in the
 * word before it. The records below fix the field order; sizes are those of
 * the 32-bit target, pointers widen on 64-bit hosts. */
#ifndef ORV_DEVICE_RENDER_H
#define ORV_DEVICE_RENDER_H

#include <android/native_window.h>
#include <jni.h>

#include "device_render.h"
#include "orv/orv_mutex.h"
#include "orv_device_blit.h"
#include "orv_device_keep.h"
#include "orv_device_record.h"
#include "orv_device_stats.h"

ORV_EXTERN_C_BEGIN

typedef struct NotifyLink NotifyLink;
struct NotifyLink {
    ResultCode (*notify)(NotifyLink *self, int a, int b, int c);
};

typedef struct AndroidOverlay AndroidOverlay;
struct AndroidOverlay {
    /* Keeps target; extra is accepted and not used. No lock. */
    ResultCode (*set_notify)(AndroidOverlay *self, NotifyLink *target, const void *extra);
    /* 0 with a surface, else 3 (and the host hears once per detach). */
    ResultCode (*check_surface)(AndroidOverlay *self);
    /* 0, 3 (present the same frame again later) or a failure. */
    ResultCode (*present)(AndroidOverlay *self, const YuvFrame *frame);
    /* Attaches with both arguments, detaches otherwise. */
    ResultCode (*set_surface)(AndroidOverlay *self, JavaVM *vm, jobject surface);
    ResultCode (*destroy)(AndroidOverlay *self);
};

typedef struct AndroidOverlayRecord {
    void *self;
    AndroidOverlay ops;
    NotifyLink *notify_target;
    OrvMutex *mutex;
    int32_t has_surface;
    ANativeWindow *window;
    ANativeWindow_Buffer locked;
    int32_t buffer_ready;
    int32_t no_surface_notified;
    DeviceBlitOps *blitter;
    int32_t geometry_pending;
    /* The window format a host asks for (DEVICE_WINDOW_*) and a count of its
     * requests, written by any thread (atomically, format first); present
     * reads them once per frame. */
    int32_t format_request;
    uint32_t format_requests;
    /* Render thread only, under the mutex: the request count acted on, the
     * format followed, the window's own format (read at attach), the format
     * the last geometry call set (0: none since attach), whether YV12 fell
     * back since the last request, the data space set on the window (-1: not
     * set since attach), and the fallback reasons already logged. */
    uint32_t format_requests_seen;
    int32_t format_wanted;
    int32_t own_format;
    int32_t format_target;
    int32_t yv12_refused;
    int32_t data_space;
    uint32_t fallbacks_logged;
    /* Past the fixed layout: the player settings, what they keep, and the
     * statistics. The host writes the two settings words (atomically); the
     * render thread reads them once per pass, under the mutex. */
    int32_t redraw_wanted;
    int32_t redraw_pending; /* a new window came and nothing was posted on it yet */
    DeviceKeptFrame kept;
    uint32_t rate_wanted;   /* frame rate hint, the float's bits */
    uint32_t rate_given;    /* the bits the current window was given */
    int32_t rate_given_set; /* 1 once the current window has rate_given */
    int32_t rate_missing_told;
    int32_t posted_format; /* atomic word: format of the last buffer posted, 0 before */
    DeviceStatsCounters stats;
    /* Render thread only: the transform the frame being presented is drawn
     * with (read once per frame), and whether the last geometry call swapped
     * width and height for a quarter turn. */
    int32_t frame_transform;
    int32_t geometry_turned;
    /* Render thread only, per window: the transform set on it (0 at attach),
     * whether it cannot turn buffers (ANativeWindow_setBuffersTransform
     * missing or failing), and so whether this frame's YV12 planes are
     * turned in the copy. */
    int32_t window_transform;
    int32_t window_cannot_turn;
    int32_t yv12_copy_turns;
} AndroidOverlayRecord;

AndroidOverlay *orv_device_android_overlay_create(void);

/* The window format of the next frames (DEVICE_WINDOW_*), from any thread;
 * ORV_ERR_INVALID_PARAM (logged) for another value. */
ResultCode orv_device_overlay_set_window_format(AndroidOverlay *overlay, int32_t format);
/* Tests: 1 makes the overlay behave as on a device without
 * ANativeWindow_setBuffersDataSpace (below API 28); 0 looks it up again. */
void orv_device_overlay_hide_data_space(int hide);
/* Tests: 1 makes the overlay behave as on a device without
 * ANativeWindow_setBuffersTransform (below API 26); 0 looks it up again. */
void orv_device_overlay_hide_transform(int hide);
/* Render thread, on a pass where the host had no frame due: on a window
 * attached since the last post, converts and posts the kept copy, once.
 * ORV_OK when it posted, ORV_WOUNLD_BLOCK when there was nothing to post (or
 * the window asked for a new size: tried again on the next pass), else the
 * failure (logged; not tried again on that window). */
ResultCode orv_device_overlay_redraw(AndroidOverlay *overlay);
/* The window format of the last buffer posted; 0 before the first. Any thread. */
int32_t orv_device_overlay_window_format(AndroidOverlay *overlay);

/* ANativeWindow_setFrameRate (API 30), looked up once at run time in the
 * library that provides the window calls; null where there is none. */
typedef int32_t (*OrvSetFrameRate)(ANativeWindow *window, float frame_rate, int8_t compatibility);
OrvSetFrameRate orv_device_set_frame_rate_call(void);
/* Test control: 1 makes the call look missing (a device below API 30), 0
 * brings back what the lookup found. */
void orv_device_hide_set_frame_rate(int hide);
/* ANativeWindow_FrameRateCompatibility: the content has a fixed rate. */
#define ORV_FRAME_RATE_FIXED_SOURCE 1

typedef struct DeviceRender DeviceRender;
struct DeviceRender {
    ResultCode (*set_notify)(DeviceRender *self, NotifyLink *target, const HostCallbacks *extra);
    ResultCode (*check_surface)(DeviceRender *self);
    ResultCode (*present)(DeviceRender *self, const YuvFrame *frame);
    ResultCode (*set_surface)(DeviceRender *self, JavaVM *vm, jobject surface);
    ResultCode (*destroy)(DeviceRender *self);
};

typedef struct DeviceRenderRecord {
    void *self;
    DeviceRender ops;
    AndroidOverlay *overlay;
} DeviceRenderRecord;

/* Flag 0: over an AndroidOverlay; any other flag fails (null). */
DeviceRender *orv_device_render_create(int flag);

/* The DeviceRender a module owns; null for a null module. */
DeviceRender *orv_device_module_render(RenderModule *module);
/* The overlay at the end of a render's (or a module's) chain; null for none.
 * The chain is built at creation and stays until destroy. */
AndroidOverlayRecord *orv_device_render_overlay(DeviceRender *render);
AndroidOverlayRecord *orv_device_module_overlay(RenderModule *module);
/* What an exported module call answers for a null module: a log line naming
 * the call, and ORV_ERR_INVALID_PARAM. */
ResultCode orv_device_no_module(const char *who);

/* Largest frame side the render path accepts; larger ones are refused. */
#define ORV_DEVICE_MAX_SIDE 16384

/* The check a frame passes where it enters the render path (the DeviceRender's
 * present): ORV_OK, ORV_FAIL for a missing frame or plane, or
 * ORV_ERR_INVALID_PARAM (logged) for a size or stride the blitter could not
 * walk. Sizes and strides are compared in 64 bits: a host may send anything. */
ResultCode orv_device_frame_check(const YuvFrame *frame);

ORV_EXTERN_C_END

#endif
