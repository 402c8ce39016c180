/* The exported colour settings of a render module: matrix, range, chroma
 * step, sample format, and the transform (turn and flips) of the picture. They
 * travel down the module's chain to its blitter, which keeps them
 * in one atomic word and reads it once per frame, so the host thread changes
 * them without a lock while the render thread draws. */
#include "orv_device_blit.h"
#include "orv_device_render.h"

namespace {

DeviceBlitOps *blitter_of(RenderModule *module)
{
    AndroidOverlayRecord *overlay = orv_device_module_overlay(module);
    return overlay != nullptr ? overlay->blitter : nullptr;
}

} // namespace

extern "C" ORV_API ResultCode DeviceRendModuleSetColor(RenderModule *module, int matrix, int range)
{
    DeviceBlitOps *blit = blitter_of(module);
    if (blit == nullptr)
        return orv_device_no_module("DeviceRendModuleSetColor");
    return orv_device_blit_set_colour(blit, matrix, range);
}

extern "C" ORV_API ResultCode DeviceRendModuleSetChromaStep(RenderModule *module, int step)
{
    DeviceBlitOps *blit = blitter_of(module);
    if (blit == nullptr)
        return orv_device_no_module("DeviceRendModuleSetChromaStep");
    return orv_device_blit_set_chroma_step(blit, step);
}

extern "C" ORV_API ResultCode DeviceRendModuleSetTransform(RenderModule *module, int32_t transform)
{
    DeviceBlitOps *blit = blitter_of(module);
    if (blit == nullptr)
        return orv_device_no_module("DeviceRendModuleSetTransform");
    return orv_device_blit_set_transform(blit, transform);
}

extern "C" ORV_API ResultCode DeviceRendModuleSetSampleFormat(RenderModule *module, int32_t samples)
{
    DeviceBlitOps *blit = blitter_of(module);
    if (blit == nullptr)
        return orv_device_no_module("DeviceRendModuleSetSampleFormat");
    return orv_device_blit_set_samples(blit, samples);
}
