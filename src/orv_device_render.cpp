/* The DeviceRender: a thin forwarding layer between the RenderModule and the
 * output it owns (the AndroidOverlay, the only output there is). Frames enter
 * the render path here and are checked once, before the overlay sees them.
 * Owns the overlay; holds no lock of its own (the overlay's mutex serialises
 * the surface work). */
#include <cstddef>
#include <cstdint>

#include "orv/orv_log.h"
#include "orv/orv_mem.h"
#include "orv_device_render.h"

namespace {

constexpr int kAllocLine = 47;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(DeviceRenderRecord, overlay) == 6 * 4);
#else
static_assert(offsetof(DeviceRenderRecord, overlay) == 6 * 8);
#endif

DeviceRenderRecord *record_of(DeviceRender *self)
{
    return orv_device::record_of<DeviceRenderRecord>(self);
}

ResultCode render_set_notify(DeviceRender *self, NotifyLink *target, const HostCallbacks *extra)
{
    DeviceRenderRecord *rec = record_of(self);
    if (rec == nullptr || rec->overlay == nullptr)
        return ORV_FAIL;
    rec->overlay->set_notify(rec->overlay, target, extra);
    return ORV_OK;
}

ResultCode render_check_surface(DeviceRender *self)
{
    DeviceRenderRecord *rec = record_of(self);
    if (rec == nullptr || rec->overlay == nullptr)
        return ORV_FAIL;
    return rec->overlay->check_surface(rec->overlay);
}

ResultCode render_present(DeviceRender *self, const YuvFrame *frame)
{
    DeviceRenderRecord *rec = record_of(self);
    if (const ResultCode r = orv_device_frame_check(frame); r != ORV_OK)
        return r;
    if (rec == nullptr || rec->overlay == nullptr)
        return ORV_FAIL;
    return rec->overlay->present(rec->overlay, frame);
}

ResultCode render_set_surface(DeviceRender *self, JavaVM *vm, jobject surface)
{
    DeviceRenderRecord *rec = record_of(self);
    if (rec == nullptr || rec->overlay == nullptr)
        return ORV_FAIL;
    return rec->overlay->set_surface(rec->overlay, vm, surface);
}

ResultCode destroy_record(DeviceRenderRecord *rec)
{
    if (rec == nullptr)
        return ORV_OK;
    orv_device::destroy_owned(rec->overlay);
    orv_mem_free(rec);
    return ORV_OK;
}

ResultCode render_destroy(DeviceRender *self)
{
    return destroy_record(record_of(self));
}

// Whether a plane of rows rows of width bytes, stride apart, is one the
// blitter can walk: each row holds its width, and the whole plane spans less
// than 2 GiB (no 32-bit target holds more, and the row steps stay in range).
bool plane_walkable(int32_t stride, int64_t width, int64_t rows)
{
    const int64_t step = stride < 0 ? -int64_t{stride} : int64_t{stride};
    return step >= width && step * (rows - 1) + width <= INT32_MAX;
}

} // namespace

// A frame the blitter can walk without reading outside rows of the stated
// size; anything else would also make the window geometry unreachable.
ResultCode orv_device_frame_check(const YuvFrame *f)
{
    if (f == nullptr || f->y == nullptr || f->u == nullptr || f->v == nullptr)
        return ORV_FAIL;
    if (f->width <= 0 || f->height <= 0 || f->width > ORV_DEVICE_MAX_SIDE ||
        f->height > ORV_DEVICE_MAX_SIDE || !plane_walkable(f->y_stride, f->width, f->height) ||
        !plane_walkable(f->u_stride, (f->width + 1) / 2, (f->height + 1) / 2) ||
        !plane_walkable(f->v_stride, (f->width + 1) / 2, (f->height + 1) / 2)) {
        orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_ERR_INVALID_PARAM,
                "VRE: device render: bad frame %dx%d strides %d/%d/%d", f->width, f->height, f->y_stride,
                f->u_stride, f->v_stride);
        return ORV_ERR_INVALID_PARAM;
    }
    return ORV_OK;
}

AndroidOverlayRecord *orv_device_render_overlay(DeviceRender *render)
{
    DeviceRenderRecord *rec = record_of(render);
    return rec != nullptr ? orv_device::record_of<AndroidOverlayRecord>(rec->overlay) : nullptr;
}

AndroidOverlayRecord *orv_device_module_overlay(RenderModule *module)
{
    return orv_device_render_overlay(orv_device_module_render(module));
}

ResultCode orv_device_no_module(const char *who)
{
    orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_ERR_INVALID_PARAM, "VRE: VR: %s without a module", who);
    return ORV_ERR_INVALID_PARAM;
}

DeviceRender *orv_device_render_create(int flag)
{
    auto *rec = orv_device::new_record<DeviceRenderRecord>(ORV_TAG_FILE, kAllocLine,
                                                           "VRE: device render: malloc yuvlist fail");
    if (rec == nullptr)
        return nullptr;
    if (flag == 0)
        rec->overlay = orv_device_android_overlay_create();
    else
        orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_ERR_INVALID_PARAM,
                "VRE: device render: no output for flag %d", flag);
    if (rec->overlay == nullptr) {
        destroy_record(rec);
        return nullptr;
    }
    rec->ops.set_notify = render_set_notify;
    rec->ops.check_surface = render_check_surface;
    rec->ops.present = render_present;
    rec->ops.set_surface = render_set_surface;
    rec->ops.destroy = render_destroy;
    return &rec->ops;
}
