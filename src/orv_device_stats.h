/* Render statistics of one module (DeviceRenderStats), kept by its overlay.
 * Only the render thread writes the counters, each through a relaxed atomic
 * load and store of its own (no read-modify-write, no lock); any thread reads
 * them. A reset never writes a counter: it copies them as a baseline that
 * readers subtract, and moves an epoch on so the render thread starts the
 * maximum again. Private to the render module and its tests. */
#ifndef ORV_DEVICE_STATS_H
#define ORV_DEVICE_STATS_H

#include <stdint.h>

#include "device_render.h"

ORV_EXTERN_C_BEGIN

enum {
    ORV_STAT_PRESENTED,
    ORV_STAT_RETRIED,
    ORV_STAT_REDRAWN,
    ORV_STAT_NO_SURFACE,
    ORV_STAT_NO_FRAME,
    ORV_STAT_BLITS,
    ORV_STAT_BLIT_US,
    ORV_STAT_POSTS,
    ORV_STAT_POST_US,
    ORV_STAT_COUNT
};

typedef struct DeviceStatsCounters {
    uint64_t count[ORV_STAT_COUNT];
    uint64_t base[ORV_STAT_COUNT]; /* count at the last reset */
    uint32_t blit_us_last;
    uint32_t blit_us_max;
    uint32_t max_epoch;   /* reset_epoch when blit_us_max was last written */
    uint32_t reset_epoch; /* moved on by each reset */
    int32_t width, height;
} DeviceStatsCounters;

/* What a module's stats read as now; window_format comes from the caller. */
void orv_device_stats_read(const DeviceStatsCounters *stats, DeviceRenderStats *out);
void orv_device_stats_reset(DeviceStatsCounters *stats);

ORV_EXTERN_C_END

#ifdef __cplusplus

namespace orv_device {

template <class T>
inline T stat_load(const T &word)
{
    return __atomic_load_n(&word, __ATOMIC_RELAXED);
}
template <class T>
inline void stat_store(T &word, T value)
{
    __atomic_store_n(&word, value, __ATOMIC_RELAXED);
}

// Render thread only: the one writer, so load and store need no exchange.
inline void stat_add(DeviceStatsCounters *s, int which, uint64_t n = 1)
{
    stat_store(s->count[which], stat_load(s->count[which]) + n);
}

inline void stat_blit(DeviceStatsCounters *s, uint32_t us)
{
    stat_add(s, ORV_STAT_BLITS);
    stat_add(s, ORV_STAT_BLIT_US, us);
    stat_store(s->blit_us_last, us);
    const uint32_t epoch = __atomic_load_n(&s->reset_epoch, __ATOMIC_ACQUIRE);
    if (stat_load(s->max_epoch) != epoch || us > stat_load(s->blit_us_max)) {
        stat_store(s->blit_us_max, us);
        __atomic_store_n(&s->max_epoch, epoch, __ATOMIC_RELEASE);
    }
}

inline void stat_post(DeviceStatsCounters *s, uint32_t us)
{
    stat_add(s, ORV_STAT_POSTS);
    stat_add(s, ORV_STAT_POST_US, us);
}

inline void stat_frame_size(DeviceStatsCounters *s, int32_t width, int32_t height)
{
    stat_store(s->width, width);
    stat_store(s->height, height);
}

} // namespace orv_device

#endif

#endif
