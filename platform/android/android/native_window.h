/* The NDK native window API, for builds off Android. The declarations match the
 * NDK's; the software window behind them is in orv_standin_window.cpp. */
#ifndef ANDROID_NATIVE_WINDOW_H
#define ANDROID_NATIVE_WINDOW_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum ANativeWindow_LegacyFormat {
    WINDOW_FORMAT_RGBA_8888 = 1,
    WINDOW_FORMAT_RGBX_8888 = 2,
    WINDOW_FORMAT_RGB_565 = 4,
};

/* Applied as the buffers are shown: flips first, then the clockwise turn. */
enum ANativeWindowTransform {
    ANATIVEWINDOW_TRANSFORM_IDENTITY = 0x00,
    ANATIVEWINDOW_TRANSFORM_MIRROR_HORIZONTAL = 0x01,
    ANATIVEWINDOW_TRANSFORM_MIRROR_VERTICAL = 0x02,
    ANATIVEWINDOW_TRANSFORM_ROTATE_90 = 0x04,
    ANATIVEWINDOW_TRANSFORM_ROTATE_180 =
        ANATIVEWINDOW_TRANSFORM_MIRROR_HORIZONTAL | ANATIVEWINDOW_TRANSFORM_MIRROR_VERTICAL,
    ANATIVEWINDOW_TRANSFORM_ROTATE_270 =
        ANATIVEWINDOW_TRANSFORM_ROTATE_180 | ANATIVEWINDOW_TRANSFORM_ROTATE_90,
};

#ifndef ANDROID_RECT_H
#define ANDROID_RECT_H
typedef struct ARect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} ARect;
#endif

struct ANativeWindow;
typedef struct ANativeWindow ANativeWindow;

typedef struct ANativeWindow_Buffer {
    int32_t width;
    int32_t height;
    /* Pixels from one row to the next; at least width. */
    int32_t stride;
    int32_t format;
    void *bits;
    uint32_t reserved[6];
} ANativeWindow_Buffer;

void ANativeWindow_acquire(ANativeWindow *window);
void ANativeWindow_release(ANativeWindow *window);
int32_t ANativeWindow_getWidth(ANativeWindow *window);
int32_t ANativeWindow_getHeight(ANativeWindow *window);
int32_t ANativeWindow_getFormat(ANativeWindow *window);
/* Takes effect at the next lock. 0 x 0 restores the window's own size,
 * format 0 its own format. */
int32_t ANativeWindow_setBuffersGeometry(ANativeWindow *window, int32_t width, int32_t height,
                                         int32_t format);
int32_t ANativeWindow_lock(ANativeWindow *window, ANativeWindow_Buffer *out_buffer,
                           ARect *in_out_dirty_bounds);
int32_t ANativeWindow_unlockAndPost(ANativeWindow *window);
/* API 26: rotation and mirroring flags of the buffers queued from now on. */
int32_t ANativeWindow_setBuffersTransform(ANativeWindow *window, int32_t transform);
/* API 28: how the compositor reads the colour of the buffers queued from now
 * on (an ADataSpace of <android/data_space.h>). A library that runs on older
 * devices looks it up at run time instead of linking it. */
int32_t ANativeWindow_setBuffersDataSpace(ANativeWindow *window, int32_t data_space);

enum ANativeWindow_FrameRateCompatibility {
    ANATIVEWINDOW_FRAME_RATE_COMPATIBILITY_DEFAULT = 0,
    ANATIVEWINDOW_FRAME_RATE_COMPATIBILITY_FIXED_SOURCE = 1,
};
/* API 30: the rate of the content drawn into the window; 0 clears it. A
 * negative, infinite or NaN rate, or an unknown compatibility, gives -EINVAL. */
int32_t ANativeWindow_setFrameRate(ANativeWindow *window, float frameRate, int8_t compatibility);

#ifdef __cplusplus
}
#endif

#endif
