/* The YUV-to-RGB blitter (a DeviceBlit component object); private to the
 * render module and its tests. */
#ifndef ORV_DEVICE_BLIT_H
#define ORV_DEVICE_BLIT_H

#include "device_render.h"

ORV_EXTERN_C_BEGIN

/* The interface of a DeviceBlit: its slots, in order. The object's own
 * address sits in the word just before them. */
typedef struct DeviceBlitOps DeviceBlitOps;
struct DeviceBlitOps {
    /* Sizes the error carry for frame->width (8 bytes per column, whatever the
 * sample format). */
    ResultCode (*update_buffer)(DeviceBlitOps *self, const YuvFrame *frame);
    /* bits_per_pixel 16: RGB565 with error carry; 32: bytes R, G, B, 0xFF;
     * anything else draws nothing. */
    ResultCode (*blit)(DeviceBlitOps *self, const YuvFrame *frame, uint8_t *dst, int dst_stride,
                       int bits_per_pixel);
    ResultCode (*destroy)(DeviceBlitOps *self);
};

/* Null (and a log line) when the allocation fails. */
DeviceBlitOps *orv_device_blit_create(void);

/* Bytes of error carry per column, and where column x's carry lives for a
 * frame of the given width: vector columns (below width rounded down to 16)
 * use 48-byte blocks of 16 red, 16 green, 16 blue bytes; the rest 6-byte
 * slots of three int16 from byte width16 * 8. */
#define ORV_DITHER_BYTES_PER_COLUMN 8

/* Colour settings of the blitter's conversions (DEVICE_MATRIX_*,
 * DEVICE_RANGE_*, chroma step 1 or 2). Any thread may set them at any time:
 * blit reads them once per frame, so a frame never mixes two settings.
 * ORV_ERR_INVALID_PARAM for any other value; nothing changes then. */
ResultCode orv_device_blit_set_colour(DeviceBlitOps *blit, int matrix, int range);
ResultCode orv_device_blit_set_chroma_step(DeviceBlitOps *blit, int step);
/* DEVICE_SAMPLES_*: with 10-bit samples a frame's widths count samples, its
 * strides bytes, and one whose strides do not cover its rows in words is
 * refused (ORV_ERR_INVALID_PARAM, nothing drawn). */
ResultCode orv_device_blit_set_samples(DeviceBlitOps *blit, int samples);

/* The settings as one consistent set, for a path that draws without the
 * blitter (the YV12 copy) and must still follow them per frame; the step is
 * the forced one while there is one (below). */
typedef struct DeviceBlitSettings {
    int matrix;
    int range;
    int step;
    int transform; /* DEVICE_TRANSFORM_* */
    int samples;   /* DEVICE_SAMPLES_* */
} DeviceBlitSettings;
DeviceBlitSettings orv_device_blit_settings(DeviceBlitOps *blit);
/* The turn and flips of the picture drawn (DEVICE_TRANSFORM_*, 0-7), kept in
 * the settings word beside the colour settings: any thread, any time, read
 * once per frame. ORV_ERR_INVALID_PARAM for any other value. */
ResultCode orv_device_blit_set_transform(DeviceBlitOps *blit, int transform);

/* blit with the transform given instead of the setting: a caller that sized
 * the window for a transform draws with that one, whatever the setting has
 * become since. dst holds the turned picture: with a quarter turn (bit
 * DEVICE_TRANSFORM_ROTATE_90) it is frame height pixels wide and frame width
 * rows tall. The error carry runs down the source's columns whatever the
 * transform, so the bytes are the untransformed output's, turned. */
ResultCode orv_device_blit_draw(DeviceBlitOps *blit, const YuvFrame *frame, uint8_t *dst, int dst_stride,
                                int bits_per_pixel, int transform);

/* Render thread only. The chroma step the last blit drew with (1 before
 * any), and a step that the next blits use instead of the setting (0 clears):
 * a kept copy is converted with the layout it was copied in. */
int orv_device_blit_last_step(DeviceBlitOps *blit);
void orv_device_blit_force_step(DeviceBlitOps *blit, int step);
/* The same for the sample format (DEVICE_SAMPLES_8 before any blit); a
 * negative value clears the forced one. */
int orv_device_blit_last_samples(DeviceBlitOps *blit);
void orv_device_blit_force_samples(DeviceBlitOps *blit, int samples);

/* Render thread only. The RGB565 error carry as it stands: *width is the
 * frame width its layout follows (0 before any), *bytes its size; null when
 * there is none. A redraw puts back the carry its frame started from, so it
 * dithers exactly as the first time. */
uint8_t *orv_device_blit_carry(DeviceBlitOps *blit, int32_t *width, uint32_t *bytes);

/* Whether a frame of 10-bit samples has strides that cover its rows in
 * 16-bit words and, semi-planar (step 2), chroma pointers one word apart;
 * 0 (and a log line) when not. Any path that reads such a frame checks it. */
int orv_device_words_fit(const YuvFrame *frame, int step);

ORV_EXTERN_C_END

#endif
