/* The kept copy of a frame's source planes, from which a new window is
 * redrawn while no new frame is due. One tracked block, reused for every
 * frame that fits it; any output path converts the copy as it would the
 * host's frame. Owned by the overlay and used under its mutex. Private to the
 * render module and its tests. */
#ifndef ORV_DEVICE_KEEP_H
#define ORV_DEVICE_KEEP_H

#include <stdint.h>

#include "device_render.h"

ORV_EXTERN_C_BEGIN

typedef struct DeviceKeptFrame {
    uint8_t *block;
    uint32_t capacity;
    int32_t valid;        /* frame describes a complete copy */
    int32_t step;         /* chroma step the copy is laid out for (1 or 2) */
    int32_t samples;      /* DEVICE_SAMPLES_* of the copy */
    int32_t failure_told; /* an allocation failure was logged; cleared by the next copy */
    YuvFrame frame;       /* planes inside block, rows packed */
    /* The RGB565 carry the kept frame was converted from, when it was. */
    uint8_t *carry;
    uint32_t carry_capacity;
    uint32_t carry_bytes; /* 0: none to put back */
    int32_t carry_width;
} DeviceKeptFrame;

/* Bytes a copy of the frame takes (its planes, rows packed), with samples of
 * sample_bytes (1 or 2) bytes. */
uint64_t orv_device_keep_bytes(const YuvFrame *frame, int sample_bytes);
/* Copies the planes of a frame that passed orv_device_frame_check, laid out
 * for chroma step 1 (three planes) or 2 (u and v one sample apart in a plane
 * of pairs), with samples as DEVICE_SAMPLES_* says (10-bit: 16-bit words). The block is reused while the frame fits, else replaced. ORV_FAIL
 * when no block could be had: the copy is then empty, the first failure of a
 * run logged. */
ResultCode orv_device_keep_frame(DeviceKeptFrame *keep, const YuvFrame *frame, int step, int samples);
/* Takes (before a frame is converted into RGB565) or forgets (bytes 0) the
 * carry that the next kept frame starts from. Without a block for it the
 * redraw dithers on from the carry as it then stands. */
void orv_device_keep_carry(DeviceKeptFrame *keep, const uint8_t *carry, int32_t width, uint32_t bytes);
/* Frees the blocks; the copy is empty. */
void orv_device_keep_release(DeviceKeptFrame *keep);

ORV_EXTERN_C_END

#endif
