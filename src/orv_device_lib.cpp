// Library entry: the two exports that bracket every use of the render
// library. Several players in one process each bracket their own use, so the
// runtime is counted: the first init chooses the log sink and starts it,
// later ones only count, and only the last uninit shuts it down (which writes
// the leak report and frees what is still tracked). A mutex of its own makes
// the count and the start-up and shut-down one step each; it cannot be the
// runtime's global lock, which those steps create and destroy: it sits
// before the whole lock order (docs/architecture.md).
#include <mutex>

#include "device_render.h"
#include "orv/orv_log.h"
#include "orv/orv_os.h"

namespace {

std::mutex g_entry_lock;
unsigned g_users = 0;

} // namespace

extern "C" {

ORV_API ResultCode DeviceRenderLibInit(int mode)
{
    std::lock_guard<std::mutex> hold(g_entry_lock);
    if (g_users > 0) {
        ++g_users;
        orv_trace("VRI: VR: DeviceRenderLibInit: runtime already started, users %u", g_users);
        return ORV_OK;
    }
    const LogSink sink = mode == 1 ? orv_log_android : orv_log_null_sink;
    const ResultCode result = orv_base_init(sink, 0, nullptr, nullptr);
    if (result == ORV_OK)
        g_users = 1;
    return result;
}

ORV_API ResultCode DeviceRenderLibUninit(void)
{
    std::lock_guard<std::mutex> hold(g_entry_lock);
    if (g_users == 0) {
        orv_log(LOG_TO_ANDROID | LOG_TO_DUMP, ORV_ERR_OBJ_UNINIT,
                "VRE: VR: DeviceRenderLibUninit without a matching init");
        return ORV_OK;
    }
    if (--g_users == 0)
        orv_base_uninit();
    return ORV_OK;
}

} // extern "C"
