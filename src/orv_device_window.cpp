/* The exported window format of a render module: which pixel format its
 * window buffers are asked for, and which one the last posted buffer had.
 * The request travels to the module's overlay, which takes it up at the next
 * frame boundary; both calls are lock-free reads and writes of its words. */
#include "orv_device_render.h"

extern "C" ORV_API ResultCode DeviceRendModuleSetWindowFormat(RenderModule *module, int32_t format)
{
    AndroidOverlayRecord *overlay = orv_device_module_overlay(module);
    if (overlay == nullptr)
        return orv_device_no_module("DeviceRendModuleSetWindowFormat");
    return orv_device_overlay_set_window_format(&overlay->ops, format);
}

extern "C" ORV_API int32_t DeviceRendModuleGetWindowFormat(RenderModule *module)
{
    AndroidOverlayRecord *overlay = orv_device_module_overlay(module);
    return overlay != nullptr ? orv_device_overlay_window_format(&overlay->ops) : 0;
}
