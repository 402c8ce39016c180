/* A host built against the installed library only. */
#include <device_render.h>
#include <stdio.h>

int main(void)
{
    if (DeviceRenderLibInit(0) != ORV_OK)
        return 1;
    RenderModule *module = CreateDeviceRendModule(0);
    if (!module || module->destroy(module) != ORV_OK)
        return 2;
    puts(DeviceRenderLibUninit() == ORV_OK ? "consumer: ok" : "consumer: uninit failed");
    return 0;
}
