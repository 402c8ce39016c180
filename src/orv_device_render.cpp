/* The DeviceRender: a thin forwarding layer between the RenderModule and the
 * output it owns (the AndroidOverlay, the only output there is). It checks
 * that a frame is complete before the overlay sees it. Owns the overlay; holds
 * no lock of its own (the overlay's mutex serialises the surface work). */
#include <cstddef>

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

DeviceRenderRecord *record_of(DeviceRender *self) {
    return static_cast<DeviceRenderRecord *>(orv_record_of(self));
}

ResultCode render_set_notify(DeviceRender *self, NotifyLink *target, const HostCallbacks *extra) {
    DeviceRenderRecord *rec = record_of(self);
    if (rec == nullptr || rec->overlay == nullptr) return ORV_FAIL;
    rec->overlay->set_notify(rec->overlay, target, extra);
    return ORV_OK;
}

ResultCode render_check_surface(DeviceRender *self) {
    DeviceRenderRecord *rec = record_of(self);
    if (rec == nullptr || rec->overlay == nullptr) return ORV_FAIL;
    return rec->overlay->check_surface(rec->overlay);
}

ResultCode render_present(DeviceRender *self, const YuvFrame *frame) {
    DeviceRenderRecord *rec = record_of(self);
    if (frame == nullptr || frame->y == nullptr || frame->u == nullptr || frame->v == nullptr)
        return ORV_FAIL;
    if (rec == nullptr || rec->overlay == nullptr) return ORV_FAIL;
    return rec->overlay->present(rec->overlay, frame);
}

ResultCode render_set_surface(DeviceRender *self, JavaVM *vm, jobject surface) {
    DeviceRenderRecord *rec = record_of(self);
    if (rec == nullptr || rec->overlay == nullptr) return ORV_FAIL;
    return rec->overlay->set_surface(rec->overlay, vm, surface);
}

ResultCode destroy_record(DeviceRenderRecord *rec) {
    if (rec == nullptr) return ORV_OK;
    if (rec->overlay != nullptr) {
        rec->overlay->destroy(rec->overlay);
        rec->overlay = nullptr;
    }
    orv_mem_free(rec);
    return ORV_OK;
}

ResultCode render_destroy(DeviceRender *self) { return destroy_record(record_of(self)); }

}  // namespace

DeviceRender *orv_device_render_create(int flag) {
    auto *rec = static_cast<DeviceRenderRecord *>(
        orv_device_alloc(sizeof(DeviceRenderRecord), ORV_TAG_FILE, kAllocLine));
    if (rec == nullptr) {
        orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_FAIL, "VRE: device render: malloc yuvlist fail");
        return nullptr;
    }
    rec->self = rec;
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
