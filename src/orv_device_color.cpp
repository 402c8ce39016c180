/* The exported colour settings of a render module: matrix, range and chroma
 * step. They travel down the module's chain to its blitter, which keeps them
 * in one atomic word and reads it once per frame, so the host thread changes
 * them without a lock while the render thread draws. */
#include "orv/orv_log.h"
#include "orv_device_blit.h"
#include "orv_device_render.h"

namespace {

// The chain below a module is built at creation and stays until destroy.
DeviceBlitOps *blitter_of(RenderModule *module)
{
    auto *render = static_cast<DeviceRenderRecord *>(orv_record_of(orv_device_module_render(module)));
    if (render == nullptr)
        return nullptr;
    auto *overlay = static_cast<AndroidOverlayRecord *>(orv_record_of(render->overlay));
    return overlay != nullptr ? overlay->blitter : nullptr;
}

ResultCode no_module(const char *who)
{
    orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_ERR_INVALID_PARAM, "VRE: VR: %s without a module", who);
    return ORV_ERR_INVALID_PARAM;
}

} // namespace

extern "C" ORV_API ResultCode DeviceRendModuleSetColor(RenderModule *module, int matrix, int range)
{
    DeviceBlitOps *blit = blitter_of(module);
    if (blit == nullptr)
        return no_module("DeviceRendModuleSetColor");
    return orv_device_blit_set_colour(blit, matrix, range);
}

extern "C" ORV_API ResultCode DeviceRendModuleSetChromaStep(RenderModule *module, int step)
{
    DeviceBlitOps *blit = blitter_of(module);
    if (blit == nullptr)
        return no_module("DeviceRendModuleSetChromaStep");
    return orv_device_blit_set_chroma_step(blit, step);
}
