/* The exported window format of a render module: which pixel format its
 * window buffers are asked for, and which one the last posted buffer had.
 * The request travels to the module's overlay, which takes it up at the next
 * frame boundary; both calls are lock-free reads and writes of its words. */
#include "orv/orv_log.h"
#include "orv_device_render.h"

AndroidOverlay *orv_device_module_overlay(RenderModule *module)
{
    // The chain below a module is built at creation and stays until destroy.
    auto *render = static_cast<DeviceRenderRecord *>(orv_record_of(orv_device_module_render(module)));
    return render != nullptr ? render->overlay : nullptr;
}

extern "C" ORV_API ResultCode DeviceRendModuleSetWindowFormat(RenderModule *module, int32_t format)
{
    AndroidOverlay *overlay = orv_device_module_overlay(module);
    if (overlay == nullptr) {
        orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_ERR_INVALID_PARAM,
                "VRE: VR: DeviceRendModuleSetWindowFormat without a module");
        return ORV_ERR_INVALID_PARAM;
    }
    return orv_device_overlay_set_window_format(overlay, format);
}

extern "C" ORV_API int32_t DeviceRendModuleGetWindowFormat(RenderModule *module)
{
    return orv_device_overlay_posted_format(orv_device_module_overlay(module));
}
