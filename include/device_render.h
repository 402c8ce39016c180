/* The render library's exported API: library entry, the render module that a
 * host creates per video output, the frame record and the host's callbacks,
 * and the row conversion kernels. */
#ifndef DEVICE_RENDER_H
#define DEVICE_RENDER_H

#include "orv/orv_api.h"
#include "orv/orv_error.h"

#include <jni.h>

ORV_EXTERN_C_BEGIN

/* One planar YUV 4:2:0 frame; Cb and Cr have half the width and height
 * (rounded up). The host fills it; the render path only reads it. */
typedef struct YuvFrame {
    const uint8_t *y;
    const uint8_t *u;
    const uint8_t *v;
    int32_t y_stride;
    int32_t u_stride;
    int32_t v_stride;
    int32_t width;
    int32_t height;
} YuvFrame;

/* Supplied by the host and kept alive for the module's life. Every entry gets
 * the host's context pointer first and runs on the render thread. */
typedef struct HostCallbacks {
    ResultCode (*on_event)(void *context, int a, int b, int c);
    ResultCode (*on_started)(void *context);
    ResultCode (*on_error)(void *context, ResultCode code, int reserved);
    /* 0: frame filled; 3 (ORV_WOUNLD_BLOCK): none due; negative: failure.
     * Set *release non-zero to get the frame back through release_frame. */
    ResultCode (*get_frame)(void *context, YuvFrame *frame, int *release);
    ResultCode (*release_frame)(void *context, int one, ResultCode result);
} HostCallbacks;

/* Mode 1 sends the information log and the leak report to the Android log;
 * any other mode drops them. Call before creating any module. Counted and
 * thread-safe: several players in one process each call init and uninit once;
 * the first init starts the runtime and chooses the mode, later ones count. */
ORV_API ResultCode DeviceRenderLibInit(int mode);
/* The last uninit reports and frees tracked memory still alive; earlier ones
 * only count down, and one without a matching init logs a line. Always 0. */
ORV_API ResultCode DeviceRenderLibUninit(void);

/* The render module of one video output, as CreateDeviceRendModule hands it
 * out: a table of operations, each taking the table's address first. Call
 * set_host, then set_surface (again later, or with nulls to detach), start;
 * then stop and destroy. The callbacks run on the module's render thread and
 * must not call stop or destroy of the same module. */
typedef struct RenderModule RenderModule;
struct RenderModule {
    /* Both non-null, before start; ORV_FAIL otherwise. */
    ResultCode (*set_host)(RenderModule *self, void *context, const HostCallbacks *callbacks);
    /* Starts the render thread; returns once it runs. */
    ResultCode (*start)(RenderModule *self);
    /* A Java Surface and its VM to draw on; null for either detaches. */
    ResultCode (*set_surface)(RenderModule *self, JavaVM *vm, jobject surface);
    /* Stops and joins the render thread; 0. */
    ResultCode (*stop)(RenderModule *self);
    /* Releases the module, its window and everything it built; 0. */
    ResultCode (*destroy)(RenderModule *self);
};

/* Flag 0 builds a module that draws on an Android window; anything else, or
 * a failure, gives null. */
ORV_API RenderModule *CreateDeviceRendModule(int flag);

/* Colour handling of a module's conversions. The defaults (BT.601, limited
 * range, planar chroma) give the same bytes as before these settings existed.
 * Both calls may come from any host thread at any time, also while the module
 * renders: a change takes effect with the next frame converted, and no frame
 * mixes two settings. Any other value, or a null module, returns
 * ORV_ERR_INVALID_PARAM and changes nothing. */
enum { DEVICE_MATRIX_BT601 = 0, DEVICE_MATRIX_BT709 = 1, DEVICE_MATRIX_BT2020 = 2 };
enum { DEVICE_RANGE_LIMITED = 0, DEVICE_RANGE_FULL = 1 };
/* Colour handling of one module's conversions; from the next frame converted. */
ORV_API ResultCode DeviceRendModuleSetColor(RenderModule *module, int matrix, int range);
/* Chroma samples of a row are `step` bytes apart: 1 planar (the default), 2 semi-planar.
   u and v point at the first U and V sample, u_stride and v_stride are their row strides:
   NV12 has v = u + 1, NV21 has u = v + 1. A step-2 frame whose u and v are not one byte
   apart is refused (ORV_ERR_INVALID_PARAM from the render thread's present). */
ORV_API ResultCode DeviceRendModuleSetChromaStep(RenderModule *module, int step);

