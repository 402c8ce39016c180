// Library entry: the two exports that bracket every use of the render
// library. They choose the log sink and run the runtime start-up and
// shut-down; they own no state of their own and take no lock (the host calls
// them from one thread, before and after everything else).
#include "device_render.h"
#include "orv/orv_os.h"

extern "C" {

ORV_API ResultCode DeviceRenderLibInit(int mode) {
    const LogSink sink = mode == 1 ? orv_log_android : orv_log_null_sink;
    return orv_base_init(sink, 0, nullptr, nullptr);
}

ORV_API ResultCode DeviceRenderLibUninit(void) {
    orv_base_uninit();
    return ORV_OK;
}

}  // extern "C"
