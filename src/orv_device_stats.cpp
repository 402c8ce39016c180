// Render statistics (see orv_device_stats.h): the read that subtracts the
// baseline of the last reset, the reset, and their exports.
#include "orv_device_stats.h"

#include "orv/orv_log.h"
#include "orv_device_render.h"

namespace {

using orv_device::stat_load;

uint32_t mean_us(uint64_t total, uint64_t frames)
{
    if (frames == 0)
        return 0;
    const uint64_t mean = total / frames;
    return mean > UINT32_MAX ? UINT32_MAX : uint32_t(mean);
}

} // namespace

void orv_device_stats_read(const DeviceStatsCounters *s, DeviceRenderStats *out)
{
    uint64_t n[ORV_STAT_COUNT];
    for (int i = 0; i < ORV_STAT_COUNT; ++i) {
        // Baseline first: the count it was copied from can only have grown.
        const uint64_t base = __atomic_load_n(&s->base[i], __ATOMIC_ACQUIRE);
        const uint64_t now = stat_load(s->count[i]);
        n[i] = now > base ? now - base : 0;
    }
    *out = DeviceRenderStats{};
    out->frames_presented = n[ORV_STAT_PRESENTED];
    out->frames_retried = n[ORV_STAT_RETRIED];
    out->frames_redrawn = n[ORV_STAT_REDRAWN];
    out->no_surface_waits = n[ORV_STAT_NO_SURFACE];
    out->no_frame_waits = n[ORV_STAT_NO_FRAME];
    out->blit_us_last = stat_load(s->blit_us_last);
    out->blit_us_mean = mean_us(n[ORV_STAT_BLIT_US], n[ORV_STAT_BLITS]);
    const bool max_current = __atomic_load_n(&s->max_epoch, __ATOMIC_ACQUIRE) ==
                             __atomic_load_n(&s->reset_epoch, __ATOMIC_ACQUIRE);
    out->blit_us_max = max_current ? stat_load(s->blit_us_max) : 0;
    out->post_us_mean = mean_us(n[ORV_STAT_POST_US], n[ORV_STAT_POSTS]);
    out->width = stat_load(s->width);
    out->height = stat_load(s->height);
}

void orv_device_stats_reset(DeviceStatsCounters *s)
{
    __atomic_fetch_add(&s->reset_epoch, 1u, __ATOMIC_ACQ_REL);
    for (int i = 0; i < ORV_STAT_COUNT; ++i)
        __atomic_store_n(&s->base[i], stat_load(s->count[i]), __ATOMIC_RELEASE);
}

extern "C" ORV_API ResultCode DeviceRendModuleGetStats(RenderModule *module, DeviceRenderStats *out)
{
    AndroidOverlayRecord *overlay = orv_device_module_overlay(module);
    if (overlay == nullptr)
        return orv_device_no_module("DeviceRendModuleGetStats");
    if (out == nullptr) {
        orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_ERR_INVALID_PARAM,
                "VRE: VR: DeviceRendModuleGetStats without a record to fill");
        return ORV_ERR_INVALID_PARAM;
    }
    orv_device_stats_read(&overlay->stats, out);
    out->window_format = orv_device_overlay_window_format(&overlay->ops);
    return ORV_OK;
}

extern "C" ORV_API ResultCode DeviceRendModuleResetStats(RenderModule *module)
{
    AndroidOverlayRecord *overlay = orv_device_module_overlay(module);
    if (overlay == nullptr)
        return orv_device_no_module("DeviceRendModuleResetStats");
    orv_device_stats_reset(&overlay->stats);
    return ORV_OK;
}