/* Turn and mirror of the picture drawn, Android's ANATIVEWINDOW_TRANSFORM_*
 * values: flips first, then the clockwise quarter turn. 5 and 6 (a quarter
 * turn with a flip) are valid too. Any thread, any time: it applies from the
 * next frame, never within one. RGB windows get the picture turned during the
 * conversion, byte for byte the untransformed output turned (the RGB565
 * error carry runs down the source's columns as without a transform); with a
 * quarter turn the window's geometry is frame height x frame width. Any other
 * value, or a null module: ORV_ERR_INVALID_PARAM, logged, nothing changed. */
#define DEVICE_TRANSFORM_NONE       0
#define DEVICE_TRANSFORM_MIRROR_H   1 /* left-right */
#define DEVICE_TRANSFORM_MIRROR_V   2 /* top-bottom */
#define DEVICE_TRANSFORM_ROTATE_90  4 /* clockwise */
#define DEVICE_TRANSFORM_ROTATE_180 3
#define DEVICE_TRANSFORM_ROTATE_270 7
ORV_API ResultCode DeviceRendModuleSetTransform(RenderModule *module, int32_t transform);
/* Sample size of the frames a module is handed. 10-bit samples sit in 16-bit
 * little-endian words; YuvFrame widths then count samples and strides stay in
 * bytes, and every stride must cover its row in words (a frame whose stride
 * covers the row in bytes only is refused with ORV_ERR_INVALID_PARAM, nothing
 * drawn). The chroma step counts samples: P010 is step 2 with v = u + 2 bytes
 * (NV21-ordered words: u = v + 2). Bits outside the 10 are ignored. Every
 * matrix and range applies with the 10-bit offsets and ranges; RGBA channels
 * are rounded to nearest, and the RGB565 carry keeps the precision the extra
 * bits bring. Any thread, any time; applies at a frame boundary. Another value
 * or a null module: ORV_ERR_INVALID_PARAM, nothing changed. */
#define DEVICE_SAMPLES_8       0 /* one byte per sample: the default, today's behaviour */
#define DEVICE_SAMPLES_10_LOW  1 /* 16-bit little-endian words, value in bits 0-9 (I010, yuv420p10le) */
#define DEVICE_SAMPLES_10_HIGH 2 /* 16-bit little-endian words, value in bits 6-15 (P010) */
ORV_API ResultCode DeviceRendModuleSetSampleFormat(RenderModule *module, int32_t samples);

/* Pixel format of the module's window buffers. AUTO (the default) keeps the
 * window's own format. YV12 hands the compositor the frame's planes as they
 * are (a copy of 1.5 bytes per pixel, no conversion); where the window
 * refuses or ignores it, the frame size is odd, or the colour settings need a
 * buffer data space the device cannot set (before Android 9, anything but
 * BT.601 limited range), the module logs it once and converts into RGBX
 * instead until YV12 is asked for again. */
#define DEVICE_WINDOW_AUTO   0          /* the window's own format */
#define DEVICE_WINDOW_RGBA   1          /* WINDOW_FORMAT_RGBA_8888 */
#define DEVICE_WINDOW_RGBX   2          /* WINDOW_FORMAT_RGBX_8888 */
#define DEVICE_WINDOW_RGB565 4          /* WINDOW_FORMAT_RGB_565, with the error carry */
#define DEVICE_WINDOW_YV12   0x32315659 /* HAL_PIXEL_FORMAT_YV12: planes copied, the compositor converts */
/* Any thread, any time; applies from the next frame, at a frame boundary.
 * Another value, or a null module: ORV_ERR_INVALID_PARAM, nothing changed. */
ORV_API ResultCode DeviceRendModuleSetWindowFormat(RenderModule *module, int32_t format);
/* The format of the last buffer the module drew and posted (0 before the
 * first), so a host sees a fallback. */
ORV_API int32_t DeviceRendModuleGetWindowFormat(RenderModule *module);
/* What a player needs around the frames. Each call takes effect at the next
 * frame boundary of the render thread (between two passes), may come from any
 * host thread at any time, and answers ORV_ERR_INVALID_PARAM (logged, nothing
 * changed) for a null module or a bad value. */

/* on 1: keep a copy of the source planes of the last frame presented, and when
 * a new window is attached while no new frame is due, convert and post that
 * copy once, so a surface that comes back (an app returning from the
 * background while paused) is not left black. The copy is one tracked block
 * reused across frames: 1.5 bytes per pixel for 8-bit 4:2:0 (a 1920x1080
 * frame keeps 3 MiB). on 0 (the default) makes no copy and releases a kept
 * one. An RGB565 redraw starts from the error carry its frame started from,
 * so it posts the same bytes (the carry's copy adds 8 bytes per column). */
