// The exported settings a player needs around the frames: redraw on a new
// window, and the frame-rate hint. Each is one atomic word of the module's
// overlay that the host writes without a lock; the render thread reads it at
// its next pass. Also the run-time lookup of ANativeWindow_setFrameRate, which
// the library cannot link (its minimum API level is 21, the call came in 30).
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "orv/orv_log.h"
#include "orv_device_render.h"

namespace {

constexpr unsigned kLogFlags = LOG_TO_ANDROID | LOG_TO_DUMP;
constexpr float kMaxFrameRate = 1000.0f;

OrvSetFrameRate g_set_frame_rate = nullptr;
std::once_flag g_looked_up;
std::atomic<int> g_hidden{0};

// In the library that gave us the window calls: libnativewindow (or
// libandroid, which re-exports it) on a device, the stand-in elsewhere.
OrvSetFrameRate look_up()
{
    constexpr const char *kName = "ANativeWindow_setFrameRate";
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&ANativeWindow_release), &info) != 0 && info.dli_fname != nullptr) {
        if (void *lib = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD)) {
            void *call = dlsym(lib, kName);
            dlclose(lib); // still loaded: the library links it
            if (call != nullptr)
                return reinterpret_cast<OrvSetFrameRate>(call);
        }
    }
#ifdef __ANDROID__
    for (const char *name : {"libnativewindow.so", "libandroid.so"}) {
        // Both are loaded in every app process; the handle is kept.
        if (void *lib = dlopen(name, RTLD_NOW))
            if (void *call = dlsym(lib, kName))
                return reinterpret_cast<OrvSetFrameRate>(call);
    }
#endif
    return nullptr;
}

} // namespace

OrvSetFrameRate orv_device_set_frame_rate_call(void)
{
    std::call_once(g_looked_up, [] { g_set_frame_rate = look_up(); });
    return g_hidden.load(std::memory_order_relaxed) ? nullptr : g_set_frame_rate;
}

void orv_device_hide_set_frame_rate(int hide)
{
    g_hidden.store(hide != 0, std::memory_order_relaxed);
}

extern "C" ORV_API ResultCode DeviceRendModuleSetRedrawOnAttach(RenderModule *module, int32_t on)
{
    constexpr const char *kWho = "DeviceRendModuleSetRedrawOnAttach";
    AndroidOverlayRecord *overlay = orv_device_module_overlay(module);
    if (overlay == nullptr)
        return orv_device_no_module(kWho);
    if (on != 0 && on != 1) {
        orv_log(kLogFlags, ORV_ERR_INVALID_PARAM, "VRE: VR: %s with %d (0 or 1)", kWho, on);
        return ORV_ERR_INVALID_PARAM;
    }
    __atomic_store_n(&overlay->redraw_wanted, on, __ATOMIC_RELAXED);
    return ORV_OK;
}

extern "C" ORV_API ResultCode DeviceRendModuleSetFrameRate(RenderModule *module, float fps)
{
    constexpr const char *kWho = "DeviceRendModuleSetFrameRate";
    AndroidOverlayRecord *overlay = orv_device_module_overlay(module);
    if (overlay == nullptr)
        return orv_device_no_module(kWho);
    // NaN fails both comparisons, so it is refused with the rest.
    if (!(fps >= 0.0f && fps <= kMaxFrameRate)) {
        orv_log(kLogFlags, ORV_ERR_INVALID_PARAM, "VRE: VR: %s with %f (0 to 1000)", kWho, double(fps));
        return ORV_ERR_INVALID_PARAM;
    }
    if (fps == 0.0f)
        fps = 0.0f; // -0 clears as 0 does
    uint32_t bits;
    std::memcpy(&bits, &fps, sizeof bits);
    __atomic_store_n(&overlay->rate_wanted, bits, __ATOMIC_RELAXED);
    return ORV_OK;
}