ORV_API ResultCode DeviceRendModuleSetRedrawOnAttach(RenderModule *module, int32_t on);

/* The content's frame rate, passed to the window as a "fixed source" rate
 * (ANativeWindow_setFrameRate, API 30), so a display that can switch to the
 * rate does; re-applied to every new window. 0 clears the hint. Below API 30
 * nothing happens (one information line). Negative, NaN or above 1000:
 * ORV_ERR_INVALID_PARAM. */
ORV_API ResultCode DeviceRendModuleSetFrameRate(RenderModule *module, float fps);

/* Render statistics of one module. The render thread updates each field on
 * its own, without a lock: a reader may see a mix of two consecutive updates
 * of different fields, never a torn field. Counts and means cover the frames
 * since the last reset; the last-frame fields describe the last frame. */
typedef struct DeviceRenderStats {
    uint64_t frames_presented; /* posted with the frame drawn */
    uint64_t frames_retried;   /* present answered 3 and the frame was tried again */
    uint64_t frames_redrawn;   /* posts of the kept copy (DeviceRendModuleSetRedrawOnAttach) */
    uint64_t no_surface_waits; /* passes that found no window */
    uint64_t no_frame_waits;   /* passes where the host had no frame due */
    uint32_t blit_us_last, blit_us_mean, blit_us_max; /* conversion or copy time per frame */
    uint32_t post_us_mean;                            /* lock + post time per frame */
    int32_t window_format;                            /* of the last buffer posted; 0 before the first */
    int32_t width, height;                            /* of the last frame presented */
} DeviceRenderStats;
/* Any thread, also while the module renders. */
ORV_API ResultCode DeviceRendModuleGetStats(RenderModule *module, DeviceRenderStats *out);
/* Starts the counts, means and maximum again from zero. */
ORV_API ResultCode DeviceRendModuleResetStats(RenderModule *module);

/* 32-byte constant block that drives the kernels' 16-bit arithmetic. Each
 * weight w acts as w / 4096; the offsets are pre-multiplied by 128. */
typedef struct YuvCoefficients {
    uint16_t luma_offset;   /* 16 << 7 */
    uint16_t chroma_offset; /* 128 << 7 */
    int16_t luma_gain;      /* 4767 */
    int16_t cr_green;       /* 3330 */
    int16_t cb_green;       /* 1601 */
    int16_t cr_red;         /* 6537 */
    int16_t cb_blue;        /* 8265 */
    uint8_t unused14[4];
    uint8_t red_bias;
    uint8_t unused19;
    uint8_t green_bias;
    uint8_t unused21;
    uint8_t blue_bias;
    uint8_t unused23[9];
} YuvCoefficients;

/* Row kernels: convert count / 16 whole groups of 16 pixels (a remainder is
 * ignored). u and v supply one sample per two pixels. errors is read only by
 * the filter kernel: 48 bytes per group (16 red, 16 green, 16 blue carries). */
ORV_API void device_yuv_rgb32_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                   uint8_t *errors, const YuvCoefficients *coefficients, int count);
ORV_API void device_yuv_rgb16_565_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                       uint8_t *errors, const YuvCoefficients *coefficients, int count);
ORV_API void device_filter_yuv_rgb565_neon(uint8_t *dst, const uint8_t *y, const uint8_t *u, const uint8_t *v,
                                           uint8_t *errors, const YuvCoefficients *coefficients, int count);

/* Copy the vector register file to and from 256 bytes, in register order:
 * - ARMv7: D0-D31.
 * - AArch64 (arm64-v8a): D0-D31, the low 64 bits of V0-V31, 8 bytes each, so
 *   the block has the ARMv7 layout. The upper halves are not stored, and
 *   vload clears them (writing a D register zeroes the rest of its V).
 * - x86-64: XMM0-XMM15, 16 bytes each.
 * Elsewhere (32-bit x86) vstore writes zeros and vload does nothing. vload
 * also replaces registers the calling convention keeps across calls (D8-D15
 * on ARMv7, the low halves of V8-V15 on AArch64): load only a block that a
 * vstore in the same context filled. */
ORV_API void device_vstore(void *block);
ORV_API void device_vload(const void *block);

ORV_EXTERN_C_END

#endif
